// The "file" and "http" inputs: an AVIOContext reader over an APR file or an
// HTTP file (ranged requests), with the content guard, and the opening and
// closing of inputs through it.
//
// Each open input owns a ProtocolHandle in a pool of its own (a child of the
// module pool); the handle, the file and the reader's buffer all go when the
// input is closed. A read that fails marks the handle failed, and every later
// read of that handle fails without another attempt.
#include <apr_file_io.h>
#include <apr_strings.h>
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "CommonHTTPFile.h"
#include "CommonTextFile.h"
#include "CommonUrl.h"
#include "MSFFMPEG.h"
#include "MSFFMPEGInternal.h"
#include "MSFFMPEGLibrary.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr int kBufferSize = 32768;
constexpr int kMagicBytes = 12;
// Only the start of a stream is inspected for text documents.
constexpr std::int64_t kGuardedBytes = 2000;
// Probing needs headers and a few packets, never a file's whole body: past
// this many bytes an input reads as ended, so that a huge, padded or sparse
// file costs a bounded amount of I/O, time and memory.
constexpr std::int64_t kReadBudget = 32LL * 1024 * 1024;

struct ProtocolHandle {
  apr_pool_t *pool;
  apr_file_t *file;  // a local file, or
  HttpFile *http;    // an HTTP resource
  int failed;
  std::int64_t bytes_read;
  std::int64_t position;
  std::int64_t size;  // of a local file, -1 until asked: the probe asks often
  CancelCheck cancel;    // polled by the reads of an HTTP resource
  void *cancel_context;
};

// True when the chunk starts (after printable text) like a web page or an
// XML playlist or feed.
bool looks_like_document(const std::uint8_t *chunk, int size) {
  const char *text = reinterpret_cast<const char *>(chunk);
  return text_is_html(text, size, 0, 1) || text_is_playlist_xml(text, size, 0, 1);
}

// Reads from the handle's file or HTTP resource; an HTTP failure was logged
// where it happened.
apr_status_t read_source(ProtocolHandle *handle, std::uint8_t *buffer, apr_size_t *count) {
  if (!handle->http) return apr_file_read(handle->file, buffer, count);
  if (cancel_requested(handle->cancel, handle->cancel_context)) return COMMON_CANCELLED;
  return http_file_read(handle->http, buffer, count, handle->cancel, handle->cancel_context);
}

int read_packet(void *opaque, std::uint8_t *buffer, int size) {
  auto *handle = static_cast<ProtocolHandle *>(opaque);
  if (!handle || handle->failed) return AVERROR(EIO);
  if (handle->bytes_read >= kReadBudget) return AVERROR_EOF;
  apr_size_t count = static_cast<apr_size_t>(std::min<std::int64_t>(size, kReadBudget - handle->bytes_read));
  apr_status_t status = read_source(handle, buffer, &count);
  if (status == APR_EOF) return AVERROR_EOF;
  if (status != APR_SUCCESS && handle->http) {
    handle->failed = 1;
    return AVERROR(EIO);
  }
  if (status != APR_SUCCESS) {
    char reason[1024];
    LOG4C(FFMPEG_MODULE, LOG4C_ERROR,
          log4c_sprintf("Read failed, reason: %s", apr_strerror(status, reason, sizeof reason)));
    handle->failed = 1;
    return AVERROR(EIO);
  }
  if (handle->bytes_read < kGuardedBytes && looks_like_document(buffer, static_cast<int>(count))) {
    handle->failed = 1;
    return AVERROR_INVALIDDATA;
  }
  handle->bytes_read += count;
  handle->position += count;
  return static_cast<int>(count);
}

// The APR origin of the library's whence; false for one it does not know.
bool seek_origin(int whence, apr_seek_where_t *where) {
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      *where = APR_SET;
      return true;
    case SEEK_CUR:
      *where = APR_CUR;
      return true;
    case SEEK_END:
      *where = APR_END;
      return true;
    default:
      return false;
  }
}

std::int64_t seek_http(ProtocolHandle *handle, std::int64_t offset, int whence) {
  if (whence == AVSEEK_SIZE) return http_file_size(handle->http);
  apr_seek_where_t where = APR_SET;
  if (!seek_origin(whence, &where)) return -1;
  apr_int64_t position = offset;
  if (http_file_seek(handle->http, where, &position) != APR_SUCCESS) return -1;
  handle->position = position;
  return position;
}

