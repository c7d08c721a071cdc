// ScanHost: the scan engine inside mlserve: the modules a scan needs
// (languages, media helpers, timer, scheduler, downloads and metafiles for
// URL sources, the user log) and the engine with the configuration's
// automatic refresh ("autorefresh" every refreshInterval minutes). All lives
// in the pool given until scan_host_stop; start and stop run on the main
// thread. Writes take the library lock, so sharectl and the server never
// write at once.
#pragma once

#include <apr_pools.h>
#include <apr_time.h>

#include "MSConfig.h"
#include "MSDBConnection.h"

// The first due time and interval of the automatic refresh: the grid starts
// at refreshStartTime, in seconds since the epoch (0: midnight UTC), and
// steps refreshInterval minutes (0: never); the start is its next point.
apr_time_t scan_host_refresh_start(const MSConfig *config);
apr_interval_time_t scan_host_refresh_interval(const MSConfig *config);

// Starts the modules in order, then the engine. Returns 0, or 20014 after
// the failing module's message (the modules started already are stopped).
// The engine fails at once, logged, when a sharectl run holds the library.
int scan_host_start(apr_pool_t *pool, MediaLibraryDB *db, const MSConfig *config);

// Stops the engine (waiting for a running job to give way), then the
// modules in reverse order.
void scan_host_stop();
