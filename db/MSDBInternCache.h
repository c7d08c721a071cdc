// MSDBInternCache: the oids of interned property names and values that one
// medialib connection has already looked up or inserted, so that storing a
// property does not ask the database for them again.
//
// One cache per DBThreadConnection, living in the connection's pool; used by
// that connection's thread only, so there is no lock. A rolled-back
// transaction may take freshly interned rows with it, so a rollback empties
// the cache. Values are many: only short ones are kept, and the value half
// is emptied whenever it holds kInternCacheMaxValues of them.
#pragma once

#include <apr_pools.h>

inline constexpr int kInternCacheMaxValues = 8192;
inline constexpr int kInternCacheMaxValueLength = 96;

struct InternCache;

enum class InternKind { name, value };

// A new, empty cache in pool.
InternCache *intern_cache_create(apr_pool_t *pool);

// The cached oid of text (a name, or an escaped value), or null.
const char *intern_cache_get(const InternCache *cache, InternKind kind, const char *text);

// Remembers oid for text (values longer than kInternCacheMaxValueLength are not kept).
void intern_cache_put(InternCache *cache, InternKind kind, const char *text, const char *oid);

// Forgets everything.
void intern_cache_clear(InternCache *cache);
