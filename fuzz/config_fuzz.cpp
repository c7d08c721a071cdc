// A configuration file of any content: loading either refuses it or gives a
// record that can be read and dropped again.
#include "FuzzSupport.h"
#include "MSConfig.h"
#include "log4c_pool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Pool pool(fuzz_pool(), "fuzz");
  fuzz_write("config.xml", data, size);
  if (msconfig_load(pool, fuzz_dir().c_str(), "fuzz") == 0) {
    const MSConfig *config = nullptr;
    if (msconfig_get(&config) == 0) msconfig_release();
    msconfig_read_header("audio/mpeg", 1);
  }
  msconfig_unload();
  return 0;
}
