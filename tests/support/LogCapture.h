// Test fixture pieces: a log4cxx appender that records every event, so tests
// can assert on the exact messages modules log, and a scoped temporary folder.
#pragma once

#include <apr_pools.h>

#include <memory>
#include <string>
#include <vector>

struct LoggedEvent {
  std::string logger;
  int level;  // 0 DEBUG .. 4 FATAL
  std::string message;
};

// Attaches itself to the root logger (with every logger enabled down to DEBUG)
// for its lifetime.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  std::vector<LoggedEvent> events() const;
  // Number of events on logger at level whose message equals text.
  int count(const std::string &logger, int level, const std::string &text) const;
  // True when any event's message contains text.
  bool contains(const std::string &text) const;
  void clear();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A fresh folder under the system temporary folder, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A root APR pool for one test (APR is initialised once per process).
class TestPool {
 public:
  TestPool();
  ~TestPool();
  TestPool(const TestPool &) = delete;
  TestPool &operator=(const TestPool &) = delete;
  apr_pool_t *get() const { return pool_; }
  operator apr_pool_t *() const { return pool_; }

 private:
  apr_pool_t *pool_ = nullptr;
};

// Writes text to path (binary), replacing the file.
void write_file(const std::string &path, const std::string &text);
// Reads the whole file, or an empty string when it cannot be read.
std::string read_file(const std::string &path);
