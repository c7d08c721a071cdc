// PlatformResidentPages: giving back the pages of the process's read-only
// file mappings that it no longer touches.
//
// Opening a shared library reads its symbol and relocation tables and runs
// its constructors, and the kernel maps up to 16 cached neighbours of every
// page touched (fault-around): opening ffmpeg leaves 22 MiB of library pages
// resident, of which a stream prober's work later reads 9. Unmapped, they
// stay in the page cache and come back on their next touch: the resident
// set is then what the process uses.
#pragma once

// Unmaps the resident pages of every read-only file mapping that holds no
// private copy (a relocated page of a library's constant data is one, and
// stays). Only for a process with one thread: another thread's loader could
// be relocating a mapping this takes for a clean one.
void platform_release_clean_file_pages();
