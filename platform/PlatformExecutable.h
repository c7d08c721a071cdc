// PlatformExecutable: the full path of the running program, as Windows hands
// it to a program in its first argument.
//
// A Linux shell passes only the name it found on PATH, so the path is read
// from the process's own entry in /proc. The text lives in the caller's pool.
#pragma once

#include <apr_pools.h>

// The absolute path of the executable, or null when it cannot be read.
char *platform_executable_path(apr_pool_t *pool);
