// User messages and the user log: table bounds, the ring's capacity and the
// once-per-second error reports.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "CommonUserLog.h"
#include "CommonUserMessage.h"
#include "LogCapture.h"

namespace {

constexpr const char *kInternalError =
    "Internal server error, unexpected software state encountered. It is recommended to close the application.";

std::vector<UserLogEntry> ring() {
  std::vector<UserLogEntry> entries;
  user_log_for_each([](const UserLogEntry &e, void *out) { static_cast<std::vector<UserLogEntry> *>(out)->push_back(e); },
                    &entries);
  return entries;
}

class UserLogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(user_log_init(pool), 0); }
  void TearDown() override { user_log_terminate(); }
  TestPool pool;
};

}  // namespace

TEST(UserMessage, OutOfRangeLogsInternalErrorAndGivesNull) {
  LogCapture capture;
  EXPECT_EQ(user_message_get(0, 115), nullptr);
  EXPECT_EQ(user_message_get(1, 5), nullptr);
  EXPECT_EQ(user_message_get(-1, 5), nullptr);
  EXPECT_EQ(capture.count("CommonUserMessage", 3, kInternalError), 3);
  capture.clear();
  EXPECT_EQ(user_message_get(0, 0), nullptr);
  EXPECT_TRUE(capture.events().empty());
}

TEST(UserMessage, TextsAreVerbatimIncludingEscapedAmpersands) {
  EXPECT_STREQ(user_message_get(0, 3), "Started streaming \"%s\" to \"%s\"");
  EXPECT_STREQ(user_message_get(0, 49), "Could not delete library objetcs that are no longer required.");
  EXPECT_STREQ(user_message_get(0, 108), "Business &amp; Finance");
  EXPECT_STREQ(user_message_get(0, 114), "Computers &amp; Technology");
  EXPECT_STREQ(user_message_current(62), "Genres / Artists / Albums");
  EXPECT_NE(std::string(user_message_get(0, 46)).find("click to learn more"), std::string::npos);
  for (int code = 1; code < USER_MESSAGE_CODES; ++code) EXPECT_NE(user_message_get(0, code), nullptr) << code;
}

TEST_F(UserLogTest, RingKeepsTheLast100EventsOldestFirst) {
  uint32_t before = user_log_change_count();
  for (int i = 0; i < 100; ++i) user_log_add(USER_LOG_SERVICE, 22, std::to_string(i).c_str());
  EXPECT_EQ(ring().size(), 100u);
  EXPECT_STREQ(ring().front().text, "Started refreshing 0");
  user_log_add(USER_LOG_SERVICE, 22, "100");
  std::vector<UserLogEntry> entries = ring();
  ASSERT_EQ(entries.size(), 100u);
  EXPECT_STREQ(entries.front().text, "Started refreshing 1");
  EXPECT_STREQ(entries.back().text, "Started refreshing 100");
  EXPECT_EQ(user_log_change_count(), before + 101);
}

TEST_F(UserLogTest, LongTextIsCutTo511CharactersWithWarning) {
  LogCapture capture;
  std::string name(600, 'n');
  user_log_add(USER_LOG_DOWNLOADING, 1, name.c_str());
  EXPECT_EQ(std::string(ring().back().text), name.substr(0, 511));
  EXPECT_EQ(capture.count("CommonUserLog", 2, "Static buffer is too small, trimming user log message to fit buffer"), 1);
}

TEST_F(UserLogTest, ErrorEventsAreNotEchoedOtherEventsAre) {
  LogCapture capture;
  user_log_add(USER_LOG_SERVICE, 13);
  user_log_add(USER_LOG_ERROR, 1, "already logged");
  EXPECT_EQ(capture.count("CommonUserLog", 1, "Started media sharing"), 1);
  EXPECT_FALSE(capture.contains("already logged"));
}

TEST_F(UserLogTest, ErrorReportsAreThrottledPerThread) {
  using Clock = std::chrono::steady_clock;
  Clock::duration first_gap{};
  Clock::duration second_gap{};
  std::thread([&] {
    Clock::time_point first = Clock::now();
    user_log_report_error("first");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Clock::time_point second = Clock::now();
    user_log_report_error("second");  // within a second: dropped, restarts the window
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    user_log_report_error("third");  // 0.7 s after the second: dropped too
    first_gap = second - first;
    second_gap = Clock::now() - second;
  }).join();
  if (first_gap >= std::chrono::milliseconds(950) || second_gap >= std::chrono::milliseconds(950))
    GTEST_SKIP() << "the machine was too busy to keep the reports less than a second apart";
  std::vector<UserLogEntry> entries = ring();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_STREQ(entries[0].text, "Error - first");
  EXPECT_EQ(entries[0].category, USER_LOG_ERROR);
  EXPECT_EQ(entries[0].code, 2);

  std::thread([] { user_log_report_error("other thread"); }).join();
  EXPECT_EQ(ring().size(), 2u);
}
