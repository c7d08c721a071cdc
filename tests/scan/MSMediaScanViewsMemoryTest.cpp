// The bounded memory of view containers: texts used all along stay, others
// are forgotten after two generations, marks and listed parents are never
// lost within an epoch, and a new epoch forgets everything.
#include <gtest/gtest.h>

#include <string>

#include "MSMediaScanViewsMemory.h"

namespace {

std::string key(std::size_t i) { return "e17\nTitle " + std::to_string(i); }

}  // namespace

TEST(ViewMemoryTest, TextsInUseStayAndTheRestAreForgottenAfterTwoGenerations) {
  ViewMemory memory;
  memory.sync(1);
  memory.remember("hot", "1");
  memory.remember("cold", "2");
  memory.remember("cold", "3");  // a new value replaces the old
  ASSERT_NE(memory.recall("cold"), nullptr);
  EXPECT_EQ(*memory.recall("cold"), "3");
  for (std::size_t i = 0; i < 3 * kViewMemoryGeneration; ++i) {
    memory.remember(key(i), std::to_string(i));
    if (i % 100 == 0) {
      ASSERT_NE(memory.recall("hot"), nullptr) << i;
    }
  }
  EXPECT_EQ(*memory.recall("hot"), "1");
  EXPECT_EQ(memory.recall("cold"), nullptr);
  EXPECT_EQ(memory.recall(key(0)), nullptr);
  ASSERT_NE(memory.recall(key(3 * kViewMemoryGeneration - 1)), nullptr);
}

TEST(ViewMemoryTest, MarksAndListedParentsOutliveForgottenTextsUntilTheEpochMoves) {
  ViewMemory memory;
  memory.sync(7);
  const std::size_t count = 4 * kViewMemoryGeneration + 3;  // several merges and a tail
  for (std::size_t i = 0; i < count; i += 2) memory.mark(key(i));
  for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(memory.may_exist(key(i)), i % 2 == 0) << i;
  for (std::uint64_t parent = 0; parent < count; parent += 3) {
    memory.set_listed(parent);
    memory.set_listed(parent);  // listed again after a forgotten memory
  }
  for (std::uint64_t parent = 0; parent < count; ++parent) EXPECT_EQ(memory.listed(parent), parent % 3 == 0) << parent;
  memory.remember("text", "1");
  memory.sync(7);
  EXPECT_TRUE(memory.may_exist(key(0)));
  EXPECT_TRUE(memory.listed(3));
  EXPECT_NE(memory.recall("text"), nullptr);
  memory.sync(8);
  EXPECT_FALSE(memory.may_exist(key(0)));
  EXPECT_FALSE(memory.listed(3));
  EXPECT_EQ(memory.recall("text"), nullptr);
}
