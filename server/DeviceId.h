// DeviceId: the device UUID, made once and kept in the installation folder
// (data/device.uuid), so that players recognise the server across restarts.
// Called once at start-up; the result lives in the caller's pool.
#pragma once

#include <apr_pools.h>

// The UUID kept in file, or a new one written there when the file is
// missing or does not hold one. Returns 0, or 20014 after "Could not keep
// the device id in %s: %s".
int device_id(apr_pool_t *pool, const char *file, const char **uuid);
