// CommonSharedLibrary: shared libraries opened the first time one of their
// functions is needed, once per process and from any thread.
//
// Libraries like ffmpeg and MagickCore bring dozens of others with them;
// linked into a program, the dynamic loader maps and relocates all of them at
// every start, though most runs (a listing, a refresh that finds nothing
// changed) never call them. A set is opened by sonames in dependency order
// (RTLD_GLOBAL, so that each finds the ones before it; RTLD_LAZY, though
// Debian links ffmpeg and most of the libraries it brings to be bound whole
// when opened), its functions are
// bound from the last handle (dlsym searches that library's dependencies
// too), and the handles stay open for the life of the process: the
// libraries keep global state that must not go away under a caller.
#pragma once

#include <dlfcn.h>

#include <atomic>
#include <cstddef>
#include <mutex>

struct SharedLibrary {
  SharedLibrary(const char *const *sonames_, std::size_t count_, bool (*bind_)(void *), void (*on_load_)(),
                const char *module_, const char *failure_)
      : sonames(sonames_), count(count_), bind(bind_), on_load(on_load_), module(module_), failure(failure_) {}

  const char *const *sonames;
  std::size_t count;
  bool (*bind)(void *handle);  // binds the functions from the last handle; false when one is missing
  void (*on_load)();           // runs under the lock once the functions are bound; may be null
  const char *module;          // logger of the failure
  const char *failure;         // ERROR format of the failure, with one %s for the loader's reason
  // State of the one attempt; held under mutex, ready also read without it.
  std::mutex mutex;
  bool tried = false;
  bool loaded = false;
  std::atomic<bool> ready{false};
};

// True when the library's functions are bound, opening it on the first call
// (a failure is logged once and stays a failure).
bool shared_library_load(SharedLibrary &library);

// For a program with one thread that opens a large set (the stream prober):
// from now on, after each library of a set is opened, the clean pages of
// read-only mappings are given back (platform_release_clean_file_pages), so
// that the pages the loader touched once do not add up over a set's loads
// in the resident set; what is used again comes back from the page cache.
void shared_library_release_after_open();

// Binds *fn to the function name of handle; false when there is none.
template <typename Fn>
bool shared_library_bind(void *handle, const char *name, Fn *fn) {
  *fn = reinterpret_cast<Fn>(dlsym(handle, name));
  return *fn != nullptr;
}
