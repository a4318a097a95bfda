// The index of a hash map: an open-addressed table of the map's elements by key hash, kept in step
// with the chains.
//
// A map made without MapGrowing never changes its bucket count, so chains grow: 100,000 keys in
// 1,024 buckets give chains of about a hundred elements, and a walk of one waits for memory twice
// per element (the element, then its key copy). The index finds an element in one row of seven
// entries, one cache line, almost always the row its probe starts at; a find of a string key then
// reads the key copy the entry points to, and not the element. It changes how a key is found, never
// what a find finds: the chains stay the map's order, and of several elements with one key (added
// in mode 0) the table holds only the newest, which is the one nearest its chain's head, the one a
// walk meets first. The older ones are "shadowed"; when the newest goes, the next one along its
// chain takes its slot.
//
// Rows are found by a probe that starts at the row the mixed hash names and goes on row by row. A
// row counts the entries that passed it full, so a find stops at the first row no entry passed,
// and a removal frees its slot without leaving a mark behind. The table doubles when it holds six
// entries a row on average (of seven slots): growing by less would leave rows fuller on average,
// and a failed look-up (every add in mode 1 makes one) crosses more rows in fuller tables. Each
// slot keeps its entry's place beside the rows, so that the doubled table is filled from the old
// one without reading a key. Rows and places cost 78 bytes per 3 to 6 elements (13 to 26 bytes
// each).
//
// The index is an accelerator only. A map gets one once it holds more than kIndexLoad elements per
// bucket on average (small maps keep their plain chains and cost nothing more); when memory for it
// cannot be had, the map drops it and goes on with its chains alone.
#include <cstdint>
#include <cstring>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

