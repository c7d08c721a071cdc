// The temporary folder, MD5 sidecars and folder synchronisation. A sidecar
// is read back only for its first 32 bytes; after the digest it names the
// file beside it, as md5sum does, so that "md5sum -c" checks it wherever the
// folder is, and a sidecar copied to another folder stays true.
#include "CommonFolderSync.h"

#include <apr_strings.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "Common.h"
#include "CommonPath.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kSidecarSuffix = ".md5";
constexpr std::string_view kPlaylistSuffix = ".pls";
constexpr apr_size_t kDigestChunk = 64 * 1024;

void log_path(int level, const char *format, const char *path) {
  LOG4C(COMMON_MODULE, level, log4c_sprintf(format, path));
}

bool ends_with_ignoring_case(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() &&
         strncasecmp(name.data() + name.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}

bool is_sidecar(const char *name) {
  const char *extension = path_extension(name, 0);
  return extension != nullptr && strcasecmp(extension, "md5") == 0;
}

void digest_to_hex(const unsigned char digest[APR_MD5_DIGESTSIZE], char out[MD5_SIDECAR_DIGITS + 1]) {
  constexpr const char *kDigits = "0123456789abcdef";
  for (int i = 0; i < APR_MD5_DIGESTSIZE; ++i) {
    out[2 * i] = kDigits[digest[i] >> 4];
    out[2 * i + 1] = kDigits[digest[i] & 0x0f];
  }
  out[MD5_SIDECAR_DIGITS] = '\0';
}

// The digest of the file at path as 32 lower-case digits; false when it
// cannot be read.
bool file_digest(apr_pool_t *pool, const char *path, char out[MD5_SIDECAR_DIGITS + 1]) {
  apr_file_t *file = nullptr;
  if (apr_file_open(&file, path, APR_FOPEN_READ | APR_FOPEN_BINARY, APR_OS_DEFAULT, pool) != APR_SUCCESS) return false;
  apr_md5_ctx_t md5;
  apr_md5_init(&md5);
  auto *chunk = static_cast<char *>(apr_palloc(pool, kDigestChunk));
  apr_status_t status = APR_SUCCESS;
  while (status == APR_SUCCESS) {
    apr_size_t length = kDigestChunk;
    status = apr_file_read(file, chunk, &length);
    if (status == APR_SUCCESS) apr_md5_update(&md5, chunk, length);
  }
  apr_file_close(file);
  if (status != APR_EOF) return false;
  unsigned char digest[APR_MD5_DIGESTSIZE];
  apr_md5_final(digest, &md5);
  digest_to_hex(digest, out);
  return true;
}

int write_sidecar(apr_pool_t *pool, const char *path, apr_md5_ctx_t *md5) {
  unsigned char digest[APR_MD5_DIGESTSIZE];
  apr_status_t status = apr_md5_final(digest, md5);
  if (status != APR_SUCCESS) {
    log_path(LOG4C_ERROR, "could not finalize md5 for file %s", path);
    return status;
  }
  char hex[MD5_SIDECAR_DIGITS + 1];
  digest_to_hex(digest, hex);
  const char *sidecar = apr_pstrcat(pool, path, kSidecarSuffix, nullptr);
  apr_file_t *file = nullptr;
  status = apr_file_open(&file, sidecar, APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_TRUNCATE | APR_FOPEN_BINARY,
                         APR_OS_DEFAULT, pool);
  if (status == APR_SUCCESS) {
    status = apr_file_printf(file, "%s *%s\n", hex, path_last_component(path)) < 0 ? APR_EGENERAL : APR_SUCCESS;
    if (status != APR_SUCCESS) apr_file_close(file);
  }
  if (status != APR_SUCCESS) {
    log_path(LOG4C_ERROR, "could not create md5 file %s", sidecar);
    return status;
  }
  status = apr_file_close(file);
  if (status != APR_SUCCESS) log_path(LOG4C_ERROR, "could not close md5 file %s", sidecar);
  return status;
}

// The digest the sidecar of the playlist at path records, when the playlist
// is one this writer made: a ".pls" whose sidecar holds the digest of its
// bytes as they are. Anything else is the user's (or was changed by the
// user) and is never replaced or deleted.
const char *own_playlist_digest(apr_pool_t *pool, const char *name, const char *path) {
  if (!ends_with_ignoring_case(name, kPlaylistSuffix)) return nullptr;
  const char *sidecar = apr_pstrcat(pool, path, kSidecarSuffix, nullptr);
  apr_finfo_t info;
  if (apr_stat(&info, sidecar, APR_FINFO_TYPE, pool) != APR_SUCCESS || info.filetype != APR_REG) return nullptr;
  char *recorded = nullptr;
  char actual[MD5_SIDECAR_DIGITS + 1];
  if (md5_sidecar_read(pool, sidecar, &recorded) != APR_SUCCESS || !file_digest(pool, path, actual) ||
      strcasecmp(recorded, actual) != 0) {
    return nullptr;
  }
  return recorded;
}

void leave_foreign(const char *name, const char *path) {
  log_path(LOG4C_WARN,
           ends_with_ignoring_case(name, kPlaylistSuffix) ? "%s is not a playlist written here - leaving it in dir"
                                                          : "%s is not a playlist file - leaving it in dir",
           path);
}

// Deletes the target's own playlists that the source lacks, with their
// sidecars, and records the digests of the own playlists the source also
// has (by name) in old_digests; a target playlist of the source's name that
// is not its own goes to foreign, so that it is not overwritten. Every
// other file stays, with a warning.
int sync_old_files(apr_pool_t *pool, const char *target, apr_hash_t *source_files, apr_hash_t *target_files,
                   apr_hash_t *old_digests, apr_hash_t *foreign) {
  for (apr_hash_index_t *i = apr_hash_first(pool, target_files); i != nullptr; i = apr_hash_next(i)) {
    const char *name = static_cast<const char *>(apr_hash_this_key(i));
    const char *path = path_join(pool, target, nullptr, name);
    const bool in_source = apr_hash_get(source_files, name, APR_HASH_KEY_STRING) != nullptr;
    if (is_sidecar(name)) {
      // A sidecar goes with its playlist; one without an own playlist is left.
      const char *playlist = apr_pstrndup(pool, name, std::strlen(name) - std::strlen(kSidecarSuffix));
      const bool has_playlist = apr_hash_get(target_files, playlist, APR_HASH_KEY_STRING) != nullptr;
      if (!has_playlist || own_playlist_digest(pool, playlist, path_join(pool, target, nullptr, playlist)) == nullptr) {
        if (!in_source) leave_foreign(name, path);
      }
      continue;
    }
    const char *digest = own_playlist_digest(pool, name, path);
    if (digest == nullptr) {
      leave_foreign(name, path);
      if (in_source) apr_hash_set(foreign, name, APR_HASH_KEY_STRING, "");
      continue;
    }
    if (in_source) {
      apr_hash_set(old_digests, name, APR_HASH_KEY_STRING, digest);
      continue;
    }
    for (const char *doomed : {path, static_cast<const char *>(apr_pstrcat(pool, path, kSidecarSuffix, nullptr))}) {
      apr_status_t status = apr_file_remove(doomed, pool);
      if (status != APR_SUCCESS) {
        log_path(LOG4C_ERROR, "could not delete file %s", doomed);
        return status;
      }
    }
  }
  return APR_SUCCESS;
}

int copy_file(apr_pool_t *pool, const char *from, const char *to) {
  apr_status_t status = apr_file_copy(from, to, APR_FPROT_FILE_SOURCE_PERMS, pool);
  if (status != APR_SUCCESS) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, log4c_sprintf("could not copy file %s to file %s", from, to));
  }
  return status;
}

