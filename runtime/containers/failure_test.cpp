// Exhausted memory in every containers operation that allocates: each request of the operation is
// refused in turn (once, and from then on), and the contract is checked: a null or 0 result, the
// container as it was, nothing leaked.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/containers/registry_test_support.h"
#include "runtime/strings/strings.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

using test::FailurePoint;
using test::LiveBlockGuard;

// A map's elements chain by chain, with its count and its current element: what "as it was" means.
std::string MapState(const HashMap* map) {
  std::string state = "count " + std::to_string(map->element_count) + ":";
  for (uint32_t bucket = 0; bucket < map->bucket_count; ++bucket) {
    for (const MapElement* e = map->buckets[bucket]; e != nullptr; e = e->next) {
      const bool integer = (map->flags & MapIntegerKeys) != 0;
      state += " " + (integer ? std::to_string(e->key.number)
                              : std::string(e->key.text, e->key.text + StringLength(e->key.text)));
      state += "=" + std::to_string(*static_cast<const int64_t*>(
                         internal::ElementValue(const_cast<void*>(static_cast<const void*>(e)))));
      state += e == map->current ? "*" : "";
    }
  }
  return state;
}

std::string ListState(const LinkedList* list, const ListHolder& holder) {
  std::string state = "count " + std::to_string(list->count) + ":";
  for (const ListElement* e = list->first; e != nullptr; e = e->next) {
    state += " " + std::to_string(*static_cast<const int64_t*>(
                       internal::ElementValue(const_cast<void*>(static_cast<const void*>(e)))));
    state += e == list->current ? "*" : "";
  }
  return state + (holder.current == list->current ? "" : " holder out of step");
}

// The ids the registry holds records for, in its iteration order (slot growth, which changes no
// id, is not counted).
std::string RegistryState(ObjectRegistry* registry) {
  std::string state;
  int64_t id = 0;
  RegistryFirst(registry);
  while (RegistryNext(registry, &id) != nullptr) {
    state += " " + std::to_string(id);
  }
  RegistryDone(registry);
  for (const RegistryNode* node = registry->any_id_list; node != nullptr; node = node->next) {
    state += " node";
  }
  return state;
}

// A map of keys k0 ... k(n-1) (or 0 ... n-1) with values 100 + i.
HashMap* MapFilled(HashMap** variable, int n, uint8_t flags = 0) {
  HashMap* map = MapCreate(sizeof(int64_t), 0, nullptr, variable, 3, flags);
  for (int i = 0; i < n; ++i) {
    void* value = (flags & MapIntegerKeys) != 0
                      ? MapAddInteger(map, i, 0)
                      : MapAdd(map, (u"k" + std::u16string(1, char16_t(u'a' + i))).c_str(), 0);
    *static_cast<int64_t*>(value) = 100 + i;
  }
  return map;
}

LinkedList* ListFilled(ListHolder* holder, int n, int64_t base) {
  LinkedList* list = ListCreate(sizeof(int64_t), holder, nullptr, 0);
  for (int i = 0; i < n; ++i) {
    *static_cast<int64_t*>(ListAdd(list)) = base + i;
  }
  return list;
}

