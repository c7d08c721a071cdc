// MSMediaScanAlbumArt: which images beside music are album art, and the art
// of one audio item found by the folder's file names.
//
// The existence cache is one hash per scan, created in the scan's pool: the
// jpg and gif names of each folder are read from disk at most once per scan,
// or taken from the walk's listing, into the cache's own pool, with the art
// found there for each album and GUID, which the tracks of an album share;
// the art urls handed back live in the caller's pool. One scan uses its cache from one
// thread. Logs on "MSMediaScan".
#pragma once

#include <apr_hash.h>
#include <apr_pools.h>

// Large and small art urls ("file://" + path); null when not found.
struct AlbumArt {
  const char *large;
  const char *small;
};

// True when the file name (any case) names album art: "folder.jpg",
// "cover.jpg", "albumart.<album>.jpg", "albumart_{<guid>}_large.jpg" and the
// other names of the fixed table.
bool msms_is_album_art(const char *name);

// The file name key of an album: quotes and characters that cannot stand in
// file names replaced, everything else lower-cased.
const char *msms_album_key(apr_pool_t *pool, const char *album);

// Takes the names of all the entries of folder (canonical, with or without
// its trailing "/") as its listing, unless the cache holds one already.
void msms_art_cache_fill(apr_hash_t *cache, const char *folder, const char *const *names, int count);

// The art of the audio file at path (canonical), by album and player GUID
// (either may be null or empty). Nothing is found after ERROR "invalid file
// path %s" when path has no folder or the folder is 2047 characters or more.
AlbumArt msms_find_album_art(apr_pool_t *pool, apr_hash_t *cache, const char *path,
                             const char *album, const char *guid);
