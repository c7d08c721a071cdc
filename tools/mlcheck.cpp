// mlcheck: checks the integrity of the library of the installation folder it
// runs in and lists every violation, one per line.
//
// Exit status: 0 no violation, 1 violations found, 2 the check could not run.
#include <apr_file_info.h>

#include <cstdio>

#include "MLVersion.h"
#include "MSDB.h"
#include "MSDBCheck.h"
#include "ToolSupport.h"

namespace {

constexpr const char *kProgram = "mlcheck";

int check(ToolRun &run, const char *argv0) {
  apr_pool_t *pool = run.pool();
  char *cwd = nullptr;
  if (apr_filepath_get(&cwd, 0, pool) != APR_SUCCESS) {
    std::fprintf(stderr, "%s: cannot read the current folder\n", kProgram);
    return 2;
  }
  const char *content_db = nullptr;
  const char *admin_db = nullptr;
  if (!run.library_paths(cwd, argv0, &content_db, &admin_db)) return 2;
  MediaLibraryDB *db = nullptr;
  if (msdb_init(pool, content_db, admin_db, &db) != APR_SUCCESS) return 2;
  apr_array_header_t *violations = nullptr;
  int status = msdb_check(pool, db, &violations);
  msdb_terminate(db);
  if (status != APR_SUCCESS) return 2;
  for (int i = 0; i < violations->nelts; ++i) std::printf("%s\n", APR_ARRAY_IDX(violations, i, const char *));
  std::printf("%d violation%s in %s\n", violations->nelts, violations->nelts == 1 ? "" : "s", content_db);
  return violations->nelts == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && ml_version_option(kProgram, argv[1])) return 0;
  if (argc != 1) {
    std::fprintf(stderr, "usage: %s (run from an installation folder)\n", kProgram);
    return 2;
  }
  ToolRun run(kProgram);
  if (!run.ok()) return 2;
  return check(run, argv[0]);
}
