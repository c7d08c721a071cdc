// Feeds arbitrary bytes to the XML feed reader, as a feed and as a
// Windows Media playlist (whose sources are resolved against its path).
#include "MetaFileFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz_pool();
  for (const char *extension : {"rss", "wpl"}) {
    std::string path = fuzz_write((std::string("input.") + extension).c_str(), data, size);
    metafile_parse(media_type_by_extension(extension, -1), METAFILE_OPTION_ENCLOSURES, path.c_str(),
                   fuzz_read_levels, nullptr, nullptr, nullptr);
  }
  return 0;
}
