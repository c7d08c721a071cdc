// Tags of a source on its items. An item keeps the tags it was made with; a
// tag added to the source is added to its items on the next scan, while a
// tag removed from the source makes its items be rebuilt, which is the one
// way to take a value out of every view it was filed in.
#include "MSMediaScanItemTags.h"

#include <utility>

#include <apr_strings.h>
#include <strings.h>

#include <cstring>

#include "CommonText.h"
#include "MSDBProps.h"
#include "MSMediaScanLog.h"
#include "log4c.h"

namespace {

constexpr int kMaxTagValues = 100;

bool listed(const apr_array_header_t *values, const char *value) {
  for (int i = 0; i < values->nelts; ++i) {
    if (std::strcmp(APR_ARRAY_IDX(values, i, const char *), value) == 0) return true;
  }
  return false;
}

// Stores the values on the object and adds them to list.
int add_tags(apr_pool_t *pool, const ScanContext *scan, const char *oid, int slot, const apr_array_header_t *values,
             PropList *list) {
  for (int i = 0; i < values->nelts; ++i) {
    const char *value = APR_ARRAY_IDX(values, i, const char *);
    if (msdb_add_prop(pool, scan->db, nullptr, oid, slot, nullptr, value, nullptr) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
    prop_add(pool, list, slot, value);
  }
  return APR_SUCCESS;
}

// Adds the source's values the object lacks; sets *rebuild when the object
// has a value the source no longer lists.
int sync_slot(apr_pool_t *pool, const ScanContext *scan, const char *oid, const PropRows *stored, int slot,
              const apr_array_header_t *wanted, bool *rebuild, bool *reindex) {
  apr_array_header_t *have = apr_array_make(pool, 4, sizeof(const char *));
  const int count = msdb_prop_rows_count(stored, slot);
  for (int i = 0; i < count && i < kMaxTagValues; ++i) {
    const char *value = msdb_prop_rows_get(stored, slot, i);
    if (value == nullptr) continue;
    APR_ARRAY_PUSH(have, const char *) = value;
    if (!listed(wanted, value)) *rebuild = true;
  }
  for (int i = 0; i < wanted->nelts; ++i) {
    const char *value = APR_ARRAY_IDX(wanted, i, const char *);
    if (listed(have, value)) continue;
    if (msdb_add_prop(pool, scan->db, nullptr, oid, slot, nullptr, value, nullptr) != APR_SUCCESS) return APR_EGENERAL;
    *reindex = true;
  }
  return APR_SUCCESS;
}

int sync_transcode(apr_pool_t *pool, const ScanContext *scan, const char *oid, const PropRows *stored) {
  const char *current = msdb_prop_rows_get(stored, PROP_ZENTORIA_TRANSCODE_WHEN, 0);
  if (str_compare(current, scan->transcode_when) == 0) return APR_SUCCESS;
  if (msdb_set_slot(pool, scan->db, oid, PROP_ZENTORIA_TRANSCODE_WHEN, scan->transcode_when) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not alter the value of property zentoria:transcodeWhen");
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

}  // namespace

int msms_store_tags(apr_pool_t *pool, const ScanContext *scan, const char *oid, PropList *list) {
  if (add_tags(pool, scan, oid, PROP_ZENTORIA_TAG, scan->tags, list) != APR_SUCCESS ||
      add_tags(pool, scan, oid, PROP_ZENTORIA_TAG_LIB_VIEW, scan->view_tags, list) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (scan->transcode_when == nullptr) return APR_SUCCESS;
  prop_set(pool, list, PROP_ZENTORIA_TRANSCODE_WHEN, scan->transcode_when);
  return msdb_set_slot(pool, scan->db, oid, PROP_ZENTORIA_TRANSCODE_WHEN, scan->transcode_when);
}

bool msms_tags_lost(const ScanContext *scan, const PropRows *stored) {
  for (const auto &[slot, wanted] : {std::pair{PROP_ZENTORIA_TAG, scan->tags}, {PROP_ZENTORIA_TAG_LIB_VIEW, scan->view_tags}}) {
    const int count = msdb_prop_rows_count(stored, slot);
    for (int i = 0; i < count && i < kMaxTagValues; ++i) {
      const char *value = msdb_prop_rows_get(stored, slot, i);
      if (value != nullptr && !listed(wanted, value)) return true;
    }
  }
  return false;
}

int msms_sync_tags(apr_pool_t *pool, const ScanContext *scan, const char *oid, const PropRows *stored,
                   bool *rebuild, bool *reindex) {
  if (sync_slot(pool, scan, oid, stored, PROP_ZENTORIA_TAG, scan->tags, rebuild, reindex) != APR_SUCCESS ||
      sync_slot(pool, scan, oid, stored, PROP_ZENTORIA_TAG_LIB_VIEW, scan->view_tags, rebuild, reindex) !=
          APR_SUCCESS) {
    return APR_EGENERAL;
  }
  return sync_transcode(pool, scan, oid, stored);
}
