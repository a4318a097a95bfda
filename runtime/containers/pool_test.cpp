// Tests of the block pool: block sizes, chunk growth and placement, reuse order, freeing chunks
// when their blocks come back, the one-block fallback, sharing and resource balance.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

PoolChunk* ChunkOfPayload(void* payload) {
  PoolChunk* chunk = nullptr;
  std::memcpy(&chunk, static_cast<char*>(payload) - 8, sizeof(void*));
  return chunk;
}

class PoolTest : public ::testing::Test {
 protected:
  test::LiveBlockGuard live_{"the pool left blocks behind"};
};

using PoolCreateTest = PoolTest;
using PoolTakeTest = PoolTest;
using PoolGiveTest = PoolTest;
using PoolSharedTest = PoolTest;

TEST_F(PoolCreateTest, RoundsPayloadToBlockSize) {
  const struct {
    uint64_t payload;
    uint64_t block;
  } cases[] = {{0, 8}, {1, 16}, {8, 16}, {40, 48}, {41, 56}, {48, 56}, {56, 64}, {57, 72}};
  for (const auto& c : cases) {
    BlockPool* pool = PoolCreate(c.payload, 16, 256, PoolNoLock);
    ASSERT_NE(pool, nullptr) << "payload " << c.payload;
    EXPECT_EQ(pool->block_size, c.block) << "payload " << c.payload;
    EXPECT_EQ(pool->locked, 0);
    EXPECT_EQ(pool->shared, nullptr);
    PoolDestroy(pool);
  }
}

TEST_F(PoolCreateTest, MutexOnlyForThreadSafeWithoutNoLock) {
  const struct {
    uint32_t flags;
    int32_t locked;
  } cases[] = {{0, 0}, {PoolThreadSafe, 1}, {PoolNoLock, 0}, {PoolThreadSafe | PoolNoLock, 0}};
  for (const auto& c : cases) {
    BlockPool* pool = PoolCreate(24, 16, 64, c.flags);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->locked, c.locked) << "flags " << c.flags;
    void* block = PoolTake(pool);
    ASSERT_NE(block, nullptr);
    PoolGive(pool, block);
    PoolDestroy(pool);
  }
}

TEST_F(PoolCreateTest, RefusesOverflowingPayloadAndExhaustedHeap) {
  EXPECT_EQ(PoolCreate(UINT64_MAX, 16, 256, 0), nullptr);
  EXPECT_EQ(PoolCreate(UINT64_MAX - 6, 16, 256, PoolShared), nullptr);
  test::HeapFailAfter(0);
  EXPECT_EQ(PoolCreate(56, 16, 256, 0), nullptr);
  EXPECT_EQ(PoolCreate(56, 16, 256, PoolShared), nullptr);
  test::HeapFailAfter(1);  // the shared entry succeeds, the pool record fails
  EXPECT_EQ(PoolCreate(56, 16, 256, PoolShared), nullptr);
  test::HeapFailNever();
  EXPECT_EQ(internal::PoolSharedFind(64, PoolShared), nullptr) << "a failed creation registered";
}

