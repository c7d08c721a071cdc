// Browse (children of containers, paged by child, not by property row) and
// the metadata of one object. A page deep in one container starts from a
// child whose place the connection remembers (MSDBQueryMemory).
#include <apr_strings.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "CommonNumbers.h"
#include "CommonText.h"
#include "CommonUserMessage.h"
#include "MSDBConnection.h"
#include "MSDBIdPath.h"
#include "MSDBProps.h"
#include "MSDBQuery.h"
#include "MSDBQueryMemory.h"
#include "MSDBQueryRows.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "MSDB";

constexpr const char *kRootChildren =
    "select -1 as edgeParentOid, oid as edgeObjectOid, oid as ordinal from object where not exists "
    "(select oid from edge where edge.objectOid=edgeObjectOid)";
constexpr const char *kContainerChildren =
    "select edge.parentObjectOid as edgeParentOid, edge.objectOid as edgeObjectOid, ordinal as ordinal "
    "from edge where edge.parentObjectOid in (%s)";
constexpr const char *kRootCount =
    "select count(*) from object where not exists (select oid from edge where edge.objectOid=object.oid)";
constexpr const char *kBrowse =
    "select edgeParentOid||'/'||edgeObjectOid, ifnull(prop.parentOid, prop.oid) as propOrder, "
    "propName.name, propValue.value from (%s order by ordinal %s limit %ld offset %u) inner join prop on "
    "prop.objectOid=edgeObjectOid inner join propName on prop.nameOid=propName.oid inner join propValue on "
    "prop.valueOid=propValue.oid %s order by ordinal %s, edgeParentOid, prop.objectOid, propOrder;";
constexpr const char *kMetadata =
    "select propObjectOid, ifnull(propParentOid, propOid) as propOrder, propName.name, propValue.value "
    "from (select prop.nameOid as propNameOid, prop.valueOid as propValueOid, prop.objectOid as "
    "propObjectOid, prop.parentOid as propParentOid, prop.oid as propOid from prop where "
    "prop.objectOid=%s) inner join propName on propNameOid=propName.oid inner join propValue on "
    "propValueOid=propValue.oid order by propOrder;";
// kMetadata for several objects and some property names (their oids, read
// once by kNameOids: a join with propName cost a look-up per row),
// unordered: the rows come name by name from the name's index, and sorting
// them by object and order in SQLite's sorter cost more than the sort of
// what was read (NamedRowsGather).
constexpr const char *kNamedProps =
    "select prop.objectOid, ifnull(prop.parentOid, prop.oid), prop.nameOid, propValue.value from prop inner join "
    "propValue on prop.valueOid=propValue.oid where %s and prop.nameOid in (%s);";
constexpr const char *kNameOids = "select oid, name from propName where name in (%s);";
// The objects of a chunk of kNamedProps, one by one.
constexpr const char *kNamedPropsListed = "prop.objectOid in (%s)";
// The objects of a chunk of kNamedProps that lie close together: all between
// its first and last; rows of objects not asked for are dropped inside
// SQLite (db_marked), before their values are joined.
constexpr const char *kNamedPropsRange =
    "prop.objectOid between %" APR_INT64_T_FMT " and %" APR_INT64_T_FMT " and prop.nameOid > 0 and "
    "db_marked(prop.objectOid)";
// Whether a route exists: its object when it has one segment, else each
// edge along it, up to kEdgesPerCheck edges a statement (one read of the
// library instead of one per segment; a statement of more would exceed
// SQLite's expression depth for a made-up route of a thousand segments).
constexpr const char *kObjectExists = "select exists (select 1 from object where oid=%s)";
constexpr const char *kEdgeExists = "exists (select 1 from edge where parentObjectOid=%s and objectOid=%s)";
constexpr int kEdgesPerCheck = 64;
// Objects per statement of msdb_fetch_named_rows.
constexpr int kNamedPropsChunk = 512;
// A chunk whose objects span at most this many oids per object is read by
// range: a walk of each name's rows over the range (prop_name_object) costs
// less than a look-up per object and name while few rows of other objects
// lie between; sparser chunks keep the look-ups.
constexpr apr_int64_t kNamedPropsSpread = 8;
constexpr const char *kMinimalPrefix = "x_minimal:";
// Positions apart of the page starts a browse of one container remembers
// (MSDBQueryMemory): once the start before a page is known, a page deep in
// a large container skips fewer than this many children inside SQLite,
// instead of every child before it.
constexpr unsigned kPageStride = 128;
// The child at a position; the container's order is its ordinals', then its
// edges' (the order index edge_parent_ordinal walks). Counted from the first
// child, the walk has no end to test (later containers' entries follow in
// the index, so the row found is checked to be the container's): a third of
// the cost per child of the walk from a start, which tests the end and the
// start's ties at every child.
constexpr const char *kChildAt =
    "select parentObjectOid, ordinal, oid from edge where parentObjectOid >= %s order by parentObjectOid, ordinal, "
    "oid limit 1 offset %u";
