#include "PlatformRegistryHive.h"

#include <apr_strings.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "PlatformFileLock.h"
#include "PlatformFileReplace.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "PlatformRegistry";
constexpr std::string_view kHeader = "ZentoriaRegistryHive 1";
constexpr int kHiveCorrupt = 721015;
constexpr int kHiveIo = 721016;
constexpr const char *kHex = "0123456789abcdef";

int io_failure(const char *format, const char *path, apr_status_t status) {
  char reason[256];
  apr_strerror(status, reason, sizeof reason);
  LOG4C(kModule, LOG4C_ERROR, log4c_sprintf(format, path, reason));
  return kHiveIo;
}

// Names may hold any byte but the separators of the format.
void append_escaped(std::string &out, std::string_view text) {
  for (unsigned char c : text) {
    if (c <= ' ' || c == '%' || c == 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool unescape(std::string_view text, std::string &out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    int high = hex_digit(text[i + 1]), low = hex_digit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

bool unhex(std::string_view text, std::string &out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int high = hex_digit(text[i]), low = hex_digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
  }
  return true;
}

std::vector<std::string_view> split_tabs(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t tab; (tab = line.find('\t', start)) != std::string_view::npos; start = tab + 1) {
    fields.push_back(line.substr(start, tab - start));
  }
  fields.push_back(line.substr(start));
  return fields;
}

// One line after the header; key is the key that "V" lines belong to.
bool parse_line(std::string_view line, RegHive &hive, RegKeyNode *&key) {
  std::vector<std::string_view> fields = split_tabs(line);
  if (fields[0] == "K" && fields.size() == 2) {
    std::string path;
    if (!unescape(fields[1], path)) return false;
    key = &hive.keys[reg_fold(path)];
    key->path = path;
    return true;
  }
  if (fields[0] == "V" && fields.size() == 4 && key != nullptr) {
    RegValue value;
    unsigned long type = 0;
    if (!unescape(fields[1], value.name) || !unhex(fields[3], value.bytes)) return false;
    if (std::sscanf(std::string(fields[2]).c_str(), "%lu", &type) != 1 || type > 0xFFFFFFFFul) return false;
    value.type = static_cast<std::uint32_t>(type);
    key->values[reg_fold(value.name)] = std::move(value);
    return true;
  }
  return false;
}

int parse(const char *path, std::string_view text, RegHive &hive) {
  RegKeyNode *key = nullptr;
  int number = 0;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end < text.size() ? end + 1 : end);
    ++number;
    bool valid = number == 1 ? line == kHeader : parse_line(line, hive, key);
    if (!valid) {
      LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Registry hive %s is damaged at line %d", path, number));
      return kHiveCorrupt;
    }
  }
  return APR_SUCCESS;
}

}  // namespace

std::string reg_fold(const std::string &name) {
  std::string folded = name;
  for (char &c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

// Opened without blocking (a FIFO put in the hive's place must not stall
// the reader) and read only when it is a regular file of at most
// REG_HIVE_MAX_BYTES: a link to /dev/zero or a huge file is refused, not read
// until memory runs out.
int reg_hive_load(apr_pool_t *, const char *path, RegHive *hive) {
  hive->keys.clear();
  int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0 && errno == ENOENT) return APR_SUCCESS;
  if (descriptor < 0) return io_failure("Could not read registry hive %s, reason: %s", path, APR_FROM_OS_ERROR(errno));
  struct stat info {};
  apr_status_t status = fstat(descriptor, &info) == 0 ? APR_SUCCESS : APR_FROM_OS_ERROR(errno);
  const char *refusal = nullptr;
  if (status == APR_SUCCESS && !S_ISREG(info.st_mode)) refusal = "not a regular file";
  if (status == APR_SUCCESS && S_ISREG(info.st_mode) && info.st_size > static_cast<off_t>(REG_HIVE_MAX_BYTES))
    refusal = "larger than the hive size limit";
  std::string text;
  char buffer[8192];
  while (status == APR_SUCCESS && refusal == nullptr) {
    ssize_t length = read(descriptor, buffer, sizeof buffer);
    if (length < 0 && errno == EINTR) continue;
    if (length < 0) status = APR_FROM_OS_ERROR(errno);
    if (length <= 0) break;
    text.append(buffer, static_cast<std::size_t>(length));
    if (text.size() > REG_HIVE_MAX_BYTES) refusal = "larger than the hive size limit";
  }
  close(descriptor);
  if (refusal != nullptr) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Could not read registry hive %s, reason: %s", path, refusal));
    return kHiveIo;
  }
  if (status != APR_SUCCESS) return io_failure("Could not read registry hive %s, reason: %s", path, status);
  return parse(path, text, *hive);
}

int reg_hive_store(apr_pool_t *pool, const char *path, const RegHive &hive) {
  std::string text(kHeader);
  text += '\n';
  for (const auto &[folded, key] : hive.keys) {
    text += "K\t";
    append_escaped(text, key.path);
    text += '\n';
    for (const auto &[name, value] : key.values) {
      text += "V\t";
      append_escaped(text, value.name);
      text += '\t';
      text += std::to_string(value.type);
      text += '\t';
      for (unsigned char c : value.bytes) {
        text += kHex[c >> 4];
        text += kHex[c & 15];
      }
      text += '\n';
    }
  }
  apr_status_t status = platform_file_replace(pool, path, text.data(), text.size());
  if (status != APR_SUCCESS) return io_failure("Could not write registry hive %s, reason: %s", path, status);
  return APR_SUCCESS;
}

RegHiveLock::RegHiveLock(apr_pool_t *pool, const char *path) {
  const char *lock_path = apr_pstrcat(pool, path, ".lock", nullptr);
  char *folder = apr_pstrdup(pool, path);
  if (char *slash = std::strrchr(folder, '/'); slash != nullptr && slash != folder) {
    *slash = '\0';
    apr_dir_make_recursive(folder, APR_FPROT_OS_DEFAULT, pool);
  }
  platform_file_make_private(lock_path);
  apr_status_t status = apr_file_open(&file_, lock_path, APR_FOPEN_CREATE | APR_FOPEN_WRITE | APR_FOPEN_BINARY,
                                      APR_FPROT_UREAD | APR_FPROT_UWRITE, pool);
  if (status == APR_SUCCESS) status = platform_file_lock_wait(file_, REG_HIVE_LOCK_WAIT);
  if (status != APR_SUCCESS) {
    status_ = io_failure("Could not lock registry hive %s, reason: %s", path, status);
    if (file_ != nullptr) apr_file_close(file_);
    file_ = nullptr;
  }
}

RegHiveLock::~RegHiveLock() {
  if (file_ == nullptr) return;
  platform_file_unlock(file_);
  apr_file_close(file_);
}
