// playlistsync: turns the playlists of an iTunes library file into a folder
// of .pls playlists with MD5 sidecars and keeps that folder in step.
//
// The exit status is the conversion's status (0 on success); the shell sees
// its low eight bits, and a failure whose low bits are zero exits with 1 so
// that it never reads as success. The usage text exits with 0.
#include <apr_general.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>

#include "Common.h"
#include "CommonPath.h"
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

int usage() {
  std::fputs(kUsage, stdout);
  return 0;
}

int run(apr_pool_t *root, int argc, const char *const *argv) {
  if (argc < 2 || strcasecmp(argv[1], "-h") == 0) return usage();
  if (argc == 3) return itunes_convert(root, argv[1], argv[2], 0);
  if (argc == 4 && strcasecmp(argv[1], "--separate") == 0) return itunes_convert(root, argv[2], argv[3], 1);
  return usage();
}

}  // namespace

int main(int argc, const char *const *argv) {
  if (apr_app_initialize(&argc, &argv, nullptr) != APR_SUCCESS) return -1;
  std::atexit(apr_terminate);
  apr_pool_t *root = pool_create_or_die(nullptr, kModule);
  const char *folder = exe_dir(root, argc, argv);
  log4c_configure(path_join(root, folder, nullptr, "itunes_log4j.properties"));
  LOG4C(kModule, LOG4C_INFO, "hello from main");
  int status = common_init(root, path_join(root, folder, nullptr, "iconv"));
  if (status == APR_SUCCESS) status = run(root, argc, argv);
  common_terminate();
  apr_pool_destroy(root);
  return exit_status(status);
}
