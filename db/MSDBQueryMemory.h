// MSDBQueryMemory: what the read paths of one connection remember between
// calls: the objects below a searched container, each object's first title,
// where pages of a container's children begin; for a server answering many
// requests between scans. When the library changes, new rows are added to
// objects below and titles, and the objects whose ancestor rows or title
// rows were removed or changed (the shape log) are looked at again, unless
// the log cannot tell them (then that part is forgotten); page starts are
// forgotten if an edge row was removed or changed (new edges move them). A
// memory belongs to one DBThreadConnection (freed with its pool, used by its
// thread).
#pragma once

#include <apr_pools.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "MSDBHelper.h"

struct QueryMemory;

// A new, empty memory, destroyed with pool.
QueryMemory *query_memory_create(apr_pool_t *pool);

// Forgets what memory holds from a library version link's library is no
// longer at (above). Inside a transaction, which may yet be rolled back,
// memory keeps nothing new. Returns 0, or 20014 after "Could not execute SQL
// statement, reason: %s" (memory emptied).
int query_memory_sync(QueryMemory *memory, DbLink link);

// Makes the next sync read the library's shape again: a rollback undoes rows
// without moving the version, and what memory kept may have been found on
// them.
void query_memory_rolled_back(QueryMemory *memory);

// The objects below containers (oids joined by ","), a bit per oid up to the
// size kept, as the ancestor rows up to oid through place them. Rows added
// since (oids past through, up to query_memory_last_route) are the caller's
// to add, and only outside a transaction (query_memory_keeping).
struct KeptBelow {
  std::vector<bool> objects;
  apr_int64_t through = 0;
  apr_int64_t logged = 0;  // the shape log's rows looked at, up to oid
};

// The kept objects below containers, or null when not remembered.
KeptBelow *query_memory_below(QueryMemory *memory, const char *containers);
// Keeps below (taking it) as of the library's version at the last sync and
// returns what is kept, or returns null (below left as it was) when memory
// keeps nothing now.
const std::vector<bool> *query_memory_keep_below(QueryMemory *memory, const char *containers,
                                                 std::vector<bool> &&below);
// The largest ancestor oid at the last sync.
apr_int64_t query_memory_last_route(const QueryMemory *memory);
// Whether memory keeps what is found now (false inside a transaction).
bool query_memory_keeping(const QueryMemory *memory);

// Each titled object's first title row (its smallest value oid), in value
// order, then object order. Oids are below 2^32 (searches keep bits only for
// smaller ones); a value oid too large for that is held as UINT32_MAX.
struct TitleRow {
  std::uint32_t value;
  std::uint32_t object;
};

// The title rows of objects below objects (an oid), as the prop rows up to
// oid through give them; rows added since (up to query_memory_last_prop) are
// the caller's to add, as for KeptBelow.
struct KeptTitles {
  std::vector<TitleRow> rows;
  size_t objects = 0;
  apr_int64_t through = 0;
  apr_int64_t logged = 0;  // as for KeptBelow
};

// The kept title rows, or null when not remembered.
KeptTitles *query_memory_titles(QueryMemory *memory);
// As query_memory_keep_below.
const std::vector<TitleRow> *query_memory_keep_titles(QueryMemory *memory, size_t objects,
                                                      std::vector<TitleRow> &&titles);
// The largest prop oid at the last sync.
apr_int64_t query_memory_last_prop(const QueryMemory *memory);

// The shape log's kinds of rows (MSDB_SHAPE_LOG).
enum class ShapeLog { kRoutes = 0, kTitles = 1 };

// The largest shape log oid at the last sync (0: none, or no log).
apr_int64_t query_memory_last_log(const QueryMemory *memory);
// The objects the shape log names for kind past oid after, up to the last
// sync, at most most of them, into changed; *known false when the log cannot
// tell them (no log, its rows past after gone, a row saying forget, or more
// than most): the caller forgets what it kept instead. Returns 0, or 20014
// after "Could not execute SQL statement, reason: %s".
int query_memory_logged(apr_pool_t *pool, const QueryMemory *memory, DbLink link, ShapeLog kind, apr_int64_t after,
                        size_t most, std::vector<sqlite3_int64> *changed, bool *known);

// The child at position (from 0) of a container in its ordinal order
// (ordinal, then edge oid).
struct PageStart {
  unsigned position = 0;
  std::string ordinal;
  sqlite3_int64 edge = 0;
};

// The remembered start of parent's children nearest at or before position,
// or false when none is.
bool query_memory_page_start(const QueryMemory *memory, sqlite3_int64 parent, unsigned position, PageStart *start);
void query_memory_keep_page_start(QueryMemory *memory, sqlite3_int64 parent, PageStart start);
