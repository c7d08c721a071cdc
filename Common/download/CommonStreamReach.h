// CommonStreamReach: whether the server of a stream URL the engine does not
// fetch itself (mms, mmsh, mmst, rtsp, pnm) answers at all: a TCP connection
// to its host and port (the scheme's default port when none is given).
//
// Blocking for at most the connection time-out; temporaries in the caller's
// pool. Re-entrant.
#pragma once

#include <apr_pools.h>

inline constexpr int STREAM_REACH_TIMEOUT_SECONDS = 3;

// Returns 0 when a connection to url's server was made (and closed), 70015
// (APR_NOTFOUND) for a URL without a host or of another scheme, or the
// failure of the name look-up or of the connection.
int stream_reach(apr_pool_t *pool, const char *url);
