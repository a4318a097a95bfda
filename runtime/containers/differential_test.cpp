// Differential tests: long random sequences of operations on hash maps and linked lists, checked
// after every step against models built on the standard containers, and a random take/give
// workload on block pools checked against the pool's own bookkeeping rules. Fixed seeds, so a
// failure repeats.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/containers/containers_test_model.h"
#include "runtime/memory/memory.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

// Random operation strings biased towards the interesting operations: many adds so that chains
// grow, finds of keys that exist, iteration with deletes.
std::vector<uint8_t> RandomProgram(std::mt19937_64& random, size_t length) {
  std::vector<uint8_t> bytes(length);
  for (auto& byte : bytes) {
    byte = static_cast<uint8_t>(random());
  }
  return bytes;
}

TEST(MapAndListModel, LongRandomSequencesMatchTheModels) {
  const test::LiveBlockGuard live;
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    std::mt19937_64 random(seed);
    const std::vector<uint8_t> program = RandomProgram(random, 6000);
    testing_model::Driver driver;
    const std::string failure = driver.Run(program.data(), program.size());
    ASSERT_EQ(failure, "") << "seed " << seed;
  }
}

TEST(MapAndListModel, IterationWithDeletesMatchesTheModel) {
  // Mostly adds, then whole iterations that delete some of what they visit.
  for (uint64_t seed = 100; seed < 120; ++seed) {
    std::mt19937_64 random(seed);
    std::vector<uint8_t> program;
    for (int round = 0; round < 30; ++round) {
      for (int i = 0; i < 12; ++i) {
        program.push_back(static_cast<uint8_t>((random() % 2) | ((random() % 2) << 7)));
        program.push_back(static_cast<uint8_t>(random()));
      }
      const uint8_t which = static_cast<uint8_t>((random() % 2) << 7);
      program.push_back(which | 4);  // reset
      for (int i = 0; i < 20; ++i) {
        program.push_back(which | ((random() % 3 == 0) ? 6 : 5));
      }
    }
    testing_model::Driver driver;
    ASSERT_EQ(driver.Run(program.data(), program.size()), "") << "seed " << seed;
  }
}

// Checks the pool's rules: each chunk on the list its state calls for, the totals adding up, and
// every outstanding block naming its chunk.
void CheckPool(const BlockPool* pool, const std::set<void*>& outstanding, const char* when) {
  uint64_t total = 0;
  std::map<const PoolChunk*, int32_t> in_use;
  for (const PoolChunk* chunk = pool->available; chunk != nullptr; chunk = chunk->next) {
    ASSERT_TRUE(chunk->free > 0 || chunk->cut < chunk->capacity)
        << when << ": a chunk with nothing to hand out is on the available list";
    ASSERT_TRUE(chunk->previous == nullptr || chunk->previous->next == chunk) << when;
    ASSERT_LT(chunk->free, chunk->cut) << when << ": an empty chunk was kept";
    total += static_cast<uint64_t>(chunk->capacity);
    in_use[chunk] = chunk->cut - chunk->free;
  }
  for (const PoolChunk* chunk = pool->full; chunk != nullptr; chunk = chunk->next) {
    ASSERT_EQ(chunk->free, 0) << when << ": a chunk with free blocks is on the full list";
    ASSERT_GE(chunk->cut, chunk->capacity) << when;
    ASSERT_TRUE(chunk->previous == nullptr || chunk->previous->next == chunk) << when;
    total += static_cast<uint64_t>(chunk->capacity);
    in_use[chunk] = chunk->cut;
  }
  ASSERT_EQ(pool->total_blocks, total) << when << ": total blocks is not the sum of capacities";
  std::map<const PoolChunk*, int32_t> counted;
  for (void* block : outstanding) {
    const PoolChunk* chunk = nullptr;
    std::memcpy(&chunk, static_cast<char*>(block) - 8, sizeof(void*));
    ASSERT_TRUE(in_use.count(chunk) == 1) << when << ": a block names a chunk the pool lost";
    ++counted[chunk];
  }
  ASSERT_EQ(counted, in_use) << when << ": blocks in use do not add up";
}

TEST(PoolWorkload, RandomTakesAndGivesKeepTheBookkeeping) {
  const test::LiveBlockGuard live;
  const struct {
    uint64_t payload;
    int32_t minimum;
    int32_t maximum;
    uint32_t flags;
  } shapes[] = {{56, 16, 256, PoolNoLock}, {8, 16, 65536, 0}, {24, 1, 4, PoolThreadSafe}};
  uint64_t seed = 7;
  for (const auto& shape : shapes) {
    std::mt19937_64 random(seed++);
    BlockPool* pool = PoolCreate(shape.payload, shape.minimum, shape.maximum, shape.flags);
    ASSERT_NE(pool, nullptr);
    std::set<void*> outstanding;
    std::vector<void*> order;
    for (int step = 0; step < 20000; ++step) {
      // Phases that grow and shrink, so chunks are made and freed again and again.
      const bool growing = (step / 2500) % 2 == 0;
      if (order.empty() || random() % 100 < (growing ? 65u : 35u)) {
        void* block = PoolTake(pool);
        ASSERT_NE(block, nullptr);
        ASSERT_TRUE(outstanding.insert(block).second) << "a block was handed out twice";
        std::memset(block, 0xA5, shape.payload);
        order.push_back(block);
      } else {
        const size_t at = random() % order.size();
        void* block = order[at];
        order[at] = order.back();
        order.pop_back();
        outstanding.erase(block);
        PoolGive(pool, block);
      }
      if (step % 7 == 0 || order.size() < 40) {
        CheckPool(pool, outstanding, growing ? "growing" : "shrinking");
        if (::testing::Test::HasFatalFailure()) {
          return;
        }
      }
    }
    for (void* block : order) {
      PoolGive(pool, block);
    }
    EXPECT_EQ(pool->total_blocks, 0u) << "every chunk goes when its blocks come back";
    PoolDestroy(pool);
  }
}

}  // namespace
}  // namespace zn
