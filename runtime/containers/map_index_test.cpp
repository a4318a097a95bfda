// Tests of the map's index: whatever adds, finds, deletes (after finds and during iterations),
// copies and clears do, the index holds exactly the newest element of each key of the chains
// under its key's tag, and a find through it gives the element and predecessor that a plain walk
// of the chain gives, so the current and previous elements and the iteration order are those of
// the chains alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "tests/support/checking_heap.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

MapElement* ElementOf(void* value) {
  return value == nullptr ? nullptr
                          : static_cast<MapElement*>(
                                static_cast<void*>(static_cast<char*>(value) - sizeof(MapElement)));
}

bool SameKey(const HashMap* map, const MapElement* a, const MapElement* b) {
  return (map->flags & MapIntegerKeys) != 0 ? a->key.number == b->key.number
                                            : StringCompare(a->key.text, b->key.text) == 0;
}

// The index against the chains: it holds the newest element of each key (the first of its key
// along its chain) in a slot its probe reaches, under its key's tag, and counts the others as
// shadowed; each row's passed count is the number of entries placed beyond it (or stuck at its
// top). An empty string when they agree. `near` counts the entries that lead to a key copy without
// the element.
std::string IndexMismatch(HashMap* map, int64_t* near = nullptr) {
  const MapIndex* index = map->index;
  if (index == nullptr) {
    return "";
  }
  std::vector<uint32_t> passed(index->row_count, 0);
  uint32_t indexed = 0;
  uint32_t shadowed = 0;
  for (uint32_t bucket = 0; bucket < map->bucket_count; ++bucket) {
    for (MapElement* element = map->buckets[bucket]; element != nullptr; element = element->next) {
      MapElement* newer = map->buckets[bucket];
      while (newer != element && !SameKey(map, newer, element)) {
        newer = newer->next;
      }
      if (newer != element) {
        ++shadowed;
        continue;
      }
      ++indexed;
      const auto probe = internal::MapIndexProbeOf(*index, internal::MapElementHash(map, element));
      uint32_t row = probe.row;
      for (uint32_t step = 0;; ++step, row = (row + 1) % index->row_count) {
        const MapIndexRow& at = index->rows[row];
        const auto* slot = std::find_if(at.entries, at.entries + 7, [element](auto entry) {
          return entry.Element() == element;
        });
        if (slot != at.entries + 7) {
          const auto place = (row * 7) + static_cast<uint32_t>(slot - at.entries);
          if (at.tags[slot - at.entries] != probe.tag ||
              (index->places != nullptr && index->places[place] != probe.place)) {
            return "bucket " + std::to_string(bucket) + ": an element under another tag or place";
          }
          if ((map->flags & MapIntegerKeys) == 0 && slot->KeyText() != element->key.text) {
            return "bucket " + std::to_string(bucket) + ": an entry that points to another key";
          }
          if (near != nullptr &&
              static_cast<int64_t>(slot->bits) >> kMapEntryAddressBits != kMapEntryKeyFar) {
            ++*near;
          }
          break;
        }
        if (step == index->row_count) {
          return "bucket " + std::to_string(bucket) + ": an element its probe does not reach";
        }
        ++passed[row];
      }
    }
  }
  uint32_t occupied = 0;
  for (uint32_t row = 0; row < index->row_count; ++row) {
    const MapIndexRow& at = index->rows[row];
    occupied += static_cast<uint32_t>(
        std::count_if(at.tags, at.tags + 7, [](uint8_t t) { return t != 0; }));
    if (at.passed != passed[row] && at.passed != 255) {
      return "row " + std::to_string(row) + " counts " + std::to_string(at.passed) +
             " passes, not " + std::to_string(passed[row]);
    }
  }
  if (occupied != indexed || index->entries != indexed || index->shadowed != shadowed) {
    return "the table holds " + std::to_string(occupied) + " entries and counts " +
           std::to_string(index->entries) + " and " + std::to_string(index->shadowed) +
           " shadowed; the chains have " + std::to_string(indexed) + " and " +
           std::to_string(shadowed);
  }
  return "";
}

// What a find must give: the first element of the key's chain with that key, and the element
// walked before it.
struct WalkResult {
  MapElement* found = nullptr;
  MapElement* previous = nullptr;
};
WalkResult ReferenceFind(const HashMap* map, const std::u16string& key) {
  WalkResult result;
  const uint32_t bucket = internal::MapHash(key.c_str(), false) % map->bucket_count;
  for (MapElement* element = map->buckets[bucket]; element != nullptr; element = element->next) {
    if (StringCompare(element->key.text, key.c_str()) == 0) {
      result.found = element;
      return result;
    }
    result.previous = element;
  }
  return WalkResult{};
}

