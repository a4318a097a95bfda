// Test support for the structure and array tests: list and map doubles that really allocate
// (through the memory library, so the checking heap sees them) and a fixture that installs them
// in the ContainerHooks and checks that every block is back when a test ends.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/memory/structures.h"
#include "tests/support/heap_checks.h"

namespace zn::testing_support {

// What a list double was created with, and how many values it holds.
struct FakeList {
  uint64_t value_size;
  LayoutDescriptor layout;
  int32_t type;
  ListHolder* holder;
  int64_t values;
};

// What a map double was created with, and how many values it holds.
struct FakeMap {
  uint64_t value_size;
  int32_t type;
  LayoutDescriptor layout;
  HashMap** variable;
  int32_t buckets;
  int64_t values;
};

// Calls the doubles have seen since the fixture installed them.
struct HookCalls {
  int list_create;
  int list_copy;
  int list_free;
  int map_create;
  int map_copy;
  int map_free;
};

extern HookCalls Calls;

FakeList* AsFake(LinkedList* list);
FakeMap* AsFake(HashMap* map);

// The list held in a ListHolder field at `field`.
FakeList* ListAt(void* field);
// The map held in a map field at `field`.
FakeMap* MapAt(void* field);

// For the length of a test: the real array hooks and the list and map doubles in the
// ContainerHooks. The hooks that were there come back at the end, and the live-block count must
// then be what it was at the start.
class ContainerDoubles {
 public:
  ContainerDoubles();
  ~ContainerDoubles();
  ContainerDoubles(const ContainerDoubles&) = delete;
  ContainerDoubles& operator=(const ContainerDoubles&) = delete;

 private:
  test::LiveBlockGuard live_{"arrays, lists or maps were not all freed"};
  ContainerHooks saved_{};
};

}  // namespace zn::testing_support
