// CommonFile: files that one thread writes while other threads read them as
// they grow, with an optional cyclic mode that wraps a long-running output
// at a size limit.
//
// common_file_init sets up the module once (its pool is a child of the one
// given and lives as long). One writer and any number of readers per path:
// the writers table is guarded by a read-write lock, each writer's byte
// count by its own lock; readers wait for data on one module-wide condition
// that writers signal. Each record lives in a pool of its own, a child of the
// pool given when it was made, destroyed by its close call; a record belongs
// to one thread at a time.
#pragma once

#include <apr_file_io.h>
#include <apr_pools.h>
#include <apr_time.h>

struct CommonFileWriter;
struct CommonFileReader;

// Asked before a growing file turns cyclic; non-zero allows it.
using CommonFileMayCycleFn = int (*)(CommonFileWriter *writer, void *user_data);
// Told after each write how many bytes the file has received in all.
using CommonFileWrittenFn = void (*)(void *user_data, apr_uint64_t bytes_written);
// Polled while a call waits; non-zero stops the wait (status 4).
using CommonFileWaitFn = int (*)(void *user_data);
// Fetches *length bytes at offset of a file whose writer has not got there yet
// (a download can fetch the range itself); *length receives the count read.
// Returns 0 or an error status.
using CommonFileRangeReader = int (*)(void *user_data, apr_int64_t offset, char *buffer,
                                      apr_size_t *length);

// Starts the module. Returns 0, or 20014 when the lock or the wait condition
// cannot be created or ERROR "Could not create hash table".
int common_file_init(apr_pool_t *pool, apr_uint64_t cyclic_size, apr_uint64_t gap,
                     apr_uint32_t cyclic_minutes);

// Frees the module's pool with its locks and writer table; no writer may be
// open. common_file_init may run again.
void common_file_term();

// Sets the cyclic age threshold from a configuration value in milliseconds.
void common_file_set_cyclic_age_ms(apr_uint32_t milliseconds);

// Creates or truncates path for writing and registers the writer under it.
// expected_size is -1 when unknown. Returns 0, or the status after ERROR
// "Unable to create and/or truncate file (%s), reason: %s".
int common_file_create(apr_pool_t *pool, const char *path, const char *content_type,
                       int cyclic_permitted, apr_int64_t expected_size, CommonFileWriter **writer,
                       CommonFileMayCycleFn may_cycle, void *user_data);

// Lets readers fetch ranges the writer has not reached (see CommonFileRangeReader).
void common_file_set_range_reader(CommonFileWriter *writer, CommonFileRangeReader reader,
                                  void *user_data);

// Appends *length bytes (wrapping a cyclic file); *length receives the count
// written. written (may be null) is told the new total. Returns 0, or 20014
// after ERROR "Could not write to flat file, check disk space...", "Could not
// write to cyclic file, check disk space..." or "Could not seek cyclic file to
// the begining".
int common_file_write(CommonFileWriter *writer, const void *data, apr_size_t *length,
                      CommonFileWrittenFn written, void *user_data);

// Unregisters the writer, closes the file and wakes waiting readers.
// Returns 0, or 20014 after ERROR "Could not close file %s".
int common_file_writer_close(CommonFileWriter *writer);

// Waits until the writer of path has written at least target bytes, for at
// most limit. Returns 0 when they are there, 70014 (APR_EOF) when no writer
// is (or remains) registered short of target, 70007 (APR_TIMEUP), or 4 when
// wait stopped it.
int common_file_wait_for_data(const char *path, apr_uint64_t target, apr_interval_time_t limit,
                              CommonFileWaitFn wait, void *user_data);

// Opens path for reading, retrying every 100 ms for up to 30 seconds. A file
// with a registered writer is shared: the open waits (up to 60 seconds) for
// its first min(expected size, 64,000) bytes. fill pads short reads with the
// content type's filler; fail makes unavailable data an error instead of
// filler. Returns 0, 4 (stopped by wait), or the status after ERROR "Could
// not open file %s, reason: %s" or "Open failed for %s".
int common_file_open(apr_pool_t *pool, const char *path, apr_int64_t expected_size, int fill,
                     int fail, CommonFileReader **reader, CommonFileWaitFn wait, void *user_data);

// Reads up to *length bytes at the read position; *length receives the count
// delivered. Returns 0; 70014 (APR_EOF) at the end of a plain file; 4 when
// wait stopped a wait; 20014 after a logged failure ("Could not read from
// file %s", "Could not seek in file %s", "Read failed for file %s, failing
// request").
int common_file_read(CommonFileReader *reader, void *buffer, apr_size_t *length,
                     CommonFileWaitFn wait, void *user_data);

// Moves the read position: origin APR_SET (from the seek base), APR_CUR or
// APR_END (backwards from the known size); *offset receives the new position.
// A shared reader resolves the move at its next read. Returns 0, or 20014
// (unknown origin; "Could not seek in file %s").
int common_file_seek(CommonFileReader *reader, apr_seek_where_t origin, apr_int64_t *offset);

// Starts a late reader of a live stream one gap behind the writer.
// Returns as common_file_seek.
int common_file_seek_live(CommonFileReader *reader);

// The size the file has so far and whether it is final (no writer). A cyclic
// file whose writer has gone has an unknown size (-1). Returns 0.
int common_file_info(CommonFileReader *reader, apr_int64_t *size, int *is_final);

// Size of an open regular file, 0 after ERROR "Could not get file size from
// file handle" (or "... since it is not a regular file (maybe it is a folder)").
apr_int64_t common_file_size(apr_file_t *file);

// Closes the reader. Returns 0, or 20014 after ERROR "Could not close file %s".
int common_file_reader_close(CommonFileReader *reader);

// Fills length bytes that stand in for missing data of a stream of
// content_type: MPEG program-stream padding packets for MPEG and DVD types
// (when longer than 5 bytes), zero bytes otherwise.
void common_file_filler(const char *content_type, char *buffer, apr_size_t length);