constexpr const char *kChildAfter =
    "select parentObjectOid, ordinal, oid from edge where parentObjectOid=%s%s order by ordinal, oid limit 1 offset "
    "%u";
// A walk from a kept start is taken when it is shorter than the walk from
// the first child by this factor (the ratio of their costs per child).
constexpr unsigned kStartWalkCost = 3;
// The children from a start on: its ordinal's range in the index, less the
// edges of that ordinal before it.
constexpr const char *kFromStart = " and ordinal >= '%s' and (ordinal > '%s' or edge.oid >= %" APR_INT64_T_FMT ")";

bool is_root_mode(const char *const *ids, int id_count) {
  return id_count == 1 && std::strcmp(ids[0], "-1") == 0;
}

// Sum of the child counts of the distinct containers.
int children_total(apr_pool_t *pool, MediaLibraryDB *db, const char *const *oids, int count, long *total) {
  *total = 0;
  for (int i = 0; i < count; i++) {
    bool seen = false;
    for (int j = 0; j < i && !seen; j++) seen = std::strcmp(oids[i], oids[j]) == 0;
    if (seen) continue;
    const char *text = nullptr;
    if (msdb_get_prop(pool, db, oids[i], PROP_CHILD_COUNT, nullptr, 1, &text, nullptr) != APR_SUCCESS) {
      return log4c_fail(kModule, "Could not get value of child count property");
    }
    int children = 0;
    if (text != nullptr && !parse_int(text, &children)) return log4c_fail(kModule, INTERNAL_ERROR_TEXT);
    *total += children;
  }
  return APR_SUCCESS;
}

// The condition that keeps the children from start on.
const char *from_start(apr_pool_t *pool, const PageStart &start) {
  const char *ordinal = db_quote(pool, start.ordinal.c_str());
  return apr_psprintf(pool, kFromStart, ordinal, ordinal, static_cast<apr_int64_t>(start.edge));
}

// The start of the page from offset of one container: the remembered one
// at offset's stride, or one found by a walk from the nearest start before
// it or from the first child, whichever costs less (and remembered);
// position 0 when the page starts within the first stride, or when the
// container ends before the stride. An ordinal that is not text without NUL
// bytes is not remembered: the page then walks from the start before it.
int page_start(apr_pool_t *pool, DbLink link, QueryMemory *memory, const char *parent, unsigned offset,
               PageStart *start) {
  *start = {};
  apr_int64_t oid = 0;
  const unsigned stride = offset / kPageStride * kPageStride;
  if (stride == 0 || !parse_int64(parent, &oid)) return APR_SUCCESS;
  PageStart known;
  if (query_memory_page_start(memory, oid, stride, &known)) *start = known;
  if (start->position == stride) return APR_SUCCESS;
  const unsigned distance = stride - start->position;
  const char *sql = start->position != 0 && distance * kStartWalkCost < stride
                        ? apr_psprintf(pool, kChildAfter, parent, from_start(pool, *start), distance)
                        : apr_psprintf(pool, kChildAt, parent, stride);
  PageStart found;
  const int status = db_stream(link, sql, [&](sqlite3_stmt *row) {
    if (sqlite3_column_int64(row, 0) != oid || sqlite3_column_type(row, 1) != SQLITE_TEXT) return false;
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(row, 1));
    const int bytes = sqlite3_column_bytes(row, 1);
    if (std::strlen(text) != static_cast<size_t>(bytes)) return false;
    found = {stride, std::string(text, static_cast<size_t>(bytes)), sqlite3_column_int64(row, 2)};
    return false;
  });
  if (status != APR_SUCCESS || found.position == 0) return status;
  *start = found;
  query_memory_keep_page_start(memory, oid, std::move(found));
  return APR_SUCCESS;
}

