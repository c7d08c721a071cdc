// sharectl's command line: the option table, the option loop and what
// happens to plain arguments after it. Runs on the main thread.
#pragma once

#include "RunState.h"

// Processes every option in command-line order, then the plain arguments and
// the summary. Failures are recorded in run.failed.
void options_run(RunState &run);

// When every argument is -H, --help or --version, prints their texts and
// returns true: they need no installation folder, so nothing is started.
bool options_print_only(int argc, char **argv);

// The usage text printed by -H.
extern const char *const SHARECTL_USAGE;
