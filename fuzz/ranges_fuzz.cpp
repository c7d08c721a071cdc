// Byte ranges from a client's Range header and "first - last" texts: a
// parse that succeeds gives an ordered range.
#include "CommonHttp.h"
#include "CommonNumbers.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text = fuzz_text(data, size);
  apr_int64_t first = 0, last = 0;
  if (http_range_parse(text.c_str(), &first, &last)) {
    fuzz_check(last == 0 || (first >= 0 && first <= last), "range out of order", text);
  }
  if (parse_int64_range(text.c_str(), &first, &last)) {
    apr_int64_t again_first = 0, again_last = 0;
    fuzz_check(parse_int64_range(text.c_str(), &again_first, &again_last) && again_first == first &&
                   again_last == last,
               "range parse not repeatable", text);
  }
  return 0;
}
