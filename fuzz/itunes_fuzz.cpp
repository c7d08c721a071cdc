// An iTunes library file of any content: reading either refuses it or gives
// tracks and playlists whose texts stay within their caps.
#include <cstring>

#include "FuzzSupport.h"
#include "itunesLibrary.h"
#include "log4c_pool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Pool pool(fuzz_pool(), "fuzz");
  const std::string path = fuzz_write("library.xml", data, size);
  ItunesLibrary library;
  if (itunes_library_read(pool, path.c_str(), &library) != 0) return 0;
  for (apr_hash_index_t *at = apr_hash_first(pool, library.playlists); at != nullptr; at = apr_hash_next(at)) {
    const void *name = nullptr;
    apr_hash_this(at, &name, nullptr, nullptr);
    fuzz_check(std::strlen(static_cast<const char *>(name)) <= ITUNES_MAX_TEXT, "playlist name over its cap", path);
  }
  return 0;
}
