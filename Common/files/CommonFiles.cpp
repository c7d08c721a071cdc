#include "CommonFiles.h"

#include <apr_file_info.h>
#include <apr_lib.h>
#include <apr_strings.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Common.h"
#include "CommonEscape.h"
#include "CommonPath.h"
#include "CommonUserMessage.h"
#include "CommonUtf8.h"
#include "PlatformDrives.h"
#include "PlatformFileLock.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {
constexpr std::size_t kDriveBufferSize = 2047;
constexpr int kMaxDrives = 100;
constexpr std::size_t kMaxSafePath = 206;
constexpr const char *kUnsafeNameChars = "\"*/:<>?\\|";

char *error_text(apr_pool_t *pool, apr_status_t status) {
  char buffer[256];
  return apr_pstrdup(pool, apr_strerror(status, buffer, sizeof buffer));
}

void log_status(const char *format, const char *path, apr_status_t status, apr_pool_t *pool) {
  LOG4C(COMMON_MODULE, LOG4C_ERROR, log4c_sprintf(format, path, error_text(pool, status)));
}

apr_off_t folder_size(const char *path, int recursive, apr_pool_t *pool) {
  apr_dir_t *dir = nullptr;
  if (apr_dir_open(&dir, path, pool) != APR_SUCCESS) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, log4c_sprintf("Could not open folder %s", path));
    return 0;
  }
  apr_off_t total = 0;
  apr_finfo_t entry;
  while (apr_dir_read(&entry, APR_FINFO_TYPE | APR_FINFO_SIZE | APR_FINFO_NAME, dir) ==
         APR_SUCCESS) {
    if (entry.filetype == APR_REG) {
      total += entry.size;
    } else if (recursive && entry.filetype == APR_DIR && std::strcmp(entry.name, ".") != 0 &&
               std::strcmp(entry.name, "..") != 0) {
      total += path_size(apr_pstrcat(pool, path, "/", entry.name, nullptr), recursive);
    }
  }
  if (apr_dir_close(dir) != APR_SUCCESS)
    LOG4C(COMMON_MODULE, LOG4C_ERROR, log4c_sprintf("Could not close folder %s", path));
  return total;
}

// The name part of safe_file_name for room characters: unsafe characters
// replaced and, for a longer name, its MD5 before the tail that fits; null
// when not even the MD5 fits.
char *safe_name_part(apr_pool_t *pool, const char *name, std::size_t room, const char *md5) {
  std::size_t length = std::strlen(name);
  if (length > room && room < 32) return nullptr;
  char *part = length <= room ? apr_pstrdup(pool, name)
                              : apr_pstrcat(pool, md5, name + length - (room - 32), nullptr);
  for (char *p = part; *p != '\0'; ++p)
    if (std::strchr(kUnsafeNameChars, *p) != nullptr) *p = '_';
  return part;
}
}  // namespace

// Called for every new file a scan meets: the descriptor alone, without the
// short-lived pool and file object of an APR open.
int file_exists(const char *path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  if (close(fd) != 0) {
    const apr_status_t status = APR_FROM_OS_ERROR(errno);
    Pool pool(nullptr);
    log_status("Unable to close file (%s), reason: %s", path, status, pool);
  }
  return 1;
}

int file_stat(const char *path, apr_off_t *size, apr_time_t *mtime) {
  Pool pool(nullptr);
  apr_finfo_t info;
  apr_status_t status =
      apr_stat(&info, path, APR_FINFO_TYPE | APR_FINFO_SIZE | APR_FINFO_MTIME, pool);
  if (status != APR_SUCCESS) return APR_EGENERAL;
  if (info.filetype != APR_REG) {
    LOG4C(COMMON_MODULE, LOG4C_WARN,
          log4c_sprintf("%s is not a regular file (maybe it is a folder)", path));
    return APR_ENODIR;
  }
  *size = info.size;
  *mtime = info.mtime;
  return APR_SUCCESS;
}

apr_off_t file_size(const char *path) {
  apr_off_t size = 0;
  apr_time_t mtime;
  return file_stat(path, &size, &mtime) == APR_SUCCESS ? size : 0;
}

apr_off_t path_size(const char *path, int recursive) {
  Pool pool(nullptr);
  apr_finfo_t info;
  if (apr_stat(&info, path, APR_FINFO_TYPE | APR_FINFO_SIZE, pool) == APR_SUCCESS) {
    if (info.filetype == APR_REG) return info.size;
    if (info.filetype == APR_DIR) return folder_size(path, recursive, pool);
  }
  LOG4C(COMMON_MODULE, LOG4C_ERROR, log4c_sprintf("%s is neither a file nor a folder", path));
  return 0;
}

char path_drive_letter(const char *path) {
  if (path != nullptr && apr_isalpha(path[0]) && path[1] == ':') return path[0];
  Pool pool(nullptr);
  char *current = nullptr;
  if (apr_filepath_get(&current, APR_FILEPATH_NATIVE, pool) != APR_SUCCESS) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not get default path");
    return 0;
  }
  if (!apr_isalpha(current[0]) || current[1] != ':') {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, "Default path has no drive letter");
    return 0;
  }
  return current[0];
}

