// previewgrab: writes the thumbnail of a file, as the desktop would show it,
// at a given size as a JPEG file. The media server runs it once per
// thumbnail and reads only its exit status: 0 when the JPEG was written,
// 20014 on any failure (a shell reads its low eight bits, 46), 1 for the
// usage text. Logs through thumb_log4j.properties beside the program or in
// the installed data folder.
#include <apr_general.h>
#include <strings.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "CommonTagLib.h"
#include "MLVersion.h"
#include "MSFFMPEG.h"
#include "WinThumbnailExtractor.h"
#include "PlatformExecutable.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "main";
constexpr const char *kUsage = "Usage:\n\n ThumbnailAPI <filename> <outthumbname> <size>\n\n";

// A decimal number as the C library reads it (text that is not one gives
// 0), held to the range of int instead of overflowing.
int size_argument(const char *text) {
  long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

int main(int argc, const char *const *argv) {
  if (argc == 2 && ml_version_option("previewgrab", argv[1])) return 0;
  if (argc != 4 || strcasecmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, stdout);
    return 1;
  }
  if (apr_app_initialize(&argc, &argv, nullptr) != APR_SUCCESS) return -1;
  std::atexit(apr_terminate);
  apr_pool_t *root = pool_create_or_die(nullptr, kModule);
  if (const char *properties = platform_data_file(root, "thumb_log4j.properties")) log4c_configure(properties);
  LOG4C(kModule, LOG4C_INFO, "hello from main");
  ffmpeg_init(root);
  taglib_debug_on();
  int status = thumbnail_extract(root, argv[1], argv[2], size_argument(argv[3]));
  taglib_debug_off();
  ffmpeg_term();
  apr_pool_destroy(root);
  return status;
}
