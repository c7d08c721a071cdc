// MSDBURIProps: property values attached to URIs rather than to objects.
//
// The store lives in the admin database (URIProps). A local URI is kept in
// path_canonical form; a recursive value also applies below its URI, and
// the nearest URI wins. Setting runs in an admin transaction of its own; the
// reads run on the calling thread's admin (and medialib) connection.
// Results live in the pool passed. Failures are logged on "MSDB".
#pragma once

#include <apr_hash.h>
#include <apr_pools.h>

#include "MSDBConnection.h"

// Told about every value that was set or cleared; a non-zero answer is only logged.
using UriPropChangedFn = int (*)(const char *uri, const char *propname, const char *value);

// Sets (value not null) or clears the property propname of uri for instance
// (null: every instance when setting, the empty instance when clearing).
// Returns 0; 70015 when the last statement changed no row; 20014 (also for a
// name outside the property vocabulary).
int msdb_uri_prop_set(apr_pool_t *pool, MediaLibraryDB *db, const char *uri, int recursive,
                      const char *propname, const char *value, const char *instance,
                      UriPropChangedFn callback);

// Every property of uri (only propname when not null) as propname -> value
// in *map. With recursive set, values of enclosing URIs count too: the
// ancestors' "res" and "zentoria:fullPath" when object is given, else the
// URI's own prefixes. Returns 0 or 20014.
int msdb_uri_props_get(apr_pool_t *pool, MediaLibraryDB *db, const char *uri, const char *propname,
                       int recursive, const char *object, const char *instance, apr_hash_t **map);

// The one value of propname (null when none). Returns 0 or 20014.
int msdb_uri_prop_get(apr_pool_t *pool, MediaLibraryDB *db, const char *uri, int recursive,
                      const char *object, const char *instance, const char *propname,
                      const char **value);

// Every value of propname that a URI holds itself for no particular
// instance, as msdb_uri_prop_get(uri, 0, null, null) finds it, read at once:
// msdb_uri_prop_key(uri) -> value in *values. Returns 0 or 20014.
int msdb_uri_prop_values(apr_pool_t *pool, MediaLibraryDB *db, const char *propname, apr_hash_t **values);

// The key of uri in the map of msdb_uri_prop_values.
const char *msdb_uri_prop_key(apr_pool_t *pool, const char *uri);

// Row oid -> URI of every row whose propname is in names; *map stays null
// when there is none. Returns 0 or 20014.
int cds_get_uris_by_props(MediaLibraryDB *db, apr_pool_t *pool, const char *const *names, int count,
                          apr_hash_t **map);

// Deletes the rows whose oids are the keys of map. Returns 0 or 20014.
int msdb_uri_props_delete(apr_pool_t *pool, MediaLibraryDB *db, apr_hash_t *map);
