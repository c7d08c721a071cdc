// MSFFMPEG: sets the ffmpeg libraries up once per process and opens their
// inputs through readers of our own.
//
// ffmpeg_init routes the library's log messages into logger "MSFFMPEG" and
// makes the module pool (a child of the pool it is given, which must outlive
// ffmpeg_term); every open input gets a pool of its own under it. Local files
// are read through an AVIOContext reader with a content guard that refuses web
// pages and playlists, so that they are never taken for media, and with a
// budget: after 32 MiB an input reads as ended, whatever the file's size. Each
// input keeps its own reader, budget and cancel check: inputs may be open on
// several threads at once.
#pragma once

#include <apr_pools.h>

#include <cstdint>

extern "C" {
#include <libavformat/avformat.h>
}

#include "CommonCancel.h"

// Creates the module pool (FATAL "Unable to create memory pool for this file,
// reason: %s, shutting down..." and exit -1 on failure) and installs the log
// hook. ffmpeg 5 registers its formats and locks itself, so there is nothing
// else to set up.
void ffmpeg_init(apr_pool_t *pool);
// Restores the library's default log callback and forgets the module pool.
void ffmpeg_term();

// Opens path (a plain path or a "file:" URL) through our file reader with
// format forced (null: named by the file's first bytes, else detected) and
// interrupt installed on the new context; cancel (may be null) is polled by the reads of an HTTP input, which then
// fail.
// Returns 0 and *context, or a negative ffmpeg error (the reader failed to
// open the file, the content guard refused it, or no format was found).
int ffmpeg_open_input(const char *path, const AVInputFormat *format, AVIOInterruptCB interrupt,
                      AVFormatContext **context, CancelCheck cancel = nullptr, void *cancel_context = nullptr);
// The name of the demuxer that the first size bytes of a file name without
// doubt (FLAC, Ogg, ISO media but JPEG 2000 and JPEG XL), as ffmpeg's own
// detection would choose it; null when only detection can tell.
const char *ffmpeg_demuxer_by_magic(const unsigned char *head, int size);
// Closes an input opened by ffmpeg_open_input, with its reader; sets *context
// to null.
void ffmpeg_close_input(AVFormatContext **context);
// Bytes the reader of an input opened by ffmpeg_open_input has read so far.
std::int64_t ffmpeg_input_bytes_read(const AVFormatContext *context);
