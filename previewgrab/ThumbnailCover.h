// ThumbnailCover: the cover picture of a track, the one a music player shows:
// the picture embedded in its tags (ID3v2, MP4, FLAC, ASF, Vorbis/Opus
// comments; the front cover when several are stored), else the album art
// image beside it, looked for by the fixed album-art names of the library
// scan ("folder.jpg", "albumartsmall.jpg", ... compared ignoring case).
//
// TagLib's exceptions stay inside the call. Stateless; the folder listing
// lives in the caller's pool.
#pragma once

#include <apr_pools.h>

#include <string>

// The encoded picture (JPEG, PNG...) of the embedded cover in *picture; true
// when there is one.
bool cover_embedded(const char *path, std::string *picture);

// The path (in pool) of the album art image in the folder of path, or null.
const char *cover_beside(apr_pool_t *pool, const char *path);
