// Shared between the MSFFMPEG sources: the module's logger name and its pool.
#pragma once

#include <apr_pools.h>

inline constexpr const char *FFMPEG_MODULE = "MSFFMPEG";

// The pool made by ffmpeg_init (null before it and after ffmpeg_term).
apr_pool_t *ffmpeg_module_pool();
