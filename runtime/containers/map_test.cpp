// Tests of the hash map: hash values, bucket choice, the add modes, case-blind and integer keys,
// finding, deleting (after a find and during an iteration), clearing, copying and freeing.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/strings/strings.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

class MapTest : public ::testing::Test {
 protected:
  void TearDown() override {
    test::HeapFailNever();
    MapFree(map_);
    EXPECT_EQ(map_, nullptr);
  }
  HashMap* Make(int32_t buckets, uint8_t flags = 0, uint64_t value_size = 8) {
    HashMap* map = MapCreate(value_size, 0, nullptr, &map_, buckets, flags);
    EXPECT_NE(map, nullptr);
    return map;
  }
  static int64_t& At(void* value) { return *static_cast<int64_t*>(value); }
  test::LiveBlockGuard live_{"the map left blocks behind"};
  HashMap* map_ = nullptr;
};

using MapHashTest = MapTest;
using MapCreateTest = MapTest;
using MapAddTest = MapTest;
using MapFindTest = MapTest;
using MapDeleteCurrentTest = MapTest;
using MapCopyTest = MapTest;

// An independent reference for the hash: the same recurrence, done in 64 bits and reduced.
uint32_t ReferenceHash(const std::u16string& key) {
  uint64_t hash = 0;
  for (char16_t unit : key) {
    hash = (hash * 65599u + unit) % (uint64_t{1} << 32);
  }
  return static_cast<uint32_t>(hash);
}

TEST_F(MapHashTest, MatchesTheRecurrence) {
  EXPECT_EQ(internal::MapHash(u"", false), 0u);
  EXPECT_EQ(internal::MapHash(nullptr, false), 0u) << "null is the empty key";
  EXPECT_EQ(internal::MapHash(u"ab", false), 97u * 65599u + 98u);
  const std::u16string keys[] = {u"a", u"Hello, world", u"\u00e9t\u00e9", u"\xffff\x8000",
                                 u"a long key that wraps the thirty-two bits many times over"};
  for (const auto& key : keys) {
    EXPECT_EQ(internal::MapHash(key.c_str(), false), ReferenceHash(key))
        << "key size " << key.size();
  }
  EXPECT_EQ(internal::MapHash(u"AbC", true), internal::MapHash(u"abc", false));
  EXPECT_NE(internal::MapHash(u"AbC", false), internal::MapHash(u"abc", false));
}

TEST_F(MapHashTest, EveryLengthMatchesTheRecurrenceWithAndWithoutCase) {
  // Units are taken several at a time with a tail; every length up to a few blocks must still
  // give the one-unit-at-a-time value. The case-blind hash takes units one at a time; digits and
  // caseless symbols make it agree with the other. Units from the top of the range are covered
  // by the test above.
  std::u16string key;
  for (int length = 0; length <= 21; ++length) {
    EXPECT_EQ(internal::MapHash(key.c_str(), false), ReferenceHash(key)) << "length " << length;
    EXPECT_EQ(internal::MapHash(key.c_str(), true), internal::MapHash(key.c_str(), false))
        << "length " << length << ": a key without letters hashes alike in both modes";
    key.push_back(static_cast<char16_t>(u'0' + length % 10 + (length % 3 == 0 ? 0x3000 : 0)));
  }
}

TEST_F(MapCreateTest, BucketCountsBelowTwoGiveOneBucket) {
  for (int32_t buckets : {-5, 0, 1}) {
    HashMap* map = Make(buckets);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->bucket_count, 1u) << "requested " << buckets;
    ASSERT_NE(MapAdd(map, u"x", 1), nullptr);
    ASSERT_NE(MapAdd(map, u"y", 1), nullptr);
    EXPECT_NE(MapFind(map, u"x"), nullptr);
    MapFree(map);
    EXPECT_EQ(map_, nullptr) << "MapFree clears the owner variable";
  }
  EXPECT_EQ(Make(1024)->bucket_count, 1024u);
}

TEST_F(MapCreateTest, CreatingIntoAVariableFreesItsMap) {
  HashMap* first = Make(8);
  ASSERT_NE(MapAdd(first, u"k", 1), nullptr);
  HashMap* second = Make(8);
  EXPECT_EQ(map_, second);
  EXPECT_EQ(MapElementCount(second), 0);
  // The first map's element and pool reference are gone (the balance in TearDown checks it).
}

