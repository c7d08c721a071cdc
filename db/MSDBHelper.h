// MSDBHelper: the small query helpers every database module builds on.
//
// A DbLink is one open connection (driver plus handle), used by one thread.
// Statements are SQL text; db_sql formats them in the caller's pool at any
// length, so a long statement is never cut. Every value handed back is a copy
// in the caller's pool; the SQLite driver copies whole result sets into the
// pool passed to a select, so large queries deserve their own sub-pool.
// Failures are logged on "MSDBHelper" (or the module named by the caller).
#pragma once

#include <apr_dbd.h>
#include <apr_pools.h>

#include <functional>
#include <vector>

struct DbPrepared;
struct sqlite3_stmt;

struct DbLink {
  const apr_dbd_driver_t *driver = nullptr;
  apr_dbd_t *handle = nullptr;
  // Sleeps of 100 ms left for the statement being run (see db_link_retry_busy).
  int *busy_budget = nullptr;
  // Statements prepared once on this link (see db_link_keep_prepared).
  DbPrepared *prepared = nullptr;
};

// Makes link wait out a database that another connection or process holds
// locked: each statement gets at most 15 sleeps of 100 ms, shared between
// preparing it (which SQLite does not retry by itself) and the driver's own
// retries of its steps, after which it fails with "database is locked".
void db_link_retry_busy(apr_pool_t *pool, DbLink *link);

// True while SQLite holds a transaction open on link. SQLite ends one by
// itself on some failures (a full disk, an I/O error).
bool db_in_transaction(DbLink link);

// The library file's data version as link sees it: it moves when another
// connection (of this process or another) commits. Returns 0, or 20014
// after "Could not execute SQL statement, reason: %s".
int db_data_version(DbLink link, apr_int64_t *version);

// The rows link itself has changed since it was opened, committed or not.
apr_int64_t db_total_changes(DbLink link);

// Makes SQLite refuse every commit on link while *in_transaction is set, so
// that the caller's own COMMIT clears it first. Once SQLite has ended a
// transaction by itself, each later write would otherwise commit alone, out
// of the transaction its caller is about to roll back, and keep rows that
// point at the rolled-back ones; it fails instead ("constraint failed").
void db_link_guard_transaction(DbLink link, const int *in_transaction);

// Keeps the statements db_exec_prepared runs on link prepared, in a new
// child of pool: pool must be the one whose clean-up closes the link, so
// that the statements are finalized before it.
void db_link_keep_prepared(apr_pool_t *pool, DbLink *link);

// An open result set, read row by row with db_next_value or db_next_row.
struct DbCursor {
  DbLink link;
  apr_dbd_results_t *results = nullptr;
  apr_pool_t *pool = nullptr;  // where the driver keeps the rows it read
};

// Formats a statement in pool; never truncates.
char *db_sql(apr_pool_t *pool, const char *format, ...) __attribute__((format(printf, 2, 3)));

// text with every single quote doubled (SQLite's %q rule); null gives "".
char *db_quote(apr_pool_t *pool, const char *text);

// text entity-escaped (xml_escape) and then quoted; null gives "".
char *db_escape(apr_pool_t *pool, const char *text);

// text entity-unescaped on its way out of the database; null stays null.
char *db_unescape(apr_pool_t *pool, const char *text);

// Logger of the database layer.
inline constexpr const char *MSDB_MODULE = "MSDB";

// The driver's error text for status on link.
const char *db_error(DbLink link, int status);

// True when oid is a non-empty run of decimal digits (or "-1" when
// allow_root_parent is set). Otherwise logs ERROR "Invalid object id \"%s\""
// on "MSDB" and returns false; every oid that comes from outside the database
// layer passes here before it is pasted into a statement.
bool db_oid_valid(const char *oid, bool allow_root_parent = false);

// Runs a statement that returns no rows without logging: on failure *reason
// receives the driver's text. Returns 0 or 20014.
int db_exec_reason(DbLink link, const char *sql, int *changed, const char **reason);

// Runs run (a statement through the driver, which prepares it without
// SQLite's own preparing again) once more when it failed because another
// connection changed the schema since this one last read it (a first scan
// drops and makes indexes): such a statement failed before it read or wrote
// anything. Returns run's status.
int db_again_after_schema_change(DbLink link, const std::function<int()> &run);

// Opens cursor on the rows of sql (the driver reads them all at once, into
// pool). Returns the driver's status.
int db_open_select(apr_pool_t *pool, DbLink link, const char *sql, DbCursor *cursor);

// The statement of format with each %s or %lld filled in with args[i] (a
// null arg standing for null), run as db_exec_reason runs it, but parsed only
// once per link: its placeholders are bound instead (a bound text takes the
// column's affinity as the literal would). A %lld stands where SQLite would
// take its text for an integer (an integer column, a comparison with one):
// its arg, the integer's decimal text, is bound as that integer, which spares
// SQLite the conversion. No placeholder of format may sit inside quotes.
// Without a statement cache on link, when the statement cannot be prepared,
// or when the text of a %lld is not an integer as SQLite writes one, the text
// runs with each placeholder filled in as a quoted literal (which SQLite
// treats as it treats a bound text), an integer as is. Whatever the run needs
// comes from pool.
int db_exec_prepared(apr_pool_t *pool, DbLink link, const char *format, const char *const *args, int *changed,
                     const char **reason);

