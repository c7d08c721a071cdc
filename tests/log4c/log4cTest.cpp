// Logging layer: formatting limits, invalid levels, the user callback and the
// per-thread buffer table.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

struct CallbackRecord {
  int calls = 0;
  int level = 0;
  std::string message;
  int user_level = 0;
  bool user_message_null = false;
  std::string user_message;
};
CallbackRecord g_record;

void record_callback(int level, const char *message, int user_level, const char *user_message, int) {
  ++g_record.calls;
  g_record.level = level;
  g_record.message = message ? message : "";
  g_record.user_level = user_level;
  g_record.user_message_null = user_message == nullptr;
  g_record.user_message = user_message ? user_message : "";
}

class UserCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_record = {};
    log4c_set_user_callback(record_callback, 7, LOG4C_ERROR);
  }
  void TearDown() override { log4c_set_user_callback(nullptr, 0, 0); }
  LogCapture capture;
};

}  // namespace

TEST(Log4cFormat, LongMessageIsCutTo4095CharactersWithWarning) {
  LogCapture capture;
  std::string long_text(5000, 'x');
  char *text = log4c_sprintf("%s", long_text.c_str());
  EXPECT_EQ(std::strlen(text), 4095u);
  EXPECT_EQ(capture.count("log4c", LOG4C_WARN, "Static buffer is too small, trimming log message to fit buffer"), 1);
}

TEST(Log4cFormat, MessageOf4095CharactersFitsWithoutWarning) {
  LogCapture capture;
  std::string text(4095, 'y');
  EXPECT_EQ(std::string(log4c_sprintf("%s", text.c_str())), text);
  EXPECT_TRUE(capture.events().empty());
}

TEST(Log4cFormat, SameThreadReusesItsBuffer) {
  char *first = log4c_sprintf("%d", 1);
  char *second = log4c_sprintf("%d", 2);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(second, "2");
}

TEST(Log4cFormat, ThreadsGetTheirOwnBuffers) {
  char *mine = log4c_sprintf("main");
  char *theirs = nullptr;
  std::thread([&] { theirs = log4c_sprintf("other"); }).join();
  EXPECT_NE(mine, theirs);
  EXPECT_STREQ(mine, "main");
}

TEST(Log4cLog, InvalidLevelLogsAtErrorWithNote) {
  LogCapture capture;
  LOG4C("Test", 7, "odd");
  EXPECT_EQ(capture.count("Test", LOG4C_ERROR, "odd (Invalid logging level for this message, using ERROR instead)"), 1);
}

TEST(Log4cLog, LineBreaksInAMessageCannotForgeARecord) {
  LogCapture capture;
  LOG4C("Test", LOG4C_WARN, "Failure for url http://h/a.mp3\r\n2026-12-08 ERROR forged\x1B[0m\ttab");
  EXPECT_EQ(capture.count("Test", LOG4C_WARN, "Failure for url http://h/a.mp3\\r\\n2026-12-08 ERROR forged\\x1B[0m\ttab"), 1);
}

TEST(Log4cLog, PredicatesFollowLoggerLevel) {
  LogCapture capture;  // enables every logger down to DEBUG
  for (int level = LOG4C_DEBUG; level <= LOG4C_FATAL; ++level) EXPECT_TRUE(log4c_is_enabled[level]("Any"));
}

TEST_F(UserCallbackTest, WarnBelowMinimumIsNotForwardedErrorIs) {
  LOG4C("Test", LOG4C_WARN, "just a warning");
  EXPECT_EQ(g_record.calls, 0);
  LOG4C("Test", LOG4C_ERROR, "real failure");
  ASSERT_EQ(g_record.calls, 1);
  EXPECT_EQ(g_record.level, LOG4C_ERROR);
  EXPECT_EQ(g_record.message, "real failure");
  EXPECT_EQ(g_record.user_level, -1);
  EXPECT_TRUE(g_record.user_message_null);
}

