// One folder tree's objects by url (see the header).
#include "MSMediaScanPrefetch.h"

#include <apr_hash.h>
#include <apr_strings.h>

#include <atomic>
#include <cstring>

#include <iterator>

#include "CommonPropNames.h"
#include "MSDBPrefixFind.h"
#include "MSDBProps.h"
#include "MSMediaScanLog.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

// What the turn of a file with an object reads of the object: its class,
// the tags and the transcoding choice of its source, the folders it was
// found in and its album art with what the art is found by.
constexpr PropSlot kCheckedProps[] = {PROP_UPNP_CLASS,          PROP_ZENTORIA_TAG,         PROP_ZENTORIA_TAG_LIB_VIEW,
                                      PROP_ZENTORIA_TRANSCODE_WHEN, PROP_ZENTORIA_FOLDER,  PROP_ZENTORIA_RAW_ALBUM,
                                      PROP_UPNP_ALBUM,          PROP_ZENTORIA_WMP_GUID,    PROP_ZENTORIA_ART_LARGE,
                                      PROP_ZENTORIA_ART_SMALL};

// Urls per look-up: a few MiB of answers at most.
constexpr int kPrefetchLimit = 4096;
// Module state: the limit msms_prefetch_set_limit sets.
std::atomic<int> g_limit{kPrefetchLimit};

}  // namespace

struct ScanPrefetch {
  apr_pool_t *parent;
  const char *source;  // the scanned source's oid
  apr_pool_t *pool;    // the covered tree's answers; null while none is covered
  const char *prefix;  // "file://" url of the covered folder, ending in "/"
  apr_hash_t *by_url;  // url -> Known
};

namespace {

struct Known {
  const char *oid;
  const char *signature;
  bool held;
  const PropRows *stored;
};

// The rows of an object the source holds without any checked property.
constexpr PropRows kNoRows{nullptr, 0};

Known *remember(ScanPrefetch *prefetch, const PrefixMatch &match) {
  auto *known = static_cast<Known *>(apr_palloc(prefetch->pool, sizeof(Known)));
  *known = Known{match.oid, match.signature, match.held, nullptr};
  apr_hash_set(prefetch->by_url, match.value, APR_HASH_KEY_STRING, known);
  return known;
}

// The checked properties of the objects the source holds, kept as rows: as
// lists they took four times the memory; an object without any gets no rows.
bool fetch_stored(ScanPrefetch *prefetch, MediaLibraryDB *db, apr_array_header_t *held) {
  const char **oids = static_cast<const char **>(apr_palloc(prefetch->pool, sizeof(char *) * (held->nelts + 1)));
  for (int i = 0; i < held->nelts; ++i) oids[i] = APR_ARRAY_IDX(held, i, Known *)->oid;
  apr_hash_t *found = nullptr;
  if (msms_fetch_checked_props(prefetch->pool, db, oids, held->nelts, &found) != APR_SUCCESS) return false;
  for (int i = 0; i < held->nelts; ++i) {
    Known *known = APR_ARRAY_IDX(held, i, Known *);
    known->stored = static_cast<const PropRows *>(apr_hash_get(found, known->oid, APR_HASH_KEY_STRING));
    if (known->stored == nullptr) known->stored = &kNoRows;
  }
  return true;
}

}  // namespace

void msms_prefetch_set_limit(int limit) { g_limit = limit; }

ScanPrefetch *msms_prefetch_create(apr_pool_t *pool, const char *source) {
  auto *prefetch = static_cast<ScanPrefetch *>(apr_pcalloc(pool, sizeof(ScanPrefetch)));
  prefetch->parent = pool;
  prefetch->source = apr_pstrdup(pool, source);
  return prefetch;
}

namespace {

// The "file://" url of folder, ending in "/".
const char *folder_prefix(apr_pool_t *pool, const char *folder) {
  const std::size_t length = std::strlen(folder);
  const bool slash = length > 0 && folder[length - 1] == '/';
  return apr_pstrcat(pool, "file://", folder, slash ? "" : "/", nullptr);
}

bool covered(const ScanPrefetch *prefetch, const char *url) {
  return prefetch->pool != nullptr && std::strncmp(url, prefetch->prefix, std::strlen(prefetch->prefix)) == 0;
}

}  // namespace

bool msms_prefetch_covers(const ScanPrefetch *prefetch, const char *folder) {
  Pool scratch(prefetch->parent, MSMS_MODULE);
  return covered(prefetch, folder_prefix(scratch, folder));
}

void msms_prefetch_enter(ScanPrefetch *prefetch, MediaLibraryDB *db, const char *folder) {
  if (prefetch == nullptr) return;
  Pool scratch(prefetch->parent, MSMS_MODULE);
  const char *prefix = folder_prefix(scratch, folder);
  if (covered(prefetch, prefix)) return;
  if (prefetch->pool != nullptr) apr_pool_destroy(prefetch->pool);
  prefetch->pool = nullptr;
  apr_pool_t *pool = pool_create_or_die(prefetch->parent, MSMS_MODULE);
  apr_array_header_t *matches = nullptr;
  bool complete = false;
  if (msdb_find_objects_by_prefix(pool, db, "res", prefix, prefetch->source, g_limit, &matches, &complete) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Could not look up the objects below %s", folder));
  }
  if (matches == nullptr || !complete) {
    apr_pool_destroy(pool);
    return;
  }
  prefetch->pool = pool;
  prefetch->prefix = apr_pstrdup(pool, prefix);
  prefetch->by_url = apr_hash_make(pool);
  apr_array_header_t *held = apr_array_make(scratch, matches->nelts, sizeof(Known *));
  for (int i = 0; i < matches->nelts; ++i) {
    Known *known = remember(prefetch, APR_ARRAY_IDX(matches, i, PrefixMatch));
    if (known->held) APR_ARRAY_PUSH(held, Known *) = known;
  }
  if (!fetch_stored(prefetch, db, held)) {
    apr_pool_destroy(pool);
    prefetch->pool = nullptr;
  }
}

bool msms_prefetch_find(const ScanPrefetch *prefetch, const char *url, const char **oid, const char **signature,
                        const PropRows **stored, bool *held) {
  if (!covered(prefetch, url)) return false;
  const auto *known = static_cast<const Known *>(apr_hash_get(prefetch->by_url, url, APR_HASH_KEY_STRING));
  *oid = known != nullptr ? known->oid : nullptr;
  *signature = known != nullptr ? known->signature : nullptr;
  *stored = known != nullptr ? known->stored : nullptr;
  *held = known != nullptr && known->held;
  return true;
}

int msms_fetch_checked_props(apr_pool_t *pool, MediaLibraryDB *db, const char *const *oids, int count,
                             apr_hash_t **found) {
  const char *names[std::size(kCheckedProps)];
  for (std::size_t i = 0; i < std::size(kCheckedProps); ++i) names[i] = prop_name(kCheckedProps[i]);
  if (msdb_fetch_named_rows(pool, db, oids, count, names, std::size(kCheckedProps), found) == APR_SUCCESS) {
    return APR_SUCCESS;
  }
  return log4c_fail(MSMS_MODULE, "Could not read the properties of existing objects");
}
