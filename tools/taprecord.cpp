// taprecord: plays a command with the capture library loaded into it and
// records what it plays through ALSA. The FIFO for the command's process is
// made between the fork and the exec, so it is there before any of the
// command's code runs. Every message is read and checked; the first stream's
// audio goes to the WAV file in its announced format, the library's log lines
// to standard error. Exits with the command's status (128 + signal when it
// was killed), 127 when it cannot be run, 1 when the capture failed.
#include "MLVersion.h"
#include "TapPipe.h"
#include "TapReader.h"
#include "TapWav.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kPollMs = 100;

struct Recording {
  std::string path;
  tap::WavWriter wav;
  bool started = false;
  bool recording = false;
  uint32_t tag = 0;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bits = 0;
  uint64_t bytes = 0;
  int failure = 0;

  void take(const tap::TapMessage &m);
};

void Recording::take(const tap::TapMessage &m) {
  if (m.type == tap::kMessageLogLine) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(m.size), reinterpret_cast<const char *>(m.data));
  } else if (m.type == tap::kMessageStreamFormat && !started) {
    started = recording = true;
    tag = m.tag;
    channels = m.channels;
    rate = m.samples_per_sec;
    bits = m.bits_per_sample;
    if (int status = wav.open(path, channels, rate, bits); status != 0) {
      std::fprintf(stderr, "taprecord: cannot write %s: %s\n", path.c_str(), std::strerror(status));
      failure = status;
      recording = false;
    }
  } else if (m.type == tap::kMessageStreamFormat && recording && m.tag == tag &&
             (m.channels != channels || m.samples_per_sec != rate || m.bits_per_sample != bits)) {
    std::fprintf(stderr, "taprecord: the stream changed its format; the rest of it is not recorded\n");
    recording = false;
  } else if (m.type == tap::kMessageAudioData && recording && m.tag == tag) {
    int status = wav.write(m.data, m.size);
    if (status == EFBIG) std::fprintf(stderr, "taprecord: %s is full (4 GiB); the rest is not recorded\n", path.c_str());
    if (status != 0 && status != EFBIG) {
      std::fprintf(stderr, "taprecord: cannot write %s: %s\n", path.c_str(), std::strerror(status));
      failure = status;
    }
    if (status != 0) recording = false;
    if (status == 0) bytes += m.size;
  }
}

