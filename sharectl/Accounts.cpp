// -C user:password@domain: records the account the server uses for a web
// domain, replacing the domain's anonymous account, or updates its password.
#include <apr_strings.h>

#include <cstdio>
#include <cstring>

#include "MSDB.h"
#include "Shares.h"
#include "log4c_pool.h"

namespace {

// True when domain is empty or only white space.
bool blank(const char *domain) { return domain[std::strspn(domain, " \t\n\r\f")] == '\0'; }

struct AccountParts {
  char *user;
  char *password;
  char *domain;
};

// Splits at the last '@' (domain after it), then at the first ':'.
AccountParts split_account(apr_pool_t *pool, const char *text) {
  char *copy = apr_pstrdup(pool, text);
  AccountParts parts{copy, copy + std::strlen(copy), nullptr};
  char *at = std::strrchr(copy, '@');
  if (at) {
    *at = '\0';
    parts.domain = at + 1;
  } else {
    parts.domain = copy + std::strlen(copy);
  }
  if (char *colon = std::strchr(copy, ':')) {
    *colon = '\0';
    parts.password = colon + 1;
  } else {
    parts.password = parts.domain + std::strlen(parts.domain);
  }
  return parts;
}

// Each statement commits on its own: a failed insert (the account exists)
// must not undo anything else.
int save_account(apr_pool_t *pool, MediaLibraryDB *db, const AccountParts &parts) {
  UserAccount account{nullptr, parts.domain, nullptr, parts.user, parts.password};
  if (msdb_save_user_account(pool, db, 1, &account) == 0) {
    // A named account replaces the domain's anonymous one, which may not
    // exist (no failure). An anonymous account just inserted is that very
    // row and must stay.
    if (*parts.user) msdb_delete_user_account(pool, db, parts.domain, nullptr);
    return 0;
  }
  return msdb_save_user_account(pool, db, 0, &account);
}

}  // namespace

int record_account(RunState &run, const char *text) {
  Pool pool(run.root, "Main");
  AccountParts parts = split_account(pool, text);
  // Nothing would be recorded: say so rather than report success. An empty
  // user name with a password (":guest@domain") is the domain's anonymous
  // account and is recorded.
  const bool nothing_before_at = std::strrchr(text, '@') == text;
  if (blank(parts.domain) || nothing_before_at) {
    std::printf("\n\nCould not add user account %s@%s: give it as USER:PASSWORD@DOMAIN.\n", parts.user, parts.domain);
    return APR_EGENERAL;
  }
  if (run.db && save_account(pool, run.db, parts) == 0) return 0;
  std::printf("\n\nCould not add user account %s:%s@%s.\n", parts.user, parts.password, parts.domain);
  return APR_EGENERAL;
}
