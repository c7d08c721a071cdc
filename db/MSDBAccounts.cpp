// User accounts in the admin database.
#include "MSDBAccounts.h"

#include <apr_base64.h>
#include <apr_strings.h>

#include <strings.h>

#include "Common.h"
#include "CommonUserMessage.h"
#include "log4c.h"

namespace {

constexpr int kMaxAccounts = 200;


const char *empty_as_null(const char *text) { return text == nullptr || *text == '\0' ? nullptr : text; }

const char *base64_decode(apr_pool_t *pool, const char *encoded) {
  if (encoded == nullptr) return nullptr;
  char *decoded = static_cast<char *>(apr_palloc(pool, apr_base64_decode_len(encoded) + 1));
  int length = apr_base64_decode(decoded, encoded);
  decoded[length] = '\0';
  return decoded;
}

const char *username_test(apr_pool_t *pool, const char *username) {
  if (username == nullptr || *username == '\0') return "(username = '' or username is null)";
  return apr_psprintf(pool, "username='%s'", db_quote(pool, username));
}

}  // namespace

int msdb_list_user_accounts(apr_pool_t *pool, MediaLibraryDB *db, UserAccount *accounts, int *count) {
  int capacity = *count;
  *count = 0;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *row[5];
  DbCursor cursor;
  if (db_select_row(pool, conn->admin,
                    "select oid, domain, description, username, password from useraccount order by lower(domain)", 5,
                    row, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not execute SQL statement");
  }
  for (bool more = row[0] != nullptr; more && *count < capacity; more = db_next_row(pool, &cursor, 5, row) != 0) {
    accounts[(*count)++] = UserAccount{row[0], row[1], row[2], empty_as_null(row[3]),
                                       empty_as_null(base64_decode(pool, empty_as_null(row[4])))};
  }
  return APR_SUCCESS;
}

int msdb_get_user_account(apr_pool_t *pool, MediaLibraryDB *db, const char *text,
                          UserAccount *account) {
  *account = UserAccount{};
  auto *accounts = static_cast<UserAccount *>(apr_pcalloc(pool, sizeof(UserAccount) * kMaxAccounts));
  int count = kMaxAccounts;
  if (msdb_list_user_accounts(pool, db, accounts, &count) != APR_SUCCESS) return log4c_fail(MSDB_MODULE, "Could not fetch user accounts");
  const char *haystack = text == nullptr ? "" : text;
  for (int i = 0; i < count; ++i) {
    if (accounts[i].domain != nullptr && strcasestr(haystack, accounts[i].domain) != nullptr) {
      *account = accounts[i];
      return APR_SUCCESS;
    }
  }
  return APR_NOTFOUND;
}

int msdb_save_user_account(apr_pool_t *pool, MediaLibraryDB *db, int insert,
                           const UserAccount *account) {
  if (account->domain == nullptr || *account->domain == '\0') return log4c_fail(MSDB_MODULE, INTERNAL_ERROR_TEXT);
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *password = db_quote(pool, str_base64(pool, account->password == nullptr ? "" : account->password));
  const char *domain = db_quote(pool, account->domain);
  const char *sql =
      insert ? db_sql(pool,
                      "insert into useraccount (oid, username, password, domain, description) values (null, '%s', "
                      "'%s', '%s', '%s')",
                      db_quote(pool, account->username), password, domain, domain)
             : db_sql(pool, "update useraccount set password='%s' where domain='%s' and %s", password, domain,
                      username_test(pool, account->username));
  int rows = 0;
  if (db_exec(conn->admin, sql, &rows) != APR_SUCCESS) return APR_EGENERAL;
  if (rows != 1) return log4c_fail(MSDB_MODULE, log4c_sprintf("unexpected update results for %s", sql));
  return APR_SUCCESS;
}

int msdb_delete_user_account(apr_pool_t *pool, MediaLibraryDB *db, const char *domain,
                             const char *username) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *quoted_domain = db_quote(pool, domain);
  const char *sql =
      username != nullptr
          ? db_sql(pool, "delete from useraccount where (domain='%s') and (username='%s');", quoted_domain,
                   db_quote(pool, username))
          : db_sql(pool, "delete from useraccount where (domain='%s') and (username = '' or username is null);",
                   quoted_domain);
  const char *failure = "Could not execute SQL statement - ua was not deleted, reason: %s";
  int rows = 0;
  if (db_exec(conn->admin, sql, &rows, failure) != APR_SUCCESS) return APR_EGENERAL;
  return rows > 0 ? APR_SUCCESS : log4c_fail(MSDB_MODULE, log4c_sprintf(failure, "no row was deleted"));
}
