#include "CommonTagLibStream.h"

BoundedTagStream::BoundedTagStream(const char *path) : file_(path, true) {}

TagLib::FileName BoundedTagStream::name() const { return file_.name(); }

bool BoundedTagStream::isOpen() const { return file_.isOpen(); }

void BoundedTagStream::seek(long offset, Position position) { file_.seek(offset, position); }

void BoundedTagStream::clear() { file_.clear(); }

long BoundedTagStream::tell() const { return file_.tell(); }

long BoundedTagStream::length() {
  if (length_ < 0) length_ = file_.length();
  return length_;
}

TagLib::ByteVector BoundedTagStream::readBlock(unsigned long length) {
  const long total = this->length();
  const long at = file_.tell();
  const long tail_start = total - TAG_TAIL_BYTES;
  long allowed;
  if (at < 0 || at >= total) {
    allowed = 0;
  } else if (at < TAG_HEAD_BYTES) {
    allowed = (tail_start <= TAG_HEAD_BYTES ? total : TAG_HEAD_BYTES) - at;
  } else if (at >= tail_start) {
    allowed = total - at;
  } else {
    allowed = 0;
  }
  if (allowed <= 0) return TagLib::ByteVector();
  if (static_cast<unsigned long>(allowed) < length) length = static_cast<unsigned long>(allowed);
  TagLib::ByteVector block = file_.readBlock(length);
  served_ += static_cast<long>(block.size());
  return block;
}
