// Schema creation through the sqlite3 DBD driver.
//
// Uniqueness the statements rely on: propName.name, propValue.value and
// objms (objectOid, sourceOid); accounts are unique per (domain, username)
// so that inserting an existing account fails and the caller updates it.
#include "MSDBSchema.h"

#include <apr_dbd.h>
#include <apr_file_info.h>
#include <apr_file_io.h>
#include <apr_strings.h>
#include <sqlite3.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <set>
#include <span>
#include <string>

#include "MSDBConnection.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "MSDB";

constexpr const char *kMedialibSchema[] = {
    "create table object (oid INTEGER PRIMARY KEY, signature TEXT)",
    "create table edge (oid INTEGER PRIMARY KEY, parentObjectOid INTEGER, objectOid INTEGER, ordinal TEXT)",
    "create table ancestor (oid INTEGER PRIMARY KEY, ancestorObjectOid INTEGER, objectOid INTEGER, path TEXT)",
    "create table prop (oid INTEGER PRIMARY KEY, parentOid INTEGER, nameOid INTEGER, objectOid INTEGER, "
    "valueOid INTEGER)",
    "create table propName (oid INTEGER PRIMARY KEY, name TEXT UNIQUE)",
    "create table propValue (oid INTEGER PRIMARY KEY, value TEXT UNIQUE)",
    // objms has no index on sourceOid: its readers take a whole source at
    // once (unsharing, the sweep, empty containers), where one pass over the
    // table costs no more than an index on it; look-ups by object use the
    // uniqueness index.
    "create table objms (oid INTEGER PRIMARY KEY, objectOid INTEGER, sourceOid INTEGER, "
    "UNIQUE (objectOid, sourceOid))",
};

// The medialib's indexes, made with the tables and again whenever a library
// is opened (a library made before an index existed gets it then).
constexpr const char *kMedialibIndexes[] = {
    // The prop indexes hold the columns their readers narrow by, and the
    // object only where a reader walks many rows: a read that wants a row's
    // value or parent visits the table, where an object's rows lie together,
    // and a counter's update leaves the index on objects untouched. An
    // object's rows by name: reads, counters, replacing.
    "create index if not exists prop_object_name on prop (objectOid, nameOid)",
    // Rows of a few names over a range of objects, with their values and
    // parents: a rescan's checked properties of every object of a source,
    // read as one walk per name and range instead of a look-up per object
    // and name, and without visiting the table. Every row has nameOid > 0:
    // the condition lets only a reader that states it take this index, which
    // the planner otherwise chose for the title walk and for one object's
    // rows by name too. Unlike the others it holds the value, so a counter's
    // update rewrites its entry here.
    "create index if not exists prop_name_object on prop (nameOid, objectOid, valueOid, parentOid) where nameOid > 0",
    // The rows of a value under a name, with their object: look-ups by path
    // or url, empty containers, and the objects a search's criteria select
    // (thousands for a class), read without visiting the table.
    "create index if not exists prop_value_object on prop (valueOid, nameOid, objectOid)",
    // The title rows in value order, for a search's title order. dc:title is
    // the first name every library stores (the fixed objects' titles), so
    // its oid is 1; no other reader names that oid, so no other plan takes
    // this index.
    "create index if not exists prop_title on prop (valueOid, objectOid) where nameOid = 1",
    // Only attribute rows have a parent, and every reader of this index
    // names one (parentOid = x, parentOid in (...)), so the element rows,
    // four in five, stay out of it.
    "create index if not exists prop_parent on prop (parentOid) where parentOid is not null",
    "create index if not exists edge_parent_ordinal on edge (parentObjectOid, ordinal)",
    "create index if not exists edge_object on edge (objectOid)",
    "create index if not exists ancestor_object on ancestor (objectOid)",
    // The objects below a container without visiting the table: marking a
    // subtree, and the hits below the searched containers.
    "create index if not exists ancestor_below on ancestor (ancestorObjectOid, objectOid)",
    // Containers have no signature; readers look one up by its text.
    "create index if not exists object_signature on object (signature) where signature is not null",
    // Values in the order titles are sorted (SQLite's lower() and NOCASE
    // fold the same ASCII letters): a search walks it for its page, and a
    // criteria's "derivedfrom" (like 'prefix%') reads a range of it.
    "create index if not exists propValue_nocase on propValue (value COLLATE NOCASE)",
};

