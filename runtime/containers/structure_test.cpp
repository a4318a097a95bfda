// Structures that hold strings, arrays, lists and maps nested in each other, walked through the
// real container hooks: initialised, deep-copied and cleared with every block released, and the
// copies independent of their sources.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/strings/strings.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

struct Leaf {
  StringValue name;
  int64_t number;
};
const int64_t kLeafLayout[] = {0, -1};

struct Inner {
  HashMap* tags;  // a map of numbers
};
const int64_t kInnerLayout[] = {kLayoutMap, 0, sizeof(int64_t), 0, 0, 2, kLayoutEnd};

struct Group {
  ListHolder items;  // a list of Leaf
  StringValue label;
};

struct Outer {
  StringValue title;  // 0
  int64_t* numbers;   // 8: a dynamic array of 3 numbers
  ListHolder leaves;  // 16: a list of Leaf
  HashMap* index;     // 32: a map of Leaf
  int64_t plain;      // 40
  HashMap* groups;    // 48: a map of Group, whose values hold lists
  Leaf* pairs;        // 56: a dynamic array of 2 Leaf
  Inner inner;        // 64: a nested record with a map
};

// Layout words that name a descriptor hold its address.
int64_t Address(const int64_t* layout) {
  return static_cast<int64_t>(std::bit_cast<uintptr_t>(layout));
}

struct Layouts {
  int64_t group[7];
  int64_t outer[40];
};

Layouts MakeLayouts() {
  Layouts l{};
  const int64_t group[] = {kLayoutList, 0, sizeof(Leaf), Address(kLeafLayout), 0, 16, kLayoutEnd};
  std::copy(std::begin(group), std::end(group), l.group);
  const int64_t outer[] = {0,
                           kLayoutArray,
                           8,
                           sizeof(int64_t),
                           3,
                           0,
                           0,
                           kLayoutList,
                           16,
                           sizeof(Leaf),
                           Address(kLeafLayout),
                           0,
                           kLayoutMap,
                           32,
                           sizeof(Leaf),
                           0,
                           Address(kLeafLayout),
                           16,
                           kLayoutMap,
                           48,
                           sizeof(Group),
                           0,
                           0 /* patched */,
                           4,
                           kLayoutArray,
                           56,
                           sizeof(Leaf),
                           2,
                           0,
                           Address(kLeafLayout),
                           kLayoutStruct,
                           64,
                           sizeof(Inner),
                           Address(kInnerLayout),
                           kLayoutEnd};
  std::copy(std::begin(outer), std::end(outer), l.outer);
  return l;
}

Leaf* AddLeaf(void* value, const char16_t* name, int64_t number) {
  auto* leaf = static_cast<Leaf*>(value);
  StringAssign(&leaf->name, name);
  leaf->number = number;
  return leaf;
}

std::u16string Text(const char16_t* s) {
  return s == nullptr ? std::u16string() : s;
}

std::string Narrow(const char16_t* s) {
  return s == nullptr ? "-" : std::string(s, s + StringLength(s));
}
// What a record holds: its strings and plain data, which containers it has and how many elements
// they hold; with `exact`, the addresses of what it owns: the very same strings and containers.
std::string Dump(const Outer& o, bool exact = false) {
  std::string text = Narrow(o.title) + Narrow(o.pairs != nullptr ? o.pairs[1].name : nullptr);
  for (const int64_t n :
       {o.plain, ListCount(o.leaves.list), int64_t{MapElementCount(o.index)},
        int64_t{MapElementCount(o.groups)}, int64_t{MapElementCount(o.inner.tags)}}) {
    text += " " + std::to_string(n);
  }
  std::string addresses;
  for (const void* owned :
       std::initializer_list<const void*>{o.title, o.numbers, o.leaves.list, o.leaves.current,
                                          o.index, o.groups, o.pairs, o.inner.tags}) {
    text += owned != nullptr ? "+" : "-";
    addresses += " " + std::to_string(reinterpret_cast<uintptr_t>(owned));
  }
  return exact ? text + addresses : text;
}
// The record held in a list or map element: a value lies right behind its element's two words.
std::string ValueDump(const void* element) {
  return Dump(*reinterpret_cast<const Outer*>(static_cast<const char*>(element) + 16), true);
}

class StructureWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ArrayHooksRegister();
    ListHooksRegister();
    MapHooksRegister();
    layouts_ = MakeLayouts();
    layouts_.outer[22] = Address(layouts_.group);
  }
  void Fill(Outer* outer, const char16_t* title = u"title") {
    StringAssign(&outer->title, title);
    outer->numbers[0] = 11;
    outer->numbers[2] = 33;
    outer->plain = 99;
    AddLeaf(ListAdd(outer->leaves.list), u"first", 1);
    AddLeaf(ListAdd(outer->leaves.list), u"second", 2);
    AddLeaf(MapAdd(outer->index, u"k1", 1), u"mapped", 10);
    auto* group = static_cast<Group*>(MapAdd(outer->groups, u"g", 1));
    ASSERT_NE(group->items.list, nullptr) << "the map value's list was not created";
    StringAssign(&group->label, u"label");
    AddLeaf(ListAdd(group->items.list), u"deep", 100);
    AddLeaf(&outer->pairs[1], u"pair", 7);
    *static_cast<int64_t*>(MapAdd(outer->inner.tags, u"t", 1)) = 5;
  }
  Layouts layouts_{};
  test::LiveBlockGuard live_{"the walks left blocks behind"};
};

TEST_F(StructureWalkTest, InitCreatesEveryContainer) {
  EXPECT_EQ(LayoutNeedsInit(layouts_.outer), 1);
  EXPECT_EQ(LayoutNeedsInit(layouts_.group), 1);
  Outer outer{};
  StructureInit(&outer, layouts_.outer);
  ASSERT_NE(outer.numbers, nullptr);
  ASSERT_NE(outer.leaves.list, nullptr);
  ASSERT_NE(outer.index, nullptr);
  ASSERT_NE(outer.groups, nullptr);
  EXPECT_EQ(outer.index->owner, &outer.index);
  EXPECT_EQ(outer.leaves.list->holder, &outer.leaves);
  EXPECT_EQ(outer.index->bucket_count, 16u);
  EXPECT_NE(outer.groups->flags & MapStructured, 0) << "group values hold lists";
  EXPECT_EQ(outer.index->flags & MapStructured, 0) << "leaf values hold only strings";
  StructureClear(&outer, layouts_.outer);
  EXPECT_EQ(outer.leaves.list, nullptr);
  EXPECT_EQ(outer.index, nullptr);
  EXPECT_EQ(outer.groups, nullptr);
  EXPECT_EQ(outer.numbers, nullptr);
}

TEST_F(StructureWalkTest, DeepCopyIsIndependentOfItsSource) {
  Outer source{};
  Outer copy{};
  StructureInit(&source, layouts_.outer);
  StructureInit(&copy, layouts_.outer);
  Fill(&source);
  StructureCopy(&copy, sizeof(Outer), layouts_.outer, &source);

  EXPECT_EQ(Text(copy.title), u"title");
  EXPECT_NE(copy.title, source.title);
  EXPECT_EQ(copy.plain, 99);
  ASSERT_NE(copy.numbers, nullptr);
  EXPECT_NE(copy.numbers, source.numbers);
  EXPECT_EQ(copy.numbers[2], 33);
  ASSERT_NE(copy.leaves.list, nullptr);
  EXPECT_NE(copy.leaves.list, source.leaves.list);
  EXPECT_EQ(ListCount(copy.leaves.list), 2);
  auto* second = static_cast<Leaf*>(ListSelect(copy.leaves.list, 1));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(Text(second->name), u"second");
  ASSERT_NE(copy.index, nullptr);
  EXPECT_EQ(copy.index->owner, &copy.index);
  auto* mapped = static_cast<Leaf*>(MapFind(copy.index, u"k1"));
  ASSERT_NE(mapped, nullptr);
  EXPECT_EQ(Text(mapped->name), u"mapped");
  auto* group = static_cast<Group*>(MapFind(copy.groups, u"g"));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(Text(group->label), u"label");
  ASSERT_NE(group->items.list, nullptr);
  auto* source_group = static_cast<Group*>(MapFind(source.groups, u"g"));
  EXPECT_NE(group->items.list, source_group->items.list);
  auto* deep = static_cast<Leaf*>(ListSelect(group->items.list, 0));
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(Text(deep->name), u"deep");
  EXPECT_NE(deep->name, static_cast<Leaf*>(ListSelect(source_group->items.list, 0))->name);
  EXPECT_EQ(Text(copy.pairs[1].name), u"pair");
  EXPECT_NE(copy.pairs[1].name, source.pairs[1].name);

  // Changing or clearing the source leaves the copy as it was.
  StringAssign(&deep->name, u"changed in copy");
  AddLeaf(MapAdd(source.index, u"k2", 1), u"late", 2);
  StructureClear(&source, layouts_.outer);
  EXPECT_EQ(MapElementCount(copy.index), 1);
  EXPECT_EQ(Text(static_cast<Leaf*>(ListSelect(group->items.list, 0))->name), u"changed in copy");
  EXPECT_EQ(Text(static_cast<Leaf*>(ListSelect(copy.leaves.list, 0))->name), u"first");

  // Copying over a filled destination frees what it held.
  Outer again{};
  StructureInit(&again, layouts_.outer);
  Fill(&again);
  StructureCopy(&again, sizeof(Outer), layouts_.outer, &copy);
  EXPECT_EQ(ListCount(again.leaves.list), 2);
  StructureClear(&again, layouts_.outer);
  StructureClear(&copy, layouts_.outer);
}

