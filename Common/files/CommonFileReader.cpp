// Reading a file that may still be growing.
//
// A plain reader (no writer registered at open) reads and seeks the file
// directly. A shared reader follows the writer: it waits for data that is
// not there yet, keeps a seek beyond the written bytes as a pending position
// resolved by the next read, and in a cyclic file maps logical positions
// into the cycle and jumps ahead when the writer has overwritten its place.
#include <apr_strings.h>

#include <algorithm>

#include "CommonCancel.h"
#include "CommonFileInternal.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr apr_interval_time_t kOpenRetry = apr_time_from_msec(100);
constexpr apr_interval_time_t kOpenLimit = apr_time_from_sec(30);
constexpr apr_interval_time_t kDataWait = apr_time_from_sec(60);
constexpr apr_int64_t kOpenPrefix = 64000;
constexpr apr_int64_t kPendingReach = 1000000;
constexpr int kGoOn = -1;

void log_at(int level, const char *message) { LOG4C(COMMON_FILE_MODULE, level, message); }

int open_retrying(apr_pool_t *pool, const char *path, apr_file_t **file, CommonFileWaitFn wait,
                  void *user_data) {
  apr_time_t deadline = apr_time_now() + kOpenLimit;
  for (;;) {
    apr_status_t status = apr_file_open(file, path, APR_FOPEN_READ | APR_FOPEN_BINARY, APR_FPROT_OS_DEFAULT, pool);
    if (status == APR_SUCCESS) return APR_SUCCESS;
    if (wait != nullptr && wait(user_data) != 0) return COMMON_CANCELLED;
    if (apr_time_now() >= deadline) {
      char reason[256];
      log_at(LOG4C_ERROR,
             log4c_sprintf("Could not open file %s, reason: %s", path, apr_strerror(status, reason, sizeof reason)));
      return status;
    }
    apr_sleep(kOpenRetry);
  }
}

