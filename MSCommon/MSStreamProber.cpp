// The probers: started with posix_spawn over a socket pair (the prober's end
// is its descriptor 3, every other descriptor of ours closes on exec), kept
// in an idle list between probes.
#include "MSStreamProber.h"

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "Common.h"
#include "log4c_pool.h"
#include "MSCodecCommonInternal.h"
#include "MSFFMPEGInternal.h"
#include "MSProbeWire.h"
#include "PlatformExecutable.h"
#include "log4c.h"

extern char **environ;

namespace {

struct Prober {
  pid_t pid;
  int channel;
};

// Where the program is, from the folder of the running one: installed beside
// it; in a build tree in its own folder, beside a program's folder or two up
// from a test suite's.
constexpr const char *kProgramPlaces[] = {"streamprobe", "../streamprobe/streamprobe",
                                          "../../streamprobe/streamprobe"};

// The loggers the prober writes on: it is told the quietest level each has
// enabled here, so that it sends no line that would be dropped.
constexpr const char *kRelayedLoggers[] = {FFMPEG_MODULE, CODEC_MODULE, COMMON_MODULE};

// Module state.
std::mutex g_lock;
std::vector<Prober> g_idle;
std::string g_program;  // "" until looked for
bool g_missing = false;
int g_time_limit_ms = 30000;

std::string find_program() {
  Pool pool(nullptr, CODEC_MODULE);
  const char *found =
      platform_beside_executable(pool, kProgramPlaces, static_cast<int>(std::size(kProgramPlaces)), X_OK);
  return found != nullptr ? found : "";
}

std::vector<std::string> logger_levels() {
  std::vector<std::string> levels;
  for (const char *logger : kRelayedLoggers) {
    int quietest = LOG4C_FATAL + 1;
    for (int level = LOG4C_FATAL; level >= LOG4C_DEBUG; --level)
      if (log4c_is_enabled[level](logger)) quietest = level;
    levels.push_back(std::string(logger) + "=" + std::to_string(quietest));
  }
  return levels;
}

bool spawn(const std::string &program, Prober *prober) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
  std::vector<std::string> arguments = logger_levels();
  arguments.insert(arguments.begin(), program);
  std::vector<char *> argv;
  for (std::string &argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 3);
  pid_t pid = 0;
  const int status = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (status != 0) {
    close(ends[0]);
    return false;
  }
  *prober = Prober{pid, ends[0]};
  return true;
}

// The prober program, or "" when it is known to be missing.
std::string program_to_start() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_missing) return "";
  if (g_program.empty()) g_program = find_program();
  return g_program;
}

// An idle prober, or a new one; false when none can be started.
bool check_out(Prober *prober) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_idle.empty()) {
      *prober = g_idle.back();
      g_idle.pop_back();
      return true;
    }
  }
  const std::string program = program_to_start();
  if (!program.empty() && spawn(program, prober)) return true;
  std::lock_guard<std::mutex> hold(g_lock);
  if (!g_missing) {
    LOG4C(CODEC_MODULE, LOG4C_ERROR,
          log4c_sprintf("Could not start the stream prober %s, media files are probed in this process",
                        program.empty() ? "streamprobe" : program.c_str()));
  }
  g_missing = true;
  return false;
}

void end_prober(const Prober &prober, bool kill_first) {
  if (kill_first) kill(prober.pid, SIGKILL);
  close(prober.channel);
  while (waitpid(prober.pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Sends path, takes the answer and logs the prober's lines. False when the
// prober failed to answer.
bool exchange(const Prober &prober, apr_pool_t *pool, const char *path, int *status, StreamFacts *facts) {
  std::string reply;
  std::vector<ProbeLogLine> lines;
  if (!probe_frame_write(prober.channel, path) ||
      probe_frame_read(prober.channel, g_time_limit_ms, &reply) != FrameRead::ok ||
      !probe_reply_decode(pool, reply, status, &lines, facts))
    return false;
  for (const ProbeLogLine &line : lines) LOG4C(line.module.c_str(), line.level, line.message.c_str());
  return true;
}

}  // namespace

int stream_prober_probe(apr_pool_t *pool, const char *path, StreamFacts *facts, CancelCheck cancel,
                        void *cancel_context) {
  Prober prober{};
  if (!check_out(&prober)) return stream_probe(pool, path, facts, cancel, cancel_context);
  int status = APR_EGENERAL;
  if (exchange(prober, pool, path, &status, facts)) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_idle.push_back(prober);
  } else {
    end_prober(prober, true);
    LOG4C(CODEC_MODULE, LOG4C_ERROR,
          log4c_sprintf("The stream prober stopped while reading %s, its streams are not read", path));
    stream_facts_clear(facts);
    status = APR_EGENERAL;
  }
  // Polled as stream_probe polls it: once the streams are read, or after a failure.
  return cancel_requested(cancel, cancel_context) ? COMMON_CANCELLED : status;
}

void stream_prober_start() {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_idle.empty()) return;
  }
  const std::string program = program_to_start();
  Prober prober{};
  if (program.empty() || !spawn(program, &prober)) return;
  std::lock_guard<std::mutex> hold(g_lock);
  g_idle.push_back(prober);
}

void stream_prober_close_idle() {
  std::vector<Prober> idle;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    idle.swap(g_idle);
  }
  for (const Prober &prober : idle) end_prober(prober, false);
}

void stream_prober_set_time_limit(int milliseconds) { g_time_limit_ms = milliseconds; }
