// Tests of arrays: the header in front of the elements, creation and re-creation, the
// multi-dimensional multipliers, copying with and without re-creation, freeing, and refusals of
// bad sizes, all with every block given back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/memory/structures_test_support.h"
#include "runtime/strings/strings.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

using testing_support::ContainerDoubles;

const int64_t kOneString[] = {0, -1};

// A variable record of a multi-dimensional array of up to four dimensions.
struct GridRecord {
  void* elements;
  int64_t slots[4];
};

TEST(ArrayCreate, StringArrayStartsEmptyAndTakesStrings) {
  ContainerDoubles doubles;
  StringValue* hands = nullptr;
  void* elements = ArrayCreate(8, 4, 8, kOneString, &hands);
  ASSERT_NE(elements, nullptr);
  EXPECT_EQ(elements, hands) << "the variable does not hold the new array";
  const ArrayHeader* header = ArrayHeaderOf(elements);
  EXPECT_EQ(reinterpret_cast<const char*>(header) + 48, elements);
  EXPECT_EQ(header->dimensions, 1);
  EXPECT_EQ(header->element_size, 8);
  EXPECT_EQ(header->layout, kOneString);
  EXPECT_EQ(header->variable, &hands);
  EXPECT_EQ(header->count, 4);
  EXPECT_EQ(header->type, 8);
  // The header and the elements share one SizedBlock.
  EXPECT_EQ(SizedSizeOf(header), 48 + 4 * 8);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(hands[k], nullptr) << "element " << k;
  }
  StringAssign(&hands[1], u"rock");
  StringAssign(&hands[2], u"paper");
  StringAssign(&hands[3], u"scissors");
  EXPECT_EQ(std::u16string(hands[3]), u"scissors");
  ArrayFree(hands);
  EXPECT_EQ(hands, nullptr) << "ArrayFree left the variable set";
}

TEST(ArrayCreate, PlainElementsAreZeroed) {
  ContainerDoubles doubles;
  int32_t* numbers = nullptr;
  ASSERT_NE(ArrayCreate(4, 1000, 3, nullptr, &numbers), nullptr);
  for (int k = 0; k < 1000; ++k) {
    ASSERT_EQ(numbers[k], 0) << "element " << k;
  }
  ArrayFree(numbers);
}

TEST(ArrayCreate, CountOfZeroOrLessFreesTheOldArray) {
  ContainerDoubles doubles;
  StringValue* hands = nullptr;
  for (int64_t count : {int64_t{0}, int64_t{-1}, INT64_MIN}) {
    ASSERT_NE(ArrayCreate(8, 2, 8, kOneString, &hands), nullptr);
    StringAssign(&hands[0], u"freed with its array");
    EXPECT_EQ(ArrayCreate(8, count, 8, kOneString, &hands), nullptr) << "count " << count;
    EXPECT_EQ(hands, nullptr) << "count " << count;
  }
}

TEST(ArrayCreate, RecreationFreesTheOldContents) {
  ContainerDoubles doubles;
  StringValue* hands = nullptr;
  ASSERT_NE(ArrayCreate(8, 3, 8, kOneString, &hands), nullptr);
  StringAssign(&hands[2], u"old");
  ASSERT_NE(ArrayCreate(8, 5, 8, kOneString, &hands), nullptr);
  EXPECT_EQ(ArrayHeaderOf(hands)->count, 5);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(hands[k], nullptr) << "element " << k << " kept";
  }
  ArrayFree(hands);
}

TEST(ArrayCreate, OverflowingSizeIsRefusedWithoutAllocating) {
  ContainerDoubles doubles;
  const test::LiveBlockGuard live;
  char* bytes = nullptr;
  struct Case {
    uint64_t size;
    int64_t count;
  };
  // The first two wrap around 2^64; the others fit in 64 bits but no heap request can take them.
  const Case cases[] = {{uint64_t{1} << 62, 4},
                        {UINT64_MAX, 2},
                        {uint64_t{1} << 40, int64_t{1} << 23},
                        {1, INT64_MAX - 47}};
  for (const Case& c : cases) {
    bytes = nullptr;
    ASSERT_NE(ArrayCreate(1, 8, 0, nullptr, &bytes), nullptr);
    EXPECT_EQ(ArrayCreate(c.size, c.count, 0, nullptr, &bytes), nullptr)
        << "size " << c.size << " count " << c.count;
    EXPECT_EQ(bytes, nullptr) << "size " << c.size << " count " << c.count;
    EXPECT_EQ(live.Change(), 0) << "size " << c.size << " count " << c.count;
  }
}

