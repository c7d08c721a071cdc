// CommonTagLibStream: the file view tag reading gets, so that reading the
// tags of any file costs a bounded amount of I/O and memory, and few calls.
//
// TagLib scans for frames and reads blocks of declared sizes; on a padded,
// sparse or hostile file that means reading gigabytes. The view keeps the
// file's real length (durations are computed from it) but serves bytes only
// from the first TAG_HEAD_BYTES and the last TAG_TAIL_BYTES: a read that
// starts between them gets nothing, as at the end of a file, and a read is
// cut where the served part ends. Tags sit at the start (ID3v2, FLAC and Ogg
// metadata, ASF and MP4 headers) or at the end (ID3v1, APE, a trailing MP4
// "moov"); anything else is not looked at.
//
// TagLib reads in small pieces (frame headers, atom headers, 1 KiB search
// blocks) with a seek and a tell around each, which a stdio stream turns
// into an lseek and a read each. Here the position is kept in memory, the
// length asked of the file once, and small reads served from two windows of
// TAG_WINDOW_BYTES read with pread (one for a file's start, one for where
// TagLib is reading now); a read larger than a window goes to the file
// directly. The view is read-only. One view per read, on one thread.
#pragma once

#include <taglib/tiostream.h>

#include <cstddef>
#include <string>

inline constexpr long TAG_HEAD_BYTES = 16L * 1024 * 1024;
inline constexpr long TAG_TAIL_BYTES = 4L * 1024 * 1024;
inline constexpr long TAG_WINDOW_BYTES = 64L * 1024;

class BoundedTagStream : public TagLib::IOStream {
 public:
  // Opens path read-only; isOpen() tells whether that worked.
  explicit BoundedTagStream(const char *path);
  ~BoundedTagStream() override;
  BoundedTagStream(const BoundedTagStream &) = delete;
  BoundedTagStream &operator=(const BoundedTagStream &) = delete;

  TagLib::FileName name() const override { return path_.c_str(); }
  TagLib::ByteVector readBlock(unsigned long length) override;
  void writeBlock(const TagLib::ByteVector &) override {}
  void insert(const TagLib::ByteVector &, unsigned long, unsigned long) override {}
  void removeBlock(unsigned long, unsigned long) override {}
  bool readOnly() const override { return true; }
  bool isOpen() const override { return fd_ >= 0; }
  void seek(long offset, Position position = Beginning) override;
  void clear() override {}
  long tell() const override { return at_; }
  long length() override { return length_; }
  void truncate(long) override {}

  // The bytes served so far, and the reads made of the file (for tests).
  long bytes_served() const { return served_; }
  long file_reads() const { return file_reads_; }

 private:
  struct Window {
    std::string bytes;
    long start = -1;  // -1 while empty
  };

  // The bytes of [at, at + size) from a window, reading one if none holds
  // them; at and size lie within the file and size within a window.
  const char *windowed(long at, long size);
  // Reads up to size bytes at `at` into out; returns how many it read.
  long read_at(long at, long size, char *out);

  std::string path_;
  int fd_ = -1;
  long length_ = 0;
  long at_ = 0;
  long served_ = 0;
  long file_reads_ = 0;
  Window windows_[2];
  int last_window_ = 0;
};
