// MSDBProps: property rows of library objects and their interned names and values.
//
// A property is a prop row pointing at an interned name and an interned,
// entity-escaped value; an attribute row points at its element row through
// parentOid. Properties are named by a vocabulary slot (CommonPropNames.h)
// or, when name is not null, by name; slot 0 without a name is an error.
// Writing "upnp:class" keeps "zentoria:isContainer" in step. Runs on the
// calling thread's medialib connection inside the caller's transaction;
// results are copied into the pool passed; failures are logged on "MSDB".
// Statuses: 0 success, 20014 failure (logged).
#pragma once

#include <apr_pools.h>

#include "CommonProp.h"
#include "MSDBConnection.h"

// Oid of the interned name, inserted when new. Returns 0 or 20014.
int msdb_intern_name(apr_pool_t *pool, MediaLibraryDB *db, const char *name, const char **oid);

// Oid of the interned value; escaped_value has been through xml_escape.
// Returns 0 or 20014.
int msdb_intern_value(apr_pool_t *pool, MediaLibraryDB *db, const char *escaped_value,
                      const char **oid);

// Adds the property (an attribute of parent_prop when that is not null)
// unless the object already has the same name and value there; prop_oid (may
// be null) receives the row. Returns 0 or 20014.
int msdb_add_prop(apr_pool_t *pool, MediaLibraryDB *db, const char *parent_prop, const char *object,
                  int slot, const char *name, const char *value, const char **prop_oid);

// As msdb_add_prop, but an existing row of that name keeps its value.
int msdb_ensure_prop(apr_pool_t *pool, MediaLibraryDB *db, const char *parent_prop,
                     const char *object, int slot, const char *name, const char *value,
                     const char **prop_oid);

// Replaces a single-valued property; a null value deletes it with its
// attributes. A property with several rows is an error (the rows keep the new
// value). Returns 0 or 20014.
int msdb_set_prop(apr_pool_t *pool, MediaLibraryDB *db, const char *parent_prop, const char *object,
                  int slot, const char *name, const char *value, const char **prop_oid);

// msdb_set_prop of a top-level property named by its slot, the common case.
inline int msdb_set_slot(apr_pool_t *pool, MediaLibraryDB *db, const char *object, int slot, const char *value) {
  return msdb_set_prop(pool, db, nullptr, object, slot, nullptr, value, nullptr);
}

// msdb_set_prop on object and every descendant. Returns 0 or 20014.
int msdb_set_prop_subtree(apr_pool_t *pool, MediaLibraryDB *db, const char *object, int slot,
                          const char *name, const char *value);

// Gives the row prop_oid of object a new value. Returns 0 or 20014 (also when
// no row changed).
int msdb_set_prop_value_by_oid(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                               const char *prop_oid, const char *value);

// Deletes a row and its attribute rows. Returns 0 or 20014 (also when nothing
// was deleted).
int msdb_delete_prop_row(apr_pool_t *pool, MediaLibraryDB *db, const char *prop_oid);

// Adds delta to the counter property of the listed objects; all receive the
// value computed from the first. Returns 0, or 20014 (silently when no object
// has the property).
int msdb_increment_prop(apr_pool_t *pool, MediaLibraryDB *db, const char *const *objects, int count,
                        int slot, const char *name, int delta);

// First value of the property (unescaped unless raw) and its row; both null
// when the object has none. Returns 0 or 20014.
int msdb_get_prop(apr_pool_t *pool, MediaLibraryDB *db, const char *object, int slot,
                  const char *name, int raw, const char **value, const char **prop_oid);

// Up to *count values of the property; *count receives the number read.
// Returns 0 or 20014.
int msdb_get_prop_values(apr_pool_t *pool, MediaLibraryDB *db, const char *object, int slot,
                         const char *name, int raw, const char **values, int *count);

// The row of the property slot with that value (like: SQL like pattern) under
// parent_prop (null: an element row); null when none. Returns 0 or 20014.
int msdb_find_prop(apr_pool_t *pool, MediaLibraryDB *db, const char *parent_prop,
                   const char *object, int slot, const char *value, int like,
                   const char **prop_oid);

// Stores every value of list on object: elements first, then attributes under
// the element row of the same instance, each in name, then instance order (so
// the same list gets the same rows under the same oids whatever order it was
// made in). Returns 0 or 20014.
int msdb_add_prop_list(apr_pool_t *pool, MediaLibraryDB *db, const char *object, PropList *list);

// counts[i] = number of prop rows using value_oids[i] (0 when none).
// Returns 0 or 20014.
int msdb_value_counts(apr_pool_t *pool, MediaLibraryDB *db, const char *const *value_oids,
                      int count, int *counts);