// The command's FIFO, made fresh: a stale one of ours is replaced, anything
// else in the way is left alone. Returns the read end, or -1 with errno.
int make_fifo(const std::string &name) {
  if (mkfifo(name.c_str(), 0600) != 0) {
    struct stat st;
    if (errno != EEXIST || lstat(name.c_str(), &st) != 0) return -1;
    if (!S_ISFIFO(st.st_mode) || st.st_uid != geteuid()) {
      errno = EEXIST;
      return -1;
    }
    if (unlink(name.c_str()) != 0 || mkfifo(name.c_str(), 0600) != 0) return -1;
  }
  return open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

// The capture library, found from this program's own folder: installed, it
// is in the library folder beside bin/; in a build, in the loopbacktap
// folder beside tools/. Empty when neither is there.
std::string capture_library() {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return {};
  std::string folder(self, static_cast<size_t>(length));
  folder.erase(folder.rfind('/') + 1);
  for (const char *relative : {TAPRECORD_INSTALLED_LIBRARY, TAPRECORD_BUILT_LIBRARY}) {
    std::string candidate = folder + relative;
    if (access(candidate.c_str(), R_OK) == 0) return candidate;
  }
  return {};
}

// In the child: waits for the parent's word, then becomes the command.
[[noreturn]] void run_command(int go, int exec_error, const std::string &library, char **command) {
  char word = 0;
  while (read(go, &word, 1) < 0 && errno == EINTR) {
  }
  if (word != 'g') _exit(127);
  std::string preload = library;
  if (const char *old = std::getenv("LD_PRELOAD"); old != nullptr && *old != '\0') preload += std::string(":") + old;
  setenv("LD_PRELOAD", preload.c_str(), 1);
  execvp(command[0], command);
  int error = errno;
  ssize_t ignored = write(exec_error, &error, sizeof error);
  (void)ignored;
  _exit(127);
}

int exit_code(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

// Reads the FIFO until the command is gone and the pipe is empty. Returns
// the command's wait status; a malformed message closes the pipe early
// (the command then plays on, unheard) and is left in the reader.
int read_capture(int fifo, pid_t child, tap::TapReader &reader) {
  int status = 0;
  bool exited = false;
  std::vector<uint8_t> chunk(1 << 16);
  while (fifo >= 0) {
    pollfd p{fifo, POLLIN, 0};
    int ready = poll(&p, 1, kPollMs);
    ssize_t n = ready > 0 ? read(fifo, chunk.data(), chunk.size()) : -1;
    if (n > 0 && reader.feed(chunk.data(), static_cast<size_t>(n)) != 0) {
      close(fifo);
      fifo = -1;
    } else if (n == 0 || (n < 0 && exited)) {
      break;
    } else if (n < 0 && !exited && waitpid(child, &status, WNOHANG) == child) {
      exited = true;  // one more turn drains what is left
    }
  }
  if (fifo >= 0) close(fifo);
  if (!exited) {
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && ml_version_option("taprecord", argv[1])) return 0;
  if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
    std::fprintf(stderr, "usage: taprecord OUT.wav -- COMMAND [ARGS...]\n");
    return 1;
  }
  const std::string library = capture_library();
  if (library.empty()) {
    std::fprintf(stderr, "taprecord: cannot find the capture library %s beside the program\n", TAPRECORD_INSTALLED_LIBRARY);
    return 1;
  }
  int go[2], exec_error[2];
  if (pipe2(go, O_CLOEXEC) != 0 || pipe2(exec_error, O_CLOEXEC) != 0) {
    std::perror("taprecord: pipe");
    return 1;
  }
  pid_t child = fork();
  if (child < 0) {
    std::perror("taprecord: fork");
    return 1;
  }
  if (child == 0) run_command(go[0], exec_error[1], library, argv + 3);
  close(go[0]);
  close(exec_error[1]);
  // A Ctrl-C stops the command; the recording is still finished.
  signal(SIGINT, SIG_IGN);
  signal(SIGQUIT, SIG_IGN);

  std::string name = tap::pipe_name(child);
  int fifo = make_fifo(name);
  if (fifo < 0) {
    std::fprintf(stderr, "taprecord: cannot make the pipe %s: %s\n", name.c_str(), std::strerror(errno));
    close(go[1]);
    waitpid(child, nullptr, 0);
    return 1;
  }
  ssize_t sent = write(go[1], "g", 1);
  close(go[1]);
  int error = 0;
  if (sent == 1 && read(exec_error[0], &error, sizeof error) == sizeof error) {
    std::fprintf(stderr, "taprecord: cannot run %s: %s\n", argv[3], std::strerror(error));
    close(fifo);
    unlink(name.c_str());
    waitpid(child, nullptr, 0);
    return 127;
  }
  close(exec_error[0]);

  Recording recording;
  recording.path = argv[1];
  tap::TapReader reader([&recording](const tap::TapMessage &m) { recording.take(m); });
  int status = read_capture(fifo, child, reader);
  unlink(name.c_str());
  int finished = recording.wav.finish();
  // A command killed while it wrote leaves its last message cut: that is
  // where its capture ends, not a fault of the capture.
  if (!reader.error().empty() || (!WIFSIGNALED(status) && reader.finish() != 0)) {
    std::fprintf(stderr, "taprecord: malformed capture from %s: %s\n", argv[3], reader.error().c_str());
    return 1;
  }
  if (!recording.started) {
    std::fprintf(stderr, "taprecord: %s played nothing through ALSA; %s was not written\n", argv[3], argv[1]);
  } else {
    std::fprintf(stderr, "taprecord: %" PRIu64 " bytes of %u channels, %" PRIu32 " Hz, %u bits in %s\n",
                 recording.bytes, recording.channels, recording.rate, recording.bits, argv[1]);
  }
  if (recording.failure != 0 || finished != 0) return 1;
  return exit_code(status);
}
