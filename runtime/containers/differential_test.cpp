// Differential tests: long random sequences of operations on hash maps and linked lists, checked
// after every step against models built on the standard containers, and a random take/give
// workload on block pools checked against the pool's own bookkeeping rules. Fixed seeds, so a
// failure repeats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/containers/containers_test_model.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
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

// Seeds past 40 run the same programs on growing maps.
TEST(MapAndListModel, LongRandomSequencesMatchTheModels) {
  const test::LiveBlockGuard live;
  for (uint64_t seed = 1; seed <= 80; ++seed) {
    std::mt19937_64 random((seed - 1) % 40 + 1);
    const std::vector<uint8_t> program = RandomProgram(random, 6000);
    testing_model::Driver driver(seed > 40 ? MapGrowing : 0);
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

// A walk with its own cursor while the loop looks elements up, adds and deletes them (other
// elements, and the one at the cursor), against a model of which elements exist: every element
// present at the start and not deleted is visited once, nothing twice or after it went; a growing
// map never visits what was added during the walk, a list always visits what was appended. A
// MapNext walk takes deletes by address (of the element it passed last, too) and of its current
// element, but no lookups or adds, which move it.
TEST(CursorWalkModel, LookupsAddsAndDeletesInsideTheLoop) {
  const struct {
    const char* name;
    uint8_t flags;
    int32_t buckets;  // 0: a list
    bool next_walk = false;
  } cases[] = {{"MapNext walk", 0, 5, true},
               {"map", 0, 7},
               {"case-blind map with indexed chains", MapKeyNoCase, 16},
               {"growing map", MapGrowing, 1},
               {"growing map, integer keys", MapGrowing | MapIntegerKeys, 1},
               {"list", 0, 0}};
  // Keys of several lengths, one per id (the last unit is the id).
  const auto key = [](int64_t id) {
    return u"k" + std::u16string(static_cast<size_t>(id % 7), u'x') + static_cast<char16_t>(id);
  };
  for (const auto& c : cases) {
    for (uint64_t seed = 1; seed <= 12; ++seed) {
      SCOPED_TRACE(testing::Message() << c.name << ", seed " << seed);
      const test::LiveBlockGuard live_blocks;
      std::mt19937_64 random(seed);
      const bool list = c.buckets == 0;
      const bool integer = (c.flags & MapIntegerKeys) != 0;
      const bool plain = c.next_walk;
      HashMap* map = list ? nullptr : MapCreate(8, 0, nullptr, nullptr, c.buckets, c.flags);
      ListHolder holder{};
      ListCreate(8, &holder, nullptr, 0);
      std::map<int64_t, void*> live;
      std::set<int64_t> appended;
      int64_t last_id = 0;
      const auto add = [&] {
        const int64_t id = ++last_id;
        const bool append = list && random() % 2 == 0;
        void* value = append    ? ListAppend(holder.list)
                      : list    ? ListAdd(holder.list)
                      : integer ? MapAddInteger(map, id, 1)
                                : MapAdd(map, key(id).c_str(), 1);
        *static_cast<int64_t*>(live[id] = value) = id;
        if (append) {
          appended.insert(id);
        }
      };
      while (last_id < 128) {  // a growing map doubles at the next add, and again during the walk
        add();
      }
      const std::map<int64_t, void*> at_start = live;
      std::set<int64_t> visited;
      MapCursor map_cursor = MapCursorStart(map);
      ListCursor list_cursor = ListCursorStart(holder.list);
      MapReset(map);
      while (void* value = list    ? ListCursorNext(&list_cursor)
                           : plain ? MapNext(map)
                                   : MapCursorNext(&map_cursor)) {
        const int64_t id = *static_cast<int64_t*>(value);
        ASSERT_EQ(live.count(id), 1u) << "element " << id << " was visited after it went";
        ASSERT_TRUE(visited.insert(id).second) << "element " << id << " was visited twice";
        ASSERT_TRUE((c.flags & MapGrowing) == 0 || at_start.count(id) != 0) << id << " is new";
        if (!list && !plain) {
          ASSERT_EQ(StringCompare(MapCursorKey(&map_cursor), integer ? u"" : key(id).c_str()), 0);
          ASSERT_EQ(MapCursorIntegerKey(&map_cursor), integer ? id : -1);
        }
        for (int op = 0; op < 3 && !live.empty(); ++op) {
          const uint64_t what = random() % 8;
          auto [other, other_value] = std::pair<int64_t, void*>(
              *std::next(live.begin(), static_cast<std::ptrdiff_t>(random() % live.size())));
          if (plain && what == 6 && map->previous != nullptr) {  // the element passed last
            other_value = internal::ElementValue(map->previous);
            other = *static_cast<int64_t*>(other_value);
          }
          if (what < 2 && !plain) {  // a lookup, which moves the container's current element
            void* found =
                list      ? ListSelect(holder.list, static_cast<int64_t>(random() % live.size()))
                : integer ? MapFindInteger(map, other)
                          : MapFind(map, key(other).c_str());
            ASSERT_TRUE(list ? live.count(*static_cast<int64_t*>(found)) != 0
                             : found == other_value);
          } else if (what < 5 && !plain) {
            add();
          } else if (what < 7 && other != id) {  // another element goes (perhaps the current one)
            ASSERT_EQ(
                list ? ListDeleteValue(holder.list, other_value) : MapDeleteValue(map, other_value),
                1);
            live.erase(other);
          } else if (what == 7) {  // the element at the cursor goes, which ends the step
            ASSERT_EQ(list    ? ListCursorDelete(&list_cursor)
                      : plain ? (MapDeleteCurrent(map), 1)
                              : MapCursorDelete(&map_cursor),
                      1);
            live.erase(id);
            break;
          }
        }
      }
      for (const auto& [id, value] : live) {
        const bool met = at_start.count(id) + appended.count(id) != 0;
        EXPECT_TRUE(!met || visited.count(id) == 1) << "element " << id << " was not visited";
      }
      EXPECT_EQ(list ? ListCount(holder.list) : MapElementCount(map),
                static_cast<int64_t>(live.size()));
      MapFree(map);
      ListFree(holder.list);
    }
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
    // The common take and give tell an empty free list by its pointer, not by the count.
    ASSERT_EQ(chunk->free == 0, chunk->free_list == nullptr) << when;
    ASSERT_LT(chunk->free, chunk->cut) << when << ": an empty chunk was kept";
    total += static_cast<uint64_t>(chunk->capacity);
    in_use[chunk] = chunk->cut - chunk->free;
  }
  for (const PoolChunk* chunk = pool->full; chunk != nullptr; chunk = chunk->next) {
    ASSERT_EQ(chunk->free, 0) << when << ": a chunk with free blocks is on the full list";
    ASSERT_EQ(chunk->free_list, nullptr) << when;
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