int seek_file(CommonFileReader *reader, apr_int64_t offset) {
  apr_off_t at = offset;
  if (apr_file_seek(reader->file, APR_SET, &at) != APR_SUCCESS || at != offset) {
    log_at(LOG4C_ERROR, log4c_sprintf("Could not seek in file %s", reader->path));
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

apr_int64_t physical(const CommonFileReader *reader, apr_int64_t logical) {
  return reader->cyclic && reader->cycle_length > 0 ? logical % static_cast<apr_int64_t>(reader->cycle_length)
                                                    : logical;
}

// The writer's state, also remembering the cycle for when the writer is gone.
bool writer_state(CommonFileReader *reader, CommonFileWriterState *state) {
  if (!common_file_writer_state(reader->path, state)) return false;
  if (state->cyclic) {
    reader->cyclic = 1;
    reader->cycle_length = state->cycle_length;
  }
  return true;
}

// Reads up to length bytes at the file's current place; *got receives the count.
int read_here(CommonFileReader *reader, char *buffer, apr_size_t length, apr_size_t *got) {
  *got = length;
  apr_status_t status = apr_file_read_full(reader->file, buffer, length, got);
  if (status != APR_SUCCESS && status != APR_EOF) {
    log_at(LOG4C_ERROR, log4c_sprintf("Could not read from file %s", reader->path));
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

// Stands in for length bytes that cannot be had, or fails with the fail flag.
int substitute(CommonFileReader *reader, char *buffer, apr_size_t length) {
  if (reader->fail) {
    log_at(LOG4C_WARN, log4c_sprintf("Read failed for file %s, failing request", reader->path));
    return APR_EGENERAL;
  }
  log_at(LOG4C_WARN, log4c_sprintf("Read failed for file %s, returning zeroes", reader->path));
  common_file_filler(reader->content_type, buffer, length);
  reader->pending += static_cast<apr_int64_t>(length);
  return APR_SUCCESS;
}

// Moves to the pending position once the writer has reached it; otherwise
// serves the request from the range reader or with filler. Returns kGoOn
// when the read continues at the new position.
int resolve_pending(CommonFileReader *reader, char *buffer, apr_size_t length, CommonFileWaitFn wait,
                    void *user_data) {
  CommonFileWriterState state{};
  bool writing = writer_state(reader, &state);
  apr_int64_t written = writing ? static_cast<apr_int64_t>(state.bytes_written) : common_file_size(reader->file);
  if (writing && written < reader->pending && reader->pending - written < kPendingReach) {
    int status = common_file_wait_for_data(reader->path, reader->pending + length, kDataWait, wait, user_data);
    if (status == COMMON_CANCELLED) return status;
    writing = writer_state(reader, &state);
    written = writing ? static_cast<apr_int64_t>(state.bytes_written) : common_file_size(reader->file);
  }
  if (written >= reader->pending) {
    if (seek_file(reader, physical(reader, reader->pending)) != APR_SUCCESS) return APR_EGENERAL;
    reader->position = reader->pending;
    reader->pending = -1;
    return kGoOn;
  }
  apr_size_t got = length;
  if (!reader->cyclic && writing && state.range_reader != nullptr &&
      state.range_reader(state.range_reader_data, reader->pending, buffer, &got) == APR_SUCCESS) {
    common_file_filler(reader->content_type, buffer + got, length - std::min(got, length));
    reader->pending += static_cast<apr_int64_t>(length);
    return APR_SUCCESS;
  }
  return substitute(reader, buffer, length);
}

// How many of length bytes at the read position are (or become) available.
int available_bytes(CommonFileReader *reader, apr_size_t length, CommonFileWaitFn wait, void *user_data,
                    apr_size_t *available) {
  CommonFileWriterState state{};
  *available = length;
  if (!writer_state(reader, &state)) {
    LOG4C(COMMON_FILE_MODULE, LOG4C_DEBUG,
          log4c_sprintf("Read from rdwr closed wr at %" APR_INT64_T_FMT, reader->position));
    if (!reader->cyclic) {
      *available = static_cast<apr_size_t>(std::clamp<apr_int64_t>(
          common_file_size(reader->file) - reader->position, 0, static_cast<apr_int64_t>(length)));
    }
    return APR_SUCCESS;
  }
  apr_int64_t distance = static_cast<apr_int64_t>(state.bytes_written) - reader->position;
  LOG4C(COMMON_FILE_MODULE, LOG4C_DEBUG, log4c_sprintf("Write/Read GAP %" APR_INT64_T_FMT "\n", distance));
  if (distance >= static_cast<apr_int64_t>(length)) return APR_SUCCESS;
  LOG4C(COMMON_FILE_MODULE, LOG4C_DEBUG,
        log4c_sprintf("Write/Read Gap too low (%" APR_INT64_T_FMT "), waiting...", distance));
  int status = common_file_wait_for_data(reader->path, reader->position + length, kDataWait, wait, user_data);
  if (status == COMMON_CANCELLED) return status;
  apr_int64_t have = writer_state(reader, &state) ? static_cast<apr_int64_t>(state.bytes_written)
                                                  : common_file_size(reader->file);
  if (!reader->cyclic || status == APR_TIMEUP) {
    *available = static_cast<apr_size_t>(std::clamp<apr_int64_t>(have - reader->position, 0, length));
  }
  return APR_SUCCESS;
}

// Reads length bytes at the read position, continuing at offset 0 when a
// cyclic file's cycle ends.
int read_at_position(CommonFileReader *reader, char *buffer, apr_size_t length, apr_size_t *got) {
  apr_size_t first = length;
  if (reader->cyclic && reader->cycle_length > 0) {
    // The last read may have ended just at the cycle's end.
    apr_int64_t place = physical(reader, reader->position);
    if (seek_file(reader, place) != APR_SUCCESS) return APR_EGENERAL;
    first = static_cast<apr_size_t>(std::min<apr_int64_t>(length, reader->cycle_length - place));
  }
  if (read_here(reader, buffer, first, got) != APR_SUCCESS) return APR_EGENERAL;
  if (*got == first && first < length) {
    apr_size_t rest = 0;
    if (seek_file(reader, 0) != APR_SUCCESS || read_here(reader, buffer + first, length - first, &rest) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
    *got += rest;
  }
  if (!reader->cyclic && *got < length) {
    log_at(LOG4C_ERROR, log4c_sprintf("Could not read from file %s", reader->path));
    return APR_EGENERAL;
  }
  reader->position += static_cast<apr_int64_t>(*got);
  return APR_SUCCESS;
}

int read_shared(CommonFileReader *reader, char *buffer, apr_size_t *length, CommonFileWaitFn wait,
                void *user_data) {
  apr_size_t requested = *length;
  CommonFileWriterState state{};
  if (reader->pending < 0 && writer_state(reader, &state) && state.cyclic) {
    apr_int64_t oldest = static_cast<apr_int64_t>(state.bytes_written + common_file_module.gap - state.cycle_length);
    if (reader->position < oldest) reader->pending = oldest + static_cast<apr_int64_t>(common_file_module.gap);
  }
  if (reader->pending >= 0) {
    int status = resolve_pending(reader, buffer, requested, wait, user_data);
    if (status != kGoOn) return status;
  }
  apr_size_t available = 0;
  int status = available_bytes(reader, requested, wait, user_data, &available);
  apr_size_t got = 0;
  if (status == APR_SUCCESS && available > 0) status = read_at_position(reader, buffer, available, &got);
  if (status != APR_SUCCESS) return status;
  if (got < requested && reader->fill) {
    common_file_filler(reader->content_type, buffer + got, requested - got);
    got = requested;
  }
  *length = got;
  return got == 0 && requested > 0 ? APR_EOF : APR_SUCCESS;
}

}  // namespace

int common_file_open(apr_pool_t *pool, const char *path, apr_int64_t expected_size, int fill,
                     int fail, CommonFileReader **out, CommonFileWaitFn wait, void *user_data) {
  *out = nullptr;
  apr_pool_t *own = pool_create_or_die(pool, COMMON_FILE_MODULE);
  auto *reader = static_cast<CommonFileReader *>(apr_pcalloc(own, sizeof(CommonFileReader)));
  *reader = CommonFileReader{own, apr_pstrdup(own, path), nullptr, nullptr, 0, 0, 0, 0, -1, 0, 0, fill, fail};
  int status = open_retrying(own, path, &reader->file, wait, user_data);
  if (status != APR_SUCCESS) {
    apr_pool_destroy(own);
    return status;
  }
  CommonFileWriterState state{};
  if (!common_file_writer_state(path, &state, own)) {
    reader->known_size = common_file_size(reader->file);
    *out = reader;
    return APR_SUCCESS;
  }
  reader->shared = 1;
  reader->content_type = state.content_type;
  reader->cyclic = state.cyclic;
  reader->cycle_length = state.cycle_length;
  reader->known_size = state.expected_size >= 0 ? state.expected_size : expected_size;
  apr_int64_t prefix = reader->known_size < 0 ? kOpenPrefix : std::min(reader->known_size, kOpenPrefix);
  status = common_file_wait_for_data(path, prefix, kDataWait, wait, user_data);
  if (status != APR_SUCCESS && status != APR_EOF) {
    log_at(LOG4C_ERROR, log4c_sprintf("Open failed for %s", path));
    common_file_reader_close(reader);
    return status;
  }
  *out = reader;
  return APR_SUCCESS;
}

int common_file_read(CommonFileReader *reader, void *buffer, apr_size_t *length,
                     CommonFileWaitFn wait, void *user_data) {
  char *bytes = static_cast<char *>(buffer);
  if (reader->shared) return read_shared(reader, bytes, length, wait, user_data);
  apr_size_t got = *length;
  apr_status_t status = apr_file_read(reader->file, bytes, &got);
  *length = status == APR_SUCCESS ? got : 0;
  if (status == APR_EOF) return APR_EOF;
  if (status != APR_SUCCESS) {
    log_at(LOG4C_ERROR, log4c_sprintf("Could not read from file %s", reader->path));
    return APR_EGENERAL;
  }
  reader->position += static_cast<apr_int64_t>(got);
  return APR_SUCCESS;
}

int common_file_seek(CommonFileReader *reader, apr_seek_where_t origin, apr_int64_t *offset) {
  apr_int64_t target = 0;
  switch (origin) {
    case APR_SET: target = reader->seek_base + *offset; break;
    case APR_CUR: target = (reader->pending >= 0 ? reader->pending : reader->position) + *offset; break;
    case APR_END: target = reader->known_size - *offset; break;
    default: return APR_EGENERAL;
  }
  *offset = target;
  if (target == reader->position) {
    LOG4C(COMMON_FILE_MODULE, LOG4C_DEBUG,
          log4c_sprintf("Seeking to current location %d on file %s", static_cast<int>(target), reader->path));
    reader->pending = -1;
    return APR_SUCCESS;
  }
  if (reader->shared) {
    reader->pending = target;
    return APR_SUCCESS;
  }
  if (seek_file(reader, target) != APR_SUCCESS) return APR_EGENERAL;
  reader->position = target;
  return APR_SUCCESS;
}

int common_file_seek_live(CommonFileReader *reader) {
  CommonFileWriterState state{};
  apr_int64_t size = writer_state(reader, &state) ? static_cast<apr_int64_t>(state.bytes_written)
                                                  : common_file_size(reader->file);
  reader->seek_base = std::max<apr_int64_t>(size - static_cast<apr_int64_t>(common_file_module.gap), 0);
  LOG4C(COMMON_FILE_MODULE, LOG4C_DEBUG,
        log4c_sprintf("Seeking to current location %d on file %s", static_cast<int>(reader->seek_base), reader->path));
  apr_int64_t offset = 0;
  return common_file_seek(reader, APR_SET, &offset);
}

int common_file_info(CommonFileReader *reader, apr_int64_t *size, int *is_final) {
  CommonFileWriterState state{};
  *is_final = 0;
  if (writer_state(reader, &state)) {
    *size = static_cast<apr_int64_t>(state.bytes_written);
    return APR_SUCCESS;
  }
  *is_final = 1;
  if (reader->cyclic) {
    log_at(LOG4C_WARN,
           log4c_sprintf("Size of cyclic file \"%s\" that is closed for writing may not be calculated correctly.",
                         reader->path));
    *size = -1;
    return APR_SUCCESS;
  }
  *size = common_file_size(reader->file);
  return APR_SUCCESS;
}

int common_file_reader_close(CommonFileReader *reader) {
  int status = APR_SUCCESS;
  if (apr_file_close(reader->file) != APR_SUCCESS) {
    log_at(LOG4C_ERROR, log4c_sprintf("Could not close file %s", reader->path));
    status = APR_EGENERAL;
  }
  apr_pool_destroy(reader->pool);
  return status;
}