TEST_F(MapCreateTest, ExhaustedMemoryLeavesTheVariableNull) {
  for (int64_t successes = 0; successes < 3; ++successes) {
    Make(8);
    test::HeapFailAfter(successes);
    EXPECT_EQ(MapCreate(8, 0, nullptr, &map_, 8), nullptr) << "after " << successes;
    EXPECT_EQ(map_, nullptr);
    test::HeapFailNever();
  }
  EXPECT_EQ(MapCreate(UINT64_MAX - 8, 0, nullptr, &map_, 8), nullptr) << "value size overflow";
  EXPECT_EQ(internal::PoolSharedFind(24, PoolShared), nullptr) << "no pool left registered";
}

TEST_F(MapCreateTest, FailureClearsAVariableThatHeldAMapCreatedElsewhere) {
  HashMap* held = nullptr;
  ASSERT_NE(MapCreate(8, 0, nullptr, &held, 8), nullptr);
  map_ = held;  // the same map in a second variable, which the map does not know
  test::HeapFailAfter(0);
  EXPECT_EQ(MapCreate(8, 0, nullptr, &map_, 8), nullptr);
  test::HeapFailNever();
  EXPECT_EQ(map_, nullptr) << "the variable must not keep the freed map";
  EXPECT_EQ(held, nullptr);
}

TEST_F(MapAddTest, ModeOneRenewsTheExistingValueInPlace) {
  HashMap* map = Make(16);
  void* value = MapAdd(map, u"key", 1);
  ASSERT_NE(value, nullptr);
  At(value) = 1234;
  ASSERT_NE(MapAdd(map, u"other", 1), nullptr);
  void* again = MapAdd(map, u"key", 1);
  EXPECT_EQ(again, value);
  EXPECT_EQ(At(again), 0) << "mode 1 zero-fills the existing value";
  EXPECT_EQ(MapElementCount(map), 2);
  EXPECT_EQ(map->current,
            static_cast<MapElement*>(static_cast<void*>(static_cast<char*>(value) - 16)));
}

TEST_F(MapAddTest, ModeZeroAddsDuplicatesFoundNewestFirst) {
  HashMap* map = Make(4);
  At(MapAdd(map, u"dup", 0)) = 1;
  At(MapAdd(map, u"dup", 0)) = 2;
  At(MapAdd(map, u"dup", 0)) = 3;
  EXPECT_EQ(MapElementCount(map), 3);
  EXPECT_EQ(At(MapFind(map, u"dup")), 3);
  MapDeleteCurrent(map);
  EXPECT_EQ(At(MapFind(map, u"dup")), 2);
  MapDeleteCurrent(map);
  EXPECT_EQ(At(MapFind(map, u"dup")), 1);
  MapDeleteCurrent(map);
  EXPECT_EQ(MapFind(map, u"dup"), nullptr);
  EXPECT_EQ(MapElementCount(map), 0);
}

TEST_F(MapAddTest, ExhaustedMemoryLeavesTheMapUnchanged) {
  // A value size of its own, so that the first add needs a new chunk.
  HashMap* map = Make(4, 0, 232);
  for (int64_t successes = 0; successes < 2; ++successes) {
    test::HeapFailAfter(successes);  // 0: the chunk fails; 1: the key copy fails
    EXPECT_EQ(MapAdd(map, u"b", 1), nullptr) << "after " << successes;
    test::HeapFailNever();
    EXPECT_EQ(map->pool->total_blocks, 0u) << "the element went back with its chunk";
  }
  At(MapAdd(map, u"a", 1)) = 1;
  test::HeapFailAfter(0);  // the chunk exists: only the key copy is asked for
  EXPECT_EQ(MapAdd(map, u"b", 0), nullptr);
  test::HeapFailNever();
  EXPECT_EQ(MapElementCount(map), 1);
  EXPECT_EQ(MapFind(map, u"b"), nullptr);
  EXPECT_EQ(At(MapFind(map, u"a")), 1);
}

