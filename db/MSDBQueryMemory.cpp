// The library's version as one connection sees it is a pair: SQLite's data
// version, which moves when another connection commits, and the rows this
// connection changed (its total changes), which covers its own writes,
// committed or not. Once it moved, the library's shape counters (MSDB_SHAPE,
// moved by triggers in the writing transaction, whichever process wrote) and
// the largest ancestor and prop oids (which every new row moves) tell
// whether the ancestor rows and the title rows are still those the memory
// was filled from, or only more, or changed only at the objects the shape
// log names; a library without the counters forgets everything, one without
// the log what changed. Page starts follow the edge counter
// (MSDB_EDGE_SHAPE) and the largest edge oid the same way: a new edge moves
// the kept starts after it one place on.
#include "MSDBQueryMemory.h"

#include <apr_strings.h>

#include <algorithm>
#include <compare>
#include <cstdio>
#include <map>
#include <utility>

#include "MSDBSchema.h"
#include "log4c_pool.h"

namespace {

// Container sets whose objects below are kept at once, and page starts:
// beyond them memory starts again empty.
constexpr size_t kMostBelowSets = 4;
constexpr size_t kMostPageStarts = 4096;
// New edges read to move kept page starts at most: past them starts are
// found again, which costs a walk of about as many index entries.
constexpr apr_int64_t kMostNewEdges = 16384;

using Version = std::pair<apr_int64_t, apr_int64_t>;

// The shape counters and the largest ancestor oid, or known false when the
// library has no counters (or they could not be read).
struct Shape {
  bool known = false;
  apr_int64_t routes = 0;
  apr_int64_t last_route = 0;
  apr_int64_t titles = 0;
  apr_int64_t last_prop = 0;
  bool logged = false;  // the library has the shape log
  apr_int64_t first_log = 0;
  apr_int64_t last_log = 0;
};

// The counters and the largest oids; with the log, its first and last oids too.
#define MSDB_SHAPE_COLUMNS \
  "select routes, ifnull((select max(oid) from ancestor), 0), titles, ifnull((select max(oid) from prop), 0)"
constexpr const char *kShape = MSDB_SHAPE_COLUMNS " from " MSDB_SHAPE " where oid = 1";
constexpr const char *kShapeAndLog =
    MSDB_SHAPE_COLUMNS ", ifnull((select min(oid) from " MSDB_SHAPE_LOG "), 0), ifnull((select max(oid) from "
    MSDB_SHAPE_LOG "), 0) from " MSDB_SHAPE " where oid = 1";
#undef MSDB_SHAPE_COLUMNS
constexpr const char *kLogged =
    "select objectOid from " MSDB_SHAPE_LOG " where oid > %" APR_INT64_T_FMT " and oid <= %" APR_INT64_T_FMT
    " and kind = %d";

// The edge counter and the largest edge oid, or known false as for Shape.
struct EdgeShape {
  bool known = false;
  apr_int64_t edges = 0;
  apr_int64_t last_edge = 0;
};

constexpr const char *kEdgeShape =
    "select edges, ifnull((select max(oid) from edge), 0) from " MSDB_EDGE_SHAPE " where oid = 1";
constexpr const char *kNewEdges = "select parentObjectOid, ordinal, oid from edge where oid > %" APR_INT64_T_FMT;

using PageStarts = std::map<std::pair<sqlite3_int64, unsigned>, PageStart>;

}  // namespace

struct QueryMemory {
  Version version{-1, -1};
  Shape shape;
  bool shape_table = false;  // the library was seen to have the counters
  bool log_table = false;    // and the log
  bool keeping = false;
  std::map<std::string, KeptBelow> below;
  KeptTitles titles;
  EdgeShape edge_shape;
  bool edge_table = false;  // as shape_table, for the edge counter
  PageStarts page_starts;

  // Forgets what now differs from shape: objects below and titles outlive
  // new rows (added when next asked for) and, while the log tells them, the
  // objects it names (looked at again when next asked for).
  void forget(const Shape &now) {
    const bool same = shape.known && now.known;
    const bool logged = same && shape.logged && now.logged && now.last_log >= shape.last_log;
    if (!same || (now.routes != shape.routes && !logged) || now.last_route < shape.last_route) below.clear();
    if (!same || (now.titles != shape.titles && !logged) || now.last_prop < shape.last_prop) titles = {};
    shape = now;
  }
};

