// Tests of the structure walks over every entry kind: what StructureInit creates, what
// StructureCopy copies deeply or byte for byte, and that StructureClear frees everything.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/memory/structures_test_support.h"
#include "runtime/strings/strings.h"

namespace zn {
namespace {

using testing_support::Calls;
using testing_support::ContainerDoubles;
using testing_support::ListAt;
using testing_support::MapAt;

std::u16string Text(const void* field) {
  StringValue s = nullptr;
  std::memcpy(&s, field, sizeof s);
  return s == nullptr ? std::u16string() : std::u16string(s);
}

StringValue StringAt(const void* field) {
  StringValue s = nullptr;
  std::memcpy(&s, field, sizeof s);
  return s;
}

void* PointerAt(const void* field) {
  void* p = nullptr;
  std::memcpy(&p, field, sizeof p);
  return p;
}

void SetString(void* field, const char16_t* text) {
  StringValue s = StringAt(field);
  StringAssign(&s, text);
  std::memcpy(field, &s, sizeof s);
}

const int64_t kOneString[] = {0, -1};
const int64_t kStringAt8[] = {8, -1};
const int64_t kTwoStrings[] = {0, 16, -1};  // strings at 0 and 16, plain bytes 8 to 15
const int64_t kPlainNested[] = {-3, 0, 16, LayoutWord(kTwoStrings), -1};
const int64_t kListAt8[] = {-5, 8, 24, LayoutWord(kOneString), 5, -1};
const int64_t kNestedList[] = {0, -3, 8, 32, LayoutWord(kListAt8), -1};

// ---------------------------------------------------------------------------------------------

TEST(LayoutNeedsInit, StringsAloneNeedNothing) {
  EXPECT_EQ(LayoutNeedsInit(nullptr), 0);
  EXPECT_EQ(LayoutNeedsInit(kOneString), 0);
  EXPECT_EQ(LayoutNeedsInit(kTwoStrings), 0);
  EXPECT_EQ(LayoutNeedsInit(kPlainNested), 0) << "nested structures of strings";
  const int64_t strings_array[] = {-2, 3, 0, 24, LayoutWord(kTwoStrings), -1};
  EXPECT_EQ(LayoutNeedsInit(strings_array), 0) << "fixed array of structures of strings";
}

TEST(LayoutNeedsInit, EveryContainerKindNeedsInit) {
  const int64_t array[] = {0, -4, 8, 8, 2, 8, LayoutWord(kOneString), -1};
  const int64_t dims[] = {-7, 0, 2, 8, 0, 0, 2, 3, -1};
  const int64_t map[] = {-6, 0, 8, 0, 0, 4, -1};
  EXPECT_EQ(LayoutNeedsInit(kListAt8), 1) << "list";
  EXPECT_EQ(LayoutNeedsInit(array), 1) << "dynamic array";
  EXPECT_EQ(LayoutNeedsInit(dims), 1) << "multi-dimensional array";
  EXPECT_EQ(LayoutNeedsInit(map), 1) << "map";
}

TEST(LayoutNeedsInit, ContainersInsideNestedEntriesCount) {
  EXPECT_EQ(LayoutNeedsInit(kNestedList), 1) << "list inside a nested structure";
  const int64_t in_array[] = {-2, 2, 0, 32, LayoutWord(kListAt8), -1};
  EXPECT_EQ(LayoutNeedsInit(in_array), 1) << "list inside a fixed array of structures";
  const int64_t empty_array[] = {-2, 0, 0, 32, LayoutWord(kListAt8), -1};
  EXPECT_EQ(LayoutNeedsInit(empty_array), 0) << "a fixed array of no elements creates nothing";
}

// ---------------------------------------------------------------------------------------------

TEST(StructureCopy, OneStringKeepsTheOtherBytes) {
  ContainerDoubles doubles;
  unsigned char source[24];
  unsigned char destination[24];
  for (int k = 0; k < 24; ++k) {
    source[k] = static_cast<unsigned char>(k + 1);
    destination[k] = 0xEE;
  }
  std::memset(source + 8, 0, 8);
  std::memset(destination + 8, 0, 8);
  SetString(source + 8, u"hand");
  SetString(destination + 8, u"old string");  // freed by the copy, or the leak check fails
  StructureCopy(destination, 24, kStringAt8, source);
  for (int k : {0, 7, 16, 23}) {
    EXPECT_EQ(destination[k], k + 1) << "byte " << k;
  }
  EXPECT_EQ(Text(destination + 8), u"hand");
  EXPECT_NE(StringAt(destination + 8), StringAt(source + 8)) << "the copy shares its string";
  StructureClear(source, kStringAt8);
  EXPECT_EQ(Text(destination + 8), u"hand") << "the copy depends on the source's string";
  StructureClear(destination, kStringAt8);
  EXPECT_EQ(StringAt(destination + 8), nullptr);
}

TEST(StructureCopy, OntoItselfChangesNothing) {
  ContainerDoubles doubles;
  unsigned char block[24] = {};
  block[0] = 9;
  SetString(block + 8, u"same");
  StringValue before = StringAt(block + 8);
  StructureCopy(block, 24, kStringAt8, block);
  EXPECT_EQ(StringAt(block + 8), before) << "the string was replaced";
  EXPECT_EQ(Text(block + 8), u"same");
  EXPECT_EQ(block[0], 9);
  StructureClear(block, kStringAt8);
}

TEST(StructureCopy, NullStringFreesTheDestinationsString) {
  ContainerDoubles doubles;
  unsigned char source[16] = {};
  unsigned char destination[16] = {};
  SetString(destination, u"to be freed");
  StructureCopy(destination, 16, kOneString, source);
  EXPECT_EQ(StringAt(destination), nullptr);
}

TEST(StructureCopy, WithoutLayoutCopiesBytes) {
  ContainerDoubles doubles;
  unsigned char source[12];
  unsigned char destination[12] = {};
  for (int k = 0; k < 12; ++k) {
    source[k] = static_cast<unsigned char>(0xA0 + k);
  }
  StructureCopy(destination, 12, nullptr, source);
  EXPECT_EQ(std::memcmp(destination, source, 12), 0);
}

// A destination left sharing the source's string by a byte copy must not free it under the
// source: both end up with strings of their own.
TEST(StructureCopy, OverASharedStringKeepsTheSourcesString) {
  ContainerDoubles doubles;
  unsigned char source[8] = {};
  unsigned char destination[8] = {};
  SetString(source, u"shared");
  std::memcpy(destination, source, 8);
  StructureCopy(destination, 8, kOneString, source);
  EXPECT_EQ(Text(source), u"shared");
  EXPECT_EQ(Text(destination), u"shared");
  EXPECT_NE(StringAt(destination), StringAt(source));
  StructureClear(source, kOneString);
  StructureClear(destination, kOneString);
}

TEST(StructureCopy, NestedStructuresAndFixedArrays) {
  ContainerDoubles doubles;
  // 8 bytes plain, then two nested 24-byte structures in a fixed array, then a nested one.
  const int64_t layout[] = {
      -2, 2, 8, 24, LayoutWord(kTwoStrings), -3, 56, 24, LayoutWord(kTwoStrings), -1};
  unsigned char source[80] = {};
  unsigned char destination[80] = {};
  for (int k = 0; k < 80; ++k) {
    source[k] = static_cast<unsigned char>(k);
  }
  const int string_offsets[] = {8, 24, 32, 48, 56, 72};
  for (int at : string_offsets) {
    std::memset(source + at, 0, 8);
  }
  for (int at : string_offsets) {
    SetString(source + at, (u"s" + std::u16string(1, u'a' + at % 26)).c_str());
  }
  SetString(destination + 24, u"old");
  StructureCopy(destination, 80, layout, source);
  for (int at : string_offsets) {
    EXPECT_EQ(Text(destination + at), Text(source + at)) << "string at " << at;
    EXPECT_NE(StringAt(destination + at), StringAt(source + at)) << "string at " << at;
  }
  for (int k : {0, 7, 16, 23, 40, 47, 64, 71}) {
    EXPECT_EQ(destination[k], k) << "plain byte " << k;
  }
  StructureClear(source, layout);
  StructureClear(destination, layout);
  for (int at : string_offsets) {
    EXPECT_EQ(StringAt(destination + at), nullptr) << at;
  }
}

// ---------------------------------------------------------------------------------------------

TEST(StructureInit, CreatesEveryContainer) {
  ContainerDoubles doubles;
  const int64_t map_layout[] = {0, -1};
  // clang-format off
  const int64_t layout[] = {
      0,                                           // string
      -4, 8, 24, 3, 12, LayoutWord(kTwoStrings),   // dynamic array
      -5, 16, 40, LayoutWord(kOneString), 7,       // list
      -6, 32, 24, 9, LayoutWord(map_layout), 13,   // map
      -7, 40, 2, 8, 4, 0, 2, 3,                    // 2 x 3 array
      -1};
  // clang-format on
  unsigned char s[64] = {};
  StructureInit(s, layout);
  EXPECT_EQ(StringAt(s), nullptr);

  void* array = PointerAt(s + 8);
  ASSERT_NE(array, nullptr) << "dynamic array not created";
  EXPECT_EQ(ArrayHeaderOf(array)->count, 3);
  EXPECT_EQ(ArrayHeaderOf(array)->element_size, 24);
  EXPECT_EQ(ArrayHeaderOf(array)->type, 12);
  EXPECT_EQ(ArrayHeaderOf(array)->layout, kTwoStrings);
  EXPECT_EQ(ArrayHeaderOf(array)->variable, s + 8);

  ASSERT_NE(ListAt(s + 16), nullptr) << "list not created";
  EXPECT_EQ(ListAt(s + 16)->value_size, 40U);
  EXPECT_EQ(ListAt(s + 16)->layout, kOneString);
  EXPECT_EQ(ListAt(s + 16)->type, 7);

  ASSERT_NE(MapAt(s + 32), nullptr) << "map not created";
  EXPECT_EQ(MapAt(s + 32)->value_size, 24U);
  EXPECT_EQ(MapAt(s + 32)->type, 9);
  EXPECT_EQ(MapAt(s + 32)->layout, map_layout);
  EXPECT_EQ(MapAt(s + 32)->buckets, 13);

  void* grid = PointerAt(s + 40);
  ASSERT_NE(grid, nullptr) << "multi-dimensional array not created";
  EXPECT_EQ(ArrayHeaderOf(grid)->count, 6);
  EXPECT_EQ(ArrayHeaderOf(grid)->dimensions, 2);
  int64_t multipliers[2];
  std::memcpy(multipliers, s + 48, sizeof multipliers);
  EXPECT_EQ(multipliers[0], 3);
  EXPECT_EQ(multipliers[1], 1);

  StructureClear(s, layout);
  EXPECT_EQ(PointerAt(s + 8), nullptr);
  EXPECT_EQ(ListAt(s + 16), nullptr);
  EXPECT_EQ(MapAt(s + 32), nullptr);
  EXPECT_EQ(PointerAt(s + 40), nullptr);
  EXPECT_EQ(Calls.list_free, 1);
  EXPECT_EQ(Calls.map_free, 1);
}

TEST(StructureInit, ReachesContainersInNestedEntries) {
  ContainerDoubles doubles;
  // A fixed array of two structures, each a string and a list at 8, then a nested one.
  const int64_t layout[] = {-2, 2, 0, 32, LayoutWord(kListAt8), -3, 64, 40, LayoutWord(kNestedList),
                            -1};
  unsigned char s[104] = {};
  StructureInit(s, layout);
  EXPECT_NE(ListAt(s + 8), nullptr) << "element 0";
  EXPECT_NE(ListAt(s + 40), nullptr) << "element 1";
  EXPECT_NE(ListAt(s + 64 + 16), nullptr) << "nested structure";
  EXPECT_EQ(Calls.list_create, 3);
  StructureClear(s, layout);
  EXPECT_EQ(Calls.list_free, 3);
}

TEST(StructureInit, WithoutHooksLeavesFieldsNull) {
  ContainerDoubles doubles;
  const int64_t layout[] = {-4, 0, 8, 2, 0, 0, -5, 8, 8, 0, 0, -6, 24, 8, 0, 0, 1, -1};
  Hooks = ContainerHooks{};
  unsigned char s[32] = {};
  StructureInit(s, layout);
  for (int k = 0; k < 32; ++k) {
    EXPECT_EQ(s[k], 0) << "byte " << k;
  }
  StructureClear(s, layout);
}

TEST(StructureClear, FreesADynamicArrayWithItsStrings) {
  ContainerDoubles doubles;
  const int64_t layout[] = {-4, 8, 8, 4, 8, LayoutWord(kOneString), -1};
  unsigned char s[16] = {};
  StructureInit(s, layout);
  auto* elements = static_cast<StringValue*>(PointerAt(s + 8));
  ASSERT_NE(elements, nullptr);
  for (int k = 0; k < 4; ++k) {
    StringAssign(&elements[k], u"element");
  }
  StructureClear(s, layout);
  EXPECT_EQ(PointerAt(s + 8), nullptr) << "the field still names the freed array";
}

TEST(StructureClear, EmptyFieldsAndEmptyFixedArrays) {
  ContainerDoubles doubles;
  const int64_t layout[] = {
      0, -2, 0, 8, 8, LayoutWord(kOneString), -2, -3, 8, 8, LayoutWord(kOneString), -4, 8,
      8, 1,  0, 0, -1};
  unsigned char s[16] = {};
  StructureClear(s, layout);  // nothing to free anywhere
  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(s[k], 0) << "byte " << k;
  }
  EXPECT_EQ(Calls.list_free + Calls.map_free, 0);
}

// ---------------------------------------------------------------------------------------------

TEST(StructureCopy, DynamicArrayMakesAnArrayOfItsOwn) {
  ContainerDoubles doubles;
  const int64_t layout[] = {-4, 8, 8, 2, 8, LayoutWord(kOneString), -1};
  unsigned char source[16] = {};
  unsigned char destination[16] = {};
  source[0] = 0x11;
  StructureInit(source, layout);
  StructureInit(destination, layout);
  // Grow the source's array to three strings, so that the copy must follow the array, not the
  // entry's initial count.
  ArrayCreate(8, 3, 8, kOneString, source + 8);
  auto* from = static_cast<StringValue*>(PointerAt(source + 8));
  StringAssign(&from[0], u"rock");
  StringAssign(&from[2], u"scissors");
  StructureCopy(destination, 16, layout, source);
  auto* to = static_cast<StringValue*>(PointerAt(destination + 8));
  ASSERT_NE(to, nullptr);
  ASSERT_NE(to, from);
  EXPECT_EQ(destination[0], 0x11);
  EXPECT_EQ(ArrayHeaderOf(to)->count, 3);
  EXPECT_EQ(ArrayHeaderOf(to)->variable, destination + 8);
  EXPECT_EQ(std::u16string(to[0]), u"rock");
  EXPECT_EQ(to[1], nullptr);
  EXPECT_EQ(std::u16string(to[2]), u"scissors");
  EXPECT_NE(to[0], from[0]);
  StructureClear(source, layout);
  StructureCopy(destination, 16, layout, source);  // a null source array empties the field
  EXPECT_EQ(PointerAt(destination + 8), nullptr);
}

TEST(StructureCopy, MultiDimensionalArrayCarriesTheMultipliers) {
  ContainerDoubles doubles;
  const int64_t layout[] = {-7, 0, 2, 4, 3, 0, 2, 5, -1};
  unsigned char source[24] = {};
  unsigned char destination[24] = {};
  StructureInit(source, layout);
  auto* from = static_cast<int32_t*>(PointerAt(source));
  for (int k = 0; k < 10; ++k) {
    from[k] = k * 7;
  }
  StructureCopy(destination, 24, layout, source);
  auto* to = static_cast<int32_t*>(PointerAt(destination));
  ASSERT_NE(to, nullptr);
  EXPECT_EQ(ArrayHeaderOf(to)->dimensions, 2);
  EXPECT_EQ(ArrayHeaderOf(to)->count, 10);
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(to[k], k * 7) << "element " << k;
  }
  int64_t multipliers[2];
  std::memcpy(multipliers, destination + 8, sizeof multipliers);
  EXPECT_EQ(multipliers[0], 5);
  EXPECT_EQ(multipliers[1], 1);
  StructureClear(source, layout);
  StructureClear(destination, layout);
}

