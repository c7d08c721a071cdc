#include "PlatformFileReplace.h"

#include <apr_file_io.h>
#include <apr_strings.h>

apr_status_t platform_file_replace(apr_pool_t *pool, const char *path, const void *data,
                                   std::size_t length) {
  char *temporary = apr_pstrcat(pool, path, ".XXXXXX", nullptr);
  apr_file_t *file = nullptr;
  apr_status_t status = apr_file_mktemp(&file, temporary, APR_FOPEN_CREATE | APR_FOPEN_READ |
                                                              APR_FOPEN_WRITE | APR_FOPEN_EXCL |
                                                              APR_FOPEN_BINARY, pool);
  if (status != APR_SUCCESS) return status;
  apr_size_t written = 0;
  if (length > 0) status = apr_file_write_full(file, data, length, &written);
  if (status == APR_SUCCESS) status = apr_file_sync(file);
  apr_status_t closed = apr_file_close(file);
  if (status == APR_SUCCESS) status = closed;
  if (status == APR_SUCCESS) status = apr_file_rename(temporary, path, pool);
  if (status != APR_SUCCESS) apr_file_remove(temporary, pool);
  return status;
}
