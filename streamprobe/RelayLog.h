// RelayLog: the logging calls of the stream prober, which has no log of its
// own: the lines the probe writes are kept and sent back with each answer, and
// the scan logs them on their loggers. Stands in for log4c's calls over
// log4cxx, so that the prober does not load log4cxx.
//
// Levels are set once at start; lines may be written from any thread.
#pragma once

#include <vector>

#include "MSProbeWire.h"

// Reads LOGGER=LEVEL arguments: the quietest level to keep for each logger
// (the others keep every level). Unreadable arguments are ignored.
void relay_log_levels(int count, const char *const *arguments);

// The lines written since the last call, in order.
std::vector<ProbeLogLine> relay_log_take();
