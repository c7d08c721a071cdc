// playlistsync: turns the playlists of an iTunes library file into a folder
// of .pls playlists with MD5 sidecars and keeps that folder in step.
//
// The exit status is the conversion's status (0 on success); the shell sees
// its low eight bits, and a failure whose low bits are zero exits with 1 so
// that it never reads as success. -h and --help print the usage text on
// standard output and exit with 0; any other wrong use (no arguments
// included) prints it on standard error and exits with 64, as sysexits'
// EX_USAGE. --version prints the version.
#include <apr_general.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>

#include "Common.h"
#include "CommonPath.h"
#include "MLVersion.h"
#include "PlatformExecutable.h"
#include "itunesConversionUtils.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "main";
constexpr const char *kUsage =
    "Usage:\n\nplaylistsync [--separate] <itunes file location.xml> <dir_to_sync>\n\n    --separate - an optional "
    "paramater that instructs playlistsync to break a playlist to two separate playlists in case it has both "
    "audio and video.\n\n";

int exit_status(int status) { return status != 0 && (status & 0xFF) == 0 ? 1 : status; }

constexpr int kUsageError = 64;

bool asks_for_help(const char *argument) {
  return strcasecmp(argument, "-h") == 0 || strcasecmp(argument, "--help") == 0;
}

int run(apr_pool_t *root, int argc, const char *const *argv) {
  if (argc == 2 && asks_for_help(argv[1])) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && ml_version_option("playlistsync", argv[1])) return 0;
  if (argc == 3 && !asks_for_help(argv[1])) return itunes_convert(root, argv[1], argv[2], 0);
  if (argc == 4 && strcasecmp(argv[1], "--separate") == 0) return itunes_convert(root, argv[2], argv[3], 1);
  std::fputs(kUsage, stderr);
  return kUsageError;
}

}  // namespace

int main(int argc, const char *const *argv) {
  if (apr_app_initialize(&argc, &argv, nullptr) != APR_SUCCESS) return -1;
  std::atexit(apr_terminate);
  apr_pool_t *root = pool_create_or_die(nullptr, kModule);
  const char *folder = exe_dir(root, argc, argv);
  if (const char *properties = platform_data_file(root, "itunes_log4j.properties")) log4c_configure(properties);
  LOG4C(kModule, LOG4C_INFO, "hello from main");
  int status = common_init(root, path_join(root, folder, nullptr, "iconv"));
  if (status == APR_SUCCESS) status = run(root, argc, argv);
  common_terminate();
  apr_pool_destroy(root);
  return exit_status(status);
}
