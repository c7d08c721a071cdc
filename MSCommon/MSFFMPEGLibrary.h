// MSFFMPEGLibrary: the ffmpeg functions the program calls, bound when first
// needed.
//
// ffmpeg's libraries bring well over a hundred others with them; linked into
// the program, the dynamic loader spent about 90 ms relocating them at every
// start, though most runs (a listing, a refresh that finds nothing changed)
// never open a media file. They are opened instead, by the sonames of the
// headers the program was built with, the first time a function is needed,
// once per process and from any thread. The log callback is kept here too,
// so that it reaches the library whenever that is loaded.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

struct FFmpegLibrary {
  decltype(&av_dict_get) dict_get;
  decltype(&av_malloc) malloc;
  decltype(&av_free) free;
  decltype(&av_freep) freep;
  decltype(&av_log_set_callback) log_set_callback;
  decltype(&av_log_default_callback) log_default_callback;
  decltype(&avcodec_get_name) codec_get_name;
  decltype(&avcodec_profile_name) profile_name;
  decltype(&av_find_input_format) find_input_format;
  decltype(&avformat_alloc_context) alloc_context;
  decltype(&avformat_open_input) open_input;
  decltype(&avformat_find_stream_info) find_stream_info;
  decltype(&avformat_close_input) close_input;
  decltype(&avio_alloc_context) io_alloc_context;
  decltype(&avio_context_free) io_context_free;
  decltype(&avio_size) io_size;
  decltype(&avio_read) io_read;
  decltype(&av_rescale_q) rescale_q;
  decltype(&avio_seek) io_seek;
};

// The bound functions, loading the libraries on the first call; null when
// they cannot be loaded (ERROR "Could not load the ffmpeg libraries: %s" on
// "MSFFMPEG", logged once).
const FFmpegLibrary *ffmpeg_library();

// For code that holds something the library made (an open input, a stream):
// the library is loaded then.
inline const FFmpegLibrary &ffmpeg_loaded() { return *ffmpeg_library(); }

// The log callback the library is to use (null: its default), installed now
// if the library is loaded, or as soon as it is.
using FFmpegLogCallback = void (*)(void *, int, const char *, va_list);
void ffmpeg_library_set_log(FFmpegLogCallback callback);

// The demuxer of that name (see av_find_input_format), null when the library
// has none or is not loaded. Each name is looked up once per process: the
// library compares it with every demuxer's names at each look-up, and a
// scan asks for the same few for every file. Any thread.
const AVInputFormat *ffmpeg_demuxer(const char *name);
