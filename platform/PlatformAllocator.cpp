#include "PlatformAllocator.h"

#include <malloc.h>

void allocator_fix_thresholds() {
  mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
}
