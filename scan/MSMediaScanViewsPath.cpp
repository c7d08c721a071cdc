// Resolution of container titles and dotted title paths to containers.
//
// Design of a dotted path ("Zentoria.Audio.Music Indexes.Artists"): the path
// is split at every "."; empty elements are ignored. The first element is
// looked up without the database when it is a reserved top-level name or the
// title of a standard container; such a path is absolute wherever it is
// used. Otherwise the path starts at the given container, or, for a path
// resolved from the root, at the root object "0" (so a view's own top-level
// container becomes a child of the root). Every further element is the child
// container of the previous one with exactly that title, found by
// (dc:title, zentoria:isContainer = 1) among the children only, newest first,
// and created when missing. The same path therefore always yields the same
// container, and two paths share their common prefix. Titles are never split
// anywhere else: a key value such as "Mr. Big" names one container.
//
// Every item is filed into the same few dozen containers, so each thread
// remembers (MSMediaScanViewsMemory) the containers it found or created by
// parent and title, and the properties it copied onto them
// (msms_set_container_prop), for as long as it keeps using them. Once the
// child containers of a parent were listed, every title created below it
// is marked too, so a title never marked is missing without asking the
// database; a marked one the memory forgot is looked up alone. The memory
// holds while the database's graph epoch stays (see MSDBConnection): a new
// or rolled-back transaction, or deleted objects or properties, empty it.
// Only this file creates such containers during a scan, and it marks each
// one it creates, so the newest match stays the remembered one.
#include "MSMediaScanViewsPath.h"

#include <apr_strings.h>

#include <cstring>
#include <string>

#include "CommonEscape.h"
#include "CommonNumbers.h"
#include "CommonPropNames.h"
#include "MSDBGraph.h"
#include "MSDBProps.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanSkeleton.h"
#include "MSMediaScanViewsMemory.h"
#include "MSMediaScanViewsTables.h"
#include "log4c.h"

namespace {

constexpr const char *kViewSource = "1";
constexpr const char *kRoot = "0";

int create_child(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *title, const char *cls,
                 int key_slot, const char **oid) {
  if (msdb_create_object(pool, db, nullptr, kViewSource, nullptr, oid) != APR_SUCCESS ||
      msdb_add_prop(pool, db, nullptr, *oid, PROP_DC_TITLE, nullptr, title, nullptr) != APR_SUCCESS ||
      msdb_add_prop(pool, db, nullptr, *oid, PROP_UPNP_CLASS, nullptr, cls, nullptr) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  ViewSort sort = msms_view_container_sort(key_slot);
  return msdb_add_sorted_edge(pool, db, parent, *oid, 0, sort.names, sort.count, sort.ascending, nullptr, nullptr);
}

// Keys: "e" parent "\n" escaped title -> child container; "p" container
// "\n" property name -> the value last set.
thread_local ViewMemory t_memory;

// Built in one block: a key is looked up for every key value of every item filed.
std::string memory_key(char kind, const char *owner, const char *name) {
  const std::size_t owner_length = std::strlen(owner), name_length = std::strlen(name);
  std::string key;
  key.reserve(owner_length + name_length + 2);
  key += kind;
  key.append(owner, owner_length);
  key += '\n';
  key.append(name, name_length);
  return key;
}

// This thread's memory, emptied when the epoch moved; null when the epoch
// cannot be read.
ViewMemory *memory_of(MediaLibraryDB *db) {
  apr_uint64_t epoch = 0;
  if (msdb_graph_epoch(db, &epoch) != APR_SUCCESS) return nullptr;
  t_memory.sync(epoch);
  return &t_memory;
}

const char *recall(apr_pool_t *pool, ViewMemory *memory, const std::string &key) {
  const std::string *text = memory != nullptr ? memory->recall(key) : nullptr;
  return text != nullptr ? apr_pstrdup(pool, text->c_str()) : nullptr;
}

void remember_child(void *context, const char *escaped_title, const char *oid) {
  const std::string key = memory_key('e', static_cast<const char *>(context), escaped_title);
  t_memory.mark(key);
  t_memory.remember(key, oid);
}

// True when the titles of parent's child containers are marked (under their
// escaped form, as the database compares them), reading them all in one
// statement the first time: a parent that holds hundreds of containers
// would otherwise be searched child by child for every title it lacks.
bool know_children(apr_pool_t *pool, MediaLibraryDB *db, ViewMemory *memory, const char *parent) {
  apr_int64_t number = 0;
  if (memory == nullptr || !parse_int64(parent, &number)) return false;
  if (memory->listed(static_cast<std::uint64_t>(number))) return true;
  if (msdb_child_containers(pool, db, parent, remember_child, const_cast<char *>(parent)) != APR_SUCCESS) return false;
  memory->set_listed(static_cast<std::uint64_t>(number));
  return true;
}

}  // namespace

int msms_find_or_create_child(apr_pool_t *pool, const ScanLibrary *library, const char *parent, const char *title,
                              const char *cls, int key_slot, const char **oid) {
  MediaLibraryDB *db = library->db;
  *oid = nullptr;
  if (db == nullptr) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not fetch object by property value");
    return APR_EGENERAL;
  }
  ViewMemory *memory = memory_of(db);
  const std::string key = memory_key('e', parent, xml_escape(pool, title));
  if ((*oid = recall(pool, memory, key)) != nullptr) return APR_SUCCESS;
  const bool missing = know_children(pool, db, memory, parent) && !memory->may_exist(key);
  if (!missing && msdb_find_child_container(pool, db, parent, title, oid) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not fetch object by property value");
    return APR_EGENERAL;
  }
  const bool create = *oid == nullptr;
  if (create && create_child(pool, db, parent, title, cls, key_slot, oid) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not create object");
    return APR_EGENERAL;
  }
  if (memory != nullptr) {
    memory->mark(key);
    memory->remember(key, *oid);
    // A new container's child containers are known: none yet, and later
    // ones are made here and marked.
    apr_int64_t number = 0;
    if (create && parse_int64(*oid, &number)) memory->set_listed(static_cast<std::uint64_t>(number));
  }
  return APR_SUCCESS;
}

int msms_set_container_prop(apr_pool_t *pool, const ScanLibrary *library, const char *container, int slot,
                            const char *value) {
  MediaLibraryDB *db = library->db;
  if (db == nullptr) return APR_EGENERAL;
  ViewMemory *memory = memory_of(db);
  const std::string key = memory_key('p', container, prop_name(slot));
  const std::string *known = memory != nullptr ? memory->recall(key) : nullptr;
  if (known != nullptr && *known == value) return APR_SUCCESS;
  if (msdb_set_slot(pool, db, container, slot, value) != APR_SUCCESS) return APR_EGENERAL;
  if (memory != nullptr) memory->remember(key, value);
  return APR_SUCCESS;
}

int msms_find_or_create_path(apr_pool_t *pool, const ScanLibrary *library, const char *start, const char *path,
                             const char **oid) {
  char *elements = apr_pstrdup(pool, path);
  char *state = nullptr;
  char *element = apr_strtok(elements, ".", &state);
  if (element == nullptr) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not fetch/create object by path %s", path));
    return APR_EGENERAL;
  }
  const char *current = msms_top_level_oid(library, element);
  if (current != nullptr) {
    element = apr_strtok(nullptr, ".", &state);
  } else {
    current = start != nullptr ? start : kRoot;
  }
  for (; element != nullptr; element = apr_strtok(nullptr, ".", &state)) {
    if (msms_find_or_create_child(pool, library, current, element, "object.container", 0, &current) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
  }
  *oid = current;
  return APR_SUCCESS;
}
