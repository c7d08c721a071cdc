// MSMediaScanLibrary: the record of the library the engine works on, made
// once by start-up (msms_init) and handed down to everything that files or
// scans: the database handle, the standard container tables, the system
// view paths, the views and the sort setting of folder views; and the
// library lock (the file "zentoria.ZentoriaMediaLibLock" in the logs folder)
// that keeps the media server and sharectl from writing at the same time.
//
// The record lives in the pool given to msms_library_open and is read-only
// once start-up is done, so any thread may read it without a lock. The
// library lock is one per process, as the library is; its bookkeeping has a
// mutex of its own. Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "MSDBConnection.h"

// The kinds of the three container tables and their 19 slots.
enum MediaKind : int { MEDIA_KIND_AUDIO = 0, MEDIA_KIND_PHOTO = 1, MEDIA_KIND_VIDEO = 2 };
inline constexpr int MEDIA_KINDS = 3;
inline constexpr int MSMS_SLOTS = 19;
enum StandardSlot : int {
  SLOT_ROOT = 1,
  SLOT_FOLDERS = 2,
  SLOT_TAGS = 3,
  SLOT_DATES = 4,
  SLOT_INDEXES = 5,
  SLOT_ALL = 6,
  SLOT_PLAYLISTS = 7,
  SLOT_GENRES = 8,
  SLOT_ARTISTS = 9,
  SLOT_ALBUMS = 10,
  SLOT_GENRES_ARTISTS_ALBUMS = 11,
  SLOT_GENRES_ALBUMS = 12,
  SLOT_GENRES_ARTISTS = 13,
  SLOT_ARTISTS_ALBUMS = 14,
  SLOT_YEAR_ARTISTS_ALBUMS = 15,
  SLOT_PUBLISHERS = 16,
  SLOT_INTERNET = 17,
  SLOT_INTERNET_PLAYLISTS = 18,
};

// One standard container: its object id and ancestor id path; both null
// while the container is not known.
struct StandardContainer {
  const char *oid;
  const char *path;
};

struct LibraryView;

struct ScanLibrary {
  apr_pool_t *pool;
  MediaLibraryDB *db;
  StandardContainer tables[MEDIA_KINDS][MSMS_SLOTS];  // filled by msms_skeleton_create
  const char *system_views[MEDIA_KINDS];  // each kind's local system view path (msms_system_view_path)
  const LibraryView *untriggered;         // the views, newest first (msms_views_build)
  const LibraryView *triggered;
  int sort_folder_by_file_name;
};

// Makes the process's record for db in pool, with the kind roots in its
// tables, and readies the library lock in the configuration's logs folder
// (made when missing). *library is set, and msms_library() returns it, even
// when the lock cannot be readied. Returns 0, or 20014 (logged: "Could not
// create mutex", "Could not create folder for storing logs, reason: %s").
int msms_library_open(apr_pool_t *pool, MediaLibraryDB *db, ScanLibrary **library);

// Forgets the process's record; the library lock can no longer be taken.
void msms_library_close();

// The process's record, or null outside msms_library_open ... close. Only
// the engine's entry points fetch it; everything below gets it passed.
ScanLibrary *msms_library();
// Its database, or null.
MediaLibraryDB *msms_library_db();

// Takes the library lock (an exclusive, non-blocking file lock). Returns 0,
// or 20014 at once when another process or thread holds it or the lock is
// not ready ("Could not acquire DB modification mutex").
int msms_lock_library();

// Releases the library lock. Returns 0, or 20014 ("Could not unlock DB
// modification mutex").
int msms_unlock_library();
