// itunesPlaylistWriter: writes every playlist of a library as a .pls file
// with an MD5 sidecar into a folder (the run's temporary folder).
//
// The sidecar's digest covers exactly the bytes written to its file. Files
// are written in a sub-pool per playlist, so memory stays bounded by the
// largest playlist. Re-entrant; logs on "itunesConversionUtils".
#pragma once

#include <apr_pools.h>

#include "itunesLibrary.h"

// Writes the playlists into folder (which ends with '/'). With separate set,
// a playlist's video tracks go to "<name> (Movies).pls" and the others to
// "<name> (Music).pls"; a playlist left with one of the two is renamed back
// to "<name>.pls". Protected tracks and tracks without a location are left
// out; a playlist without entries leaves no file.
// Returns 0, or the APR status that ended the writing step (ERROR "couldn't
// initialize md5 context" or "could not create file %s"); the remaining
// playlists are then not written. *dropped is set to 20014 when some
// playlists were left out on error (a missing track, a name that would leave
// the folder, a failed write or sidecar), else to 0.
int itunes_playlists_write(apr_pool_t *pool, const ItunesLibrary &library, const char *folder, int separate,
                           int *dropped);