int root_total(apr_pool_t *pool, DbLink link, long *total) {
  const char *text = nullptr;
  apr_int64_t count = 0;
  if (db_select_value(pool, link, kRootCount, &text, nullptr) != APR_SUCCESS || !parse_int64(text, &count)) {
    return log4c_fail(kModule, "Could not get the total matches for the root count query");
  }
  *total = static_cast<long>(count);
  return APR_SUCCESS;
}

// "where prop.nameOid in (...)" for the names of a minimal filter.
const char *minimal_clause(apr_pool_t *pool, const char *filter) {
  char *names = apr_pstrdup(pool, filter + std::strlen(kMinimalPrefix));
  const char *quoted = nullptr;
  char *state = nullptr;
  for (char *name = apr_strtok(names, ",", &state); name != nullptr; name = apr_strtok(nullptr, ",", &state)) {
    const char *item = apr_psprintf(pool, "'%s'", db_quote(pool, str_trim(name)));
    quoted = quoted == nullptr ? item : apr_pstrcat(pool, quoted, ",", item, nullptr);
  }
  if (quoted == nullptr) quoted = "''";
  return apr_psprintf(pool, "where prop.nameOid in (select oid from propname where name in (%s))", quoted);
}

// Whether the statement sql answers a true value.
int answers_true(apr_pool_t *pool, DbLink link, const char *sql, bool *yes) {
  const char *answer = nullptr;
  if (db_select_value(pool, link, sql, &answer, nullptr) != APR_SUCCESS) return APR_EGENERAL;
  *yes = answer != nullptr && std::strcmp(answer, "0") != 0;
  return APR_SUCCESS;
}

