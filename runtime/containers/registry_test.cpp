// Tests of the numbered-object registry: growth, reuse through the free callback, lookups of
// numbered, free-standing and made-up ids, iteration order and releasing everything.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/containers/registry_test_support.h"
#include "runtime/memory/memory.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

struct Object {
  int64_t handle;  // the liveness field: non-zero while the object exists
  int64_t payload;
};

// The library side of a registry: a free callback that releases what it is given and records
// every call, as the libraries that keep numbered objects do.
ObjectRegistry* current = nullptr;
std::vector<int64_t> freed;

void FreeObject(int64_t id) {
  freed.push_back(id);
  if (id == AnyId) {
    RegistryReleaseAll(current);
    return;
  }
  if (RegistryLookup(current, id) != nullptr) {
    RegistryRelease(current, id);
  }
}

void FreeNothing(int64_t id) {
  freed.push_back(id);
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    freed.clear();
    current = RegistryCreate(sizeof(Object), 16, FreeObject);
    ASSERT_NE(current, nullptr);
  }
  void TearDown() override {
    test::HeapFailNever();
    RegistryReleaseAll(current);
    RegistryTestFree(current);
    current = nullptr;
  }
  static void RegistryTestFree(ObjectRegistry* registry) {
    testing_support::RegistryTakeApart(registry);
  }
  static Object* Fill(void* record, int64_t handle) {
    auto* object = static_cast<Object*>(record);
    object->handle = handle;
    return object;
  }
  test::LiveBlockGuard live_{"the registry left blocks behind"};
};

using RegistryAllocateTest = RegistryTest;
using RegistryLookupTest = RegistryTest;
using RegistryIterationTest = RegistryTest;
using RegistryReleaseAllTest = RegistryTest;

TEST_F(RegistryAllocateTest, GrowsToIdPlusIncrement) {
  EXPECT_EQ(current->slot_count, 16);
  void* record = RegistryAllocate(current, 100);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(current->slot_count, 116);
  for (int64_t id = 16; id < 100; ++id) {
    EXPECT_EQ(current->slots[id], nullptr) << "slot " << id;
    EXPECT_EQ(RegistryLookup(current, id), nullptr) << "id " << id;
  }
  EXPECT_EQ(RegistryLookup(current, 100), nullptr) << "not live until the library fills it";
  Fill(record, 1);
  EXPECT_EQ(RegistryLookup(current, 100), record);
  EXPECT_EQ(RegistryVerify(current, 100), record);
  ASSERT_NE(RegistryAllocate(current, 115), nullptr);
  EXPECT_EQ(current->slot_count, 116) << "an id below the count does not grow the table";
}

TEST_F(RegistryAllocateTest, IdInUseIsFreedThroughCallbackAndRecordReused) {
  Object* first = Fill(RegistryAllocate(current, 5), 11);
  first->payload = 42;
  void* second = RegistryAllocate(current, 5);
  EXPECT_EQ(second, first);
  ASSERT_EQ(freed.size(), 1u);
  EXPECT_EQ(freed[0], 5);
  EXPECT_EQ(first->handle, 0) << "the callback released the object, zero-filling its record";
  EXPECT_EQ(first->payload, 0);
  RegistryAllocate(current, 5);  // released already: the callback is called and does nothing
  EXPECT_EQ(freed.size(), 2u);
}

TEST_F(RegistryAllocateTest, RefusesBadIdsOverflowAndExhaustedHeap) {
  EXPECT_EQ(RegistryAllocate(current, -2), nullptr);
  EXPECT_EQ(RegistryAllocate(current, INT64_MAX), nullptr) << "id + increment overflows";
  EXPECT_EQ(RegistryAllocate(current, INT64_MAX - 16), nullptr) << "slot bytes overflow";
  EXPECT_EQ(current->slot_count, 16) << "a refused growth leaves the count alone";
  test::HeapFailAfter(0);
  EXPECT_EQ(RegistryAllocate(current, 3), nullptr);
  EXPECT_EQ(RegistryAllocate(current, 40), nullptr);
  EXPECT_EQ(current->slot_count, 16);
  EXPECT_EQ(RegistryAllocate(current, AnyId), nullptr);
  EXPECT_EQ(current->any_id_list, nullptr);
  test::HeapFailAfter(1);  // the node succeeds, the id set does not
  EXPECT_EQ(RegistryAllocate(current, AnyId), nullptr);
  EXPECT_EQ(current->any_id_list, nullptr);
  test::HeapFailNever();
  EXPECT_EQ(RegistryAllocate(nullptr, 1), nullptr);
}

