// Re-entrancy of the registry's free callback: a callback that frees other objects, iterates its
// own registry, creates objects or starts a release of all of them while the registry is in the
// middle of calling it. Every object must be freed exactly once, none left live, nothing leaked
// (the sanitizers catch a read of a freed record or slot table).
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/containers/registry_test_support.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

enum class Behaviour { kPlain, kAlsoAnother, kIterate, kCreate, kReleaseAllInside };

const char* Name(Behaviour behaviour) {
  switch (behaviour) {
    case Behaviour::kPlain:
      return "frees itself";
    case Behaviour::kAlsoAnother:
      return "frees another object too";
    case Behaviour::kIterate:
      return "iterates its registry";
    case Behaviour::kCreate:
      return "creates objects";
    case Behaviour::kReleaseAllInside:
      return "releases all from inside";
  }
  return "?";
}

ObjectRegistry* registry = nullptr;
Behaviour behaviour = Behaviour::kPlain;
std::map<int64_t, int> freed;  // id -> times freed
bool created = false;
bool released_all = false;

void FreeObject(int64_t id);

// The first live object other than `id`, or -2 when there is none.
int64_t AnotherLive(int64_t id) {
  int64_t other = 0;
  RegistryFirst(registry);
  while (RegistryNext(registry, &other) != nullptr) {
    if (other != id && RegistryLookup(registry, other) != nullptr) {
      RegistryDone(registry);
      return other;
    }
  }
  RegistryDone(registry);
  return -2;
}

// The library's free callback: releases the object if it is live, doing its behaviour first.
void FreeObject(int64_t id) {
  if (RegistryLookup(registry, id) == nullptr) return;
  ++freed[id];
  // The record is marked dead before anything else runs, as a library's callback does, so that
  // nothing re-entered frees it twice.
  *static_cast<int64_t*>(RegistryLookup(registry, id)) = 0;
  switch (behaviour) {
    case Behaviour::kPlain:
      break;
    case Behaviour::kAlsoAnother:
      if (const int64_t other = AnotherLive(id); other != -2) FreeObject(other);
      break;
    case Behaviour::kIterate:
      AnotherLive(-3);
      break;
    case Behaviour::kCreate:
      if (!created) {
        created = true;
        *static_cast<int64_t*>(RegistryAllocate(registry, 300)) = 1;  // the slot table grows
        *static_cast<int64_t*>(RegistryAllocate(registry, AnyId)) = 1;
      }
      break;
    case Behaviour::kReleaseAllInside:
      if (!released_all) {
        released_all = true;
        RegistryReleaseAll(registry);
      }
      break;
  }
  RegistryRelease(registry, id);
}

// Numbered objects 0 ... 5 and three free-standing ones.
void Populate() {
  for (int64_t id = 0; id < 6; ++id) {
    *static_cast<int64_t*>(RegistryAllocate(registry, id)) = 1;
  }
  for (int i = 0; i < 3; ++i) {
    *static_cast<int64_t*>(RegistryAllocate(registry, AnyId)) = 1;
  }
}

TEST(RegistryFreeCallback, MayReenterItsRegistryWhileReleasingAll) {
  for (const Behaviour b : {Behaviour::kPlain, Behaviour::kAlsoAnother, Behaviour::kIterate,
                            Behaviour::kCreate, Behaviour::kReleaseAllInside}) {
    SCOPED_TRACE(Name(b));
    const test::LiveBlockGuard live;
    registry = RegistryCreate(16, 4, FreeObject);
    behaviour = b;
    freed.clear();
    created = released_all = false;
    Populate();
    RegistryReleaseAll(registry);
    int64_t id = 0;
    RegistryFirst(registry);
    EXPECT_EQ(RegistryNext(registry, &id), nullptr) << "object " << id << " left live";
    RegistryDone(registry);
    EXPECT_EQ(freed.size(), b == Behaviour::kCreate ? 11u : 9u);
    for (const auto& [object, times] : freed)
      EXPECT_EQ(times, 1) << "object " << object;
    testing_support::RegistryTakeApart(registry);
  }
}

TEST(RegistryFreeCallback, MayReenterItsRegistryWhenAnIdIsReused) {
  for (const Behaviour b : {Behaviour::kAlsoAnother, Behaviour::kIterate, Behaviour::kCreate,
                            Behaviour::kReleaseAllInside}) {
    SCOPED_TRACE(Name(b));
    const test::LiveBlockGuard live;
    registry = RegistryCreate(16, 4, FreeObject);
    behaviour = b;
    freed.clear();
    created = released_all = false;
    Populate();
    auto* record = static_cast<int64_t*>(RegistryAllocate(registry, 2));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(freed[2], 1) << "the old object 2 is freed first";
    EXPECT_EQ(*record, 0) << "the record is handed out cleared";
    *record = 1;
    EXPECT_EQ(RegistryLookup(registry, 2), record)
        << "the record is reused, even if the table moved";
    behaviour = Behaviour::kPlain;
    RegistryReleaseAll(registry);
    testing_support::RegistryTakeApart(registry);
  }
}

}  // namespace
}  // namespace zn
