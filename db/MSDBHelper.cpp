// Query helpers over apr_dbd: formatting, quoting and the select/insert idioms.
#include "MSDBHelper.h"

#include <apr_strings.h>
#include <apr_time.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "CommonEscape.h"
#include "CommonNumbers.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "MSDBHelper";
constexpr const char *kSelectFailed = "Could not execute SQL statement, reason: %s";
constexpr int kBusyRetries = 15;
constexpr apr_interval_time_t kBusySleep = 100000;

int busy_handler(void *data, int) {
  int *budget = static_cast<int *>(data);
  if (*budget <= 0) return 0;
  --*budget;
  apr_sleep(kBusySleep);
  return 1;
}

sqlite3 *native_of(DbLink link) { return static_cast<sqlite3 *>(apr_dbd_native_handle(link.driver, link.handle)); }

// Gives the statement about to run its full retry budget.
void arm(DbLink link) {
  if (link.busy_budget != nullptr) *link.busy_budget = kBusyRetries;
}

// The driver reads every row of a select into the select's pool at once, so
// a value wanted in that same pool is not copied again.
const char *copy_entry(apr_pool_t *pool, DbCursor *cursor, apr_dbd_row_t *row, int column) {
  const char *value = apr_dbd_get_entry(cursor->link.driver, row, column);
  return value == nullptr || pool == cursor->pool ? value : apr_pstrdup(pool, value);
}

}  // namespace

int db_again_after_schema_change(DbLink link, const std::function<int()> &run) {
  const int rv = run();
  return rv != 0 && sqlite3_errcode(native_of(link)) == SQLITE_SCHEMA ? run() : rv;
}

int db_open_select(apr_pool_t *pool, DbLink link, const char *sql, DbCursor *cursor) {
  cursor->link = link;
  cursor->results = nullptr;
  cursor->pool = pool;
  return db_again_after_schema_change(link, [&] {
    arm(link);
    return apr_dbd_select(link.driver, pool, link.handle, &cursor->results, sql, 0);
  });
}

namespace {

struct PreparedStatement;

// A statement is looked up by its text before every run, and the texts of
// inserts of many rows run to hundreds of characters: hashing all of them
// cost more than a look-up is worth. Texts that differ in length or near an
// end hash apart; the map's comparison of whole texts settles the rest.
struct FormatHash {
  std::size_t operator()(std::string_view format) const noexcept {
    constexpr std::size_t kEnd = 48;
    const std::hash<std::string_view> hash;
    if (format.size() <= 2 * kEnd) return hash(format);
    return hash(format.substr(0, kEnd)) ^ (hash(format.substr(format.size() - kEnd)) * 31) ^ format.size();
  }
};

}  // namespace

// Statements by their format text (the key is the copy in the statement's
// pool), each in a pool of its own whose destruction finalizes it, under a
// pool that holds them all.
struct DbPrepared {
  apr_pool_t *pool = nullptr;
  std::unordered_map<std::string_view, PreparedStatement *, FormatHash> statements;
};

void db_link_keep_prepared(apr_pool_t *pool, DbLink *link) {
  apr_pool_t *own = pool_create_or_die(pool, kModule);
  link->prepared = pool_new<DbPrepared>(own);
  link->prepared->pool = own;
}

bool db_in_transaction(DbLink link) { return sqlite3_get_autocommit(native_of(link)) == 0; }

int db_data_version(DbLink link, apr_int64_t *version) {
  return db_stream(link, "PRAGMA data_version", [&](sqlite3_stmt *row) {
    *version = sqlite3_column_int64(row, 0);
    return false;
  });
}

apr_int64_t db_total_changes(DbLink link) { return sqlite3_total_changes64(native_of(link)); }

void db_link_guard_transaction(DbLink link, const int *in_transaction) {
  sqlite3_commit_hook(native_of(link), [](void *flag) { return *static_cast<const int *>(flag); },
                      const_cast<int *>(in_transaction));
}

void db_link_retry_busy(apr_pool_t *pool, DbLink *link) {
  sqlite3 *native = native_of(*link);
  link->busy_budget = static_cast<int *>(apr_pcalloc(pool, sizeof(int)));
  sqlite3_busy_handler(native, busy_handler, link->busy_budget);
}

