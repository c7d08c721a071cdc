// Shared growing files: flat and cyclic writing, plain and shared readers,
// pending positions, filler, and the wait for data. (CommonFile's tests live
// with the database's, whose thread-hook and file start-up they share.)
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "CommonFile.h"
#include "CommonFileInternal.h"
#include "LogCapture.h"

namespace {

constexpr apr_uint64_t kCyclicSize = 10000;
constexpr apr_uint64_t kGap = 1000;

// Byte i of every test stream, so a read shows where it came from.
char pattern(apr_int64_t i) { return static_cast<char>(i % 251); }

std::string stream(apr_int64_t from, apr_size_t length) {
  std::string out(length, '\0');
  for (apr_size_t i = 0; i < length; ++i) out[i] = pattern(from + static_cast<apr_int64_t>(i));
  return out;
}

int stop_waiting(void *) { return 1; }

int range_reader(void *user_data, apr_int64_t offset, char *buffer, apr_size_t *length) {
  ++*static_cast<int *>(user_data);
  std::string bytes = stream(offset, *length / 2);
  std::copy(bytes.begin(), bytes.end(), buffer);
  *length = bytes.size();
  return 0;
}

class CommonFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(common_file_init(pool_, kCyclicSize, kGap, 0), 0); }

  CommonFileWriter *create(const char *type = "video/mpeg", int cyclic = 0, apr_int64_t expected = -1) {
    CommonFileWriter *writer = nullptr;
    EXPECT_EQ(common_file_create(pool_, path_.c_str(), type, cyclic, expected, &writer, nullptr, nullptr), 0);
    return writer;
  }
  void write(CommonFileWriter *writer, apr_int64_t from, apr_size_t length) {
    std::string bytes = stream(from, length);
    apr_size_t done = length;
    ASSERT_EQ(common_file_write(writer, bytes.data(), &done, nullptr, nullptr), 0);
    ASSERT_EQ(done, length);
  }
  std::string read(CommonFileReader *reader, apr_size_t length, int expected_status = 0) {
    std::string out(length, '\0');
    apr_size_t got = length;
    EXPECT_EQ(common_file_read(reader, out.data(), &got, nullptr, nullptr), expected_status);
    out.resize(got);
    return out;
  }

  TestPool pool_;
  TempDir dir_;
  LogCapture log_;
  std::string path_ = dir_.file("stream.mpg");
};

}  // namespace

TEST_F(CommonFileTest, MpegGapsAreFilledWithPaddingPackets) {
  std::string buffer(4100, 'x');
  common_file_filler("VIDEO/MPEG2", buffer.data(), buffer.size());
  EXPECT_EQ(buffer.substr(0, 6), std::string("\x00\x00\x01\xBE\x07\xFA", 6));
  EXPECT_EQ(buffer.substr(6, 2042), std::string(2042, '\xFF'));
  EXPECT_EQ(buffer.substr(2048, 6), std::string("\x00\x00\x01\xBE\x07\xFA", 6));
  EXPECT_EQ(buffer.substr(4096), std::string(4, '\0'));
  std::string short_gap(30, 'x');
  common_file_filler("video/dvd", short_gap.data(), short_gap.size());
  EXPECT_EQ(short_gap.substr(0, 6), std::string("\x00\x00\x01\xBE\x00\x18", 6));
  std::string other(30, 'x');
  common_file_filler("audio/mpeg", other.data(), other.size());
  EXPECT_EQ(other, std::string(30, '\0'));
  std::string tiny(5, 'x');
  common_file_filler("video/mpeg", tiny.data(), tiny.size());
  EXPECT_EQ(tiny, std::string(5, '\0'));
}

