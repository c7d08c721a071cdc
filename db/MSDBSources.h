// MSDBSources: the media sources (shared folders, files, URLs, feeds) and their tags.
//
// Rows live in the admin database; names, URLs and tags are stored
// entity-escaped and come back unescaped. Sources with oid 1 or lower are
// reserved for the server and are never listed, matched by URL prefix or
// offered as public. Runs on the calling thread's admin connection; the
// caller brackets writes with msdb_admin_begin/commit. Results live in the
// pool passed. Failures are logged on "MSDB".
// Statuses: 0 success, 20014 failure (logged).
#pragma once

#include <apr_hash.h>
#include <apr_pools.h>

#include "CommonSerialize.h"
#include "MSDBConnection.h"

struct MediaSource {
  const char *oid;  // null when the source was not found
  const char *name;
  const char *type;  // a word of MediaSourceType
  const char *url;
  const char *tags;  // comma-separated
  int lookfor_audio;
  int lookfor_video;
  int lookfor_photo;
  int is_public;
  int is_recursive;
  const char *transcode_when;  // stored as given
};

// The type words, by slot; slot 0 is empty. "fs" is never stored: as a
// listing filter it stands for "file" or "folder".
inline constexpr const char *MediaSourceType[] = {
    nullptr,   "internal", "file",    "folder",  "fs",      "audurl",
    "imgurl",  "vidurl",   "audfeed", "imgfeed", "vidfeed", "didlite",
};

// Inserts source and its tags; source->oid receives the new oid (in pool).
int msdb_add_media_source(apr_pool_t *pool, MediaLibraryDB *db, MediaSource *source);

// Rewrites the row of source->oid and its tags. Fails without SQL when
// transcode_when is missing, and when no row has that oid.
int msdb_update_media_source(apr_pool_t *pool, MediaLibraryDB *db, const MediaSource *source);

// Deletes the source's tags and row (its objects are removed separately).
int msdb_delete_media_source(apr_pool_t *pool, MediaLibraryDB *db, const char *oid);

// Look-ups by oid, by URL and by the oid of one of the source's objects. Not
// found is success with a zeroed record. A stored flag that does not parse is
// an internal error (20014).
int msdb_get_media_source_by_oid(apr_pool_t *pool, MediaLibraryDB *db, const char *oid,
                                 MediaSource *source);
int msdb_get_media_source_by_url(apr_pool_t *pool, MediaLibraryDB *db, const char *url,
                                 MediaSource *source);
int msdb_get_media_source_by_object(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                                    MediaSource *source);

// Up to *count sources carrying tag; *count receives the number filled.
int msdb_get_media_sources_by_tag(apr_pool_t *pool, MediaLibraryDB *db, const char *tag,
                                  MediaSource *sources, int *count);

// Called after each listed row; may add attributes to the current record.
using MediaSourceRowFn = void (*)(SerializeBuffer *buffer, const char *oid, void *arg);

// The sources of type (null: every user source; "fs": files and folders),
// sorted by lower-cased name, as a resultset document in *text.
int msdb_list_media_sources(apr_pool_t *pool, MediaLibraryDB *db, const char *type,
                            MediaSourceRowFn callback, void *arg, const char **text);

using PublicSourceFn = void (*)(apr_pool_t *pool, void *context, const char *oid, const char *url,
                                const char *type, const char *name, const char *tags);

// Calls callback with the raw row of every public user source, in row order.
int msdb_for_each_public_source(apr_pool_t *pool, MediaLibraryDB *db, PublicSourceFn callback,
                                void *context);

// URLs of every user source: files, then folders, then the rest, with
// sources under "implib" last. *first is the first URL (null when none);
// msdb_cursor_next gives the others.
int msdb_source_urls(apr_pool_t *pool, MediaLibraryDB *db, DbCursor **cursor, const char **first);

// The next value of a cursor (unescaped), null at the end. Returns 0, or
// 20014 when cursor is null.
int msdb_cursor_next(apr_pool_t *pool, MediaLibraryDB *db, DbCursor *cursor, const char **value);

// Oids / URLs of the user sources whose URL starts with prefix.
int msdb_source_oids_by_url_prefix(apr_pool_t *pool, MediaLibraryDB *db, const char *prefix,
                                   DbCursor **cursor, const char **first);
int msdb_source_urls_by_url_prefix(apr_pool_t *pool, MediaLibraryDB *db, const char *prefix,
                                   DbCursor **cursor, const char **first);

// Files and folders whose URL starts (negate: does not start) with one of the
// prefixes, as url -> oid in map.
int msdb_sources_by_volume(apr_pool_t *pool, MediaLibraryDB *db, const char *const *prefixes,
                           int count, apr_hash_t *map, int negate);
