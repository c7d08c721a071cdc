#include "TapFixtures.h"

#include "LogCapture.h"
#include "TapPipe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

void TapCollector::take(const tap::TapMessage &m) {
  TapRecord r{m.type, m.tag, m.channels, m.samples_per_sec, m.bits_per_sample, m.position_ms, {}};
  if (m.data != nullptr) r.bytes.assign(reinterpret_cast<const char *>(m.data), m.size);
  records.push_back(std::move(r));
}

bool TapCollector::drain(int fd) {
  uint8_t chunk[4096];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) return true;
    if (reader.feed(chunk, static_cast<size_t>(n)) != 0) return false;
  }
}

std::vector<TapRecord> TapCollector::of_type(uint8_t type) const {
  std::vector<TapRecord> found;
  for (const TapRecord &r : records)
    if (r.type == type) found.push_back(r);
  return found;
}

bool TapCollector::heard_audio() const {
  return std::any_of(records.begin(), records.end(),
                     [](const TapRecord &r) { return r.type == tap::kMessageAudioData; });
}

std::string TapCollector::audio(uint32_t tag) const {
  std::string joined;
  for (const TapRecord &r : records)
    if (r.type == tap::kMessageAudioData && r.tag == tag) joined += r.bytes;
  return joined;
}

bool TapCollector::logged(const std::string &text) const {
  for (const TapRecord &r : records)
    if (r.type == tap::kMessageLogLine && r.bytes.find(text) != std::string::npos) return true;
  return false;
}

TapRun run_captured(const std::vector<std::string> &argv, TapReaderMode mode) {
  TapRun run;
  TempDir scratch;
  std::string err_path = scratch.file("stderr");
  int go[2];
  if (pipe(go) != 0) return run;
  pid_t child = fork();
  if (child == 0) {
    close(go[1]);
    char word = 0;
    if (read(go[0], &word, 1) != 1) _exit(126);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(err, 2);
    setenv("LD_PRELOAD", TAP_LIBRARY, 1);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(go[0]);
  std::string name = tap::pipe_name(child);
  unlink(name.c_str());
  mkfifo(name.c_str(), 0600);
  int fifo = open(name.c_str(), O_RDONLY | O_NONBLOCK);
  (void)!write(go[1], "g", 1);
  close(go[1]);
  int status = 0;
  bool exited = false;
  for (int waited = 0; mode == TapReaderMode::kNeverRead && !exited; waited += 50) {
    exited = waitpid(child, &status, WNOHANG) == child;
    if (!exited && waited >= 60000) kill(child, SIGKILL);
    if (!exited) usleep(50 * 1000);
  }
  while (fifo >= 0 && mode != TapReaderMode::kNeverRead) {
    pollfd p{fifo, POLLIN, 0};
    poll(&p, 1, 50);
    bool ok = run.capture.drain(fifo);
    if (!ok || (mode == TapReaderMode::kLeaveAfterFirstAudio && run.capture.heard_audio()) || exited) {
      close(fifo);
      fifo = -1;
    } else if (waitpid(child, &status, WNOHANG) == child) {
      exited = true;
    }
  }
  if (fifo >= 0) close(fifo);
  if (!exited) waitpid(child, &status, 0);
  unlink(name.c_str());
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = read_file(err_path);
  return run;
}

std::string make_wav(const std::string &path, const std::string &args) {
  std::string command = "ffmpeg -v error -y " + args + " -f wav '" + path + "'";
  return std::system(command.c_str()) == 0 ? path : "";
}

std::string wav_data(const std::string &path) {
  std::string file = read_file(path);
  size_t at = 12;
  while (at + 8 <= file.size()) {
    uint32_t size = 0;
    std::memcpy(&size, file.data() + at + 4, 4);
    if (file.compare(at, 4, "data") == 0) return file.substr(at + 8, size);
    at += 8 + size + (size & 1);
  }
  return "";
}