namespace zn {
namespace {

constexpr uint32_t kIndexLoad = 1;
constexpr uint32_t kRowSlots = 7;
constexpr uint32_t kMostPerRow = 6;    // entries per row on average before the table grows
constexpr uint32_t kGrownPerRow = 3;   // ... and after it grew
constexpr uint8_t kPassedStuck = 255;  // a row passed this often keeps the count for good
constexpr uint64_t kAllSlots = 0x7Fu;  // every slot, as MapIndexRowMatches marks them
constexpr uint64_t kRowBytes = sizeof(MapIndexRow);
constexpr uint32_t kBatch = 16;  // entries fetched together when the table grows (Grow) ...
constexpr uint32_t kStages = 3;  // ... in this many stages

uint32_t NextRow(const MapIndex& index, uint32_t row) {
  return row + 1 == index.row_count ? 0 : row + 1;
}

// An empty index of `rows` rows (the record and its rows in one block), or null when memory is
// exhausted.
MapIndex* IndexCreate(uint64_t rows) {
  const bool placed = rows <= kMapIndexPlacedRows;
  const uint64_t row_bytes = kRowBytes + (placed ? kRowSlots * sizeof(uint16_t) : 0);
  uint64_t bytes = 0;
  if (rows > UINT32_MAX || !MemorySizeFits(rows, row_bytes, sizeof(MapIndex) + kRowBytes, &bytes)) {
    return nullptr;
  }
  auto* index = static_cast<MapIndex*>(MemoryAllocZeroed(bytes));
  if (index == nullptr) {
    return nullptr;
  }
  // The rows start at the first cache line after the record.
  auto* after = reinterpret_cast<char*>(index + 1);
  const uint64_t pad = (kRowBytes - reinterpret_cast<uintptr_t>(after) % kRowBytes) % kRowBytes;
  index->rows = reinterpret_cast<MapIndexRow*>(after + pad);
  index->places = placed ? reinterpret_cast<uint16_t*>(index->rows + rows) : nullptr;
  index->row_count = static_cast<uint32_t>(rows);
  index->row_bits = placed ? 0xFFFF0000u : 0xFFFFFFFFu;
  return index;
}

// The rows for `entries` elements just after a growth (or a build).
uint64_t RowsFor(uint64_t entries) {
  return entries / kGrownPerRow + 1;
}

// The entry of one of the map's elements; false when its address does not fit in one.
bool EntryOf(const HashMap* map, const MapElement* element, MapIndexEntry* entry) {
  const uintptr_t key =
      (map->flags & MapIntegerKeys) != 0 ? 0 : reinterpret_cast<uintptr_t>(element->key.text);
  return MapEntryEncode(reinterpret_cast<uintptr_t>(element), key, entry);
}

// Puts `entry` in the first free slot of the probe that starts at `row`; the table has one (it
// never holds more than kMostPerRow entries per row on average).
void PlaceAt(MapIndex& index, uint32_t row, uint8_t tag, uint16_t place, MapIndexEntry entry) {
  for (;; row = NextRow(index, row)) {
    MapIndexRow& at = index.rows[row];
    if (const uint64_t free = internal::MapIndexRowMatches(at, 0)) {
      const uint32_t slot = internal::MapIndexSlotOf(free);
      at.tags[slot] = tag;
      at.entries[slot] = entry;
      if (index.places != nullptr) {
        index.places[row * kRowSlots + slot] = place;
      }
      ++index.entries;
      return;
    }
    if (at.passed != kPassedStuck) {
      ++at.passed;
    }
  }
}

// Places one of the map's elements; false when it has no entry.
bool Place(const HashMap* map, MapIndex& index, uint32_t hash, const MapElement* element) {
  MapIndexEntry entry{};
  if (!EntryOf(map, element, &entry)) {
    return false;
  }
  const internal::MapIndexProbe probe = internal::MapIndexProbeOf(index, hash);
  PlaceAt(index, probe.row, probe.tag, probe.place, entry);
  return true;
}

// The two elements' keys are equal, as a find compares them.
bool KeysEqual(const HashMap* map, const MapElement* a, const MapElement* b) {
  if ((map->flags & MapIntegerKeys) != 0) {
    return a->key.number == b->key.number;
  }
  return ((map->flags & MapKeyNoCase) != 0 ? StringCompareNoCase(a->key.text, b->key.text)
                                           : StringCompare(a->key.text, b->key.text)) == 0;
}

// The slot of the table that holds an element with the key of `element`, or null.
MapIndexEntry* SlotWithKeyOf(const HashMap* map, MapIndex& index, uint32_t hash,
                             const MapElement* element) {
  const internal::MapIndexProbe probe = internal::MapIndexProbeOf(index, hash);
  uint32_t row = probe.row;
  for (uint32_t left = index.row_count;; row = NextRow(index, row)) {
    MapIndexRow& at = index.rows[row];
    for (uint64_t slots = internal::MapIndexRowMatches(at, probe.tag); slots != 0;
         slots &= slots - 1) {
      MapIndexEntry& entry = at.entries[internal::MapIndexSlotOf(slots)];
      if (KeysEqual(map, entry.Element(), element)) {
        return &entry;
      }
    }
    if (at.passed == 0 || --left == 0) {
      return nullptr;
    }
  }
}

// Enters an element the table may already hold the key of (it enters the chains from their
// heads): when it does, the element already there is the newer one, and this one is shadowed.
// False when the element has no entry.
bool Enter(const HashMap* map, MapIndex& index, uint32_t hash, MapElement* element) {
  if (SlotWithKeyOf(map, index, hash, element) != nullptr) {
    ++index.shadowed;
    return true;
  }
  return Place(map, index, hash, element);
}

// The elements of a table in row order, a batch at a time.
struct EntryCursor {
  const MapIndex* index;
  uint32_t row;
  uint64_t slots;  // the slots of `row` not yet given

