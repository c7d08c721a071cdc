// Feeds arbitrary bytes to the text playlist reader (M3U, extended M3U and
// PLS, chosen by the first line).
#include "MetaFileFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz_pool();
  std::string path = fuzz_write("input.m3u", data, size);
  metafile_parse(media_type_by_extension("m3u", -1), 0, path.c_str(), fuzz_read_levels, nullptr, nullptr, nullptr);
  return 0;
}
