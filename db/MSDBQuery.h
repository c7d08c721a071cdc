// MSDBQuery: browse, metadata and search, the read paths that turn the
// object graph into documents (one property list per object, written by the
// serializer). Ids and criteria come from network clients: ids must be
// decimal id paths and criteria operands reach SQL only quoted; "zentoria"
// properties never leave through these documents. Runs on the calling
// thread's medialib connection; documents live in the caller's pool. Logs on
// "MSDB" (criteria on "MSDBHelper"). Statuses: 0, or 20014 after a log line.
#pragma once

#include <apr_pools.h>

#include "CommonProp.h"
#include "CommonSerialize.h"
#include "MSDBConnection.h"
#include "MSDBHelper.h"

inline constexpr int MSDB_MAX_REQUEST_IDS = 100;
// Longest search criteria text translated: far beyond what a control point
// sends, short enough that the translation stays small.
inline constexpr int MSDB_MAX_CRITERIA_LENGTH = 16384;

// The serializer's options plus the query's own: a mode starting with
// "x_by_val" sorts FORMAT_BY_VALUE lines by value (ignoring case); minimal is
// set by a browse filter starting with "x_minimal:".
struct DbSerializeOptions {
  SerializeOptions serialize;
  const char *mode;
  int minimal;
};

// Receives each object's list before it is written; returns the list to
// write (possibly changed) or null to drop the object. Not called in minimal
// mode.
using DbObjectCallback = PropList *(*)(apr_pool_t *pool, void *value, PropList *list);

// Escapes one criteria operand for SQL (db_escape).
using DbEscapeFn = char *(*)(apr_pool_t *pool, const char *text);

// Children of the containers ids[0..id_count) (1..100 id paths; exactly "-1"
// lists the root objects in oid order), from offset, at most count of them
// (0: all). filter: "*", a comma-separated list of names, or "x_minimal:"
// and a list. callback, value, options and total may be null. *returned
// receives the objects written, *total the sum of the containers' child
// counts. Returns 0 or 20014 (bad id or id count, "No object has the id
// \"%s\"" for an id whose route the graph does not hold, "Could not get value
// of child count property", "Could not get the total matches for the root
// count query", "Could not execute SQL statement").
int cds_metadata_fetch_children2(apr_pool_t *pool, MediaLibraryDB *db, const char *const *ids,
                                 int id_count, const char *filter, unsigned int offset,
                                 unsigned int count, DbObjectCallback callback, void *value,
                                 SerializeFormat format, const DbSerializeOptions *options,
                                 int *returned, long *total, const char **document);

// The properties a sort criteria may name, comma-separated (what a
// ContentDirectory's GetSortCapabilities lists).
extern const char *const MSDB_SORT_CAPABILITIES;

// Whether criteria ("+dc:title,-upnp:album": each entry a sign and one of
// MSDB_SORT_CAPABILITIES) can be honoured; the empty text can.
bool msdb_sort_criteria_valid(apr_pool_t *pool, const char *criteria);

// cds_metadata_fetch_children2 with the children ordered by sort_criteria:
// by each property's first value, text lower-cased as titles are ordered,
// track numbers by value, an object without the property first in
// ascending order; ties keep the container's order, so that pages of the
// same browse agree. The empty criteria is the plain browse. Returns as
// cds_metadata_fetch_children2, or 20014 after "Unsupported sort criteria %s".
int msdb_fetch_children_sorted(apr_pool_t *pool, MediaLibraryDB *db, const char *const *ids, int id_count,
                               const char *sort_criteria, const char *filter, unsigned int offset,
                               unsigned int count, DbObjectCallback callback, void *value,
                               SerializeFormat format, const DbSerializeOptions *options, int *returned,
                               long *total, const char **document);

// The document of the one object id_path names. Returns 0 or 20014 (bad id,
// "No object has the id \"%s\"", "Could not execute SQL statement").
int msdb_fetch_metadata(apr_pool_t *pool, MediaLibraryDB *db, const char *id_path,
                        const char *filter, DbObjectCallback callback, void *value,
                        SerializeFormat format, const DbSerializeOptions *options,
                        const char **document);

// The object's properties (values unescaped) with the synthetic attributes,
// in pool; an object without properties gives an empty list. Returns 0 or
// 20014 (bad id, "Could not execute SQL statement").
int msdb_fetch_prop_list(apr_pool_t *pool, MediaLibraryDB *db, const char *id_path,
                         PropList **list);

// One property row of an object, kept as read until a list is needed.
struct PropRow {
  const char *name;
  const char *value;
  bool new_instance;  // its property order differs from the previous row's
};

// An object's rows, in the order read.
struct PropRows {
  const PropRow *rows;
  int count;
};

