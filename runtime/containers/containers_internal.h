// Internal to the containers library: the records behind the public handles, the block header
// helpers the pool's users share, and the probes through which tests watch rules that leave no
// other trace (which walk a selection took, which shared pools exist). Not installed.
#pragma once

#include <pthread.h>

#include <cstdint>

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

// One bucket's chain index (map_index.cpp): a tag for each element's key, then the elements'
// addresses, both in reverse chain order (the chain's head last), so that linking at the head is an
// append. The tags lie together, eight to a 16-byte row, so that one compare looks at eight
// elements without touching their addresses; `capacity` is a whole number of rows.
struct MapBucketIndex {
  void* block;  // capacity tags, then capacity element addresses; null while the bucket is empty
  uint32_t count;
  uint32_t capacity;
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
  // The chain index: one entry per bucket; null as a whole while the
  // map is small. An accelerator only, outside the map's rules.
  MapBucketIndex* index;
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
void MapElementLink(HashMap* map, MapElement* element, uint32_t bucket, uint32_t hash);
// The hash an element's key is indexed under: the key's hash, or a fold of an integer key.
uint32_t MapElementHash(const HashMap* map, const MapElement* element);
uint32_t MapIntegerHash(int64_t key);

// The tag an element whose key hash is `hash` has in the chain index: the high half of the hash
// multiplied by an odd constant, so that it depends on every bit of the hash (the keys of one
// bucket share their low bits, and small integer keys have no high ones).
inline uint16_t MapIndexTag(uint32_t hash) {
  return static_cast<uint16_t>((hash * 0x9E3779B1u) >> 16);
}

// The tags and the element addresses of a bucket's index, and one entry of each by position.
inline uint16_t* MapIndexTags(const MapBucketIndex& entry) {
  return static_cast<uint16_t*>(entry.block);
}
inline MapElement** MapIndexElements(const MapBucketIndex& entry) {
  return static_cast<MapElement**>(
      static_cast<void*>(static_cast<char*>(entry.block) + entry.capacity * sizeof(uint16_t)));
}
inline uint16_t& MapIndexTagAt(const MapBucketIndex& entry, uint32_t at) {
  return MapIndexTags(entry)[at];
}
inline MapElement*& MapIndexElement(const MapBucketIndex& entry, uint32_t at) {
  return MapIndexElements(entry)[at];
}

// Keeping the chain index in step: after `element` was linked at the head of `bucket`'s chain
// (the map's element count already counting it), after it was unlinked, and dropping the whole
// index (clearing, freeing, or when memory for it runs out).
void MapIndexLinked(HashMap* map, MapElement* element, uint32_t bucket, uint32_t hash);
void MapIndexUnlinked(HashMap* map, const MapElement* element, uint32_t bucket);
void MapIndexDrop(HashMap* map);

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
