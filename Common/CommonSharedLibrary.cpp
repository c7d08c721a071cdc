// Opening a library set once with dlopen (see the header).
#include "CommonSharedLibrary.h"

#include <dlfcn.h>

#include "PlatformResidentPages.h"
#include "log4c.h"

namespace {

std::atomic<bool> g_release_after_open{false};

// The loader's reason for a failure, or null when the set is bound.
const char *open_and_bind(const SharedLibrary &library) {
  void *handle = nullptr;
  for (std::size_t i = 0; i < library.count; ++i) {
    handle = dlopen(library.sonames[i], RTLD_LAZY | RTLD_GLOBAL);
    if (handle == nullptr) return dlerror();
    if (g_release_after_open.load(std::memory_order_relaxed)) platform_release_clean_file_pages();
  }
  if (library.bind(handle)) return nullptr;
  const char *reason = dlerror();
  return reason != nullptr ? reason : "a function is missing";
}

}  // namespace

void shared_library_release_after_open() { g_release_after_open.store(true, std::memory_order_relaxed); }

bool shared_library_load(SharedLibrary &library) {
  if (library.ready.load(std::memory_order_acquire)) return true;
  std::lock_guard<std::mutex> lock(library.mutex);
  if (library.tried) return library.loaded;
  library.tried = true;
  const char *failure = open_and_bind(library);
  library.loaded = failure == nullptr;
  if (!library.loaded) {
    LOG4C(library.module, LOG4C_ERROR, log4c_sprintf(library.failure, failure));
    return false;
  }
  if (library.on_load != nullptr) library.on_load();
  library.ready.store(true, std::memory_order_release);
  return true;
}