TEST_F(MapAddTest, NoCaseKeysMeetCaseKeysDoNot) {
  HashMap* blind = Make(64, MapKeyNoCase);
  At(MapAdd(blind, u"Hello", 1)) = 5;
  EXPECT_EQ(MapAdd(blind, u"hELLO", 1), MapFind(blind, u"HELLO"));
  EXPECT_EQ(MapElementCount(blind), 1);
  // Beyond ASCII the locale's wide mapping decides; whatever it says, the map agrees with the
  // case-blind comparison.
  const char* saved = std::setlocale(LC_CTYPE, nullptr);
  const std::string restore = saved != nullptr ? saved : "C";
  std::setlocale(LC_CTYPE, "C.UTF-8");
  const char16_t* pairs[][2] = {{u"\u00c9cole", u"\u00e9cole"},
                                {u"\u0394x", u"\u03b4X"},
                                {u"\uff21", u"\uff41"},
                                {u"\u8000a", u"\u8000A"}};
  for (const auto& pair : pairs) {
    At(MapAdd(blind, pair[0], 1)) = 6;
    EXPECT_EQ(MapFind(blind, pair[1]) != nullptr, StringCompareNoCase(pair[0], pair[1]) == 0)
        << "unit " << static_cast<int>(pair[0][0]);
  }
  std::setlocale(LC_CTYPE, restore.c_str());
  HashMap* other = nullptr;
  HashMap* exact = MapCreate(8, 0, nullptr, &other, 64);
  ASSERT_NE(exact, nullptr);
  At(MapAdd(exact, u"Hello", 1)) = 1;
  At(MapAdd(exact, u"hello", 1)) = 2;
  EXPECT_EQ(MapElementCount(exact), 2);
  EXPECT_EQ(At(MapFind(exact, u"Hello")), 1);
  EXPECT_EQ(At(MapFind(exact, u"hello")), 2);
  EXPECT_EQ(MapFind(exact, u"HELLO"), nullptr);
  MapFree(exact);
  EXPECT_EQ(other, nullptr);
}

TEST_F(MapAddTest, IntegerKeysIncludingNegativeOnesNameABucket) {
  const int64_t keys[] = {0, 1, 6, 7, -1, -7, INT64_MIN, INT64_MAX, 123456789012345};
  // The bucket is the unsigned remainder, whether the count is a power of two or not.
  HashMap* map = nullptr;
  for (const uint32_t count : {8u, 7u}) {
    map = Make(static_cast<int32_t>(count), MapIntegerKeys);
    for (int64_t key : keys) {
      void* value = MapAddInteger(map, key, 1);
      ASSERT_NE(value, nullptr) << "key " << key;
      At(value) = key ^ 0x55;
    }
    for (int64_t key : keys) {
      void* value = MapFindInteger(map, key);
      ASSERT_NE(value, nullptr) << "key " << key;
      EXPECT_EQ(At(value), key ^ 0x55) << "key " << key;
      EXPECT_EQ(static_cast<uint64_t>(map->current_bucket), static_cast<uint64_t>(key) % count)
          << "key " << key << ", " << count << " buckets";
    }
  }
  EXPECT_EQ(MapFindInteger(map, 2), nullptr);
  // Keys of the other kind are refused rather than misread.
  EXPECT_EQ(MapAdd(map, u"text", 1), nullptr);
  EXPECT_EQ(MapFind(map, u"text"), nullptr);
  HashMap* other = nullptr;
  HashMap* text = MapCreate(8, 0, nullptr, &other, 7);
  EXPECT_EQ(MapAddInteger(text, 3, 1), nullptr);
  EXPECT_EQ(MapFindInteger(text, 3), nullptr);
  MapFree(text);
}