// The select of format, prepared and bound as db_exec_prepared runs its
// statement: the first column of its first row into value (null when there
// is no row). Returns 0, or 20014 after "Could not execute SQL statement,
// reason: %s" with value null.
int db_select_value_prepared(apr_pool_t *pool, DbLink link, const char *format, const char *const *args,
                             const char **value);

// db_find_or_insert with select and insert prepared and bound as
// db_exec_prepared runs its statement, both taking args.
int db_find_or_insert_prepared(apr_pool_t *pool, DbLink link, const char *select, const char *insert,
                               const char *const *args, const char **value);

// Runs a statement that returns no rows; changed (may be null) receives the
// number of changed rows. On failure logs failure_format (with the driver's
// text for its one %s; null: "Could not execute SQL statement, reason: %s")
// on "MSDB". Returns 0 or 20014.
int db_exec(DbLink link, const char *sql, int *changed, const char *failure_format = nullptr);

// Steps the rows of sql straight from SQLite, without the driver's copy of
// the whole result, calling visit with each row (read by sqlite3_column_*)
// until it returns false: for a reader that walks many rows and keeps few.
// Returns 0, or 20014 after "Could not execute SQL statement, reason: %s".
int db_stream(DbLink link, const char *sql, const std::function<bool(sqlite3_stmt *row)> &visit);

// Runs body with the SQL function db_marked(oid) on link's connection: 1
// when oid is set in marks (an oid beyond them is not), else 0. A walk that
// keeps only the rows of oids a caller has marked tests them so inside
// SQLite, and only those rows are stepped out to it. Calls may nest on one
// thread (the innermost marks count); the function stays registered, and
// outside a call it marks nothing. Returns body's status, or 20014 after
// "Could not execute SQL statement, reason: %s" (body not run).
int db_with_marks(DbLink link, const std::vector<bool> &marks, const std::function<int()> &body);

// Runs body with the SQL function db_take(oid) on link's connection: 1 when
// oid is set in marks, clearing it, else 0; so each marked oid passes once,
// on its first row in the walk's order, and what stays set was never
// reached. A walk that counts or keeps each object once tests it so inside
// SQLite, without stepping its other rows out. Nesting, registration and
// returns as db_with_marks.
int db_with_takes(DbLink link, std::vector<bool> &marks, const std::function<int()> &body);

// Runs sql, which names the SQL function db_visit(a[, b]) on link's
// connection: it calls visitor with the integers of its arguments (b 0 when
// not given) and gives its answer as 1 or 0. A walk that hands each of many
// rows to the caller does so from inside SQLite (sql is typically "select
// count(*) from ... where db_visit(...)"), without a step and column reads
// per row. Nesting, registration and returns as db_with_marks.
using DbVisit = std::function<bool(long long a, long long b)>;
int db_visit_rows(DbLink link, const char *sql, const DbVisit &visitor);

// First column of the first row into value (null when there is no row), the
// open result into cursor (may be null). Returns 0, or 20014 after
// "Could not execute SQL statement, reason: %s".
int db_select_value(apr_pool_t *pool, DbLink link, const char *sql, const char **value,
                    DbCursor *cursor);

// First column of the next row, null at the end.
const char *db_next_value(apr_pool_t *pool, DbCursor *cursor);

// The first n columns of the first row into values (all null when there is no
// row). Returns 0, or 20014 after "Could not execute SQL statement, reason: %s, sql: %s".
int db_select_row(apr_pool_t *pool, DbLink link, const char *sql, int n, const char **values,
                  DbCursor *cursor);

// The next row's first n columns. Returns 1 with values set, 0 at the end.
int db_next_row(apr_pool_t *pool, DbCursor *cursor, int n, const char **values);

// The follow-up select of an insert that wants the new row's id; its answer
// is taken from the connection without running a statement.
inline constexpr const char *kLastInsertRowid = "select last_insert_rowid();";

// Runs insert, and when it changed at least one row, select; value is the
// select's first value. Returns 0, or 20014 after "Could not execute SQL
// statement, reason: %s" with value null.
int db_insert_and_fetch(apr_pool_t *pool, DbLink link, const char *insert, const char *select,
                        const char **value);

// db_exec_prepared of an insert, then the new row's id into *row_id. Returns
// 0, or 20014 after "Could not execute SQL statement, reason: %s" (also when
// no row was added) with *row_id null.
int db_insert_prepared(apr_pool_t *pool, DbLink link, const char *format, const char *const *args,
                       const char **row_id);

// Inserts rows new rows (args holds their values row after row, bound as
// db_exec_prepared binds them) with head, the text up to "values " that names
// the columns: each row is row, "(%s, %lld, ...)", many to a statement. The row id column is left out so that SQLite makes the ids
// without a uniqueness check that could abort the statement halfway: such a
// statement of many rows makes SQLite copy every page it changes to a
// statement journal first. The rows get consecutive ids; *last_row_id
// receives the last one. Returns 0, or 20014 with the driver's text in
// *reason (nothing logged).
int db_insert_rows(apr_pool_t *pool, DbLink link, const char *head, const char *row, const char *const *args, int rows,
                   apr_int64_t *last_row_id, const char **reason);

// Runs select; when it has a row its first value is the answer, otherwise
// insert runs and the answer is the row id of the row it added (insert must
// add exactly the row that select looks for, so that running select again
// would give that id). Returns 0, or 20014 after "Could not execute SQL
// statement, reason: %s".
int db_find_or_insert(apr_pool_t *pool, DbLink link, const char *select, const char *insert,
                      const char **value);
