// CommonFile module state: the writers table, the wait for data, sizes and the filler.
#include <apr_atomic.h>
#include <apr_strings.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <strings.h>

#include "CommonCancel.h"
#include "CommonFileInternal.h"
#include "log4c.h"
#include "log4c_pool.h"

CommonFileModule common_file_module;

namespace {

constexpr apr_interval_time_t kWaitSlice = 100000;
constexpr const char *kMpegTypes[] = {"video/mpeg", "video/vcd", "video/vob", "video/dvd", "video/vardvd"};
constexpr apr_size_t kPaddingPacket = 2048;
constexpr apr_size_t kSmallestPacket = 20;

bool is_mpeg(const char *content_type) {
  if (content_type == nullptr) return false;
  return std::any_of(std::begin(kMpegTypes), std::end(kMpegTypes), [&](const char *type) {
    return strncasecmp(content_type, type, std::strlen(type)) == 0;
  });
}

}  // namespace

int common_file_init(apr_pool_t *pool, apr_uint64_t cyclic_size, apr_uint64_t gap,
                     apr_uint32_t cyclic_minutes) {
  CommonFileModule &m = common_file_module;
  m.pool = pool_create_or_die(pool, COMMON_FILE_MODULE);
  if (apr_thread_rwlock_create(&m.lock, m.pool) != APR_SUCCESS ||
      apr_thread_mutex_create(&m.wait_mutex, APR_THREAD_MUTEX_DEFAULT, m.pool) != APR_SUCCESS ||
      apr_thread_cond_create(&m.wait_cond, m.pool) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  m.writers = apr_hash_make(m.pool);
  if (m.writers == nullptr) {
    LOG4C(COMMON_FILE_MODULE, LOG4C_ERROR, "Could not create hash table");
    return APR_EGENERAL;
  }
  m.gap = gap;
  m.cyclic_size = cyclic_size;
  apr_atomic_set32(&m.cyclic_minutes, cyclic_minutes);
  return APR_SUCCESS;
}

void common_file_term() {
  CommonFileModule &m = common_file_module;
  if (m.pool == nullptr) return;
  apr_pool_destroy(m.pool);
  m.pool = nullptr;
  m.lock = nullptr;
  m.writers = nullptr;
  m.wait_mutex = nullptr;
  m.wait_cond = nullptr;
}

void common_file_set_cyclic_age_ms(apr_uint32_t milliseconds) {
  apr_atomic_xchg32(&common_file_module.cyclic_minutes, milliseconds / 60000);
}

bool common_file_writer_state(const char *path, CommonFileWriterState *state, apr_pool_t *pool) {
  CommonFileModule &m = common_file_module;
  apr_thread_rwlock_rdlock(m.lock);
  auto *writer = static_cast<CommonFileWriter *>(apr_hash_get(m.writers, path, APR_HASH_KEY_STRING));
  if (writer != nullptr) {
    apr_thread_rwlock_rdlock(writer->lock);
    *state = CommonFileWriterState{writer->bytes_written, writer->cycle_length,
                                   apr_atomic_read32(&writer->cyclic_active) != 0, writer->range_reader,
                                   writer->range_reader_data, writer->expected_size,
                                   pool == nullptr ? nullptr : apr_pstrdup(pool, writer->content_type)};
    apr_thread_rwlock_unlock(writer->lock);
  }
  apr_thread_rwlock_unlock(m.lock);
  return writer != nullptr;
}

void common_file_signal_readers() {
  CommonFileModule &m = common_file_module;
  apr_thread_mutex_lock(m.wait_mutex);
  apr_thread_cond_broadcast(m.wait_cond);
  apr_thread_mutex_unlock(m.wait_mutex);
}

int common_file_wait_for_data(const char *path, apr_uint64_t target, apr_interval_time_t limit,
                              CommonFileWaitFn wait, void *user_data) {
  CommonFileModule &m = common_file_module;
  apr_time_t deadline = apr_time_now() + limit;
  int status = APR_TIMEUP;
  apr_thread_mutex_lock(m.wait_mutex);
  for (;;) {
    CommonFileWriterState state{};
    if (!common_file_writer_state(path, &state)) {
      status = APR_EOF;
      break;
    }
    if (state.bytes_written >= target) {
      status = APR_SUCCESS;
      break;
    }
    if (wait != nullptr && wait(user_data) != 0) {
      status = COMMON_CANCELLED;
      break;
    }
    apr_time_t now = apr_time_now();
    if (now >= deadline) break;
    apr_thread_cond_timedwait(m.wait_cond, m.wait_mutex, std::min<apr_interval_time_t>(deadline - now, kWaitSlice));
  }
  apr_thread_mutex_unlock(m.wait_mutex);
  return status;
}

apr_int64_t common_file_size(apr_file_t *file) {
  apr_finfo_t info;
  if (apr_file_info_get(&info, APR_FINFO_SIZE | APR_FINFO_TYPE, file) != APR_SUCCESS) {
    LOG4C(COMMON_FILE_MODULE, LOG4C_ERROR, "Could not get file size from file handle");
    return 0;
  }
  if (info.filetype != APR_REG) {
    LOG4C(COMMON_FILE_MODULE, LOG4C_ERROR,
          "Could not get file size from file handle since it is not a regular file (maybe it is a folder)");
    return 0;
  }
  return info.size;
}

void common_file_filler(const char *content_type, char *buffer, apr_size_t length) {
  std::memset(buffer, 0, length);
  if (length <= 5 || !is_mpeg(content_type)) return;
  auto *out = reinterpret_cast<unsigned char *>(buffer);
  apr_size_t remaining = length;
  while (remaining >= kSmallestPacket) {
    apr_size_t size = std::min(remaining, kPaddingPacket);
    apr_size_t body = size - 6;
    const unsigned char header[] = {0x00, 0x00, 0x01, 0xBE, static_cast<unsigned char>(body >> 8),
                                    static_cast<unsigned char>(body & 0xFF)};
    std::memcpy(out, header, sizeof header);
    std::memset(out + sizeof header, 0xFF, body);
    out += size;
    remaining -= size;
  }
}
