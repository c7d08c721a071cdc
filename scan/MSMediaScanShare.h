// MSMediaScanShare: the sharing module implements the engine interface
// (MSMediaScan.h) for file and folder sources: find, add, update and the scan
// of one source. This header holds what the refresh, unshare and list module
// shares with it: the source look-up and the user-message codes.
//
// Runs on the calling thread; temporary memory lives in pools below the
// library handle's pool. Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "MSMediaScan.h"
#include "log4c.h"

// The source whose oid (all digits) or url (normalised unless it has a
// scheme) is given, in source. Returns 0 when found, 70015 when not, 20014
// when the query failed (logged by the database layer only).
int msms_fetch_source(apr_pool_t *pool, const char *oid_or_url, MediaSource *source);

// Codes of the user-message table that the source operations hand back.
enum SourceMessage : int {
  SOURCE_MSG_MARK_FAILED = 32,
  SOURCE_MSG_ADDED = 28,
  SOURCE_MSG_UPDATED = 29,
  SOURCE_MSG_INVALID = 40,
  SOURCE_MSG_NOT_CREATED = 41,
  SOURCE_MSG_NOT_UPDATED = 42,
  SOURCE_MSG_NOT_DELETED = 43,
  SOURCE_MSG_NOT_FOUND = 44,
  SOURCE_MSG_EXISTS = 45,
  SOURCE_MSG_NO_FILE = 46,
  SOURCE_MSG_WRONG_TYPE = 47,
  SOURCE_MSG_SCAN_FAILED = 48,
  SOURCE_MSG_SWEEP_FAILED = 49,
  SOURCE_MSG_LEAVES_FAILED = 50,
  SOURCE_MSG_NO_TRANSACTION = 51,
  SOURCE_MSG_NO_COMMIT = 52,
  SOURCE_MSG_BUSY = 53,
};

// The user-message text of code into *out when out is not null (code 0: none).
void msms_user_message(const char **out, int code);

// Logs message at level on "MSMediaScan", hands out the text of code and
// returns 20014.
int msms_source_fail(const char **user_message, int code, const char *message, int level = LOG4C_ERROR);