TEST_F(RegistryAllocateTest, ZeroIncrementAndTinyRecordsStaySafe) {
  ObjectRegistry* registry = RegistryCreate(0, 0, nullptr);
  ASSERT_NE(registry, nullptr);
  void* record = RegistryAllocate(registry, 3);
  ASSERT_NE(record, nullptr);
  EXPECT_GE(registry->slot_count, 4) << "the table must reach the id even with increment 0";
  EXPECT_EQ(RegistryLookup(registry, 3), nullptr);
  RegistryRelease(registry, 3);
  RegistryTestFree(registry);
  EXPECT_EQ(RegistryCreate(-1, 4, nullptr), nullptr);
  EXPECT_EQ(RegistryCreate(8, -1, nullptr), nullptr);
}

TEST_F(RegistryLookupTest, ReleasedNumberedIdLooksUpNullAndIsSkipped) {
  Fill(RegistryAllocate(current, 4), 1);
  Fill(RegistryAllocate(current, 5), 2);
  RegistryRelease(current, 5);
  EXPECT_EQ(RegistryLookup(current, 5), nullptr);
  EXPECT_NE(current->slots[5], nullptr) << "the record stays in its slot";
  RegistryFirst(current);
  int64_t id = -7;
  EXPECT_NE(RegistryNext(current, &id), nullptr);
  EXPECT_EQ(id, 4);
  EXPECT_EQ(RegistryNext(current, &id), nullptr);
  RegistryDone(current);
}

TEST_F(RegistryLookupTest, FreeStandingIdsAndMadeUpIds) {
  void* a = RegistryAllocate(current, AnyId);
  ASSERT_NE(a, nullptr);
  const auto id = static_cast<int64_t>(reinterpret_cast<uintptr_t>(a));
  EXPECT_EQ(RegistryLookup(current, id), nullptr) << "not live before the library fills it";
  EXPECT_EQ(RegistryVerify(current, id), a) << "verify does not examine liveness";
  Fill(a, 9);
  EXPECT_EQ(RegistryLookup(current, id), a);
  EXPECT_EQ(RegistryVerify(current, id), a);
  // Numbers that name nothing: near the record, inside it, far away, negative.
  Object local{5, 5};
  const int64_t made_up[] = {id + 8,
                             id - 16,
                             id + 4096,
                             -2,
                             INT64_MIN,
                             17,
                             static_cast<int64_t>(reinterpret_cast<uintptr_t>(&local))};
  for (int64_t bad : made_up) {
    EXPECT_EQ(RegistryLookup(current, bad), nullptr) << "id " << bad;
    EXPECT_EQ(RegistryVerify(current, bad), nullptr) << "id " << bad;
    RegistryRelease(current, bad);  // must neither write nor free anything
  }
  EXPECT_EQ(local.handle, 5);
  RegistryRelease(current, id);
  EXPECT_EQ(RegistryVerify(current, id), nullptr);
  EXPECT_EQ(RegistryLookup(current, id), nullptr) << "a released id must not be read";
  EXPECT_EQ(current->any_id_list, nullptr);
  EXPECT_EQ(RegistryLookup(nullptr, 1), nullptr);
}

