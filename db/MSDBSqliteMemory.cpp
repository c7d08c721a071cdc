// Size-class free lists for SQLite's small blocks (see the header).
//
// Every block carries its usable size in the 8 bytes before it, which
// sqlite3_msize needs and which tells a small block from a large one. Free
// small blocks hold the link to the next one in their first 8 bytes.
#include "MSDBSqliteMemory.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#define MSDB_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MSDB_ASAN 1
#endif
#endif
#ifdef MSDB_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

constexpr std::size_t kHeader = 8;
constexpr std::size_t kGranule = 16;
constexpr std::size_t kSmallLimit = 1024;
constexpr int kClasses = kSmallLimit / kGranule;
constexpr std::size_t kSlabBytes = 64 * 1024;
// A thread keeps the last kKept blocks it freed above the small classes and
// up to kKeptLimit for the next request of the same size. Pages are asked
// for in a few sizes below kExactLimit and keep their exact size (a page
// cache holds thousands); the scratch space of a b-tree page split varies
// with the cells split, and is rounded to kKeptGranule so that it matches.
constexpr std::size_t kKeptLimit = 64 * 1024;
constexpr std::size_t kExactLimit = 8 * 1024;
constexpr std::size_t kKeptGranule = 128;
constexpr int kKept = 8;

void poison(void *start, std::size_t size) {
#ifdef MSDB_ASAN
  ASAN_POISON_MEMORY_REGION(start, size);
#else
  (void)start;
  (void)size;
#endif
}

void unpoison(void *start, std::size_t size) {
#ifdef MSDB_ASAN
  ASAN_UNPOISON_MEMORY_REGION(start, size);
#else
  (void)start;
  (void)size;
#endif
}

std::size_t &usable_size(void *block) { return *reinterpret_cast<std::size_t *>(static_cast<char *>(block) - kHeader); }
void *&next_free(void *block) { return *static_cast<void **>(block); }
int size_class(std::size_t size) { return static_cast<int>((std::max<std::size_t>(size, 1) - 1) / kGranule); }
std::size_t class_size(int size_class) { return (static_cast<std::size_t>(size_class) + 1) * kGranule; }
std::size_t round_large(std::size_t size) {
  if (size > kExactLimit && size <= kKeptLimit) return (size + kKeptGranule - 1) & ~(kKeptGranule - 1);
  return (size + 7) & ~std::size_t{7};
}

enum class CacheState { fresh, registered, retired };

// A thread's free lists and the part of a slab it carves new blocks from.
// Trivially destructible, so it stays usable while the thread shuts down.
struct ThreadCache {
  void *free[kClasses];
  char *carve;
  char *carve_end;
  CacheState state;
  void *kept[kKept];
  int next_kept;  // the slot a block is kept in when none is empty
};

thread_local ThreadCache t_cache;

// What threads share: the lists of threads that ended, a carving region one
// of them left unused, and every slab (chained through its first bytes, so
// the memory stays reachable for leak checkers).
struct Shared {
  std::mutex lock;
  void *depot[kClasses] = {};
  std::atomic<bool> depot_filled[kClasses] = {};
  char *spare = nullptr;
  char *spare_end = nullptr;
  void *slabs = nullptr;
};

Shared g_shared;

void retire(void *data);

pthread_key_t retire_key() {
  static const pthread_key_t key = [] {
    pthread_key_t created;
    pthread_key_create(&created, retire);
    return created;
  }();
  return key;
}

// The key's destructor runs when the thread ends and hands its lists over.
void register_thread(ThreadCache &cache) {
  cache.state = CacheState::registered;
  pthread_setspecific(retire_key(), &cache);
}

