// MSMediaScanViews: the library views (the configuration's `index`
// elements) and the filing of items into them. A view groups the items that
// pass its filters under a parent container by up to six keys; triggered
// views are applied below the leaves of views whose path text starts with
// their trigger. msms_views_build keeps the lists in the library record at
// start-up; filing runs in the caller's medialib transaction on the calling
// thread, with the record it is given. Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "CommonProp.h"
#include "MSConfig.h"
#include "MSMediaScanLibrary.h"

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

// Builds library's untriggered and triggered lists from the configuration's
// views (newest first, as the configuration keeps them), in library's pool,
// and takes the configuration's sort setting of folder views. Returns 0 or
// 20014.
int msms_views_build(ScanLibrary *library, const MSConfig *config);

// Files the item oid (of class item_class) into every view of library it
// passes, creating the grouping containers it needs. props is the property
// list of an item just stored (with its tags), from which the filing takes
// the item's values; null reads them from the database. Returns 0, or 20014
// when a filing failed (logged).
int msms_index_object(apr_pool_t *pool, const ScanLibrary *library, const char *oid, const char *item_class,
                      PropList *props);