TEST(ArrayCreate, ExhaustedMemoryGivesNull) {
  ContainerDoubles doubles;
  StringValue* hands = nullptr;
  test::HeapFailAfter(0);
  EXPECT_EQ(ArrayCreate(8, 4, 8, kOneString, &hands), nullptr);
  test::HeapFailNever();
  EXPECT_EQ(hands, nullptr);
}

TEST(ArrayCreate, WithoutVariableAllocatesNothing) {
  ContainerDoubles doubles;
  const test::LiveBlockGuard live;
  EXPECT_EQ(ArrayCreate(8, 4, 8, kOneString, nullptr), nullptr);
}

TEST(ArrayCreate, InitialisesElementsThatHoldContainers) {
  ContainerDoubles doubles;
  // Each 16-byte element: a string and a dynamic array of two strings.
  const int64_t layout[] = {0, -4, 8, 8, 2, 8, LayoutWord(kOneString), -1};
  char* elements = nullptr;
  ASSERT_NE(ArrayCreate(16, 3, 0, layout, &elements), nullptr);
  for (int k = 0; k < 3; ++k) {
    void* inner = nullptr;
    std::memcpy(&inner, elements + k * 16 + 8, sizeof inner);
    ASSERT_NE(inner, nullptr) << "element " << k << " has no array";
    EXPECT_EQ(ArrayHeaderOf(inner)->count, 2) << "element " << k;
    EXPECT_EQ(ArrayHeaderOf(inner)->variable, elements + k * 16 + 8) << "element " << k;
    StringAssign(static_cast<StringValue*>(inner), u"inner");
  }
  ArrayFree(elements);  // every inner array and string goes too (checked by the leak check)
  EXPECT_EQ(elements, nullptr);
}

// ---------------------------------------------------------------------------------------------

TEST(ArrayCreateDims, CountsBecomeMultipliers) {
  ContainerDoubles doubles;
  GridRecord grid{nullptr, {3, 4, 0, 0}};
  void* elements = ArrayCreateDims(2, 8, 1, nullptr, &grid);
  ASSERT_NE(elements, nullptr);
  EXPECT_EQ(grid.elements, elements);
  EXPECT_EQ(ArrayHeaderOf(elements)->count, 12);
  EXPECT_EQ(ArrayHeaderOf(elements)->dimensions, 2);
  EXPECT_EQ(ArrayHeaderOf(elements)->variable, &grid);
  EXPECT_EQ(grid.slots[0], 4);
  EXPECT_EQ(grid.slots[1], 1);
  GridRecord cube{nullptr, {2, 3, 5, 7}};
  ASSERT_NE(ArrayCreateDims(4, 1, 1, nullptr, &cube), nullptr);
  EXPECT_EQ(ArrayHeaderOf(cube.elements)->count, 210);
  EXPECT_EQ(cube.slots[0], 105);
  EXPECT_EQ(cube.slots[1], 35);
  EXPECT_EQ(cube.slots[2], 7);
  EXPECT_EQ(cube.slots[3], 1);
  ArrayFree(grid.elements);
  ArrayFree(cube.elements);
  EXPECT_EQ(grid.elements, nullptr);
}

TEST(ArrayCreateDims, ZeroCountLeavesTheOldArray) {
  ContainerDoubles doubles;
  GridRecord grid{nullptr, {2, 2, 0, 0}};
  void* old = ArrayCreateDims(2, 8, 1, nullptr, &grid);
  ASSERT_NE(old, nullptr);
  grid.slots[0] = 3;
  grid.slots[1] = 0;
  EXPECT_EQ(ArrayCreateDims(2, 8, 1, nullptr, &grid), nullptr);
  EXPECT_EQ(grid.elements, old) << "the old array was not left in place";
  EXPECT_EQ(grid.slots[0], 0) << "the multipliers are written before the refusal";
  EXPECT_EQ(grid.slots[1], 1);
  grid.slots[0] = -4;
  grid.slots[1] = 5;
  EXPECT_EQ(ArrayCreateDims(2, 8, 1, nullptr, &grid), nullptr) << "negative count";
  EXPECT_EQ(grid.elements, old);
  ArrayFree(old);
}

TEST(ArrayCreateDims, OverflowingProductIsRefused) {
  ContainerDoubles doubles;
  const test::LiveBlockGuard live;
  GridRecord grid{nullptr, {int64_t{1} << 32, int64_t{1} << 32, 2, 0}};
  EXPECT_EQ(ArrayCreateDims(3, 1, 1, nullptr, &grid), nullptr);
  EXPECT_EQ(grid.elements, nullptr);
  // A product that fits but whose bytes do not.
  grid = GridRecord{nullptr, {int64_t{1} << 31, int64_t{1} << 31, 0, 0}};
  EXPECT_EQ(ArrayCreateDims(2, 8, 1, nullptr, &grid), nullptr);
  EXPECT_EQ(grid.elements, nullptr);
}