// Whether the route id, split at state after its first segment parent,
// exists: *exists false as soon as a statement finds an edge missing.
int route_exists(apr_pool_t *pool, DbLink link, const char *parent, char **state, bool *exists) {
  const char *child = apr_strtok(nullptr, "/", state);
  if (child == nullptr) return answers_true(pool, link, apr_psprintf(pool, kObjectExists, parent), exists);
  *exists = true;
  while (*exists && child != nullptr) {
    const char *sql = "select ";
    for (int edges = 0; child != nullptr && edges < kEdgesPerCheck; ++edges) {
      sql = apr_pstrcat(pool, sql, edges == 0 ? "" : " and ", apr_psprintf(pool, kEdgeExists, parent, child), nullptr);
      parent = child;
      child = apr_strtok(nullptr, "/", state);
    }
    if (answers_true(pool, link, sql, exists) != APR_SUCCESS) return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

}  // namespace

int db_query_oids(apr_pool_t *pool, const char *const *ids, int id_count, const char ***oids,
                  const char **joined) {
  if (ids == nullptr || id_count < 1 || id_count > MSDB_MAX_REQUEST_IDS) return log4c_fail(kModule, INTERNAL_ERROR_TEXT);
  auto **out = static_cast<const char **>(apr_palloc(pool, sizeof(char *) * id_count));
  *joined = "";
  for (int i = 0; i < id_count; i++) {
    if (!msdb_id_path_valid(ids[i])) return APR_EGENERAL;
    msdb_id_split(pool, ids[i], nullptr, &out[i]);
    *joined = i == 0 ? out[i] : apr_pstrcat(pool, *joined, ",", out[i], nullptr);
  }
  *oids = out;
  return APR_SUCCESS;
}

int db_query_routes_exist(apr_pool_t *pool, DbLink link, const char *const *ids, int id_count) {
  Pool scratch(pool, kModule);
  for (int i = 0; i < id_count; i++) {
    if (std::strcmp(ids[i], "-1") == 0) continue;
    char *segments = apr_pstrdup(scratch, ids[i]);
    char *state = nullptr;
    const char *parent = apr_strtok(segments, "/", &state);
    bool exists = false;
    if (route_exists(scratch, link, parent, &state, &exists) != APR_SUCCESS) return APR_EGENERAL;
    if (!exists) return log4c_fail(kModule, log4c_sprintf("No object has the id \"%s\"", ids[i]));
  }
  return APR_SUCCESS;
}

int db_query_rows(apr_pool_t *pool, DbLink link, const char *sql, DbCursor *cursor) {
  const int rv = db_open_select(pool, link, sql, cursor);
  if (rv == 0) return APR_SUCCESS;
  LOG4C(kModule, LOG4C_DEBUG, db_error(link, rv));
  return log4c_fail(kModule, "Could not execute SQL statement");
}

int db_query_children(apr_pool_t *pool, MediaLibraryDB *db, const char *const *ids, int id_count,
                      const char *filter, unsigned int offset, unsigned int count, DbChildrenOrder order,
                      void *order_value, DbObjectCallback callback, void *value, SerializeFormat format,
                      const DbSerializeOptions *options, int *returned, long *total, const char **document) {
  *returned = 0;
  *document = nullptr;
  Pool scratch(pool, kModule);
  const char **oids = nullptr;
  const char *joined = nullptr;
  if (db_query_oids(scratch, ids, id_count, &oids, &joined) != APR_SUCCESS) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || msdb_counters_write(conn) != APR_SUCCESS) return APR_EGENERAL;
  if (db_query_routes_exist(scratch, conn->medialib, ids, id_count) != APR_SUCCESS) return APR_EGENERAL;
  const bool root = is_root_mode(ids, id_count);
  long matches = 0;
  if (total != nullptr || count == 0) {
    int status = root ? root_total(scratch, conn->medialib, &matches)
                      : children_total(scratch, db, oids, id_count, &matches);
    if (status != APR_SUCCESS) return status;
    if (total != nullptr) *total = matches;
  }
  DbSerializeOptions local{};
  if (options != nullptr) local = *options;
  const bool minimal = filter != nullptr && std::strncmp(filter, kMinimalPrefix, std::strlen(kMinimalPrefix)) == 0;
  local.minimal = minimal;
  DbCursor rows{conn->medialib, nullptr};
  const long limit = count == 0 ? matches : static_cast<long>(count);
  if (limit > 0) {
    const char *children = root    ? kRootChildren
                           : order ? order(scratch, joined, order_value)
                                   : apr_psprintf(scratch, kContainerChildren, joined);
    PageStart start;
    if (!root && order == nullptr && id_count == 1 && offset >= kPageStride &&
        (query_memory_sync(conn->queries, conn->medialib) != APR_SUCCESS ||
         page_start(scratch, conn->medialib, conn->queries, oids[0], offset, &start) != APR_SUCCESS)) {
      return APR_EGENERAL;
    }
    if (start.position != 0) children = apr_pstrcat(scratch, children, from_start(scratch, start), nullptr);
    const char *sql = apr_psprintf(scratch, kBrowse, children, start.position != 0 ? ", edge.oid" : "", limit,
                                   offset - start.position, minimal ? minimal_clause(scratch, filter) : "", "");
    if (db_query_rows(scratch, conn->medialib, sql, &rows) != APR_SUCCESS) return APR_EGENERAL;
  }
  *document = serialize_db_result(&rows, pool, callback, value, filter, ids, id_count, format, &local, returned);
  return APR_SUCCESS;
}

int cds_metadata_fetch_children2(apr_pool_t *pool, MediaLibraryDB *db, const char *const *ids,
                                 int id_count, const char *filter, unsigned int offset,
                                 unsigned int count, DbObjectCallback callback, void *value,
                                 SerializeFormat format, const DbSerializeOptions *options,
                                 int *returned, long *total, const char **document) {
  return db_query_children(pool, db, ids, id_count, filter, offset, count, nullptr, nullptr, callback, value,
                           format, options, returned, total, document);
}

