// The standard container tables: the fixed slot layout with its titles and
// the order in which each kind's containers are found or made.
#include "MSMediaScanSkeleton.h"

#include <apr_strings.h>

#include <array>
#include <cstring>
#include <span>

#include "CommonPropNames.h"
#include "CommonUserMessage.h"
#include "MSDBGraph.h"
#include "MSDBIdPath.h"
#include "MSDBProps.h"
#include "MSMediaScanLog.h"
#include "log4c.h"

namespace {

constexpr const char *kSkeletonSource = "0";
constexpr const char *kContainerClass = "object.container";
constexpr const char *kProductWord = "Zentoria";

struct SlotLayout {
  int parent;
  std::array<int, MEDIA_KINDS> titles;  // user-message codes: audio, photo, video; 0 none
};

constexpr std::array<SlotLayout, MSMS_SLOTS> kSlots = {{
    {0, {0, 0, 0}},
    {0, {54, 68, 71}},
    {SLOT_ROOT, {75, 75, 75}},
    {SLOT_ROOT, {76, 76, 76}},
    {SLOT_ROOT, {70, 70, 70}},
    {SLOT_ROOT, {56, 69, 73}},
    {SLOT_INDEXES, {57, 57, 57}},
    {SLOT_INDEXES, {58, 58, 58}},
    {SLOT_INDEXES, {59, 0, 59}},
    {SLOT_INDEXES, {60, 0, 0}},
    {SLOT_INDEXES, {61, 61, 61}},
    {SLOT_INDEXES, {62, 0, 0}},
    {SLOT_INDEXES, {63, 0, 0}},
    {SLOT_INDEXES, {64, 0, 0}},
    {SLOT_INDEXES, {65, 0, 0}},
    {SLOT_INDEXES, {66, 0, 0}},
    {SLOT_INDEXES, {0, 0, 74}},
    {SLOT_ROOT, {77, 77, 77}},
    {SLOT_ROOT, {78, 78, 78}},
}};

// Slots visited per kind; the video Publishers slot is left to the views.
constexpr int kAudioOrder[] = {5, 17, 18, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr int kPhotoOrder[] = {5, 17, 18, 2, 3, 4, 6, 7, 10, 16};
constexpr int kVideoOrder[] = {5, 17, 18, 2, 3, 4, 6, 7, 8, 10};
constexpr std::array<std::span<const int>, MEDIA_KINDS> kCreationOrder = {kAudioOrder, kPhotoOrder, kVideoOrder};

struct ReservedName {
  const char *name;
  const char *oid;
};
constexpr ReservedName kReserved[] = {
    {kProductWord, "0"}, {"Users", "100"}, {"Zentoria Folders", "200"}, {"Zentoria Custom", "300"}, {"Hidden", "400"},
};

const char *slot_title(int kind, int slot) { return user_message_get(0, kSlots[slot].titles[kind]); }

int create_container(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *title, const char **oid) {
  if (msdb_create_object(pool, db, parent, kSkeletonSource, nullptr, oid) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not create object");
  }
  if (msdb_add_prop(pool, db, nullptr, *oid, PROP_DC_TITLE, nullptr, title, nullptr) != APR_SUCCESS ||
      msdb_add_prop(pool, db, nullptr, *oid, PROP_UPNP_CLASS, nullptr, kContainerClass, nullptr) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not assign property");
  }
  return APR_SUCCESS;
}

// Finds the slot's container under its parent slot's, or creates it.
int fill_slot(apr_pool_t *pool, ScanLibrary *library, int kind, int slot) {
  MediaLibraryDB *db = library->db;
  const char *title = slot_title(kind, slot);
  if (title == nullptr) return APR_SUCCESS;
  const StandardContainer &parent = library->tables[kind][kSlots[slot].parent];
  if (parent.oid == nullptr) return log4c_fail(MSMS_MODULE, INTERNAL_ERROR_TEXT);
  const char *oid = nullptr;
  if (msdb_find_child_container(pool, db, parent.oid, title, &oid) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not fetch object by property value");
  }
  if (oid == nullptr && create_container(pool, db, parent.oid, title, &oid) != APR_SUCCESS) {
    log4c_fail(MSMS_MODULE, "Could not create internal object");
    return log4c_fail(MSMS_MODULE, "Could not create container");
  }
  library->tables[kind][slot] = {oid, msdb_id_join(library->pool, parent.path, oid)};
  return APR_SUCCESS;
}

}  // namespace

int msms_skeleton_create(apr_pool_t *pool, ScanLibrary *library) {
  for (int kind = 0; kind < MEDIA_KINDS; kind++) {
    for (int slot : kCreationOrder[kind]) {
      if (fill_slot(pool, library, kind, slot) != APR_SUCCESS) return APR_EGENERAL;
    }
    library->system_views[kind] = msms_system_view_path(library->pool, kind, 0, 0);
  }
  return APR_SUCCESS;
}

StandardContainer msms_standard_container(const ScanLibrary *library, int kind, int slot) {
  if (library == nullptr || kind < 0 || kind >= MEDIA_KINDS || slot < 0 || slot >= MSMS_SLOTS) return {nullptr, nullptr};
  return library->tables[kind][slot];
}

const char *msms_system_view_path(apr_pool_t *pool, int kind, int internet, int playlist) {
  if (kind < 0 || kind >= MEDIA_KINDS) return nullptr;
  const char *root = slot_title(kind, SLOT_ROOT);
  if (internet) {
    const char *last = slot_title(kind, playlist ? SLOT_INTERNET_PLAYLISTS : SLOT_INTERNET);
    return root && last ? apr_psprintf(pool, "%s.%s.%s", kProductWord, root, last) : nullptr;
  }
  const char *indexes = slot_title(kind, SLOT_INDEXES);
  const char *last = slot_title(kind, playlist ? SLOT_PLAYLISTS : SLOT_ALL);
  return root && indexes && last ? apr_psprintf(pool, "%s.%s.%s.%s", kProductWord, root, indexes, last) : nullptr;
}

const char *msms_top_level_oid(const ScanLibrary *library, const char *name) {
  for (const ReservedName &reserved : kReserved) {
    if (std::strcmp(reserved.name, name) == 0) return reserved.oid;
  }
  for (int slot = SLOT_ROOT; slot < MSMS_SLOTS; slot++) {
    for (int kind = 0; kind < MEDIA_KINDS; kind++) {
      const char *title = slot_title(kind, slot);
      if (library->tables[kind][slot].oid != nullptr && title != nullptr && std::strcmp(title, name) == 0) {
        return library->tables[kind][slot].oid;
      }
    }
  }
  return nullptr;
}