TEST_F(RegistryLookupTest, ManyFreeStandingIdsAgreeWithTheList) {
  std::vector<int64_t> ids;
  for (int i = 0; i < 300; ++i) {
    void* record = RegistryAllocate(current, AnyId);
    ASSERT_NE(record, nullptr);
    Fill(record, i + 1);
    ids.push_back(static_cast<int64_t>(reinterpret_cast<uintptr_t>(record)));
  }
  // Release every third one, then every id must look up as the list says.
  for (size_t i = 0; i < ids.size(); i += 3) {
    RegistryRelease(current, ids[i]);
  }
  for (size_t i = 0; i < ids.size(); ++i) {
    const bool present = i % 3 != 0;
    EXPECT_EQ(RegistryLookup(current, ids[i]) != nullptr, present) << "index " << i;
    EXPECT_EQ(RegistryVerify(current, ids[i]) != nullptr, present) << "index " << i;
  }
  EXPECT_EQ(current->live_count, 200);
}

TEST_F(RegistryIterationTest, NumberedAscendingThenFreeStandingOldestFirst) {
  Fill(RegistryAllocate(current, 7), 1);
  Fill(RegistryAllocate(current, 3), 1);
  void* a = RegistryAllocate(current, AnyId);
  void* b = RegistryAllocate(current, AnyId);  // left unfilled: still iterated
  Fill(a, 1);
  std::vector<int64_t> order;
  RegistryFirst(current);
  int64_t id = 0;
  while (void* record = RegistryNext(current, &id)) {
    order.push_back(id);
    if (id > 100) {
      EXPECT_EQ(static_cast<int64_t>(reinterpret_cast<uintptr_t>(record)), id);
    }
  }
  const std::vector<int64_t> expected = {3, 7, static_cast<int64_t>(reinterpret_cast<uintptr_t>(a)),
                                         static_cast<int64_t>(reinterpret_cast<uintptr_t>(b))};
  EXPECT_EQ(order, expected);
  // Releasing the object just returned during an iteration is allowed.
  RegistryFirst(current);
  int visited = 0;
  while (RegistryNext(current, &id) != nullptr) {
    FreeObject(id);
    if (id > 100) {
      RegistryRelease(current, id);  // b is not live: release its record directly
    }
    ++visited;
  }
  EXPECT_EQ(visited, 4);
  EXPECT_EQ(current->any_id_list, nullptr);
}

TEST_F(RegistryReleaseAllTest, CallsBackForEveryLiveObjectAndEmptiesEverything) {
  Fill(RegistryAllocate(current, 2), 1);
  Fill(RegistryAllocate(current, 9), 1);
  RegistryAllocate(current, 4);  // never filled: not live, not called back
  void* a = RegistryAllocate(current, AnyId);
  void* b = RegistryAllocate(current, AnyId);
  Fill(a, 1);
  Fill(b, 1);
  RegistryReleaseAll(current);
  const std::vector<int64_t> expected = {2, 9, static_cast<int64_t>(reinterpret_cast<uintptr_t>(b)),
                                         static_cast<int64_t>(reinterpret_cast<uintptr_t>(a))};
  EXPECT_EQ(freed, expected) << "numbered ascending, then free-standing newest first";
  EXPECT_EQ(current->any_id_list, nullptr);
  EXPECT_EQ(current->live_count, 0);
  for (int64_t id = 0; id < current->slot_count; ++id) {
    EXPECT_EQ(RegistryLookup(current, id), nullptr) << "id " << id;
  }
  freed.clear();
  FreeObject(AnyId);  // the program-level "free all" through the callback
  EXPECT_EQ(freed, std::vector<int64_t>{AnyId});
}

// A free callback that walks its own registry before releasing, as the window library's does to
// find a parent window.
void FreeObjectAfterIterating(int64_t id) {
  int64_t seen = 0;
  RegistryFirst(current);
  while (RegistryNext(current, &seen) != nullptr) {
  }
  RegistryDone(current);
  FreeObject(id);
}

int free_all_calls = 0;
void CountFreeAll(ObjectRegistry* /*registry*/) {
  ++free_all_calls;
}

