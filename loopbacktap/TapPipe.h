// TapPipe: the player's end of the capture pipe, the one lock around it and
// the current stream, which is all the process-wide state of the capture.
// The pipe is a FIFO the server made for this process; every message is one
// type byte and a little-endian body, written whole under the pipe lock.
// Write errors are ignored and never raise SIGPIPE, so that a reader that goes
// away leaves the player playing; a reader that stops reading costs the
// player at most kPipeStallMs once: the capture is then dropped (the pipe is
// closed, a debug string says so) and the player plays on. The lock is recursive: log lines are sent
// from code that already holds it. Thread-safe.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace tap {

class myAudioClient;

// Each message is its type byte and then, in little-endian integers:
enum MessageType : uint8_t {
  kMessageClose = 0,         // nothing; the last message, sent at unload
  kMessageStreamFormat = 1,  // tag u32, channels u16, samples per second u32, bits u16
  kMessageStreamEnd = 2,     // tag u32
  kMessageAudioData = 3,     // tag u32, size u32, size bytes of PCM as the player wrote them
  kMessagePosition = 4,      // tag u32, valid u32 (1), position in milliseconds u32
  kMessageLogLine = 5,       // size u32, size bytes of text
};

// How long the opening waits for a reader on the FIFO.
constexpr int kPipeWaitMs = 60000;
// How long one message waits for room in a full pipe before the capture is
// dropped.
constexpr int kPipeStallMs = 1000;

// The FIFO of process pid: "/tmp/zentoria-pipe-<pid>".
inline std::string pipe_name(long pid) { return "/tmp/zentoria-pipe-" + std::to_string(pid); }

// Opens the FIFO at path for writing, waiting up to wait_ms for a reader when
// it has none yet. Refuses anything but a FIFO of this user. Failures emit a
// debug string and leave the pipe closed. Returns 0 or the errno: ENOENT (no
// such FIFO), ETIMEDOUT (no reader came), EPERM (not a FIFO of this user), or
// the open's own error. Takes the pipe lock.
int pipe_open(const char *path, int wait_ms);
// Uses an already open descriptor as the pipe (the pipe then owns it).
void pipe_attach(int fd);
// Sends the close message and closes the pipe. Takes the pipe lock.
void pipe_close();
bool pipe_is_open();
// In a forked child: drops the parent's pipe, without a message, and its lock,
// which another thread of the parent may have held at the fork.
void pipe_forget_in_child();

// The pipe lock, taken by a scope.
class PipeLock {
 public:
  PipeLock();
  ~PipeLock();
  PipeLock(const PipeLock &) = delete;
  PipeLock &operator=(const PipeLock &) = delete;
};

// The current stream: the audio client whose format was announced last, or
// null. Read and changed under the pipe lock.
myAudioClient *current_stream();
void set_current_stream(myAudioClient *client);

// Message senders; each takes the pipe lock and sends nothing when the pipe is
// closed.
void send_stream_format(uint32_t tag, uint16_t channels, uint32_t samples_per_sec, uint16_t bits);
void send_stream_end(uint32_t tag);
void send_audio_data(uint32_t tag, const void *data, uint32_t size);
void send_position(uint32_t tag, uint32_t position_ms);
void send_log_line(const char *text, uint32_t size);

}  // namespace tap
