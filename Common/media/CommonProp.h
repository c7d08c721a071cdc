// CommonProp: the in-memory property list of one library object.
//
// A PropList is an APR hash in the caller's pool holding, per base name, the
// number of its instances (a small integer in the value slot), and per value
// the key "<instance>/<full name>". Values are not copied: they must live at
// least as long as the list, except that a descriptive text (dc:title,
// upnp:artist, upnp:album, upnp:genre, dc:description...) that is not valid
// XML text or is longer than TEXT_MAX_BYTES is stored as a repaired copy (see
// utf8_xml_clean) made in the pool passed. Keys are allocated in the pool passed to each
// call. A list belongs to one thread at a time.
#pragma once

#include <apr_hash.h>
#include <apr_pools.h>

#include "CommonPropNames.h"

using PropList = apr_hash_t;

PropList *prop_list_create(apr_pool_t *pool);

// The slot forms take a slot of PropNameTable; an empty or unknown slot logs
// the internal-error text and changes nothing (prop_count gives 0 for it).

// Adds an instance of the name's base name (the text before its first "@",
// or the whole name when it has none or starts with "@").
void prop_add_instance(apr_pool_t *pool, PropList *list, const char *name);
void prop_add_instance(apr_pool_t *pool, PropList *list, int slot);

// Stores value on the newest instance. Without any instance it logs the
// internal-error text and stores nothing.
void prop_set(apr_pool_t *pool, PropList *list, const char *name, const char *value);
void prop_set(apr_pool_t *pool, PropList *list, int slot, const char *value);

// prop_add_instance, then prop_set.
void prop_add(apr_pool_t *pool, PropList *list, const char *name, const char *value);
void prop_add(apr_pool_t *pool, PropList *list, int slot, const char *value);

// Stores value on the given instance without touching the instance count.
void prop_set_at(apr_pool_t *pool, PropList *list, int slot, int instance, const char *value);

// Stores value on every existing instance.
void prop_set_all(apr_pool_t *pool, PropList *list, const char *name, const char *value);
void prop_set_all(apr_pool_t *pool, PropList *list, int slot, const char *value);

// For single-valued properties: adds the first instance when there is none;
// with more than one it logs "cannot have more than one property for %s" and
// overwrites all of them.
void prop_set_single(apr_pool_t *pool, PropList *list, const char *name, const char *value);
void prop_set_single(apr_pool_t *pool, PropList *list, int slot, const char *value);

// The value of instance, or null.
const char *prop_get(apr_pool_t *pool, PropList *list, const char *name, int instance);
const char *prop_get(apr_pool_t *pool, PropList *list, int slot, int instance);

// The newest instance's value; with no instance, logs the internal-error text
// and returns null.
const char *prop_get_last(apr_pool_t *pool, PropList *list, int slot);

// The instance count of the slot's base name (0 when absent).
int prop_count(PropList *list, int slot);

// Removes instance 0 of every slot in [first, end) and the count of first.
// Returns 0 (also when there is no instance), or 20014 after logging "trying
// to delete a multi valued property %s - failed" when the property has more
// than one instance or force is positive.
int prop_delete(apr_pool_t *pool, PropList *list, int first, int end, int force);

// Removes every instance of every slot in [first, end) and the count of
// first's base name.
void prop_remove_all(apr_pool_t *pool, PropList *list, int first, int end);

// The first slot whose name, or whose name after its first ":", equals name
// ignoring case (only the first prefix_length characters when that is not
// 0); 0 when none matches.
int prop_index_of(const char *name, int prefix_length);

// Splits "<instance>/<name>". The instance is -1 when the key has no "/" or
// the text before it is not a decimal number. The name points into key.
void prop_split_key(const char *key, const char **name, int *instance);

// Every entry as "key: value\n", counts as decimal numbers, in hash order.
const char *prop_dump(apr_pool_t *pool, PropList *list);