// The substring index: every value's trigrams (case folded), which a
// search's "contains" reads for the values that may hold its text before it
// tests them (MSDBQueryCriteria). It keeps no copy of the values (they are
// read from propValue), positions (the search asks for each trigram, not for
// a phrase) or sizes (nothing ranks). A new or changed value is not indexed
// at once: FTS5 writes a segment at every statement that adds to it, about 35
// us a value when a trigger adds each one, so the triggers note its oid in
// MSDB_UNINDEXED and each commit indexes the transaction's values in one
// statement (msdb_schema_fill_substring_index). Removing an indexed value
// needs its old text, so the triggers take it out at once. Writers need not
// know of either table; a search also tests the values still noted. The
// drops come first so that a library made before, with the triggers that
// indexed each value, gets these (and its index rebuilt) when opened.
constexpr const char *kSubstringIndex[] = {
    "drop trigger if exists propValue_text_insert",
    "drop trigger if exists propValue_text_delete",
    "drop trigger if exists propValue_text_update",
    "drop table if exists " MSDB_SUBSTRING_INDEX,
    "drop table if exists " MSDB_UNINDEXED,
    "create virtual table " MSDB_SUBSTRING_INDEX " using fts5(value, content='propValue', content_rowid='oid', "
    "tokenize='trigram', detail='none', columnsize=0)",
    "create table " MSDB_UNINDEXED " (oid INTEGER PRIMARY KEY)",
    "create trigger propValue_text_insert after insert on propValue begin insert or ignore into " MSDB_UNINDEXED
    " (oid) values (new.oid); end",
    "create trigger propValue_text_delete after delete on propValue begin insert into " MSDB_SUBSTRING_INDEX
    " (" MSDB_SUBSTRING_INDEX ", rowid, value) select 'delete', old.oid, old.value where not exists (select 1 from "
    MSDB_UNINDEXED " where oid = old.oid); delete from " MSDB_UNINDEXED " where oid = old.oid; end",
    "create trigger propValue_text_update after update on propValue begin insert into " MSDB_SUBSTRING_INDEX
    " (" MSDB_SUBSTRING_INDEX ", rowid, value) select 'delete', old.oid, old.value where not exists (select 1 from "
    MSDB_UNINDEXED " where oid = old.oid); delete from " MSDB_UNINDEXED " where oid = old.oid; insert or ignore into "
    MSDB_UNINDEXED " (oid) values (new.oid); end",
    "insert into " MSDB_SUBSTRING_INDEX " (" MSDB_SUBSTRING_INDEX ") values ('rebuild')",
};
constexpr const char *kAnyUnindexed = "select oid from " MSDB_UNINDEXED " limit 1";
constexpr const char *kFillSubstringIndex[] = {
    "insert into " MSDB_SUBSTRING_INDEX " (rowid, value) select oid, value from propValue where oid in (select oid "
    "from " MSDB_UNINDEXED ")",
    "delete from " MSDB_UNINDEXED,
};

// Title keys: the text of each value that is some object's dc:title (name
// oid 1, as for index prop_title), in title order, so that a search's title
// order walks titles only, not the sizes, urls and names that sort before
// them among all values (MSDBQueryTitleWalk). Kept by triggers, so no writer
// knows of it: a title row written or moved notes its value (a moved one by
// kShapeVersions' trigger, which counts it too: keys made anew drop the shape
// table, so that its part, which comes after, makes it again), a value
// changed or removed changes or removes its key. A value that is no longer a title keeps its
// key: the walk takes only the keys of the hits' titles.
constexpr const char *kTitleKeys[] = {
    "drop trigger if exists prop_title_key_insert",
    "drop trigger if exists prop_title_key_update",
    "drop trigger if exists propValue_title_key_update",
    "drop trigger if exists propValue_title_key_delete",
    "drop table if exists " MSDB_TITLE_KEYS,
    "drop table if exists " MSDB_SHAPE,
    "create table " MSDB_TITLE_KEYS " (oid INTEGER PRIMARY KEY, value TEXT)",
    "create index " MSDB_TITLE_KEYS "_nocase on " MSDB_TITLE_KEYS " (value COLLATE NOCASE)",
    "create trigger prop_title_key_insert after insert on prop when new.nameOid = 1 begin insert or ignore into "
    MSDB_TITLE_KEYS " (oid, value) select oid, value from propValue where oid = new.valueOid; end",
    "create trigger propValue_title_key_update after update on propValue begin update " MSDB_TITLE_KEYS
    " set oid = new.oid, value = new.value where oid = old.oid; end",
    "create trigger propValue_title_key_delete after delete on propValue begin delete from " MSDB_TITLE_KEYS
    " where oid = old.oid; end",
    "insert into " MSDB_TITLE_KEYS " (oid, value) select oid, value from propValue where oid in (select valueOid "
    "from prop where nameOid = 1)",
};

