// mlreg: reads and writes string values of a registry hive file (the
// file-backed registry of platform/), such as the hive beside playcheck that
// names the library files of decoders.
//
//   mlreg HIVE get KEY [NAME]          prints the value ("" or none: the default value)
//   mlreg HIVE set KEY NAME VALUE      creates the key when needed
//   mlreg HIVE delete KEY [NAME]       removes the value NAME, or the key itself
//
// KEY is a path such as 'CLSID\{...}\InProcServer32'. Exit status: 0 done,
// 1 the registry refused (its status is printed), 2 usage.
#include <cstdio>
#include <cstring>

#include "CommonPath.h"
#include "MLVersion.h"
#include "PlatformRegistry.h"
#include "ToolSupport.h"

namespace {

constexpr const char *kProgram = "mlreg";
constexpr const char *kUsage =
    "usage: mlreg HIVE get KEY [NAME]\n"
    "       mlreg HIVE set KEY NAME VALUE\n"
    "       mlreg HIVE delete KEY [NAME]\n";

int report(int status, const char *what, const char *key) {
  if (status == 0) return 0;
  std::fprintf(stderr, "%s: %s %s: registry status %d\n", kProgram, what, key, status);
  return 1;
}

int get(apr_pool_t *pool, RegKey *root, const char *key, const char *name) {
  RegKey *handle = nullptr;
  char *text = nullptr;
  int status = regkey_open(&handle, root, key, REGKEY_READ, pool);
  if (status == 0) status = regkey_value_get(&text, handle, name, pool);
  if (status == 0) std::printf("%s\n", text);
  return report(status, "get", key);
}

int set(apr_pool_t *pool, RegKey *root, const char *key, const char *name, const char *value) {
  RegKey *handle = nullptr;
  int status = regkey_open(&handle, root, key, REGKEY_READ | REGKEY_WRITE | REGKEY_CREATE, pool);
  if (status == 0) status = regkey_value_set(handle, name, value, 0, pool);
  return report(status, "set", key);
}

int remove(apr_pool_t *pool, RegKey *root, const char *key, const char *name) {
  if (name == nullptr) return report(regkey_remove(root, key), "delete", key);
  RegKey *handle = nullptr;
  int status = regkey_open(&handle, root, key, REGKEY_READ | REGKEY_WRITE, pool);
  if (status == 0) status = regkey_value_remove(handle, name, pool);
  return report(status, "delete", key);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && ml_version_option(kProgram, argv[1])) return 0;
  const char *action = argc >= 4 ? argv[2] : "";
  const bool get_or_delete = (std::strcmp(action, "get") == 0 || std::strcmp(action, "delete") == 0);
  if (!(get_or_delete && (argc == 4 || argc == 5)) && !(std::strcmp(action, "set") == 0 && argc == 6)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  ToolRun run(kProgram);
  if (!run.ok()) return 1;
  apr_pool_t *pool = run.pool();
  const char *folder = path_dirname(pool, argv[1]);
  RegKey *root = nullptr;
  if (regkey_root_open(&root, *folder != '\0' ? folder : ".", path_last_component(argv[1]), pool) != 0) {
    std::fprintf(stderr, "%s: %s is not a hive file name\n", kProgram, argv[1]);
    return 2;
  }
  const char *name = argc >= 5 ? argv[4] : nullptr;
  if (std::strcmp(action, "get") == 0) return get(pool, root, argv[3], name);
  if (std::strcmp(action, "set") == 0) return set(pool, root, argv[3], name, argv[5]);
  return remove(pool, root, argv[3], name);
}