TEST_F(StructureWalkTest, MapAndListOfStructuredValuesClearEverything) {
  HashMap* map = nullptr;
  ASSERT_NE(MapCreate(sizeof(Group), 0, layouts_.group, &map, 8), nullptr);
  for (int i = 0; i < 50; ++i) {
    const std::u16string key = u"group" + std::u16string(1, static_cast<char16_t>(u'a' + i));
    auto* group = static_cast<Group*>(MapAdd(map, key.c_str(), 1));
    ASSERT_NE(group, nullptr);
    StringAssign(&group->label, key.c_str());
    for (int j = 0; j < 3; ++j) {
      AddLeaf(ListAdd(group->items.list), u"item", j);
    }
  }
  // Mode 1 on a present key clears its value's list and creates a fresh one.
  auto* renewed = static_cast<Group*>(MapAdd(map, u"groupa", 1));
  ASSERT_NE(renewed->items.list, nullptr);
  EXPECT_EQ(ListCount(renewed->items.list), 0);
  EXPECT_EQ(renewed->label, nullptr);
  HashMap* twin = nullptr;
  ASSERT_NE(MapCreate(sizeof(Group), 0, layouts_.group, &twin, 8), nullptr);
  EXPECT_EQ(MapCopy(map, twin, 1), 1);
  EXPECT_EQ(MapElementCount(twin), 50);
  // Delete some while iterating; their lists and strings go with them.
  MapReset(map);
  int step = 0;
  while (MapNext(map) != nullptr) {
    if (step++ % 2 == 0) {
      MapDeleteCurrent(map);
    }
  }
  EXPECT_EQ(MapElementCount(map), 25);
  MapFree(map);
  EXPECT_EQ(map, nullptr);
  auto* group = static_cast<Group*>(MapFind(twin, u"groupb"));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(ListCount(group->items.list), 3) << "the copy keeps its own lists";
  MapFree(twin);

  ListHolder holder{nullptr, nullptr};
  ASSERT_NE(ListCreate(sizeof(Group), &holder, layouts_.group, 0), nullptr);
  for (int i = 0; i < 5; ++i) {
    auto* g = static_cast<Group*>(ListAdd(holder.list));
    ASSERT_NE(g->items.list, nullptr);
    AddLeaf(ListAdd(g->items.list), u"x", i);
  }
  ListHolder other{nullptr, nullptr};
  ASSERT_NE(ListCreate(sizeof(Group), &other, layouts_.group, 0), nullptr);
  EXPECT_EQ(ListCopy(holder.list, 0, other.list, 0, 0), 1);
  ListFree(holder.list);
  EXPECT_EQ(ListCount(other.list), 5);
  ListFree(other.list);
}

