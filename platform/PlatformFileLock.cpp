#include "PlatformFileLock.h"

#include <apr_portable.h>

#include <cerrno>
#include <fcntl.h>

namespace {
apr_status_t set_lock(apr_file_t *file, short type, int command = F_OFD_SETLK) {
  apr_os_file_t descriptor;
  apr_status_t status = apr_os_file_get(&descriptor, file);
  if (status != APR_SUCCESS) return status;
  struct flock region {};
  region.l_type = type;
  region.l_whence = SEEK_SET;
  int result;
  do {
    result = fcntl(descriptor, command, &region);
  } while (result != 0 && errno == EINTR && command == F_OFD_SETLKW);
  if (result != 0) return APR_FROM_OS_ERROR(errno);
  return APR_SUCCESS;
}
}  // namespace

apr_status_t platform_file_lock(apr_file_t *file) { return set_lock(file, F_WRLCK); }

apr_status_t platform_file_lock_wait(apr_file_t *file) { return set_lock(file, F_WRLCK, F_OFD_SETLKW); }

apr_status_t platform_file_unlock(apr_file_t *file) { return set_lock(file, F_UNLCK); }
