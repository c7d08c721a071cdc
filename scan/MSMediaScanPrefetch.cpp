// One folder tree's objects by url (see the header).
#include "MSMediaScanPrefetch.h"

#include <apr_hash.h>
#include <apr_strings.h>

#include <atomic>
#include <cstring>

#include <iterator>
#include <new>

#include "CommonPropNames.h"
#include "CommonWorker.h"
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

namespace {

// One tree's answers: pool holds them, null when the tree is not covered.
struct Tree {
  apr_pool_t *pool;
  const char *prefix;  // "file://" url of the folder, ending in "/"
  apr_hash_t *by_url;  // url -> Known
};

}  // namespace

struct ScanPrefetch {
  apr_pool_t *parent;
  const char *source;  // the scanned source's oid
  Tree tree;           // the covered tree
  PrefetchEarly *early;  // the root's look-up begun before the lock; null: none or taken
};

// The thread writes tree and leaves; the walk reads it once joined.
struct PrefetchEarly {
  apr_pool_t *pool;
  MediaLibraryDB *db;
  const char *source;
  const char *prefix;
  apr_int64_t version;  // the library's data version before the look-up
  Worker worker;
  Tree tree;
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

Known *remember(Tree *tree, const PrefixMatch &match) {
  auto *known = static_cast<Known *>(apr_palloc(tree->pool, sizeof(Known)));
  *known = Known{match.oid, match.signature, match.held, nullptr};
  apr_hash_set(tree->by_url, match.value, APR_HASH_KEY_STRING, known);
  return known;
}

// The checked properties of the objects the source holds, kept as rows: as
// lists they took four times the memory; an object without any gets no rows.
bool fetch_stored(apr_pool_t *pool, MediaLibraryDB *db, apr_array_header_t *held) {
  const char **oids = static_cast<const char **>(apr_palloc(pool, sizeof(char *) * (held->nelts + 1)));
  for (int i = 0; i < held->nelts; ++i) oids[i] = APR_ARRAY_IDX(held, i, Known *)->oid;
  apr_hash_t *found = nullptr;
  if (msms_fetch_checked_props(pool, db, oids, held->nelts, &found) != APR_SUCCESS) return false;
  for (int i = 0; i < held->nelts; ++i) {
    Known *known = APR_ARRAY_IDX(held, i, Known *);
    known->stored = static_cast<const PropRows *>(apr_hash_get(found, known->oid, APR_HASH_KEY_STRING));
    if (known->stored == nullptr) known->stored = &kNoRows;
  }
  return true;
}

}  // namespace

void msms_prefetch_set_limit(int limit) { g_limit = limit; }

ScanPrefetch *msms_prefetch_create(apr_pool_t *pool, const char *source, PrefetchEarly *early) {
  auto *prefetch = static_cast<ScanPrefetch *>(apr_pcalloc(pool, sizeof(ScanPrefetch)));
  prefetch->parent = pool;
  prefetch->source = apr_pstrdup(pool, source);
  prefetch->early = early;
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
  const Tree &tree = prefetch->tree;
  return tree.pool != nullptr && std::strncmp(url, tree.prefix, std::strlen(tree.prefix)) == 0;
}

// The answers for the tree of prefix, in a new pool in parent; an empty
// Tree when it is not covered (more urls than the limit, or a failed
// look-up, logged).
Tree look_up(apr_pool_t *parent, MediaLibraryDB *db, const char *source, const char *prefix) {
  Tree tree{pool_create_or_die(parent, MSMS_MODULE), nullptr, nullptr};
  apr_array_header_t *matches = nullptr;
  bool complete = false;
  if (msdb_find_objects_by_prefix(tree.pool, db, "res", prefix, source, g_limit, &matches, &complete) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Could not look up the objects below %s", prefix));
  }
  if (matches == nullptr || !complete) {
    apr_pool_destroy(tree.pool);
    return Tree{};
  }
  tree.prefix = apr_pstrdup(tree.pool, prefix);
  tree.by_url = apr_hash_make(tree.pool);
  Pool scratch(tree.pool, MSMS_MODULE);
  apr_array_header_t *held = apr_array_make(scratch, matches->nelts, sizeof(Known *));
  for (int i = 0; i < matches->nelts; ++i) {
    Known *known = remember(&tree, APR_ARRAY_IDX(matches, i, PrefixMatch));
    if (known->held) APR_ARRAY_PUSH(held, Known *) = known;
  }
  if (!fetch_stored(tree.pool, db, held)) {
    apr_pool_destroy(tree.pool);
    return Tree{};
  }
  return tree;
}

