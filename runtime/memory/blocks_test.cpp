// Tests of the allocation layer: header contents, zeroing rules, refusals and the failure switch.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>

#include "runtime/memory/memory.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

bool AllZero(const void* block, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  for (size_t i = 0; i < size; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

class FailSwitchOff : public ::testing::Test {
 protected:
  void TearDown() override { test::HeapFailNever(); }
};

TEST(SizedAllocZeroed, WritesHeaderAndZeroes) {
  const test::LiveBlockGuard live;
  void* block = SizedAllocZeroed(10);
  ASSERT_NE(block, nullptr);
  int64_t header = 0;
  std::memcpy(&header, static_cast<char*>(block) - 8, 8);
  EXPECT_EQ(header, 10);
  EXPECT_EQ(SizedSizeOf(block), 10);
  EXPECT_TRUE(AllZero(block, 10));
  EXPECT_EQ(live.Change(), 1);
  SizedFree(block);
}

TEST(SizedResizeZeroed, GrowsWithZeroesAndShrinksKeepingPrefix) {
  auto* block = static_cast<unsigned char*>(SizedAllocZeroed(10));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 10; ++i)
    block[i] = static_cast<unsigned char>(i + 1);
  // Dirty the heap's spare bytes as far as we own them so that zeroing is really observed.
  block = static_cast<unsigned char*>(SizedResize(block, 20));
  ASSERT_NE(block, nullptr);
  std::memset(block + 10, 0xAB, 10);
  block = static_cast<unsigned char*>(SizedResize(block, 10));
  block = static_cast<unsigned char*>(SizedResizeZeroed(block, 20));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(SizedSizeOf(block), 20);
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(block[i], i + 1) << "byte " << i;
  EXPECT_TRUE(AllZero(block + 10, 10));
  block = static_cast<unsigned char*>(SizedResizeZeroed(block, 4));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(SizedSizeOf(block), 4);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(block[i], i + 1);
  SizedFree(block);
}

// Blocks of several MiB get huge-page advice from the default heap; they must stay ordinary
// blocks: zeroed where asked, kept whole across a resize in both directions, freed as usual.
TEST(SizedAllocZeroed, LargeBlocksBehaveAsSmallOnes) {
  constexpr uint64_t kLarge = uint64_t{5} << 20;
  auto* block = static_cast<unsigned char*>(SizedAllocZeroed(kLarge));
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(AllZero(block, kLarge));
  for (uint64_t i = 0; i < kLarge; i += 4093)
    block[i] = static_cast<unsigned char>(i / 4093 + 1);
  block = static_cast<unsigned char*>(SizedResizeZeroed(block, 2 * kLarge + 7));
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(AllZero(block + kLarge, kLarge + 7));
  block = static_cast<unsigned char*>(SizedResize(block, 3 << 20));
  ASSERT_NE(block, nullptr);
  for (uint64_t i = 0; i < (3 << 20); i += 4093)
    ASSERT_EQ(block[i], static_cast<unsigned char>(i / 4093 + 1)) << "byte " << i;
  SizedFree(block);
}

TEST(SizedResize, NullGivesNullAndAllocatesNothing) {
  const test::LiveBlockGuard live;
  EXPECT_EQ(SizedResizeZeroed(nullptr, 16), nullptr);
  EXPECT_EQ(SizedResize(nullptr, 16), nullptr);
}

TEST(MemoryBlockAllocate, RefusesSizesOfZeroOrLess) {
  EXPECT_EQ(MemoryBlockAllocate(0, 0), nullptr);
  EXPECT_EQ(MemoryBlockAllocate(-5, 1), nullptr);
  EXPECT_EQ(MemoryBlockAllocateCleared(0), nullptr);
  EXPECT_EQ(MemoryBlockAllocateCleared(-1), nullptr);
  void* raw = MemoryBlockAllocate(16, 1);
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(SizedSizeOf(raw), 16);
  MemoryBlockFree(raw);
  void* cleared = MemoryBlockAllocate(16, 0);
  ASSERT_NE(cleared, nullptr);
  EXPECT_TRUE(AllZero(cleared, 16));
  MemoryBlockFree(cleared);
}

TEST(MemoryRelease, NullDoesNothing) {
  const test::LiveBlockGuard live;
  MemoryRelease(nullptr);
  SizedFree(nullptr);
  MemoryBlockFree(nullptr);
}

TEST(MemoryResizeZeroed, ZeroesOnlyTheNewPart) {
  auto* block = static_cast<unsigned char*>(MemoryAllocZeroed(4));
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(AllZero(block, 4));
  std::memset(block, 7, 4);
  block = static_cast<unsigned char*>(MemoryResizeZeroed(block, 4, 12));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(block[i], 7);
  EXPECT_TRUE(AllZero(block + 4, 8));
  MemoryRelease(block);
}

TEST_F(FailSwitchOff, FailedResizeLeavesBlockAndHeaderUnchanged) {
  auto* block = static_cast<unsigned char*>(SizedAllocZeroed(8));
  ASSERT_NE(block, nullptr);
  block[0] = 42;
  test::HeapFailAfter(0);
  EXPECT_EQ(SizedResizeZeroed(block, 4096), nullptr);
  EXPECT_EQ(SizedAllocZeroed(1), nullptr);
  EXPECT_EQ(MemoryAlloc(1), nullptr);
  test::HeapFailNever();
  EXPECT_EQ(SizedSizeOf(block), 8);
  EXPECT_EQ(block[0], 42);
  SizedFree(block);
}

TEST_F(FailSwitchOff, CountsDownSuccessesBeforeFailing) {
  test::HeapFailAfter(2);
  void* a = MemoryAlloc(8);
  void* b = SizedAlloc(8);
  void* c = MemoryAlloc(8);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  MemoryRelease(a);
  SizedFree(b);
}

TEST(MemorySizeFits, RefusesProductsAndSumsThatOverflow) {
  uint64_t result = 7;
  EXPECT_TRUE(MemorySizeFits(3, 4, 48, &result));
  EXPECT_EQ(result, 60u);
  result = 7;
  EXPECT_FALSE(MemorySizeFits(uint64_t{1} << 33, uint64_t{1} << 31, 0, &result));
  EXPECT_FALSE(MemorySizeFits(1, std::numeric_limits<uint64_t>::max(), 1, &result));
  EXPECT_FALSE(MemorySizeFits(1, static_cast<uint64_t>(PTRDIFF_MAX), 1, &result));
  EXPECT_EQ(result, 7u) << "a refused size leaves the result alone";
  // A request that cannot be expressed is refused like an exhausted heap.
  EXPECT_EQ(SizedAllocZeroed(std::numeric_limits<uint64_t>::max() - 4), nullptr);
  EXPECT_EQ(MemoryBlockAllocate(std::numeric_limits<int64_t>::max(), 0), nullptr);
}

TEST(FatalExit, RunsCleanupThenEndsWithOneLine) {
  EXPECT_EXIT(
      {
        FatalCleanupSet([] { (void)!::write(2, "cleanup ", 8); });
        FatalExit("out of memory");
      },
      ::testing::ExitedWithCode(EXIT_FAILURE), "cleanup .*: out of memory\n");
}

// Every allocating operation of the layer, each request refused in turn: null, the old block (for
// resizes) valid with its bytes and header, nothing leaked.
TEST(MemoryOutOfMemory, EveryAllocationGivesNullAndKeepsTheOldBlock) {
  const struct {
    const char* name;
    std::function<void*()> allocate;
  } fresh[] = {
      {"MemoryAlloc", [] { return MemoryAlloc(24); }},
      {"MemoryAllocZeroed", [] { return MemoryAllocZeroed(24); }},
      {"MemoryResize of null", [] { return MemoryResize(nullptr, 24); }},
  };
  for (const auto& c : fresh) {
    test::HeapFailEachMode([&](const test::FailurePoint& at) {
      const test::LiveBlockGuard live;
      at.Arm();
      MemoryRelease(c.allocate());
    });
  }
  const struct {
    const char* name;
    std::function<void*()> allocate;
  } sized[] = {
      {"SizedAlloc", [] { return SizedAlloc(24); }},
      {"SizedAllocZeroed", [] { return SizedAllocZeroed(24); }},
      {"MemoryBlockAllocate", [] { return MemoryBlockAllocate(24, kMemoryBlockNoClear); }},
      {"MemoryBlockAllocateCleared", [] { return MemoryBlockAllocateCleared(24); }},
  };
  for (const auto& c : sized) {
    test::HeapFailEachMode([&](const test::FailurePoint& at) {
      const test::LiveBlockGuard live;
      at.Arm();
      SizedFree(c.allocate());
    });
  }
  for (const int64_t to : {int64_t{4}, int64_t{4096}}) {
    test::HeapFailEachMode([&](const test::FailurePoint& at) {
      const test::LiveBlockGuard live;
      auto* plain = static_cast<unsigned char*>(MemoryAllocZeroed(8));
      auto* block = static_cast<unsigned char*>(SizedAllocZeroed(8));
      ASSERT_TRUE(plain != nullptr && block != nullptr);
      plain[3] = 7;
      block[3] = 9;
      at.Arm();
      void* plain_resized = MemoryResizeZeroed(plain, 8, to);
      void* resized = at.point % 2 == 0 ? SizedResizeZeroed(block, to) : SizedResize(block, to);
      test::HeapFailNever();
      if (plain_resized == nullptr) {
        EXPECT_EQ(plain[3], 7) << "to " << to;
      }
      if (resized == nullptr) {
        EXPECT_EQ(SizedSizeOf(block), 8) << "to " << to;
        EXPECT_EQ(block[3], 9) << "to " << to;
      }
      MemoryRelease(plain_resized != nullptr ? plain_resized : plain);
      SizedFree(resized != nullptr ? resized : block);
    });
  }
}

}  // namespace
}  // namespace zn
