// CommonFiles: questions about files and folders, lock files, drive roots,
// safe storage names and small whole-file reads.
//
// Helpers without a pool argument use a short-lived pool of their own. The
// lock file handle lives in the pool passed to lock_file_acquire. All
// helpers are re-entrant; logs on the "Common" logger.
#pragma once

#include <apr_file_io.h>
#include <apr_hash.h>
#include <apr_pools.h>
#include <apr_time.h>

#include <cstddef>

// 1 when path can be opened for reading (ERROR "Unable to close file (%s),
// reason: %s" when the close fails), else 0.
int file_exists(const char *path);
// For a regular file stores its size and modification time and returns 0.
// Returns 20008 (APR_ENODIR) after WARN "%s is not a regular file (maybe it
// is a folder)" for anything else, 20014 (no message) when it cannot be
// queried.
int file_stat(const char *path, apr_off_t *size, apr_time_t *mtime);
// Size of a regular file, else 0.
apr_off_t file_size(const char *path);
// Size of a file or the sum of the regular files of a folder (sub-folders
// too when recursive). ERROR "%s is neither a file nor a folder", "Could not
// open folder %s" or "Could not close folder %s" count 0.
apr_off_t path_size(const char *path, int recursive);
// The drive letter of path when it starts with a letter and ':', else that
// of the current folder; 0 after ERROR "Could not get default path" or
// "Default path has no drive letter" (always so on POSIX for relative paths).
char path_drive_letter(const char *path);

// Creates or truncates path, readable and writable by its owner only (so
// that no other user can open it to hold the lock), and takes an exclusive
// non-blocking lock on it; while another process, or another acquire in this
// one, holds the lock it fails at once. Returns 0 and the open file
// in *file; else the APR status after ERROR "Unable to create and/or
// truncate file (%s), reason: %s" or "Unable to lock file (%s), reason: %s".
int lock_file_acquire(apr_pool_t *pool, const char *path, apr_file_t **file);
// Unlocks and closes; returns 0 or the first failing APR status after ERROR
// "Unable to unlock file, reason: %s" / "Unable to close file, reason: %s".
int lock_file_release(apr_file_t *file);

// The logical drive roots in path_canonical form into *drives (array of
// *count texts in pool). Returns 0, or 20014 when the roots cannot be read or
// after ERROR "too many items - should never happen" (more than 100).
int drive_list(apr_pool_t *pool, int *count, const char ***drives);

// A file path of at most 206 characters for storing what name identifies:
// folder (with '/' added), name with "*/:<>?\| replaced by '_', suffix.
// An overlong name is cut from the front and prefixed with its MD5. Null
// (after the internal-error text) when folder plus suffix exceed 205
// characters, or when a name that must be cut leaves no room for the MD5.
// folder and suffix may be null.
char *safe_file_name(apr_pool_t *pool, const char *name, const char *folder, const char *suffix);

// Parses "k=v&k2=v2" (XML-unescaped first) into hash: keys in path_canonical
// form, values copied ("" when a pair has no '='), all in pool. Returns 0, or
// 20014 after ERROR "illegal property structure: '%s' in '%s'".
int property_string_parse(apr_pool_t *pool, const char *text, apr_hash_t *hash);

// Reads up to *size bytes from the start of path into buffer and stores the
// count read in *size. Returns 0 (also for a short file), or the APR status
// after ERROR "Unable to open file (%s) for reading, reason: %s", "Could not
// read file %s" or "Could not close file %s".
int file_read_all(const char *path, char *buffer, std::size_t *size);
