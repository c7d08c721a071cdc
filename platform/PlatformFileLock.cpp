#include "PlatformFileLock.h"

#include <apr_portable.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace {

// How often a bounded wait tries the lock again.
constexpr apr_interval_time_t kRetryInterval = 20 * 1000;

apr_status_t set_lock(apr_file_t *file, short type) {
  apr_os_file_t descriptor;
  apr_status_t status = apr_os_file_get(&descriptor, file);
  if (status != APR_SUCCESS) return status;
  struct flock region {};
  region.l_type = type;
  region.l_whence = SEEK_SET;
  if (fcntl(descriptor, F_OFD_SETLK, &region) != 0) return APR_FROM_OS_ERROR(errno);
  return APR_SUCCESS;
}

bool held_elsewhere(apr_status_t status) { return status == EAGAIN || status == EACCES; }

}  // namespace

apr_status_t platform_file_lock(apr_file_t *file) { return set_lock(file, F_WRLCK); }

// Tries again and again rather than blocking in F_OFD_SETLKW, which cannot be
// given a deadline: a holder that never lets go costs limit, not the run.
apr_status_t platform_file_lock_wait(apr_file_t *file, apr_interval_time_t limit) {
  const apr_time_t deadline = apr_time_now() + limit;
  for (;;) {
    apr_status_t status = set_lock(file, F_WRLCK);
    if (!held_elsewhere(status)) return status;
    const apr_interval_time_t left = deadline - apr_time_now();
    if (left <= 0) return EAGAIN;
    apr_sleep(std::min(left, kRetryInterval));
  }
}

apr_status_t platform_file_unlock(apr_file_t *file) { return set_lock(file, F_UNLCK); }

apr_status_t platform_file_make_private(const char *path) {
  int descriptor = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, S_IRUSR | S_IWUSR);
  if (descriptor < 0) return APR_FROM_OS_ERROR(errno);
  struct stat info {};
  apr_status_t status = APR_SUCCESS;
  if (fstat(descriptor, &info) != 0) status = APR_FROM_OS_ERROR(errno);
  if (status == APR_SUCCESS && info.st_uid == geteuid() && (info.st_mode & 0777) != (S_IRUSR | S_IWUSR) &&
      fchmod(descriptor, S_IRUSR | S_IWUSR) != 0)
    status = APR_FROM_OS_ERROR(errno);
  close(descriptor);
  return status;
}
