// MSDBPrefixFind: the newest object of every value of a property that
// starts with a prefix, found by one range scan of the value index instead
// of one look-up per value. A scan looks up the objects of a whole folder
// tree by their "res" url this way before it walks the tree.
#pragma once

#include <apr_pools.h>
#include <apr_tables.h>

#include "MSDBConnection.h"

// One value and the object msdb_find_object would find for it alone.
struct PrefixMatch {
  const char *value;      // as given to the property store (unescaped)
  const char *oid;        // the newest object with the value
  const char *signature;  // its signature; null when it has none
  bool held;              // the source asked about holds the object
};

// The values of name that start with prefix, at most limit of them (the
// first in value order), each with its newest object and whether the media
// source source (an oid) holds it, into *matches (PrefixMatch). *complete is
// false when more than limit values start with prefix. Returns 0 or 20014.
int msdb_find_objects_by_prefix(apr_pool_t *pool, MediaLibraryDB *db, const char *name, const char *prefix,
                                const char *source, int limit, apr_array_header_t **matches, bool *complete);
