#include "PlatformRegistry.h"

#include <apr_strings.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "PlatformRegistryHive.h"
#include "log4c_pool.h"

struct RegKey {
  apr_pool_t *pool;
  const char *hive;  // path of the hive file
  const char *path;  // "" for the root
  int access;        // REGKEY_READ | REGKEY_WRITE
};

namespace {

constexpr const char *kModule = "PlatformRegistry";
// What a change returns when it leaves the hive as it was.
constexpr int kUnchanged = -1;

apr_status_t close_key(void *data) {
  static_cast<RegKey *>(data)->hive = nullptr;
  return APR_SUCCESS;
}

RegKey *new_key(apr_pool_t *pool, const char *hive, const char *path, int access) {
  auto *key = static_cast<RegKey *>(apr_palloc(pool, sizeof(RegKey)));
  *key = RegKey{pool, hive, path, access};
  apr_pool_cleanup_register(pool, key, close_key, apr_pool_cleanup_null);
  return key;
}

// The UTF-16 length of a UTF-8 name must leave room for the NUL in the
// conversion buffer; text that is not UTF-8 cannot be converted at all.
int check_name(const char *name) {
  std::size_t units = 0;
  for (const auto *p = reinterpret_cast<const unsigned char *>(name); *p != 0;) {
    int extra = *p < 0x80 ? 0 : (*p >> 5) == 6 ? 1 : (*p >> 4) == 14 ? 2 : (*p >> 3) == 30 ? 3 : -1;
    if (extra < 0) return REGKEY_INVALID;
    ++p;
    for (int i = 0; i < extra; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return REGKEY_INVALID;
    }
    units += extra == 3 ? 2 : 1;
  }
  return units >= REGKEY_NAME_UNITS ? REGKEY_NAME_TOO_LONG : APR_SUCCESS;
}

// A key path is names joined by single backslashes.
bool valid_path(std::string_view name) {
  return name.empty() || (name.front() != '\\' && name.back() != '\\' && name.find("\\\\") == name.npos);
}

std::string child_path(const RegKey *parent, const char *name) {
  if (*parent->path == '\0') return name;
  if (*name == '\0') return parent->path;
  return std::string(parent->path) + '\\' + name;
}

bool key_exists(const RegHive &hive, const std::string &path) {
  return path.empty() || hive.keys.count(reg_fold(path)) != 0;
}

RegKeyNode &key_node(RegHive &hive, const std::string &path) {
  RegKeyNode &node = hive.keys[reg_fold(path)];
  if (node.path.empty()) node.path = path;
  return node;
}

bool has_sub_keys(const RegHive &hive, const std::string &path) {
  const std::string prefix = reg_fold(path) + '\\';
  auto next = hive.keys.upper_bound(prefix);
  return next != hive.keys.end() && next->first.compare(0, prefix.size(), prefix) == 0;
}

// Validates an open handle and a value name; null names the default value.
int check_value_call(const RegKey *key, const char *&name) {
  if (key == nullptr || key->hive == nullptr) return REGKEY_CLOSED;
  if (name == nullptr) name = "";
  return check_name(name);
}

// The value name of key as the hive holds it now.
int find_value(apr_pool_t *pool, const RegKey *key, const char *name, RegHive &hive, const RegValue **value) {
  int status = check_value_call(key, name);
  if (status != APR_SUCCESS) return status;
  Pool scratch(pool, kModule);
  status = reg_hive_load(scratch, key->hive, &hive);
  if (status != APR_SUCCESS) return status;
  if (!key_exists(hive, key->path)) return REGKEY_DELETED;
  if (*key->path == '\0' && hive.keys.count("") == 0) return REGKEY_NOT_FOUND;
  const RegKeyNode &node = hive.keys.at(reg_fold(key->path));
  auto found = node.values.find(reg_fold(name));
  if (found == node.values.end()) return REGKEY_NOT_FOUND;
  *value = &found->second;
  return APR_SUCCESS;
}

// Runs change on the hive of key under its lock and stores the result when
// change returns 0 (kUnchanged: nothing to store, success).
template <typename Change>
int modify(apr_pool_t *pool, const RegKey *key, Change change) {
  Pool scratch(pool, kModule);
  RegHiveLock lock(scratch, key->hive);
  if (lock.status() != APR_SUCCESS) return lock.status();
  RegHive hive;
  int status = reg_hive_load(scratch, key->hive, &hive);
  if (status != APR_SUCCESS) return status;
  if (!key_exists(hive, key->path)) return REGKEY_DELETED;
  status = change(hive);
  if (status == kUnchanged) return APR_SUCCESS;
  return status == APR_SUCCESS ? reg_hive_store(scratch, key->hive, hive) : status;
}

int set_value(apr_pool_t *pool, RegKey *key, const char *name, std::string bytes, int type) {
  int status = check_value_call(key, name);
  if (status != APR_SUCCESS) return status;
  if ((key->access & REGKEY_WRITE) == 0) return REGKEY_ACCESS_DENIED;
  return modify(pool, key, [&](RegHive &hive) {
    RegValue &value = key_node(hive, key->path).values[reg_fold(name)];
    if (value.name.empty()) value.name = name;
    value.type = static_cast<std::uint32_t>(type);
    value.bytes = std::move(bytes);
    return APR_SUCCESS;
  });
}

// Windows keeps unknown %NAME% references as they are.
std::string expand_environment(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    std::size_t open = text.find('%');
    std::size_t close = open == text.npos ? text.npos : text.find('%', open + 1);
    if (close == text.npos) break;
    out.append(text.substr(0, open));
    const char *value = close > open + 1 ? std::getenv(std::string(text.substr(open + 1, close - open - 1)).c_str())
                                         : nullptr;
    if (value != nullptr) {
      out += value;
      text.remove_prefix(close + 1);
    } else {
      out.append(text.substr(open, close - open));
      text.remove_prefix(close);
    }
  }
  out.append(text);
  return out;
}

}  // namespace

