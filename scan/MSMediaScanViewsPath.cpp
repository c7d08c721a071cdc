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
// remembers the containers it found or created by (parent, title), the
// titles of every child container of a parent it searched, and the
// properties it copied onto them (msms_set_container_prop). The
// memory holds while the database's graph epoch stays (see MSDBConnection):
// a new or rolled-back transaction, or deleted objects or properties, empty
// it. Only this file creates such containers during a scan, and it
// remembers each one it creates, so the newest match stays the remembered one.
#include "MSMediaScanViewsPath.h"

#include <apr_strings.h>

#include <cstring>
#include <string>
#include <unordered_map>

#include "CommonEscape.h"
#include "CommonPropNames.h"
#include "MSDBGraph.h"
#include "MSDBProps.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanSkeleton.h"
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

// What this thread found or wrote: "c" parent "\n" title -> child
// container; "e" parent "\n" escaped title -> child container, complete for
// a parent once "l" parent "\n" is set; "p" container "\n" slot -> the value
// last set.
struct ViewMemory {
  apr_uint64_t epoch = 0;
  std::unordered_map<std::string, std::string> texts;
};
thread_local ViewMemory t_memory;

std::string memory_key(char kind, const char *owner, const char *name) {
  return std::string(1, kind) + owner + '\n' + name;
}

// The remembered text, or null; forgets everything when the epoch moved.
const char *recall(apr_pool_t *pool, MediaLibraryDB *db, const std::string &key) {
  apr_uint64_t epoch = 0;
  if (msdb_graph_epoch(db, &epoch) != APR_SUCCESS) return nullptr;
  if (epoch != t_memory.epoch) {
    t_memory.texts.clear();
    t_memory.epoch = epoch;
    return nullptr;
  }
  auto found = t_memory.texts.find(key);
  return found == t_memory.texts.end() ? nullptr : apr_pstrdup(pool, found->second.c_str());
}

void remember_child(void *context, const char *escaped_title, const char *oid) {
  t_memory.texts[memory_key('e', static_cast<const char *>(context), escaped_title)] = oid;
}

// True when the titles of parent's child containers are remembered (under
// their escaped form, as the database compares them), reading them all in
// one statement the first time: a parent that holds hundreds of containers
// would otherwise be searched child by child for every title it lacks.
bool know_children(apr_pool_t *pool, MediaLibraryDB *db, const char *parent) {
  const std::string key = memory_key('l', parent, "");
  if (recall(pool, db, key) != nullptr) return true;
  if (msdb_child_containers(pool, db, parent, remember_child, const_cast<char *>(parent)) != APR_SUCCESS) return false;
  t_memory.texts[key] = "1";
  return true;
}

}  // namespace

int msms_find_or_create_child(apr_pool_t *pool, const ScanLibrary *library, const char *parent, const char *title,
                              const char *cls, int key_slot, const char **oid) {
  MediaLibraryDB *db = library->db;
  *oid = nullptr;
  const std::string key = memory_key('c', parent, title);
  if (db != nullptr && (*oid = recall(pool, db, key)) != nullptr) return APR_SUCCESS;
  const std::string escaped_key = memory_key('e', parent, xml_escape(pool, title));
  bool known = false;
  if (db != nullptr && know_children(pool, db, parent)) {
    known = true;
    *oid = recall(pool, db, escaped_key);
  }
  if (db == nullptr ||
      (!known && msdb_find_child_container(pool, db, parent, title, oid) != APR_SUCCESS)) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not fetch object by property value");
    return APR_EGENERAL;
  }
  if (*oid == nullptr && create_child(pool, db, parent, title, cls, key_slot, oid) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not create object");
    return APR_EGENERAL;
  }
  t_memory.texts[key] = *oid;
  if (known) t_memory.texts[escaped_key] = *oid;
  return APR_SUCCESS;
}

int msms_set_container_prop(apr_pool_t *pool, const ScanLibrary *library, const char *container, int slot,
                            const char *value) {
  MediaLibraryDB *db = library->db;
  if (db == nullptr) return APR_EGENERAL;
  const std::string key = memory_key('p', container, prop_name(slot));
  const char *known = recall(pool, db, key);
  if (known != nullptr && std::strcmp(known, value) == 0) return APR_SUCCESS;
  if (msdb_set_prop(pool, db, nullptr, container, slot, nullptr, value, nullptr) != APR_SUCCESS) return APR_EGENERAL;
  t_memory.texts[key] = value;
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
