// PlatformFileLock: an exclusive, non-blocking lock on a whole open file that
// belongs to the open file, as a Windows file lock belongs to its handle.
//
// On Linux these are open-file-description locks: a second open of the same
// file fails to lock it, in this process as in any other, and closing another
// descriptor of the file does not drop the lock. Thread-safe.
#pragma once

#include <apr_file_io.h>

// Takes the lock at once or fails: 0, or the APR status (EAGAIN when another
// open of the file holds it).
apr_status_t platform_file_lock(apr_file_t *file);
// Waits until the lock is free and takes it: 0, or the APR status.
apr_status_t platform_file_lock_wait(apr_file_t *file);
// Releases the lock: 0 or the APR status.
apr_status_t platform_file_unlock(apr_file_t *file);
