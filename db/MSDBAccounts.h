// MSDBAccounts: user accounts, the credentials the server uses per network domain.
//
// Rows live in the admin database; every field is SQL-quoted only (never
// entity-escaped) and the password is stored in Base64. Runs on the calling
// thread's admin connection inside the caller's transaction; results live in
// the pool passed. Failures are logged on "MSDB".
#pragma once

#include <apr_pools.h>

#include "MSDBConnection.h"

struct UserAccount {
  const char *oid;
  const char *domain;
  const char *description;
  const char *username;  // null for none
  const char *password;  // null for none; clear text
};

// Up to *count accounts in domain order; *count receives the number read.
// Returns 0 or 20014.
int msdb_list_user_accounts(apr_pool_t *pool, MediaLibraryDB *db, UserAccount *accounts, int *count);

// The first account, in domain order, whose domain occurs in text (ignoring
// case). Returns 0, 70015 when none does, or 20014.
int msdb_get_user_account(apr_pool_t *pool, MediaLibraryDB *db, const char *text,
                          UserAccount *account);

// Inserts the account (insert set) or updates the password of the
// (domain, username) row. Exactly one changed row is success.
// Returns 0 or 20014 (also for an empty domain).
int msdb_save_user_account(apr_pool_t *pool, MediaLibraryDB *db, int insert,
                           const UserAccount *account);

// Deletes the (domain, username) account; a null username means the account
// without one. Returns 0, or 20014 (also when nothing was deleted).
int msdb_delete_user_account(apr_pool_t *pool, MediaLibraryDB *db, const char *domain,
                             const char *username);
