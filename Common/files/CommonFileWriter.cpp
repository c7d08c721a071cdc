// Writing a shared growing file, flat or cyclic.
//
// A cyclic file turns cyclic once it is both large and old enough; from then
// on it wraps at its cycle length, which leaves one gap of margin between
// the writer and the oldest byte readers may still need.
#include <apr_atomic.h>
#include <apr_strings.h>

#include <algorithm>

#include "CommonFileInternal.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr apr_time_t kMicrosecondsPerMinute = 60000000;

void log_error(const char *message) { LOG4C(COMMON_FILE_MODULE, LOG4C_ERROR, message); }

// Writes all of length at the file's current place; *done receives the count.
bool write_here(apr_file_t *file, const char *data, apr_size_t length, apr_size_t *done) {
  *done = length;
  return apr_file_write_full(file, data, length, done) == APR_SUCCESS && *done == length;
}

bool may_turn_cyclic(CommonFileWriter *writer, apr_int64_t minute) {
  CommonFileModule &m = common_file_module;
  return writer->bytes_written > m.cyclic_size &&
         minute - writer->first_write_minute > static_cast<apr_int64_t>(apr_atomic_read32(&m.cyclic_minutes)) &&
         (writer->may_cycle == nullptr || writer->may_cycle(writer, writer->may_cycle_data) != 0);
}

// Writes inside the cycle, wrapping to offset 0 at its end.
int write_cyclic(CommonFileWriter *writer, const char *data, apr_size_t length, apr_size_t *done) {
  apr_uint64_t place = writer->bytes_written % writer->cycle_length;
  apr_size_t first = static_cast<apr_size_t>(std::min<apr_uint64_t>(length, writer->cycle_length - place));
  apr_size_t written = 0;
  bool ok = write_here(writer->file, data, first, &written);
  *done = written;
  // Reaching the end of the cycle moves to its start, even when nothing is
  // left to write, so that the next write lands there.
  if (ok && place + first == writer->cycle_length) {
    LOG4C(COMMON_FILE_MODULE, LOG4C_DEBUG, log4c_sprintf("Cyclic file wrap to beginning File: (%s)", writer->path));
    apr_off_t start = 0;
    if (apr_file_seek(writer->file, APR_SET, &start) != APR_SUCCESS) {
      log_error("Could not seek cyclic file to the begining");
      return APR_EGENERAL;
    }
    if (first < length) {
      ok = write_here(writer->file, data + first, length - first, &written);
      *done += written;
    }
  }
  if (!ok) log_error("Could not write to cyclic file, check disk space...");
  return ok ? APR_SUCCESS : APR_EGENERAL;
}

int write_growing(CommonFileWriter *writer, const char *data, apr_size_t length, apr_size_t *done) {
  apr_int64_t minute = apr_time_now() / kMicrosecondsPerMinute;
  if (writer->first_write_minute < 0) writer->first_write_minute = minute;
  if (apr_atomic_read32(&writer->cyclic_active) == 0) {
    if (!may_turn_cyclic(writer, minute)) {
      if (write_here(writer->file, data, length, done)) return APR_SUCCESS;
      log_error("Could not write to cyclic file, check disk space...");
      return APR_EGENERAL;
    }
    apr_thread_rwlock_wrlock(writer->lock);
    writer->cycle_length = common_file_module.gap + length + writer->bytes_written;
    apr_thread_rwlock_unlock(writer->lock);
    apr_atomic_inc32(&writer->cyclic_active);
  }
  return write_cyclic(writer, data, length, done);
}

}  // namespace

int common_file_create(apr_pool_t *pool, const char *path, const char *content_type,
                       int cyclic_permitted, apr_int64_t expected_size, CommonFileWriter **out,
                       CommonFileMayCycleFn may_cycle, void *user_data) {
  *out = nullptr;
  apr_pool_t *own = pool_create_or_die(pool, COMMON_FILE_MODULE);
  auto *writer = static_cast<CommonFileWriter *>(apr_pcalloc(own, sizeof(CommonFileWriter)));
  writer->pool = own;
  writer->path = apr_pstrdup(own, path);
  writer->content_type = apr_pstrdup(own, content_type);
  writer->cyclic_permitted = cyclic_permitted;
  writer->expected_size = expected_size;
  writer->first_write_minute = -1;
  writer->may_cycle = may_cycle;
  writer->may_cycle_data = user_data;
  apr_status_t status = apr_file_open(&writer->file, path,
                                      APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_TRUNCATE | APR_FOPEN_BINARY,
                                      APR_FPROT_OS_DEFAULT, own);
  if (status == APR_SUCCESS) status = apr_thread_rwlock_create(&writer->lock, own);
  if (status != APR_SUCCESS) {
    char reason[256];
    log_error(log4c_sprintf("Unable to create and/or truncate file (%s), reason: %s", path,
                            apr_strerror(status, reason, sizeof reason)));
    apr_pool_destroy(own);
    return status;
  }
  CommonFileModule &m = common_file_module;
  apr_thread_rwlock_wrlock(m.lock);
  apr_hash_set(m.writers, writer->path, APR_HASH_KEY_STRING, writer);
  apr_thread_rwlock_unlock(m.lock);
  *out = writer;
  return APR_SUCCESS;
}

void common_file_set_range_reader(CommonFileWriter *writer, CommonFileRangeReader reader,
                                  void *user_data) {
  apr_thread_rwlock_wrlock(writer->lock);
  writer->range_reader = reader;
  writer->range_reader_data = user_data;
  apr_thread_rwlock_unlock(writer->lock);
}

int common_file_write(CommonFileWriter *writer, const void *data, apr_size_t *length,
                      CommonFileWrittenFn written, void *user_data) {
  const char *bytes = static_cast<const char *>(data);
  apr_size_t done = 0;
  int status = APR_SUCCESS;
  if (writer->cyclic_permitted) {
    status = write_growing(writer, bytes, *length, &done);
  } else if (!write_here(writer->file, bytes, *length, &done)) {
    log_error("Could not write to flat file, check disk space...");
    status = APR_EGENERAL;
  }
  apr_thread_rwlock_wrlock(writer->lock);
  writer->bytes_written += done;
  apr_uint64_t total = writer->bytes_written;
  apr_thread_rwlock_unlock(writer->lock);
  *length = done;
  common_file_signal_readers();
  if (written != nullptr) written(user_data, total);
  return status;
}

int common_file_writer_close(CommonFileWriter *writer) {
  CommonFileModule &m = common_file_module;
  apr_thread_rwlock_wrlock(m.lock);
  if (apr_hash_get(m.writers, writer->path, APR_HASH_KEY_STRING) == writer) {
    apr_hash_set(m.writers, writer->path, APR_HASH_KEY_STRING, nullptr);
  }
  apr_thread_rwlock_unlock(m.lock);
  int status = APR_SUCCESS;
  if (apr_file_close(writer->file) != APR_SUCCESS) {
    log_error(log4c_sprintf("Could not close file %s", writer->path));
    status = APR_EGENERAL;
  }
  common_file_signal_readers();
  apr_pool_destroy(writer->pool);
  return status;
}
