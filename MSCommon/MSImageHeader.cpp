// JPEG markers up to the first scan, and the two EXIF dates, read without
// MagickCore. Every rule below refuses what libjpeg or MagickCore might read
// differently (or refuse): the caller then asks MagickCore.
#include "MSImageHeader.h"

#include <strings.h>

#include <cstdint>
#include <cstring>

namespace {

// Bytes [at, at + size) of a buffer, every read checked against its end.
struct Span {
  const unsigned char *data;
  std::size_t size;
  bool has(std::size_t at, std::size_t count) const { return at <= size && count <= size - at; }
};

unsigned be16(const unsigned char *p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }

// Past this size MagickCore's resource limits may refuse the photo.
constexpr unsigned kMaxSide = 8192;
constexpr int kMaxComponents = 4;

struct Frame {
  bool seen = false;
  bool progressive = false;
  int components = 0;
  unsigned char ids[kMaxComponents] = {};
  unsigned char tables[kMaxComponents] = {};
  unsigned quant_defined = 0;  // bit per quantization table
  int exif_profiles = 0;
  Span exif{nullptr, 0};
  ImageHeader *header = nullptr;
};

bool quant_tables(Span body, Frame &frame) {
  std::size_t at = 0;
  while (at < body.size) {
    const unsigned precision = body.data[at] >> 4, table = body.data[at] & 15;
    const std::size_t size = 1 + 64 * (precision + 1);
    if (precision > 1 || table > 3 || !body.has(at, size)) return false;
    frame.quant_defined |= 1u << table;
    at += size;
  }
  return true;
}

bool huffman_tables(Span body, Frame &) {
  std::size_t at = 0;
  while (at < body.size) {
    if (!body.has(at, 17)) return false;
    const unsigned index = body.data[at];
    if ((index & ~0x13u) != 0) return false;
    std::size_t count = 0;
    for (int i = 1; i <= 16; ++i) count += body.data[at + i];
    if (count > 256 || !body.has(at + 17, count)) return false;
    at += 17 + count;
  }
  return true;
}

bool restart_interval(Span body, Frame &) { return body.size == 2; }

bool any_segment(Span, Frame &) { return true; }

bool frame_segment(Span body, Frame &frame, bool progressive) {
  if (frame.seen || body.size < 6 || body.data[0] != 8) return false;
  const unsigned height = be16(body.data + 1), width = be16(body.data + 3);
  const int components = body.data[5];
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return false;
  if ((components != 1 && components != 3 && components != 4) ||
      body.size != 6 + 3 * static_cast<std::size_t>(components)) {
    return false;
  }
  for (int i = 0; i < components; ++i) {
    const unsigned char *c = body.data + 6 + 3 * i;
    const unsigned h = c[1] >> 4, v = c[1] & 15;
    if (h < 1 || h > 4 || v < 1 || v > 4 || c[2] > 3) return false;
    for (int j = 0; j < i; ++j) {
      if (frame.ids[j] == c[0]) return false;
    }
    frame.ids[i] = c[0];
    frame.tables[i] = c[2];
  }
  frame.seen = true;
  frame.progressive = progressive;
  frame.components = components;
  frame.header->width = static_cast<int>(width);
  frame.header->height = static_cast<int>(height);
  return true;
}

bool sequential_frame(Span body, Frame &frame) { return frame_segment(body, frame, false); }
bool progressive_frame(Span body, Frame &frame) { return frame_segment(body, frame, true); }

// MagickCore names an APP1 segment "exif" by its first four letters in any
// case, and joins several; only one, with the usual header, is read here.
bool app1_segment(Span body, Frame &frame) {
  if (body.size < 4 || strncasecmp(reinterpret_cast<const char *>(body.data), "exif", 4) != 0) return true;
  if (++frame.exif_profiles > 1 || body.size < 6 || std::memcmp(body.data, "Exif\0\0", 6) != 0) return false;
  frame.exif = Span{body.data + 6, body.size - 6};
  return true;
}

using SegmentCheck = bool (*)(Span body, Frame &frame);

struct SegmentRule {
  unsigned char first, last;  // marker range
  SegmentCheck check;
};

// The segments libjpeg reads before a scan without a warning; any other
// marker is left to MagickCore.
constexpr SegmentRule kSegments[] = {
    {0xC0, 0xC1, sequential_frame}, {0xC2, 0xC2, progressive_frame}, {0xC4, 0xC4, huffman_tables},
    {0xDB, 0xDB, quant_tables},     {0xDD, 0xDD, restart_interval},  {0xE0, 0xE0, any_segment},
    {0xE1, 0xE1, app1_segment},     {0xE2, 0xEF, any_segment},       {0xFE, 0xFE, any_segment},
};

SegmentCheck segment_check(unsigned char marker) {
  for (const SegmentRule &rule : kSegments) {
    if (marker >= rule.first && marker <= rule.last) return rule.check;
  }
  return nullptr;
}

// The first scan's header: its components known to the frame, with their
// quantization tables defined, and a first scan libjpeg starts without a
// warning.
bool scan_segment(Span body, const Frame &frame) {
  if (!frame.seen || body.size < 1) return false;
  const int count = body.data[0];
  if (count < 1 || count > frame.components || body.size != 1 + 2 * static_cast<std::size_t>(count) + 3) return false;
  unsigned used = 0;
  for (int i = 0; i < count; ++i) {
    int found = -1;
    for (int j = 0; j < frame.components; ++j) {
      if (frame.ids[j] == body.data[1 + 2 * i]) found = j;
    }
    if (found < 0 || (used & (1u << found)) != 0) return false;
    used |= 1u << found;
  }
  for (int j = 0; j < frame.components; ++j) {
    if ((frame.quant_defined & (1u << frame.tables[j])) == 0) return false;
  }
  const unsigned char *tail = body.data + 1 + 2 * count;
  const unsigned start = tail[0], end = tail[1], high = tail[2] >> 4, low = tail[2] & 15;
  if (frame.progressive) return start == 0 && end == 0 && high == 0 && low <= 13;
  return start == 0 && end == 63 && high == 0 && low == 0;
}

// EXIF (a TIFF structure) ---------------------------------------------------

struct Tiff {
  Span bytes;
  bool big_endian;
  unsigned u16(std::size_t at) const {
    const unsigned char *p = bytes.data + at;
    return big_endian ? be16(p) : static_cast<unsigned>(p[1] << 8 | p[0]);
  }
  std::uint32_t u32(std::size_t at) const {
    const std::uint32_t a = u16(at), b = u16(at + 2);
    return big_endian ? (a << 16 | b) : (b << 16 | a);
  }
};

constexpr unsigned kTagDateTime = 0x0132, kTagDateTimeOriginal = 0x9003, kTagExifIfd = 0x8769;
// Directories MagickCore also walks: a date tag met in one of them, or in
// IFD1, is left to it.
constexpr unsigned kSubDirectories[] = {kTagExifIfd, 0x8825, 0xA005};
constexpr unsigned kFormatBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
constexpr int kMaxDirectories = 8;
constexpr unsigned kFormatAscii = 2, kFormatLong = 4;

struct ExifWalk {
  Tiff tiff;
  std::uint32_t visited[kMaxDirectories] = {};
  int directories = 0;
  int dates_found[2] = {};  // taken, edited
  ImageHeader *header = nullptr;
};

// The text of an ASCII entry as MagickCore renders it.
bool date_text(const ExifWalk &walk, std::size_t entry, char *out) {
  const std::uint32_t count = walk.tiff.u32(entry + 4);
  std::size_t at = entry + 8;
  if (count > 4) at = walk.tiff.u32(entry + 8);
  if (walk.tiff.u16(entry + 2) != kFormatAscii || at > INT32_MAX || !walk.tiff.bytes.has(at, count)) return false;
  std::size_t length = 0;
  for (; length < count && walk.tiff.bytes.data[at + length] != '\0'; ++length) {
    if (length + 1 >= IMAGE_HEADER_DATE_MAX) return false;
    const unsigned char c = walk.tiff.bytes.data[at + length];
    out[length] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
  }
  out[length] = '\0';
  return true;
}

bool is_sub_directory(unsigned tag) {
  for (unsigned sub : kSubDirectories) {
    if (tag == sub) return true;
  }
  return false;
}

bool walk_directory(ExifWalk &walk, std::uint32_t offset, bool trusted);

bool read_entry(ExifWalk &walk, std::size_t entry, bool in_ifd0, bool trusted) {
  const Tiff &tiff = walk.tiff;
  const unsigned tag = tiff.u16(entry), format = tiff.u16(entry + 2);
  const std::uint32_t count = tiff.u32(entry + 4);
  if (format < 1 || format > 12 || count > INT32_MAX) return false;
  if (tag == kTagDateTime || tag == kTagDateTimeOriginal) {
    const int which = tag == kTagDateTimeOriginal ? 0 : 1;
    if (!trusted || ++walk.dates_found[which] > 1) return false;
    return date_text(walk, entry, which == 0 ? walk.header->taken : walk.header->edited);
  }
  if (!is_sub_directory(tag)) return true;
  if (format != kFormatLong || count != 1) return false;
  return walk_directory(walk, tiff.u32(entry + 8), in_ifd0 && tag == kTagExifIfd);
}

// One directory, the ones it points to and the one after it.
bool walk_directory(ExifWalk &walk, std::uint32_t offset, bool trusted) {
  const Tiff &tiff = walk.tiff;
  for (int i = 0; i < walk.directories; ++i) {
    if (walk.visited[i] == offset) return false;
  }
  if (walk.directories == kMaxDirectories || !tiff.bytes.has(offset, 2)) return false;
  const bool ifd0 = walk.directories == 0;
  walk.visited[walk.directories++] = offset;
  const unsigned entries = tiff.u16(offset);
  if (!tiff.bytes.has(offset + 2, 12 * std::size_t{entries} + 4)) return false;
  for (unsigned i = 0; i < entries; ++i) {
    if (!read_entry(walk, offset + 2 + 12 * std::size_t{i}, ifd0, trusted)) return false;
  }
  const std::uint32_t next = tiff.u32(offset + 2 + 12 * std::size_t{entries});
  return next == 0 || walk_directory(walk, next, false);
}

bool exif_dates(Span exif, ImageHeader *header) {
  // MagickCore reads no EXIF shorter than 16 bytes.
  if (exif.data == nullptr) return true;
  if (exif.size < 16) return false;
  const bool big = std::memcmp(exif.data, "MM", 2) == 0;
  if (!big && std::memcmp(exif.data, "II", 2) != 0) return false;
  ExifWalk walk{Tiff{exif, big}};
  walk.header = header;
  if (walk.tiff.u16(2) != 42) return false;
  return walk_directory(walk, walk.tiff.u32(4), true);
}

}  // namespace

bool image_header_read(const unsigned char *data, std::size_t length, ImageHeader *header) {
  *header = ImageHeader{};
  const Span file{data, length};
  if (!file.has(0, 2) || data[0] != 0xFF || data[1] != 0xD8) return false;
  Frame frame;
  frame.header = header;
  std::size_t at = 2;
  for (;;) {
    if (!file.has(at, 2) || data[at] != 0xFF) return false;
    while (file.has(at + 1, 1) && data[at + 1] == 0xFF) ++at;
    if (!file.has(at, 4)) return false;
    const unsigned char marker = data[at + 1];
    const std::size_t size = be16(data + at + 2);
    if (size < 2 || !file.has(at + 2, size)) return false;
    const Span body{data + at + 4, size - 2};
    if (marker == 0xDA) return scan_segment(body, frame) && exif_dates(frame.exif, header);
    const SegmentCheck check = segment_check(marker);
    if (check == nullptr || !check(body, frame)) return false;
    at += 2 + size;
  }
}
