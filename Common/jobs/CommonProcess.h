// CommonProcess: starting helper programs.
//
// The child keeps the parent's standard streams. Re-entrant; the process
// record lives in the caller's pool.
#pragma once

#include <apr_pools.h>
#include <apr_thread_proc.h>

// Starts command (searched on PATH) with argv-style args (args[0] is the
// program name, null-terminated; null means just the command), in folder
// (null: the current one). With wait set waits for it to end and stores its
// exit code; without, only polls (a running child is a success, *exit_code 0).
// Returns the process or null after ERROR "Could not create process
// attribute", "Could not modify process attribute", "Could not create
// process" or "Child process error command: %s". exit_code may be null.
apr_proc_t *process_run(apr_pool_t *pool, const char *command, const char *const *args,
                        const char *folder, int wait, int *exit_code);
// process_run in a pool of its own: the exit code when waiting, 0 when not,
// -1 on failure.
int process_run_simple(const char *command, const char *const *args, const char *folder, int wait);
