// What every fuzz target shares: a once-only start (APR, the thread hooks,
// logging switched off so that a run measures parsing, not log output), a
// scratch folder of its own for targets that read files, and the input as
// a C string. Targets run single-threaded; pools belong to the caller.
#pragma once

#include <apr_pools.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The root pool, made on first use; every other call needs it first.
apr_pool_t *fuzz_pool();

// A folder private to this process (removed at exit), and a file in it
// written with data.
const std::string &fuzz_dir();
std::string fuzz_write(const char *name, const uint8_t *data, size_t size);

// data as text, ending at its first NUL as a C string would.
std::string fuzz_text(const uint8_t *data, size_t size);

// Stops the run with a message when a property of the code under test fails.
void fuzz_check(bool holds, const char *what, const std::string &input);