// Shape versions: one row of counters that move in every transaction that
// deletes or changes an ancestor row (routes) or a dc:title row (titles), by
// triggers, so that a reader in any process tells whether what it derived
// from either (a search's objects below a container, its title order) still
// holds, or holds with new rows added. New rows need no trigger: every
// writer lets SQLite choose their oid, one past the largest, so the largest
// oid tells a reader of them, and a trigger runs per row (a first scan writes
// about 60 ancestor and 30 prop rows an item). A removed last prop row counts
// as a title: a title written next takes its oid, which the largest would
// not tell (a removed ancestor row counts anyway). The counters start at a random
// value (a library made anew at the same path repeats no version), a quarter
// of the range, which leaves them room to count. The shape log's part
// (below) writes these triggers again with its own statements added; they
// stay here so that a library upgraded this far, and writers between the
// two parts, keep counting and keep the title keys.
constexpr const char *kShapeVersions[] = {
    "drop trigger if exists ancestor_shape_delete",
    "drop trigger if exists ancestor_shape_update",
    "drop trigger if exists prop_title_key_update",
    "drop trigger if exists prop_title_delete",
    "drop table if exists " MSDB_SHAPE,
    "drop table if exists " MSDB_SHAPE_LOG,
    "create table " MSDB_SHAPE " (oid INTEGER PRIMARY KEY, routes INTEGER, titles INTEGER)",
    "insert into " MSDB_SHAPE " (oid, routes, titles) values (1, random() / 4, random() / 4)",
    "create trigger ancestor_shape_delete after delete on ancestor begin update " MSDB_SHAPE
    " set routes = routes + 1; end",
    "create trigger ancestor_shape_update after update on ancestor begin update " MSDB_SHAPE
    " set routes = routes + 1; end",
    "create trigger prop_title_key_update after update of nameOid, objectOid, valueOid on prop when old.nameOid = 1 "
    "or new.nameOid = 1 begin insert or ignore into " MSDB_TITLE_KEYS " (oid, value) select oid, value from "
    "propValue where oid = new.valueOid and new.nameOid = 1; update " MSDB_SHAPE " set titles = titles + 1; end",
    "create trigger prop_title_delete after delete on prop when old.nameOid = 1 or old.oid > ifnull((select max(oid) "
    "from prop), 0) begin update " MSDB_SHAPE " set titles = titles + 1; end",
};