// A heap that hands out blocks one after another and never takes them back: a map's elements and
// key copies lie close together, as a fresh heap lays them out, and the index's entries reach the
// copies themselves (the address sanitizer's heap keeps them far apart). Resizes are refused.
alignas(16) unsigned char nearby_heap[size_t{64} << 20];
size_t nearby_used = 0;
void* NearbyAlloc(size_t bytes) {
  const size_t need = (bytes + 15) & ~size_t{15};
  if (need > sizeof nearby_heap - nearby_used) {
    return nullptr;
  }
  nearby_used += need;
  return nearby_heap + nearby_used - need;
}
constexpr MemoryHeap kNearbyHeap{NearbyAlloc, [](void*, size_t) -> void* { return nullptr; },
                                 [](void*) {}};
struct CheckingHeapBack {  // even when an assertion ends the test
  ~CheckingHeapBack() {
    test::CheckingHeapInstall();
    nearby_used = 0;
  }
};

TEST(MapIndex, StaysInStepWithTheChainsThroughEveryOperation) {
  const test::LiveBlockGuard live{"the index left blocks behind"};
  for (const auto& [nearby, buckets] :
       {std::pair{false, 1u}, std::pair{false, 3u}, std::pair{false, 16u}, std::pair{true, 3u}}) {
    const CheckingHeapBack heap_back;
    if (nearby) {
      MemoryHeapSet(&kNearbyHeap);
    }
    int64_t near = 0;
    std::mt19937 random(buckets);
    HashMap* map = nullptr;
    HashMap* other = nullptr;
    ASSERT_NE(MapCreate(8, 0, nullptr, &map, static_cast<int32_t>(buckets)), nullptr);
    ASSERT_NE(MapCreate(8, 0, nullptr, &other, static_cast<int32_t>(buckets)), nullptr);
    bool indexed = false;
    for (int step = 0; step < 4000; ++step) {
      const std::u16string key =
          u"key" + std::u16string(1, static_cast<char16_t>(u'0' + random() % 60));
      const std::string where = (nearby ? "nearby heap, buckets " : "buckets ") +
                                std::to_string(buckets) + ", step " + std::to_string(step) +
                                ", key " + std::to_string(key[3]);
      const uint32_t op = random() % 16;
      if (op < 6) {  // add: mostly mode 1, sometimes a duplicate in mode 0
        const WalkResult before = ReferenceFind(map, key);
        const int32_t mode = op == 0 ? 0 : 1;
        MapElement* added = ElementOf(MapAdd(map, key.c_str(), mode));
        ASSERT_NE(added, nullptr) << where;
        if (mode == 1 && before.found != nullptr) {
          ASSERT_EQ(added, before.found) << where << ": mode 1 renewed another element";
        } else {
          ASSERT_EQ(map->buckets[internal::MapHash(key.c_str(), false) % buckets], added)
              << where << ": a new element heads its chain";
        }
      } else if (op < 11) {  // find, then sometimes delete what it found
        const WalkResult want = ReferenceFind(map, key);
        MapElement* const current = map->current;
        MapElement* found = ElementOf(MapFind(map, key.c_str()));
        ASSERT_EQ(found, want.found) << where;
        if (found == nullptr) {
          ASSERT_EQ(map->current, current) << where << ": a miss moved the current element";
          continue;
        }
        ASSERT_EQ(map->current, found) << where;
        internal::MapPreviousResolve(map);
        ASSERT_EQ(map->previous, want.previous) << where << ": another previous element";
        if (op >= 9) {
          ASSERT_EQ(ElementOf(MapDeleteCurrent(map)), want.previous)
              << where << ": the delete stepped back to another element";
        }
      } else if (op < 14) {  // a whole iteration in chain order, deleting every third element
        std::vector<MapElement*> order;
        for (uint32_t bucket = 0; bucket < buckets; ++bucket) {
          for (MapElement* element = map->buckets[bucket]; element != nullptr;
               element = element->next) {
            order.push_back(element);
          }
        }
        MapReset(map);
        size_t visited = 0;
        for (void* value = MapNext(map); value != nullptr; value = MapNext(map)) {
          ASSERT_LT(visited, order.size()) << where << ": the iteration visited too many";
          ASSERT_EQ(ElementOf(value), order[visited]) << where << ": iteration left chain order";
          if (++visited % 3 == 0) {
            MapDeleteCurrent(map);
          }
        }
        ASSERT_EQ(visited, order.size()) << where << ": the iteration missed elements";
      } else if (op == 14) {  // copy into the other map, clearing first, then back without
        ASSERT_EQ(MapCopy(map, other, 1), 1) << where;
        if (MapElementCount(map) < 300) {
          ASSERT_EQ(MapCopy(other, map, 0), 1) << where;
        }
        ASSERT_EQ(IndexMismatch(other), "") << where << " (the copy)";
      } else if (random() % 8 == 0) {
        MapClear(map);
        ASSERT_EQ(map->index, nullptr) << where << ": clearing keeps no index";
      }
      indexed = indexed || map->index != nullptr;
      ASSERT_EQ(IndexMismatch(map, &near), "") << where;
      if (MapElementCount(map) * 2 <= static_cast<int32_t>(buckets)) {
        ASSERT_EQ(map->index, nullptr) << where << ": a map of short chains keeps no index";
      }
    }
    EXPECT_TRUE(indexed) << "buckets " << buckets << ": the map never grew an index";
    EXPECT_TRUE(near > 0 || !nearby) << "buckets " << buckets << ": no entry reached its copy";
    MapFree(map);
    MapFree(other);
  }
}

