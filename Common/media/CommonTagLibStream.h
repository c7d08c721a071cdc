// CommonTagLibStream: the file view tag reading gets, so that reading the
// tags of any file costs a bounded amount of I/O and memory.
//
// TagLib scans for frames and reads blocks of declared sizes; on a padded,
// sparse or hostile file that means reading gigabytes. The view keeps the
// file's real length (durations are computed from it) but serves bytes only
// from the first TAG_HEAD_BYTES and the last TAG_TAIL_BYTES: a read that
// starts between them gets nothing, as at the end of a file, and a read is
// cut where the served part ends. Tags sit at the start (ID3v2, FLAC and Ogg
// metadata, ASF and MP4 headers) or at the end (ID3v1, APE, a trailing MP4
// "moov"); anything else is not looked at. The length is asked of the file
// once: the view is read-only. One view per read, on one thread.
#pragma once

#include <taglib/tfilestream.h>
#include <taglib/tiostream.h>

#include <cstddef>

inline constexpr long TAG_HEAD_BYTES = 16L * 1024 * 1024;
inline constexpr long TAG_TAIL_BYTES = 4L * 1024 * 1024;

class BoundedTagStream : public TagLib::IOStream {
 public:
  // Opens path read-only; isOpen() tells whether that worked.
  explicit BoundedTagStream(const char *path);
  BoundedTagStream(const BoundedTagStream &) = delete;
  BoundedTagStream &operator=(const BoundedTagStream &) = delete;

  TagLib::FileName name() const override;
  TagLib::ByteVector readBlock(unsigned long length) override;
  void writeBlock(const TagLib::ByteVector &) override {}
  void insert(const TagLib::ByteVector &, unsigned long, unsigned long) override {}
  void removeBlock(unsigned long, unsigned long) override {}
  bool readOnly() const override { return true; }
  bool isOpen() const override;
  void seek(long offset, Position position = Beginning) override;
  void clear() override;
  long tell() const override;
  long length() override;
  void truncate(long) override {}

  // The bytes served so far (for tests).
  long bytes_served() const { return served_; }

 private:
  TagLib::FileStream file_;
  long length_ = -1;  // -1 until asked
  long served_ = 0;
};
