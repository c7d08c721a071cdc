// The connection's memory of fresh objects and counters, in standard
// containers owned through a pool clean-up. Both halves are bounded: a scan
// that creates or counts more than they hold starts them again empty, which
// only costs the look-ups they saved.
#include "MSDBObjectMemory.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "log4c_pool.h"

namespace {

constexpr std::size_t kMaxFreshObjects = 128;
constexpr std::size_t kMaxCounters = 8192;
// Ancestor lists are kept for parents, which are far fewer than items.
constexpr std::size_t kMaxAncestorLists = 1024;
// Leaves outlive their fresh records: an item stays a leaf while the views
// it is filed into create many containers.
constexpr std::size_t kMaxLeaves = 16384;
// Room for a media item's rows from the start: growing the list row by row
// moved every remembered text again at each doubling.
constexpr std::size_t kRowsPerObject = 32;

}  // namespace

struct FreshObject {
  std::vector<RememberedRow> rows;
  std::vector<std::string> sources;
  bool sources_known = true;
  bool has_children = false;
  bool ancestors_known = true;
  std::vector<AncestorRow> ancestors;
};

struct Counter {
  std::string object;
  std::string name;
  std::string text;
  std::string pending_value_oid;  // empty once written
};

struct ObjectMemory {
  apr_uint64_t epoch = 0;
  std::unordered_map<std::string, FreshObject> fresh;
  std::unordered_map<std::string, std::string> edges;  // "parent/child" -> edge oid
  std::unordered_map<std::string, Counter> counters;   // by "object/name"
  std::unordered_map<std::string, std::vector<AncestorRow>> ancestors;
  std::unordered_set<std::string> leaves;  // created in the epoch, no child yet
  std::size_t pending = 0;
  std::unordered_map<std::string, std::size_t> pending_names;  // pending counters by name
  // The "parent/child" and "object/name" keys are built in one kept string:
  // most are longer than a string holds without a block of its own.
  mutable std::string key;

  const std::string &pair_key(const char *first, const char *second) const {
    key.assign(first);
    key += '/';
    key += second;
    return key;
  }

  void count_pending(const Counter &counter, bool add) {
    if (counter.pending_value_oid.empty()) return;
    std::size_t &named = pending_names[counter.name];
    if (add) {
      ++pending;
      ++named;
      return;
    }
    --pending;
    if (--named == 0) pending_names.erase(counter.name);
  }
  void forget_counters() {
    counters.clear();
    pending = 0;
    pending_names.clear();
  }

  void forget_objects() {
    fresh.clear();
    edges.clear();
  }
};

namespace {

// The fresh object oid, or null.
FreshObject *fresh_of(const ObjectMemory *memory, const char *oid) {
  auto found = memory->fresh.find(oid);
  return found == memory->fresh.end() ? nullptr : const_cast<FreshObject *>(&found->second);
}

}  // namespace

ObjectMemory *object_memory_create(apr_pool_t *pool) {
  return pool_new<ObjectMemory>(pool);
}

void object_memory_sync(ObjectMemory *memory, apr_uint64_t epoch) {
  if (memory->epoch == epoch) return;
  memory->forget_objects();
  memory->forget_counters();
  memory->ancestors.clear();
  memory->leaves.clear();
  memory->epoch = epoch;
}

void object_memory_created(ObjectMemory *memory, const char *oid) {
  if (memory->fresh.size() >= kMaxFreshObjects) {
    // The rows of the parents among them stay right when they stop being fresh.
    for (auto &[object, fresh] : memory->fresh) {
      if (fresh.has_children && fresh.ancestors_known && memory->ancestors.size() < kMaxAncestorLists) {
        memory->ancestors[object] = std::move(fresh.ancestors);
      }
    }
    memory->forget_objects();
  }
  FreshObject &fresh = memory->fresh[oid];
  fresh = FreshObject{};
  fresh.rows.reserve(kRowsPerObject);
  if (memory->leaves.size() >= kMaxLeaves) memory->leaves.clear();
  memory->leaves.insert(oid);
}

bool object_memory_fresh(const ObjectMemory *memory, const char *oid) { return fresh_of(memory, oid) != nullptr; }

void object_memory_forget(ObjectMemory *memory, const char *oid) { memory->fresh.erase(oid); }

void object_memory_row_added(ObjectMemory *memory, const char *object, RememberedRow row) {
  if (FreshObject *fresh = fresh_of(memory, object)) fresh->rows.push_back(std::move(row));
}

const std::vector<RememberedRow> *object_memory_rows(const ObjectMemory *memory, const char *object) {
  const FreshObject *fresh = fresh_of(memory, object);
  return fresh == nullptr ? nullptr : &fresh->rows;
}

void object_memory_source_added(ObjectMemory *memory, const char *object, const char *source) {
  if (FreshObject *fresh = fresh_of(memory, object)) fresh->sources.emplace_back(source);
}

bool object_memory_find_source(const ObjectMemory *memory, const char *object, const char *source, bool *held) {
  const FreshObject *fresh = fresh_of(memory, object);
  if (fresh == nullptr || !fresh->sources_known) return false;
  const std::vector<std::string> &sources = fresh->sources;
  *held = std::find(sources.begin(), sources.end(), source) != sources.end();
  return true;
}