// ---------------------------------------------------------------------------------------------

TEST(ArrayCopyInto, DifferentCountsNeedRecreation) {
  ContainerDoubles doubles;
  StringValue* source = nullptr;
  StringValue* destination = nullptr;
  ASSERT_NE(ArrayCreate(8, 5, 8, kOneString, &source), nullptr);
  ASSERT_NE(ArrayCreate(8, 6, 8, kOneString, &destination), nullptr);
  for (int k = 0; k < 5; ++k) {
    StringAssign(&source[k], std::u16string(k + 1, u'x').c_str());
  }
  StringAssign(&destination[5], u"old");
  EXPECT_EQ(ArrayCopyInto(source, destination, 0), 0);
  EXPECT_EQ(ArrayHeaderOf(destination)->count, 6);
  EXPECT_EQ(destination[0], nullptr) << "a refused copy copied";
  EXPECT_EQ(ArrayCopyInto(source, destination, 1), 1);
  ASSERT_NE(destination, nullptr);
  EXPECT_EQ(ArrayHeaderOf(destination)->count, 5);
  EXPECT_EQ(ArrayHeaderOf(destination)->variable, &destination);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(std::u16string(destination[k]), std::u16string(source[k])) << "element " << k;
    EXPECT_NE(destination[k], source[k]) << "element " << k << " shares its string";
  }
  ArrayFree(source);
  ArrayFree(destination);
}

TEST(ArrayCopyInto, SameShapeCopiesWithoutRecreation) {
  ContainerDoubles doubles;
  StringValue* source = nullptr;
  StringValue* destination = nullptr;
  ASSERT_NE(ArrayCreate(8, 3, 8, kOneString, &source), nullptr);
  ASSERT_NE(ArrayCreate(8, 3, 8, kOneString, &destination), nullptr);
  StringValue* kept = destination;
  StringAssign(&source[0], u"rock");
  StringAssign(&destination[0], u"freed by the copy");
  StringAssign(&destination[1], u"freed too");
  EXPECT_EQ(ArrayCopyInto(source, destination, 0), 1);
  EXPECT_EQ(destination, kept) << "copy without re-creation moved the array";
  EXPECT_EQ(std::u16string(destination[0]), u"rock");
  EXPECT_EQ(destination[1], nullptr);
  ArrayFree(source);
  ArrayFree(destination);
}

TEST(ArrayCopyInto, PlainElementsCopyByteForByte) {
  ContainerDoubles doubles;
  int64_t* source = nullptr;
  int64_t* destination = nullptr;
  ASSERT_NE(ArrayCreate(8, 10, 2, nullptr, &source), nullptr);
  ASSERT_NE(ArrayCreate(8, 1, 2, nullptr, &destination), nullptr);
  for (int k = 0; k < 10; ++k) {
    source[k] = int64_t{k} * 1000003;
  }
  EXPECT_EQ(ArrayCopy(source, destination), 1);
  ASSERT_EQ(ArrayHeaderOf(destination)->count, 10);
  EXPECT_EQ(ArrayHeaderOf(destination)->type, 2);
  EXPECT_EQ(std::memcmp(source, destination, 80), 0);
  ArrayFree(source);
  ArrayFree(destination);
}

TEST(ArrayCopyInto, RefusesOtherElementSizesAndLayouts) {
  ContainerDoubles doubles;
  int64_t* wide = nullptr;
  int32_t* narrow = nullptr;
  StringValue* strings = nullptr;
  ASSERT_NE(ArrayCreate(8, 4, 0, nullptr, &wide), nullptr);
  ASSERT_NE(ArrayCreate(4, 4, 0, nullptr, &narrow), nullptr);
  ASSERT_NE(ArrayCreate(8, 4, 8, kOneString, &strings), nullptr);
  for (int k = 0; k < 4; ++k) {
    wide[k] = -1;
  }
  EXPECT_EQ(ArrayCopyInto(wide, narrow, 0), 0) << "8-byte elements into 4-byte ones";
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(narrow[k], 0) << "element " << k;
  }
  StringAssign(&strings[0], u"owned");
  EXPECT_EQ(ArrayCopyInto(wide, strings, 0), 0) << "plain bytes into string fields";
  EXPECT_EQ(std::u16string(strings[0]), u"owned");
  EXPECT_EQ(ArrayCopyInto(strings, wide, 0), 0) << "strings into plain elements";
  // An equal layout at another address is the same layout.
  const int64_t also_one_string[] = {0, -1};
  StringValue* others = nullptr;
  ASSERT_NE(ArrayCreate(8, 4, 8, also_one_string, &others), nullptr);
  EXPECT_EQ(ArrayCopyInto(strings, others, 0), 1);
  EXPECT_EQ(std::u16string(others[0]), u"owned");
  // Re-creation takes the source's size and layout, so it always copies.
  EXPECT_EQ(ArrayCopyInto(wide, narrow, 1), 1);
  EXPECT_EQ(ArrayHeaderOf(narrow)->element_size, 8);
  EXPECT_EQ(reinterpret_cast<int64_t*>(narrow)[3], -1);
  for (void* array : {static_cast<void*>(wide), static_cast<void*>(narrow),
                      static_cast<void*>(strings), static_cast<void*>(others)}) {
    ArrayFree(array);
  }
}

