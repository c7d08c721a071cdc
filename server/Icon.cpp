// The icon's pixels and the few PNG chunks that carry them.
#include "Icon.h"

#include <cstdint>
#include <algorithm>
#include <cstdlib>

namespace {

constexpr std::size_t kStoredBlock = 65535;  // the largest stored deflate block

std::uint32_t crc32(const std::string &data, std::size_t from) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = from; i < data.size(); ++i) {
    crc ^= static_cast<unsigned char>(data[i]);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void put32(std::string &out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void chunk(std::string &png, const char *type, const std::string &data) {
  put32(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.append(type, 4);
  png += data;
  put32(png, crc32(png, start));
}

// One scanline per row (filter byte 0, then RGB): a white play sign.
std::string pixels(unsigned size) {
  std::string raw;
  const int half = static_cast<int>(size) / 2;
  for (unsigned y = 0; y < size; ++y) {
    raw.push_back(0);
    for (unsigned x = 0; x < size; ++x) {
      const int dx = static_cast<int>(x) - static_cast<int>(size) / 3;
      const bool sign = dx >= 0 && std::abs(static_cast<int>(y) - half) * 2 <= half - dx && dx <= half;
      raw.append(sign ? "\xFF\xFF\xFF" : "\x1E\x4F\x9A", 3);
    }
  }
  return raw;
}

std::string zlib_stored(const std::string &raw) {
  std::string out("\x78\x01", 2);
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  for (std::size_t at = 0; at < raw.size(); at += kStoredBlock) {
    const std::size_t length = std::min(kStoredBlock, raw.size() - at);
    out.push_back(at + length >= raw.size() ? 1 : 0);
    out.push_back(static_cast<char>(length & 0xFF));
    out.push_back(static_cast<char>(length >> 8));
    out.push_back(static_cast<char>(~length & 0xFF));
    out.push_back(static_cast<char>((~length >> 8) & 0xFF));
    out.append(raw, at, length);
  }
  put32(out, (b << 16) | a);
  return out;
}

}  // namespace

std::string icon_png(unsigned size) {
  std::string png("\x89PNG\r\n\x1A\n", 8);
  std::string header;
  put32(header, size);
  put32(header, size);
  header.append("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", zlib_stored(pixels(size)));
  chunk(png, "IEND", "");
  return png;
}
