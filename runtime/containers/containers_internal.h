// Internal to the containers library: the records behind the public handles, the block header
// helpers the pool's users share, and the probes through which tests watch rules that leave no
// other trace (which walk a selection took, which shared pools exist). Not installed.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "runtime/containers/containers.h"

namespace zn {

// ---------------------------------------------------------------------------------------------
// Block pools.

struct PoolChunk {
  PoolChunk* next;
  PoolChunk* previous;
  void* free_list;  // header address of the first given-back block, or null
  int32_t capacity;
  int32_t cut;
  int32_t free;
};

struct SharedPoolEntry {
  SharedPoolEntry* next;
  SharedPoolEntry* previous;
  BlockPool* pool;
  uint64_t block_size;
  uint32_t flags;
  int32_t references;
};

struct BlockPool {
  PoolChunk* full;
  PoolChunk* available;
  SharedPoolEntry* shared;
  uint64_t total_blocks;
  uint64_t block_size;
  int32_t minimum;
  int32_t maximum;
  int32_t locked;
  pthread_mutex_t mutex;
};

// ---------------------------------------------------------------------------------------------
// The numbered-object registry.

struct RegistryNode {
  RegistryNode* next;
  RegistryNode* previous;
};
static_assert(sizeof(RegistryNode) == 16, "a free-standing record lies 16 bytes into its node");

struct ObjectRegistry {
  int32_t object_size;
  int32_t increment;
  int64_t slot_count;
  void** slots;
  RegistryNode* any_id_list;
  ObjectFreeCallback free_callback;
  int64_t scan_index;
  RegistryNode* list_cursor;
  // The set of live free-standing record addresses (open addressing, linear probing), so that
  // a lookup can tell a real id from any other number without reading memory at that address.
  uintptr_t* live_ids;
  int64_t live_capacity;  // a power of two, or 0 before the first free-standing record
  int64_t live_count;
};

// ---------------------------------------------------------------------------------------------
// The hash map.

struct MapElement {
  MapElement* next;
  union {
    char16_t* text;  // a SizedBlock owned by the element
    int64_t number;
  } key;
  // value_size bytes of value follow.
};
static_assert(sizeof(MapElement) == 16, "a map value lies 16 bytes into its element");

// An entry of the map's index: an element's address in the low 48 bits and, in the top 16, how
// far its key copy lies from it, in 8-byte steps. A find of a string key then reads the key copy
// straight after the index row, instead of waiting first for the element and then for the copy:
// two reads from memory one after the other rather than three. Integer keys, and key copies out
// of that reach (kMapEntryKeyFar), leave the key to be read through the element. An element whose
// address needs more than 48 bits has no entry: the map goes on without its index.
inline constexpr int kMapEntryAddressBits = 48;
inline constexpr uint64_t kMapEntryAddressMask = (uint64_t{1} << kMapEntryAddressBits) - 1;
inline constexpr int64_t kMapEntryKeyFar = INT16_MIN;
inline constexpr int64_t kMapEntryKeyStep = 8;

struct MapIndexEntry {
  uint64_t bits;

  MapElement* Element() const {
    return static_cast<MapElement*>(Address(bits & kMapEntryAddressMask));
  }
  // The element's key copy; the element itself is read only when the copy lies out of reach.
  [[gnu::always_inline]] const char16_t* KeyText() const {
    const int64_t steps = static_cast<int64_t>(bits) >> kMapEntryAddressBits;
    if (steps == kMapEntryKeyFar) [[unlikely]] {
      return Element()->key.text;
    }
    return static_cast<const char16_t*>(
        Address((bits & kMapEntryAddressMask) + static_cast<uint64_t>(steps * kMapEntryKeyStep)));
  }

