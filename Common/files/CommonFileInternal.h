// CommonFile internals shared by its writer, reader and module sources.
//
// Lock order: the writers table lock, then a writer's byte-count lock; the
// wait mutex may be held while taking either, and is never taken while one
// of them is held.
#pragma once

#include <apr_hash.h>
#include <apr_thread_cond.h>
#include <apr_thread_mutex.h>
#include <apr_thread_rwlock.h>

#include "CommonFile.h"

inline constexpr const char *COMMON_FILE_MODULE = "CommonFile";

struct CommonFileWriter {
  apr_pool_t *pool;
  const char *path;
  const char *content_type;
  apr_file_t *file;
  apr_uint64_t bytes_written;  // logical size; keeps growing after a wrap
  int cyclic_permitted;
  apr_thread_rwlock_t *lock;  // guards bytes_written and cycle_length
  apr_uint64_t cycle_length;  // 0 until the file turns cyclic
  volatile apr_uint32_t cyclic_active;
  apr_int64_t expected_size;  // -1 when unknown
  apr_int64_t first_write_minute;  // -1 before the first write
  CommonFileMayCycleFn may_cycle;
  void *may_cycle_data;
  CommonFileRangeReader range_reader;
  void *range_reader_data;
};

struct CommonFileReader {
  apr_pool_t *pool;
  const char *path;
  const char *content_type;
  apr_file_t *file;
  apr_int64_t known_size;
  int cyclic;
  apr_uint64_t cycle_length;  // last seen; kept once the writer has gone
  apr_int64_t position;  // logical offset of the next byte read
  apr_int64_t pending;   // position still to reach, -1 when none
  apr_int64_t seek_base;
  int shared;
  int fill;
  int fail;
};

// A snapshot of a registered writer.
struct CommonFileWriterState {
  apr_uint64_t bytes_written;
  apr_uint64_t cycle_length;
  int cyclic;
  CommonFileRangeReader range_reader;
  void *range_reader_data;
  apr_int64_t expected_size;
  const char *content_type;  // copied only when a pool is given
};

struct CommonFileModule {
  apr_pool_t *pool;
  apr_thread_rwlock_t *lock;  // guards writers
  apr_hash_t *writers;        // path -> CommonFileWriter
  apr_uint64_t gap;
  apr_uint64_t cyclic_size;
  volatile apr_uint32_t cyclic_minutes;
  apr_thread_mutex_t *wait_mutex;
  apr_thread_cond_t *wait_cond;
};

extern CommonFileModule common_file_module;

// True, with a snapshot in state, when a writer is registered for path; the
// content type is copied into pool when one is given.
bool common_file_writer_state(const char *path, CommonFileWriterState *state,
                              apr_pool_t *pool = nullptr);

// Wakes every reader waiting for data.
void common_file_signal_readers();
