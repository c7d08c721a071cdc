// A FLAC stream information block, as a file's extradata, to its reader:
// every read stays inside the bytes given, and an answer is a rate and a
// channel count the block's fields can hold.
#include "FuzzSupport.h"
#include "MSCodecCommonInternal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  int sample_rate = 0, channels = 0;
  if (!flac_stream_info_read(data, size, &sample_rate, &channels)) return 0;
  const std::string input(reinterpret_cast<const char *>(data), size);
  fuzz_check(size >= 34, "whole block", input);
  fuzz_check(sample_rate > 0 && sample_rate < (1 << 20) && channels >= 1 && channels <= 8, "fields in range", input);
  return 0;
}
