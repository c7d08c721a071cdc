// ffmpeg start-up and shut-down and the log hook.
#include "MSFFMPEG.h"

#include "CommonCancel.h"
#include "CommonText.h"
#include "CommonUserMessage.h"
#include "MSFFMPEGInternal.h"
#include "MSFFMPEGLibrary.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

// Module state.
apr_pool_t *module_pool = nullptr;

struct LevelMapping {
  int library_level;
  int log_level;
};

// ffmpeg's levels, quietest first. TRACE is newer than the rest and as
// chatty as DEBUG; it must not raise the unexpected-state error.
constexpr LevelMapping kLevels[] = {
    {AV_LOG_QUIET, LOG4C_ERROR},  {AV_LOG_PANIC, LOG4C_FATAL},  {AV_LOG_FATAL, LOG4C_ERROR},
    {AV_LOG_ERROR, LOG4C_ERROR},  {AV_LOG_WARNING, LOG4C_WARN}, {AV_LOG_INFO, LOG4C_INFO},
    {AV_LOG_VERBOSE, LOG4C_INFO}, {AV_LOG_DEBUG, LOG4C_DEBUG},  {AV_LOG_TRACE, LOG4C_DEBUG},
};

int log_level_of(int library_level) {
  // The bits above the level carry colour hints for the console.
  if (library_level >= 0) library_level &= 0xff;
  for (const LevelMapping &m : kLevels) {
    if (m.library_level == library_level) return m.log_level;
  }
  // Some demuxers trace below TRACE (level 72 and up); that is tracing too.
  if (library_level > AV_LOG_TRACE) return LOG4C_DEBUG;
  LOG4C(FFMPEG_MODULE, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
  return LOG4C_DEBUG;
}

void log_hook(void *, int library_level, const char *format, va_list args) {
  int level = log_level_of(library_level);
  if (!log4c_is_enabled[level](FFMPEG_MODULE)) return;
  char *text = log4c_vprintf(format, args);
  // The library ends its lines with a line feed; the format itself comes back
  // (read-only) when the thread has no buffer.
  if (text != format) str_rtrim(text);
  LOG4C(FFMPEG_MODULE, level, text);
}

}  // namespace

apr_pool_t *ffmpeg_module_pool() { return module_pool; }

void ffmpeg_init(apr_pool_t *pool) {
  module_pool = pool_create_or_die(pool, FFMPEG_MODULE);
  ffmpeg_library_set_log(log_hook);
}

void ffmpeg_term() {
  ffmpeg_library_set_log(nullptr);
  module_pool = nullptr;
}
