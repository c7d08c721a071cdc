// mlsetup DIR [CONFIG]: creates an installation folder with an empty library.
//
// DIR receives config.xml (a copy of CONFIG, by default the example
// configuration of this source tree), log4cxx.properties (logging into
// logs/medialib.log), data/ with the content database named
// by the configuration and data/db/admin.db, both made from the schema,
// data/download/ and logs/. The databases and the folders that hold them are
// open to their owner only: the admin database keeps account passwords. A
// folder that already holds a configuration or a data folder is left
// untouched. Exit status: 0 done, 1 failure, 2 usage.
#include <apr_file_info.h>
#include <apr_file_io.h>
#include <apr_strings.h>

#include <cstdio>
#include <initializer_list>

#include "CommonPath.h"
#include "MSConfig.h"
#include "MSDBSchema.h"
#include "ToolSupport.h"

namespace {

constexpr const char *kProgram = "mlsetup";
constexpr const char *kExampleConfig = ML_EXAMPLE_CONFIG;
constexpr const char *kExampleLogging = ML_EXAMPLE_LOGGING;

bool exists(apr_pool_t *pool, const char *path) {
  apr_finfo_t info;
  return apr_stat(&info, path, APR_FINFO_TYPE, pool) == APR_SUCCESS;
}

constexpr apr_fileperms_t kOwnerOnly = APR_FPROT_UREAD | APR_FPROT_UWRITE | APR_FPROT_UEXECUTE;

bool make_dir(apr_pool_t *pool, const char *path, apr_fileperms_t permissions = APR_FPROT_OS_DEFAULT) {
  apr_status_t status = apr_dir_make_recursive(path, permissions, pool);
  if (status == APR_SUCCESS) return true;
  char reason[256];
  std::fprintf(stderr, "%s: cannot create %s: %s\n", kProgram, path, apr_strerror(status, reason, sizeof reason));
  return false;
}

bool copy_file(apr_pool_t *pool, const char *from, const char *to) {
  apr_status_t status = apr_file_copy(from, to, APR_FPROT_FILE_SOURCE_PERMS, pool);
  if (status == APR_SUCCESS) return true;
  char reason[256];
  std::fprintf(stderr, "%s: cannot copy %s to %s: %s\n", kProgram, from, to, apr_strerror(status, reason, sizeof reason));
  return false;
}

int setup(ToolRun &run, const char *dir, const char *config, const char *argv0) {
  apr_pool_t *pool = run.pool();
  const char *config_copy = apr_pstrcat(pool, dir, "/config.xml", nullptr);
  const char *data = apr_pstrcat(pool, dir, "/data", nullptr);
  if (exists(pool, config_copy) || exists(pool, data)) {
    std::fprintf(stderr, "%s: %s already holds a library (config.xml or data/ exists); nothing was changed\n", kProgram,
                 dir);
    return 1;
  }
  if (!make_dir(pool, dir)) return 1;
  if (!copy_file(pool, config, config_copy) ||
      !copy_file(pool, kExampleLogging, apr_pstrcat(pool, dir, "/log4cxx.properties", nullptr)))
    return 1;
  const char *content_db = nullptr;
  const char *admin_db = nullptr;
  if (!run.library_paths(dir, argv0, &content_db, &admin_db)) return 1;
  const MSConfigPaths *paths = msconfig_paths();
  for (const char *folder : std::initializer_list<const char *>{paths->data_dir, path_dirname(pool, content_db),
                                                                path_dirname(pool, admin_db)}) {
    if (!make_dir(pool, folder, kOwnerOnly)) return 1;
  }
  for (const char *folder : std::initializer_list<const char *>{paths->download_dir, paths->logs_dir}) {
    if (!make_dir(pool, folder)) return 1;
  }
  if (msdb_schema_create(pool, content_db, admin_db) != APR_SUCCESS) return 1;
  std::printf("Library created in %s (content database %s, admin database %s)\n", dir, content_db, admin_db);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s DIR [CONFIG]\n", kProgram);
    return 2;
  }
  ToolRun run(kProgram);
  if (!run.ok()) return 1;
  return setup(run, argv[1], argc == 3 ? argv[2] : kExampleConfig, argv[0]);
}
