#include "Common.h"

#include <apr_base64.h>
#include <apr_env.h>
#include <apr_md5.h>
#include <apr_strings.h>
#include <apr_thread_mutex.h>
#include <apr_time.h>

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "log4c.h"

const char common_empty_string[1] = "";

namespace {
// The module state: created by common_init, destroyed by common_terminate.
apr_thread_mutex_t *unique_id_mutex = nullptr;
unsigned int unique_id_counter = 1;
}  // namespace

int common_init(apr_pool_t *pool, const char *iconv_path) {
  if (unique_id_mutex == nullptr &&
      apr_thread_mutex_create(&unique_id_mutex, APR_THREAD_MUTEX_DEFAULT, pool) != APR_SUCCESS) {
    unique_id_mutex = nullptr;
    LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could no create unique id mutex");
    return APR_EGENERAL;
  }
  if (iconv_path != nullptr && apr_env_set("APR_ICONV_PATH", iconv_path, pool) != APR_SUCCESS) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR,
          log4c_sprintf("Could not set the APR_ICONV_PATH environment variable to %s", iconv_path));
    return APR_EGENERAL;
  }
  std::srand(static_cast<unsigned int>(apr_time_sec(apr_time_now())));
  return APR_SUCCESS;
}

void common_terminate() {
  if (unique_id_mutex == nullptr) return;
  if (apr_thread_mutex_destroy(unique_id_mutex) != APR_SUCCESS)
    LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not destroy unique_id_mutex");
  unique_id_mutex = nullptr;
}

unsigned int unique_id_next() {
  apr_thread_mutex_t *mutex = unique_id_mutex;
  if (mutex != nullptr && apr_thread_mutex_lock(mutex) != APR_SUCCESS)
    LOG4C(COMMON_MODULE, LOG4C_FATAL, "Could not lock mutex, application behavior is undefined...");
  unsigned int id = unique_id_counter++;
  if (mutex != nullptr && apr_thread_mutex_unlock(mutex) != APR_SUCCESS)
    LOG4C(COMMON_MODULE, LOG4C_FATAL, "Could not unlock mutex, possible deadlock...");
  return id;
}

int common_md5_hex(char out[33], const void *data, std::size_t length) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  unsigned char digest[APR_MD5_DIGESTSIZE];
  if (apr_md5(digest, data, length) != APR_SUCCESS) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not calculate an MD5 digest");
    out[0] = '\0';
    return APR_EGENERAL;
  }
  for (int i = 0; i < APR_MD5_DIGESTSIZE; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 0x0F];
  }
  out[32] = '\0';
  return APR_SUCCESS;
}

char *str_base64(apr_pool_t *pool, const char *text) {
  if (text == nullptr) return nullptr;
  int length = static_cast<int>(std::strlen(text));
  char *encoded = static_cast<char *>(apr_palloc(pool, apr_base64_encode_len(length)));
  apr_base64_encode(encoded, text, length);
  return encoded;
}

int str_index_of(const char *text, const char *const *table, int count, int def) {
  if (text == nullptr) return def;
  for (int i = 0; i < count; ++i)
    if (table[i] != nullptr && strcasecmp(table[i], text) == 0) return i;
  return def;
}

int str_prefix_index_of(const char *text, std::size_t length, const char *const *table, int count,
                        int def) {
  if (text == nullptr) return def;
  for (int i = 0; i < count; ++i)
    if (table[i] != nullptr && strncasecmp(table[i], text, length) == 0) return i;
  return def;
}
