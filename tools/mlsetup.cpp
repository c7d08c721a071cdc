// mlsetup DIR [CONFIG]: creates an installation folder with an empty library.
//
// DIR receives config.xml (a copy of CONFIG, by default the example
// configuration that ships in the data folder: share/zentoria/ of the
// installation, or of the build tree), log4cxx.properties (logging into
// logs/medialib.log), data/ with the content database named
// by the configuration and data/db/admin.db, both made from the schema,
// data/download/ and logs/. The databases and the folders that hold them are
// open to their owner only: the admin database keeps account passwords. A
// folder that already holds a configuration or a data folder is left
// untouched. A failure removes everything this run made (the folder itself
// when it made it), so that the same command can be tried again. Exit
// status: 0 done, 1 failure, 2 usage.
#include <apr_file_info.h>
#include <apr_file_io.h>
#include <apr_strings.h>

#include <cstdio>
#include <initializer_list>
#include <vector>

#include "CommonFolderSync.h"
#include "CommonPath.h"
#include "MLVersion.h"
#include "MSConfig.h"
#include "MSDBSchema.h"
#include "PlatformExecutable.h"
#include "ToolSupport.h"

namespace {

constexpr const char *kProgram = "mlsetup";

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

// An example file of the data folder; null (after a message) when missing.
const char *example_file(apr_pool_t *pool, const char *name) {
  const char *path = platform_data_file(pool, name);
  if (path == nullptr) std::fprintf(stderr, "%s: cannot find the example %s beside the program\n", kProgram, name);
  return path;
}

// What a run creates, removed again (the last first) unless the run
// succeeded, so that a failed run leaves DIR as it found it. A path that
// existed before is never noted, so never removed.
class MadeFiles {
 public:
  explicit MadeFiles(apr_pool_t *pool) : pool_(pool) {}
  ~MadeFiles() {
    if (kept_) return;
    for (auto path = made_.rbegin(); path != made_.rend(); ++path) remove(*path);
  }
  MadeFiles(const MadeFiles &) = delete;
  MadeFiles &operator=(const MadeFiles &) = delete;

  // Called before path is created.
  void note(const char *path) {
    if (!exists(pool_, path)) made_.push_back(path);
  }
  void keep() { kept_ = true; }

 private:
  void remove(const char *path) {
    apr_finfo_t info;
    if (apr_stat(&info, path, APR_FINFO_TYPE, pool_) != APR_SUCCESS) return;
    if (info.filetype == APR_DIR)
      folder_remove(pool_, path);
    else
      apr_file_remove(path, pool_);
  }

  apr_pool_t *pool_;
  std::vector<const char *> made_;
  bool kept_ = false;
};

int setup(ToolRun &run, const char *dir, const char *config, const char *argv0) {
  apr_pool_t *pool = run.pool();
  const char *config_copy = apr_pstrcat(pool, dir, "/config.xml", nullptr);
  const char *data = apr_pstrcat(pool, dir, "/data", nullptr);
  if (exists(pool, config_copy) || exists(pool, data)) {
    std::fprintf(stderr, "%s: %s already holds a library (config.xml or data/ exists); nothing was changed\n", kProgram,
                 dir);
    return 1;
  }
  const char *logging = example_file(pool, "log4cxx.properties");
  if (config == nullptr) config = example_file(pool, "config.xml");
  if (logging == nullptr || config == nullptr) return 1;
  MadeFiles made(pool);
  made.note(dir);
  if (!make_dir(pool, dir)) return 1;
  const char *logging_copy = apr_pstrcat(pool, dir, "/log4cxx.properties", nullptr);
  made.note(config_copy);
  made.note(logging_copy);
  if (!copy_file(pool, config, config_copy) || !copy_file(pool, logging, logging_copy)) return 1;
  const char *content_db = nullptr;
  const char *admin_db = nullptr;
  if (!run.library_paths(dir, argv0, &content_db, &admin_db)) return 1;
  const MSConfigPaths *paths = msconfig_paths();
  for (const char *folder : std::initializer_list<const char *>{paths->data_dir, path_dirname(pool, content_db),
                                                                path_dirname(pool, admin_db)}) {
    made.note(folder);
    if (!make_dir(pool, folder, kOwnerOnly)) return 1;
  }
  for (const char *folder : std::initializer_list<const char *>{paths->download_dir, paths->logs_dir}) {
    made.note(folder);
    if (!make_dir(pool, folder)) return 1;
  }
  made.note(content_db);
  made.note(admin_db);
  if (msdb_schema_create(pool, content_db, admin_db) != APR_SUCCESS) return 1;
  made.keep();
  std::printf("Library created in %s (content database %s, admin database %s)\n", dir, content_db, admin_db);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && ml_version_option(kProgram, argv[1])) return 0;
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s DIR [CONFIG]\n", kProgram);
    return 2;
  }
  ToolRun run(kProgram);
  if (!run.ok()) return 1;
  return setup(run, argv[1], argc == 3 ? argv[2] : nullptr, argv[0]);
}
