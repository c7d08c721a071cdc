// MSMediaScanLog: the logger every engine module writes to and the one way
// a module logs the failure it detects. Header only; any thread.
#pragma once

#include <apr_errno.h>

#include "log4c.h"

inline constexpr const char *MSMS_MODULE = "MSMediaScan";

// Logs message as an ERROR on "MSMediaScan" and returns 20014, for
// `return msms_fail("Could not ...");` where a failure is detected.
inline int msms_fail(const char *message) {
  LOG4C(MSMS_MODULE, LOG4C_ERROR, message);
  return APR_EGENERAL;
}
