// MSMediaScanState: what the scan engine sets up once and its operations
// share: the library handle and lock, the standard container tables, system
// view paths and dotted container paths. The tables are filled by msms_init
// under the module's write lock, read under its read lock, and live in the
// pool given to msms_init; other texts live in the caller's pool. The
// library lock is a file lock that excludes other processes and threads.
// Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "MSDBConnection.h"

inline constexpr const char *MSMS_MODULE = "MSMediaScan";

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

// The library handle given to msms_init, or null before it.
MediaLibraryDB *msms_library();

// Takes the library lock (an exclusive, non-blocking lock on
// "zentoria.ZentoriaMediaLibLock" in the logs folder). Returns 0, or 20014
// at once when another process or thread holds it ("Could not acquire DB
// modification mutex").
int msms_lock_library();

// Releases the library lock. Returns 0, or 20014 ("Could not unlock DB
// modification mutex").
int msms_unlock_library();

// The container of (kind, slot); oid and path are null for slots that are
// not known. Out-of-range arguments give the null container.
StandardContainer msms_standard_container(int kind, int slot);

// The dotted title path of the standard container in which an item of kind
// is listed: "Zentoria.<root>.<indexes>.<All or Playlists>" for local items,
// "Zentoria.<root>.<Internet or Internet Playlists>" for internet ones. Null
// for a kind without a table or a title without text.
const char *msms_system_view_path(apr_pool_t *pool, int kind, int internet, int playlist);

// The fixed object id of a reserved top-level name or of a standard
// container's title (slots 1..18, audio, photo, video per slot); null when
// name is neither.
const char *msms_top_level_oid(const char *name);

// The child container of parent titled title, created (class cls, held by
// source 1, linked with the container sort of the view key key_slot, 0 for
// none) when there is none. Returns 0 with *oid, or 20014 (logged).
int msms_find_or_create_child(apr_pool_t *pool, const char *parent, const char *title,
                              const char *cls, int key_slot, const char **oid);

// msdb_set_prop of a single-valued property of a view container, skipped
// when this thread set the same value on it since the database's graph
// epoch last moved. Returns 0 or 20014 (logged).
int msms_set_container_prop(apr_pool_t *pool, const char *container, int slot, const char *value);

// Resolves a dotted path of container titles to a container, creating what
// is missing. With start null the path is absolute: its first element is a
// reserved name or a standard title, or else a child of the root "0". With
// a start container, a path whose first element is a reserved name or a
// standard title is still absolute; any other is followed from start.
// Returns 0 with *oid, or 20014 (logged; also for a path without titles).
int msms_find_or_create_path(apr_pool_t *pool, const char *start, const char *path,
                             const char **oid);

// Internal to the engine's start-up: empties the tables (the kind roots
// stay), creates the skeleton in the caller's transaction (returns 0 or
// 20014, logged) and fills the tables in pool.
void msms_skeleton_reset();
int msms_skeleton_create(apr_pool_t *pool, MediaLibraryDB *db);

// The module's read-write lock: readers of the tables take the read lock,
// start-up and the library lock's bookkeeping the write lock.
void msms_state_read_lock();
void msms_state_write_lock();
void msms_state_unlock();
