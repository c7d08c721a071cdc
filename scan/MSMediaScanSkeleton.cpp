// The standard container tables: the fixed slot layout with its titles,
// the creation of the skeleton (found again by title on later runs, so the
// ids stay the same), system view paths and reserved top-level names.
#include <apr_strings.h>

#include <array>
#include <cstring>
#include <span>

#include "CommonPropNames.h"
#include "CommonUserMessage.h"
#include "MSDBGraph.h"
#include "MSDBIdPath.h"
#include "MSDBProps.h"
#include "MSMediaScanState.h"
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

constexpr StandardContainer kKindRoots[MEDIA_KINDS] = {{"1", "0/1"}, {"2", "0/2"}, {"3", "0/3"}};

struct ReservedName {
  const char *name;
  const char *oid;
};
constexpr ReservedName kReserved[] = {
    {kProductWord, "0"}, {"Users", "100"}, {"Zentoria Folders", "200"}, {"Zentoria Custom", "300"}, {"Hidden", "400"},
};

StandardContainer g_tables[MEDIA_KINDS][MSMS_SLOTS];

const char *slot_title(int kind, int slot) { return user_message_get(0, kSlots[slot].titles[kind]); }

int fail(const char *message) {
  LOG4C(MSMS_MODULE, LOG4C_ERROR, message);
  return APR_EGENERAL;
}

int create_container(apr_pool_t *pool, MediaLibraryDB *db, const char *parent, const char *title, const char **oid) {
  if (msdb_create_object(pool, db, parent, kSkeletonSource, nullptr, oid) != APR_SUCCESS) {
    return fail("Could not create object");
  }
  if (msdb_add_prop(pool, db, nullptr, *oid, PROP_DC_TITLE, nullptr, title, nullptr) != APR_SUCCESS ||
      msdb_add_prop(pool, db, nullptr, *oid, PROP_UPNP_CLASS, nullptr, kContainerClass, nullptr) != APR_SUCCESS) {
    return fail("Could not assign property");
  }
  return APR_SUCCESS;
}

// Finds the slot's container under its parent slot's, or creates it.
int fill_slot(apr_pool_t *pool, MediaLibraryDB *db, int kind, int slot) {
  const char *title = slot_title(kind, slot);
  if (title == nullptr) return APR_SUCCESS;
  const StandardContainer &parent = g_tables[kind][kSlots[slot].parent];
  if (parent.oid == nullptr) return fail(INTERNAL_ERROR_TEXT);
  const char *names[] = {prop_name(PROP_DC_TITLE), prop_name(PROP_ZENTORIA_IS_CONTAINER)};
  const char *values[] = {title, "1"};
  const char *oid = nullptr;
  if (msdb_find_object(pool, db, parent.oid, 1, 1, 2, names, values, 0, nullptr, &oid, nullptr) != APR_SUCCESS) {
    return fail("Could not fetch object by property value");
  }
  if (oid == nullptr && create_container(pool, db, parent.oid, title, &oid) != APR_SUCCESS) {
    fail("Could not create internal object");
    return fail("Could not create container");
  }
  g_tables[kind][slot] = {oid, msdb_id_join(pool, parent.path, oid)};
  return APR_SUCCESS;
}

}  // namespace

void msms_skeleton_reset() {
  for (int kind = 0; kind < MEDIA_KINDS; kind++) {
    for (StandardContainer &slot : g_tables[kind]) slot = {nullptr, nullptr};
    g_tables[kind][SLOT_ROOT] = kKindRoots[kind];
  }
}

int msms_skeleton_create(apr_pool_t *pool, MediaLibraryDB *db) {
  for (int kind = 0; kind < MEDIA_KINDS; kind++) {
    for (int slot : kCreationOrder[kind]) {
      if (fill_slot(pool, db, kind, slot) != APR_SUCCESS) return APR_EGENERAL;
    }
  }
  return APR_SUCCESS;
}

StandardContainer msms_standard_container(int kind, int slot) {
  if (kind < 0 || kind >= MEDIA_KINDS || slot < 0 || slot >= MSMS_SLOTS) return {nullptr, nullptr};
  msms_state_read_lock();
  StandardContainer found = g_tables[kind][slot];
  msms_state_unlock();
  return found;
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

const char *msms_top_level_oid(const char *name) {
  for (const ReservedName &reserved : kReserved) {
    if (std::strcmp(reserved.name, name) == 0) return reserved.oid;
  }
  const char *found = nullptr;
  msms_state_read_lock();
  for (int slot = SLOT_ROOT; slot < MSMS_SLOTS && found == nullptr; slot++) {
    for (int kind = 0; kind < MEDIA_KINDS && found == nullptr; kind++) {
      const char *title = slot_title(kind, slot);
      if (g_tables[kind][slot].oid != nullptr && title != nullptr && std::strcmp(title, name) == 0) {
        found = g_tables[kind][slot].oid;
      }
    }
  }
  msms_state_unlock();
  return found;
}
