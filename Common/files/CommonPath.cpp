#include "CommonPath.h"

#include <apr_file_info.h>
#include <apr_lib.h>
#include <apr_strings.h>

#include <cstring>
#include <strings.h>

#include "Common.h"
#include "PlatformExecutable.h"
#include "log4c.h"

namespace {
constexpr const char *kFileScheme = "file://";

bool is_native_separator(char c) { return path_is_separator(c); }

// The state of one canonicalisation: input, output and where the untouchable
// prefix ("file://", "\\") ends in the output.
struct Canonical {
  const char *in;
  std::size_t pos;
  char *out;
  std::size_t used;
  std::size_t floor;
  PathRule rule;

  bool separator_at(std::size_t i) const {
    return in[i] == '/' || (rule == PATH_RULE_WINDOWS && in[i] == '\\');
  }
  bool ends_at(std::size_t i) const { return in[i] == '\0'; }
};

void copy_prefix(Canonical &c) {
  if (url_has_scheme(c.in, kFileScheme)) c.pos = std::strlen(kFileScheme);
  if (c.rule == PATH_RULE_WINDOWS && c.in[c.pos] == '\\' && c.in[c.pos + 1] == '\\') c.pos += 2;
  std::memcpy(c.out, c.in, c.pos);
  c.used = c.floor = c.pos;
}

// Drops the last written component and the separator before it, stopping at
// a ':' so that a drive or a URL scheme survives.
void drop_last_component(Canonical &c) {
  std::size_t i = c.used;
  while (i > c.floor && c.out[i - 1] != '/' && c.out[i - 1] != ':') --i;
  if (i > c.floor && c.out[i - 1] == '/')
    c.used = i - 1;
  else if (i == c.floor)
    c.used = c.floor;
}

// Handles the separator at c.pos; returns false when the result ends here.
bool walk_separator(Canonical &c) {
  std::size_t i = c.pos;
  if (c.in[i + 1] == '.' && c.ends_at(i + 2)) return false;
  if (c.in[i + 1] == '.' && c.separator_at(i + 2)) {
    c.pos = i + 2;
    return true;
  }
  if (c.in[i + 1] == '.' && c.in[i + 2] == '.' && (c.separator_at(i + 3) || c.ends_at(i + 3))) {
    drop_last_component(c);
    c.pos = i + 3;
    return !c.ends_at(c.pos);
  }
  bool doubled = c.separator_at(i + 1) || c.ends_at(i + 1);
  // A scheme has two letters or more ("x:" is a drive); counting them in the
  // output, not the input, keeps the result the same when it is
  // canonicalised again.
  bool after_scheme = c.used >= 3 && c.out[c.used - 1] == ':';
  if (!doubled || after_scheme) c.out[c.used++] = '/';
  c.pos = i + 1;
  return true;
}
}  // namespace

bool path_is_separator(char c) { return c == '/' || (PATH_RULE_NATIVE == PATH_RULE_WINDOWS && c == '\\'); }

char *path_canonical(apr_pool_t *pool, const char *path) {
  return path_canonical_rule(pool, path, PATH_RULE_NATIVE);
}

char *path_canonical_rule(apr_pool_t *pool, const char *path, PathRule rule) {
  if (path == nullptr) return nullptr;
  Canonical c{path, 0, static_cast<char *>(apr_palloc(pool, std::strlen(path) + 1)), 0, 0, rule};
  copy_prefix(c);
  while (!c.ends_at(c.pos)) {
    char ch = c.in[c.pos];
    if (c.separator_at(c.pos)) {
      if (!walk_separator(c)) break;
    } else {
      c.out[c.used++] = static_cast<char>(rule == PATH_RULE_WINDOWS ? apr_tolower(ch) : ch);
      ++c.pos;
    }
  }
  // On POSIX the root has no drive to stand for it: keep its separator.
  if (rule == PATH_RULE_POSIX && c.used == 0 && path[0] == '/') c.out[c.used++] = '/';
  c.out[c.used] = '\0';
  return c.out;
}

int path_is_absolute(const char *path) {
  if (path == nullptr || *path == '\0') return 0;
  if (std::strstr(path, "://") != nullptr || is_native_separator(*path)) return 1;
  return apr_isalpha(path[0]) && path[1] == ':';
}

// Read from the end, past any query and trailing separators: a walk asks
// for every file's, and the bytes before its last separator need no look.
const char *path_last_component(const char *path) {
  const char *end = path + std::strcspn(path, "?");
  while (end > path && is_native_separator(end[-1])) --end;
  for (const char *p = end; p > path; --p)
    if (is_native_separator(p[-1])) return p;
  return path;
}

char *path_dirname(apr_pool_t *pool, const char *path) {
  if (path == nullptr) return nullptr;
  const char *after_scheme = url_after_scheme(path);
  const char *start = after_scheme != nullptr ? after_scheme : path;
  const char *last = path_last_component(start);
  if (last == start) return apr_pstrdup(pool, "");
  return apr_pstrndup(pool, path, static_cast<apr_size_t>(last - path));
}

const char *path_extension(const char *path, int query) {
  if (path == nullptr) return nullptr;
  const char *component = path_last_component(path);
  const char *dot = nullptr;
  for (const char *p = component; *p != '\0'; ++p) {
    if (query && (*p == '?' || *p == '#')) break;
    if (*p == '.') dot = p;
  }
  return dot != nullptr ? dot + 1 : nullptr;
}

char *path_join(apr_pool_t *pool, const char *folder, const char *subfolder, const char *name) {
  bool has_folder = folder != nullptr && *folder != '\0';
  bool has_subfolder = subfolder != nullptr && *subfolder != '\0';
  char *current = nullptr;
  if (!has_folder && !has_subfolder) {
    if (apr_filepath_get(&current, APR_FILEPATH_NATIVE, pool) != APR_SUCCESS) {
      LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not get default path");
      return nullptr;
    }
    folder = current;
    has_folder = true;
  }
  const char *parts[] = {has_folder ? folder : nullptr, has_subfolder ? subfolder : nullptr,
                         name != nullptr ? name : ""};
  char *joined = nullptr;
  for (const char *part : parts) {
    if (part == nullptr) continue;
    // A part that already ends in a separator (the root "/") needs no other.
    bool needs_separator = joined != nullptr && !is_native_separator(joined[std::strlen(joined) - 1]);
    joined = joined == nullptr
                 ? apr_pstrdup(pool, part)
                 : apr_pstrcat(pool, joined, needs_separator ? "/" : "", part, nullptr);
  }
  return joined;
}

const char *exe_dir(apr_pool_t *pool, int argc, const char *const *argv) {
  if (argc <= 0 || argv == nullptr || argv[0] == nullptr) return common_empty_string;
  char *full = nullptr;
  // A bare program name was found on PATH, not in the current folder.
  if (std::strchr(argv[0], '/') == nullptr) full = platform_executable_path(pool);
  if (full != nullptr ||
      apr_filepath_merge(&full, nullptr, argv[0], APR_FILEPATH_NATIVE, pool) == APR_SUCCESS) {
    char *separator = std::strrchr(full, '/');
    if (separator != nullptr) {
      separator[separator == full ? 1 : 0] = '\0';
      return full;
    }
  }
  LOG4C(COMMON_MODULE, LOG4C_WARN, "Unable to locate executable path.");
  char *current = nullptr;
  if (apr_filepath_get(&current, APR_FILEPATH_NATIVE, pool) == APR_SUCCESS) return current;
  LOG4C(COMMON_MODULE, LOG4C_ERROR, "Unable to locate current working path.");
  return apr_pstrdup(pool, "");
}