// Copies each source file whose digest is new or differs, then its sidecar,
// except over a target file that is not the writer's own.
int sync_new_files(apr_pool_t *pool, const char *source, const char *target, apr_hash_t *source_files,
                   apr_hash_t *old_digests, apr_hash_t *foreign) {
  for (apr_hash_index_t *i = apr_hash_first(pool, source_files); i != nullptr; i = apr_hash_next(i)) {
    const char *name = static_cast<const char *>(apr_hash_this_key(i));
    if (is_sidecar(name) || apr_hash_get(foreign, name, APR_HASH_KEY_STRING) != nullptr) continue;
    const char *from = path_join(pool, source, nullptr, name);
    const char *from_sidecar = apr_pstrcat(pool, from, kSidecarSuffix, nullptr);
    char *digest = nullptr;
    if (md5_sidecar_read(pool, from_sidecar, &digest) != APR_SUCCESS) {
      log_path(LOG4C_WARN, "mo md5 file for %s - ignoring file (not copying)", from);
      continue;
    }
    const char *old = static_cast<const char *>(apr_hash_get(old_digests, name, APR_HASH_KEY_STRING));
    if (old != nullptr && strcasecmp(old, digest) == 0) continue;
    const char *to = path_join(pool, target, nullptr, name);
    apr_status_t status = copy_file(pool, from, to);
    if (status == APR_SUCCESS) status = copy_file(pool, from_sidecar, apr_pstrcat(pool, to, kSidecarSuffix, nullptr));
    if (status != APR_SUCCESS) return status;
  }
  return APR_SUCCESS;
}

int remove_entry(apr_pool_t *pool, const char *path, const apr_finfo_t &entry) {
  const char *child = path_join(pool, path, nullptr, entry.name);
  if (entry.filetype == APR_DIR) {
    if (entry.name[0] == '.') return APR_SUCCESS;
    apr_status_t status = folder_remove(pool, child);
    if (status != APR_SUCCESS) log_path(LOG4C_ERROR, "could not remove dir (recursive) %s", child);
    return status;
  }
  if (entry.filetype != APR_REG) return APR_SUCCESS;
  apr_status_t status = apr_file_remove(child, pool);
  if (status != APR_SUCCESS) log_path(LOG4C_ERROR, "could not delete file %s", child);
  return status;
}

