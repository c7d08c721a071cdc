// MSDBGraph: objects and containment edges of the medialib graph, with the
// ancestor closure that edges keep up to date.
//
// Every call runs on the calling thread's medialib connection inside the
// transaction its caller opened; a call that fails halfway leaves its earlier
// statements in that transaction for the caller to roll back. Oids are
// decimal text; those given by callers are checked before use. Results are
// copied into the pool passed. Failures are logged on "MSDB".
// Statuses: 0 success, 20014 failure (logged), 17 already exists, 70015 not found.
#pragma once

#include <apr_pools.h>
#include <apr_tables.h>

#include "MSDBConnection.h"

// Creates an object (signature may be null), associates it with source and
// appends it under parent when given. Returns 0 with the new oid, or 20014.
int msdb_create_object(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *source,
                       const char *signature, const char **oid);

// Oids of the objects with this signature, at most *count of them into oids
// (or only counted when oids is null); *count receives the number found.
// Returns 0 or 20014.
int msdb_find_objects_by_signature(apr_pool_t *pool, MediaLibraryDB *db, const char *signature,
                                   const char **oids, int *count);

// Newest object whose properties match every (names[i], values[i]) pair, by
// equality or, with like set, by SQL like. scope null or "-1" means the whole
// library; children_only limits the search to the scope's children (root
// objects for "-1"), else to its subtree. Unless skip_scope_test is set the
// scope object itself is tried first. source (may be null) limits the match
// to that source's objects. *oid is null when nothing matches; signature
// (may be null) receives the match's signature. Returns 0 or 20014 (also for
// count < 1).
int msdb_find_object(apr_pool_t *pool, MediaLibraryDB *db, const char *scope, int children_only,
                     int skip_scope_test, int count, const char *const *names,
                     const char *const *values, int like, const char *source, const char **oid,
                     const char **signature);

// msdb_find_object for the two questions the scan asks most: the newest
// object of the whole library (of source's objects when source is not null)
// whose property name has value; and the newest child container of parent
// titled title. *oid is null when nothing matches. Returns 0 or 20014.
int msdb_find_newest_by_value(apr_pool_t *pool, MediaLibraryDB *db, const char *name, const char *value,
                              const char *source, const char **oid, const char **signature);
int msdb_find_child_container(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *title,
                              const char **oid);

// Links child under parent with ordinal (null: appended after the largest
// ordinal), extends the ancestor closure and counts the child in the
// parent's "@childCount". With check set, an existing edge is returned with
// status 17 and nothing changes. edge_oid may be null. Returns 0, 17 or 20014.
int msdb_add_edge(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *child,
                  int check, const char *ordinal, const char **edge_oid);

// Holds back the edges that file child, a fresh object without children,
// under its containers (those made with a given ordinal and no edge oid
// asked for) until msdb_edges_write, which writes them and their ancestor
// rows in one insert per table and stops holding. Every other call of this
// module writes the held edges first. Returns 0, or 20014 when the write failed.
void msdb_edges_hold(MediaLibraryDB *db, const char *child);
int msdb_edges_write(apr_pool_t *pool, MediaLibraryDB *db);

// Turns one raw property value into the text it is sorted by.
using SortValueTransform = const char *(*)(apr_pool_t *pool, const char *value);

// As msdb_add_edge, with the ordinal made from the child's first value of
// each named property (through transform when given) joined by spaces and
// passed through sort_key; a property the child lacks counts as empty text,
// a failed read (ERROR "Can't get value for property, oid: %s") gives the
// empty ordinal. An existing edge gives 0. Returns 0 or 20014.
int msdb_add_sorted_edge(apr_pool_t *pool, MediaLibraryDB *db, const char *parent,
                         const char *child, int check, const char *const *names, int count,
                         int ascending, SortValueTransform transform, const char **edge_oid);

// The ordinal msdb_add_sorted_edge would give child ("" for an invalid oid,
// logged), for callers that link one child into many containers.
const char *msdb_sort_key(apr_pool_t *pool, MediaLibraryDB *db, const char *child,
                          const char *const *names, int count, int ascending,
                          SortValueTransform transform);

// msdb_add_sorted_edge with the ordinal key made by msdb_sort_key already.
// Returns 0 or 20014.
int msdb_add_keyed_edge(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *child,
                        int check, const char *key, const char **edge_oid);

// Recomputes the sort key of edge_oid from child's properties. Returns 0 or 20014.
int msdb_resort_edge(apr_pool_t *pool, MediaLibraryDB *db, const char *child, const char *edge_oid,
                     const char *const *names, int count, int ascending,
                     SortValueTransform transform);

// The edge from parent to child. Returns 0, 70015 when there is none, or 20014.
int msdb_find_edge(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *child,
                   const char **edge_oid);

// Links to_object under every parent of from_object that belongs to a real
// media source (oid above 1), keeping the ordinals. Returns 0 or 20014 (also
// when one of the edges exists already).
int msdb_copy_parents(apr_pool_t *pool, MediaLibraryDB *db, const char *from_object,
                      const char *to_object);

// Links every child of from_container under to_container with its ordinal.
// Returns 0 or 20014 (also when one of the edges exists already).
int msdb_copy_children(apr_pool_t *pool, MediaLibraryDB *db, const char *from_container,
                       const char *to_container);

// Appends the children of from_container, in ordinal order, to to_container.
// Returns 0 or 20014 (also when one of the edges exists already).
int msdb_append_children(apr_pool_t *pool, MediaLibraryDB *db, const char *from_container,
                         const char *to_container);

// Calls found once per distinct title among parent's child containers
// (children whose "zentoria:isContainer" is "1"), with the title as stored
// (escaped) and the newest such child: what msdb_find_object of (dc:title,
// zentoria:isContainer = 1) among parent's children answers for that title,
// for all titles in one statement. Returns 0 or 20014.
int msdb_child_containers(apr_pool_t *pool, MediaLibraryDB *db, const char *parent,
                          void (*found)(void *context, const char *escaped_title, const char *oid),
                          void *context);

// The oids of every object below object (not object itself), each once, in
// *oids (an array of const char * in pool). Returns 0 or 20014.
int msdb_subtree_objects(apr_pool_t *pool, MediaLibraryDB *db, const char *object, apr_array_header_t **oids);
