// Reading and making the kept device UUID.
#include "DeviceId.h"

#include <apr_file_io.h>
#include <apr_strings.h>
#include <apr_uuid.h>

#include "log4c.h"

namespace {

const char *read_kept(apr_pool_t *pool, const char *file) {
  apr_file_t *f = nullptr;
  if (apr_file_open(&f, file, APR_FOPEN_READ, 0, pool) != APR_SUCCESS) return nullptr;
  char text[APR_UUID_FORMATTED_LENGTH + 2] = "";
  apr_size_t length = APR_UUID_FORMATTED_LENGTH;
  const bool read = apr_file_read(f, text, &length) == APR_SUCCESS && length == APR_UUID_FORMATTED_LENGTH;
  apr_file_close(f);
  apr_uuid_t parsed;
  if (!read || apr_uuid_parse(&parsed, text) != APR_SUCCESS) return nullptr;
  return apr_pstrdup(pool, text);
}

}  // namespace

int device_id(apr_pool_t *pool, const char *file, const char **uuid) {
  if ((*uuid = read_kept(pool, file)) != nullptr) return APR_SUCCESS;
  apr_uuid_t made;
  apr_uuid_get(&made);
  char *text = static_cast<char *>(apr_palloc(pool, APR_UUID_FORMATTED_LENGTH + 1));
  apr_uuid_format(text, &made);
  const char *line = apr_pstrcat(pool, text, "\n", nullptr);
  apr_file_t *f = nullptr;
  apr_status_t status = apr_file_open(&f, file, APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_TRUNCATE,
                                      APR_FPROT_OS_DEFAULT, pool);
  if (status == APR_SUCCESS) {
    status = apr_file_write_full(f, line, APR_UUID_FORMATTED_LENGTH + 1, nullptr);
    const apr_status_t closed = apr_file_close(f);
    if (status == APR_SUCCESS) status = closed;
  }
  if (status != APR_SUCCESS) {
    char reason[256];
    log4c_log("DeviceId", LOG4C_ERROR,
              log4c_sprintf("Could not keep the device id in %s: %s", file,
                            apr_strerror(status, reason, sizeof reason)),
              __FILE__, __LINE__);
    return APR_EGENERAL;
  }
  *uuid = text;
  return APR_SUCCESS;
}