TEST_F(PoolTakeTest, SixteenBlocksFillTheFirstChunkAndTheSeventeenthMakesAnother) {
  BlockPool* pool = PoolCreate(56, 16, 256, PoolNoLock);
  ASSERT_NE(pool, nullptr);
  std::vector<void*> blocks;
  blocks.push_back(PoolTake(pool));
  ASSERT_NE(blocks[0], nullptr);
  PoolChunk* first = pool->available;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->capacity, 16);
  EXPECT_EQ(pool->total_blocks, 16u);
  EXPECT_EQ(pool->full, nullptr);
  for (int i = 1; i < 16; ++i) {
    blocks.push_back(PoolTake(pool));
    // Blocks are cut in address order, one block size apart.
    EXPECT_EQ(static_cast<char*>(blocks[i]) - static_cast<char*>(blocks[i - 1]), 64)
        << "block " << i;
    EXPECT_EQ(ChunkOfPayload(blocks[i]), first);
  }
  EXPECT_EQ(pool->available, nullptr) << "the 16th take must move the chunk to the full list";
  EXPECT_EQ(pool->full, first);
  blocks.push_back(PoolTake(pool));
  ASSERT_NE(pool->available, nullptr);
  EXPECT_NE(pool->available, first);
  EXPECT_EQ(pool->available->capacity, 16);
  EXPECT_EQ(pool->total_blocks, 32u);
  for (void* block : blocks) {
    PoolGive(pool, block);
  }
  EXPECT_EQ(pool->total_blocks, 0u);
  EXPECT_EQ(pool->available, nullptr);
  EXPECT_EQ(pool->full, nullptr);
  PoolDestroy(pool);
}

TEST_F(PoolTakeTest, GrowthFollowsOneSixteenthBetweenMinimumAndMaximum) {
  BlockPool* pool = PoolCreate(8, 16, 256, PoolNoLock);
  ASSERT_NE(pool, nullptr);
  std::vector<void*> blocks;
  std::vector<int32_t> capacities;
  while (pool->total_blocks < 6000) {
    const uint64_t before = pool->total_blocks;
    blocks.push_back(PoolTake(pool));
    ASSERT_NE(blocks.back(), nullptr);
    if (pool->total_blocks != before) {
      const int32_t expected_sixteenth = static_cast<int32_t>((before >> 4) & ~uint64_t{15});
      int32_t expected = expected_sixteenth < 16 ? 16 : expected_sixteenth;
      if (expected > 256) {
        expected = 256;
      }
      capacities.push_back(static_cast<int32_t>(pool->total_blocks - before));
      EXPECT_EQ(capacities.back(), expected) << "growth from " << before << " blocks";
    }
  }
  ASSERT_GE(capacities.size(), 3u);
  EXPECT_EQ(capacities.front(), 16);
  EXPECT_EQ(capacities.back(), 256) << "the maximum caps the growth";
  PoolDestroy(pool);  // frees the outstanding blocks with their chunks
}

TEST_F(PoolTakeTest, OneBlockFallbackSitsOnTheFullList) {
  BlockPool* pool = PoolCreate(56, 16, 256, PoolNoLock);
  ASSERT_NE(pool, nullptr);
  test::HeapFailAfter(0);
  EXPECT_EQ(PoolTake(pool), nullptr) << "no chunk at all must give null";
  EXPECT_EQ(pool->total_blocks, 0u);
  test::HeapFailNever();

  test::HeapFailAfter(0, test::HeapFailure::kOnce);  // the chunk is refused, the fallback is not
  void* lone = PoolTake(pool);
  ASSERT_NE(lone, nullptr) << "the one-block fallback must serve the request";
  EXPECT_EQ(pool->total_blocks, 1u);
  EXPECT_EQ(pool->available, nullptr);
  ASSERT_NE(pool->full, nullptr);
  EXPECT_EQ(pool->full->capacity, 1);
  EXPECT_EQ(ChunkOfPayload(lone), pool->full);

  void* next = PoolTake(pool);  // the full list does not serve: a regular chunk is made
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(pool->available->capacity, 16);
  EXPECT_EQ(pool->total_blocks, 17u);
  PoolGive(pool, lone);
  EXPECT_EQ(pool->full, nullptr) << "the one-block chunk is freed from the full list";
  EXPECT_EQ(pool->total_blocks, 16u);
  PoolGive(pool, next);
  EXPECT_EQ(pool->total_blocks, 0u);
  PoolDestroy(pool);
}