char *db_sql(apr_pool_t *pool, const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *sql = apr_pvsprintf(pool, format, args);
  va_end(args);
  return sql;
}

char *db_quote(apr_pool_t *pool, const char *text) {
  if (text == nullptr) return apr_pstrdup(pool, "");
  std::size_t quotes = 0;
  for (const char *p = text; *p != '\0'; ++p) quotes += *p == '\'';
  char *out = static_cast<char *>(apr_palloc(pool, std::strlen(text) + quotes + 1));
  char *q = out;
  for (const char *p = text; *p != '\0'; ++p) {
    *q++ = *p;
    if (*p == '\'') *q++ = '\'';
  }
  *q = '\0';
  return out;
}

char *db_escape(apr_pool_t *pool, const char *text) {
  if (text == nullptr) return apr_pstrdup(pool, "");
  return db_quote(pool, xml_escape(pool, text));
}

char *db_unescape(apr_pool_t *pool, const char *text) {
  return text == nullptr ? nullptr : xml_unescape(pool, text);
}

const char *db_error(DbLink link, int status) {
  const char *text = apr_dbd_error(link.driver, link.handle, status);
  return text == nullptr ? "unknown error" : text;
}

bool db_oid_valid(const char *oid, bool allow_root_parent) {
  if (oid != nullptr && allow_root_parent && std::strcmp(oid, "-1") == 0) return true;
  bool digits = oid != nullptr && *oid != '\0';
  for (const char *p = oid; digits && *p != '\0'; ++p) digits = std::isdigit(static_cast<unsigned char>(*p));
  if (!digits) {
    LOG4C("MSDB", LOG4C_ERROR, log4c_sprintf("Invalid object id \"%s\"", oid == nullptr ? "(null)" : oid));
  }
  return digits;
}

int db_exec_reason(DbLink link, const char *sql, int *changed, const char **reason) {
  int rows = 0;
  const int rv = db_again_after_schema_change(link, [&] {
    arm(link);
    return apr_dbd_query(link.driver, link.handle, &rows, sql);
  });
  if (changed != nullptr) *changed = rows;
  if (rv == 0) return APR_SUCCESS;
  *reason = db_error(link, rv);
  return APR_EGENERAL;
}