namespace {

int library_version(DbLink link, Version *version) {
  apr_int64_t data = -1;
  const int status = db_data_version(link, &data);
  *version = {data, db_total_changes(link)};
  return status;
}

// The counters' table, once seen, is not looked for again: only an upgrade
// that makes the title keys anew drops it, and each connection's own upgrade
// ran when it opened; a failed read looks again next time.
int library_shape(DbLink link, bool *has_table, bool *has_log, Shape *shape) {
  *shape = {};
  if (!*has_table && msdb_schema_has_table(link, MSDB_SHAPE, has_table) != APR_SUCCESS) return APR_EGENERAL;
  if (!*has_table) return APR_SUCCESS;
  if (!*has_log && msdb_schema_has_table(link, MSDB_SHAPE_LOG, has_log) != APR_SUCCESS) return APR_EGENERAL;
  const bool logged = *has_log;
  const int status = db_stream(link, logged ? kShapeAndLog : kShape, [shape, logged](sqlite3_stmt *row) {
    *shape = {true, sqlite3_column_int64(row, 0), sqlite3_column_int64(row, 1), sqlite3_column_int64(row, 2),
              sqlite3_column_int64(row, 3), logged, logged ? sqlite3_column_int64(row, 4) : 0,
              logged ? sqlite3_column_int64(row, 5) : 0};
    return false;
  });
  if (status != APR_SUCCESS) *has_table = *has_log = false;
  return status;
}

int edge_shape(DbLink link, bool *has_table, EdgeShape *shape) {
  *shape = {};
  if (!*has_table && msdb_schema_has_table(link, MSDB_EDGE_SHAPE, has_table) != APR_SUCCESS) return APR_EGENERAL;
  if (!*has_table) return APR_SUCCESS;
  const int status = db_stream(link, kEdgeShape, [shape](sqlite3_stmt *row) {
    *shape = {true, sqlite3_column_int64(row, 0), sqlite3_column_int64(row, 1)};
    return false;
  });
  if (status != APR_SUCCESS) *has_table = false;
  return status;
}

// A child's place in its container's order: SQLite's order of ordinals
// (null, numbers, text by its bytes, blobs; kept starts are text), then the
// edge.
struct EdgeKey {
  int rank;  // 0 before text, 1 text, 2 after
  std::string ordinal;
  sqlite3_int64 edge;

  auto operator<=>(const EdgeKey &) const = default;
};

EdgeKey edge_key(sqlite3_stmt *row) {
  const int type = sqlite3_column_type(row, 1);
  if (type != SQLITE_TEXT) return {type == SQLITE_BLOB ? 2 : 0, {}, sqlite3_column_int64(row, 2)};
  return {1,
          std::string(reinterpret_cast<const char *>(sqlite3_column_text(row, 1)),
                      static_cast<size_t>(sqlite3_column_bytes(row, 1))),
          sqlite3_column_int64(row, 2)};
}

// Moves each kept start on by the new edges of its container before it.
void move_starts(PageStarts &starts, std::map<sqlite3_int64, std::vector<EdgeKey>> &added) {
  PageStarts moved;
  for (auto &[at, start] : starts) {
    auto found = added.find(at.first);
    if (found != added.end()) {
      std::vector<EdgeKey> &keys = found->second;
      if (!std::is_sorted(keys.begin(), keys.end())) std::sort(keys.begin(), keys.end());
      start.position += static_cast<unsigned>(
          std::lower_bound(keys.begin(), keys.end(), EdgeKey{1, start.ordinal, start.edge}) - keys.begin());
    }
    moved.emplace(std::pair{at.first, start.position}, std::move(start));
  }
  starts = std::move(moved);
}

// Keeps the page starts while the edges they were found on stand: no edge
// changed or removed (the counter), none added, or (outside a transaction)
// a few added, which move the starts after them.
int follow_edges(QueryMemory *memory, DbLink link) {
  EdgeShape now;
  const int status = edge_shape(link, &memory->edge_table, &now);
  if (status != APR_SUCCESS) return status;
  const EdgeShape was = memory->edge_shape;
  memory->edge_shape = now;
  PageStarts &starts = memory->page_starts;
  const bool same = now.known && was.known && now.edges == was.edges;
  if (starts.empty() || (same && now.last_edge == was.last_edge)) return APR_SUCCESS;
  if (!same || now.last_edge < was.last_edge || !memory->keeping || now.last_edge - was.last_edge > kMostNewEdges) {
    starts.clear();
    return APR_SUCCESS;
  }
  char sql[96];
  std::snprintf(sql, sizeof sql, kNewEdges, was.last_edge);
  std::map<sqlite3_int64, std::vector<EdgeKey>> added;
  const int read = db_stream(link, sql, [&](sqlite3_stmt *row) {
    const sqlite3_int64 parent = sqlite3_column_int64(row, 0);
    auto kept = starts.lower_bound({parent, 0});
    if (kept != starts.end() && kept->first.first == parent) added[parent].push_back(edge_key(row));
    return true;
  });
  if (read == APR_SUCCESS) move_starts(starts, added);
  return read;
}

}  // namespace