TEST_F(PoolTakeTest, NonsensicalLimitsStillGiveWorkingChunks) {
  BlockPool* pool = PoolCreate(16, 0, -5, 0);
  ASSERT_NE(pool, nullptr);
  void* a = PoolTake(pool);
  void* b = PoolTake(pool);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(pool->total_blocks, 2u);
  PoolGive(pool, a);
  PoolGive(pool, b);
  EXPECT_EQ(pool->total_blocks, 0u);
  PoolDestroy(pool);
}

TEST_F(PoolTakeTest, ReturnedBlockKeepsPayloadUnlessZeroed) {
  BlockPool* pool = PoolCreate(24, 16, 256, 0);
  ASSERT_NE(pool, nullptr);
  auto* keep = static_cast<unsigned char*>(PoolTake(pool));  // keeps the chunk alive
  auto* block = static_cast<unsigned char*>(PoolTake(pool));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 24; ++i) {
    EXPECT_EQ(block[i], 0) << "a new block holds zeros, byte " << i;
  }
  std::memset(block, 0x5A, 24);
  PoolGive(pool, block);
  auto* again = static_cast<unsigned char*>(PoolTake(pool));
  ASSERT_EQ(again, block) << "the block given back is the next one taken";
  for (int i = 0; i < 24; ++i) {
    EXPECT_EQ(again[i], 0x5A) << "payload byte " << i << " changed";
  }
  PoolGive(pool, again);
  again = static_cast<unsigned char*>(PoolTakeZeroed(pool));
  ASSERT_EQ(again, block);
  for (int i = 0; i < 24; ++i) {
    EXPECT_EQ(again[i], 0) << "PoolTakeZeroed left byte " << i;
  }
  PoolGive(pool, again);
  PoolGive(pool, keep);
  test::HeapFailAfter(0);
  EXPECT_EQ(PoolTakeZeroed(pool), nullptr) << "null passes through PoolTakeZeroed";
  test::HeapFailNever();
  PoolDestroy(pool);
}

TEST_F(PoolGiveTest, BlockOfFullChunkReturnsItToAvailableHeadAndIsTakenNext) {
  BlockPool* pool = PoolCreate(56, 16, 256, PoolNoLock);
  ASSERT_NE(pool, nullptr);
  std::vector<void*> blocks;
  blocks.reserve(20);
  for (int i = 0; i < 20; ++i) {
    blocks.push_back(PoolTake(pool));
  }
  PoolChunk* first = ChunkOfPayload(blocks[0]);
  PoolChunk* second = ChunkOfPayload(blocks[16]);
  ASSERT_EQ(pool->full, first);
  ASSERT_EQ(pool->available, second);
  PoolGive(pool, blocks[7]);
  EXPECT_EQ(pool->available, first) << "the chunk that left the full list serves next";
  EXPECT_EQ(first->next, second);
  EXPECT_EQ(pool->full, nullptr);
  EXPECT_EQ(PoolTake(pool), blocks[7]);
  EXPECT_EQ(pool->full, first) << "taking its only free block makes the chunk full again";
  for (void* block : blocks) {
    PoolGive(pool, block);
  }
  EXPECT_EQ(pool->total_blocks, 0u);
  PoolDestroy(pool);
}

TEST_F(PoolGiveTest, FreeBlocksComeBackLastInFirstOut) {
  BlockPool* pool = PoolCreate(8, 16, 256, 0);
  ASSERT_NE(pool, nullptr);
  std::vector<void*> blocks;
  blocks.reserve(8);
  for (int i = 0; i < 8; ++i) {
    blocks.push_back(PoolTake(pool));
  }
  PoolGive(pool, blocks[2]);
  PoolGive(pool, blocks[5]);
  PoolGive(pool, blocks[1]);
  EXPECT_EQ(PoolTake(pool), blocks[1]);
  EXPECT_EQ(PoolTake(pool), blocks[5]);
  EXPECT_EQ(PoolTake(pool), blocks[2]);
  EXPECT_EQ(static_cast<char*>(PoolTake(pool)) - static_cast<char*>(blocks[7]), 16)
      << "with no block free the next uncut one is cut";
  PoolReset(pool);
  PoolDestroy(pool);
}

