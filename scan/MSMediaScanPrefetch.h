// MSMediaScanPrefetch: the objects of a folder tree looked up before the
// walk enters it. One range look-up of the "res" urls below the folder
// answers the look-up of every file of the tree: its object, the object's
// signature, whether the scanned source holds it and the properties the
// file's turn checks. A url the look-up did not find has no object. A tree
// with more urls than fit one look-up is not covered; its folders try
// again, each for its own tree, and the files of a folder that is not
// covered are looked up one by one.
//
// The answers stay right for the whole walk: the scan holds the library
// lock, and only a file's own turn changes the objects of its url. They
// live until another tree is covered, which happens only when the walk
// enters a folder outside the covered tree, once that tree is done; so
// nothing may enter a folder early outside it (msms_prefetch_covers).
//
// The root's look-up may start before the lock, on a thread of its own with
// its own connection (PrefetchEarly), beside the walk that lists the tree
// then; the walk takes its answer only if no other connection committed to
// the library since it started, and looks up again otherwise.
#pragma once

#include <apr_hash.h>
#include <apr_pools.h>

#include "MSDBQuery.h"
#include "MSDBConnection.h"

struct ScanPrefetch;
struct PrefetchEarly;

// Most urls one look-up covers: 4096 unless set otherwise. Internal: tests
// lower it to leave trees uncovered.
void msms_prefetch_set_limit(int limit);

// Starts the look-up of folder's tree (a canonical path) for a walk of
// source on a thread of its own, before the walk's pass takes the library
// lock; the library's data version is read first on the calling thread's
// connection, which must not commit anything until the walk enters folder.
// The thread and its answers live in pool. Null when nothing was started
// (the version unread or no thread: logged); the walk then looks up alone.
PrefetchEarly *msms_prefetch_early_start(apr_pool_t *pool, MediaLibraryDB *db, const char *source,
                                         const char *folder);

// Waits until early's look-up is done (a null early is ignored).
void msms_prefetch_early_wait(PrefetchEarly *early);

// An empty prefetch for a walk of source, in pool. early (may be null) is
// taken, if still exact, in place of looking up its folder's tree.
ScanPrefetch *msms_prefetch_create(apr_pool_t *pool, const char *source, PrefetchEarly *early = nullptr);

// Covers the tree of folder (a canonical path) unless a covered tree holds
// it already. A failed look-up is logged and leaves the tree uncovered. A
// null prefetch (a walk that looks nothing up) is left as it is.
void msms_prefetch_enter(ScanPrefetch *prefetch, MediaLibraryDB *db, const char *folder);

// True when folder (a canonical path) lies in the covered tree.
bool msms_prefetch_covers(const ScanPrefetch *prefetch, const char *folder);

// True when url lies in the covered tree: then *oid is its object (null
// when it has none), *signature the object's signature, *held whether the
// walk's source holds the object, and *stored the checked properties of an
// object the source holds (null otherwise).
bool msms_prefetch_find(const ScanPrefetch *prefetch, const char *url, const char **oid, const char **signature,
                        const PropRows **stored, bool *held);

// The properties the turn of a file with an object checks (its class, the
// tags and transcoding choice of its source, its folders and its album art
// with what the art is found by), of each of the objects oids, into *found
// (oid -> PropRows, none for an object without them). Returns 0 or 20014
// (logged).
int msms_fetch_checked_props(apr_pool_t *pool, MediaLibraryDB *db, const char *const *oids, int count,
                             apr_hash_t **found);
