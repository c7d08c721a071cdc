// Interned name and value oids of one connection. Each half keeps its texts
// and oids in a sub-pool of its own, cleared with it, so the cache never
// grows beyond its bound however many values a scan stores; the table over
// them hashes a value a word at a time, where an APR hash takes a multiply
// per character of texts that are often paths and URLs.
#include "MSDBInternCache.h"

#include <apr_strings.h>

#include <cstring>
#include <initializer_list>
#include <string_view>
#include <unordered_map>

#include "log4c_pool.h"

namespace {

struct Table {
  apr_pool_t *pool = nullptr;
  std::unordered_map<std::string_view, const char *> entries;  // texts and oids in pool
};

void table_reset(Table *table) {
  table->entries.clear();
  apr_pool_clear(table->pool);
}

}  // namespace

struct InternCache {
  Table names;
  Table values;
};

InternCache *intern_cache_create(apr_pool_t *pool) {
  auto *cache = pool_new<InternCache>(pool);
  for (Table *table : {&cache->names, &cache->values}) table->pool = pool_create_or_die(pool, "MSDB");
  return cache;
}

const char *intern_cache_get(const InternCache *cache, InternKind kind, const char *text) {
  const Table &table = kind == InternKind::name ? cache->names : cache->values;
  auto found = table.entries.find(text);
  return found != table.entries.end() ? found->second : nullptr;
}

void intern_cache_put(InternCache *cache, InternKind kind, const char *text, const char *oid) {
  Table *table = kind == InternKind::name ? &cache->names : &cache->values;
  if (kind == InternKind::value) {
    if (std::strlen(text) > static_cast<std::size_t>(kInternCacheMaxValueLength)) return;
    if (table->entries.size() >= static_cast<std::size_t>(kInternCacheMaxValues)) table_reset(table);
  }
  auto found = table->entries.find(text);
  if (found != table->entries.end()) {
    found->second = apr_pstrdup(table->pool, oid);
    return;
  }
  table->entries.emplace(apr_pstrdup(table->pool, text), apr_pstrdup(table->pool, oid));
}

void intern_cache_clear(InternCache *cache) {
  table_reset(&cache->names);
  table_reset(&cache->values);
}
