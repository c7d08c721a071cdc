// TapWav: writes captured PCM as a WAV file. Samples of 32 bits and more are
// written as float, since that is what a capture of that width carries;
// narrower ones as integer PCM. The sizes in the header are filled in when the file is
// finished; a file cannot hold more than 4 GiB of samples, and what would go
// beyond is refused. Owns its file; one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tap {

class WavWriter {
 public:
  WavWriter() = default;
  ~WavWriter();
  WavWriter(const WavWriter &) = delete;
  WavWriter &operator=(const WavWriter &) = delete;

  // Creates path and writes a header for the format: 0 or the errno.
  int open(const std::string &path, uint16_t channels, uint32_t samples_per_sec, uint16_t bits);
  // Appends samples: 0, EFBIG when the file would pass 4 GiB, or the errno.
  int write(const void *data, size_t size);
  // Fills in the sizes and closes the file: 0 or the errno.
  int finish();
  bool is_open() const { return file_ != nullptr; }

 private:
  std::FILE *file_ = nullptr;
  uint64_t data_bytes_ = 0;
};

}  // namespace tap