// Shape log: the objects whose ancestor rows (kind 0) or dc:title rows
// (kind 1) a transaction removed or changed, a row each, so that a reader
// that remembered objects below a container or first titles looks again at
// those objects only instead of walking everything. Written by the counters'
// triggers above, made anew here with a statement more (one trigger a row
// removed, not two: a trigger's start is most of its cost); the counters'
// part drops the log, so that this part, which comes after, makes them
// again. Rows of one object removed one after another are logged once. A
// removed row that was its table's last is logged as object -1: a row
// written next takes its oid, so the reader forgets that kind. The log keeps
// its last MSDB_SHAPE_LOG_ROWS rows (and up to 256 more: it is trimmed every
// 256th row, not at each); a reader whose place is gone forgets.
#define MSDB_LOG_INSERT "insert into " MSDB_SHAPE_LOG " (kind, objectOid) "
constexpr const char *kShapeLog[] = {
    "drop trigger if exists ancestor_shape_delete",
    "drop trigger if exists ancestor_shape_update",
    "drop trigger if exists prop_title_key_update",
    "drop trigger if exists prop_title_delete",
    "drop trigger if exists shape_log_trim",
    "drop table if exists " MSDB_SHAPE_LOG,
    "create table " MSDB_SHAPE_LOG " (oid INTEGER PRIMARY KEY, kind INTEGER, objectOid INTEGER)",
    "create trigger ancestor_shape_delete after delete on ancestor begin update " MSDB_SHAPE
    " set routes = routes + 1; " MSDB_LOG_INSERT "select 0, object from (select case when old.oid > "
    "ifnull((select max(oid) from ancestor), 0) then -1 else old.objectOid end as object) where not exists (select 1 "
    "from " MSDB_SHAPE_LOG " where oid = (select max(oid) from " MSDB_SHAPE_LOG ") and kind = 0 and objectOid = "
    "object); end",
    "create trigger ancestor_shape_update after update on ancestor begin update " MSDB_SHAPE
    " set routes = routes + 1; " MSDB_LOG_INSERT "select 0, old.objectOid union select 0, new.objectOid; end",
    "create trigger prop_title_key_update after update of nameOid, objectOid, valueOid on prop when old.nameOid = 1 "
    "or new.nameOid = 1 begin insert or ignore into " MSDB_TITLE_KEYS " (oid, value) select oid, value from "
    "propValue where oid = new.valueOid and new.nameOid = 1; update " MSDB_SHAPE " set titles = titles + 1; "
    MSDB_LOG_INSERT "select 1, old.objectOid union select 1, new.objectOid; end",
    "create trigger prop_title_delete after delete on prop when old.nameOid = 1 or old.oid > ifnull((select max(oid) "
    "from prop), 0) begin update " MSDB_SHAPE " set titles = titles + 1; " MSDB_LOG_INSERT "values (1, case when "
    "old.oid > ifnull((select max(oid) from prop), 0) then -1 else old.objectOid end); end",
    "create trigger shape_log_trim after insert on " MSDB_SHAPE_LOG " when new.oid % 256 = 0 begin delete from "
    MSDB_SHAPE_LOG " where oid <= new.oid - " MSDB_SHAPE_LOG_ROWS "; end",
};
#undef MSDB_LOG_INSERT

// Edge versions: as the shape versions, a counter that moves in every
// transaction that deletes or changes an edge row, so that a reader tells
// whether the places of a container's children it found (browse page starts)
// still hold, or hold with new edges added (the largest edge oid tells). A
// first scan only adds edges, so no trigger runs for it.
constexpr const char *kEdgeVersions[] = {
    "drop trigger if exists edge_shape_delete",
    "drop trigger if exists edge_shape_update",
    "drop table if exists " MSDB_EDGE_SHAPE,
    "create table " MSDB_EDGE_SHAPE " (oid INTEGER PRIMARY KEY, edges INTEGER)",
    "insert into " MSDB_EDGE_SHAPE " (oid, edges) values (1, random() / 4)",
    "create trigger edge_shape_delete after delete on edge begin update " MSDB_EDGE_SHAPE
    " set edges = edges + 1; end",
    "create trigger edge_shape_update after update on edge begin update " MSDB_EDGE_SHAPE
    " set edges = edges + 1; end",
};

// Indexes that those above replaced, dropped from libraries made before.
constexpr const char *kRetiredIndexes[] = {
    "drop index if exists prop_value",
    "drop index if exists ancestor_ancestor",
};

// The indexes that a pass into a library holding no items yet drops as it
// begins and makes again as it ends. None of the pass's statements reads
// them, and making one sorts its table once and writes its pages in order,
// where a pass that keeps it adds each row at its own place. ancestor_below
// stays: an edge to a container that already has children reads it, and
// without it each such edge reads the whole ancestor table (a first scan of
// a large collection took fourteen times as long). A library opened while
// one is missing (a pass killed or failed before its end) gets it back from
// msdb_schema_upgrade.
constexpr const char *kIndexesAfterFirstPass[] = {
    "drop index if exists prop_name_object", "drop index if exists prop_title",
    "drop index if exists prop_parent",      "drop index if exists object_signature",
    "drop index if exists propValue_nocase",
};

constexpr const char *kAdminSchema[] = {
    "create table mediaSource (oid INTEGER PRIMARY KEY, name TEXT, url TEXT, tags TEXT, type TEXT, "
    "is_public INTEGER, lookfor_audio INTEGER, lookfor_video INTEGER, lookfor_photo INTEGER, "
    "is_recursive INTEGER, transcode_when TEXT)",
    "create table tag (oid INTEGER PRIMARY KEY, sourceOid INTEGER, tag TEXT)",
    "create table useraccount (oid INTEGER PRIMARY KEY, username TEXT, password TEXT, domain TEXT, "
    "description TEXT, UNIQUE (domain, username))",
    "create table URIProps (oid INTEGER PRIMARY KEY, is_recursive INTEGER, propvalue TEXT, URI TEXT, "
    "propname TEXT, instanceid TEXT)",
    "create index tag_source on tag (sourceOid)",
    "create index tag_tag on tag (tag)",
    "create index uriprops_uri on URIProps (URI, propname)",
    "insert into mediaSource (oid, name, url, tags, type, is_public, lookfor_audio, lookfor_video, "
    "lookfor_photo, is_recursive, transcode_when) values (1, 'Zentoria', '', '', 'internal', 0, 1, 1, 1, 1, '')",
};

