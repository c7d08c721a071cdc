// Per-thread formatting buffers, the buffer-table lock and log4c_vprintf.
#include "log4c_buffers.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>

#include "log4c.h"

namespace {

struct BufferEntry {
  char *buffer;
  uint32_t thread;
};

struct LockCallbacks {
  int handle = 0;
  Log4cLockFn write_lock = nullptr;
  Log4cLockFn read_lock = nullptr;
  Log4cLockFn unlock = nullptr;
};

BufferEntry g_entries[LOG4C_MAX_THREADS];
unsigned g_count = 0;
LockCallbacks g_callbacks;
std::shared_mutex g_own_lock;

// Which lock a guard took, so that the matching unlock runs even if the host
// installs callbacks in between.
enum class Held { host, own_shared, own_exclusive };

class TableGuard {
 public:
  explicit TableGuard(bool exclusive) {
    LockCallbacks host = g_callbacks;
    if (host.handle) {
      held_ = Held::host;
      host_ = host;
      Log4cLockFn take = exclusive ? host.write_lock : host.read_lock;
      if (take) take(host.handle);
    } else if (exclusive) {
      held_ = Held::own_exclusive;
      g_own_lock.lock();
    } else {
      held_ = Held::own_shared;
      g_own_lock.lock_shared();
    }
  }
  ~TableGuard() {
    switch (held_) {
      case Held::host:
        if (host_.unlock) host_.unlock(host_.handle);
        break;
      case Held::own_exclusive: g_own_lock.unlock(); break;
      case Held::own_shared: g_own_lock.unlock_shared(); break;
    }
  }
  TableGuard(const TableGuard &) = delete;
  TableGuard &operator=(const TableGuard &) = delete;

 private:
  Held held_;
  LockCallbacks host_{};
};

uint32_t current_thread_id() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

char *find_buffer(uint32_t thread) {
  TableGuard guard(false);
  char *found = nullptr;
  for (unsigned i = 0; i < g_count; ++i)
    if (g_entries[i].thread == thread) found = g_entries[i].buffer;
  return found;
}

char *add_buffer(uint32_t thread) {
  TableGuard guard(true);
  if (g_count >= LOG4C_MAX_THREADS) {
    LOG4C("log4c", LOG4C_ERROR, "Can't allocate buffer entry for thread");
    return nullptr;
  }
  auto *buffer = static_cast<char *>(std::malloc(LOG4C_BUFFER_SIZE));
  if (!buffer) {
    LOG4C("log4c", LOG4C_ERROR, "Could not allocate memory for string buffer");
    return nullptr;
  }
  g_entries[g_count++] = BufferEntry{buffer, thread};
  return buffer;
}

// A thread remembers its buffer after the first look-up, so that formatting
// costs no table scan; the table stays the owner of the block.
thread_local char *t_buffer = nullptr;

char *thread_buffer() {
  if (t_buffer) return t_buffer;
  uint32_t thread = current_thread_id();
  char *buffer = find_buffer(thread);
  if (!buffer) buffer = add_buffer(thread);
  t_buffer = buffer;
  return buffer;
}

}  // namespace

bool log4c_is_thread_buffer(const char *text) { return text && text == t_buffer; }

char *log4c_vprintf(const char *format, va_list args) {
  char *buffer = thread_buffer();
  if (!buffer) return const_cast<char *>(format);
  int written = std::vsnprintf(buffer, LOG4C_BUFFER_SIZE, format, args);
  if (written < 0 || written >= LOG4C_BUFFER_SIZE) {
    buffer[LOG4C_BUFFER_SIZE - 1] = '\0';
    LOG4C("log4c", LOG4C_WARN, "Static buffer is too small, trimming log message to fit buffer");
  }
  return buffer;
}

char *log4c_sprintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *text = log4c_vprintf(format, args);
  va_end(args);
  return text;
}

void log4c_set_lock_callbacks(int handle, Log4cLockFn write_lock, Log4cLockFn read_lock,
                              Log4cLockFn unlock) {
  // Installed from the host's start-up; taking our own lock keeps a
  // concurrent look-up from seeing half of the new set.
  std::unique_lock own(g_own_lock);
  g_callbacks = LockCallbacks{handle, write_lock, read_lock, unlock};
}

void log4c_write_lock() {
  LockCallbacks host = g_callbacks;
  if (host.handle && host.write_lock) host.write_lock(host.handle);
}

void log4c_read_lock() {
  LockCallbacks host = g_callbacks;
  if (host.handle && host.read_lock) host.read_lock(host.handle);
}

void log4c_unlock() {
  LockCallbacks host = g_callbacks;
  if (host.handle && host.unlock) host.unlock(host.handle);
}