// Every operation built on the structure walks, each heap request refused in turn (once and from
// then on): a failure leaves nothing behind and its destination, container or variable exactly as
// it was; a success holds a complete fresh value, or a copy of the source.
TEST_F(StructureWalkTest, RefusedRequestsLeaveEverythingAsItWas) {
  Outer source{};
  StructureInit(&source, layouts_.outer);
  Fill(&source);
  struct World {
    Outer record{};
    Outer* array = nullptr;
    Outer* source_array = nullptr;
    Outer* created = nullptr;
    ListHolder list{};
    ListHolder source_list{};
    HashMap* map = nullptr;
    HashMap* source_map = nullptr;
  };
  // Every destination holds "old" records, so that a fresh or copied one stands out.
  const auto make = [&](World& w) {
    StructureInit(&w.record, layouts_.outer);
    Fill(&w.record, u"old");
    ArrayCreate(sizeof(Outer), 2, 0, layouts_.outer, &w.array);
    Fill(&w.array[0], u"old");
    ArrayCreate(sizeof(Outer), 2, 0, layouts_.outer, &w.source_array);
    StructureCopy(&w.source_array[0], sizeof(Outer), layouts_.outer, &source);
    ListCreate(sizeof(Outer), &w.list, layouts_.outer, 0);
    Fill(static_cast<Outer*>(ListAdd(w.list.list)), u"old");
    ListCreate(sizeof(Outer), &w.source_list, layouts_.outer, 0);
    StructureCopy(ListAdd(w.source_list.list), sizeof(Outer), layouts_.outer, &source);
    MapCreate(sizeof(Outer), 0, layouts_.outer, &w.map, 4);
    Fill(static_cast<Outer*>(MapAdd(w.map, u"a", 1)), u"old");
    MapCreate(sizeof(Outer), 0, layouts_.outer, &w.source_map, 4);
    StructureCopy(MapAdd(w.source_map, u"s", 1), sizeof(Outer), layouts_.outer, &source);
  };
  // The list and the map hold one old record each; a new one is added behind it and made current.
  const auto state = [](const World& w) {
    return Dump(w.record, true) + Dump(w.array[0], true) +
           (w.created ? Dump(w.created[1], true) : "") + std::to_string(ListCount(w.list.list)) +
           ValueDump(w.list.list->first) + ValueDump(w.list.list->last) +
           std::to_string(MapElementCount(w.map)) + ValueDump(w.map->current) +
           std::to_string(reinterpret_cast<uintptr_t>(w.list.current));
  };
  const struct {
    const char* name;
    bool copies;  // a success leaves a copy of the source, else a fresh value
    std::function<bool(World&)> run;
  } cases[] = {
      {"StructureCopy", true,
       [&](World& w) { return StructureCopy(&w.record, sizeof(Outer), layouts_.outer, &source); }},
      {"ArrayCreate", false,
       [&](World& w) { return ArrayCreate(sizeof(Outer), 2, 0, layouts_.outer, &w.created); }},
      {"ArrayCopyInto", true, [](World& w) { return ArrayCopyInto(w.source_array, w.array, 0); }},
      {"ArrayCopy", true, [](World& w) { return ArrayCopy(w.source_array, w.array); }},
      {"ListAdd", false, [](World& w) { return ListAdd(w.list.list); }},
      {"ListCopy", true,
       [](World& w) { return ListCopy(w.source_list.list, 0, w.list.list, 0, 0); }},
      {"ListCopyCleared", true,
       [](World& w) { return ListCopyCleared(w.source_list.list, 0, w.list.list, 0); }},
      {"MapAdd", false, [](World& w) { return MapAdd(w.map, u"b", 0); }},
      {"MapAdd renewing", false, [](World& w) { return MapAdd(w.map, u"a", 1); }},
      {"MapCopy", true, [](World& w) { return MapCopy(w.source_map, w.map, 0); }},
      {"MapCopy clearing", true, [](World& w) { return MapCopy(w.source_map, w.map, 1); }},
  };
  const std::string filled = Dump(source);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::HeapFailEachMode([&](const test::FailurePoint& at) {
      const test::LiveBlockGuard live;
      World w;
      make(w);
      const std::string before = state(w);
      const std::string fresh = Dump(w.source_array[1]);  // an element as creation made it
      at.Arm();
      const bool done = c.run(w);
      test::HeapFailNever();
      // A failure changes nothing; a success shows a whole fresh value, or a whole copy.
      const std::string after = state(w);
      EXPECT_TRUE(done ? after.find(c.copies ? filled : fresh) != after.npos : after == before)
          << "before: " << before << "\nafter:  " << after;
      EXPECT_TRUE(done || test::HeapRefusals() > 0) << "failed with nothing refused";
      StructureClear(&w.record, layouts_.outer);
      for (Outer* array : {w.array, w.source_array, w.created}) {
        ArrayFree(array);
      }
      ListFree(w.list.list);
      ListFree(w.source_list.list);
      MapFree(w.map);
      MapFree(w.source_map);
    });
  }
  StructureClear(&source, layouts_.outer);
}

}  // namespace
}  // namespace zn