int regkey_root_open(RegKey **key, const char *folder, const char *hive, apr_pool_t *pool) {
  *key = nullptr;
  if (hive == nullptr || *hive == '\0' || std::strchr(hive, '/') != nullptr) return REGKEY_INVALID;
  const char *path = apr_pstrcat(pool, folder, "/", hive, nullptr);
  *key = new_key(pool, path, "", REGKEY_READ | REGKEY_WRITE);
  return APR_SUCCESS;
}

int regkey_open(RegKey **key, RegKey *parent, const char *name, int flags, apr_pool_t *pool) {
  *key = nullptr;
  int status = check_value_call(parent, name);
  if (status != APR_SUCCESS) return status;
  if (!valid_path(name)) return REGKEY_BAD_PATH;
  const std::string path = child_path(parent, name);
  if ((flags & REGKEY_CREATE) == 0) {
    RegHive hive;
    Pool scratch(pool, kModule);
    status = reg_hive_load(scratch, parent->hive, &hive);
    if (status != APR_SUCCESS) return status;
    if (!key_exists(hive, parent->path)) return REGKEY_DELETED;
    if (!key_exists(hive, path)) return REGKEY_NOT_FOUND;
  } else {
    status = modify(pool, parent, [&](RegHive &hive) {
      if (key_exists(hive, path)) return (flags & REGKEY_EXCL) != 0 ? REGKEY_EXISTS : kUnchanged;
      if ((parent->access & REGKEY_WRITE) == 0) return REGKEY_ACCESS_DENIED;
      for (std::size_t end = 0; end != std::string::npos;) {
        end = path.find('\\', end + 1);
        key_node(hive, path.substr(0, end));
      }
      return APR_SUCCESS;
    });
    if (status != APR_SUCCESS) return status;
  }
  *key = new_key(pool, parent->hive, apr_pstrdup(pool, path.c_str()), flags & (REGKEY_READ | REGKEY_WRITE));
  return APR_SUCCESS;
}

int regkey_close(RegKey *key) {
  apr_pool_cleanup_run(key->pool, key, close_key);
  return APR_SUCCESS;
}

