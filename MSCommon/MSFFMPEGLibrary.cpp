// Binding of the ffmpeg functions (see CommonSharedLibrary).
#include "MSFFMPEGLibrary.h"

#include <iterator>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "MSFFMPEGInternal.h"
#include "CommonSharedLibrary.h"

namespace {

#define ML_SONAME(lib, major) "lib" lib ".so." AV_STRINGIFY(major)

// In dependency order, so that each finds the one before it loaded.
constexpr const char *kSonames[] = {
    ML_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR),
    ML_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR),
    ML_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR),
};

FFmpegLibrary g_library;
FFmpegLogCallback g_log = nullptr;
// The demuxers looked up so far, by the name asked for.
std::mutex g_demuxers_lock;
std::vector<std::pair<std::string, const AVInputFormat *>> g_demuxers;

bool bind_all(void *handle) {
  FFmpegLibrary &l = g_library;
  const auto bind = [handle](const char *name, auto *fn) { return shared_library_bind(handle, name, fn); };
  return bind("av_dict_get", &l.dict_get) && bind("av_malloc", &l.malloc) && bind("av_free", &l.free) &&
         bind("av_freep", &l.freep) && bind("av_log_set_callback", &l.log_set_callback) &&
         bind("av_log_default_callback", &l.log_default_callback) && bind("avcodec_get_name", &l.codec_get_name) &&
         bind("avcodec_profile_name", &l.profile_name) &&
         bind("av_find_input_format", &l.find_input_format) && bind("avformat_alloc_context", &l.alloc_context) &&
         bind("avformat_open_input", &l.open_input) && bind("avformat_find_stream_info", &l.find_stream_info) &&
         bind("avformat_close_input", &l.close_input) && bind("avio_alloc_context", &l.io_alloc_context) &&
         bind("avio_context_free", &l.io_context_free) && bind("avio_size", &l.io_size) &&
         bind("avio_read", &l.io_read) && bind("av_rescale_q", &l.rescale_q) && bind("avio_seek", &l.io_seek);
}

void install_log() { g_library.log_set_callback(g_log != nullptr ? g_log : g_library.log_default_callback); }

SharedLibrary g_shared{kSonames, std::size(kSonames), bind_all, install_log, FFMPEG_MODULE,
                       "Could not load the ffmpeg libraries: %s"};

}  // namespace

const FFmpegLibrary *ffmpeg_library() { return shared_library_load(g_shared) ? &g_library : nullptr; }

void ffmpeg_library_set_log(FFmpegLogCallback callback) {
  std::lock_guard<std::mutex> lock(g_shared.mutex);
  g_log = callback;
  if (g_shared.loaded) install_log();
}

const AVInputFormat *ffmpeg_demuxer(const char *name) {
  const FFmpegLibrary *av = ffmpeg_library();
  if (av == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(g_demuxers_lock);
  for (const auto &[known, demuxer] : g_demuxers) {
    if (known == name) return demuxer;
  }
  const AVInputFormat *demuxer = av->find_input_format(name);
  g_demuxers.emplace_back(name, demuxer);
  return demuxer;
}
