// Media sources and their tags in the admin database.
#include "MSDBSources.h"

#include <apr_strings.h>

#include <cstring>
#include <iterator>

#include "Common.h"
#include "CommonNumbers.h"
#include "CommonText.h"
#include "CommonUserMessage.h"
#include "log4c.h"

namespace {

constexpr const char *kReservedOid = "1";
constexpr const char *kSourceColumns =
    "oid, type, name, tags, url, is_public, lookfor_audio, lookfor_video, lookfor_photo, is_recursive, transcode_when";
constexpr int kSourceColumnCount = 11;
constexpr int kFsType = 4;


DbLink admin_link(MediaLibraryDB *db, bool *ok) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  *ok = conn != nullptr;
  return conn == nullptr ? DbLink{} : conn->admin;
}

// Stores each non-empty, trimmed tag of the comma-separated escaped text.
int store_tags(apr_pool_t *pool, DbLink link, const char *source_oid, const char *escaped_tags) {
  char *state = nullptr;
  char *copy = apr_pstrdup(pool, escaped_tags);
  for (char *tag = apr_strtok(copy, ",", &state); tag != nullptr; tag = apr_strtok(nullptr, ",", &state)) {
    tag = str_trim(tag);
    if (*tag == '\0') continue;
    const char *insert =
        db_sql(pool, "insert into tag (oid, sourceOid, tag) values (null, %s, '%s');", source_oid, db_quote(pool, tag));
    const char *oid = nullptr;
    if (db_insert_and_fetch(pool, link, insert, kLastInsertRowid, &oid) != APR_SUCCESS) {
      return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not insert media source tag %s", tag));
    }
  }
  return APR_SUCCESS;
}

// The texts of a source as they are pasted into statements.
struct QuotedSource {
  const char *name;
  const char *url;
  const char *tags;
  const char *type;
  const char *transcode_when;
};

QuotedSource quote_source(apr_pool_t *pool, const MediaSource *source) {
  return QuotedSource{db_escape(pool, source->name), db_escape(pool, source->url), db_escape(pool, source->tags),
                      db_quote(pool, source->type), db_quote(pool, source->transcode_when)};
}

// Fills source from a row in kSourceColumns order.
int read_source(apr_pool_t *pool, const char *const *row, MediaSource *source) {
  *source = MediaSource{};
  int *flags[] = {&source->is_public, &source->lookfor_audio, &source->lookfor_video, &source->lookfor_photo,
                  &source->is_recursive};
  for (std::size_t i = 0; i < std::size(flags); ++i) {
    if (!parse_bool(row[5 + i], flags[i])) return log4c_fail(MSDB_MODULE, INTERNAL_ERROR_TEXT);
  }
  source->oid = row[0];
  source->type = row[1];
  source->name = db_unescape(pool, row[2]);
  source->tags = db_unescape(pool, row[3]);
  source->url = db_unescape(pool, row[4]);
  source->transcode_when = row[10];
  return APR_SUCCESS;
}

int get_by(apr_pool_t *pool, MediaLibraryDB *db, const char *column, const char *key, MediaSource *source) {
  *source = MediaSource{};
  bool ok = false;
  DbLink link = admin_link(db, &ok);
  if (!ok) return APR_EGENERAL;
  const char *sql =
      db_sql(pool, "select %s from mediaSource where %s='%s'", kSourceColumns, column, db_escape(pool, key));
  const char *row[kSourceColumnCount];
  if (db_select_row(pool, link, sql, kSourceColumnCount, row, nullptr) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not fetch media source");
  }
  return row[0] == nullptr ? APR_SUCCESS : read_source(pool, row, source);
}

const char *list_filter(apr_pool_t *pool, const char *type, bool *ok) {
  *ok = true;
  if (type == nullptr) return db_sql(pool, "where oid > %s", kReservedOid);
  int index = str_index_of(type, MediaSourceType, static_cast<int>(std::size(MediaSourceType)), 0);
  if (index == 0) {
    *ok = false;
    return nullptr;
  }
  if (index == kFsType) return db_sql(pool, "where type='%s' or type='%s'", "file", "folder");
  return db_sql(pool, "where type='%s'", MediaSourceType[index]);
}