std::int64_t seek(void *opaque, std::int64_t offset, int whence) {
  auto *handle = static_cast<ProtocolHandle *>(opaque);
  if (!handle) return -1;
  if (handle->http) return seek_http(handle, offset, whence);
  if (whence == AVSEEK_SIZE) {
    apr_finfo_t info;
    if (handle->size < 0 && apr_file_info_get(&info, APR_FINFO_SIZE, handle->file) == APR_SUCCESS) {
      handle->size = info.size;
    }
    return handle->size;
  }
  apr_seek_where_t where = APR_SET;
  if (!seek_origin(whence, &where)) return -1;
  apr_off_t position = offset;
  if (apr_file_seek(handle->file, where, &position) != APR_SUCCESS) return -1;
  handle->position = position;
  return position;
}

ProtocolHandle *handle_open(const char *path, CancelCheck cancel, void *cancel_context) {
  apr_pool_t *pool = pool_create_or_die(ffmpeg_module_pool(), FFMPEG_MODULE);
  auto *handle = static_cast<ProtocolHandle *>(apr_pcalloc(pool, sizeof(ProtocolHandle)));
  handle->pool = pool;
  handle->size = -1;
  handle->cancel = cancel;
  handle->cancel_context = cancel_context;
  if (url_is_http(path)) {
    if (http_file_open(pool, path, &handle->http, cancel, cancel_context) == APR_SUCCESS) return handle;
    apr_pool_destroy(pool);
    return nullptr;
  }
  if (apr_file_open(&handle->file, url_file_path(path), APR_FOPEN_READ | APR_FOPEN_BINARY,
                    APR_FPROT_OS_DEFAULT, pool) != APR_SUCCESS) {
    apr_pool_destroy(pool);
    return nullptr;
  }
  return handle;
}

void handle_close(ProtocolHandle *handle) {
  if (handle->http)
    http_file_close(handle->http);
  else
    apr_file_close(handle->file);
  apr_pool_destroy(handle->pool);
}

AVIOContext *reader_create(const FFmpegLibrary &av, ProtocolHandle *handle) {
  auto *buffer = static_cast<unsigned char *>(av.malloc(kBufferSize));
  if (!buffer) return nullptr;
  AVIOContext *io = av.io_alloc_context(buffer, kBufferSize, 0, handle, read_packet, nullptr, seek);
  if (!io) av.free(buffer);
  return io;
}

// *format: the demuxer the reader's first bytes name (see
// ffmpeg_demuxer_by_magic), else null. The bytes stay in the reader's buffer,
// so that the demuxer reads them again without another read of the file;
// false when the reader could not be put back to its start.
bool format_by_magic(const FFmpegLibrary &av, AVIOContext *io, const AVInputFormat **format) {
  unsigned char head[kMagicBytes];
  const int size = av.io_read(io, head, kMagicBytes);
  if (av.io_seek(io, 0, SEEK_SET) != 0) return false;
  const char *demuxer = size > 0 ? ffmpeg_demuxer_by_magic(head, size) : nullptr;
  *format = demuxer ? ffmpeg_demuxer(demuxer) : nullptr;
  return true;
}

void reader_free(const FFmpegLibrary &av, AVIOContext *io) {
  if (!io) return;
  av.freep(&io->buffer);
  av.io_context_free(&io);
}

}  // namespace

int ffmpeg_open_input(const char *path, const AVInputFormat *format, AVIOInterruptCB interrupt,
                      AVFormatContext **context, CancelCheck cancel, void *cancel_context) {
  *context = nullptr;
  const FFmpegLibrary *av = ffmpeg_library();
  if (!av) return AVERROR(ENOSYS);
  ProtocolHandle *handle = handle_open(path, cancel, cancel_context);
  if (!handle) return AVERROR(ENOENT);
  AVIOContext *io = reader_create(*av, handle);
  if (io && !format && !format_by_magic(*av, io, &format)) {
    reader_free(*av, io);
    handle_close(handle);
    return AVERROR(EIO);
  }
  AVFormatContext *input = io ? av->alloc_context() : nullptr;
  if (!input) {
    reader_free(*av, io);
    handle_close(handle);
    return AVERROR(ENOMEM);
  }
  input->pb = io;
  input->interrupt_callback = interrupt;
  int status = av->open_input(&input, path, format, nullptr);
  if (status < 0) {
    // avformat_open_input has freed the context but not a caller's reader.
    reader_free(*av, io);
    handle_close(handle);
    return status;
  }
  *context = input;
  return 0;
}

void ffmpeg_close_input(AVFormatContext **context) {
  if (!*context) return;
  AVIOContext *io = (*context)->pb;
  auto *handle = static_cast<ProtocolHandle *>(io->opaque);
  const FFmpegLibrary &av = ffmpeg_loaded();
  av.close_input(context);
  reader_free(av, io);
  handle_close(handle);
}

std::int64_t ffmpeg_input_bytes_read(const AVFormatContext *context) {
  return static_cast<const ProtocolHandle *>(context->pb->opaque)->bytes_read;
}