 private:
  // Both addresses were taken apart into integers when the entry was made; they are put back
  // together the same way.
  static void* Address(uint64_t address) {
    return reinterpret_cast<void*>(  // NOLINT(performance-no-int-to-ptr)
        static_cast<uintptr_t>(address));
  }
};

// The entry of an element at `element` whose key copy is at `key` (0 for none, an integer key);
// false when the address does not fit.
inline bool MapEntryEncode(uintptr_t element, uintptr_t key, MapIndexEntry* entry) {
  if ((element & ~kMapEntryAddressMask) != 0) {
    return false;
  }
  int64_t steps = kMapEntryKeyFar;
  const auto distance = static_cast<int64_t>(key - element);
  if (key != 0 && distance % kMapEntryKeyStep == 0 && distance / kMapEntryKeyStep > INT16_MIN &&
      distance / kMapEntryKeyStep <= INT16_MAX) {
    steps = distance / kMapEntryKeyStep;
  }
  entry->bits = element | (static_cast<uint64_t>(steps) << kMapEntryAddressBits);
  return true;
}

// The map's index (map_index.cpp): an open-addressed table of its elements, placed by a mix of
// their key hashes, in rows of one cache line each. A row holds seven one-byte tags (8 bits of the
// mix; 0 marks a free slot), the count of entries that found the row full on their way to a free
// slot further on, and the seven entries, so that one line read answers for seven of them and a
// find touches a second row only when its own overflowed.
struct MapIndexRow {
  uint8_t tags[7];
  uint8_t passed;  // entries placed past this row; at 255 it stays there (and probes go on)
  MapIndexEntry entries[7];
};
static_assert(sizeof(MapIndexRow) == 64, "an index row is one cache line");

// Beside the rows, each slot's place: the top 16 bits of its key's mix. While the table has at
// most kMapIndexPlacedRows rows, an entry's row comes from its place alone, so that a table that
// grows places its entries anew without reading their keys. A larger table takes rows from 32 bits
// of the mix and keeps no places.
inline constexpr uint32_t kMapIndexPlacedRows = 65536;
struct MapIndex {
  MapIndexRow* rows;  // row_count rows, 64-byte aligned, in the same block after this record
  uint16_t* places;   // 7 a row, after the rows; null in a table without places
  uint32_t row_count;
  uint32_t entries;   // elements in the table
  uint32_t shadowed;  // elements left out because a newer element of the map has their key
  uint32_t row_bits;  // the bits of the mix's top half a row comes from: the top 16 with places
};

struct HashMap {
  MapElement* current;
  MapElement** buckets;
  MapElement* previous;
  LayoutDescriptor layout;
  int32_t current_bucket;
  int32_t saved_bucket;
  uint64_t value_size;
  int32_t type;
  uint32_t bucket_count;
  int32_t element_count;
  uint8_t flags;
  HashMap** owner;
  BlockPool* pool;
  // The index of the elements by key hash; null while the map is small. An accelerator only,
  // outside the map's rules.
  MapIndex* index;
};

// A growing map (MapGrowing) is a HashMap followed in the same block by what only it needs: the
// ends of the order in which its elements were added, and the bucket arithmetic of a power-of-two
// bucket count. Maps without the flag are allocated without it.
struct MapGrowth {
  MapElement* newest;
  MapElement* oldest;
  int64_t grow_at;  // the element count past which the bucket array doubles
  uint32_t shift;   // 64 minus the bucket count's power of two
};
struct GrowingHashMap {
  HashMap map;  // first, so that the two addresses are one
  MapGrowth growth;
};

// What a growing map's element carries in front of its MapElement fields: its neighbours in the
// order of adding, and its key's hash, so that doubling never reads a key and a chain walk
// compares hashes before keys.
struct MapOrderLinks {
  MapElement* newer;
  MapElement* older;
  uint32_t hash;
  uint32_t unused;
};
static_assert(sizeof(MapOrderLinks) == 24, "growing elements keep their values 8-byte aligned");

// ---------------------------------------------------------------------------------------------
// The linked list.

struct ListElement {
  ListElement* next;
  ListElement* previous;
  // value_size bytes of value follow.
};
static_assert(sizeof(ListElement) == 16, "a list value lies 16 bytes into its element");

struct LinkedList {
  ListElement* first;
  ListElement* last;
  ListElement* current;
  void** current_cell;
  int64_t count;
  int64_t current_index;
  LayoutDescriptor layout;
  BlockPool* pool;
  ListHolder* holder;
  uint64_t element_size;
  int32_t type;
  uint8_t index_invalid;
  uint8_t structured;
  uint8_t owns_holder;
};

namespace internal {

// The value that every map and list operation hands out lies 16 bytes into its element.
inline void* ElementValue(void* element) {
  return static_cast<char*>(element) + 16;
}

// Element payload sizes for a value size: value + 16, or false when that overflows.
bool ElementSizeFits(uint64_t value_size, uint64_t* element_size);

// The hash of a string key (null is the empty key): h = h * 65599 + unit, wrapping at 32 bits,
// each unit lowered first when `no_case` is set.
uint32_t MapHash(const char16_t* key, bool no_case);

// Frees every chunk of the pool and leaves it empty; the caller holds the pool's mutex.
void PoolChunksFree(BlockPool* pool);

// Map helpers shared by its files. An element is taken from the pool apart from being linked
// into its chain, so that adding, copying and deleting reuse the same linking code.
uint32_t MapStringBucket(const HashMap* map, const char16_t* key);
uint32_t MapIntegerBucket(const HashMap* map, int64_t key);
void MapElementLink(HashMap* map, MapElement* element, uint32_t bucket, uint32_t hash,
                    bool new_key);
// The hash an element's key is indexed under: the key's hash, or a fold of an integer key.
uint32_t MapElementHash(const HashMap* map, const MapElement* element);
uint32_t MapIntegerHash(int64_t key);

// Where a key hash stands in the index: the row its probe starts at, its tag and its place. The
// hash is mixed first (times an odd 64-bit constant): the keys of one bucket share their low bits,
// and small integer keys have no high ones. The row comes from the top 16 or 32 bits of the mix
// scaled to the row count, so that any row count serves; the tag from bits the row does not
// depend on.
struct MapIndexProbe {
  uint32_t row;
  uint8_t tag;
  uint16_t place;
};
inline uint64_t MapIndexMix(uint32_t hash) {
  return uint64_t{hash} * 0x9E3779B97F4A7C15u;
}
inline uint32_t MapIndexRowOf(const MapIndex& index, uint64_t mix) {
  return static_cast<uint32_t>((((mix >> 32) & index.row_bits) * index.row_count) >> 32);
}
inline MapIndexProbe MapIndexProbeOf(const MapIndex& index, uint32_t hash) {
  const uint64_t mix = MapIndexMix(hash);
  const auto tag = static_cast<uint8_t>(mix >> 24);
  return {MapIndexRowOf(index, mix), static_cast<uint8_t>(tag == 0 ? 1 : tag),
          static_cast<uint16_t>(mix >> 48)};
}

// The slots of a row whose tag is `tag` (0 asks for the free ones), as a mask with one bit per
// slot. The passed count, byte 7, is left out.
inline uint64_t MapIndexRowMatches(const MapIndexRow& row, uint8_t tag) {
#if defined(__SSE2__)
  uint64_t word = 0;
  std::memcpy(&word, row.tags, sizeof word);
  const __m128i equal =
      _mm_cmpeq_epi8(_mm_cvtsi64_si128(static_cast<int64_t>(word)),
                     _mm_cvtsi64_si128(static_cast<int64_t>(tag * 0x0101010101010101u)));
  return static_cast<uint64_t>(_mm_movemask_epi8(equal)) & 0x7Fu;
#else
  uint64_t matches = 0;
  for (uint32_t slot = 0; slot < 7; ++slot) {
    matches |= static_cast<uint64_t>(row.tags[slot] == tag) << slot;
  }
  return matches;
#endif
}
inline uint32_t MapIndexSlotOf(uint64_t matches) {
  return static_cast<uint32_t>(__builtin_ctzll(matches));
}

// The element of the index whose entry `matches` (the newest of its key: older ones are left
// out), or null. A probe ends at the first row that no entry passed, or after every row (counts
// stuck at their top never come down, so in principle every row could show one).
template <typename Matches>
[[gnu::always_inline]] inline MapElement* MapIndexFind(const MapIndex& index, uint32_t hash,
                                                       Matches matches) {
  const MapIndexProbe probe = MapIndexProbeOf(index, hash);
  uint32_t row = probe.row;
  for (uint32_t left = index.row_count;;) {
    const MapIndexRow& at = index.rows[row];
    for (uint64_t slots = MapIndexRowMatches(at, probe.tag); slots != 0; slots &= slots - 1) {
      const MapIndexEntry entry = at.entries[MapIndexSlotOf(slots)];
      if (matches(entry)) {
        return entry.Element();
      }
    }
    if (at.passed == 0 || --left == 0) {
      return nullptr;
    }
    row = row + 1 == index.row_count ? 0 : row + 1;
  }
}

// Keeping the index in step: after `element` was linked at the head of its chain (the map's element
// count already counting it; `new_key` when the add has just looked for its key and not found it),
// after it was unlinked (its next link still read, the count still counting it), and dropping the
// whole index (clearing, freeing, or when memory for it runs out).
void MapIndexLinked(HashMap* map, MapElement* element, uint32_t hash, bool new_key);
void MapIndexUnlinked(HashMap* map, const MapElement* element);
void MapIndexDrop(HashMap* map);

// What a find through the index leaves as the previous element: it never walked the chain to the
// element it found, so the one before it is not known. A delete looks it up first
// (MapPreviousResolve, a walk of the chain), so the map behaves as if the find had recorded it. A
// marker that is no element: only its address is used.
inline MapElement map_previous_unknown{};
inline MapElement* MapPreviousUnknown() {
  return &map_previous_unknown;
}
void MapPreviousResolve(HashMap* map);

// Frees what an unlinked element owns (its key copy, its value's heap data) and gives it back.
void MapElementRelease(HashMap* map, MapElement* element);

// Growing maps (map_grow.cpp).
inline bool MapIsGrowing(const HashMap* map) {
  return (map->flags & MapGrowing) != 0;
}
inline MapGrowth& MapGrowthOf(HashMap* map) {
  return reinterpret_cast<GrowingHashMap*>(map)->growth;
}
inline const MapGrowth& MapGrowthOf(const HashMap* map) {
  return reinterpret_cast<const GrowingHashMap*>(map)->growth;
}
inline MapOrderLinks* MapLinksOf(MapElement* element) {
  return reinterpret_cast<MapOrderLinks*>(reinterpret_cast<char*>(element) - sizeof(MapOrderLinks));
}
inline const MapOrderLinks* MapLinksOf(const MapElement* element) {
  return reinterpret_cast<const MapOrderLinks*>(reinterpret_cast<const char*>(element) -
                                                sizeof(MapOrderLinks));
}
// The bucket of a key hash in a growing map: the top bits of the hash times a 64-bit odd
// constant.
inline uint32_t MapGrowingBucket(const HashMap* map, uint32_t hash) {
  return static_cast<uint32_t>((uint64_t{hash} * 0x9E3779B97F4A7C15u) >> MapGrowthOf(map).shift);
}
// The first bucket count of a growing map asked for `buckets`, and its record set up for it.
uint32_t MapGrowingBucketCount(int32_t buckets);
void MapGrowthStart(HashMap* map);
// An element from the map's pool (null when memory is exhausted), and one given back: a growing
// map's element lies behind its order links in the pool's block.
inline MapElement* MapElementTake(HashMap* map) {
  auto* block = static_cast<char*>(PoolTake(map->pool));
  return reinterpret_cast<MapElement*>(
      block != nullptr && MapIsGrowing(map) ? block + sizeof(MapOrderLinks) : block);
}
inline void MapElementGive(HashMap* map, MapElement* element) {
  PoolGive(map->pool, MapIsGrowing(map) ? static_cast<void*>(MapLinksOf(element)) : element);
}
// Keeping the order in step: after `element` was linked into its chain (the map's count already
// counting it; this may double the bucket array), and after it was unlinked.
void MapOrderLinked(HashMap* map, MapElement* element, uint32_t hash);
void MapOrderUnlinked(HashMap* map, MapElement* element);
// Puts back a saved current and previous element, with their buckets under the bucket count the
// map has now.
void MapPositionRestore(HashMap* map, const HashMap& saved);

// The bucket whose chain holds `element`.
uint32_t MapElementBucket(const HashMap* map, const MapElement* element);
// Deletes an element found by its address, whatever walk stands where; false (nothing done)
// when it is in no chain of the map.
bool MapElementDelete(HashMap* map, MapElement* element);

// The shared pool entry of this block size and flags value, or null (taken under the list lock).
SharedPoolEntry* PoolSharedFind(uint64_t block_size, uint32_t flags);

// The set of live free-standing record addresses of a registry. Insert gives false when memory
// is exhausted (the set is unchanged); Remove of an absent address does nothing.
bool RegistryIdsInsert(ObjectRegistry* registry, uintptr_t id);
bool RegistryIdsContain(const ObjectRegistry* registry, uintptr_t id);
void RegistryIdsRemove(ObjectRegistry* registry, uintptr_t id);

// Which walk the last ListSelect took, and how many links it followed.
enum class ListWalk : int32_t {
  kNone,
  kFromFirst,
  kFromLast,
  kForwardFromCurrent,
  kBackwardFromCurrent
};
struct ListSelectTrace {
  ListWalk walk;
  int64_t steps;
};
ListSelectTrace ListLastSelect();

}  // namespace internal
}  // namespace zn
