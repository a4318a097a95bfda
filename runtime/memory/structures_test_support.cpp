// The list and map doubles of the structure and array tests. They keep only what the walks must
// pass on (sizes, layouts, type codes, bucket counts) and a count of values, but they allocate
// and free for real so that a missing free shows up as a live block.
#include "runtime/memory/structures_test_support.h"

#include "runtime/memory/memory.h"
#include "tests/support/heap_checks.h"

#include <cstring>

namespace zn::testing_support {

HookCalls Calls{};

namespace {

// The two words of a ListHolder (the list and its current element), seen without the list
// library's header.
struct HolderWords {
  void* list;
  void* current;
};

HolderWords* Words(ListHolder* holder) {
  return reinterpret_cast<HolderWords*>(holder);
}

LinkedList* FakeListCreate(uint64_t value_size, ListHolder* holder, LayoutDescriptor layout,
                           int32_t type) {
  ++Calls.list_create;
  auto* list = static_cast<FakeList*>(MemoryAllocZeroed(sizeof(FakeList)));
  if (list == nullptr) {
    return nullptr;
  }
  *list = FakeList{value_size, layout, type, holder, 0};
  auto* handle = reinterpret_cast<LinkedList*>(list);
  if (holder != nullptr) {
    *Words(holder) = HolderWords{handle, nullptr};
  }
  return handle;
}

int32_t FakeListCopy(LinkedList* source, int64_t source_tag, LinkedList* destination,
                     int64_t destination_tag, int32_t clear_first) {
  ++Calls.list_copy;
  if (source == nullptr || destination == nullptr || source_tag != destination_tag) {
    return 0;
  }
  if (clear_first != 0) {
    AsFake(destination)->values = 0;
  }
  AsFake(destination)->values += AsFake(source)->values;
  return 1;
}

void FakeListFree(LinkedList* list) {
  ++Calls.list_free;
  if (list == nullptr) {
    return;
  }
  FakeList* fake = AsFake(list);
  if (fake->holder != nullptr) {
    *Words(fake->holder) = HolderWords{nullptr, nullptr};
  }
  MemoryRelease(fake);
}

HashMap* FakeMapCreate(uint64_t value_size, int32_t type, LayoutDescriptor layout,
                       HashMap** variable, int32_t buckets) {
  ++Calls.map_create;
  if (*variable != nullptr) {
    MemoryRelease(AsFake(*variable));
    *variable = nullptr;
  }
  auto* map = static_cast<FakeMap*>(MemoryAllocZeroed(sizeof(FakeMap)));
  if (map == nullptr) {
    return nullptr;
  }
  *map = FakeMap{value_size, type, layout, variable, buckets, 0};
  *variable = reinterpret_cast<HashMap*>(map);
  return *variable;
}

int32_t FakeMapCopy(HashMap* source, HashMap* destination, int32_t clear_first) {
  ++Calls.map_copy;
  if (source == nullptr || destination == nullptr) {
    return 0;
  }
  if (clear_first != 0) {
    AsFake(destination)->values = 0;
  }
  AsFake(destination)->values += AsFake(source)->values;
  return 1;
}

void FakeMapFree(HashMap* map) {
  ++Calls.map_free;
  if (map == nullptr) {
    return;
  }
  FakeMap* fake = AsFake(map);
  *fake->variable = nullptr;
  MemoryRelease(fake);
}

}  // namespace

FakeList* AsFake(LinkedList* list) {
  return reinterpret_cast<FakeList*>(list);
}
FakeMap* AsFake(HashMap* map) {
  return reinterpret_cast<FakeMap*>(map);
}

FakeList* ListAt(void* field) {
  return static_cast<FakeList*>(static_cast<HolderWords*>(field)->list);
}
FakeMap* MapAt(void* field) {
  return AsFake(*static_cast<HashMap**>(field));
}

ContainerDoubles::ContainerDoubles() {
  saved_ = Hooks;
  Calls = HookCalls{};
  ArrayHooksRegister();
  Hooks.ListCreateHook = FakeListCreate;
  Hooks.ListCopyHook = FakeListCopy;
  Hooks.ListFreeHook = FakeListFree;
  Hooks.MapCreateHook = FakeMapCreate;
  Hooks.MapCopyHook = FakeMapCopy;
  Hooks.MapFreeHook = FakeMapFree;
}

ContainerDoubles::~ContainerDoubles() {
  test::HeapFailNever();
  Hooks = saved_;
}

}  // namespace zn::testing_support
