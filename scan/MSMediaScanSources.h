// MSMediaScanSources: what the folder, file and URL roads of the engine
// share about a source: its record fetched from the library, the codes of
// its user messages, the admin transaction around recording it, and the one
// pass that rewrites its objects: the library locked, one medialib
// transaction, the marks, the road's own work, the sweep of what was not
// seen again, the empty containers tidied, commit or roll back.
//
// Runs on the calling thread; temporary memory lives in the pools passed.
// Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "CommonCancel.h"
#include "MSMediaScan.h"
#include "MSMediaScanLibrary.h"
#include "log4c.h"

// True when text names a source by its oid: a non-empty run of digits.
bool msms_source_is_oid(const char *text);
// True when url is an absolute local path (a folder or file source), not a URL.
bool msms_source_is_local(const char *url);

// The source whose oid (all digits) or url (normalised unless it has a
// scheme) is given, in source. Returns 0 when found, 70015 when not, 20014
// when the query failed (logged by the database layer only).
int msms_fetch_source(apr_pool_t *pool, MediaLibraryDB *db, const char *oid_or_url, MediaSource *source);

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

// Prints "Refreshing <url>" when print is set and logs the refresh of url at
// DEBUG: how every road announces the refresh of a recorded source.
void msms_source_announce(apr_pool_t *pool, const char *url, int print);

// One step of recording a source, given its context; 0, or the step's status.
using SourceRecordStep = int (*)(void *context);

// Runs step in one admin transaction, committed when it returns 0 and rolled
// back otherwise. Returns 0, the step's status, or 20014 when the transaction
// could not be begun or committed (logged, *user_message set).
int msms_source_record(MediaLibraryDB *db, const char **user_message, SourceRecordStep step, void *context);

struct SourcePass;
// The road's own part of a pass: scan the folder, the file or the URL; sets
// pass->source_oid when the pass did not know it. 0, 4 or 20014 (logged).
using SourceWork = int (*)(SourcePass *pass);

struct SourcePass {
  apr_pool_t *pool;
  MediaLibraryDB *db;
  CancelCheck cancel;          // may be null
  void *context;
  const char **user_message;   // may be null
  SourceWork work;             // null: no work, and then no marks or sweep
  void *work_context;
  const char *source_oid;      // the source swept
  const char *swept;           // what the sweep removes, for its error: "files", "entries"
  int full;                    // delete the containers left empty
  int removed;                 // out: the objects the sweep removed
  bool marking;                // internal: the marks exist
};

// Runs pass: the library locked, one medialib transaction, then (with work)
// the marks, the work and the sweep of pass->source_oid, then (with full) the
// empty containers deleted. Commits when every step succeeded and rolls back
// otherwise. Returns 0; 4 when cancelled; 20017 (APR_EBUSY) when the library
// is locked by another process (user message SOURCE_MSG_BUSY); 20014 (logged).
int msms_source_pass(SourcePass *pass);