TEST_F(CommonFileTest, PlainReaderOfAFinishedFile) {
  CommonFileWriter *writer = create("audio/mpeg");
  write(writer, 0, 5000);
  ASSERT_EQ(common_file_writer_close(writer), 0);
  CommonFileReader *reader = nullptr;
  ASSERT_EQ(common_file_open(pool_, path_.c_str(), -1, 0, 0, &reader, nullptr, nullptr), 0);
  apr_int64_t offset = 1000;
  ASSERT_EQ(common_file_seek(reader, APR_SET, &offset), 0);
  EXPECT_EQ(read(reader, 3000), stream(1000, 3000));
  offset = 100;
  ASSERT_EQ(common_file_seek(reader, APR_END, &offset), 0);
  EXPECT_EQ(offset, 4900);
  EXPECT_EQ(read(reader, 500), stream(4900, 100));
  EXPECT_EQ(read(reader, 10, APR_EOF), "");
  apr_int64_t size = 0;
  int final_size = 0;
  ASSERT_EQ(common_file_info(reader, &size, &final_size), 0);
  EXPECT_EQ(size, 5000);
  EXPECT_EQ(final_size, 1);
  EXPECT_EQ(common_file_reader_close(reader), 0);
}

TEST_F(CommonFileTest, SharedReaderFollowsAWriterInAnotherThread) {
  CommonFileWriter *writer = create("audio/mpeg", 0, 200000);
  std::thread producer([&] {
    for (apr_int64_t at = 0; at < 200000; at += 10000) {
      write(writer, at, 10000);
      apr_sleep(2000);
    }
    common_file_writer_close(writer);
  });
  CommonFileReader *reader = nullptr;
  ASSERT_EQ(common_file_open(pool_, path_.c_str(), -1, 0, 0, &reader, nullptr, nullptr), 0);
  std::string all;
  for (int i = 0; i < 100 && all.size() < 200000; ++i) all += read(reader, 7000);
  producer.join();
  EXPECT_EQ(all, stream(0, 200000));
  EXPECT_EQ(read(reader, 10, APR_EOF), "");
  common_file_reader_close(reader);
}

TEST_F(CommonFileTest, ReaderOpeningBeforeTheFileExistsWaitsForIt) {
  CommonFileWriter *writer = nullptr;
  std::thread producer([&] {
    apr_sleep(apr_time_from_msec(300));
    writer = create("audio/mpeg", 0, 100);
    write(writer, 0, 100);
  });
  CommonFileReader *reader = nullptr;
  EXPECT_EQ(common_file_open(pool_, path_.c_str(), -1, 0, 0, &reader, nullptr, nullptr), 0);
  producer.join();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(read(reader, 100), stream(0, 100));
  common_file_reader_close(reader);
  common_file_writer_close(writer);
  CommonFileReader *missing = nullptr;
  EXPECT_EQ(common_file_open(pool_, dir_.file("never").c_str(), -1, 0, 0, &missing, stop_waiting, nullptr), 4);
}

TEST_F(CommonFileTest, CyclicFileWrapsAndAnOvertakenReaderJumpsAhead) {
  CommonFileWriter *writer = create("video/mpeg", 1);
  write(writer, 0, 1000);
  CommonFileReader *reader = nullptr;
  ASSERT_EQ(common_file_open(pool_, path_.c_str(), 1000, 0, 0, &reader, nullptr, nullptr), 0);
  EXPECT_EQ(read(reader, 100), stream(0, 100));
  // Pretend the first write was long ago, so only the size threshold matters.
  writer->first_write_minute -= 5;
  for (apr_int64_t at = 1000; at < 60000; at += 1000) write(writer, at, 1000);
  ASSERT_NE(writer->cycle_length, 0u);
  EXPECT_EQ(writer->cycle_length, kGap + 1000 + 11000);
  EXPECT_LE(static_cast<apr_uint64_t>(common_file_size(writer->file)), writer->cycle_length);
  EXPECT_TRUE(log_.contains("Cyclic file wrap to beginning File: (" + path_ + ")"));
  apr_int64_t resume = 60000 + kGap - writer->cycle_length + kGap;
  EXPECT_EQ(read(reader, 500), stream(resume, 500));
  std::string across;
  for (int i = 0; i < 6; ++i) across += read(reader, 1500);
  EXPECT_EQ(across, stream(resume + 500, 9000));
  apr_int64_t size = 0;
  int final_size = 1;
  ASSERT_EQ(common_file_info(reader, &size, &final_size), 0);
  EXPECT_EQ(size, 60000);
  EXPECT_EQ(final_size, 0);
  ASSERT_EQ(common_file_seek_live(reader), 0);
  EXPECT_EQ(read(reader, 200), stream(60000 - kGap, 200));
  common_file_writer_close(writer);
  ASSERT_EQ(common_file_info(reader, &size, &final_size), 0);
  EXPECT_EQ(size, -1);
  common_file_reader_close(reader);
}