TEST_F(PoolGiveTest, PartlyCutChunkIsFreedWhenItsBlocksComeBack) {
  BlockPool* pool = PoolCreate(56, 16, 256, PoolNoLock);
  ASSERT_NE(pool, nullptr);
  const int64_t live = test::HeapLiveBlocks();
  void* a = PoolTake(pool);
  void* b = PoolTake(pool);
  void* c = PoolTake(pool);
  EXPECT_EQ(test::HeapLiveBlocks(), live + 1) << "one chunk for the three blocks";
  EXPECT_EQ(pool->available->cut, 3);
  PoolChunk* chunk = pool->available;
  for (int i = 0; i < 3; ++i) {  // one block coming and going while the others stay out
    PoolGive(pool, c);
    EXPECT_EQ(PoolTake(pool), c);
    EXPECT_TRUE(pool->available == chunk && pool->full == nullptr && chunk->free == 0) << i;
  }
  PoolGive(pool, b);
  PoolGive(pool, a);
  EXPECT_EQ(pool->total_blocks, 16u) << "the chunk stays while a block is out";
  PoolGive(pool, c);
  EXPECT_EQ(pool->total_blocks, 0u);
  EXPECT_EQ(pool->available, nullptr);
  EXPECT_EQ(test::HeapLiveBlocks(), live) << "the chunk goes back to the heap at once";
  PoolDestroy(pool);
}

TEST_F(PoolGiveTest, ResetEmptiesAndPoolStaysUsable) {
  BlockPool* pool = PoolCreate(32, 16, 256, PoolThreadSafe);
  ASSERT_NE(pool, nullptr);
  for (int i = 0; i < 40; ++i) {
    ASSERT_NE(PoolTake(pool), nullptr);
  }
  PoolReset(pool);
  EXPECT_EQ(pool->total_blocks, 0u);
  EXPECT_EQ(pool->available, nullptr);
  EXPECT_EQ(pool->full, nullptr);
  void* block = PoolTake(pool);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(pool->total_blocks, 16u);
  PoolGive(pool, block);
  PoolDestroy(pool);
  PoolDestroy(nullptr);
  PoolReset(nullptr);
  EXPECT_EQ(PoolTake(nullptr), nullptr);
}

TEST_F(PoolSharedTest, SameBlockSizeAndFlagsGiveOnePoolCountedByReference) {
  BlockPool* a = PoolCreate(40, 16, 256, PoolShared);
  BlockPool* b = PoolCreate(40, 32, 64, PoolShared);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->minimum, 16) << "a later creator gets the first creator's limits";
  SharedPoolEntry* entry = internal::PoolSharedFind(48, PoolShared);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->pool, a);
  EXPECT_EQ(entry->references, 2);
  PoolDestroy(a);
  EXPECT_EQ(internal::PoolSharedFind(48, PoolShared), entry) << "the first destroy keeps it";
  void* block = PoolTake(b);
  ASSERT_NE(block, nullptr);
  PoolGive(b, block);
  PoolDestroy(b);
  EXPECT_EQ(internal::PoolSharedFind(48, PoolShared), nullptr) << "the second destroy removes it";
}

