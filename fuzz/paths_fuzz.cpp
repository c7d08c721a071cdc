// Paths from shares, playlists and feeds: normalisation never grows a path
// past its input's reach and is idempotent; the helpers that take a path
// apart stay inside it.
#include <cstring>

#include "CommonPath.h"
#include "FuzzSupport.h"
#include "log4c_pool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Pool pool(fuzz_pool(), "fuzz");
  const std::string text = fuzz_text(data, size);
  for (PathRule rule : {PATH_RULE_POSIX, PATH_RULE_WINDOWS}) {
    const char *once = path_canonical_rule(pool, text.c_str(), rule);
    if (once == nullptr) continue;
    const char *twice = path_canonical_rule(pool, once, rule);
    fuzz_check(twice != nullptr && std::strcmp(once, twice) == 0, "canonical form not idempotent", text);
  }
  const char *last = path_last_component(text.c_str());
  fuzz_check(last >= text.c_str() && last <= text.c_str() + text.size(), "last component outside the path", text);
  path_dirname(pool, text.c_str());
  path_extension(text.c_str(), 0);
  path_extension(text.c_str(), 1);
  path_is_absolute(text.c_str());
  url_is_remote(text.c_str());
  path_join(pool, text.c_str(), "sub", "name");
  return 0;
}