// Integer keys are indexed by a fold of their bits: keys that share a bucket (they differ by
// multiples of the bucket count, negative ones too) are told apart by their tags.
TEST(MapIndex, IntegerKeysOfOneBucketAreToldApart) {
  const test::LiveBlockGuard live;
  HashMap* map = nullptr;
  ASSERT_NE(MapCreate(8, 0, nullptr, &map, 4, MapIntegerKeys), nullptr);
  std::vector<int64_t> keys;
  for (int64_t step = 0; step < 40; ++step) {
    keys.push_back(step * 4);
    keys.push_back(-step * 4 - 1);
    keys.push_back((step << 40) + 2);
  }
  for (const int64_t key : keys) {
    *static_cast<int64_t*>(MapAddInteger(map, key, 1)) = key;
  }
  ASSERT_NE(map->index, nullptr);
  ASSERT_EQ(IndexMismatch(map), "");
  for (const int64_t key : keys) {
    void* value = MapFindInteger(map, key);
    ASSERT_NE(value, nullptr) << "key " << key;
    EXPECT_EQ(*static_cast<int64_t*>(value), key) << "key " << key;
    if (key % 3 == 0) {
      MapDeleteCurrent(map);
      EXPECT_EQ(MapFindInteger(map, key), nullptr) << "key " << key << " after its delete";
    }
  }
  EXPECT_EQ(IndexMismatch(map), "");
  MapFree(map);
}

// Past kMapIndexPlacedRows rows a table keeps no places: its rows come from 32 bits of the mix,
// and growing into it or past it hashes the keys again.
TEST(MapIndex, TablesTooLargeForPlacesStillFindEveryKey) {
  const test::LiveBlockGuard live;
  HashMap* map = nullptr;
  ASSERT_NE(MapCreate(8, 0, nullptr, &map, 4096, MapIntegerKeys), nullptr);
  const int64_t count = int64_t{kMapIndexPlacedRows} * 7;
  for (int64_t key = 0; key < count; ++key) {
    *static_cast<int64_t*>(MapAddInteger(map, key * 7919, 1)) = key;
  }
  ASSERT_EQ(map->index->places, nullptr) << "the table is still small enough for places";
  for (int64_t key = 0; key < count; key += 97) {
    const void* value = MapFindInteger(map, key * 7919);
    ASSERT_NE(value, nullptr) << "key " << key;
    ASSERT_EQ(*static_cast<const int64_t*>(value), key);
  }
  MapFree(map);
}

