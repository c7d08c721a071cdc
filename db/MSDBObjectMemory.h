// MSDBObjectMemory: what one medialib connection knows for certain, inside
// its current transaction, about the objects it created there and the
// counters it wrote, and the ancestor rows of the parents it filed under,
// so that storing and filing an item does not ask the database what the
// connection itself has just written or read.
//
// A fresh object is one created by this connection in the current graph
// epoch: every property row, edge and source association it has was written
// through this connection since, and is remembered here. Writes the memory
// does not model make the object an ordinary one again (forgotten), and
// anything that moves the graph epoch (a transaction begun or rolled back,
// deletions) empties the whole memory; a scan's continued transactions keep
// it. Counters (such as "@childCount") of any object are remembered by object
// and name once read or written, and may be pending (see MSDBCounters).
//
// One memory per DBThreadConnection, owned by the connection's pool and used
// by its thread only, and only inside a transaction: what it knows would go
// stale once another writer may run. Texts are copied in.
#pragma once

#include <apr.h>
#include <apr_pools.h>

#include <string>
#include <vector>

struct ObjectMemory;

// A new, empty memory, destroyed with pool.
ObjectMemory *object_memory_create(apr_pool_t *pool);

// One remembered property row.
struct RememberedRow {
  std::string row_oid;
  std::string name_oid;
  std::string value_oid;
  std::string parent_prop;  // empty for an element row
  std::string name;
  std::string value;  // as stored (escaped)
};

// Forgets everything unless epoch is the one the memory was filled under.
void object_memory_sync(ObjectMemory *memory, apr_uint64_t epoch);

// oid was just created and has no row and no edge yet.
void object_memory_created(ObjectMemory *memory, const char *oid);
bool object_memory_fresh(const ObjectMemory *memory, const char *oid);
// oid is no longer fresh (a write the memory does not follow).
void object_memory_forget(ObjectMemory *memory, const char *oid);

// Records a row inserted for a fresh object (ignored for any other).
void object_memory_row_added(ObjectMemory *memory, const char *object, RememberedRow row);
// The rows of a fresh object, in the order they were inserted; null when the
// object is not fresh.
const std::vector<RememberedRow> *object_memory_rows(const ObjectMemory *memory, const char *object);
// Gives every row of name (any parent) of a fresh object a new value.
void object_memory_set_value(ObjectMemory *memory, const char *object, const char *name, const char *value_oid,
                             const char *value);

// Media sources of a fresh object: recorded when associated; a look-up
// answers whether object is held by source, false when the memory cannot
// tell. Associations made for a whole subtree are not followed: forgetting
// the sources of every fresh object covers them.
void object_memory_source_added(ObjectMemory *memory, const char *object, const char *source);
bool object_memory_find_source(const ObjectMemory *memory, const char *object, const char *source, bool *held);
void object_memory_forget_sources(ObjectMemory *memory);

// Edges with a fresh end: recorded when made; a look-up answers whether the
// edge exists (with its oid) when either end is fresh, and returns false
// when the memory cannot tell.
void object_memory_edge_added(ObjectMemory *memory, const char *parent, const char *child, const char *edge_oid);
bool object_memory_find_edge(const ObjectMemory *memory, const char *parent, const char *child,
                             const char **edge_oid);

// Whether object was created in the epoch and has no child yet (also once it
// is no longer fresh): an edge to it gives ancestor rows to it alone.
bool object_memory_leaf(const ObjectMemory *memory, const char *object);

// One ancestor row of an object: the ancestor and the path of oids between.
struct AncestorRow {
  apr_int64_t ancestor;
  std::string path;
};
// The order the closure statement adds a leaf's rows in.
inline bool ancestor_row_before(const AncestorRow &a, const AncestorRow &b) {
  return a.ancestor != b.ancestor ? a.ancestor < b.ancestor : a.path < b.path;
}
// The ancestor rows of object, in no particular order (an item filed under
// many containers gets rows for each, and keeping them merged cost more
// than all their readers); null when not remembered. A fresh object's rows
// are known from its creation on, as its edges add them (leaf_filed);
// others' once read (set_ancestors). Lists are dropped when the graph epoch
// moves and when an edge may change many objects' rows (forget_ancestors).
const std::vector<AncestorRow> *object_memory_ancestors(const ObjectMemory *memory, const char *object);
void object_memory_set_ancestors(ObjectMemory *memory, const char *object, std::vector<AncestorRow> rows);
// rows were just added for the leaf object.
void object_memory_leaf_filed(ObjectMemory *memory, const char *object, std::vector<AncestorRow> rows);
void object_memory_forget_ancestors(ObjectMemory *memory);

// Counters by object and name: the current decimal text, or null when
// unknown. A counter set with a value oid is pending: its row still holds an
// older value until the pending counters are taken and written.
const char *object_memory_counter(const ObjectMemory *memory, const char *object, const char *name);
bool object_memory_counters_full(const ObjectMemory *memory);
void object_memory_set_counter(ObjectMemory *memory, const char *object, const char *name, const char *text,
                               const char *pending_value_oid);
// Forgetting a counter drops a pending value with it: write it first.
void object_memory_forget_counter(ObjectMemory *memory, const char *object, const char *name);
void object_memory_forget_counters(ObjectMemory *memory);

struct PendingCounter {
  std::string object;
  std::string name;
  std::string value_oid;
};
bool object_memory_pending(const ObjectMemory *memory);
// Whether a pending counter has this name.
bool object_memory_pending_name(const ObjectMemory *memory, const char *name);
bool object_memory_pending_counter(const ObjectMemory *memory, const char *object, const char *name);
// The pending counters, which stop being pending.
std::vector<PendingCounter> object_memory_take_pending(ObjectMemory *memory);