TEST(StructureCopy, ListAndMapRecreatesThemFromTheEntry) {
  ContainerDoubles doubles;
  const int64_t layout[] = {-5, 0,  48, LayoutWord(kOneString),  3,  -6,
                            16, 32, 4,  LayoutWord(kTwoStrings), 17, -1};
  unsigned char source[24] = {};
  unsigned char destination[24] = {};
  StructureInit(source, layout);
  StructureInit(destination, layout);
  ListAt(source)->values = 4;
  MapAt(source + 16)->values = 6;
  ListAt(destination)->values = 99;  // the old list goes, and its values with it
  StructureCopy(destination, 24, layout, source);
  ASSERT_NE(ListAt(destination), nullptr);
  ASSERT_NE(ListAt(destination), ListAt(source));
  EXPECT_EQ(ListAt(destination)->values, 4);
  EXPECT_EQ(ListAt(destination)->value_size, 48U);
  EXPECT_EQ(ListAt(destination)->layout, kOneString);
  EXPECT_EQ(ListAt(destination)->type, 3);
  ASSERT_NE(MapAt(destination + 16), nullptr);
  ASSERT_NE(MapAt(destination + 16), MapAt(source + 16));
  EXPECT_EQ(MapAt(destination + 16)->values, 6);
  EXPECT_EQ(MapAt(destination + 16)->value_size, 32U);
  EXPECT_EQ(MapAt(destination + 16)->type, 4);
  EXPECT_EQ(MapAt(destination + 16)->layout, kTwoStrings);
  EXPECT_EQ(MapAt(destination + 16)->buckets, 17);
  EXPECT_EQ(Calls.list_free, 1);
  EXPECT_EQ(Calls.map_free, 1);
  StructureClear(source, layout);
  StructureCopy(destination, 24, layout, source);  // null source containers empty the fields
  EXPECT_EQ(ListAt(destination), nullptr);
  EXPECT_EQ(MapAt(destination + 16), nullptr);
}