int lock_file_acquire(apr_pool_t *pool, const char *path, apr_file_t **file) {
  apr_file_t *opened = nullptr;
  platform_file_make_private(path);
  apr_status_t status = apr_file_open(
      &opened, path, APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_TRUNCATE | APR_FOPEN_BINARY,
      APR_FPROT_UREAD | APR_FPROT_UWRITE, pool);
  if (status != APR_SUCCESS) {
    log_status("Unable to create and/or truncate file (%s), reason: %s", path, status, pool);
    return status;
  }
  status = platform_file_lock(opened);
  if (status != APR_SUCCESS) {
    log_status("Unable to lock file (%s), reason: %s", path, status, pool);
    apr_status_t closed = apr_file_close(opened);
    if (closed != APR_SUCCESS)
      log_status("Unable to close file (%s), reason: %s", path, closed, pool);
    return status;
  }
  *file = opened;
  return APR_SUCCESS;
}

int lock_file_release(apr_file_t *file) {
  Pool pool(nullptr);
  apr_status_t result = platform_file_unlock(file);
  if (result != APR_SUCCESS)
    LOG4C(COMMON_MODULE, LOG4C_ERROR,
          log4c_sprintf("Unable to unlock file, reason: %s", error_text(pool, result)));
  apr_status_t status = apr_file_close(file);
  if (status != APR_SUCCESS) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR,
          log4c_sprintf("Unable to close file, reason: %s", error_text(pool, status)));
    if (result == APR_SUCCESS) result = status;
  }
  return result;
}

int drive_list(apr_pool_t *pool, int *count, const char ***drives) {
  char buffer[kDriveBufferSize + 1];
  std::size_t length = platform_logical_drives(buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return APR_EGENERAL;
  auto **list = static_cast<const char **>(apr_pcalloc(pool, sizeof(char *) * kMaxDrives));
  int found = 0;
  for (const char *root = buffer; *root != '\0'; root += std::strlen(root) + 1) {
    if (found == kMaxDrives) {
      LOG4C(COMMON_MODULE, LOG4C_ERROR, "too many items - should never happen");
      return APR_EGENERAL;
    }
    list[found++] = path_canonical(pool, root);
  }
  *count = found;
  *drives = list;
  return APR_SUCCESS;
}

char *safe_file_name(apr_pool_t *pool, const char *name, const char *folder, const char *suffix) {
  const char *prefix = folder != nullptr ? folder : "";
  std::size_t prefix_length = std::strlen(prefix);
  if (prefix_length > 0 && prefix[prefix_length - 1] != '/' && prefix[prefix_length - 1] != '\\')
    prefix = apr_pstrcat(pool, prefix, "/", nullptr);
  const char *tail = suffix != nullptr ? suffix : "";
  std::size_t fixed = std::strlen(prefix) + std::strlen(tail);
  if (name == nullptr) name = "";
  char md5[33];
  common_md5_hex(md5, name, std::strlen(name));
  char *part =
      fixed < kMaxSafePath ? safe_name_part(pool, name, kMaxSafePath - fixed, md5) : nullptr;
  if (part == nullptr) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return nullptr;
  }
  char *path = apr_pstrcat(pool, prefix, part, tail, nullptr);
  if (!utf8_is_xml_text(path))
    path = const_cast<char *>(text_to_utf8(pool, nullptr, path, std::strlen(path)));
  if (*path == '\0') path = apr_pstrcat(pool, prefix, md5, tail, nullptr);
  return path;
}

int property_string_parse(apr_pool_t *pool, const char *text, apr_hash_t *hash) {
  char *plain = xml_unescape(pool, text);
  char *state = nullptr;
  for (char *pair = apr_strtok(plain, "&", &state); pair != nullptr;
       pair = apr_strtok(nullptr, "&", &state)) {
    if (pair[std::strspn(pair, "=")] == '\0') {
      LOG4C(COMMON_MODULE, LOG4C_ERROR,
            log4c_sprintf("illegal property structure: '%s' in '%s'", pair, text));
      return APR_EGENERAL;
    }
    char *equals = std::strchr(pair, '=');
    const char *value = "";
    if (equals != nullptr) {
      *equals = '\0';
      value = equals + 1;
    }
    apr_hash_set(hash, path_canonical(pool, pair), APR_HASH_KEY_STRING, apr_pstrdup(pool, value));
  }
  return APR_SUCCESS;
}

int file_read_all(const char *path, char *buffer, std::size_t *size) {
  Pool pool(nullptr);
  apr_file_t *file = nullptr;
  apr_status_t status =
      apr_file_open(&file, path, APR_FOPEN_READ | APR_FOPEN_BINARY, APR_FPROT_OS_DEFAULT, pool);
  if (status != APR_SUCCESS) {
    log_status("Unable to open file (%s) for reading, reason: %s", path, status, pool);
    return status;
  }
  apr_size_t read = *size;
  status = apr_file_read_full(file, buffer, *size, &read);
  if (status != APR_SUCCESS && status != APR_EOF) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, log4c_sprintf("Could not read file %s", path));
    apr_file_close(file);
    return status;
  }
  *size = read;
  status = apr_file_close(file);
  if (status != APR_SUCCESS) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, log4c_sprintf("Could not close file %s", path));
    return status;
  }
  return APR_SUCCESS;
}