struct FixedObject {
  const char *oid;
  const char *parent;  // null for a root object
  const char *title;
  const char *child_count;
};

constexpr FixedObject kFixedObjects[] = {
    {"0", nullptr, "Zentoria", "3"},       {"1", "0", "Audio", "0"},          {"2", "0", "Photos", "0"},
    {"3", "0", "Video", "0"},              {"100", nullptr, "Users", "0"},    {"200", nullptr, "Zentoria Folders", "0"},
    {"300", nullptr, "Zentoria Custom", "0"}, {"400", nullptr, "Hidden", "0"},
};

constexpr const char *kFixedClass = "object.container";

apr_status_t run(const apr_dbd_driver_t *driver, apr_dbd_t *handle, const char *sql, const char **reason) {
  int rows = 0;
  int rv = apr_dbd_query(driver, handle, &rows, sql);
  if (rv != 0) *reason = apr_dbd_error(driver, handle, rv);
  return rv == 0 ? APR_SUCCESS : APR_EGENERAL;
}

// The statements that store one property of a fixed object.
const char *property_sql(apr_pool_t *pool, const char *oid, const char *name, const char *value) {
  return apr_psprintf(pool,
                      "insert or ignore into propName (oid, name) values (null, '%s');"
                      "insert or ignore into propValue (oid, value) values (null, '%s');"
                      "insert into prop (oid, parentOid, nameOid, objectOid, valueOid) select null, null, "
                      "(select oid from propName where name='%s'), %s, (select oid from propValue where value='%s');",
                      name, value, name, oid, value);
}

const char *fixed_object_sql(apr_pool_t *pool, const FixedObject &object, int ordinal) {
  const char *sql = apr_psprintf(pool,
                                 "insert into object (oid, signature) values (%s, null);"
                                 "insert into objms (oid, objectOid, sourceOid) values (null, %s, 0);",
                                 object.oid, object.oid);
  if (object.parent != nullptr) {
    sql = apr_psprintf(pool,
                       "%sinsert into edge (oid, parentObjectOid, objectOid, ordinal) values (null, %s, %s, '%010d');"
                       "insert into ancestor (oid, ancestorObjectOid, objectOid, path) values (null, %s, %s, '%s/');",
                       sql, object.parent, object.oid, ordinal, object.parent, object.oid, object.parent);
  }
  return apr_pstrcat(pool, sql, property_sql(pool, object.oid, "dc:title", object.title),
                     property_sql(pool, object.oid, "upnp:class", kFixedClass),
                     property_sql(pool, object.oid, "@childCount", object.child_count),
                     property_sql(pool, object.oid, "zentoria:isContainer", "1"), nullptr);
}

// The empty file, readable and writable by its owner only (the admin
// database holds account passwords; SQLite gives its journals the mode of the
// database file). Fails when the file exists.
apr_status_t create_private(apr_pool_t *pool, const char *path, const char **reason) {
  apr_file_t *file = nullptr;
  apr_status_t status = apr_file_open(&file, path, APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_EXCL,
                                      APR_FPROT_UREAD | APR_FPROT_UWRITE, pool);
  if (status != APR_SUCCESS) {
    char text[256];
    *reason = apr_pstrdup(pool, apr_strerror(status, text, sizeof text));
    return status;
  }
  return apr_file_close(file);
}