TEST_F(MapFindTest, KeysOfOneLengthDifferingInOneUnitAreTold) {
  // One chain, so that every find compares against keys of the same length that differ in just
  // one unit: at the front, inside or at the end of a compared word, or in the last unit.
  HashMap* map = Make(1);
  for (size_t length = 1; length <= 19; ++length) {
    const std::u16string base(length, u'k');
    std::vector<std::u16string> keys = {base};
    for (size_t at = 0; at < length; ++at) {
      std::u16string variant = base;
      variant[at] = static_cast<char16_t>(0xD800 + at);
      keys.push_back(variant);
    }
    for (size_t i = 0; i < keys.size(); ++i) {
      At(MapAdd(map, keys[i].c_str(), 0)) = static_cast<int64_t>(length * 100 + i);
    }
    for (size_t i = 0; i < keys.size(); ++i) {
      void* value = MapFind(map, keys[i].c_str());
      ASSERT_NE(value, nullptr) << "length " << length << ", key " << i;
      EXPECT_EQ(At(value), static_cast<int64_t>(length * 100 + i))
          << "length " << length << ", key " << i;
    }
    std::u16string absent = base;
    absent[length - 1] = u'x';
    EXPECT_EQ(MapFind(map, absent.c_str()), nullptr) << "length " << length;
    EXPECT_EQ(MapFind(map, (base + u'k').c_str()), nullptr)
        << "length " << length << ": a longer key with the same start is not yet there";
  }
  EXPECT_EQ(MapFind(map, u""), nullptr) << "the empty key was never added";
  ASSERT_NE(MapAdd(map, u"", 0), nullptr);
  EXPECT_NE(MapFind(map, nullptr), nullptr) << "null is the empty key";
}

TEST_F(MapFindTest, MissLeavesTheCurrentElementAndDeleteStillWorks) {
  HashMap* map = Make(1);  // one chain: every find walks past other elements
  for (const char16_t* key : {u"a", u"b", u"c", u"d"}) {
    At(MapAdd(map, key, 1)) = key[0];
  }
  ASSERT_NE(MapFind(map, u"b"), nullptr);
  MapElement* found = map->current;
  EXPECT_EQ(MapFind(map, u"zz"), nullptr);
  EXPECT_EQ(map->current, found);
  MapDeleteCurrent(map);
  EXPECT_EQ(MapFind(map, u"b"), nullptr);
  for (const char16_t* key : {u"a", u"c", u"d"}) {
    EXPECT_NE(MapFind(map, key), nullptr) << static_cast<char>(key[0]);
  }
  EXPECT_EQ(MapElementCount(map), 3);
}

TEST_F(MapFindTest, HeadOfChainClearsThePreviousElement) {
  HashMap* map = Make(1);
  MapAdd(map, u"x", 1);
  MapAdd(map, u"y", 1);  // the chain is y, x
  ASSERT_NE(MapFind(map, u"x"), nullptr);
  internal::MapPreviousResolve(map);  // a find through the index leaves it to be looked up
  EXPECT_NE(map->previous, nullptr);
  ASSERT_NE(MapFind(map, u"y"), nullptr);
  internal::MapPreviousResolve(map);
  EXPECT_EQ(map->previous, nullptr);
}

TEST_F(MapDeleteCurrentTest, DeletingEveryElementWhileIteratingVisitsEachOnce) {
  HashMap* map = Make(5);
  std::set<int64_t> expected;
  for (int64_t i = 0; i < 40; ++i) {
    const std::u16string key = u"key" + std::u16string(1, static_cast<char16_t>(u'A' + i));
    At(MapAdd(map, key.c_str(), 1)) = i;
    expected.insert(i);
  }
  std::multiset<int64_t> visited;
  MapReset(map);
  while (void* value = MapNext(map)) {
    visited.insert(At(value));
    MapDeleteCurrent(map);
  }
  EXPECT_EQ(std::set<int64_t>(visited.begin(), visited.end()), expected);
  EXPECT_EQ(visited.size(), expected.size()) << "an element was visited twice";
  EXPECT_EQ(MapElementCount(map), 0);
  for (uint32_t b = 0; b < map->bucket_count; ++b) {
    EXPECT_EQ(map->buckets[b], nullptr);
  }
}