// Operations that make something new: a null result and nothing left behind.
TEST(ContainersOutOfMemory, CreatingGivesNullAndLeavesNothing) {
  const struct {
    const char* name;
    std::function<bool()> make_and_free;  // true when the operation succeeded
  } cases[] = {
      {"PoolCreate",
       [] {
         BlockPool* pool = PoolCreate(40, 16, 256, PoolNoLock);
         PoolDestroy(pool);
         return pool != nullptr;
       }},
      {"PoolCreate shared",
       [] {
         BlockPool* pool = PoolCreate(72, 16, 256, PoolShared);
         PoolDestroy(pool);
         return pool != nullptr;
       }},
      {"ThreadSlotCreate",
       [] {
         ThreadSlot slot = ThreadSlotCreate(24, nullptr, nullptr);
         SizedFree(slot);
         return slot != nullptr;
       }},
      {"MapCreate",
       [] {
         HashMap* variable = nullptr;
         HashMap* map = MapCreate(8, 0, nullptr, &variable, 16, MapKeyNoCase);
         EXPECT_EQ(variable, map) << "the variable holds the map, or null";
         MapFree(map);
         return map != nullptr;
       }},
      {"ListCreate own holder",
       [] {
         LinkedList* list = ListCreate(8, nullptr, nullptr, 0);
         ListFree(list);
         return list != nullptr;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::HeapFailEachMode([&](const FailurePoint& at) {
      const LiveBlockGuard live;
      at.Arm();
      c.make_and_free();
    });
  }
}

TEST(ContainersOutOfMemory, TakingAndAddingLeaveTheContainerAsItWas) {
  test::HeapFailEachMode([](const FailurePoint& at) {
    const LiveBlockGuard live;
    BlockPool* pool = PoolCreate(40, 1, 1, PoolNoLock);
    void* held = PoolTake(pool);
    ASSERT_NE(held, nullptr);
    const uint64_t blocks = pool->total_blocks;
    at.Arm();
    void* block = PoolTakeZeroed(pool);
    test::HeapFailNever();
    if (block == nullptr) {
      EXPECT_EQ(pool->total_blocks, blocks) << "a refused take adds no block";
    }
    if (block != nullptr) PoolGive(pool, block);
    PoolGive(pool, held);
    PoolDestroy(pool);
  });
  // A growing map at the point of doubling: a refused doubling leaves the add done and the map
  // working on its chains, and is tried again later.
  for (const uint8_t flags :
       {uint8_t{0}, MapIntegerKeys, MapGrowing, uint8_t{MapGrowing | MapIntegerKeys}}) {
    test::HeapFailEachMode([&](const FailurePoint& at) {
      const LiveBlockGuard live;
      HashMap* map = nullptr;
      const int count = (flags & MapGrowing) != 0 ? 16 : 5;
      MapFilled(&map, count, flags);
      const std::string before = MapState(map);
      at.Arm();
      void* value =
          (flags & MapIntegerKeys) != 0 ? MapAddInteger(map, 77, 0) : MapAdd(map, u"new key", 0);
      test::HeapFailNever();
      if (value == nullptr) {
        EXPECT_EQ(MapState(map), before) << "flags " << int{flags};
      }
      for (int i = 0; i < 4; ++i) {  // past a refused doubling, the next try
        ASSERT_NE((flags & MapIntegerKeys) != 0 ? MapAddInteger(map, 200 + i, 0)
                                                : MapAdd(map, u"more", 0),
                  nullptr);
      }
      EXPECT_EQ(map->bucket_count, (flags & MapGrowing) != 0 ? 16u : 3u) << "flags " << int{flags};
      MapFree(map);
    });
  }
  test::HeapFailEachMode([](const FailurePoint& at) {
    const LiveBlockGuard live;
    ListHolder holder{};
    LinkedList* list = ListFilled(&holder, 3, 0);
    const std::string before = ListState(list, holder);
    at.Arm();
    void* value = ListAdd(list);
    test::HeapFailNever();
    if (value == nullptr) {
      EXPECT_EQ(ListState(list, holder), before);
    }
    ListFree(list);
  });
}

TEST(ContainersOutOfMemory, RegistryAllocateGivesNullAndKeepsTheRegistry) {
  for (const int64_t id : {int64_t{3}, int64_t{40}, AnyId}) {
    test::HeapFailEachMode([&](const FailurePoint& at) {
      const LiveBlockGuard live;
      ObjectRegistry* registry = RegistryCreate(16, 8, nullptr);
      ASSERT_NE(registry, nullptr);
      *static_cast<int64_t*>(RegistryAllocate(registry, 1)) = 11;
      const std::string before = RegistryState(registry);
      at.Arm();
      void* record = RegistryAllocate(registry, id);
      test::HeapFailNever();
      if (record == nullptr) {
        EXPECT_EQ(RegistryState(registry), before) << "id " << id;
      }
      ASSERT_NE(RegistryLookup(registry, 1), nullptr) << "id " << id;
      testing_support::RegistryTakeApart(registry);
    });
  }
}

// A failed copy leaves the destination as it was, whether it adds, replaces or copies a container
// onto itself.
TEST(ContainersOutOfMemory, FailedCopiesLeaveTheDestinationAsItWas) {
  for (const int32_t clear_first : {0, 1}) {
    for (const bool self : {false, true}) {
      SCOPED_TRACE(testing::Message() << "clear first " << clear_first << ", self " << self);
      test::HeapFailEachMode([&](const FailurePoint& at) {
        const LiveBlockGuard live;
        HashMap* source = nullptr;
        HashMap* destination = nullptr;
        MapFilled(&source, 6);
        MapFilled(&destination, 2);
        MapAdd(destination, u"only here", 0);
        HashMap* target = self ? source : destination;
        const std::string before = MapState(target);
        at.Arm();
        const int32_t copied = MapCopy(source, target, clear_first);
        test::HeapFailNever();
        if (copied == 0) {
          EXPECT_EQ(MapState(target), before);
        }
        MapFree(source);
        MapFree(destination);
      });
      test::HeapFailEachMode([&](const FailurePoint& at) {
        const LiveBlockGuard live;
        ListHolder source{};
        ListHolder destination{};
        ListFilled(&source, 5, 10);
        ListFilled(&destination, 3, 50);
        ListSelect(destination.list, 1);
        LinkedList* target = self ? source.list : destination.list;
        const ListHolder& holder = self ? source : destination;
        const std::string before = ListState(target, holder);
        at.Arm();
        const int32_t copied = ListCopy(source.list, 0, target, 0, clear_first);
        test::HeapFailNever();
        if (copied == 0) {
          EXPECT_EQ(ListState(target, holder), before);
        }
        ListFree(source.list);
        ListFree(destination.list);
      });
    }
  }
}

}  // namespace
}  // namespace zn