// The list rows make: a row that starts an instance adds one under its
// name, so attribute rows land on the instance of their element. Null rows
// make an empty list.
PropList *msdb_prop_rows_list(apr_pool_t *pool, const PropRows *rows);

// What the list of rows would answer for an element's slot (prop_count,
// prop_get), read from the rows themselves: a scan checks a few values of
// every object it meets, and making each object's list cost more than the
// checks. Null rows hold nothing.
int msdb_prop_rows_count(const PropRows *rows, int slot);
const char *msdb_prop_rows_get(const PropRows *rows, int slot, int instance);

// The property rows called one of names (values unescaped, without
// synthetic attributes) of each of the objects oids, into *found: object
// oid -> PropRows (names point into names), with no entry for an object
// that has none of them. Rows take a quarter of the memory of lists;
// msdb_prop_rows_list makes one when it is needed. Returns 0 or 20014 (bad
// oid, "Could not execute SQL statement").
int msdb_fetch_named_rows(apr_pool_t *pool, MediaLibraryDB *db, const char *const *oids, int count,
                          const char *const *names, int name_count, apr_hash_t **found);

// Objects below the containers (any depth, or only their children with
// direct_children set) that match criteria, ordered by lower-cased title
// (subtree search finds only objects with a title; equal titles keep the
// order in which their objects were made; an object below the containers by
// several routes reports the route it was first filed under). Paging,
// callback and counts as for browsing. Returns 0 or 20014 (bad ids as for
// browsing, "Invalid search criteria %s",
// "Could not execute SQL statement, reason: %s" or, for the page of a
// subtree search, "Could not execute SQL statement, reason: %s, sql: %s",
// "Could not get the total matches for the search query").
int msdb_search(apr_pool_t *pool, MediaLibraryDB *db, const char *const *ids, int id_count,
                const char *criteria, const char *filter, unsigned int offset, unsigned int count,
                int direct_children, DbObjectCallback callback, void *value, SerializeFormat format,
                const DbSerializeOptions *options, int *returned, long *total,
                const char **document);

// msdb_search of the subtree, hits ordered by sort_criteria (as
// msdb_fetch_children_sorted orders children; equal ones by title). The
// empty criteria keeps the title order. Returns as msdb_search, or 20014
// after "Unsupported sort criteria %s".
int msdb_search_sorted(apr_pool_t *pool, MediaLibraryDB *db, const char *const *ids, int id_count,
                       const char *criteria, const char *sort_criteria, const char *filter, unsigned int offset,
                       unsigned int count, DbObjectCallback callback, void *value, SerializeFormat format,
                       const DbSerializeOptions *options, int *returned, long *total, const char **document);

// The select of the oids (column searchObjectOid) that criteria describes,
// or null after one of "Invalid search criteria", "Invalid search criteria %s
// at %s", "Invalid search criteria %s", "Invalid search criteria exists
// operator has %s instead of true / false", "Invalid object id \"%s\"" (an
// @parentID that is not an id path), "Invalid property %s in search
// criteria" (a name outside the vocabulary), a refusal of a text longer than
// MSDB_MAX_CRITERIA_LENGTH or of "and"/"or" nested too deeply. Every operand
// passes through escape; contains, doesNotContain and derivedfrom match "%"
// and "_" literally; orderings of numeric properties (sizes, bitrates, track
// numbers...) against a number compare numbers. The statement's nesting
// grows with the logarithm of the number of terms. With substring_index
// (the library has MSDB_SUBSTRING_INDEX), contains of three characters or
// more tests only the values that index offers; the oids are the same.
const char *msdb_search_criteria_to_sql(apr_pool_t *pool, const char *criteria, DbEscapeFn escape,
                                        bool substring_index = false);

// Writes the rows of an open result (id text, property order, name, value;
// rows of one object consecutive) as a document: one record per object with
// "@id" (the request id it lies under, joined with the rest of its id text),
// "@parentID", "@restricted" and, for containers, "@childCount",
// "@searchable" and "upnp:writeStatus". Only names the filter admits and
// that do not start with "zentoria" are written. *objects receives the
// number of records. Never fails: the document may be empty.
const char *serialize_db_result(DbCursor *rows, apr_pool_t *pool, DbObjectCallback callback,
                                void *value, const char *filter, const char *const *ids,
                                int id_count, SerializeFormat format,
                                const DbSerializeOptions *options, int *objects);

// Whether filter admits name: "*" admits all; in minimal mode only the
// listed names and "@id"; otherwise the listed names, the element of each
// listed element@attribute, "res@protocolInfo" when res is admitted, and
// "@id", "@parentID", "dc:title", "upnp:class", "@restricted",
// "upnp:storageUsed". Names compare ignoring case.
bool msdb_prop_filter_admits(const char *filter, const char *name, int minimal);
