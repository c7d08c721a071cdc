// Recording appender, temporary folders and per-test pools.
#include "LogCapture.h"

#include <apr_general.h>
#include <log4cxx/appenderskeleton.h>
#include <log4cxx/logger.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "log4c_pool.h"

namespace {

int level_number(const log4cxx::LevelPtr &level) {
  int value = level->toInt();
  if (value >= log4cxx::Level::FATAL_INT) return 4;
  if (value >= log4cxx::Level::ERROR_INT) return 3;
  if (value >= log4cxx::Level::WARN_INT) return 2;
  if (value >= log4cxx::Level::INFO_INT) return 1;
  return 0;
}

class RecordingAppender : public log4cxx::AppenderSkeleton {
 public:
  void close() override {}
  bool requiresLayout() const override { return false; }

  std::vector<LoggedEvent> snapshot() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  void reset() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

 protected:
  void append(const log4cxx::spi::LoggingEventPtr &event, log4cxx::helpers::Pool &) override {
    std::lock_guard lock(mutex_);
    events_.push_back({event->getLoggerName(), level_number(event->getLevel()), event->getRenderedMessage()});
  }

 private:
  std::mutex mutex_;
  std::vector<LoggedEvent> events_;
};

}  // namespace

struct LogCapture::Impl {
  std::shared_ptr<RecordingAppender> appender = std::make_shared<RecordingAppender>();
  log4cxx::LevelPtr previous_level;
};

LogCapture::LogCapture() : impl_(std::make_unique<Impl>()) {
  log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
  impl_->previous_level = root->getLevel();
  root->setLevel(log4cxx::Level::getDebug());
  root->addAppender(impl_->appender);
}

LogCapture::~LogCapture() {
  log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
  root->removeAppender(impl_->appender);
  root->setLevel(impl_->previous_level);
}

std::vector<LoggedEvent> LogCapture::events() const { return impl_->appender->snapshot(); }

int LogCapture::count(const std::string &logger, int level, const std::string &text) const {
  int n = 0;
  for (const LoggedEvent &e : events())
    if (e.logger == logger && e.level == level && e.message == text) ++n;
  return n;
}

bool LogCapture::contains(const std::string &text) const {
  for (const LoggedEvent &e : events())
    if (e.message.find(text) != std::string::npos) return true;
  return false;
}

void LogCapture::clear() { impl_->appender->reset(); }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "mltest-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

TestPool::TestPool() {
  static const bool initialised = [] { return apr_initialize() == APR_SUCCESS; }();
  if (!initialised) throw std::runtime_error("apr_initialize failed");
  pool_ = pool_create_or_die(nullptr, "test");
}

TestPool::~TestPool() { apr_pool_destroy(pool_); }

void write_file(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