TEST_F(RegistryReleaseAllTest, FreeLookupOpensEveryFreeCallback) {
  free_all_calls = 0;
  Object* live = Fill(RegistryAllocate(current, 5), 1);
  EXPECT_EQ(RegistryFreeLookup(nullptr, 5), nullptr) << "no registry yet: nothing to free";
  EXPECT_EQ(RegistryFreeLookup(nullptr, RegistryAllObjects, CountFreeAll), nullptr);
  EXPECT_EQ(free_all_calls, 0) << "no registry yet: no walk either";
  EXPECT_EQ(RegistryFreeLookup(current, 5), live);
  EXPECT_EQ(RegistryFreeLookup(current, 3), nullptr) << "an id that names no live object";
  EXPECT_EQ(RegistryFreeLookup(current, RegistryAllObjects, CountFreeAll), nullptr);
  EXPECT_EQ(free_all_calls, 1) << "the library's own walk, once";
  EXPECT_EQ(RegistryLookup(current, 5), live) << "the library's walk decides what goes";
  EXPECT_EQ(RegistryFreeLookup(current, RegistryAllObjects), nullptr);
  EXPECT_EQ(freed, std::vector<int64_t>{5}) << "by default every live object goes to the callback";
  EXPECT_EQ(RegistryLookup(current, 5), nullptr);
}

TEST_F(RegistryReleaseAllTest, CallbackThatIteratesDoesNotCutTheWalkShort) {
  current->free_callback = FreeObjectAfterIterating;
  Fill(RegistryAllocate(current, 1), 1);
  Fill(RegistryAllocate(current, 3), 1);
  Fill(RegistryAllocate(current, 20), 1);
  void* a = RegistryAllocate(current, AnyId);
  Fill(a, 1);
  RegistryReleaseAll(current);
  const std::vector<int64_t> expected = {1, 3, 20,
                                         static_cast<int64_t>(reinterpret_cast<uintptr_t>(a))};
  EXPECT_EQ(freed, expected) << "every live object is called back once";
  for (int64_t id = 0; id < current->slot_count; ++id) {
    EXPECT_EQ(RegistryLookup(current, id), nullptr) << "id " << id;
  }
  EXPECT_EQ(current->any_id_list, nullptr);
  current->free_callback = FreeObject;
}

TEST_F(RegistryReleaseAllTest, WithoutCallbackNothingHappensAndStubbornCallbackStillEnds) {
  ObjectRegistry* silent = RegistryCreate(sizeof(Object), 4, nullptr);
  ASSERT_NE(silent, nullptr);
  Fill(RegistryAllocate(silent, 1), 1);
  RegistryAllocate(silent, AnyId);
  RegistryReleaseAll(silent);
  EXPECT_NE(RegistryLookup(silent, 1), nullptr);
  EXPECT_NE(silent->any_id_list, nullptr);
  RegistryTestFree(silent);

  ObjectRegistry* stubborn = RegistryCreate(sizeof(Object), 4, FreeNothing);
  ASSERT_NE(stubborn, nullptr);
  Fill(RegistryAllocate(stubborn, AnyId), 1);
  Fill(RegistryAllocate(stubborn, AnyId), 1);
  freed.clear();
  RegistryReleaseAll(stubborn);  // a callback that releases nothing must not spin for ever
  EXPECT_EQ(freed.size(), 2u);
  EXPECT_EQ(stubborn->any_id_list, nullptr);
  RegistryTestFree(stubborn);
}

TEST(RegistryCreateOnce, CreatesOnlyIntoAnEmptyVariable) {
  const test::LiveBlockGuard live;
  ObjectRegistry* variable = nullptr;
  RegistryCreateOnce(&variable, 16, 8, nullptr);
  ASSERT_NE(variable, nullptr);
  ObjectRegistry* first = variable;
  RegistryCreateOnce(&variable, 32, 4, nullptr);
  EXPECT_EQ(variable, first);
  EXPECT_EQ(variable->object_size, 16);
  EXPECT_EQ(variable->increment, 8);
  RegistryCreateOnce(nullptr, 16, 8, nullptr);  // nowhere to create into: nothing happens
  SizedFree(variable->slots);
  SizedFree(variable);
}

}  // namespace
}  // namespace zn