TEST_F(UserCallbackTest, ExtendedCallIsChosenByUserLevel) {
  LOG4C_EX("Test", LOG4C_ERROR, "detail for the log", 2, "short");
  EXPECT_EQ(g_record.calls, 0);
  LOG4C_EX("Test", LOG4C_WARN, "Bad XML in feed.xml line 3", 3, "Bad XML file encountered, skipping...");
  ASSERT_EQ(g_record.calls, 1);
  EXPECT_EQ(g_record.level, LOG4C_WARN);
  EXPECT_EQ(g_record.user_level, 3);
  EXPECT_EQ(g_record.user_message, "Bad XML file encountered, skipping...");
}

TEST_F(UserCallbackTest, OneFormatBufferForBothTextsIsRejected) {
  char *text = log4c_sprintf("detail %d", 5);
  LOG4C_EX("Test", LOG4C_ERROR, text, 3, text);
  EXPECT_EQ(capture.count("Test", LOG4C_ERROR,
                          "Invalid use of log4c_s/vprintf(), it can only be used for one of the messages"),
            1);
  ASSERT_EQ(g_record.calls, 1);
  EXPECT_EQ(g_record.user_message, "Internal error");
}

namespace {
int g_host_locks = 0;
void host_lock(int) { ++g_host_locks; }
}  // namespace

TEST(Log4cLocks, HostCallbacksGuardTheTableOnceInstalled) {
  log4c_set_lock_callbacks(1, host_lock, host_lock, host_lock);
  std::thread([] { log4c_sprintf("new thread"); }).join();
  log4c_set_lock_callbacks(0, nullptr, nullptr, nullptr);
  // A new thread looks its buffer up (read lock + unlock), then adds one
  // (write lock + unlock).
  EXPECT_EQ(g_host_locks, 4);
}

// Runs in a child process: the table only grows, so filling it would starve
// every later test in this process.
TEST(Log4cBufferTableDeathTest, ThreadPastTheLimitGetsItsFormatBack) {
  EXPECT_EXIT(
      {
        LogCapture capture;
        std::vector<std::thread> threads;
        std::atomic<int> formatted{0};
        std::atomic<bool> release{false};
        // Keep every thread alive so that no id is reused.
        for (int i = 0; i < LOG4C_MAX_THREADS; ++i)
          threads.emplace_back([&] {
            log4c_sprintf("%d", 1);
            ++formatted;
            while (!release) std::this_thread::yield();
          });
        while (formatted < LOG4C_MAX_THREADS) std::this_thread::yield();
        const char *format = "late %d";
        const char *text = nullptr;
        const char *again = nullptr;
        std::thread([&] {
          text = log4c_sprintf(format, 1);
          again = log4c_sprintf(format, 2);
        }).join();
        release = true;
        for (auto &t : threads) t.join();
        bool ok = text == format && again == format &&
                  capture.count("log4c", LOG4C_ERROR, "Can't allocate buffer entry for thread") == 2;
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// A pool with an allocator of its own is used by one thread while others
// allocate from the shared allocator, and goes with its parent.
TEST(Log4cPool, UnsharedPoolServesItsThreadAndGoesWithItsParent) {
  TestPool parent;
  apr_pool_t *unshared = pool_create_unshared_or_die(parent, "test");
  std::thread reader([unshared] {
    for (int i = 0; i < 200; ++i) {
      Pool scope(unshared, "test");
      std::memset(apr_palloc(scope, 8192), i, 8192);
    }
  });
  for (int i = 0; i < 200; ++i) {
    Pool scope(parent, "test");
    std::memset(apr_palloc(scope, 8192), i, 8192);
  }
  reader.join();
  auto *kept = static_cast<char *>(apr_palloc(unshared, 16));
  std::strcpy(kept, "still here");
  EXPECT_STREQ(kept, "still here");
  EXPECT_EQ(apr_pool_parent_get(unshared), parent.get());
}
