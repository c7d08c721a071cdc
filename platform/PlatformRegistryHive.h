// PlatformRegistryHive: one hive file of the registry, read into memory and
// written back, and the lock that makes a read-modify-write exclusive.
//
// A hive in memory is plain standard containers, keyed by the lower-case
// form of each name (registry names ignore case) and keeping each name as it
// was first written. The file is text: a header line, then a "K" line per
// key and a "V" line per value of the key above it, fields separated by tabs,
// names %-escaped, value bytes in hex. Used by PlatformRegistry only.
#pragma once

#include <apr_file_io.h>
#include <apr_pools.h>
#include <apr_time.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

struct RegValue {
  std::string name;
  std::uint32_t type = 0;
  std::string bytes;
};

struct RegKeyNode {
  std::string path;                         // "a\b\c" as written; "" for the root
  std::map<std::string, RegValue> values;  // by lower-case name
};

struct RegHive {
  std::map<std::string, RegKeyNode> keys;  // by lower-case path; the root is implicit
};

// Lower-case form of a name or path (ASCII letters; other bytes kept).
std::string reg_fold(const std::string &name);

// Largest hive file read; a hive holds a few keys of library paths.
inline constexpr std::size_t REG_HIVE_MAX_BYTES = 4 * 1024 * 1024;
// How long a writer waits for the lock another process holds on a hive.
inline constexpr apr_interval_time_t REG_HIVE_LOCK_WAIT = 5 * APR_USEC_PER_SEC;

// Reads the hive file at path; a missing file is an empty hive. Returns 0,
// 721015 after ERROR "Registry hive %s is damaged at line %d", or 721016
// after ERROR "Could not read registry hive %s, reason: %s" (also for a
// path that is not a regular file, such as a FIFO or a device, or a file
// larger than REG_HIVE_MAX_BYTES).
int reg_hive_load(apr_pool_t *pool, const char *path, RegHive *hive);
// Replaces the hive file (creating its folder when needed). Returns 0, or
// 721016 after ERROR "Could not write registry hive %s, reason: %s".
int reg_hive_store(apr_pool_t *pool, const char *path, const RegHive &hive);

// Holds the exclusive lock of the hive at path for its lifetime, taken on
// the owner-only file path + ".lock" within REG_HIVE_LOCK_WAIT; status() is
// 0, or 721016 after ERROR "Could not lock registry hive %s, reason: %s"
// (the reason is EAGAIN's text when another process held it all along).
class RegHiveLock {
 public:
  RegHiveLock(apr_pool_t *pool, const char *path);
  ~RegHiveLock();
  RegHiveLock(const RegHiveLock &) = delete;
  RegHiveLock &operator=(const RegHiveLock &) = delete;
  int status() const { return status_; }

 private:
  apr_file_t *file_ = nullptr;
  int status_ = 0;
};
