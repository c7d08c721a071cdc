// CommonFolderSync: a fresh temporary folder, MD5 sidecar files and the
// synchronisation of a target folder from a folder of new files.
//
// A writer produces a complete set of files with sidecars in a temporary
// folder; folder_sync then copies into the target only the files whose
// digests differ, so readers of the target see unchanged files untouched.
// Results live in the caller's pool; folder_sync uses a pool of its own.
// Re-entrant; logs on the "Common" logger.
#pragma once

#include <apr_file_io.h>
#include <apr_hash.h>
#include <apr_md5.h>
#include <apr_pools.h>

// Length of a digest in a sidecar: 32 hexadecimal digits.
inline constexpr int MD5_SIDECAR_DIGITS = 32;

// Creates a new folder <system temp>/Zentoria-<6 random characters>/,
// readable by the user only, and returns it, trailing '/' included, in pool.
// Null (after ERROR "could not create dir %s") when the system temporary
// folder is unknown or no new folder can be made there.
char *temp_folder_create(apr_pool_t *pool);

// Closes file, then (for a non-zero entry count) finishes md5 (which has
// been fed exactly the bytes written to file) and writes path + ".md5"
// holding "<32 lower-case digits> *<file name>\n". With no entries no sidecar is
// written (INFO "not creating md5 for empty file file %s").
// Returns 0, or the failing APR status after ERROR "could not close file %s",
// "could not finalize md5 for file %s", "could not create md5 file %s" or
// "could not close md5 file %s".
int md5_sidecar_write(apr_pool_t *pool, apr_file_t *file, const char *path, apr_md5_ctx_t *md5, int entries);

// Reads the first 32 bytes of the sidecar at path into *digest (in pool).
// Returns 0; the APR status after ERROR "could not open file %s"; or 20014
// with *digest null after ERROR "could not read 32 bytes from file %s". A
// failing close only logs WARN "could not close file %s".
int md5_sidecar_read(apr_pool_t *pool, const char *path, char **digest);

// *files: a hash (in pool) whose keys are the names of the regular files of
// the folder at path; sub-folders, links and other entries are left out.
// Returns 0, or the APR status after ERROR "could not open dir %s" or
// "could not close dir %s".
int folder_list_files(apr_pool_t *pool, const char *path, apr_hash_t **files);

// Brings target in step with source. Only the target's own playlists are
// replaced or deleted: a ".pls" whose ".md5" sidecar holds the digest of its
// present bytes, as md5_sidecar_write made it. Copies (with the source's
// permissions) each source file that has a sidecar and whose digest differs
// from the target's own playlist of that name, followed by its sidecar;
// deletes the own playlists, with their sidecars, that source lacks. A
// ".pls" that is not its own stays and is never overwritten, with WARN "%s
// is not a playlist written here - leaving it in dir"; any other file that
// source lacks stays, with WARN "%s is not a playlist file - leaving it in
// dir". Sub-folders are never touched.
// Returns 0, or the first failing status after ERROR "could not read dir %s",
// "could not delete file %s" or "could not copy file %s to file %s"; the
// files handled before the failure keep their new state.
int folder_sync(const char *source, const char *target);

// Deletes the regular files of path, removes its sub-folders whose names do
// not start with '.' recursively, then the folder itself. pool may be null.
// Returns 0, or the first failing APR status (which stops the removal) after
// ERROR "could not open dir %s", "could not delete file %s", "could not
// remove dir (recursive) %s", "could not close dir %s" or "could not remove
// dir %s".
int folder_remove(apr_pool_t *pool, const char *path);