namespace {

struct PreparedStatement {
  apr_pool_t *pool;
  apr_dbd_prepared_t *statement;
  int count;        // placeholders
  bool *integers;   // which of them are %lld
};

// The next placeholder of text, or null; *integer tells a %lld from a %s.
const char *placeholder(const char *text, bool *integer) {
  for (const char *at = std::strchr(text, '%'); at != nullptr; at = std::strchr(at + 1, '%')) {
    *integer = std::strncmp(at + 1, "lld", 3) == 0;
    if (*integer || at[1] == 's') return at;
  }
  return nullptr;
}

int placeholder_length(bool integer) { return integer ? 4 : 2; }

// The number of placeholders of format; integers (may be null) receives
// which of them are %lld.
int placeholder_kinds(const char *format, bool *integers) {
  int count = 0;
  bool integer = false;
  for (const char *at = placeholder(format, &integer); at != nullptr;
       at = placeholder(at + placeholder_length(integer), &integer)) {
    if (integers != nullptr) integers[count] = integer;
    ++count;
  }
  return count;
}

// The integer SQLite stores for text in an integer column, when text is
// written as SQLite writes that integer back ("12", "-3"; not "012", "+3" or
// " 3"), so that binding it as an integer stores the same value. Read by
// hand, and only up to 18 digits, which cannot overflow: it runs for every
// oid bound, and std::from_chars cost three times as much.
bool integer_text(const char *text, apr_int64_t *value) {
  const bool negative = *text == '-';
  const char *digit = text + negative;
  if (*digit == '0' && digit[1] != '\0') return false;
  apr_int64_t magnitude = 0;
  const char *first = digit;
  constexpr int kDigits = 18;
  for (; *digit >= '0' && *digit <= '9'; ++digit) {
    if (digit - first == kDigits) return false;
    magnitude = magnitude * 10 + (*digit - '0');
  }
  if (*digit != '\0' || digit == first) return false;
  *value = negative ? -magnitude : magnitude;
  return true;
}

// args as the driver binds them by the statement's placeholders: a %s's
// text, a %lld's integer; null when the text of a %lld is not an integer
// (the caller then runs the text).
const void **typed_values(apr_pool_t *pool, const PreparedStatement &statement, const char *const *args) {
  auto **values = static_cast<const void **>(apr_palloc(pool, sizeof(void *) * (statement.count + 1)));
  apr_int64_t *numbers = nullptr;
  for (int i = 0; i < statement.count; ++i) {
    values[i] = args[i];
    if (!statement.integers[i] || args[i] == nullptr) continue;
    if (numbers == nullptr) {
      numbers = static_cast<apr_int64_t *>(apr_palloc(pool, sizeof(apr_int64_t) * statement.count));
    }
    if (!integer_text(args[i], &numbers[i])) return nullptr;
    values[i] = &numbers[i];
  }
  return values;
}

// The statement of format on link, prepared on first use; null when it
// cannot be (the caller then runs the text).
PreparedStatement *prepared(DbLink link, const char *format) {
  DbPrepared *cache = link.prepared;
  if (cache == nullptr) return nullptr;
  auto found = cache->statements.find(format);
  if (found != cache->statements.end()) return found->second;
  // Everything of the statement lives in its own pool, so that forgetting
  // it leaves nothing behind.
  apr_pool_t *pool = pool_create_or_die(cache->pool, kModule);
  auto *made = static_cast<PreparedStatement *>(apr_palloc(pool, sizeof(PreparedStatement)));
  const int count = placeholder_kinds(format, nullptr);
  *made = PreparedStatement{pool, nullptr, count, static_cast<bool *>(apr_palloc(pool, sizeof(bool) * (count + 1)))};
  placeholder_kinds(format, made->integers);
  arm(link);
  if (apr_dbd_prepare(link.driver, pool, link.handle, format, nullptr, &made->statement) != 0) {
    apr_pool_destroy(pool);
    return nullptr;
  }
  cache->statements.emplace(apr_pstrdup(pool, format), made);
  return made;
}

void forget(DbLink link, const char *format, PreparedStatement *statement) {
  link.prepared->statements.erase(format);  // before its key goes
  apr_pool_destroy(statement->pool);
}

int run_prepared(apr_pool_t *pool, DbLink link, PreparedStatement *statement, const void **values, int *rows) {
  arm(link);
  return apr_dbd_pbquery(link.driver, pool, link.handle, rows, statement->statement, values);
}

// format with each placeholder replaced by its arg, "null" for a null one;
// the arg of a %s, and of a %lld that is no integer, is quoted, so that it
// is the same text a bound value is.
const char *filled_in(apr_pool_t *pool, const char *format, const char *const *args) {
  const char *sql = "";
  int next = 0;
  for (const char *at = format; *at != '\0';) {
    bool integer = false;
    const char *mark = placeholder(at, &integer);
    if (mark == nullptr) return apr_pstrcat(pool, sql, at, nullptr);
    const char *arg = args[next++];
    apr_int64_t number = 0;
    const char *literal = arg == nullptr ? "null" : integer && integer_text(arg, &number) ? arg : nullptr;
    if (literal == nullptr) literal = apr_pstrcat(pool, "'", db_quote(pool, arg), "'", nullptr);
    sql = apr_pstrcat(pool, sql, apr_pstrndup(pool, at, mark - at), literal, nullptr);
    at = mark + placeholder_length(integer);
  }
  return sql;
}

int select_prepared(apr_pool_t *pool, DbLink link, PreparedStatement *statement, const void **values,
                    DbCursor *cursor) {
  arm(link);
  cursor->link = link;
  cursor->results = nullptr;
  cursor->pool = pool;
  return apr_dbd_pbselect(link.driver, pool, link.handle, &cursor->results, statement->statement, 0, values);
}

// Runs the statement of format through run, prepared once per link. A
// statement prepared before the schema last changed (a temporary table made
// or dropped on the link) has expired: it is prepared again and run once
// more. A failed run changed nothing, so the second run is the only one that
// counts; but a failure on which SQLite ended the transaction (a full disk,
// an I/O error) is not run again, since the second run would write outside
// the transaction the caller is about to roll back. Returns the driver's
// status, or -1 when format cannot be prepared or args cannot be bound as
// its placeholders ask.
template <typename Run>
int run_kept(apr_pool_t *pool, DbLink link, const char *format, const char *const *args, Run run) {
  PreparedStatement *statement = prepared(link, format);
  const void **values = statement == nullptr ? nullptr : typed_values(pool, *statement, args);
  if (values == nullptr) return -1;
  const bool in_transaction = db_in_transaction(link);
  int rv = run(statement, values);
  if (rv != 0 && (!in_transaction || db_in_transaction(link))) {
    forget(link, format, statement);
    statement = prepared(link, format);
    if (statement != nullptr) rv = run(statement, values);
  }
  return rv;
}

}  // namespace