// Opens a one-column cursor in pool; *first is its first value, unescaped.
int open_values(apr_pool_t *pool, DbLink link, const char *sql, DbCursor **cursor, const char **first) {
  *cursor = static_cast<DbCursor *>(apr_pcalloc(pool, sizeof(DbCursor)));
  if (db_select_value(pool, link, sql, first, *cursor) != APR_SUCCESS) return APR_EGENERAL;
  *first = db_unescape(pool, *first);
  return APR_SUCCESS;
}

int by_url_prefix(apr_pool_t *pool, MediaLibraryDB *db, const char *column, const char *prefix,
                  DbCursor **cursor, const char **first) {
  bool ok = false;
  DbLink link = admin_link(db, &ok);
  if (!ok) return APR_EGENERAL;
  const char *sql = db_sql(pool, "select %s from mediaSource where oid > %s and url like '%s%%';", column, kReservedOid,
                           db_escape(pool, prefix));
  if (open_values(pool, link, sql, cursor, first) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get first media source by url prefix");
  }
  return APR_SUCCESS;
}

}  // namespace

int msdb_add_media_source(apr_pool_t *pool, MediaLibraryDB *db, MediaSource *source) {
  source->oid = nullptr;
  bool ok = false;
  DbLink link = admin_link(db, &ok);
  if (!ok) return APR_EGENERAL;
  QuotedSource q = quote_source(pool, source);
  const char *insert = db_sql(pool,
                              "insert into mediaSource (oid, name, url, tags, type, is_public, lookfor_audio, "
                              "lookfor_video, lookfor_photo, is_recursive, transcode_when) values(null, '%s', '%s', "
                              "'%s', '%s', %d, %d, %d, %d, %d, '%s');",
                              q.name, q.url, q.tags, q.type, source->is_public, source->lookfor_audio,
                              source->lookfor_video, source->lookfor_photo, source->is_recursive, q.transcode_when);
  const char *oid = nullptr;
  if (db_insert_and_fetch(pool, link, insert, kLastInsertRowid, &oid) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not insert media source");
  }
  if (store_tags(pool, link, oid, q.tags) != APR_SUCCESS) return log4c_fail(MSDB_MODULE, "Could not insert media source tags");
  source->oid = oid;
  return APR_SUCCESS;
}