void retire(void *data) {
  auto *cache = static_cast<ThreadCache *>(data);
  std::lock_guard<std::mutex> guard(g_shared.lock);
  for (int c = 0; c < kClasses; ++c) {
    void *head = cache->free[c];
    if (head == nullptr) continue;
    void *tail = head;
    while (next_free(tail) != nullptr) tail = next_free(tail);
    next_free(tail) = g_shared.depot[c];
    g_shared.depot[c] = head;
    g_shared.depot_filled[c].store(true, std::memory_order_relaxed);
    cache->free[c] = nullptr;
  }
  if (g_shared.spare == nullptr && cache->carve != cache->carve_end) {
    g_shared.spare = cache->carve;
    g_shared.spare_end = cache->carve_end;
  }
  cache->carve = cache->carve_end = nullptr;
  cache->state = CacheState::retired;
  for (void *&block : cache->kept) {
    if (block != nullptr) std::free(static_cast<char *>(block) - kHeader);
    block = nullptr;
  }
}

// Under the shared lock: a region to carve a block of size_class from. The
// region a retired thread left is taken only when the block fits in it: a
// remainder of a few bytes would otherwise fail the allocation outright.
bool new_region(int size_class, char **start, char **end) {
  if (g_shared.spare != nullptr &&
      static_cast<std::size_t>(g_shared.spare_end - g_shared.spare) >= kHeader + class_size(size_class)) {
    *start = g_shared.spare;
    *end = g_shared.spare_end;
    g_shared.spare = g_shared.spare_end = nullptr;
    return true;
  }
  void *slab = std::malloc(kSlabBytes);
  if (slab == nullptr) return false;
  next_free(slab) = g_shared.slabs;
  g_shared.slabs = slab;
  *start = static_cast<char *>(slab) + kGranule;
  *end = static_cast<char *>(slab) + kSlabBytes;
  poison(*start, *end - *start);
  return true;
}

// A block cut from the front of [*start, end), or null when the region is
// too small for it.
void *cut(char **start, char *end, int size_class) {
  const std::size_t size = class_size(size_class);
  if (static_cast<std::size_t>(end - *start) < kHeader + size) return nullptr;
  char *block = *start + kHeader;
  *start += kHeader + size;
  unpoison(block - kHeader, kHeader + size);
  usable_size(block) = size;
  return block;
}

// A block for a retired thread, from the depot or the spare region.
void *shared_block(int size_class) {
  std::lock_guard<std::mutex> guard(g_shared.lock);
  if (void *block = g_shared.depot[size_class]) {
    g_shared.depot[size_class] = next_free(block);
    return block;
  }
  void *block = cut(&g_shared.spare, g_shared.spare_end, size_class);
  if (block != nullptr) return block;
  char *start = nullptr, *end = nullptr;
  if (!new_region(size_class, &start, &end)) return nullptr;
  block = cut(&start, end, size_class);
  g_shared.spare = start;
  g_shared.spare_end = end;
  return block;
}

// The thread's list of the class is empty: take the depot's, or carve.
void *refill(ThreadCache &cache, int size_class) {
  if (cache.state == CacheState::fresh) register_thread(cache);
  if (cache.state == CacheState::retired) return shared_block(size_class);
  if (g_shared.depot_filled[size_class].load(std::memory_order_relaxed)) {
    std::lock_guard<std::mutex> guard(g_shared.lock);
    cache.free[size_class] = g_shared.depot[size_class];
    g_shared.depot[size_class] = nullptr;
    g_shared.depot_filled[size_class].store(false, std::memory_order_relaxed);
    if (void *block = cache.free[size_class]) {
      cache.free[size_class] = next_free(block);
      return block;
    }
  }
  if (void *block = cut(&cache.carve, cache.carve_end, size_class)) return block;
  std::lock_guard<std::mutex> guard(g_shared.lock);
  if (!new_region(size_class, &cache.carve, &cache.carve_end)) return nullptr;
  return cut(&cache.carve, cache.carve_end, size_class);
}

// The C library's large blocks cost it a search of its bins, and at every
// request of one it first merges the small blocks freed since: SQLite asks
// for a page and for scratch space at every split of a b-tree page, dozens
// of times per item a scan writes, and those searches grew with the heap.
// Keeping a few such blocks per thread answers most of these requests.
void *kept_block(std::size_t usable) {
  ThreadCache &cache = t_cache;
  if (usable > kKeptLimit || cache.state == CacheState::retired) return nullptr;
  for (void *&block : cache.kept) {
    if (block != nullptr && usable_size(block) == usable) {
      void *found = block;
      block = nullptr;
      unpoison(found, usable);
      return found;
    }
  }
  return nullptr;
}

