#include "PlatformFolderEntry.h"

#include <apr_portable.h>
#include <apr_time.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace {

struct TypeOfMode {
  mode_t mode;
  apr_filetype_e type;
};

constexpr TypeOfMode kTypes[] = {
    {S_IFREG, APR_REG}, {S_IFDIR, APR_DIR},  {S_IFLNK, APR_LNK},   {S_IFCHR, APR_CHR},
    {S_IFBLK, APR_BLK}, {S_IFIFO, APR_PIPE}, {S_IFSOCK, APR_SOCK},
};

apr_filetype_e type_of(mode_t mode) {
  for (const TypeOfMode &entry : kTypes) {
    if ((mode & S_IFMT) == entry.mode) return entry.type;
  }
  return APR_UNKFILE;
}

}  // namespace

int platform_folder_open(int at, const char *path) {
  return openat(at == PLATFORM_FOLDER_HERE ? AT_FDCWD : at, path, O_RDONLY | O_NONBLOCK | O_DIRECTORY | O_CLOEXEC);
}

void platform_folder_list(int fd, const std::function<bool(const char *)> &take) {
  constexpr std::size_t kBuffer = 32768;
  const std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kBuffer);
  for (;;) {
    const ssize_t length = getdents64(fd, buffer.get(), kBuffer);
    if (length <= 0) return;
    for (ssize_t at = 0; at < length;) {
      const auto *entry = reinterpret_cast<const dirent64 *>(buffer.get() + at);
      at += entry->d_reclen;
      const char *name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      if (!take(name)) return;
    }
  }
}

void platform_folder_close(int fd) { close(fd); }

bool platform_folder_entry_status_at(int fd, const char *name, apr_finfo_t *info) {
  info->valid = 0;
  struct stat status;
  if (fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
  info->filetype = type_of(status.st_mode);
  info->size = status.st_size;
  apr_time_ansi_put(&info->mtime, status.st_mtim.tv_sec);
  info->mtime += status.st_mtim.tv_nsec / APR_TIME_C(1000);
  info->inode = status.st_ino;
  info->device = status.st_dev;
  info->valid = APR_FINFO_TYPE | APR_FINFO_SIZE | APR_FINFO_MTIME | APR_FINFO_INODE | APR_FINFO_DEV | APR_FINFO_LINK;
  return true;
}

bool platform_folder_entry_status(apr_dir_t *dir, const char *name, apr_finfo_t *info) {
  info->valid = 0;
  apr_os_dir_t *native = nullptr;
  if (apr_os_dir_get(&native, dir) != APR_SUCCESS) return false;
  return platform_folder_entry_status_at(dirfd(native), name, info);
}