int db_exec_prepared(apr_pool_t *pool, DbLink link, const char *format, const char *const *args, int *changed,
                     const char **reason) {
  int rows = 0;
  int rv = run_kept(pool, link, format, args, [&](PreparedStatement *statement, const void **values) {
    return run_prepared(pool, link, statement, values, &rows);
  });
  if (rv == -1) return db_exec_reason(link, filled_in(pool, format, args), changed, reason);
  if (changed != nullptr) *changed = rows;
  if (rv == 0) return APR_SUCCESS;
  *reason = db_error(link, rv);
  return APR_EGENERAL;
}

namespace {

// The rows of the select of format, prepared and bound as db_exec_prepared
// runs its statement, opened in cursor. Returns 0, or 20014 (logged).
int select_rows_prepared(apr_pool_t *pool, DbLink link, const char *format, const char *const *args,
                         DbCursor *cursor) {
  int rv = run_kept(pool, link, format, args, [&](PreparedStatement *statement, const void **values) {
    return select_prepared(pool, link, statement, values, cursor);
  });
  if (rv == -1) rv = db_open_select(pool, link, filled_in(pool, format, args), cursor);
  if (rv == 0) return APR_SUCCESS;
  LOG4C(kModule, LOG4C_ERROR, log4c_sprintf(kSelectFailed, db_error(link, rv)));
  return APR_EGENERAL;
}

}  // namespace

int db_select_value_prepared(apr_pool_t *pool, DbLink link, const char *format, const char *const *args,
                             const char **value) {
  *value = nullptr;
  DbCursor cursor;
  if (select_rows_prepared(pool, link, format, args, &cursor) != APR_SUCCESS) return APR_EGENERAL;
  *value = db_next_value(pool, &cursor);
  return APR_SUCCESS;
}

int db_exec(DbLink link, const char *sql, int *changed, const char *failure_format) {
  const char *reason = nullptr;
  if (db_exec_reason(link, sql, changed, &reason) == APR_SUCCESS) return APR_SUCCESS;
  LOG4C("MSDB", LOG4C_ERROR, log4c_sprintf(failure_format != nullptr ? failure_format : kSelectFailed, reason));
  return APR_EGENERAL;
}

int db_stream(DbLink link, const char *sql, const std::function<bool(sqlite3_stmt *row)> &visit) {
  sqlite3 *native = native_of(link);
  sqlite3_stmt *statement = nullptr;
  arm(link);
  int rc = sqlite3_prepare_v2(native, sql, -1, &statement, nullptr);
  if (rc == SQLITE_OK) {
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW && visit(statement)) {
    }
  }
  const bool failed = rc != SQLITE_DONE && rc != SQLITE_ROW;
  if (failed) LOG4C(kModule, LOG4C_ERROR, log4c_sprintf(kSelectFailed, sqlite3_errmsg(native)));
  sqlite3_finalize(statement);
  return failed ? APR_EGENERAL : APR_SUCCESS;
}

