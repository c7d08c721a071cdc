// PlatformFolderEntry: the status of an entry of an open folder, looked up
// by its name within that folder. Asking by full path makes the system walk
// every component of the path again for each entry, which in deep trees
// costs more than the status itself. Stateless and thread-safe.
#pragma once

#include <apr_file_info.h>

// Fills info's type, size, modification time, inode and device for the
// entry name of dir, describing a link rather than what it points to; valid
// holds those bits and APR_FINFO_LINK. False, with valid 0, when the entry
// cannot be read (it vanished, or the folder denies it).
bool platform_folder_entry_status(apr_dir_t *dir, const char *name, apr_finfo_t *info);
