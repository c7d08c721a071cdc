// Binding of the ffmpeg functions with dlopen and dlsym. The handles stay
// open for the life of the process: the library keeps global state (its log
// callback, registered formats) that must not go away under a caller.
#include "MSFFMPEGLibrary.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

#include "MSFFMPEGInternal.h"
#include "log4c.h"

namespace {

#define ML_SONAME(lib, major) "lib" lib ".so." AV_STRINGIFY(major)

// In dependency order, so that each finds the one before it loaded.
constexpr const char *kSonames[] = {
    ML_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR),
    ML_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR),
    ML_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR),
};

std::mutex g_mutex;
FFmpegLibrary g_library;
bool g_tried = false;
bool g_loaded = false;
// Set once the functions are bound, so that later calls take no lock.
std::atomic<const FFmpegLibrary *> g_ready{nullptr};
FFmpegLogCallback g_log = nullptr;

template <typename Fn>
bool bind(void *handle, const char *name, Fn *fn) {
  *fn = reinterpret_cast<Fn>(dlsym(handle, name));
  return *fn != nullptr;
}

// dlsym on the last library also searches the ones it depends on.
bool bind_all(void *handle) {
  FFmpegLibrary &l = g_library;
  return bind(handle, "av_dict_get", &l.dict_get) && bind(handle, "av_malloc", &l.malloc) &&
         bind(handle, "av_free", &l.free) && bind(handle, "av_freep", &l.freep) &&
         bind(handle, "av_log_set_callback", &l.log_set_callback) &&
         bind(handle, "av_log_default_callback", &l.log_default_callback) &&
         bind(handle, "avcodec_get_name", &l.codec_get_name) &&
         bind(handle, "av_find_input_format", &l.find_input_format) &&
         bind(handle, "avformat_alloc_context", &l.alloc_context) &&
         bind(handle, "avformat_open_input", &l.open_input) &&
         bind(handle, "avformat_find_stream_info", &l.find_stream_info) &&
         bind(handle, "avformat_close_input", &l.close_input) &&
         bind(handle, "avio_alloc_context", &l.io_alloc_context) &&
         bind(handle, "avio_context_free", &l.io_context_free) && bind(handle, "avio_size", &l.io_size);
}

const char *load() {
  void *handle = nullptr;
  for (const char *soname : kSonames) {
    handle = dlopen(soname, RTLD_NOW | RTLD_GLOBAL);
    if (handle == nullptr) return dlerror();
  }
  return bind_all(handle) ? nullptr : dlerror();
}

void install_log() { g_library.log_set_callback(g_log != nullptr ? g_log : g_library.log_default_callback); }

}  // namespace

const FFmpegLibrary *ffmpeg_library() {
  if (const FFmpegLibrary *ready = g_ready.load(std::memory_order_acquire)) return ready;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_tried) {
    g_tried = true;
    const char *failure = load();
    g_loaded = failure == nullptr;
    if (g_loaded) {
      install_log();
      g_ready.store(&g_library, std::memory_order_release);
    } else {
      LOG4C(FFMPEG_MODULE, LOG4C_ERROR, log4c_sprintf("Could not load the ffmpeg libraries: %s", failure));
    }
  }
  return g_loaded ? &g_library : nullptr;
}

void ffmpeg_library_set_log(FFmpegLogCallback callback) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_log = callback;
  if (g_loaded) install_log();
}