namespace {

// The marks db_marked reads and those db_take clears: the innermost
// db_with_marks and db_with_takes running on this thread (a connection is
// used by one thread at a time).
thread_local const std::vector<bool> *t_marks = nullptr;
thread_local std::vector<bool> *t_takes = nullptr;
// The visitor db_visit calls: the innermost db_visit_rows on this thread.
thread_local const DbVisit *t_visit = nullptr;

bool is_marked(const std::vector<bool> *marks, sqlite3_int64 oid) {
  return marks != nullptr && oid >= 0 && static_cast<size_t>(oid) < marks->size() && (*marks)[oid];
}

void marked(sqlite3_context *context, int, sqlite3_value **args) {
  sqlite3_result_int(context, is_marked(t_marks, sqlite3_value_int64(args[0])));
}

void take(sqlite3_context *context, int, sqlite3_value **args) {
  const sqlite3_int64 oid = sqlite3_value_int64(args[0]);
  const bool set = is_marked(t_takes, oid);
  if (set) (*t_takes)[oid] = false;
  sqlite3_result_int(context, set);
}

void visit(sqlite3_context *context, int count, sqlite3_value **args) {
  const sqlite3_int64 first = sqlite3_value_int64(args[0]);
  const sqlite3_int64 second = count > 1 ? sqlite3_value_int64(args[1]) : 0;
  sqlite3_result_int(context, t_visit != nullptr && (*t_visit)(first, second));
}

using SqlFunction = void (*)(sqlite3_context *, int, sqlite3_value **);

// Registered again, a function would expire every statement the connection
// keeps prepared: it is registered when a statement naming it cannot be
// prepared.
int register_once(DbLink link, const char *name, SqlFunction function) {
  sqlite3 *native = native_of(link);
  sqlite3_stmt *probe = nullptr;
  const std::string sql = std::string("select ") + name + "(0)";
  int rc = sqlite3_prepare_v2(native, sql.c_str(), -1, &probe, nullptr);
  sqlite3_finalize(probe);
  if (rc != SQLITE_OK) {
    rc = sqlite3_create_function_v2(native, name, -1, SQLITE_UTF8 | SQLITE_DIRECTONLY, nullptr, function, nullptr,
                                    nullptr, nullptr);
  }
  if (rc == SQLITE_OK) return APR_SUCCESS;
  LOG4C(kModule, LOG4C_ERROR, log4c_sprintf(kSelectFailed, sqlite3_errmsg(native)));
  return APR_EGENERAL;
}

template <typename Marks>
int with_function(DbLink link, const char *name, SqlFunction function, Marks **slot, Marks &marks,
                  const std::function<int()> &body) {
  if (register_once(link, name, function) != APR_SUCCESS) return APR_EGENERAL;
  Marks *outer = *slot;
  *slot = &marks;
  const int status = body();
  *slot = outer;
  return status;
}

}  // namespace

int db_with_marks(DbLink link, const std::vector<bool> &marks, const std::function<int()> &body) {
  return with_function(link, "db_marked", marked, &t_marks, marks, body);
}

int db_with_takes(DbLink link, std::vector<bool> &marks, const std::function<int()> &body) {
  return with_function(link, "db_take", take, &t_takes, marks, body);
}

int db_visit_rows(DbLink link, const char *sql, const DbVisit &visitor) {
  return with_function(link, "db_visit", visit, &t_visit, visitor, [&] {
    return db_stream(link, sql, [](sqlite3_stmt *) { return false; });
  });
}

int db_select_value(apr_pool_t *pool, DbLink link, const char *sql, const char **value,
                    DbCursor *cursor) {
  DbCursor local;
  DbCursor *c = cursor != nullptr ? cursor : &local;
  *value = nullptr;
  int rv = db_open_select(pool, link, sql, c);
  if (rv != 0) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf(kSelectFailed, db_error(link, rv)));
    return APR_EGENERAL;
  }
  *value = db_next_value(pool, c);
  return APR_SUCCESS;
}

const char *db_next_value(apr_pool_t *pool, DbCursor *cursor) {
  apr_dbd_row_t *row = nullptr;
  if (cursor->results == nullptr ||
      apr_dbd_get_row(cursor->link.driver, pool, cursor->results, &row, -1) != 0) {
    return nullptr;
  }
  return copy_entry(pool, cursor, row, 0);
}

int db_select_row(apr_pool_t *pool, DbLink link, const char *sql, int n, const char **values,
                  DbCursor *cursor) {
  DbCursor local;
  DbCursor *c = cursor != nullptr ? cursor : &local;
  for (int i = 0; i < n; ++i) values[i] = nullptr;
  int rv = db_open_select(pool, link, sql, c);
  if (rv != 0) {
    LOG4C(kModule, LOG4C_ERROR,
          log4c_sprintf("Could not execute SQL statement, reason: %s, sql: %s", db_error(link, rv), sql));
    return APR_EGENERAL;
  }
  db_next_row(pool, c, n, values);
  return APR_SUCCESS;
}