TEST_F(MapDeleteCurrentTest, TwoDeletesInARowAndDeleteWithoutCurrent) {
  HashMap* map = Make(1);
  for (const char16_t* key : {u"a", u"b", u"c", u"d"}) {
    MapAdd(map, key, 1);  // chain d c b a
  }
  EXPECT_EQ(MapDeleteCurrent(nullptr), nullptr);
  ASSERT_NE(MapFind(map, u"b"), nullptr);
  void* now = MapDeleteCurrent(map);  // b goes; c becomes current
  ASSERT_NE(now, nullptr);
  MapDeleteCurrent(map);  // c goes although nothing records its predecessor
  EXPECT_EQ(MapElementCount(map), 2);
  EXPECT_NE(MapFind(map, u"a"), nullptr);
  EXPECT_NE(MapFind(map, u"d"), nullptr);
  EXPECT_EQ(MapFind(map, u"c"), nullptr);
  MapReset(map);
  EXPECT_EQ(MapDeleteCurrent(map), nullptr) << "no current element: nothing to delete";
  EXPECT_EQ(MapElementCount(map), 2);
}

TEST_F(MapDeleteCurrentTest, IterationAfterTheEndStaysOver) {
  HashMap* map = Make(3);
  MapAdd(map, u"only", 1);
  MapReset(map);
  EXPECT_NE(MapNext(map), nullptr);
  EXPECT_EQ(MapNext(map), nullptr);
  EXPECT_EQ(MapNext(map), nullptr) << "once over, the iteration does not start again";
  MapReset(map);
  EXPECT_NE(MapNext(map), nullptr);
}

TEST_F(MapCopyTest, WithoutClearingKeepsBothAndFindsTheCopy) {
  HashMap* destination = Make(8);
  At(MapAdd(destination, u"a", 1)) = 1;
  HashMap* source_variable = nullptr;
  HashMap* source = MapCreate(8, 0, nullptr, &source_variable, 8);
  At(MapAdd(source, u"a", 1)) = 2;
  At(MapAdd(source, u"b", 1)) = 3;
  ASSERT_NE(MapFind(source, u"b"), nullptr);
  MapElement* before = source->current;
  EXPECT_EQ(MapCopy(source, destination, 0), 1);
  EXPECT_EQ(source->current, before) << "the source's position is restored";
  EXPECT_EQ(MapElementCount(destination), 3);
  EXPECT_EQ(At(MapFind(destination, u"a")), 2) << "the copied element is found";
  EXPECT_EQ(MapCopy(source, destination, 1), 1);
  EXPECT_EQ(MapElementCount(destination), 2);
  EXPECT_EQ(MapCopy(nullptr, destination, 1), 0);
  EXPECT_EQ(MapCopy(source, nullptr, 1), 0);
  MapFree(source);
}

TEST_F(MapCopyTest, RefusesMismatchesAndCopiesOntoItselfOnce) {
  HashMap* map = Make(8);
  At(MapAdd(map, u"a", 1)) = 1;
  At(MapAdd(map, u"b", 1)) = 2;
  HashMap* wide_variable = nullptr;
  HashMap* wide = MapCreate(16, 0, nullptr, &wide_variable, 8);
  EXPECT_EQ(MapCopy(wide, map, 0), 0) << "values of another size";
  HashMap* numbers_variable = nullptr;
  HashMap* numbers = MapCreate(8, 0, nullptr, &numbers_variable, 8, MapIntegerKeys);
  EXPECT_EQ(MapCopy(numbers, map, 0), 0) << "keys of another kind";
  EXPECT_EQ(MapElementCount(map), 2);
  EXPECT_EQ(MapCopy(map, map, 1), 1);
  EXPECT_EQ(MapElementCount(map), 2) << "copying onto itself after clearing keeps the map";
  EXPECT_EQ(MapCopy(map, map, 0), 1);
  EXPECT_EQ(MapElementCount(map), 4) << "each element copied exactly once";
  MapFree(wide);
  MapFree(numbers);
}

TEST_F(MapCopyTest, HooksAreRegistered) {
  MapHooksRegister();
  EXPECT_NE(Hooks.MapCreateHook, nullptr);
  EXPECT_EQ(Hooks.MapCopyHook, &MapCopy);
  EXPECT_EQ(Hooks.MapFreeHook, &MapFree);
  HashMap* made = Hooks.MapCreateHook(8, 3, nullptr, &map_, 0);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(map_, made);
  EXPECT_EQ(made->type, 3);
  EXPECT_EQ(made->flags, 0);
}

}  // namespace
}  // namespace zn
