// itunesLibrary: the tracks and playlists of an iTunes library file, read as
// a stream so that a library of tens of megabytes never sits in memory whole.
//
// Only what the playlist writer needs is kept: per track its decoded
// location, title, total time and whether it is protected; per playlist its
// name and its items. Everything lives in the pool passed to
// itunes_library_read. Re-entrant; logs on "itunesConversionUtils".
#pragma once

#include <apr_hash.h>
#include <apr_pools.h>
#include <apr_tables.h>

#include <cstddef>

struct ItunesTrack {
  // "Location" percent-decoded; a local file's as a path: "file://localhost/srv/x.mp3"
  // and "file:///srv/x.mp3" give "/srv/x.mp3", "file://localhost/C:/x.mp3" "C:/x.mp3".
  const char *location = nullptr;
  const char *title = nullptr;       // "Name"
  const char *total_time = nullptr;  // "Total Time" in milliseconds, as text
  bool is_protected = false;         // the track has a "Protected" key (true or false)
};

struct ItunesPlaylist {
  const char *name = nullptr;
  // Track ids (const char *) in document order; null when the playlist has
  // no "Playlist Items".
  apr_array_header_t *items = nullptr;
};

struct ItunesLibrary {
  apr_hash_t *tracks = nullptr;     // track id -> ItunesTrack *
  apr_hash_t *playlists = nullptr;  // name -> ItunesPlaylist *; a later playlist of a name wins
};

// Longest element text and key kept; longer character data is cut.
inline constexpr std::size_t ITUNES_MAX_TEXT = 4095;
inline constexpr std::size_t ITUNES_MAX_KEY = 1023;

// Reads the library file at path into *library (allocated in pool).
// Returns 0, or 20014 after ERROR "Could not parse %s" when the file cannot
// be read, is not well-formed XML, or is not a property list with playlists.
int itunes_library_read(apr_pool_t *pool, const char *path, ItunesLibrary *library);