void object_memory_forget_sources(ObjectMemory *memory) {
  for (auto &entry : memory->fresh) entry.second.sources_known = false;
}

void object_memory_set_value(ObjectMemory *memory, const char *object, const char *name, const char *value_oid,
                             const char *value) {
  FreshObject *fresh = fresh_of(memory, object);
  if (fresh == nullptr) return;
  for (RememberedRow &row : fresh->rows) {
    if (row.name != name) continue;
    row.value_oid = value_oid;
    row.value = value;
  }
}

void object_memory_edge_added(ObjectMemory *memory, const char *parent, const char *child, const char *edge_oid) {
  FreshObject *fresh_parent = fresh_of(memory, parent);
  if (fresh_parent != nullptr) fresh_parent->has_children = true;
  memory->leaves.erase(parent);
  if (fresh_parent != nullptr || object_memory_fresh(memory, child)) {
    memory->edges[memory->pair_key(parent, child)] = edge_oid;
  }
}

bool object_memory_leaf(const ObjectMemory *memory, const char *object) { return memory->leaves.count(object) != 0; }

const std::vector<AncestorRow> *object_memory_ancestors(const ObjectMemory *memory, const char *object) {
  auto found = memory->ancestors.find(object);
  if (found != memory->ancestors.end()) return &found->second;
  const FreshObject *fresh = fresh_of(memory, object);
  return fresh != nullptr && fresh->ancestors_known ? &fresh->ancestors : nullptr;
}

void object_memory_set_ancestors(ObjectMemory *memory, const char *object, std::vector<AncestorRow> rows) {
  if (memory->ancestors.size() >= kMaxAncestorLists) memory->ancestors.clear();
  memory->ancestors[object] = std::move(rows);
}

void object_memory_leaf_filed(ObjectMemory *memory, const char *object, std::vector<AncestorRow> rows) {
  memory->ancestors.erase(object);
  FreshObject *fresh = fresh_of(memory, object);
  if (fresh == nullptr || !fresh->ancestors_known) return;
  std::vector<AncestorRow> &known = fresh->ancestors;
  if (known.empty()) {
    known = std::move(rows);
    return;
  }
  known.insert(known.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
}

void object_memory_forget_ancestors(ObjectMemory *memory) {
  memory->ancestors.clear();
  for (auto &entry : memory->fresh) {
    entry.second.ancestors_known = false;
    entry.second.ancestors.clear();
  }
}

bool object_memory_find_edge(const ObjectMemory *memory, const char *parent, const char *child,
                             const char **edge_oid) {
  if (!object_memory_fresh(memory, parent) && !object_memory_fresh(memory, child)) return false;
  auto found = memory->edges.find(memory->pair_key(parent, child));
  *edge_oid = found == memory->edges.end() ? nullptr : found->second.c_str();
  return true;
}

const char *object_memory_counter(const ObjectMemory *memory, const char *object, const char *name) {
  auto found = memory->counters.find(memory->pair_key(object, name));
  return found == memory->counters.end() ? nullptr : found->second.text.c_str();
}

bool object_memory_counters_full(const ObjectMemory *memory) { return memory->counters.size() >= kMaxCounters; }

void object_memory_set_counter(ObjectMemory *memory, const char *object, const char *name, const char *text,
                               const char *pending_value_oid) {
  Counter &counter = memory->counters[memory->pair_key(object, name)];
  memory->count_pending(counter, false);
  counter = Counter{object, name, text, pending_value_oid ? pending_value_oid : ""};
  memory->count_pending(counter, true);
}

void object_memory_forget_counter(ObjectMemory *memory, const char *object, const char *name) {
  auto found = memory->counters.find(memory->pair_key(object, name));
  if (found == memory->counters.end()) return;
  memory->count_pending(found->second, false);
  memory->counters.erase(found);
}

void object_memory_forget_counters(ObjectMemory *memory) { memory->forget_counters(); }

bool object_memory_pending(const ObjectMemory *memory) { return memory->pending != 0; }

bool object_memory_pending_name(const ObjectMemory *memory, const char *name) {
  return memory->pending != 0 && memory->pending_names.count(name) != 0;
}

bool object_memory_pending_counter(const ObjectMemory *memory, const char *object, const char *name) {
  if (memory->pending == 0) return false;
  auto found = memory->counters.find(memory->pair_key(object, name));
  return found != memory->counters.end() && !found->second.pending_value_oid.empty();
}

std::vector<PendingCounter> object_memory_take_pending(ObjectMemory *memory) {
  std::vector<PendingCounter> taken;
  if (memory->pending == 0) return taken;
  for (auto &entry : memory->counters) {
    Counter &counter = entry.second;
    if (counter.pending_value_oid.empty()) continue;
    taken.push_back({counter.object, counter.name, counter.pending_value_oid});
    counter.pending_value_oid.clear();
  }
  memory->pending = 0;
  memory->pending_names.clear();
  return taken;
}