int regkey_remove(RegKey *parent, const char *name) {
  int status = check_value_call(parent, name);
  if (status != APR_SUCCESS) return status;
  if (*name == '\0' || !valid_path(name)) return REGKEY_BAD_PATH;
  const std::string path = child_path(parent, name);
  return modify(parent->pool, parent, [&](RegHive &hive) {
    if (!key_exists(hive, path)) return REGKEY_NOT_FOUND;
    if (has_sub_keys(hive, path)) return REGKEY_ACCESS_DENIED;
    hive.keys.erase(reg_fold(path));
    return APR_SUCCESS;
  });
}

int regkey_value_get(char **text, RegKey *key, const char *name, apr_pool_t *pool) {
  *text = nullptr;
  RegHive hive;
  const RegValue *value = nullptr;
  int status = find_value(pool, key, name, hive, &value);
  if (status != APR_SUCCESS) return status;
  if (value->type != REGKEY_TYPE_STRING && value->type != REGKEY_TYPE_EXPAND_STRING) return REGKEY_WRONG_TYPE;
  std::string_view stored(value->bytes.data(), strnlen(value->bytes.data(), value->bytes.size()));
  std::string result = value->type == REGKEY_TYPE_EXPAND_STRING ? expand_environment(stored) : std::string(stored);
  *text = apr_pstrmemdup(pool, result.data(), result.size());
  return APR_SUCCESS;
}

int regkey_value_set(RegKey *key, const char *name, const char *text, int expand, apr_pool_t *pool) {
  std::string bytes(text != nullptr ? text : "");
  bytes += '\0';
  return set_value(pool, key, name, std::move(bytes), (expand & 1) != 0 ? REGKEY_TYPE_EXPAND_STRING : REGKEY_TYPE_STRING);
}

int regkey_value_raw_get(void **data, std::size_t *length, int *type, RegKey *key, const char *name,
                         apr_pool_t *pool) {
  *data = nullptr;
  *length = 0;
  RegHive hive;
  const RegValue *value = nullptr;
  int status = find_value(pool, key, name, hive, &value);
  if (status != APR_SUCCESS) return status;
  *data = apr_pmemdup(pool, value->bytes.data(), value->bytes.size() + 1);
  *length = value->bytes.size();
  if (type != nullptr) *type = static_cast<int>(value->type);
  return APR_SUCCESS;
}

int regkey_value_raw_set(RegKey *key, const char *name, const void *data, std::size_t length, int type,
                         apr_pool_t *pool) {
  return set_value(pool, key, name, std::string(static_cast<const char *>(data), length), type);
}

int regkey_value_array_get(apr_array_header_t **strings, RegKey *key, const char *name, apr_pool_t *pool) {
  *strings = nullptr;
  RegHive hive;
  const RegValue *value = nullptr;
  int status = find_value(pool, key, name, hive, &value);
  if (status != APR_SUCCESS) return status;
  if (value->type != REGKEY_TYPE_MULTI_STRING) return REGKEY_INVALID;
  *strings = apr_array_make(pool, 4, sizeof(const char *));
  std::string_view rest(value->bytes);
  // Each string ends with a NUL; an empty string ends the list.
  while (!rest.empty() && rest.front() != '\0') {
    std::size_t end = rest.find('\0');
    if (end == rest.npos) end = rest.size();
    APR_ARRAY_PUSH(*strings, const char *) = apr_pstrmemdup(pool, rest.data(), end);
    rest.remove_prefix(end < rest.size() ? end + 1 : end);
  }
  return APR_SUCCESS;
}

int regkey_value_array_set(RegKey *key, const char *name, int count, const char *const *strings,
                           apr_pool_t *pool) {
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    bytes += strings[i];
    bytes += '\0';
  }
  bytes += '\0';
  return set_value(pool, key, name, std::move(bytes), REGKEY_TYPE_MULTI_STRING);
}

int regkey_value_remove(RegKey *key, const char *name, apr_pool_t *pool) {
  int status = check_value_call(key, name);
  if (status != APR_SUCCESS) return status;
  if ((key->access & REGKEY_WRITE) == 0) return REGKEY_ACCESS_DENIED;
  return modify(pool, key, [&](RegHive &hive) {
    auto found = hive.keys.find(reg_fold(key->path));
    if (found == hive.keys.end() || found->second.values.erase(reg_fold(name)) == 0) return REGKEY_NOT_FOUND;
    return APR_SUCCESS;
  });
}
