// The HTTP file: reads across windows, seeks, servers that ignore ranges,
// and heads lent from a local copy.
#include <gtest/gtest.h>

#include <string>

#include "CommonHTTPFile.h"
#include "HttpFixture.h"

namespace {

using HttpFileTest = HttpFixture;

TEST_F(HttpFileTest, ReadsAcrossWindowsWithOneRequestEach) {
  std::string content(500000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 % 251);
  std::string u = serve("big.bin", content);
  HttpFile *file = nullptr;
  ASSERT_EQ(http_file_open(pool_, u.c_str(), &file), 0);
  EXPECT_EQ(http_file_size(file), 500000);
  std::string read;
  char buffer[65536];
  for (;;) {
    apr_size_t length = sizeof buffer;
    int status = http_file_read(file, buffer, &length, nullptr, nullptr);
    if (status == APR_EOF) break;
    ASSERT_EQ(status, 0);
    read.append(buffer, length);
  }
  EXPECT_EQ(read, content);
  EXPECT_EQ(requests_served(), 3) << "500,000 bytes in three windows";
  apr_int64_t offset = -100;
  ASSERT_EQ(http_file_seek(file, APR_END, &offset), 0);
  EXPECT_EQ(offset, 499900);
  apr_size_t length = 200;
  ASSERT_EQ(http_file_read(file, buffer, &length, nullptr, nullptr), 0);
  EXPECT_EQ(length, 100u);
  EXPECT_EQ(std::string(buffer, length), content.substr(499900));
  offset = 10;
  EXPECT_EQ(http_file_seek(file, APR_END, &offset), APR_EGENERAL);
  EXPECT_TRUE(log_.contains("Could not seek HTTP URL " + u + " to position 500010"));
  http_file_close(file);
}

TEST_F(HttpFileTest, ServerIgnoringRangesAllowsOnlyTheFirstWindow) {
  std::string body(1000, 'b');
  std::string u = url("/status?code=200&body=" + body);
  HttpFile *file = nullptr;
  ASSERT_EQ(http_file_open(pool_, u.c_str(), &file), 0);
  EXPECT_EQ(http_file_size(file), 1000);
  char buffer[2000];
  apr_size_t length = sizeof buffer;
  ASSERT_EQ(http_file_read(file, buffer, &length, nullptr, nullptr), 0);
  EXPECT_EQ(length, 1000u);
  http_file_close(file);
  std::string ignored = url("/norange?size=250000");
  ASSERT_EQ(http_file_open(pool_, ignored.c_str(), &file), 0);
  EXPECT_EQ(http_file_size(file), 250000);
  apr_int64_t offset = 200000;
  ASSERT_EQ(http_file_seek(file, APR_SET, &offset), 0);
  length = 100;
  EXPECT_EQ(http_file_read(file, buffer, &length, nullptr, nullptr), APR_EGENERAL);
  EXPECT_TRUE(log_.contains("Unable to open HTTP URL (" + ignored + ") for out of order reads"));
  http_file_close(file);
  std::string whole = url("/rangereject");
  ASSERT_NE(http_file_open(pool_, whole.c_str(), &file), 0) << "a server that refuses ranges";
  EXPECT_TRUE(log_.contains("Error reading " + whole));
}

TEST_F(HttpFileTest, ALentHeadIsReadLocallyAndOnlyTheRestAsked) {
  std::string content(300000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 % 251);
  const std::string u = serve("lent.bin", content);
  const std::string head = dir_.file("head.part");
  write_file(head, content.substr(0, 100000));
  http_file_lend_head(u.c_str(), head.c_str(), 100000, 300000);
  HttpFile *file = nullptr;
  ASSERT_EQ(http_file_open(pool_, u.c_str(), &file), 0);
  EXPECT_EQ(http_file_size(file), 300000);
  char buffer[70000];
  apr_size_t length = sizeof buffer;
  ASSERT_EQ(http_file_read(file, buffer, &length, nullptr, nullptr), 0);
  EXPECT_EQ(std::string(buffer, length), content.substr(0, 70000));
  length = sizeof buffer;
  ASSERT_EQ(http_file_read(file, buffer, &length, nullptr, nullptr), 0);
  EXPECT_EQ(std::string(buffer, length), content.substr(70000, 30000)) << "a read stops at the head's end";
  EXPECT_EQ(requests_served(), 0);
  apr_int64_t offset = -10;
  ASSERT_EQ(http_file_seek(file, APR_END, &offset), 0);
  length = 10;
  ASSERT_EQ(http_file_read(file, buffer, &length, nullptr, nullptr), 0);
  EXPECT_EQ(std::string(buffer, length), content.substr(299990));
  EXPECT_EQ(requests_served(), 1) << "one window past the head";
  http_file_withdraw_head(u.c_str());
  http_file_close(file);
  ASSERT_EQ(http_file_open(pool_, u.c_str(), &file), 0);
  EXPECT_EQ(requests_served(), 2) << "a withdrawn head is no longer read";
  http_file_close(file);
}

}  // namespace
