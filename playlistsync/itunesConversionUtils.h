// itunesConversionUtils: turns the playlists of an iTunes library file into a
// folder of .pls playlists with MD5 sidecars and keeps that folder in step.
//
// A run reads the library, writes a complete new set into a fresh temporary
// folder and synchronises the target folder from it, so that unchanged
// playlists keep their files untouched. Each call works in a child pool of
// the caller's, destroyed before it returns; one run at a time per target.
#pragma once

#include <apr_pools.h>

#include "itunesLibrary.h"  // ITUNES_MODULE, the logger of the conversion

// Converts the library at library_path into target_folder; with separate set
// a playlist holding both music and movies becomes two files.
// Returns 0; 20014 when the library cannot be read ("Could not parse %s"),
// when some playlists were dropped, or when the temporary folder cannot be
// made; or the APR status that ended the writing ("could not extract pls
// files from %s", the target untouched) or the synchronisation (the
// temporary folder is then kept for inspection). Failing only to remove the
// temporary folder logs WARN "could not remove dir %s" and still succeeds.
int itunes_convert(apr_pool_t *parent, const char *library_path, const char *target_folder, int separate);
