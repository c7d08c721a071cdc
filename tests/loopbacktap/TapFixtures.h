// Shared pieces of the capture tests: the messages of a capture collected as
// values, a server end that runs a program with the library preloaded and
// reads its FIFO itself, and WAV files made and read at test time.
#pragma once

#include "TapReader.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct TapRecord {
  uint8_t type;
  uint32_t tag;
  uint16_t channels;
  uint32_t rate;
  uint16_t bits;
  uint32_t position_ms;
  std::string bytes;  // audio data or log line
};

// Collects every message a reader hands over.
struct TapCollector {
  std::vector<TapRecord> records;
  tap::TapReader reader{[this](const tap::TapMessage &m) { take(m); }};
  void take(const tap::TapMessage &m);
  // Feeds everything fd holds now (fd is non-blocking); false on a protocol error.
  bool drain(int fd);
  std::vector<TapRecord> of_type(uint8_t type) const;
  // Whether any audio block came; asked on every poll while a player runs,
  // so it copies nothing.
  bool heard_audio() const;
  // The audio of one stream, joined.
  std::string audio(uint32_t tag) const;
  bool logged(const std::string &text) const;
};

struct TapRun {
  int status = -1;  // the program's exit status, -1 when it did not exit
  std::string err;  // its standard error
  TapCollector capture;
};

// kNeverRead opens the FIFO and reads nothing; a child still running after
// a minute is killed (its status is then -1).
enum class TapReaderMode { kWhole, kLeaveAfterFirstAudio, kNeverRead };

// Runs argv with the library preloaded, as the server would: the FIFO is made
// for the child before it execs, and read until the child is gone.
TapRun run_captured(const std::vector<std::string> &argv, TapReaderMode mode = TapReaderMode::kWhole);

// Makes a WAV with ffmpeg from a lavfi source; "" when ffmpeg failed.
std::string make_wav(const std::string &path, const std::string &args);
// The bytes of a WAV file's data chunk, or "" when it has none.
std::string wav_data(const std::string &path);
