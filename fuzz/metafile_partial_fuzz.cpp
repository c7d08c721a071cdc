// Feeds the start of a document, cut anywhere (the first two bytes say
// where), to the feed and playlist readers as a feed still arriving is read
// (METAFILE_OPTION_PARTIAL), then the whole document: the start of a feed
// never reports more entries than the whole of it.
#include <cstdlib>

#include "MetaFileFuzz.h"

namespace {

int count_entry(const MetaFileLevels *levels, MetaFileParser *parser, void *count) {
  ++*static_cast<int *>(count);
  return fuzz_read_levels(levels, parser, nullptr);
}

int entries(const char *extension, const std::string &path, int options) {
  int count = 0;
  metafile_parse_copy(media_type_by_extension(extension, -1), METAFILE_OPTION_ENCLOSURES | options, path.c_str(),
                      nullptr, count_entry, &count, nullptr, nullptr);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  fuzz_pool();
  const std::size_t cut = (data[0] | static_cast<std::size_t>(data[1]) << 8) % (size - 1);
  data += 2;
  size -= 2;
  for (const char *extension : {"rss", "m3u"}) {
    const std::string whole = fuzz_write((std::string("whole.") + extension).c_str(), data, size);
    const std::string part = fuzz_write((std::string("part.") + extension).c_str(), data, cut);
    const int from_part = entries(extension, part, METAFILE_OPTION_PARTIAL);
    // A playlist's character set is guessed from its first bytes, which a
    // cut may change; XML says its own.
    if (entries(extension, whole, 0) < from_part && extension[0] == 'r') std::abort();
  }
  return 0;
}