TEST(ArrayCopyInto, RefusesNullAndOtherDimensionCounts) {
  ContainerDoubles doubles;
  int32_t* line = nullptr;
  GridRecord grid{nullptr, {2, 3, 0, 0}};
  ASSERT_NE(ArrayCreate(4, 6, 0, nullptr, &line), nullptr);
  ASSERT_NE(ArrayCreateDims(2, 4, 0, nullptr, &grid), nullptr);
  EXPECT_EQ(ArrayCopyInto(nullptr, line, 1), 0);
  EXPECT_EQ(ArrayCopyInto(line, nullptr, 1), 0);
  EXPECT_EQ(ArrayCopyInto(line, grid.elements, 1), 0) << "one dimension into two";
  EXPECT_EQ(ArrayCopyInto(grid.elements, line, 0), 0) << "two dimensions into one";
  EXPECT_NE(line, nullptr);
  ArrayFree(line);
  ArrayFree(grid.elements);
}

TEST(ArrayCopyInto, OntoItselfKeepsTheArray) {
  ContainerDoubles doubles;
  StringValue* hands = nullptr;
  ASSERT_NE(ArrayCreate(8, 2, 8, kOneString, &hands), nullptr);
  StringAssign(&hands[1], u"paper");
  StringValue* before = hands;
  EXPECT_EQ(ArrayCopy(hands, hands), 1);
  EXPECT_EQ(ArrayCopyInto(hands, hands, 0), 1);
  EXPECT_EQ(hands, before);
  EXPECT_EQ(std::u16string(hands[1]), u"paper");
  ArrayFree(hands);
}

// Records holding an array of records like them: a copy from an array that the destination holds
// reads all of it before the destination's old contents (and with them the source) go.
TEST(ArrayCopyInto, SourceHeldByTheDestination) {
  ContainerDoubles doubles;
  int64_t nested[] = {-4, 0, 8, 0, 0, 0, -1};
  nested[5] = LayoutWord(nested);
  void** outer = nullptr;
  ASSERT_NE(ArrayCreate(8, 1, 0, nested, &outer), nullptr);
  ASSERT_NE(ArrayCreate(8, 2, 0, nested, &outer[0]), nullptr);
  EXPECT_EQ(ArrayCopy(outer[0], outer), 1);
  EXPECT_EQ(ArrayHeaderOf(outer)->count, 2);
  ASSERT_NE(ArrayCreate(8, 1, 0, nested, &outer[1]), nullptr);
  EXPECT_EQ(StructureCopy(&outer[1], 8, nested, outer[1]), 1);
  EXPECT_EQ(outer[1], nullptr) << "the copy of a record without an array";
  ArrayFree(outer);
}

TEST(ArrayCopyInto, MultiDimensionalCopyCarriesTheMultipliers) {
  ContainerDoubles doubles;
  GridRecord source{nullptr, {2, 3, 4, 0}};
  GridRecord destination{nullptr, {1, 1, 1, 0}};
  ASSERT_NE(ArrayCreateDims(3, 2, 5, nullptr, &source), nullptr);
  ASSERT_NE(ArrayCreateDims(3, 2, 5, nullptr, &destination), nullptr);
  auto* cells = static_cast<int16_t*>(source.elements);
  for (int k = 0; k < 24; ++k) {
    cells[k] = static_cast<int16_t>(k * 3);
  }
  EXPECT_EQ(ArrayCopy(source.elements, destination.elements), 1);
  ASSERT_NE(destination.elements, nullptr);
  EXPECT_EQ(ArrayHeaderOf(destination.elements)->dimensions, 3);
  EXPECT_EQ(ArrayHeaderOf(destination.elements)->count, 24);
  EXPECT_EQ(ArrayHeaderOf(destination.elements)->variable, &destination);
  EXPECT_EQ(destination.slots[0], 12);
  EXPECT_EQ(destination.slots[1], 4);
  EXPECT_EQ(destination.slots[2], 1);
  EXPECT_EQ(std::memcmp(destination.elements, source.elements, 48), 0);
  ArrayFree(source.elements);
  ArrayFree(destination.elements);
}