TEST_F(CommonFileTest, SeekBeyondTheWriterUsesTheRangeReaderOrFiller) {
  CommonFileWriter *writer = create("audio/mpeg", 0, 5000000);
  write(writer, 0, 70000);
  int calls = 0;
  common_file_set_range_reader(writer, range_reader, &calls);
  CommonFileReader *reader = nullptr;
  ASSERT_EQ(common_file_open(pool_, path_.c_str(), -1, 1, 0, &reader, nullptr, nullptr), 0);
  apr_int64_t offset = 3000000;
  ASSERT_EQ(common_file_seek(reader, APR_SET, &offset), 0);
  std::string got = read(reader, 100);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(got, stream(3000000, 50) + std::string(50, '\0'));
  common_file_set_range_reader(writer, nullptr, nullptr);
  EXPECT_EQ(read(reader, 100), std::string(100, '\0'));
  EXPECT_TRUE(log_.contains("Read failed for file " + path_ + ", returning zeroes"));
  offset = 60000;
  ASSERT_EQ(common_file_seek(reader, APR_SET, &offset), 0);
  EXPECT_EQ(read(reader, 100), stream(60000, 100));
  common_file_reader_close(reader);
  CommonFileReader *strict = nullptr;
  ASSERT_EQ(common_file_open(pool_, path_.c_str(), -1, 0, 1, &strict, nullptr, nullptr), 0);
  offset = 4000000;
  ASSERT_EQ(common_file_seek(strict, APR_SET, &offset), 0);
  std::string buffer(10, '\0');
  apr_size_t length = buffer.size();
  EXPECT_EQ(common_file_read(strict, buffer.data(), &length, nullptr, nullptr), APR_EGENERAL);
  common_file_reader_close(strict);
  common_file_writer_close(writer);
}

TEST_F(CommonFileTest, PendingPositionResolvesOnceTheWriterGetsThere) {
  CommonFileWriter *writer = create("audio/mpeg", 0, 200000);
  write(writer, 0, 70000);
  CommonFileReader *reader = nullptr;
  ASSERT_EQ(common_file_open(pool_, path_.c_str(), -1, 0, 0, &reader, nullptr, nullptr), 0);
  apr_int64_t offset = 100000;
  ASSERT_EQ(common_file_seek(reader, APR_SET, &offset), 0);
  std::thread producer([&] {
    apr_sleep(apr_time_from_msec(100));
    write(writer, 70000, 50000);
  });
  EXPECT_EQ(read(reader, 1000), stream(100000, 1000));
  producer.join();
  offset = 0;
  ASSERT_EQ(common_file_seek(reader, APR_CUR, &offset), 0);
  EXPECT_EQ(offset, 101000);
  EXPECT_TRUE(log_.contains("Seeking to current location 101000 on file " + path_));
  common_file_reader_close(reader);
  common_file_writer_close(writer);
}

TEST_F(CommonFileTest, WaitForDataEndsWhenTheWriterCloses) {
  CommonFileWriter *writer = create();
  write(writer, 0, 10);
  EXPECT_EQ(common_file_wait_for_data(path_.c_str(), 10, apr_time_from_msec(10), nullptr, nullptr), 0);
  EXPECT_EQ(common_file_wait_for_data(path_.c_str(), 20, apr_time_from_msec(50), nullptr, nullptr), APR_TIMEUP);
  EXPECT_EQ(common_file_wait_for_data(path_.c_str(), 20, apr_time_from_sec(5), stop_waiting, nullptr), 4);
  std::thread closer([&] {
    apr_sleep(apr_time_from_msec(100));
    common_file_writer_close(writer);
  });
  EXPECT_EQ(common_file_wait_for_data(path_.c_str(), 20, apr_time_from_sec(10), nullptr, nullptr), APR_EOF);
  closer.join();
}
