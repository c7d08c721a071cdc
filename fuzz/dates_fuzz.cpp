// EXIF dates from photos and ISO 8601 dates from feeds and tags: parsing
// any text stays inside its buffers, and an accepted ISO date survives a
// round trip through its text form.
#include <apr_time.h>

#include "CommonTime.h"
#include "FuzzSupport.h"
#include "MSImage.h"
#include "log4c_pool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Pool pool(fuzz_pool(), "fuzz");
  const std::string text = fuzz_text(data, size);
  apr_time_t time = 0;
  apr_time_exp_t exploded{};
  exif_date_parse(text.c_str(), &time, &exploded);
  const apr_time_t instant = time_iso8601_parse(text.c_str());
  if (instant >= 0) {
    apr_time_exp_t utc{};
    if (apr_time_exp_gmt(&utc, instant) == APR_SUCCESS) {
      const char *written = time_iso8601(pool, &utc);
      fuzz_check(time_iso8601_parse(written) == apr_time_sec(instant) * APR_USEC_PER_SEC ||
                     time_iso8601_parse(written) == instant,
                 "ISO 8601 round trip", text);
    }
  }
  duration_normalize(pool, text.c_str());
  return 0;
}