int db_next_row(apr_pool_t *pool, DbCursor *cursor, int n, const char **values) {
  apr_dbd_row_t *row = nullptr;
  if (cursor->results == nullptr ||
      apr_dbd_get_row(cursor->link.driver, pool, cursor->results, &row, -1) != 0) {
    return 0;
  }
  for (int i = 0; i < n; ++i) values[i] = copy_entry(pool, cursor, row, i);
  return 1;
}

namespace {

// Runs insert; logs and fails unless it added a row.
int insert_row(DbLink link, const char *insert) {
  int rows = 0;
  const char *reason = "no row was inserted";
  if (db_exec_reason(link, insert, &rows, &reason) != APR_SUCCESS || rows < 1) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf(kSelectFailed, reason));
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

// The row id of the last insert, read from the connection: preparing
// "select last_insert_rowid();" for every row cost more than the insert.
const char *last_rowid(apr_pool_t *pool, DbLink link) {
  return str_from_int64(pool, sqlite3_last_insert_rowid(native_of(link)));
}

}  // namespace

int db_insert_and_fetch(apr_pool_t *pool, DbLink link, const char *insert, const char *select,
                        const char **value) {
  *value = nullptr;
  if (insert_row(link, insert) != APR_SUCCESS) return APR_EGENERAL;
  if (std::strcmp(select, kLastInsertRowid) == 0) {
    *value = last_rowid(pool, link);
    return APR_SUCCESS;
  }
  return db_select_value(pool, link, select, value, nullptr);
}

int db_insert_rows(apr_pool_t *pool, DbLink link, const char *head, const char *row, const char *const *args, int rows,
                   apr_int64_t *last_row_id, const char **reason) {
  // Rows per statement: a few statements per item, far below SQLite's limit
  // of bound values.
  constexpr int kRowsPerInsert = 32;
  const int columns = placeholder_kinds(row, nullptr);
  std::string sql;
  for (int first = 0; first < rows; first += kRowsPerInsert) {
    const int count = std::min(kRowsPerInsert, rows - first);
    sql.assign(head);
    for (int i = 0; i < count; ++i) {
      if (i > 0) sql += ", ";
      sql += row;
    }
    int changed = 0;
    if (db_exec_prepared(pool, link, sql.c_str(), args + static_cast<std::size_t>(first) * columns, &changed, reason) !=
        APR_SUCCESS) {
      return APR_EGENERAL;
    }
  }
  *last_row_id = static_cast<apr_int64_t>(sqlite3_last_insert_rowid(native_of(link)));
  return APR_SUCCESS;
}

int db_insert_prepared(apr_pool_t *pool, DbLink link, const char *format, const char *const *args,
                       const char **row_id) {
  *row_id = nullptr;
  int rows = 0;
  const char *reason = "no row was inserted";
  if (db_exec_prepared(pool, link, format, args, &rows, &reason) != APR_SUCCESS || rows < 1) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf(kSelectFailed, reason));
    return APR_EGENERAL;
  }
  *row_id = last_rowid(pool, link);
  return APR_SUCCESS;
}

int db_find_or_insert_prepared(apr_pool_t *pool, DbLink link, const char *select, const char *insert,
                               const char *const *args, const char **value) {
  int status = db_select_value_prepared(pool, link, select, args, value);
  if (status != APR_SUCCESS || *value != nullptr) return status;
  // select found nothing, so the one row it finds now is the row just added.
  const char *row_id = nullptr;
  status = db_insert_prepared(pool, link, insert, args, &row_id);
  *value = row_id;
  return status;
}

int db_find_or_insert(apr_pool_t *pool, DbLink link, const char *select, const char *insert,
                      const char **value) {
  int status = db_select_value(pool, link, select, value, nullptr);
  if (status != APR_SUCCESS || *value != nullptr) return status;
  // select found nothing, so the one row it finds now is the row just added.
  if (insert_row(link, insert) != APR_SUCCESS) return APR_EGENERAL;
  *value = last_rowid(pool, link);
  return APR_SUCCESS;
}