int msdb_fetch_metadata(apr_pool_t *pool, MediaLibraryDB *db, const char *id_path,
                        const char *filter, DbObjectCallback callback, void *value,
                        SerializeFormat format, const DbSerializeOptions *options,
                        const char **document) {
  *document = nullptr;
  Pool scratch(pool, kModule);
  const char **oids = nullptr;
  const char *joined = nullptr;
  if (db_query_oids(scratch, &id_path, 1, &oids, &joined) != APR_SUCCESS) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || msdb_counters_write(conn) != APR_SUCCESS) return APR_EGENERAL;
  if (db_query_routes_exist(scratch, conn->medialib, &id_path, 1) != APR_SUCCESS) return APR_EGENERAL;
  DbCursor rows;
  if (db_query_rows(scratch, conn->medialib, apr_psprintf(scratch, kMetadata, oids[0]), &rows) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  int objects = 0;
  *document = serialize_db_result(&rows, pool, callback, value, filter, &id_path, 1, format, options, &objects);
  return APR_SUCCESS;
}

int msdb_fetch_prop_list(apr_pool_t *pool, MediaLibraryDB *db, const char *id_path, PropList **list) {
  *list = nullptr;
  const char **oids = nullptr;
  const char *joined = nullptr;
  if (db_query_oids(pool, &id_path, 1, &oids, &joined) != APR_SUCCESS) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || msdb_counters_write(conn) != APR_SUCCESS) return APR_EGENERAL;
  DbRowReader reader{};
  if (db_query_rows(pool, conn->medialib, apr_psprintf(pool, kMetadata, oids[0]), &reader.cursor) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  db_rows_start(pool, &reader);
  const char *id_text = nullptr;
  if (!db_rows_next_object(pool, &reader, 1, list, &id_text)) *list = prop_list_create(pool);
  db_add_synthetic_props(pool, *list, id_path);
  return APR_SUCCESS;
}

namespace {

// The oids in numeric order, so that each chunk of them spans as few
// objects as it can. Returns 0, or 20014 for an oid that is not one.
int sorted_oids(const char *const *oids, int count, std::vector<std::pair<apr_int64_t, const char *>> *order) {
  order->resize(count);
  for (int i = 0; i < count; ++i) {
    if (!db_oid_valid(oids[i]) || !parse_int64(oids[i], &(*order)[i].first)) return APR_EGENERAL;
    (*order)[i].second = oids[i];
  }
  std::sort(order->begin(), order->end());
  return APR_SUCCESS;
}

// The statement of kNamedProps for the chunk of sorted oids from first: by
// range when they lie close together below the oids that marks can hold,
// else listed.
const char *named_chunk_sql(apr_pool_t *pool, const std::pair<apr_int64_t, const char *> *first, int chunk,
                            const char *name_oids) {
  const char *where = nullptr;
  if (first[chunk - 1].first - first[0].first < kNamedPropsSpread * chunk && first[chunk - 1].first < DB_MOST_OID_BITS) {
    where = apr_psprintf(pool, kNamedPropsRange, first[0].first, first[chunk - 1].first);
  } else {
    std::vector<const char *> listed(chunk);
    for (int i = 0; i < chunk; ++i) listed[i] = first[i].second;
    where = apr_psprintf(pool, kNamedPropsListed, str_join(pool, listed.data(), chunk));
  }
  return apr_psprintf(pool, kNamedProps, where, name_oids);
}

// The names asked for by their oids: oid, and the name as the caller gave it.
using NameOids = std::vector<std::pair<sqlite3_int64, const char *>>;

// Gathers stepped rows of kNamedProps (object, order, name oid, value) and,
// once a statement's are read, puts them object by object in order into
// found; values in pool, names pointing into the caller's.
class NamedRowsGather {
 public:
  NamedRowsGather(apr_pool_t *pool, const NameOids &names, apr_hash_t *found)
      : pool_(pool), names_(names), found_(found) {}

  void add(sqlite3_stmt *row) {
    const sqlite3_int64 name_oid = sqlite3_column_int64(row, 2);
    for (const auto &[oid, name] : names_) {
      if (oid != name_oid) continue;
      read_.push_back(
          {sqlite3_column_int64(row, 0), sqlite3_column_int64(row, 1), name, db_unescape(pool_, text(row, 3))});
      return;
    }
  }