// Calls visit on each entry of the folder until one fails. Returns the first
// failing status: visit's, or opening or closing the folder's (logged).
template <typename Visit>
apr_status_t for_each_entry(apr_pool_t *pool, const char *path, Visit visit) {
  apr_dir_t *dir = nullptr;
  apr_status_t status = apr_dir_open(&dir, path, pool);
  if (status != APR_SUCCESS) {
    log_path(LOG4C_ERROR, "could not open dir %s", path);
    return status;
  }
  apr_finfo_t entry;
  while (status == APR_SUCCESS && apr_dir_read(&entry, APR_FINFO_TYPE | APR_FINFO_NAME, dir) == APR_SUCCESS)
    status = visit(entry);
  apr_status_t closed = apr_dir_close(dir);
  if (closed != APR_SUCCESS) log_path(LOG4C_ERROR, "could not close dir %s", path);
  return status != APR_SUCCESS ? status : closed;
}

}  // namespace

char *temp_folder_create(apr_pool_t *pool) {
  const char *system_temp = nullptr;
  if (apr_temp_dir_get(&system_temp, pool) != APR_SUCCESS) return nullptr;
  // mkdtemp makes a new folder of a unique name, private to the user, or
  // fails: nothing another user planted under the temporary folder (a link,
  // a folder of a guessed name) can receive the files.
  char *folder = path_join(pool, system_temp, nullptr, "Zentoria-XXXXXX");
  if (folder == nullptr || mkdtemp(folder) == nullptr) {
    log_path(LOG4C_ERROR, "could not create dir %s", folder);
    return nullptr;
  }
  return apr_pstrcat(pool, folder, "/", nullptr);
}

int md5_sidecar_write(apr_pool_t *pool, apr_file_t *file, const char *path, apr_md5_ctx_t *md5, int entries) {
  apr_status_t status = apr_file_close(file);
  if (status != APR_SUCCESS) {
    log_path(LOG4C_ERROR, "could not close file %s", path);
    return status;
  }
  if (entries == 0) {
    log_path(LOG4C_INFO, "not creating md5 for empty file file %s", path);
    return APR_SUCCESS;
  }
  return write_sidecar(pool, path, md5);
}

int md5_sidecar_read(apr_pool_t *pool, const char *path, char **digest) {
  *digest = nullptr;
  apr_file_t *file = nullptr;
  apr_status_t status = apr_file_open(&file, path, APR_FOPEN_READ | APR_FOPEN_BINARY, APR_OS_DEFAULT, pool);
  if (status != APR_SUCCESS) {
    log_path(LOG4C_ERROR, "could not open file %s", path);
    return status;
  }
  char *buffer = static_cast<char *>(apr_pcalloc(pool, MD5_SIDECAR_DIGITS + 1));
  apr_size_t read = 0;
  apr_file_read_full(file, buffer, MD5_SIDECAR_DIGITS, &read);
  if (apr_file_close(file) != APR_SUCCESS) log_path(LOG4C_WARN, "could not close file %s", path);
  if (read < static_cast<apr_size_t>(MD5_SIDECAR_DIGITS)) {
    log_path(LOG4C_ERROR, "could not read 32 bytes from file %s", path);
    return APR_EGENERAL;
  }
  *digest = buffer;
  return APR_SUCCESS;
}

int folder_list_files(apr_pool_t *pool, const char *path, apr_hash_t **files) {
  apr_hash_t *found = apr_hash_make(pool);
  *files = found;
  return for_each_entry(pool, path, [pool, found](const apr_finfo_t &entry) {
    if (entry.filetype == APR_REG) apr_hash_set(found, apr_pstrdup(pool, entry.name), APR_HASH_KEY_STRING, "");
    return APR_SUCCESS;
  });
}

int folder_sync(const char *source, const char *target) {
  Pool pool(nullptr, COMMON_MODULE);
  apr_hash_t *source_files = nullptr;
  apr_hash_t *target_files = nullptr;
  for (auto [folder, files] : {std::pair{source, &source_files}, std::pair{target, &target_files}}) {
    apr_status_t status = folder_list_files(pool, folder, files);
    if (status != APR_SUCCESS) {
      log_path(LOG4C_ERROR, "could not read dir %s", folder);
      return status;
    }
  }
  apr_hash_t *old_digests = apr_hash_make(pool);
  apr_hash_t *foreign = apr_hash_make(pool);
  apr_status_t status = sync_old_files(pool, target, source_files, target_files, old_digests, foreign);
  if (status != APR_SUCCESS) return status;
  return sync_new_files(pool, source, target, source_files, old_digests, foreign);
}

int folder_remove(apr_pool_t *parent, const char *path) {
  Pool pool(parent, COMMON_MODULE);
  apr_status_t status =
      for_each_entry(pool, path, [&pool, path](const apr_finfo_t &entry) { return remove_entry(pool, path, entry); });
  if (status != APR_SUCCESS) return status;
  status = apr_dir_remove(path, pool);
  if (status != APR_SUCCESS) log_path(LOG4C_ERROR, "could not remove dir %s", path);
  return status;
}
