// Library views: parsing of the configuration's `index` elements and the
// filing of one item into the views, key by key.
//
// Values of the keys zentoria:systagLibView and zentoria:tagLibView are
// dotted container paths (an item's system view path names its standard
// container); every other key value is one container title. A triggered
// view whose parent text starts with a reserved name or standard title (as
// the example configuration's "Zentoria.Audio.Music Indexes.Artists" does)
// is filed under that absolute container; any other parent text is resolved
// below the leaf that triggered it. A triggered view is never applied again
// inside its own filing, so a view whose parent lies under its own trigger
// cannot recurse without end.
#include "MSMediaScanViews.h"

#include <apr_strings.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

#include "CommonEscape.h"
#include "CommonPath.h"
#include "CommonProp.h"
#include "CommonSortKey.h"
#include "CommonText.h"
#include "MSDBGraph.h"
#include "MSDBProps.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanViewsPath.h"
#include "MSMediaScanViewsTables.h"
#include "log4c.h"

namespace {

constexpr int kMaxKeyValues = 10;
constexpr int kMaxFilterValues = 20;

// The item being filed and the triggered views already applied above.
// Filing writes only containers and links, never the item's own
// properties, so what it reads of the item is read once per filing: from
// the property list of a new item, or else from the database.
struct Filing {
  apr_pool_t *pool;
  const ScanLibrary *library;
  MediaLibraryDB *db;
  const char *oid;
  const char *item_class;
  PropList *props;  // null: the item's properties are read from the database
  int sort_folder_by_file_name;
  std::vector<const LibraryView *> active;
  std::unordered_map<int, std::vector<const char *>> values;  // by slot, at most kMaxFilterValues
  std::vector<std::pair<ViewSort, const char *>> sort_keys;  // an item meets a few sorts at most
};

bool same_sort(const ViewSort &a, const ViewSort &b) {
  if (a.ascending != b.ascending || a.count != b.count) return false;
  for (int i = 0; i < a.count; i++) {
    if (std::strcmp(a.names[i], b.names[i]) != 0) return false;
  }
  return true;
}

// A listed value as the database gives it back: stored escaped (text that
// already reads as an entity stays as it is) and unescaped when read.
const char *as_read_back(apr_pool_t *pool, const char *value) {
  return xml_unescape(pool, xml_escape(pool, value));
}

void listed_values(Filing &f, int slot, std::vector<const char *> *values) {
  const int count = prop_count(f.props, slot);
  for (int i = 0; i < count && static_cast<int>(values->size()) < kMaxFilterValues; i++) {
    const char *value = prop_get(f.pool, f.props, slot, i);
    if (value != nullptr) values->push_back(as_read_back(f.pool, value));
  }
}

// Up to kMaxFilterValues values of the item's property slot, taken on first use.
int item_values(Filing &f, int slot, const std::vector<const char *> **values) {
  auto known = f.values.find(slot);
  if (known == f.values.end()) {
    std::vector<const char *> taken;
    if (f.props != nullptr) {
      listed_values(f, slot, &taken);
    } else {
      const char *read[kMaxFilterValues];
      int count = kMaxFilterValues;
      if (msdb_get_prop_values(f.pool, f.db, f.oid, slot, nullptr, 0, read, &count) != APR_SUCCESS) {
        return APR_EGENERAL;
      }
      taken.assign(read, read + count);
    }
    known = f.values.emplace(slot, std::move(taken)).first;
  }
  *values = &known->second;
  return APR_SUCCESS;
}

// The ordinal msdb_sort_key gives, made from the item's list: the first
// values of the sort's properties in their stored form, a missing one as
// empty text.
const char *listed_sort_key(Filing &f, const ViewSort &sort) {
  const char *joined = nullptr;
  for (int i = 0; i < sort.count; i++) {
    const char *value = prop_get(f.pool, f.props, sort.names[i], 0);
    value = value != nullptr ? xml_escape(f.pool, value) : "";
    joined = joined == nullptr ? value : apr_pstrcat(f.pool, joined, " ", value, nullptr);
  }
  return sort_key(f.pool, joined, sort.ascending);
}

// Links the item under container with the ordinal of sort, made once per filing.
int link_item(Filing &f, const char *container, const ViewSort &sort) {
  auto known = std::find_if(f.sort_keys.begin(), f.sort_keys.end(),
                            [&sort](const std::pair<ViewSort, const char *> &made) { return same_sort(made.first, sort); });
  if (known == f.sort_keys.end()) {
    const char *key = f.props != nullptr
                          ? listed_sort_key(f, sort)
                          : msdb_sort_key(f.pool, f.db, f.oid, sort.names, sort.count, sort.ascending, nullptr);
    known = f.sort_keys.insert(f.sort_keys.end(), {sort, key});
  }
  return msdb_add_keyed_edge(f.pool, f.db, container, f.oid, 1, known->second, nullptr);
}

void parse_keys(apr_pool_t *pool, const char *props, LibraryView *view, int *status) {
  char *state = nullptr;
  int count = 0;
  for (char *entry = apr_strtok(apr_pstrdup(pool, props), ",", &state); entry && count < VIEW_MAX_KEYS;
       entry = apr_strtok(nullptr, ",", &state)) {
    entry = str_trim(entry);
    if (entry[0] == '=') {
      view->keys[count] = VIEW_KEY_CONSTANT;
      view->constants[count++] = entry + 1;
      continue;
    }
    int slot = prop_index_of(entry, 0);
    if (slot == 0) {
      LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Invalid property name %s in index", entry));
      *status = APR_EGENERAL;
      return;
    }
    view->keys[count++] = slot;
  }
}

void parse_filters(apr_pool_t *pool, const char *filter, LibraryView *view) {
  char *state = nullptr;
  for (char *item = apr_strtok(apr_pstrdup(pool, filter), ",", &state);
       item != nullptr && view->filter_count < VIEW_MAX_FILTERS; item = apr_strtok(nullptr, ",", &state)) {
    char *equals = std::strchr(item, '=');
    if (equals == nullptr) continue;
    *equals = '\0';
    int slot = prop_index_of(str_rtrim(item), 0);
    if (slot == 0) continue;
    view->filter_slots[view->filter_count] = slot;
    view->filter_values[view->filter_count++] = str_skip_space(equals + 1);
  }
}

void set_parent_and_trigger(apr_pool_t *pool, const MSConfigView *index, LibraryView *view) {
  const bool has_parent = index->parent != nullptr && index->parent[0] != '\0';
  view->parent = has_parent ? index->parent : nullptr;
  view->parent_length = has_parent ? static_cast<int>(std::strlen(index->parent)) : 0;
  const char *trigger = index->trigger != nullptr && index->trigger[0] != '\0' ? index->trigger : nullptr;
  const char *last_dot = has_parent ? std::strrchr(index->parent, '.') : nullptr;
  if (trigger == nullptr && last_dot != nullptr) trigger = apr_pstrndup(pool, index->parent, last_dot - index->parent);
  view->trigger = trigger;
  view->trigger_length = trigger != nullptr ? static_cast<int>(std::strlen(trigger)) : 0;
}

// A filter passes when one of the item's values equals it ignoring case; a
// failed read lets the item pass.
bool passes_filters(Filing &f, const LibraryView *view) {
  for (int i = 0; i < view->filter_count; i++) {
    const std::vector<const char *> *values = nullptr;
    const int slot = view->filter_slots[i];
    if (item_values(f, slot, &values) != APR_SUCCESS) {
      LOG4C(MSMS_MODULE, LOG4C_ERROR,
            log4c_sprintf("Could not get values of prop %s for object %s", prop_name(slot), f.oid));
      return true;
    }
    const char *wanted = view->filter_values[i];
    if (std::none_of(values->begin(), values->end(), [wanted](const char *v) { return strcasecmp(v, wanted) == 0; })) {
      return false;
    }
  }
  return true;
}

bool is_path_key(int key) { return key == PROP_ZENTORIA_SYSTAG_LIB_VIEW || key == PROP_ZENTORIA_TAG_LIB_VIEW; }

// The item's first value of slot, null when it has none.
int first_value(Filing &f, int slot, const char **value) {
  const std::vector<const char *> *values = nullptr;
  if (item_values(f, slot, &values) != APR_SUCCESS) return APR_EGENERAL;
  *value = values->empty() ? nullptr : values->front();
  return APR_SUCCESS;
}

// Album art on music albums, the full path on folders made for zentoria:folder.
int copy_container_props(Filing &f, const char *container, int key, const char *cls, const char *value) {
  if (std::strcmp(cls, "object.container.album.musicAlbum") == 0) {
    for (int slot : {PROP_ZENTORIA_ART_LARGE, PROP_ZENTORIA_ART_SMALL}) {
      const char *art = nullptr;
      if (first_value(f, slot, &art) != APR_SUCCESS) return APR_EGENERAL;
      if (art != nullptr && msms_set_container_prop(f.pool, f.library, container, slot, art) != APR_SUCCESS) return APR_EGENERAL;
    }
  }
  if (key != PROP_ZENTORIA_FOLDER) return APR_SUCCESS;
  const char *base = nullptr;
  if (first_value(f, PROP_ZENTORIA_BASE_PATH, &base) != APR_SUCCESS) return APR_EGENERAL;
  const char *full = apr_pstrcat(f.pool, "file://", path_canonical(f.pool, apr_pstrcat(f.pool, base ? base : "", value, nullptr)), nullptr);
  return msms_set_container_prop(f.pool, f.library, container, PROP_ZENTORIA_FULL_PATH, full);
}

int file_at_depth(Filing &f, const LibraryView *view, int depth, const char *container, const char *path_text);

// The grouping container of one key value, filed into at the next depth.
int file_value(Filing &f, const LibraryView *view, int depth, const char *container, const char *path_text,
               const char *value) {
  const int key = view->keys[depth];
  const char *cls = msms_view_container_class(key, f.item_class);
  const char *child = nullptr;
  int status = container == nullptr || is_path_key(key)
                   ? msms_find_or_create_path(f.pool, f.library, container, value, &child)
                   : msms_find_or_create_child(f.pool, f.library, container, value, cls, key, &child);
  if (status == APR_SUCCESS && !is_path_key(key)) status = copy_container_props(f, child, key, cls, value);
  if (status != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not create object");
    return APR_EGENERAL;
  }
  const char *text = path_text != nullptr ? apr_pstrcat(f.pool, path_text, ".", value, nullptr) : value;
  return file_at_depth(f, view, depth + 1, child, text);
}

int file_by_key(Filing &f, const LibraryView *view, int depth, const char *container, const char *path_text) {
  const int key = view->keys[depth];
  const char *const *values = &view->constants[depth];
  int count = 1;
  if (key != VIEW_KEY_CONSTANT) {
    const std::vector<const char *> *read = nullptr;
    if (item_values(f, key, &read) != APR_SUCCESS) return APR_EGENERAL;
    values = read->data();
    count = std::min(static_cast<int>(read->size()), kMaxKeyValues);
  }
  if (count == 0) {
    LOG4C(MSMS_MODULE, LOG4C_DEBUG,
          log4c_sprintf("Could not index object by property %s since it was not assigned a value", prop_name(key)));
    return APR_SUCCESS;
  }
  for (int i = 0; i < count; i++) {
    if (file_value(f, view, depth, container, path_text, values[i]) != APR_SUCCESS) return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

bool is_active(const Filing &f, const LibraryView *view) {
  for (const LibraryView *active : f.active) {
    if (active == view) return true;
  }
  return false;
}

// Applies the triggered views whose trigger starts the leaf's path text.
int apply_triggered(Filing &f, const char *leaf, const char *path_text) {
  for (const LibraryView *view = f.library->triggered; view != nullptr; view = view->next) {
    if (path_text == nullptr || std::strncmp(view->trigger, path_text, view->trigger_length) != 0) continue;
    if (is_active(f, view) || !passes_filters(f, view)) continue;
    const char *container = nullptr;
    if (view->parent != nullptr && msms_find_or_create_path(f.pool, f.library, leaf, view->parent, &container) != APR_SUCCESS) {
      LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not fetch/create object by path");
      return APR_EGENERAL;
    }
    f.active.push_back(view);
    int status = file_at_depth(f, view, 0, view->parent != nullptr ? container : leaf, view->parent);
    f.active.pop_back();
    if (status != APR_SUCCESS) return status;
  }
  return APR_SUCCESS;
}

int file_at_depth(Filing &f, const LibraryView *view, int depth, const char *container, const char *path_text) {
  if (depth < VIEW_MAX_KEYS && view->keys[depth] != 0) return file_by_key(f, view, depth, container, path_text);
  if (container == nullptr) return APR_SUCCESS;  // a view with neither parent nor keys holds nothing
  ViewSort sort = msms_view_item_sort(depth > 0 ? view->keys[depth - 1] : 0, f.sort_folder_by_file_name);
  if (link_item(f, container, sort) != APR_SUCCESS) return APR_EGENERAL;
  return apply_triggered(f, container, path_text);
}

// Files the item into every view that is not triggered by another.
int file_views(Filing &f) {
  int status = APR_SUCCESS;
  for (const LibraryView *view = f.library->untriggered; view != nullptr && status == APR_SUCCESS; view = view->next) {
    if (!passes_filters(f, view)) continue;
    const char *container = nullptr;
    if (view->parent != nullptr &&
        msms_find_or_create_path(f.pool, f.library, nullptr, view->parent, &container) != APR_SUCCESS) {
      return log4c_fail(MSMS_MODULE, log4c_sprintf("Could not get/create %s", view->parent));
    }
    status = file_at_depth(f, view, 0, container, view->parent);
  }
  return status;
}

}  // namespace

int msms_view_parse(apr_pool_t *pool, const MSConfigView *index, LibraryView **view) {
  auto *made = static_cast<LibraryView *>(apr_pcalloc(pool, sizeof(LibraryView)));
  int status = APR_SUCCESS;
  if (index->props != nullptr) parse_keys(pool, index->props, made, &status);
  if (status != APR_SUCCESS) return status;
  if (index->filter != nullptr) parse_filters(pool, index->filter, made);
  set_parent_and_trigger(pool, index, made);
  *view = made;
  return APR_SUCCESS;
}

int msms_views_build(ScanLibrary *library, const MSConfig *config) {
  LibraryView *untriggered = nullptr, *triggered = nullptr;
  LibraryView **untriggered_tail = &untriggered, **triggered_tail = &triggered;
  for (const MSConfigView *index = config->views; index != nullptr; index = index->next) {
    LibraryView *view = nullptr;
    if (msms_view_parse(library->pool, index, &view) != APR_SUCCESS) return APR_EGENERAL;
    LibraryView ***tail = view->trigger != nullptr ? &triggered_tail : &untriggered_tail;
    **tail = view;
    *tail = &view->next;
  }
  library->untriggered = untriggered;
  library->triggered = triggered;
  library->sort_folder_by_file_name = config->sort_folder_by_file_name;
  return APR_SUCCESS;
}

int msms_index_object(apr_pool_t *pool, const ScanLibrary *library, const char *oid, const char *item_class,
                      PropList *props) {
  Filing f{pool, library, library->db, oid, item_class, props, library->sort_folder_by_file_name, {}, {}, {}};
  msdb_edges_hold(library->db, oid);
  int status = file_views(f);
  // Written whatever the status: a failed filing leaves what it wrote for
  // the caller, as each edge written at once did.
  return msdb_edges_write(pool, library->db) == APR_SUCCESS ? status : APR_EGENERAL;
}
