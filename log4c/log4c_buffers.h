// The per-thread formatting buffers behind log4c_sprintf, log4c_vprintf and
// log4c_is_thread_buffer, declared in log4c.h (internal to log4c).
//
// A process-wide table of at most LOG4C_MAX_THREADS entries, appended to and
// never shrunk; each entry pairs a 4096-byte heap block with the id of the
// thread that owns it. The table is always guarded: by the host's lock
// callbacks when installed, by a lock of the layer's own otherwise.
#pragma once

#include "log4c.h"
