// MSMediaScanLog: the logger every engine module writes to, the one way a
// module logs the failure it detects, and the console's progress line.
// Header only; any thread.
#pragma once

#include <apr_errno.h>
#include <apr_pools.h>

#include <cstdio>
#include <cstring>

#include "CommonEscape.h"
#include "log4c.h"

inline constexpr const char *MSMS_MODULE = "MSMediaScan";

// Writes "\r" and text cut or padded with spaces to 79 bytes on stdout, as
// printf's "\r%-79.79s" does, without reading a format for each file. The
// text is a file name or url: its control characters are shown escaped
// (text_for_terminal), so that a name cannot steer the terminal.
inline void msms_print_progress(apr_pool_t *pool, const char *text) {
  constexpr std::size_t kWidth = 79;
  text = text == nullptr ? "(null)" : text_for_terminal(pool, text);
  char line[kWidth + 1];
  line[0] = '\r';
  const std::size_t length = strnlen(text, kWidth);
  std::memcpy(line + 1, text, length);
  std::memset(line + 1 + length, ' ', kWidth - length);
  std::fwrite(line, 1, sizeof line, stdout);
}
