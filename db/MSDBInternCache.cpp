// Interned name and value oids of one connection, in APR hash tables. Each
// half owns a sub-pool that is cleared with it, so the cache never grows
// beyond its bound however many values a scan stores.
#include "MSDBInternCache.h"

#include <apr_hash.h>
#include <apr_strings.h>

#include <cstring>
#include <initializer_list>

#include "log4c_pool.h"

namespace {

struct Table {
  apr_pool_t *pool;
  apr_hash_t *entries;
};

void table_reset(Table *table) {
  apr_pool_clear(table->pool);
  table->entries = apr_hash_make(table->pool);
}

}  // namespace

struct InternCache {
  Table names;
  Table values;
};

InternCache *intern_cache_create(apr_pool_t *pool) {
  auto *cache = static_cast<InternCache *>(apr_pcalloc(pool, sizeof(InternCache)));
  for (Table *table : {&cache->names, &cache->values}) {
    table->pool = pool_create_or_die(pool, "MSDB");
    table->entries = apr_hash_make(table->pool);
  }
  return cache;
}

const char *intern_cache_get(const InternCache *cache, InternKind kind, const char *text) {
  const Table &table = kind == InternKind::name ? cache->names : cache->values;
  return static_cast<const char *>(apr_hash_get(table.entries, text, APR_HASH_KEY_STRING));
}

void intern_cache_put(InternCache *cache, InternKind kind, const char *text, const char *oid) {
  Table *table = kind == InternKind::name ? &cache->names : &cache->values;
  if (kind == InternKind::value) {
    if (std::strlen(text) > static_cast<std::size_t>(kInternCacheMaxValueLength)) return;
    if (apr_hash_count(table->entries) >= static_cast<unsigned>(kInternCacheMaxValues)) table_reset(table);
  }
  apr_hash_set(table->entries, apr_pstrdup(table->pool, text), APR_HASH_KEY_STRING, apr_pstrdup(table->pool, oid));
}

void intern_cache_clear(InternCache *cache) {
  table_reset(&cache->names);
  table_reset(&cache->values);
}
