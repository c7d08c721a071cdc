// MSDBSqliteMemory: the allocator SQLite is given for its small blocks.
//
// Debian's SQLite is built without its per-connection lookaside memory, so
// every statement prepared and run makes dozens of small allocations, and a
// scan asks the C library for millions of them. The C library's per-thread
// cache holds only seven blocks of a size; the rest takes its slower paths.
// Here blocks of up to 1 KiB are kept on free lists, one per 16-byte size
// class, per thread: taking or giving back a block is a pointer swap without
// a lock. Larger blocks come from the C library, but a thread keeps the
// last few it freed of up to 64 KiB (those above 8 KiB rounded to 128
// bytes) for the next request of the same size: pages and the scratch
// space of a b-tree split, which SQLite takes and gives back many times per
// row it inserts, and which cost the C library more the larger its heap
// grew.
//
// A block freed on another thread joins that thread's lists. The lists of a
// thread that ends move to a shared store the other threads draw from, so
// no memory is stranded. Memory of the small classes is kept for reuse, not
// returned; SQLite's own use bounds it.
//
// Built with AddressSanitizer, free blocks are poisoned, so a use of SQLite
// memory after it was freed is still reported.
#pragma once

#include <sqlite3.h>

// The methods for sqlite3_config(SQLITE_CONFIG_MALLOC, ...).
const sqlite3_mem_methods *msdb_sqlite_memory_methods();
