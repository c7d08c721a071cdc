// sharectl: shares folders, files, URLs and feeds into the media library,
// refreshes, unshares and lists them. Run from the installation folder.
#include "Options.h"
#include "PlatformAllocator.h"
#include "Startup.h"

// Exit status: 0 when everything asked for was done, 1 when a start-up step,
// an action, an option or a plain argument failed, -1 when APR or the root
// pool could not be had.
int main(int argc, char **argv) {
  if (options_print_only(argc, argv)) return 0;
  // No cap on glibc's arenas, so the scan's writer keeps one of its own:
  // sharing it with the inspection workers held the writer waiting on the
  // arena's lock thousands of times a scan.
  allocator_fix_thresholds();
  RunState run;
  run.argc = argc;
  run.argv = argv;
  Startup startup;
  StartResult result = startup.start(run);
  if (result == StartResult::exit) return -1;
  if (result == StartResult::started)
    options_run(run);
  else
    run.failed = true;
  startup.stop(run);
  return run.failed ? 1 : 0;
}
