// PlatformFolderEntry: folders opened by a descriptor and listed, and the
// status of an entry looked up by its name within its open folder. Asking
// by full path makes the system walk every component of the path again for
// each entry and folder, which in deep trees costs more than the status
// itself; listing a descriptor reads the entries and takes no status of
// the folder itself. Stateless and thread-safe.
#pragma once

#include <apr_file_info.h>

#include <functional>

// The descriptor that stands for the working folder (a path is opened
// from it as given).
inline constexpr int PLATFORM_FOLDER_HERE = -100;

// The folder at path, relative to the open folder at (or as given, for
// PLATFORM_FOLDER_HERE), opened for listing, links followed as a path's
// open follows them. -1 when it cannot be opened or is no folder.
int platform_folder_open(int at, const char *path);

// Gives take the name of each entry of the open folder fd but "." and "..",
// in the order the folder gives them, until take returns false or the
// entries end (or cannot be read further).
void platform_folder_list(int fd, const std::function<bool(const char *)> &take);

void platform_folder_close(int fd);

// Fills info's type, size, modification time, inode and device for the
// entry name of the open folder fd, describing a link rather than what it
// points to; valid holds those bits and APR_FINFO_LINK. False, with valid
// 0, when the entry cannot be read (it vanished, or the folder denies it).
bool platform_folder_entry_status_at(int fd, const char *name, apr_finfo_t *info);

// The same for an entry of the folder APR opened as dir.
bool platform_folder_entry_status(apr_dir_t *dir, const char *name, apr_finfo_t *info);
