#include "CommonTagLibStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

BoundedTagStream::BoundedTagStream(const char *path) : path_(path) {
  fd_ = open(path, O_RDONLY | O_CLOEXEC);
  struct stat facts {};
  if (fd_ >= 0 && fstat(fd_, &facts) == 0) length_ = static_cast<long>(facts.st_size);
}

BoundedTagStream::~BoundedTagStream() {
  if (fd_ >= 0) close(fd_);
}

void BoundedTagStream::seek(long offset, Position position) {
  const long base = position == Beginning ? 0 : position == Current ? at_ : length_;
  // Like fseek: a position before the start is refused, one past the end kept.
  if (base + offset >= 0) at_ = base + offset;
}

long BoundedTagStream::read_at(long at, long size, char *out) {
  long done = 0;
  while (done < size) {
    const ssize_t got = pread(fd_, out + done, static_cast<size_t>(size - done), at + done);
    ++file_reads_;
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += got;
  }
  return done;
}

const char *BoundedTagStream::windowed(long at, long size) {
  for (int i = 0; i < 2; ++i) {
    const Window &window = windows_[i];
    if (window.start >= 0 && at >= window.start &&
        at + size <= window.start + static_cast<long>(window.bytes.size())) {
      if (window.start != 0) last_window_ = i;
      return window.bytes.data() + (at - window.start);
    }
  }
  // The window at the file's start is kept while TagLib reads elsewhere:
  // headers there are read again after a look at the end.
  Window &window = windows_[windows_[0].start == 0 ? 1 : windows_[1].start == 0 ? 0 : 1 - last_window_];
  window.start = std::min(at & ~4095L, std::max(0L, length_ - TAG_WINDOW_BYTES));
  window.bytes.resize(static_cast<size_t>(std::min(TAG_WINDOW_BYTES, length_ - window.start)));
  window.bytes.resize(static_cast<size_t>(read_at(window.start, static_cast<long>(window.bytes.size()),
                                                  window.bytes.data())));
  if (at + size > window.start + static_cast<long>(window.bytes.size())) {
    window.start = -1;
    return nullptr;
  }
  return window.bytes.data() + (at - window.start);
}

TagLib::ByteVector BoundedTagStream::readBlock(unsigned long length) {
  const long total = length_;
  const long at = at_;
  const long tail_start = total - TAG_TAIL_BYTES;
  long allowed;
  if (fd_ < 0 || at >= total) {
    allowed = 0;
  } else if (at < TAG_HEAD_BYTES) {
    allowed = (tail_start <= TAG_HEAD_BYTES ? total : TAG_HEAD_BYTES) - at;
  } else if (at >= tail_start) {
    allowed = total - at;
  } else {
    allowed = 0;
  }
  if (allowed <= 0) return TagLib::ByteVector();
  const long size = std::min(static_cast<long>(length), allowed);
  TagLib::ByteVector block;
  const char *held = size <= TAG_WINDOW_BYTES / 2 ? windowed(at, size) : nullptr;
  if (held != nullptr) {
    block.setData(held, static_cast<unsigned int>(size));
  } else {
    block.resize(static_cast<unsigned int>(size));
    block.resize(static_cast<unsigned int>(read_at(at, size, block.data())));
  }
  at_ += static_cast<long>(block.size());
  served_ += static_cast<long>(block.size());
  return block;
}
