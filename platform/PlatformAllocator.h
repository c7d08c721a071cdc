// PlatformAllocator: the C library allocator's settings that the programs
// which inspect media share.
#pragma once

// The stream probe allocates and frees buffers of a few hundred KiB for
// every file. Above glibc's default thresholds each one was a fresh mapping,
// zeroed page by page and returned at once (a tenth of a scan went to those
// page faults), and glibc moves its thresholds with the blocks freed, so the
// same files cost a process 3,400 page faults or 21,000 depending on its
// heap's layout. Fixed thresholds keep such blocks in the heap, at a cost of
// a few MiB at most. Call before the first allocation that matters.
void allocator_fix_thresholds();