// Keeps block for kept_block; when every slot is taken, the slots give up
// their blocks to the C library in turn.
void keep_block(void *block, std::size_t usable) {
  ThreadCache &cache = t_cache;
  if (usable > kKeptLimit || cache.state == CacheState::retired) {
    std::free(static_cast<char *>(block) - kHeader);
    return;
  }
  if (cache.state == CacheState::fresh) register_thread(cache);
  void **slot = std::find(std::begin(cache.kept), std::end(cache.kept), nullptr);
  if (slot == std::end(cache.kept)) {
    slot = &cache.kept[cache.next_kept];
    cache.next_kept = (cache.next_kept + 1) % kKept;
    std::free(static_cast<char *>(*slot) - kHeader);
  }
  poison(block, usable);
  *slot = block;
}

void *large_block(std::size_t size) {
  const std::size_t usable = round_large(size);
  if (void *block = kept_block(usable)) return block;
  char *base = static_cast<char *>(std::malloc(kHeader + usable));
  if (base == nullptr) return nullptr;
  usable_size(base + kHeader) = usable;
  return base + kHeader;
}

void *mem_malloc(int n) {
  const std::size_t size = n > 0 ? static_cast<std::size_t>(n) : 1;
  if (size > kSmallLimit) return large_block(size);
  const int c = size_class(size);
  ThreadCache &cache = t_cache;
  void *block = cache.free[c];
  if (block != nullptr) {
    cache.free[c] = next_free(block);
  } else {
    block = refill(cache, c);
  }
  if (block != nullptr) unpoison(block, class_size(c));
  return block;
}

void mem_free(void *block) {
  if (block == nullptr) return;
  const std::size_t usable = usable_size(block);
  if (usable > kSmallLimit) {
    keep_block(block, usable);
    return;
  }
  const int c = size_class(usable);
  ThreadCache &cache = t_cache;
  if (cache.state == CacheState::fresh) register_thread(cache);
  if (cache.state == CacheState::retired) {
    std::lock_guard<std::mutex> guard(g_shared.lock);
    next_free(block) = g_shared.depot[c];
    g_shared.depot[c] = block;
    g_shared.depot_filled[c].store(true, std::memory_order_relaxed);
  } else {
    next_free(block) = cache.free[c];
    cache.free[c] = block;
  }
  poison(static_cast<char *>(block) + sizeof(void *), usable - sizeof(void *));
}

int mem_size(void *block) { return block != nullptr ? static_cast<int>(usable_size(block)) : 0; }

int mem_roundup(int n) {
  const std::size_t size = n > 0 ? static_cast<std::size_t>(n) : 1;
  return static_cast<int>(size > kSmallLimit ? round_large(size) : class_size(size_class(size)));
}

void *mem_realloc(void *block, int n) {
  if (block == nullptr) return mem_malloc(n);
  const std::size_t old_size = usable_size(block);
  const std::size_t wanted = static_cast<std::size_t>(mem_roundup(n));
  if (wanted == old_size) return block;
  if (old_size > kSmallLimit && wanted > kSmallLimit) {
    char *base = static_cast<char *>(std::realloc(static_cast<char *>(block) - kHeader, kHeader + wanted));
    if (base == nullptr) return nullptr;
    usable_size(base + kHeader) = wanted;
    return base + kHeader;
  }
  void *moved = mem_malloc(n);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, block, std::min(old_size, wanted));
  mem_free(block);
  return moved;
}

int mem_init(void *) { return SQLITE_OK; }
void mem_shutdown(void *) {}

constexpr sqlite3_mem_methods kMethods = {mem_malloc, mem_free,    mem_realloc,  mem_size,
                                          mem_roundup, mem_init, mem_shutdown, nullptr};

}  // namespace

const sqlite3_mem_methods *msdb_sqlite_memory_methods() { return &kMethods; }