  // Fills `batch` with up to kBatch elements and gives how many.
  uint32_t Next(MapElement** batch) {
    uint32_t count = 0;
    while (count < kBatch && row < index->row_count) {
      if (slots == 0) {
        if (++row == index->row_count) {
          break;
        }
        slots = ~internal::MapIndexRowMatches(index->rows[row], 0) & kAllSlots;
        continue;
      }
      batch[count++] = index->rows[row].entries[internal::MapIndexSlotOf(slots)].Element();
      slots &= slots - 1;
    }
    return count;
  }
};

// Places the entries of `old` in `grown` by their places: rows of both come from places alone, so
// no element or key is read.
void PlaceAnew(const MapIndex& old, MapIndex& grown) {
  for (uint32_t row = 0; row < old.row_count; ++row) {
    const MapIndexRow& at = old.rows[row];
    for (uint64_t slots = ~internal::MapIndexRowMatches(at, 0) & kAllSlots; slots != 0;
         slots &= slots - 1) {
      const uint32_t slot = internal::MapIndexSlotOf(slots);
      const uint16_t place = old.places[row * kRowSlots + slot];
      PlaceAt(grown, static_cast<uint32_t>((uint64_t{place} * grown.row_count) >> 16),
              at.tags[slot], place, at.entries[slot]);
    }
  }
}

// Places the entries of `old` in `grown` by their keys' hashes, when either table is too large to
// have places. That means reading each entry's element and then its key copy: one entry after
// another, it would wait for memory twice per entry. The entries go in batches instead, three at
// a time: the elements of one batch are fetched while the key copies of the batch before it are
// fetched and the batch before that is placed.
void HashAnew(const HashMap* map, const MapIndex& old, MapIndex& grown) {
  const bool string_keys = (map->flags & MapIntegerKeys) == 0;
  EntryCursor cursor{&old, 0, ~internal::MapIndexRowMatches(old.rows[0], 0) & kAllSlots};
  MapElement* batches[kStages][kBatch];
  uint32_t counts[kStages] = {};
  for (uint32_t round = 0;; ++round) {
    const auto stage = [round](uint32_t behind) { return (round + kStages - behind) % kStages; };
    counts[stage(0)] = cursor.Next(batches[stage(0)]);
    for (uint32_t at = 0; at < counts[stage(0)]; ++at) {
      __builtin_prefetch(batches[stage(0)][at]);
    }
    if (string_keys) {
      for (uint32_t at = 0; at < counts[stage(1)]; ++at) {
        __builtin_prefetch(batches[stage(1)][at]->key.text);
      }
    }
    for (uint32_t at = 0; at < counts[stage(2)]; ++at) {
      const MapElement* element = batches[stage(2)][at];
      Place(map, grown, internal::MapElementHash(map, element), element);  // it had an entry
    }
    if (counts[stage(0)] + counts[stage(1)] == 0 && round >= kStages) {
      break;
    }
  }
}

// The table placed anew with room for one more entry than it holds; false when memory is
// exhausted.
bool Grow(HashMap* map) {
  MapIndex& old = *map->index;
  MapIndex* grown = IndexCreate(RowsFor(uint64_t{old.entries} + 1));
  if (grown == nullptr) {
    return false;
  }
  grown->shadowed = old.shadowed;
  if (old.places != nullptr && grown->places != nullptr) {
    PlaceAnew(old, *grown);
  } else {
    HashAnew(map, old, *grown);
  }
  MemoryRelease(map->index);
  map->index = grown;
  return true;
}

// Builds the index of every chain; false (and no index) when memory is exhausted. Each chain is
// entered from its head, so that of two elements with one key the newer comes first.
bool IndexBuild(HashMap* map) {
  MapIndex* index = IndexCreate(RowsFor(static_cast<uint64_t>(map->element_count)));
  if (index == nullptr) {
    return false;
  }
  for (uint32_t bucket = 0; bucket < map->bucket_count; ++bucket) {
    for (MapElement* element = map->buckets[bucket]; element != nullptr; element = element->next) {
      if (!Enter(map, *index, internal::MapElementHash(map, element), element)) {
        MemoryRelease(index);
        return false;
      }
    }
  }
  map->index = index;
  return true;
}

// Frees the slot of row `row` and takes back the passes its entry made on the way from `start`.
void SlotFree(MapIndex& index, uint32_t start, uint32_t row, uint32_t slot) {
  index.rows[row].tags[slot] = 0;
  index.rows[row].entries[slot] = MapIndexEntry{};
  --index.entries;
  for (uint32_t passed = start; passed != row; passed = NextRow(index, passed)) {
    if (index.rows[passed].passed != kPassedStuck) {
      --index.rows[passed].passed;
    }
  }
}

}  // namespace

namespace internal {

uint32_t MapIntegerHash(int64_t key) {
  const auto bits = static_cast<uint64_t>(key);
  return static_cast<uint32_t>(bits) ^ static_cast<uint32_t>(bits >> 32);
}

void MapIndexLinked(HashMap* map, MapElement* element, uint32_t hash, bool new_key) {
  if (MapIsGrowing(map)) {
    return;  // its chains stay short by doubling: a growing map never gets an index
  }
  if (map->index == nullptr) {
    const auto count = static_cast<uint64_t>(map->element_count);
    const uint64_t threshold = uint64_t{map->bucket_count} * kIndexLoad;
    // Tried when the load first passes the threshold and again at each multiple of it, so that a
    // map whose index could not be had once gets it later.
    if (count > threshold && count % (threshold + 1) == 0) {
      IndexBuild(map);  // the new element is in its chain already
    }
    return;
  }
  MapIndex& index = *map->index;
  if (!new_key) {
    if (MapIndexEntry* slot = SlotWithKeyOf(map, index, hash, element)) {
      // The new element heads its chain: the older one is shadowed.
      if (!EntryOf(map, element, slot)) {
        MapIndexDrop(map);
        return;
      }
      ++index.shadowed;
      return;
    }
  }
  if ((index.entries >= uint64_t{kMostPerRow} * index.row_count && !Grow(map)) ||
      !Place(map, *map->index, hash, element)) {
    MapIndexDrop(map);
  }
}

void MapIndexUnlinked(HashMap* map, const MapElement* element) {
  if (map->index == nullptr) {
    return;
  }
  // A map that has lost most of its elements walks short chains again: the table goes rather
  // than hold the memory of its largest size (it comes back as the map grows again).
  if ((static_cast<uint64_t>(map->element_count) - 1) * 2 <=
      uint64_t{map->bucket_count} * kIndexLoad) {
    MapIndexDrop(map);
    return;
  }
  MapIndex& index = *map->index;
  const uint32_t hash = MapElementHash(map, element);
  const MapIndexProbe probe = MapIndexProbeOf(index, hash);
  uint32_t row = probe.row;
  for (uint32_t left = index.row_count;; row = NextRow(index, row)) {
    MapIndexRow& at = index.rows[row];
    for (uint64_t slots = MapIndexRowMatches(at, probe.tag); slots != 0; slots &= slots - 1) {
      const uint32_t slot = MapIndexSlotOf(slots);
      if (at.entries[slot].Element() != element) {
        continue;
      }
      // The next element of its key, if any, is the first one along the rest of its chain.
      if (index.shadowed != 0) {
        for (MapElement* older = element->next; older != nullptr; older = older->next) {
          if (KeysEqual(map, older, element)) {
            if (!EntryOf(map, older, &at.entries[slot])) {
              MapIndexDrop(map);
              return;
            }
            --index.shadowed;
            return;
          }
        }
      }
      SlotFree(index, probe.row, row, slot);
      return;
    }
    if (at.passed == 0 || --left == 0) {
      if (index.shadowed != 0) {
        --index.shadowed;  // not in the table: a newer element has its key
      }
      return;
    }
  }
}

void MapIndexDrop(HashMap* map) {
  MemoryRelease(map->index);
  map->index = nullptr;
}

}  // namespace internal
}  // namespace zn