// ---------------------------------------------------------------------------------------------

TEST(ArrayFree, NullDoesNothing) {
  ContainerDoubles doubles;
  ArrayFree(nullptr);
  SUCCEED() << "no crash and, checked at the end, no block changed";
}

TEST(ArrayFree, FreesStringsAndBlockAndClearsTheVariable) {
  ContainerDoubles doubles;
  const test::LiveBlockGuard live;
  StringValue* hands = nullptr;
  ASSERT_NE(ArrayCreate(8, 4, 8, kOneString, &hands), nullptr);
  EXPECT_EQ(live.Change(), 1);
  for (int k = 0; k < 4; ++k) {
    StringAssign(&hands[k], u"every one is freed");
  }
  ArrayFree(hands);
  EXPECT_EQ(hands, nullptr);
}

TEST(ArrayHooksRegister, FillsTheFourArrayHooks) {
  ContainerDoubles doubles;
  Hooks = ContainerHooks{};
  ArrayHooksRegister();
  EXPECT_EQ(Hooks.ArrayCreateHook, &ArrayCreate);
  EXPECT_EQ(Hooks.ArrayCreateDimsHook, &ArrayCreateDims);
  EXPECT_EQ(Hooks.ArrayCopyHook, &ArrayCopyInto);
  EXPECT_EQ(Hooks.ArrayFreeHook, &ArrayFree);
  EXPECT_EQ(Hooks.ListCreateHook, nullptr) << "the list hooks are not the arrays' to fill";
  EXPECT_EQ(Hooks.MapCreateHook, nullptr) << "the map hooks are not the arrays' to fill";
}

// Each request refused in turn: a null result with the variable null (the old array is freed
// first, by the creation rule), or 0 from a copy, and nothing leaked.
TEST(ArrayOutOfMemory, CreationAndCopyGiveNullAndLeaveNothing) {
  ContainerDoubles doubles;
  const int64_t with_array[] = {0, -4, 8, 8, 2, 8, 0, -1};  // a plain 8-element inner array
  test::HeapFailEachMode([&](const test::FailurePoint& at) {
    char* elements = nullptr;
    ASSERT_NE(ArrayCreate(8, 2, 0, nullptr, &elements), nullptr);
    at.Arm();
    void* made = ArrayCreate(16, 3, 0, with_array, &elements);
    test::HeapFailNever();
    // An inner array that cannot be made fails the whole creation (the structure walk tests look
    // into what a success made).
    EXPECT_EQ(made, elements);
    ArrayFree(elements);
  });
  // A list, then a 2 x 3 grid: a failed initialisation leaves the record zeroed as it came.
  const int64_t list_and_grid[] = {-5, 0, 8, 0, 0, -7, 16, 2, 8, 0, 0, 2, 3, -1};
  test::HeapFailEachMode([&](const test::FailurePoint& at) {
    int64_t record[5] = {};
    at.Arm();
    const int32_t made = StructureInit(record, list_and_grid);
    test::HeapFailNever();
    EXPECT_TRUE(made != 0 || (record[0] | record[1] | record[2] | record[3] | record[4]) == 0);
    StructureClear(record, list_and_grid);
  });
  test::HeapFailEachMode([&](const test::FailurePoint& at) {
    GridRecord grid{nullptr, {3, 4, 0, 0}};
    at.Arm();
    void* made = ArrayCreateDims(2, 16, 1, with_array, &grid);
    test::HeapFailNever();
    EXPECT_EQ(made, grid.elements);
    ArrayFree(grid.elements);
  });
  test::HeapFailEachMode([](const test::FailurePoint& at) {
    int64_t* source = nullptr;
    int64_t* destination = nullptr;
    ASSERT_NE(ArrayCreate(8, 5, 0, nullptr, &source), nullptr);
    ASSERT_NE(ArrayCreate(8, 2, 0, nullptr, &destination), nullptr);
    source[4] = 44;
    at.Arm();
    const int32_t copied = ArrayCopy(source, destination);
    test::HeapFailNever();
    if (copied != 0) {
      EXPECT_EQ(destination[4], 44);
    }
    ArrayFree(source);
    ArrayFree(destination);
  });
}

}  // namespace
}  // namespace zn