// Keys of one hash share their first row and tag, so they fill the rows after it: each find
// compares keys along them, and the first row's count of entries placed beyond it sticks at its
// top. Adding (1, -126, 3969) to three units in a row keeps the hash, as 65599^2 - 126 * 65599 +
// 3969 is 0 modulo 2^32.
TEST(MapIndex, KeysOfOneHashAreToldApart) {
  const test::LiveBlockGuard live;
  std::vector<std::u16string> keys;
  for (int code = 0; code < 1024; ++code) {
    std::u16string key(7, u'\x7530');
    for (int at = 0; at < 5; ++at) {
      const int step = (code >> (2 * at)) & 3;
      key[at] = static_cast<char16_t>(key[at] + step);
      key[at + 1] = static_cast<char16_t>(key[at + 1] - 126 * step);
      key[at + 2] = static_cast<char16_t>(key[at + 2] + 3969 * step);
    }
    keys.push_back(key);
    ASSERT_EQ(internal::MapHash(key.c_str(), false), internal::MapHash(keys[0].c_str(), false));
  }
  HashMap* map = nullptr;
  ASSERT_NE(MapCreate(8, 0, nullptr, &map, 16), nullptr);
  for (size_t at = 0; at < keys.size(); ++at) {
    *static_cast<uint64_t*>(MapAdd(map, keys[at].c_str(), 1)) = at;
  }
  ASSERT_EQ(IndexMismatch(map), "");
  for (size_t at = 0; at < keys.size(); ++at) {
    void* value = MapFind(map, keys[at].c_str());
    ASSERT_NE(value, nullptr) << "key " << at;
    ASSERT_EQ(*static_cast<uint64_t*>(value), at) << "key " << at;
    if (at % 2 == 0) {
      MapDeleteCurrent(map);
    }
  }
  ASSERT_EQ(IndexMismatch(map), "");
  for (size_t at = 0; at < keys.size(); ++at) {
    EXPECT_EQ(MapFind(map, keys[at].c_str()) == nullptr, at % 2 == 0) << "key " << at;
  }
  MapFree(map);
}

// An entry gives its element, and its key copy on either side as far as the entry reaches; beyond
// that, off the 8-byte steps, or for an integer key (0), the copy is read through the element. An
// address past 48 bits has no entry.
TEST(MapIndex, EntriesGiveTheElementAndItsKeyCopy) {
  char16_t text[] = u"key";
  MapElement element{};
  element.key.text = text;
  const auto at = reinterpret_cast<uintptr_t>(&element);
  constexpr int64_t kStep = kMapEntryKeyStep;
  for (const auto& [distance, near] : {std::pair{int64_t{0}, true},
                                       {kStep, true},
                                       {-kStep, true},
                                       {INT16_MAX * kStep, true},
                                       {(INT16_MIN + 1) * kStep, true},
                                       {(INT16_MAX + 1) * kStep, false},
                                       {INT16_MIN * kStep, false},
                                       {int64_t{4}, false}}) {
    const uintptr_t key = at + static_cast<uintptr_t>(distance);
    MapIndexEntry entry{};
    ASSERT_TRUE(MapEntryEncode(at, key, &entry)) << distance;
    EXPECT_EQ(entry.Element(), &element) << distance;
    EXPECT_EQ(entry.KeyText(), near ? reinterpret_cast<const char16_t*>(key) : text) << distance;
  }
  MapIndexEntry entry{};
  ASSERT_TRUE(MapEntryEncode(at, 0, &entry));
  EXPECT_EQ(entry.KeyText(), text);
  EXPECT_FALSE(MapEntryEncode(uintptr_t{1} << kMapEntryAddressBits, at, &entry));
}

// A map whose index cannot be had (or cannot grow) goes on with its chains, unchanged.
TEST(MapIndex, ExhaustedMemoryDropsTheIndexNotTheElements) {
  const test::LiveBlockGuard live;
  HashMap* map = nullptr;
  ASSERT_NE(MapCreate(8, 0, nullptr, &map, 1), nullptr);
  ASSERT_NE(MapAdd(map, u"a", 1), nullptr);
  test::HeapFailAfter(1);  // the second key's copy succeeds, the index it calls for does not
  ASSERT_NE(MapAdd(map, u"b", 1), nullptr);
  test::HeapFailNever();
  ASSERT_NE(MapAdd(map, u"c", 1), nullptr);
  EXPECT_EQ(map->index, nullptr);
  EXPECT_EQ(MapElementCount(map), 3);
  for (const char16_t* key : {u"a", u"b", u"c"}) {
    EXPECT_EQ(ElementOf(MapFind(map, key)), ReferenceFind(map, key).found);
  }
  // Later adds try again, and the rebuilt index agrees with the chains.
  for (const char16_t* key : {u"d", u"e", u"f", u"g"}) {
    ASSERT_NE(MapAdd(map, key, 1), nullptr);
  }
  EXPECT_NE(map->index, nullptr);
  EXPECT_EQ(IndexMismatch(map), "");
  MapFree(map);
}

}  // namespace
}  // namespace zn
