// MSMediaScanViews: the library views (the configuration's `index`
// elements) and the filing of items into them. A view groups the items that
// pass its filters under a parent container by up to six keys; triggered
// views are applied below the leaves of views whose path text starts with
// their trigger. The lists are built once by msms_init in its pool and are
// read-only afterwards; filing runs in the caller's medialib transaction on
// the calling thread. Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "MSConfig.h"

inline constexpr int VIEW_MAX_KEYS = 6;
inline constexpr int VIEW_MAX_FILTERS = 3;
// The key slot of a constant key; its text is in constants[].
inline constexpr int VIEW_KEY_CONSTANT = -1;

struct LibraryView {
  int keys[VIEW_MAX_KEYS];  // property slots, VIEW_KEY_CONSTANT, or 0 when unused
  const char *constants[VIEW_MAX_KEYS];
  int filter_slots[VIEW_MAX_FILTERS];
  const char *filter_values[VIEW_MAX_FILTERS];
  int filter_count;
  const char *parent;  // null when the view has none
  int parent_length;
  const char *trigger;  // null when the view has none
  int trigger_length;
  LibraryView *next;
};

// Turns one `index` element into a view in pool. Returns 0, or 20014 after
// ERROR "Invalid property name %s in index".
int msms_view_parse(apr_pool_t *pool, const MSConfigView *index, LibraryView **view);

// Builds the untriggered and triggered lists from the configuration's views
// (newest first, as the configuration keeps them). Returns 0 or 20014.
int msms_views_build(apr_pool_t *pool, const MSConfigView *views);

// Forgets both lists.
void msms_views_reset();

// Files the item oid (of class item_class) into every view it passes,
// creating the grouping containers it needs. Returns 0, or 20014 when a
// filing failed (logged).
int msms_index_object(apr_pool_t *pool, const char *oid, const char *item_class);

// Sort specification of a view key (a property slot, VIEW_KEY_CONSTANT, or
// 0 for a view without keys): the properties a link is sorted by and its
// direction.
struct ViewSort {
  const char *names[2];
  int count;
  int ascending;
};
ViewSort msms_view_container_sort(int key);
ViewSort msms_view_item_sort(int key, int sort_folder_by_file_name);

// Class of the container made for key when filing an item of item_class.
const char *msms_view_container_class(int key, const char *item_class);
