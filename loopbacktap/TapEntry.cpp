// TapEntry: what runs when the capture library is loaded into a player and
// when it is unloaded. Loading opens the pipe the server made for this
// process, switches the hooks on and starts the polling thread, which sends
// the current stream's position every 10 ms; with no pipe nothing is
// switched on and the player runs untouched. Unloading stops the polling
// thread before the pipe closes, so that nothing writes to a closed pipe.
#include "TapHooks.h"
#include "TapLog.h"
#include "TapPipe.h"
#include "TapProxies.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <ctime>

namespace tap {
namespace {

constexpr long kPollIntervalNs = 10 * 1000000L;

std::atomic<bool> g_polling{false};
pthread_t g_poller;

void *poll_loop(void *) {
  timespec interval{0, kPollIntervalNs};
  while (g_polling) {
    poll_position();
    nanosleep(&interval, nullptr);
  }
  return nullptr;
}

// The player's signals are never delivered to the polling thread.
void start_polling() {
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  g_polling = true;
  if (pthread_create(&g_poller, nullptr, poll_loop, nullptr) != 0) g_polling = false;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void forget_in_child() {
  g_polling = false;
  hooks_forget_in_child();
  pipe_forget_in_child();
}

__attribute__((constructor)) void loopbacktap_load() {
  const char *routine = "NativeInjectionEntryPoint";
  TAP_LOG(routine, "Initializing loopbacktap.dll");
  if (pipe_open(pipe_name(getpid()).c_str(), kPipeWaitMs) != 0) {
    TAP_LOG(routine, "could not init pipe");
    return;
  }
  TAP_LOG(routine, "Installing hooks");
  pthread_atfork(nullptr, nullptr, forget_in_child);
  hooks_install();
  TAP_LOG(routine, "Finished initializing loopbacktap.dll");
  start_polling();
}

__attribute__((destructor)) void loopbacktap_unload() {
  if (g_polling.exchange(false)) pthread_join(g_poller, nullptr);
  pipe_close();
}

}  // namespace
}  // namespace tap
