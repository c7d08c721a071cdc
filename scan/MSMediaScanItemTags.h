// MSMediaScanItemTags: the source's tags, view tags and transcode setting
// carried onto its items.
//
// Runs in the scan's medialib transaction on its thread; temporary texts go
// to the pool passed. Logs on "MSMediaScan".
#pragma once

#include <apr_pools.h>
#include <apr_tables.h>

#include "CommonProp.h"
#include "MSMediaScanItem.h"

// Splits a comma-separated tag list (blanks around items ignored) into plain
// tags (tidied when pretty is set) and view tags (items starting with
// "_zentoria.libview." and something after it, stored without the prefix).
void msms_parse_source_tags(apr_pool_t *pool, const char *text, int pretty,
                            apr_array_header_t **tags, apr_array_header_t **view_tags);

// Stores the source's tags, view tags and transcode setting on a new object.
// Returns 0 or 20014 (logged).
int msms_store_tags(apr_pool_t *pool, const ScanContext *scan, const char *oid);

// Brings an existing object (stored: its properties) in line with the
// source: missing tags are added (*reindex set), tags the source no longer
// lists set *rebuild, the transcode setting is rewritten when it differs.
// Returns 0 or 20014 (logged).
int msms_sync_tags(apr_pool_t *pool, const ScanContext *scan, const char *oid, PropList *stored,
                   bool *rebuild, bool *reindex);
