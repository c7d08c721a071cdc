// CommonTagLib: the descriptive tags of an audio or video file, read through
// TagLib in one call, and the routing of TagLib's debug output to our log.
//
// tags_read keeps no state between calls and may run on any thread: each call
// opens and closes its own file. Strings are UTF-8 copies in the caller's
// pool. TagLib's exceptions are contained inside the call. The debug hook is
// process-wide: install it at start-up and remove it at shut-down.
#pragma once

#include <apr_pools.h>

// 1 when extension (without the dot, any case) is one of the twelve whose
// files carry tags worth reading ("mp3", "m4a", "ogg", "flac", ...), else 0.
int is_tag_file(const char *extension);

// Reads the tags of the file at path (native separators: on POSIX a '\' is
// part of a name), through a BoundedTagStream: only the file's first 16 MiB
// and last 4 MiB are read, whatever its size. Texts are valid XML text of at
// most TEXT_MAX_BYTES (see utf8_xml_clean). Every out
// argument may be null; absent text fields give "", absent numbers 0, the
// length is 0 when the file has no audio properties. album_artist and
// collection_id (a 36-character GUID) come from the MPEG, MP4 and ASF
// specific tags only. Returns 0, or 20014 when the file cannot be read or
// has no tag (nothing is logged) or after ERROR "Exception thrown via taglib"
// on "CommonTagLib" (fields filled before the exception stay set).
int tags_read(apr_pool_t *pool, const char *path, const char **title, const char **artist,
              const char **comment, const char **album, const char **album_artist,
              const char **genre, int *year, int *track, int *length, const char **collection_id);

// Installs / removes the hook that logs every TagLib debug message on
// "CommonTagLib" at INFO.
void taglib_debug_on();
void taglib_debug_off();
