// The allocator SQLite's small blocks come from: sizes as SQLite is told
// them, contents kept across reallocation, blocks passing between threads,
// and the lists of an ended thread reused instead of stranded.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "DbFixture.h"
#include "MSDBSqliteMemory.h"

namespace {

const sqlite3_mem_methods &methods() { return *msdb_sqlite_memory_methods(); }

void fill(void *block, int size, unsigned char seed) {
  auto *bytes = static_cast<unsigned char *>(block);
  for (int i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(seed + i);
}

bool holds(const void *block, int size, unsigned char seed) {
  const auto *bytes = static_cast<const unsigned char *>(block);
  for (int i = 0; i < size; ++i) {
    if (bytes[i] != static_cast<unsigned char>(seed + i)) return false;
  }
  return true;
}

constexpr int kSizes[] = {1, 7, 8, 15, 16, 17, 100, 1000, 1023, 1024, 1025, 4096, 70000};

TEST(SqliteMemoryTest, EveryBlockOffersTheSizeItsRoundingPromisesAndKeepsItsContentWhenResized) {
  for (int size : kSizes) {
    void *block = methods().xMalloc(size);
    ASSERT_NE(block, nullptr);
    const int usable = methods().xSize(block);
    EXPECT_EQ(usable, methods().xRoundup(size)) << size;
    EXPECT_GE(usable, size);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 8, 0u) << size;
    fill(block, usable, 3);
    for (int other : kSizes) {
      void *copy = methods().xMalloc(size);
      std::memcpy(copy, block, usable);
      copy = methods().xRealloc(copy, other);
      ASSERT_NE(copy, nullptr);
      EXPECT_GE(methods().xSize(copy), other);
      EXPECT_TRUE(holds(copy, std::min(usable, other), 3)) << size << " -> " << other;
      methods().xFree(copy);
    }
    EXPECT_TRUE(holds(block, usable, 3)) << size;
    methods().xFree(block);
  }
  methods().xFree(nullptr);
}

// Blocks made on one thread and freed on another which then ends are taken
// again by a third thread before any new memory is carved.
TEST(SqliteMemoryTest, TheBlocksOfAnEndedThreadAreReused) {
  constexpr int kCount = 2000;
  constexpr int kSize = 200;
  std::vector<void *> made;
  std::thread maker([&] {
    for (int i = 0; i < kCount; ++i) made.push_back(methods().xMalloc(kSize));
  });
  maker.join();
  std::thread freer([&] {
    for (void *block : made) methods().xFree(block);
  });
  freer.join();
  const std::set<void *> freed(made.begin(), made.end());
  int reused = 0;
  std::thread taker([&] {
    std::vector<void *> taken;
    for (int i = 0; i < kCount; ++i) taken.push_back(methods().xMalloc(kSize));
    for (void *block : taken) {
      reused += freed.count(block) != 0;
      methods().xFree(block);
    }
  });
  taker.join();
  EXPECT_EQ(reused, kCount);
}

// A large block a thread freed answers its next request of the same rounded
// size, holding what its new owner writes, and no request of another size.
TEST(SqliteMemoryTest, AFreedLargeBlockAnswersOnlyARequestOfItsOwnSize) {
  struct Case {
    int freed;
    int asked;
    bool reused;
  };
  constexpr Case kCases[] = {{4104, 4104, true},   {4104, 4112, false}, {9000, 9050, true},
                             {9000, 9100, false},  {4104, 2000, false}, {65536, 65536, true}};
  for (const Case &c : kCases) {
    std::thread([&] {
      void *first = methods().xMalloc(c.freed);
      methods().xFree(first);
      void *second = methods().xMalloc(c.asked);
      EXPECT_EQ(second == first, c.reused) << c.freed << " -> " << c.asked;
      EXPECT_EQ(methods().xSize(second), methods().xRoundup(c.asked));
      fill(second, c.asked, 5);
      EXPECT_TRUE(holds(second, c.asked, 5));
      methods().xFree(second);
    }).join();
  }
}

// A thread that ends with only a few bytes left of the region it carved
// from hands that remainder on; a thread that then needs a region for the
// largest small block must still get its block.
TEST(SqliteMemoryTest, TheLargestSmallBlockIsHadAfterAThreadLeftATinyRemainder) {
  constexpr int kSmall = 16;
  constexpr std::uintptr_t kStride = 24;  // the block and its size header
  constexpr int kRun = 2700;              // 64,800 bytes: at most 720 left of any region
  std::thread carver([&] {
    std::vector<void *> made;
    int run = 0;
    std::uintptr_t last = 0;
    while (run < kRun) {
      void *block = methods().xMalloc(kSmall);
      const auto at = reinterpret_cast<std::uintptr_t>(block);
      run = at == last + kStride ? run + 1 : 0;
      last = at;
      made.push_back(block);
    }
    for (void *block : made) methods().xFree(block);
  });
  carver.join();
  std::thread taker([&] {
    std::vector<void *> taken;
    for (int i = 0; i < 1000; ++i) taken.push_back(methods().xMalloc(1024));
    for (void *block : taken) {
      EXPECT_NE(block, nullptr);
      methods().xFree(block);
    }
  });
  taker.join();
}

// Two threads allocate, fill, hand over and free blocks of mixed sizes at
// the same time; every block holds what its maker wrote until it is freed.
TEST(SqliteMemoryTest, BlocksPassedBetweenBusyThreadsKeepTheirContents) {
  struct Handed {
    void *block;
    int size;
    unsigned char seed;
  };
  std::mutex lock;
  std::vector<Handed> passed;
  int damaged = 0;
  auto work = [&](unsigned char seed) {
    std::vector<Handed> own;
    for (int round = 0; round < 20000; ++round) {
      const int size = kSizes[(round * 7 + seed) % 11];
      Handed made{methods().xMalloc(size), size, static_cast<unsigned char>(seed + round)};
      fill(made.block, size, made.seed);
      own.push_back(made);
      if (round % 3 != 0) continue;
      std::lock_guard<std::mutex> guard(lock);
      passed.push_back(own.back());
      own.pop_back();
      if (passed.size() > 1 && round % 2 == 0) {
        const Handed other = passed.front();
        passed.erase(passed.begin());
        damaged += !holds(other.block, other.size, other.seed);
        methods().xFree(other.block);
      }
    }
    for (const Handed &left : own) {
      damaged += !holds(left.block, left.size, left.seed);
      methods().xFree(left.block);
    }
  };
  std::thread first(work, 1);
  std::thread second(work, 2);
  first.join();
  second.join();
  for (const Handed &left : passed) {
    damaged += !holds(left.block, left.size, left.seed);
    methods().xFree(left.block);
  }
  EXPECT_EQ(damaged, 0);
}

#if defined(__SANITIZE_ADDRESS__)
TEST(SqliteMemoryDeathTest, AddressSanitizerStillReportsAReadOfAFreedBlock) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto read_after_free = [] {
    auto *block = static_cast<volatile char *>(methods().xMalloc(100));
    block[50] = 1;
    methods().xFree(const_cast<char *>(block));
    return block[50];
  };
  EXPECT_DEATH(read_after_free(), "use-after-poison");
}
#endif

TEST_F(DbTest, SqliteTakesItsMemoryFromTheSizeClassesOnceAConnectionIsOpen) {
  void *block = sqlite3_malloc(40);
  EXPECT_EQ(sqlite3_msize(block), static_cast<sqlite3_uint64>(methods().xRoundup(40)));
  EXPECT_EQ(sqlite3_msize(block), 48u);
  sqlite3_free(block);
}

}  // namespace
