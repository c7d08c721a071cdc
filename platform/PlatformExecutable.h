// PlatformExecutable: the full path of the running program, as Windows hands
// it to a program in its first argument, and the data files that ship with
// it.
//
// A Linux shell passes only the name it found on PATH, so the path is read
// from the process's own entry in /proc. The texts live in the caller's pool;
// no state is kept, so any thread may call.
#pragma once

#include <apr_pools.h>

// The absolute path of the executable, or null when it cannot be read.
char *platform_executable_path(apr_pool_t *pool);

// The first of places (paths relative to the executable's folder) that
// access() grants mode on, made absolute; null when none is, or the
// executable's path cannot be read.
char *platform_beside_executable(apr_pool_t *pool, const char *const *places, int count, int mode);

// A data file that ships with the programs: the one beside the executable
// (a build tree), else the one in the installed data folder reached from the
// executable's folder (bin/../share/zentoria). Null when neither exists or
// the executable's path cannot be read.
char *platform_data_file(apr_pool_t *pool, const char *name);