// Containers shared through a byte copy stay with the source; the destination gets its own.
TEST(StructureCopy, OverSharedContainersKeepsTheSources) {
  ContainerDoubles doubles;
  const int64_t layout[] = {-4, 0, 8, 2, 0, 0, -5, 8, 8, 0, 0, -6, 24, 8, 0, 0, 1, -1};
  unsigned char source[32] = {};
  unsigned char destination[32] = {};
  StructureInit(source, layout);
  std::memcpy(destination, source, 32);
  StructureCopy(destination, 32, layout, source);
  EXPECT_NE(PointerAt(destination), PointerAt(source));
  EXPECT_NE(ListAt(destination + 8), ListAt(source + 8));
  EXPECT_NE(MapAt(destination + 24), MapAt(source + 24));
  EXPECT_EQ(Calls.list_free + Calls.map_free, 0) << "a container of the source was freed";
  StructureClear(source, layout);
  StructureClear(destination, layout);
}

TEST(StructureCopy, WordsBelowTheKindsAreSteppedOver) {
  ContainerDoubles doubles;
  const int64_t layout[] = {-9, 8, -100, -1};
  unsigned char source[16] = {};
  unsigned char destination[16] = {};
  source[0] = 1;
  SetString(source + 8, u"kept");
  StructureCopy(destination, 16, layout, source);
  EXPECT_EQ(destination[0], 1);
  EXPECT_EQ(Text(destination + 8), u"kept");
  StructureClear(source, layout);
  StructureClear(destination, layout);
  EXPECT_EQ(StringAt(destination + 8), nullptr);
}

}  // namespace
}  // namespace zn