  // Rows of one order keep the order they were read in, as they did in
  // SQLite's sorter.
  void flush() {
    std::stable_sort(read_.begin(), read_.end(), [](const Read &a, const Read &b) {
      return a.object != b.object ? a.object < b.object : a.order < b.order;
    });
    for (std::size_t first = 0, end = 0; first < read_.size(); first = end) {
      end = first + 1;
      while (end < read_.size() && read_[end].object == read_[first].object) ++end;
      put(first, end);
    }
    read_.clear();
  }

 private:
  struct Read {
    sqlite3_int64 object;
    sqlite3_int64 order;
    const char *name;
    const char *value;
  };

  static const char *text(sqlite3_stmt *row, int at) { return reinterpret_cast<const char *>(sqlite3_column_text(row, at)); }

  // The sorted rows [first, end), one object's, into found.
  void put(std::size_t first, std::size_t end) {
    rows_.clear();
    for (std::size_t i = first; i < end; ++i) {
      rows_.push_back({read_[i].name, read_[i].value, i == first || read_[i].order != read_[i - 1].order});
    }
    const PropRows object{static_cast<const PropRow *>(apr_pmemdup(pool_, rows_.data(), rows_.size() * sizeof(PropRow))),
                          static_cast<int>(rows_.size())};
    const char *id = str_from_int64(pool_, read_[first].object);
    apr_hash_set(found_, id, APR_HASH_KEY_STRING, apr_pmemdup(pool_, &object, sizeof object));
  }

  apr_pool_t *pool_;
  const NameOids &names_;
  apr_hash_t *found_;
  std::vector<Read> read_;
  std::vector<PropRow> rows_;
};

}  // namespace

int msdb_fetch_named_rows(apr_pool_t *pool, MediaLibraryDB *db, const char *const *oids, int count,
                          const char *const *names, int name_count, apr_hash_t **found) {
  *found = apr_hash_make(pool);
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || msdb_counters_write_named(conn, names, name_count) != APR_SUCCESS) return APR_EGENERAL;
  const char *quoted = "";
  for (int i = 0; i < name_count; ++i) {
    quoted = apr_psprintf(pool, "%s%s'%s'", quoted, i > 0 ? "," : "", db_quote(pool, names[i]));
  }
  NameOids name_oids;
  std::vector<const char *> oid_texts;
  const int named = db_stream(conn->medialib, apr_psprintf(pool, kNameOids, quoted), [&](sqlite3_stmt *row) {
    const char *text = reinterpret_cast<const char *>(sqlite3_column_text(row, 1));
    const sqlite3_int64 oid = sqlite3_column_int64(row, 0);
    const auto *name = std::find_if(names, names + name_count, [&](const char *n) { return std::strcmp(n, text) == 0; });
    if (name != names + name_count) name_oids.emplace_back(oid, *name);
    oid_texts.push_back(str_from_int64(pool, oid));
    return true;
  });
  if (named != APR_SUCCESS) return APR_EGENERAL;
  const char *joined = str_join(pool, oid_texts.data(), static_cast<int>(oid_texts.size()));
  const char *listed = joined != nullptr ? joined : "";
  std::vector<std::pair<apr_int64_t, const char *>> order;
  if (sorted_oids(oids, count, &order) != APR_SUCCESS) return APR_EGENERAL;
  std::vector<bool> asked;
  for (const auto &[oid, text] : order) {
    if (oid >= DB_MOST_OID_BITS) break;
    asked.resize(oid + 1);
    asked[oid] = true;
  }
  // Stepped, not selected: a selection copies every row of a chunk into a
  // pool before the first is read.
  NamedRowsGather gather(pool, name_oids, *found);
  return db_with_marks(conn->medialib, asked, [&] {
    for (int first = 0; first < count; first += kNamedPropsChunk) {
      const int chunk = count - first < kNamedPropsChunk ? count - first : kNamedPropsChunk;
      Pool scratch(pool, kModule);
      const int status = db_stream(conn->medialib, named_chunk_sql(scratch, order.data() + first, chunk, listed),
                                   [&](sqlite3_stmt *row) {
                                     gather.add(row);
                                     return true;
                                   });
      if (status != APR_SUCCESS) return APR_EGENERAL;
      gather.flush();
    }
    return APR_SUCCESS;
  });
}
