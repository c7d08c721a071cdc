#include "TapWav.h"

#include <cerrno>
#include <cstring>

namespace tap {
namespace {

constexpr uint32_t kHeaderBytes = 44;
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - kHeaderBytes;

void put(uint8_t *p, uint32_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

WavWriter::~WavWriter() { finish(); }

int WavWriter::open(const std::string &path, uint16_t channels, uint32_t samples_per_sec, uint16_t bits) {
  finish();
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return errno;
  data_bytes_ = 0;
  uint16_t block_align = static_cast<uint16_t>(channels * (bits / 8));
  uint8_t h[kHeaderBytes];
  std::memcpy(h, "RIFF\0\0\0\0WAVEfmt ", 16);
  put(h + 16, 16, 4);
  put(h + 20, bits >= 32 ? 3 : 1, 2);
  put(h + 22, channels, 2);
  put(h + 24, samples_per_sec, 4);
  put(h + 28, samples_per_sec * block_align, 4);
  put(h + 32, block_align, 2);
  put(h + 34, bits, 2);
  std::memcpy(h + 36, "data\0\0\0\0", 8);
  if (std::fwrite(h, 1, sizeof h, file_) != sizeof h) return errno;
  return 0;
}

int WavWriter::write(const void *data, size_t size) {
  if (file_ == nullptr) return EBADF;
  if (data_bytes_ + size > kMaxDataBytes) return EFBIG;
  if (std::fwrite(data, 1, size, file_) != size) return errno;
  data_bytes_ += size;
  return 0;
}

int WavWriter::finish() {
  if (file_ == nullptr) return 0;
  uint8_t size[4];
  put(size, static_cast<uint32_t>(kHeaderBytes - 8 + data_bytes_), 4);
  int status = std::fseek(file_, 4, SEEK_SET) == 0 && std::fwrite(size, 1, 4, file_) == 4 ? 0 : errno;
  put(size, static_cast<uint32_t>(data_bytes_), 4);
  if (status == 0 && (std::fseek(file_, 40, SEEK_SET) != 0 || std::fwrite(size, 1, 4, file_) != 4)) status = errno;
  if (std::fclose(file_) != 0 && status == 0) status = errno;
  file_ = nullptr;
  return status;
}

}  // namespace tap