TEST_F(PoolSharedTest, MatchIsByBlockSizeAndFullFlags) {
  BlockPool* p40 = PoolCreate(40, 16, 256, PoolShared);
  BlockPool* p41 = PoolCreate(41, 16, 256, PoolShared);
  BlockPool* p48 = PoolCreate(48, 16, 256, PoolShared);
  BlockPool* p48locked = PoolCreate(48, 16, 256, PoolShared | PoolThreadSafe);
  BlockPool* p48private = PoolCreate(48, 16, 256, 0);
  EXPECT_NE(p40, p41) << "block sizes 48 and 56 are different pools";
  EXPECT_EQ(p41, p48) << "payloads 41 and 48 both give 56-byte blocks";
  EXPECT_NE(p48, p48locked) << "different flags values are different pools";
  EXPECT_EQ(p48locked->locked, 1);
  EXPECT_NE(p48private, p48);
  EXPECT_EQ(p48private->shared, nullptr);
  for (BlockPool* pool : {p40, p41, p48, p48locked, p48private}) {
    PoolDestroy(pool);
  }
  EXPECT_EQ(internal::PoolSharedFind(56, PoolShared), nullptr);
  EXPECT_EQ(internal::PoolSharedFind(48, PoolShared), nullptr);
  EXPECT_EQ(internal::PoolSharedFind(56, PoolShared | PoolThreadSafe), nullptr);
}

TEST_F(PoolSharedTest, ThreadSafePoolServesTwoThreads) {
  BlockPool* pool = PoolCreate(16, 16, 64, PoolThreadSafe);
  ASSERT_NE(pool, nullptr);
  ASSERT_EQ(pool->locked, 1);
  // Each thread stamps its blocks and checks the stamp before giving them back: a block handed
  // to both threads at once, or a corrupted free list, breaks a stamp.
  std::atomic<int> broken{0};
  auto work = [&](int64_t stamp) {
    std::vector<int64_t*> mine;
    for (int i = 0; i < 20000; ++i) {
      if (mine.size() < 50 && (i % 3 != 2 || mine.empty())) {
        auto* block = static_cast<int64_t*>(PoolTake(pool));
        if (block == nullptr) {
          ++broken;
          return;
        }
        block[0] = stamp;
        block[1] = i;
        mine.push_back(block);
      } else {
        int64_t* block = mine.back();
        mine.pop_back();
        if (block[0] != stamp) {
          ++broken;
        }
        PoolGive(pool, block);
      }
    }
    for (int64_t* block : mine) {
      if (block[0] != stamp) {
        ++broken;
      }
      PoolGive(pool, block);
    }
  };
  std::thread first(work, 1);
  std::thread second(work, 2);
  first.join();
  second.join();
  EXPECT_EQ(broken.load(), 0);
  EXPECT_EQ(pool->total_blocks, 0u) << "every chunk went back when its blocks did";
  PoolDestroy(pool);
}

TEST(ThreadSlotCreate, GivesZeroedBlockRunThroughConstructor) {
  const test::LiveBlockGuard live;
  ThreadSlot plain = ThreadSlotCreate(16, nullptr, nullptr);
  ASSERT_NE(plain, nullptr);
  const auto* bytes = static_cast<const unsigned char*>(ThreadSlotGet(plain));
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(bytes[i], 0) << "byte " << i;
  }
  EXPECT_EQ(ThreadSlotGet(plain), ThreadSlotGet(plain));
  static int destroyed = 0;
  ThreadSlot built = ThreadSlotCreate(
      16, [](void* block) { static_cast<int64_t*>(block)[1] = 77; }, [](void*) { ++destroyed; });
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(static_cast<int64_t*>(ThreadSlotGet(built))[0], 0);
  EXPECT_EQ(static_cast<int64_t*>(ThreadSlotGet(built))[1], 77);
  EXPECT_EQ(destroyed, 0) << "the destructor waits for ThreadSlotFree";
  EXPECT_EQ(ThreadSlotCreate(-1, nullptr, nullptr), nullptr);
  for (const int64_t successes : {0, 1}) {  // the block, then the destructor's entry
    test::HeapFailAfter(successes);
    EXPECT_EQ(ThreadSlotCreate(8, nullptr, [](void*) { ++destroyed; }), nullptr) << successes;
    test::HeapFailNever();
  }
  ThreadSlotFree(plain);
  ThreadSlotFree(built);
  EXPECT_EQ(destroyed, 1) << "the destructor runs once, for the slot that has one";
}

}  // namespace
}  // namespace zn