int msdb_update_media_source(apr_pool_t *pool, MediaLibraryDB *db, const MediaSource *source) {
  if (source->transcode_when == nullptr) {
    return log4c_fail(MSDB_MODULE, "Missing media source mandatory field value for transocde_when");
  }
  if (!db_oid_valid(source->oid)) return APR_EGENERAL;
  bool ok = false;
  DbLink link = admin_link(db, &ok);
  if (!ok) return APR_EGENERAL;
  QuotedSource q = quote_source(pool, source);
  const char *update = db_sql(pool,
                              "update mediaSource set name = '%s', url = '%s', tags = '%s', type = '%s', is_public = "
                              "%d, lookfor_audio = %d, lookfor_video = %d, lookfor_photo = %d, is_recursive = %d, "
                              "transcode_when = '%s' where oid = %s;",
                              q.name, q.url, q.tags, q.type, source->is_public, source->lookfor_audio,
                              source->lookfor_video, source->lookfor_photo, source->is_recursive, q.transcode_when,
                              source->oid);
  int rows = 0;
  if (db_exec(link, update, &rows) != APR_SUCCESS) return APR_EGENERAL;
  if (rows == 0) return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not execute SQL statement, reason: %s", "no row was changed"));
  if (db_exec(link, db_sql(pool, "delete from tag where sourceOid=%s;", source->oid), nullptr) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (store_tags(pool, link, source->oid, q.tags) != APR_SUCCESS) return log4c_fail(MSDB_MODULE, "Could not insert media source tags");
  return APR_SUCCESS;
}

int msdb_delete_media_source(apr_pool_t *pool, MediaLibraryDB *db, const char *oid) {
  if (!db_oid_valid(oid)) return APR_EGENERAL;
  bool ok = false;
  DbLink link = admin_link(db, &ok);
  if (!ok) return APR_EGENERAL;
  if (db_exec(link, db_sql(pool, "delete from tag where sourceOid=%s;", oid), nullptr) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  return db_exec(link, db_sql(pool, "delete from mediaSource where oid=%s;", oid), nullptr);
}

int msdb_get_media_source_by_oid(apr_pool_t *pool, MediaLibraryDB *db, const char *oid,
                                 MediaSource *source) {
  return get_by(pool, db, "oid", oid, source);
}

int msdb_get_media_source_by_url(apr_pool_t *pool, MediaLibraryDB *db, const char *url,
                                 MediaSource *source) {
  return get_by(pool, db, "url", url, source);
}

int msdb_get_media_source_by_object(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                                    MediaSource *source) {
  *source = MediaSource{};
  if (!db_oid_valid(object)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *oid = nullptr;
  if (db_select_value(pool, conn->medialib, db_sql(pool, "select min(sourceoid) from objms where objectoid=%s", object),
                      &oid, nullptr) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not fetch source oid by object oid");
  }
  return oid == nullptr ? APR_SUCCESS : get_by(pool, db, "oid", oid, source);
}

int msdb_get_media_sources_by_tag(apr_pool_t *pool, MediaLibraryDB *db, const char *tag,
                                  MediaSource *sources, int *count) {
  int capacity = *count;
  *count = 0;
  bool ok = false;
  DbLink link = admin_link(db, &ok);
  if (!ok) return APR_EGENERAL;
  const char *sql = db_sql(pool, "select %s from mediaSource where oid in (select sourceOid from tag where tag='%s')",
                           kSourceColumns, db_escape(pool, tag));
  const char *row[kSourceColumnCount];
  DbCursor cursor;
  if (db_select_row(pool, link, sql, kSourceColumnCount, row, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not fetch media source");
  }
  for (bool more = row[0] != nullptr; more && *count < capacity;
       more = db_next_row(pool, &cursor, kSourceColumnCount, row) != 0) {
    if (read_source(pool, row, &sources[*count]) != APR_SUCCESS) return log4c_fail(MSDB_MODULE, "Could not get next media source");
    ++*count;
  }
  return APR_SUCCESS;
}

int msdb_list_media_sources(apr_pool_t *pool, MediaLibraryDB *db, const char *type,
                            MediaSourceRowFn callback, void *arg, const char **text) {
  *text = nullptr;
  bool ok = false;
  const char *filter = list_filter(pool, type, &ok);
  if (!ok) return log4c_fail(MSDB_MODULE, INTERNAL_ERROR_TEXT);
  DbLink link = admin_link(db, &ok);
  if (!ok) return APR_EGENERAL;
  constexpr const char *kAttributes[] = {"@id", "@url", "@type", "@name", "@tags",
                                         "@is_recursive", "@lookfor_audio", "@lookfor_video", "@lookfor_photo"};
  constexpr int kCount = static_cast<int>(std::size(kAttributes));
  const char *sql = db_sql(pool,
                           "select oid, url, type, name, tags, is_recursive, lookfor_audio, lookfor_video, "
                           "lookfor_photo from mediaSource %s order by lower(name)",
                           filter);
  const char *row[kCount];
  DbCursor cursor;
  if (db_select_row(pool, link, sql, kCount, row, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not execute SQL statement");
  }
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_RESULTSET);
  for (bool more = row[0] != nullptr; more; more = db_next_row(pool, &cursor, kCount, row) != 0) {
    serialize_new_record(buffer, nullptr);
    for (int i = 0; i < kCount; ++i) serialize_add(buffer, kAttributes[i], 0, row[i] == nullptr ? "" : row[i]);
    if (callback != nullptr) callback(buffer, row[0], arg);
  }
  return serialize_output(buffer, pool, nullptr, text);
}

int msdb_for_each_public_source(apr_pool_t *pool, MediaLibraryDB *db, PublicSourceFn callback,
                                void *context) {
  bool ok = false;
  DbLink link = admin_link(db, &ok);
  if (!ok) return APR_EGENERAL;
  const char *sql =
      db_sql(pool, "select oid, url, type, name, tags from mediaSource where oid > %s and is_public=1", kReservedOid);
  const char *row[5];
  DbCursor cursor;
  if (db_select_row(pool, link, sql, 5, row, &cursor) != APR_SUCCESS) return APR_EGENERAL;
  for (bool more = row[0] != nullptr; more; more = db_next_row(pool, &cursor, 5, row) != 0) {
    callback(pool, context, row[0], row[1], row[2], row[3], row[4]);
  }
  return APR_SUCCESS;
}

int msdb_source_urls(apr_pool_t *pool, MediaLibraryDB *db, DbCursor **cursor, const char **first) {
  bool ok = false;
  DbLink link = admin_link(db, &ok);
  if (!ok) return APR_EGENERAL;
  const char *sql = db_sql(pool,
                           "SELECT url FROM mediaSource WHERE oid > %s ORDER BY (CASE WHEN url like '%%implib%%' THEN "
                           "1 ELSE 0 END), (CASE type WHEN 'file' THEN 0 WHEN 'folder' THEN 1 ELSE 2 END)",
                           kReservedOid);
  if (open_values(pool, link, sql, cursor, first) != APR_SUCCESS) return log4c_fail(MSDB_MODULE, "Could not get media source url(s)");
  return APR_SUCCESS;
}

int msdb_cursor_next(apr_pool_t *pool, MediaLibraryDB *, DbCursor *cursor, const char **value) {
  *value = nullptr;
  if (cursor == nullptr) return log4c_fail(MSDB_MODULE, INTERNAL_ERROR_TEXT);
  *value = db_unescape(pool, db_next_value(pool, cursor));
  return APR_SUCCESS;
}

int msdb_source_oids_by_url_prefix(apr_pool_t *pool, MediaLibraryDB *db, const char *prefix,
                                   DbCursor **cursor, const char **first) {
  return by_url_prefix(pool, db, "oid", prefix, cursor, first);
}

int msdb_source_urls_by_url_prefix(apr_pool_t *pool, MediaLibraryDB *db, const char *prefix,
                                   DbCursor **cursor, const char **first) {
  return by_url_prefix(pool, db, "url", prefix, cursor, first);
}

int msdb_sources_by_volume(apr_pool_t *pool, MediaLibraryDB *db, const char *const *prefixes,
                           int count, apr_hash_t *map, int negate) {
  if (count < 1 || prefixes == nullptr || map == nullptr) return log4c_fail(MSDB_MODULE, "error in input params");
  bool ok = false;
  DbLink link = admin_link(db, &ok);
  if (!ok) return APR_EGENERAL;
  const char *conditions = "";
  for (int i = 0; i < count; ++i) {
    conditions = apr_psprintf(pool, "%s%surl like '%s%%'", conditions, i == 0 ? "" : " or ", db_quote(pool, prefixes[i]));
  }
  const char *sql = db_sql(pool, "select url, oid from mediasource where (type = 'folder' or type = 'file') and %s (%s)",
                           negate ? "not" : "", conditions);
  const char *row[2];
  DbCursor cursor;
  if (db_select_row(pool, link, sql, 2, row, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf("could not select mediasource tables with - %s (%s)", negate ? "not" : "", conditions));
  }
  for (bool more = row[0] != nullptr; more; more = db_next_row(pool, &cursor, 2, row) != 0) {
    apr_hash_set(map, db_unescape(pool, row[0]), APR_HASH_KEY_STRING, row[1]);
  }
  return APR_SUCCESS;
}
