// A photo's first bytes to the JPEG header reader: every read stays inside
// the bytes given, and an answer is a size MagickCore could give with dates
// that fit their buffers.
#include <cstring>

#include "FuzzSupport.h"
#include "MSImageHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ImageHeader header;
  if (!image_header_read(data, size, &header)) return 0;
  const std::string input(reinterpret_cast<const char *>(data), size);
  fuzz_check(header.width > 0 && header.width <= 8192 && header.height > 0 && header.height <= 8192, "size in range",
             input);
  fuzz_check(std::memchr(header.taken, '\0', sizeof header.taken) != nullptr &&
                 std::memchr(header.edited, '\0', sizeof header.edited) != nullptr,
             "dates terminated", input);
  return 0;
}