QueryMemory *query_memory_create(apr_pool_t *pool) {
  return pool_new<QueryMemory>(pool);
}

int query_memory_sync(QueryMemory *memory, DbLink link) {
  Version now;
  int status = library_version(link, &now);
  memory->keeping = status == APR_SUCCESS && !db_in_transaction(link);
  if (status != APR_SUCCESS || now != memory->version) {
    Shape shape;
    if (status == APR_SUCCESS) status = library_shape(link, &memory->shape_table, &memory->log_table, &shape);
    memory->forget(status == APR_SUCCESS ? shape : Shape{});
    if (status == APR_SUCCESS) status = follow_edges(memory, link);
    if (status != APR_SUCCESS) memory->page_starts.clear();
  }
  memory->version = status == APR_SUCCESS ? now : Version{-1, -1};
  memory->keeping = memory->keeping && status == APR_SUCCESS;
  return status;
}

void query_memory_rolled_back(QueryMemory *memory) {
  memory->version = {-1, -1};
}

KeptBelow *query_memory_below(QueryMemory *memory, const char *containers) {
  auto found = memory->below.find(containers);
  return found == memory->below.end() ? nullptr : &found->second;
}

const std::vector<bool> *query_memory_keep_below(QueryMemory *memory, const char *containers,
                                                 std::vector<bool> &&below) {
  if (!memory->keeping) return nullptr;
  if (memory->below.size() >= kMostBelowSets) memory->below.clear();
  KeptBelow &kept = memory->below[containers];
  kept = {std::move(below), memory->shape.last_route, memory->shape.last_log};
  return &kept.objects;
}

apr_int64_t query_memory_last_route(const QueryMemory *memory) {
  return memory->shape.last_route;
}

bool query_memory_keeping(const QueryMemory *memory) {
  return memory->keeping;
}

KeptTitles *query_memory_titles(QueryMemory *memory) {
  return memory->titles.objects != 0 ? &memory->titles : nullptr;
}

const std::vector<TitleRow> *query_memory_keep_titles(QueryMemory *memory, size_t objects,
                                                      std::vector<TitleRow> &&titles) {
  if (!memory->keeping) return nullptr;
  memory->titles = {std::move(titles), objects, memory->shape.last_prop, memory->shape.last_log};
  return &memory->titles.rows;
}

apr_int64_t query_memory_last_prop(const QueryMemory *memory) {
  return memory->shape.last_prop;
}

apr_int64_t query_memory_last_log(const QueryMemory *memory) {
  return memory->shape.last_log;
}

int query_memory_logged(apr_pool_t *pool, const QueryMemory *memory, DbLink link, ShapeLog kind, apr_int64_t after,
                        size_t most, std::vector<sqlite3_int64> *changed, bool *known) {
  const Shape &shape = memory->shape;
  changed->clear();
  *known = shape.logged && after <= shape.last_log && (after == shape.last_log || after + 1 >= shape.first_log) &&
           static_cast<apr_uint64_t>(shape.last_log - after) <= most;
  if (!*known || after == shape.last_log) return APR_SUCCESS;
  const char *sql = apr_psprintf(pool, kLogged, after, shape.last_log, static_cast<int>(kind));
  return db_stream(link, sql, [&](sqlite3_stmt *row) {
    const sqlite3_int64 object = sqlite3_column_int64(row, 0);
    *known = object >= 0;
    if (*known) changed->push_back(object);
    return *known;
  });
}

bool query_memory_page_start(const QueryMemory *memory, sqlite3_int64 parent, unsigned position, PageStart *start) {
  auto after = memory->page_starts.upper_bound({parent, position});
  if (after == memory->page_starts.begin()) return false;
  --after;
  if (after->first.first != parent) return false;
  *start = after->second;
  return true;
}

void query_memory_keep_page_start(QueryMemory *memory, sqlite3_int64 parent, PageStart start) {
  if (!memory->keeping) return;
  if (memory->page_starts.size() >= kMostPageStarts) memory->page_starts.clear();
  const unsigned position = start.position;
  memory->page_starts[{parent, position}] = std::move(start);
}
