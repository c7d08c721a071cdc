// playcheck: prints, as one line of XML, the decoders this machine can use
// and whether the library file behind each is present, for the media server
// to judge which formats it can play. "--version" alone prints the version;
// other arguments are ignored; the exit
// status is 0, also when the list cannot be had (the line is then
// "(null)"). A decoder's library file may be named in the registry hive
// "registry/HKEY_CLASSES_ROOT" beside the program (see PlaycheckFilters).
#include <apr_general.h>

#include <cstdio>
#include <cstdlib>

#include "CommonPath.h"
#include "MLVersion.h"
#include "PlaycheckDocument.h"
#include "PlaycheckFilters.h"
#include "log4c_pool.h"

int main(int argc, const char *const *argv) {
  if (argc == 2 && ml_version_option("playcheck", argv[1])) return 0;
  if (apr_app_initialize(&argc, &argv, nullptr) != APR_SUCCESS) return -1;
  std::atexit(apr_terminate);
  apr_pool_t *root = pool_create_or_die(nullptr, "playcheckMain");
  const char *hive_folder = path_join(root, exe_dir(root, argc, argv), nullptr, "registry");
  apr_array_header_t *filters = nullptr;
  playcheck_filters(root, hive_folder, &filters);
  std::printf("%s\n", playcheck_document(root, filters));
  apr_pool_destroy(root);
  return 0;
}
