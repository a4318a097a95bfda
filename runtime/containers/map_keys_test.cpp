// Tests of reading the current element's key: during iterations, after finds and adds, with
// case-blind keys, with integer keys, and after deletes in the middle of an iteration.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <map>
#include <string>

#include "runtime/containers/containers.h"
#include "runtime/memory/memory.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

class MapKeyTest : public ::testing::Test {
 protected:
  void TearDown() override { MapFree(map_); }
  HashMap* Make(uint8_t flags, int32_t buckets = 7) {
    HashMap* map = MapCreate(sizeof(int64_t), 0, nullptr, &map_, buckets, flags);
    EXPECT_NE(map, nullptr);
    return map;
  }
  // Walks the whole map and gathers key -> value, checking that each key is met once.
  std::map<std::u16string, int64_t> Walk(HashMap* map) {
    std::map<std::u16string, int64_t> seen;
    MapReset(map);
    while (void* value = MapNext(map)) {
      const char16_t* key = MapCurrentKey(map);
      EXPECT_NE(key, nullptr);
      if (key != nullptr) {
        EXPECT_TRUE(seen.emplace(key, *static_cast<int64_t*>(value)).second) << "a key twice";
      }
    }
    EXPECT_EQ(MapCurrentKey(map), nullptr) << "after the end there is no current element";
    return seen;
  }
  HashMap* map_ = nullptr;
  test::LiveBlockGuard live_{"the map left blocks behind"};
};

TEST_F(MapKeyTest, IterationPairsEveryValueWithItsKey) {
  HashMap* map = Make(0);
  EXPECT_EQ(MapCurrentKey(map), nullptr) << "a fresh map has no current element";
  std::map<std::u16string, int64_t> expected;
  for (int64_t i = 0; i < 60; ++i) {
    std::u16string key = u"key";
    for (int64_t n = i; n > 0; n /= 10)
      key.push_back(static_cast<char16_t>(u'0' + n % 10));
    *static_cast<int64_t*>(MapAdd(map, key.c_str(), 1)) = i;
    ASSERT_EQ(MapCurrentKey(map), key) << "the added element is current";
    expected[key] = i;
  }
  *static_cast<int64_t*>(MapAdd(map, nullptr, 1)) = -5;
  EXPECT_EQ(std::u16string(MapCurrentKey(map)), u"") << "the null key is stored as empty";
  expected[u""] = -5;
  EXPECT_EQ(Walk(map), expected);

  ASSERT_NE(MapFind(map, u"key71"), nullptr);
  EXPECT_EQ(std::u16string(MapCurrentKey(map)), u"key71");
  EXPECT_EQ(MapFind(map, u"missing"), nullptr);
  EXPECT_EQ(std::u16string(MapCurrentKey(map)), u"key71") << "a miss leaves the current element";
  EXPECT_EQ(MapCurrentIntegerKey(map), -1) << "a map with string keys has no integer key";
  EXPECT_EQ(MapCurrentKey(nullptr), nullptr);
  EXPECT_EQ(MapCurrentIntegerKey(nullptr), -1);
}

TEST_F(MapKeyTest, CaseBlindMapKeepsTheFirstSpelling) {
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  std::setlocale(LC_CTYPE, "C.UTF-8");
  HashMap* map = Make(MapKeyNoCase);
  *static_cast<int64_t*>(MapAdd(map, u"Apple", 1)) = 1;
  *static_cast<int64_t*>(MapAdd(map, u"\u00c9t\u00e9", 1)) = 2;
  // Later spellings reach the same element; the key stays the one first added.
  *static_cast<int64_t*>(MapAdd(map, u"APPLE", 1)) = 3;
  EXPECT_EQ(std::u16string(MapCurrentKey(map)), u"Apple");
  ASSERT_NE(MapFind(map, u"\u00e9T\u00c9"), nullptr);
  EXPECT_EQ(std::u16string(MapCurrentKey(map)), u"\u00c9t\u00e9");
  EXPECT_EQ(Walk(map), (std::map<std::u16string, int64_t>{{u"Apple", 3}, {u"\u00c9t\u00e9", 2}}));
  std::setlocale(LC_CTYPE, saved.c_str());
}

TEST_F(MapKeyTest, DeletingDuringIterationLeavesTheRightKeys) {
  // Few buckets, so chains are long and deletes hit heads, middles and tails.
  HashMap* map = Make(0, 3);
  std::map<std::u16string, int64_t> kept;
  for (int64_t i = 0; i < 40; ++i) {
    const std::u16string key(1 + static_cast<size_t>(i % 7), static_cast<char16_t>(u'a' + i / 7));
    *static_cast<int64_t*>(MapAdd(map, key.c_str(), 1)) = i;
    if (i % 3 != 0) kept[key] = i;
  }
  MapReset(map);
  std::u16string before;  // key of the element visited before the current one
  int visited = 0;
  while (void* value = MapNext(map)) {
    ++visited;
    const std::u16string key = MapCurrentKey(map);
    if (*static_cast<int64_t*>(value) % 3 == 0) {
      MapDeleteCurrent(map);
      // The iteration steps back onto the element visited before, or onto none at the start.
      const char16_t* now = MapCurrentKey(map);
      EXPECT_EQ(now == nullptr ? u"" : std::u16string(now), before) << "after deleting " << visited;
    } else {
      before = key;
    }
  }
  EXPECT_EQ(visited, 40) << "every element visited once";
  EXPECT_EQ(Walk(map), kept);
}

TEST_F(MapKeyTest, IntegerKeysAreReadAsNumbers) {
  HashMap* map = Make(MapIntegerKeys, 5);
  EXPECT_EQ(MapCurrentIntegerKey(map), -1);
  std::map<int64_t, int64_t> expected;
  for (int64_t key :
       {int64_t{0}, int64_t{4}, int64_t{9}, int64_t{5}, INT64_MAX, int64_t{1} << 40}) {
    *static_cast<int64_t*>(MapAddInteger(map, key, 1)) = key / 2;
    EXPECT_EQ(MapCurrentIntegerKey(map), key);
    expected[key] = key / 2;
  }
  std::map<int64_t, int64_t> seen;
  MapReset(map);
  while (void* value = MapNext(map)) {
    EXPECT_EQ(MapCurrentKey(map), nullptr) << "integer keys have no text";
    seen[MapCurrentIntegerKey(map)] = *static_cast<int64_t*>(value);
    if (MapCurrentIntegerKey(map) == 9) MapDeleteCurrent(map);
  }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(MapFindInteger(map, 9), nullptr) << "the deleted key is gone";
  ASSERT_NE(MapFindInteger(map, 4), nullptr);
  EXPECT_EQ(MapCurrentIntegerKey(map), 4);
}

}  // namespace
}  // namespace zn
