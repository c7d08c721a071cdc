#include "FuzzSupport.h"

#include <apr_general.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "CommonThreadInit.h"
#include "log4c.h"

namespace {

struct FuzzStart {
  apr_pool_t *pool = nullptr;
  std::string dir;

  FuzzStart() {
    apr_initialize();
    apr_pool_create(&pool, nullptr);
    thread_init_module(pool);
    dir = (std::filesystem::temp_directory_path() / ("zentoria-fuzz-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(dir);
    const std::string properties = dir + "/log4j.properties";
    std::ofstream(properties) << "log4j.rootLogger=OFF\n";
    log4c_configure(properties.c_str());
  }
  ~FuzzStart() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

FuzzStart &start() {
  static FuzzStart instance;
  return instance;
}

}  // namespace

apr_pool_t *fuzz_pool() { return start().pool; }

const std::string &fuzz_dir() { return start().dir; }

std::string fuzz_write(const char *name, const uint8_t *data, size_t size) {
  const std::string path = fuzz_dir() + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char *>(data), size);
  return path;
}

std::string fuzz_text(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  return text.substr(0, text.find('\0'));
}

void fuzz_check(bool holds, const char *what, const std::string &input) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\ninput: %s\n", what, input.c_str());
  std::abort();
}