apr_status_t create_file(apr_pool_t *pool, const apr_dbd_driver_t *driver, const char *path,
                         std::initializer_list<std::span<const char *const>> parts, bool fixed_objects) {
  apr_dbd_t *handle = nullptr;
  const char *reason = "cannot open";
  apr_status_t status = create_private(pool, path, &reason);
  if (status == APR_SUCCESS) status = apr_dbd_open_ex(driver, pool, path, &handle, &reason);
  if (status == APR_SUCCESS) status = run(driver, handle, "BEGIN TRANSACTION", &reason);
  for (std::span<const char *const> statements : parts) {
    for (const char *sql : statements) {
      if (status == APR_SUCCESS) status = run(driver, handle, sql, &reason);
    }
  }
  int ordinal = 0;
  for (const FixedObject &object : kFixedObjects) {
    if (status != APR_SUCCESS || !fixed_objects) break;
    if (object.parent != nullptr) ++ordinal;
    status = run(driver, handle, fixed_object_sql(pool, object, ordinal), &reason);
  }
  // The fixed objects' values indexed as a commit indexes a writer's.
  for (const char *sql : kFillSubstringIndex) {
    if (status == APR_SUCCESS && fixed_objects) status = run(driver, handle, sql, &reason);
  }
  if (status == APR_SUCCESS) status = run(driver, handle, "COMMIT", &reason);
  if (status != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Could not create library database %s, reason: %s", path, reason));
  }
  if (handle != nullptr) apr_dbd_close(driver, handle);
  return status;
}

bool exists(apr_pool_t *pool, const char *path) {
  apr_finfo_t info;
  return apr_stat(&info, path, APR_FINFO_TYPE, pool) == APR_SUCCESS;
}

}  // namespace