void look_up_early(void *data) {
  auto *early = static_cast<PrefetchEarly *>(data);
  early->tree = look_up(early->pool, early->db, early->source, early->prefix);
}

apr_status_t stop_early(void *data) {
  worker_stop(&static_cast<PrefetchEarly *>(data)->worker);
  return APR_SUCCESS;
}

// Takes the early look-up of prefix's tree when it is still exact: no other
// connection committed since it began (the walk's own connection commits
// nothing before the walk enters its root). False leaves it to a look-up now.
bool take_early(ScanPrefetch *prefetch, MediaLibraryDB *db, const char *prefix) {
  PrefetchEarly *early = prefetch->early;
  if (early == nullptr || std::strcmp(early->prefix, prefix) != 0) return false;
  prefetch->early = nullptr;
  msms_prefetch_early_wait(early);
  apr_int64_t version = 0;
  if (msdb_medialib_data_version(db, &version) != APR_SUCCESS || version != early->version) {
    if (early->tree.pool != nullptr) apr_pool_destroy(early->tree.pool);
    return false;
  }
  prefetch->tree = early->tree;
  return true;
}

}  // namespace

PrefetchEarly *msms_prefetch_early_start(apr_pool_t *pool, MediaLibraryDB *db, const char *source,
                                         const char *folder) {
  apr_pool_t *own = pool_create_or_die(pool, MSMS_MODULE);
  auto *early = new (apr_pcalloc(own, sizeof(PrefetchEarly))) PrefetchEarly{};
  early->pool = own;
  early->db = db;
  early->source = apr_pstrdup(own, source);
  early->prefix = folder_prefix(own, folder);
  if (msdb_medialib_data_version(db, &early->version) != APR_SUCCESS) {
    apr_pool_destroy(own);
    return nullptr;
  }
  apr_pool_pre_cleanup_register(own, early, stop_early);
  if (worker_start(own, &early->worker, look_up_early, early) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, "Could not start the look-up thread");
    apr_pool_destroy(own);
    return nullptr;
  }
  return early;
}

void msms_prefetch_early_wait(PrefetchEarly *early) {
  if (early != nullptr) worker_stop(&early->worker);
}

bool msms_prefetch_covers(const ScanPrefetch *prefetch, const char *folder) {
  Pool scratch(prefetch->parent, MSMS_MODULE);
  return covered(prefetch, folder_prefix(scratch, folder));
}

void msms_prefetch_enter(ScanPrefetch *prefetch, MediaLibraryDB *db, const char *folder) {
  if (prefetch == nullptr) return;
  Pool scratch(prefetch->parent, MSMS_MODULE);
  const char *prefix = folder_prefix(scratch, folder);
  if (covered(prefetch, prefix)) return;
  if (prefetch->tree.pool != nullptr) apr_pool_destroy(prefetch->tree.pool);
  prefetch->tree = Tree{};
  if (!take_early(prefetch, db, prefix)) prefetch->tree = look_up(prefetch->parent, db, prefetch->source, prefix);
}

bool msms_prefetch_find(const ScanPrefetch *prefetch, const char *url, const char **oid, const char **signature,
                        const PropRows **stored, bool *held) {
  if (!covered(prefetch, url)) return false;
  const auto *known = static_cast<const Known *>(apr_hash_get(prefetch->tree.by_url, url, APR_HASH_KEY_STRING));
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
