#include "TapPipe.h"

#include "TapLog.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

namespace tap {
namespace {

constinit pthread_mutex_t g_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
int g_fd = -1;
myAudioClient *g_current = nullptr;

constexpr std::chrono::milliseconds kRetry{10};

// A message header: the type byte and up to three little-endian integers.
class Header {
 public:
  explicit Header(MessageType type) { bytes_[size_++] = type; }
  Header &u16(uint16_t v) { return put(v, 2); }
  Header &u32(uint32_t v) { return put(v, 4); }
  const uint8_t *data() const { return bytes_; }
  size_t size() const { return size_; }

 private:
  Header &put(uint32_t v, int width) {
    for (int i = 0; i < width; ++i) bytes_[size_++] = static_cast<uint8_t>(v >> (8 * i));
    return *this;
  }
  uint8_t bytes_[16];
  size_t size_ = 0;
};

using Clock = std::chrono::steady_clock;

// Writes all of data, waiting for room in the pipe until deadline; false
// when the pipe failed (errno EPIPE: the reader went away) or stayed full
// (errno ETIMEDOUT: the reader stopped reading).
bool write_all(int fd, const void *data, size_t size, Clock::time_point deadline) {
  auto *p = static_cast<const uint8_t *>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd room{fd, POLLOUT, 0};
      if (left > 0 && (poll(&room, 1, static_cast<int>(left)) > 0 || errno == EINTR)) continue;
      errno = ETIMEDOUT;
      return false;
    }
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A reader that keeps the FIFO open and never reads would stall the player
// on every write: the capture ends instead, and the player plays on.
void drop_capture() {
  ::close(g_fd);
  g_fd = -1;
  char text[128];
  std::snprintf(text, sizeof text, "Capture dropped: the pipe's reader took nothing for %d ms.\n", kPipeStallMs);
  debug_string(text);
}

// Sends one message whole. SIGPIPE is held back for the write and a SIGPIPE
// the write raised is taken away, so a broken pipe never kills the player.
void send(const Header &header, const void *payload, size_t payload_size) {
  PipeLock lock;
  if (g_fd < 0) return;
  sigset_t pipe_set, old_set, pending;
  sigemptyset(&pipe_set);
  sigaddset(&pipe_set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_set, &old_set);
  sigpending(&pending);
  bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kPipeStallMs);
  bool written = write_all(g_fd, header.data(), header.size(), deadline) &&
                 (payload_size == 0 || write_all(g_fd, payload, payload_size, deadline));
  if (!written && errno == ETIMEDOUT) drop_capture();
  if (!written && errno == EPIPE && !was_pending) {
    timespec no_wait{};
    while (sigtimedwait(&pipe_set, nullptr, &no_wait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_set, nullptr);
}

// A FIFO of this user: 0, or EPERM.
int check_fifo(const struct stat &st) { return S_ISFIFO(st.st_mode) && st.st_uid == geteuid() ? 0 : EPERM; }

// The same for the file at path: 0, ENOENT or EPERM.
int check_fifo(const char *path) {
  struct stat st;
  return lstat(path, &st) != 0 ? errno : check_fifo(st);
}

// Without a reader the open fails with ENXIO, as a busy pipe does: waits for
// one up to wait_ms by the clock, trying again every few milliseconds.
// 0 (fd set), ETIMEDOUT, or the open's errno.
int open_when_read(const char *path, int wait_ms, int *fd) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    *fd = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (*fd >= 0) return 0;
    if (errno != ENXIO) return errno;
    if (std::chrono::steady_clock::now() >= deadline) return ETIMEDOUT;
    std::this_thread::sleep_for(kRetry);
  }
}

}  // namespace

PipeLock::PipeLock() { pthread_mutex_lock(&g_lock); }
PipeLock::~PipeLock() { pthread_mutex_unlock(&g_lock); }

int pipe_open(const char *path, int wait_ms) {
  PipeLock lock;
  int fd = -1;
  int status = check_fifo(path);
  if (status == 0) status = open_when_read(path, wait_ms, &fd);
  if (status == ETIMEDOUT) {
    debug_string("Could not open pipe: 20 second wait timed out.");
    return status;
  }
  // What was opened is checked again: the path could have changed meanwhile.
  struct stat st;
  if (status == 0) status = fstat(fd, &st) != 0 ? errno : check_fifo(st);
  if (status != 0) {
    if (fd >= 0) ::close(fd);
    char text[64];
    std::snprintf(text, sizeof text, "Could not open pipe. GLE=%d\n", status);
    debug_string(text);
    return status;
  }
  // The descriptor stays non-blocking: a full pipe is waited for, up to
  // kPipeStallMs per message.
  g_fd = fd;
  return 0;
}

void pipe_attach(int fd) {
  PipeLock lock;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  g_fd = fd;
}

void pipe_close() {
  PipeLock lock;
  if (g_fd < 0) return;
  send(Header(kMessageClose), nullptr, 0);
  ::close(g_fd);
  g_fd = -1;
}

void pipe_forget_in_child() {
  pthread_mutex_t fresh = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
  g_lock = fresh;
  if (g_fd >= 0) ::close(g_fd);
  g_fd = -1;
  g_current = nullptr;
}

bool pipe_is_open() {
  PipeLock lock;
  return g_fd >= 0;
}

myAudioClient *current_stream() { return g_current; }
void set_current_stream(myAudioClient *client) { g_current = client; }

void send_stream_format(uint32_t tag, uint16_t channels, uint32_t samples_per_sec, uint16_t bits) {
  send(Header(kMessageStreamFormat).u32(tag).u16(channels).u32(samples_per_sec).u16(bits), nullptr, 0);
}

void send_stream_end(uint32_t tag) { send(Header(kMessageStreamEnd).u32(tag), nullptr, 0); }

void send_audio_data(uint32_t tag, const void *data, uint32_t size) {
  send(Header(kMessageAudioData).u32(tag).u32(size), data, size);
}

void send_position(uint32_t tag, uint32_t position_ms) {
  send(Header(kMessagePosition).u32(tag).u32(1).u32(position_ms), nullptr, 0);
}

void send_log_line(const char *text, uint32_t size) {
  send(Header(kMessageLogLine).u32(size), text, size);
}

}  // namespace tap