int msdb_schema_create(apr_pool_t *pool, const char *medialib_path, const char *admin_path) {
  for (const char *path : {medialib_path, admin_path}) {
    if (exists(pool, path)) {
      LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Library database %s exists already", path));
      return APR_EEXIST;
    }
  }
  const apr_dbd_driver_t *driver = nullptr;
  msdb_sqlite_configure();
  apr_status_t status = apr_dbd_init(pool);
  if (status == APR_SUCCESS) status = apr_dbd_get_driver(pool, "sqlite3", &driver);
  if (status == APR_SUCCESS) {
    status = create_file(pool, driver, medialib_path,
                         {kMedialibSchema, kMedialibIndexes, kSubstringIndex, kTitleKeys, kShapeVersions, kShapeLog,
                          kEdgeVersions},
                         true);
  }
  if (status == APR_SUCCESS) {
    status = create_file(pool, driver, admin_path, {kAdminSchema}, false);
  }
  if (status != APR_SUCCESS) {
    if (driver == nullptr) {
      LOG4C(kModule, LOG4C_ERROR,
            log4c_sprintf("Could not create library database %s, reason: %s", medialib_path, "no sqlite3 driver"));
    }
    apr_file_remove(medialib_path, pool);
    apr_file_remove(admin_path, pool);
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

namespace {

// A part of the schema that a library made before it gets when opened: its
// statements make it whole (dropping what an earlier form left), and the
// table made last tells whether a library has it.
struct SchemaPart {
  const char *last_table;
  std::span<const char *const> statements;
};

constexpr SchemaPart kUpgradedParts[] = {
    {MSDB_UNINDEXED, kSubstringIndex},
    {MSDB_TITLE_KEYS, kTitleKeys},
    {MSDB_SHAPE, kShapeVersions},
    {MSDB_SHAPE_LOG, kShapeLog},
    {MSDB_EDGE_SHAPE, kEdgeVersions},
};

// Runs statements in order until one fails (its reason in *reason).
int run_all(DbLink link, std::span<const char *const> statements, const char **reason) {
  for (const char *sql : statements) {
    if (db_exec_reason(link, sql, nullptr, reason) != APR_SUCCESS) return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

// Runs work under the write lock, committed when it succeeds and rolled
// back when it fails.
int in_write_transaction(DbLink link, const char **reason, const std::function<int()> &work) {
  if (db_exec_reason(link, "BEGIN IMMEDIATE", nullptr, reason) != APR_SUCCESS) return APR_EGENERAL;
  int status = work();
  if (status == APR_SUCCESS) status = db_exec_reason(link, "COMMIT", nullptr, reason);
  if (status != APR_SUCCESS) db_exec(link, "ROLLBACK", nullptr);
  return status;
}

// Whether sql gives a row, in *found.
int any_row(DbLink link, const char *sql, bool *found) {
  *found = false;
  return db_stream(link, sql, [found](sqlite3_stmt *) {
    *found = true;
    return false;
  });
}

// Builds a part under the write lock: of connections opening at once, the
// first builds it, the others find it made.
int add_part(DbLink link, const SchemaPart &part, const char **reason) {
  bool has = false;
  *reason = "cannot read the schema";
  if (msdb_schema_has_table(link, part.last_table, &has) != APR_SUCCESS) return APR_EGENERAL;
  if (has) return APR_SUCCESS;
  return in_write_transaction(link, reason, [&] {
    const int status = msdb_schema_has_table(link, part.last_table, &has);
    return status != APR_SUCCESS || has ? status : run_all(link, part.statements, reason);
  });
}

// The name of what a "create index if not exists NAME ..." or "drop index if
// exists NAME" statement makes or drops.
std::string object_named(const char *sql) {
  const char *name = std::strstr(sql, "exists ") + std::strlen("exists ");
  return std::string(name, std::strcspn(name, " "));
}

// Whether the library has every part and index and none that was retired:
// one read of the schema instead of a statement (and a read transaction)
// for each, on every connection that opens.
bool schema_current(DbLink link) {
  std::set<std::string> names;
  if (db_stream(link, "select name from sqlite_master", [&names](sqlite3_stmt *row) {
        names.emplace(reinterpret_cast<const char *>(sqlite3_column_text(row, 0)));
        return true;
      }) != APR_SUCCESS) {
    return false;
  }
  for (const SchemaPart &part : kUpgradedParts) {
    if (!names.contains(part.last_table)) return false;
  }
  for (const char *sql : kMedialibIndexes) {
    if (!names.contains(object_named(sql))) return false;
  }
  for (const char *sql : kRetiredIndexes) {
    if (names.contains(object_named(sql))) return false;
  }
  return true;
}

}  // namespace

int msdb_schema_has_table(DbLink link, const char *name, bool *has) {
  *has = false;
  const std::string sql = std::string("select count(*) from sqlite_master where type='table' and name='") + name + "'";
  return db_stream(link, sql.c_str(), [has](sqlite3_stmt *row) {
    *has = sqlite3_column_int64(row, 0) != 0;
    return false;
  });
}

int msdb_schema_fill_substring_index(DbLink link) {
  // Without notes nothing is written: emptying the table would write its
  // page even so, and a commit that changes nothing must leave the file (and
  // the update id clients see) as it was.
  bool noted = false;
  if (any_row(link, kAnyUnindexed, &noted) != APR_SUCCESS) return APR_EGENERAL;
  for (const char *sql : kFillSubstringIndex) {
    if (noted && db_exec(link, sql, nullptr) != APR_SUCCESS) return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

int msdb_schema_defer_indexes(DbLink link, bool *deferred) {
  *deferred = false;
  bool items = false;
  if (any_row(link, "select 1 from objms where sourceOid <> 0 limit 1", &items) != APR_SUCCESS) return APR_EGENERAL;
  if (items) return APR_SUCCESS;
  const char *reason = nullptr;
  if (in_write_transaction(link, &reason, [&] { return run_all(link, kIndexesAfterFirstPass, &reason); }) ==
      APR_SUCCESS) {
    *deferred = true;
    return APR_SUCCESS;
  }
  LOG4C(kModule, LOG4C_WARN, log4c_sprintf("Could not leave the library's indexes to the end of the pass, reason: %s",
                                           reason));
  return APR_EGENERAL;
}

int msdb_schema_upgrade(DbLink link) {
  if (schema_current(link)) return APR_SUCCESS;
  // Making an index sorts its table, and with the connection's temp store in
  // memory a sort held all of it: the five indexes a first scan of 26,000
  // items makes at its end took its peak from 40 to 77 MiB. In a file a sort
  // keeps to the page cache's size, and takes less time. The setting changes
  // only outside a transaction and drops the connection's temporary tables:
  // there are none when a connection opens or a pass has ended.
  db_exec(link, "PRAGMA temp_store = FILE", nullptr);
  const char *reason = nullptr;
  int status = APR_SUCCESS;
  for (const SchemaPart &part : kUpgradedParts) {
    if (status == APR_SUCCESS) status = add_part(link, part, &reason);
  }
  if (status == APR_SUCCESS) status = run_all(link, kMedialibIndexes, &reason);
  if (status == APR_SUCCESS) status = run_all(link, kRetiredIndexes, &reason);
  db_exec(link, "PRAGMA temp_store = MEMORY", nullptr);
  if (status == APR_SUCCESS) return APR_SUCCESS;
  LOG4C(kModule, LOG4C_WARN, log4c_sprintf("Could not bring the library's indexes up to date, reason: %s", reason));
  return APR_EGENERAL;
}
