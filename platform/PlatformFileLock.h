// PlatformFileLock: an exclusive, non-blocking lock on a whole open file that
// belongs to the open file, as a Windows file lock belongs to its handle, and
// the owner-only lock files that hold such locks.
//
// On Linux these are open-file-description locks: a second open of the same
// file fails to lock it, in this process as in any other, and closing another
// descriptor of the file does not drop the lock. A lock file that other users
// could open would let them take a lock and stall every run, so lock files
// are made readable and writable by their owner only. Thread-safe.
#pragma once

#include <apr_file_io.h>
#include <apr_time.h>

// Takes the lock at once or fails: 0, or the APR status (EAGAIN when another
// open of the file holds it).
apr_status_t platform_file_lock(apr_file_t *file);
// Waits up to limit for the lock to be free and takes it: 0, EAGAIN when
// another open of the file still holds it after limit, or the APR status.
apr_status_t platform_file_lock_wait(apr_file_t *file, apr_interval_time_t limit);
// Releases the lock: 0 or the APR status.
apr_status_t platform_file_unlock(apr_file_t *file);

// Creates the file at path when it is missing and makes it readable and
// writable by its owner only (a file of another owner keeps its mode): 0, or
// the errno of the failing open or chmod. A symbolic link is not followed.
apr_status_t platform_file_make_private(const char *path);
