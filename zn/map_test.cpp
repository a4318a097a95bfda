// zn::Map and zn::List: what the face adds: values that are constructed and destroyed (a counting
// type), the strong guarantee of single inserts (a throwing type), walks that look up, insert
// and erase against a model, and maps and lists that move and copy.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/heap_checks.h"
#include "zn/list.h"
#include "zn/map.h"

namespace {

// Counted: live instances are tracked, and a constructor throws when the countdown reaches 0.
struct Counted {
  static inline int64_t live = 0;
  static inline int64_t countdown = -1;  // -1: never throw
  static void Step() {
    if (countdown >= 0 && countdown-- == 0) {
      throw std::runtime_error("construction refused");
    }
  }
  explicit Counted(int64_t v = 0) : value(v), text(std::to_string(v) + " with a heap block") {
    Step();
    ++live;
  }
  Counted(const Counted& other) : value(other.value), text(other.text) {
    Step();
    ++live;
  }
  Counted(Counted&& other) noexcept : value(other.value), text(std::move(other.text)) { ++live; }
  Counted& operator=(const Counted&) = default;
  Counted& operator=(Counted&&) noexcept = default;
  ~Counted() { --live; }
  int64_t value;
  std::string text;
};

// Each test checks that no instance and no block is left behind.
class Face : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(Counted::live, 0);
    Counted::countdown = -1;
  }
  zn::test::LiveBlockGuard blocks_;
};

std::u16string Key(int64_t n) {
  const std::string narrow = "item" + std::to_string(n);
  return std::u16string(narrow.begin(), narrow.end());
}

TEST_F(Face, MapEraseIfOverEverySizeAgainstAModel) {
  for (int64_t size = 0; size < 100; ++size) {
    zn::Map<Counted> map;
    std::map<std::u16string, int64_t> model;
    for (int64_t i = 0; i < size; ++i) {
      map.try_emplace(std::u16string_view(Key(i)), i);
      model[Key(i)] = i;
    }
    const std::size_t removed =
        erase_if(map, [](const auto& entry) { return entry.second.value % 3 == 0; });
    const std::size_t expected =
        std::erase_if(model, [](const auto& entry) { return entry.second % 3 == 0; });
    ASSERT_EQ(removed, expected) << size;
    std::map<std::u16string, int64_t> seen;
    for (const auto& [key, item] : map) {
      seen.emplace(key, item.value);
    }
    ASSERT_EQ(seen, model) << size;
    ASSERT_EQ(Counted::live, static_cast<int64_t>(model.size())) << size;
  }
}

// Inside a walk: finds of every key, inserts of new keys and erasure of the element the walk
// stands on; every element present at the start is visited once, or erased before its turn.
TEST_F(Face, WalksLookUpInsertAndEraseAgainstAModel) {
  zn::Map<int64_t, int64_t> map;
  std::set<int64_t> model;
  for (int64_t i = 0; i < 500; ++i) {
    map[i * 7] = i;
    model.insert(i * 7);
  }
  std::multiset<int64_t> visited;
  for (auto it = map.begin(); it != map.end();) {
    const int64_t key = it->first;
    visited.insert(key);
    ASSERT_EQ(map.find(key), &it->second);
    ASSERT_EQ(map.find(key + 1), nullptr);
    map.try_emplace(key + 100000, -1);  // a new key; may or may not be visited
    if (key % 2 == 0) {
      it = map.erase(it);
      model.erase(key);
    } else {
      ++it;
    }
  }
  for (const int64_t key : std::set<int64_t>{visited.begin(), visited.end()}) {
    ASSERT_EQ(visited.count(key), 1u) << key;
  }
  for (int64_t i = 0; i < 500; ++i) {
    EXPECT_EQ(visited.count(i * 7), 1u) << i;
    EXPECT_EQ(map.contains(i * 7), model.count(i * 7) == 1) << i;
  }
}

TEST_F(Face, SingleInsertsKeepTheMapWhenTConstructionThrows) {
  zn::Map<Counted, zn::FoldedKey> map;
  map.try_emplace(u"Stays", 1);
  const Counted source(2);
  for (int64_t step = 0; step < 3; ++step) {
    Counted::countdown = 0;
    EXPECT_THROW(map.try_emplace(u"new", 5), std::runtime_error);
    Counted::countdown = 0;
    EXPECT_THROW(map.insert_or_assign(zn::String(u"other"), source), std::runtime_error);
    Counted::countdown = 0;
    EXPECT_THROW(map[std::u16string(u"third")], std::runtime_error);
    Counted::countdown = -1;
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map.find(u"stays")->value, 1);  // case-blind
    EXPECT_FALSE(map.contains(u"new") || map.contains(u"other") || map.contains(u"third"));
  }
  zn::List<Counted> list;
  list.emplace_back(1);
  Counted::countdown = 0;
  EXPECT_THROW(list.emplace_back(2), std::runtime_error);
  EXPECT_EQ(list.size(), 1u);
  // A copy that throws half way leaves nothing behind.
  zn::Map<Counted> many;
  for (int64_t i = 0; i < 10; ++i) {
    many.try_emplace(std::u16string_view(Key(i)), i);
  }
  Counted::countdown = 5;
  EXPECT_THROW(zn::Map<Counted>{many}, std::runtime_error);
  EXPECT_EQ(Counted::live, 13);
}

TEST_F(Face, MapsAndListsMoveCopyAndLiveInAVector) {
  std::vector<zn::Map<Counted>> maps(3);
  for (int64_t i = 0; i < 40; ++i) {
    maps[static_cast<std::size_t>(i % 3)].insert_or_assign(std::u16string_view(Key(i)), Counted(i));
    maps.emplace_back();  // the vector moves its maps as it grows
  }
  zn::Map<Counted> copy = maps[1];
  maps[1] = maps[0];
  maps[0] = std::move(copy);
  EXPECT_EQ(maps[0].size(), 13u);
  EXPECT_EQ(maps[1].size(), 14u);
  EXPECT_EQ(maps[0].find(u"item1")->text, "1 with a heap block");
  EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): moved-from is empty and usable
  copy[u"again"].value = 9;
  maps[2].clear();
  EXPECT_EQ(maps[2].size(), 0u);

  zn::List<Counted> list;
  for (int64_t i = 0; i < 10; ++i) {
    list.push_back(Counted(i));
  }
  int64_t appended = 0;
  for (Counted& item : list) {  // appends during the walk are visited
    if (item.value < 3) {
      list.emplace_back(100 + item.value);
    }
    appended += item.value >= 100 ? 1 : 0;
  }
  EXPECT_EQ(appended, 3);
  EXPECT_EQ(erase_if(list, [](const Counted& item) { return item.value % 2 == 1; }), 6u);
  std::vector<zn::List<Counted>> lists;
  lists.push_back(list);
  lists.push_back(std::move(list));
  std::vector<int64_t> order;
  for (const Counted& item : lists[0]) {
    order.push_back(item.value);
  }
  EXPECT_EQ(order, (std::vector<int64_t>{0, 2, 4, 6, 8, 100, 102}));
  EXPECT_EQ(lists[1].size(), 7u);
}

}  // namespace
