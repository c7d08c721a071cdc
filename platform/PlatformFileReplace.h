// PlatformFileReplace: replaces a file's whole content so that a reader, or a
// process that crashes half-way, sees either the old content or the new one,
// never a mix or a truncated file.
//
// The data goes to a temporary file beside the target, is flushed to the
// disk, and is renamed over the target (the rename is atomic within a file
// system). The new file is readable and writable by its owner only (mkstemp's
// mode): hives name libraries that programs load, thumbnails show private
// pictures. Nothing is kept between calls; thread-safe.
#pragma once

#include <apr_pools.h>

#include <cstddef>

// Writes length bytes of data as the new content of path. On failure no
// temporary file is left and the target keeps its old content (or stays
// absent). Returns 0, or the APR status of the failing create, write, flush
// or rename (ENOENT when the folder does not exist).
apr_status_t platform_file_replace(apr_pool_t *pool, const char *path, const void *data,
                                   std::size_t length);
