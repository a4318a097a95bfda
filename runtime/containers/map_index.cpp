// The chain index of a hash map: for each bucket, a compact array of a 16-bit tag of each element's
// key hash, and beside it the elements' addresses, kept in step with the chain.
//
// A map made without MapGrowing never changes its bucket count, so chains grow: thousands of keys
// in 1,024 buckets give chains of tens to hundreds of elements, and walking one waits for memory
// twice per element (the element, then its key copy). The index lets a find compare the tags of a
// bucket, eight at a time, and touch only the elements whose tag matches (with 16-bit tags, almost
// always the one it seeks). It changes how a chain is searched, never what a search finds: the
// chain stays the map's order, and the index holds the same elements in reverse chain order (the
// head last), so that linking at the head is an append and a scan from the end meets elements in
// chain order.
//
// The index is an accelerator only. A map gets one once it holds more than kIndexLoad elements per
// bucket on average (small maps keep their plain chains and cost nothing more); when memory for
// the index cannot be had, the map drops it and goes on with its chains alone.
#include <cstring>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

constexpr uint32_t kIndexLoad = 1;
constexpr uint32_t kRowTags = 8;  // tags per 16-byte row
constexpr uint64_t kAddressBytes = sizeof(void*);

// Growth by an eighth (at least a row) keeps the unused room, and so the memory per element,
// small; the copies it costs are spread over the eighth of appends that follow. Capacities are
// whole rows, so that the element addresses after the tags stay 16-byte aligned.
uint32_t GrownCapacity(uint32_t capacity) {
  return (capacity + capacity / 8 + kRowTags) & ~(kRowTags - 1);
}

// The capacity a bucket gets when the index is built: whole rows, and at least two. The map has
// just passed one element per bucket and is most likely still growing; starting each bucket at one
// row would move it again a few adds later, and every move gives the heap back a small block that
// the key copies' allocations then have to sort through.
uint32_t BuildCapacity(uint32_t count) {
  return count <= 2 * kRowTags ? 2 * kRowTags : (count + kRowTags - 1) & ~(kRowTags - 1);
}

// Gives the bucket room for `capacity` entries, keeping its entries; false when memory is
// exhausted (the bucket is unchanged then). Tags and addresses move apart, since the addresses
// begin after the last tag of the new capacity.
bool BucketReserve(MapBucketIndex& entry, uint32_t capacity) {
  void* block = MemoryAlloc(uint64_t{capacity} * (sizeof(uint16_t) + kAddressBytes));
  if (block == nullptr) {
    return false;
  }
  MapBucketIndex grown{block, entry.count, capacity};
  // A find compares whole rows of tags: the ones past the count must be initialised too.
  std::memset(internal::MapIndexTags(grown) + entry.count, 0,
              (capacity - entry.count) * sizeof(uint16_t));
  if (entry.block != nullptr) {
    std::memcpy(internal::MapIndexTags(grown), internal::MapIndexTags(entry),
                entry.count * sizeof(uint16_t));
    std::memcpy(internal::MapIndexElements(grown), internal::MapIndexElements(entry),
                entry.count * kAddressBytes);
    MemoryRelease(entry.block);
  }
  entry = grown;
  return true;
}

// Appends one entry (the new head of the chain); false when memory is exhausted.
bool BucketAppend(MapBucketIndex& entry, uint32_t hash, MapElement* element) {
  if (entry.count == entry.capacity && !BucketReserve(entry, GrownCapacity(entry.capacity))) {
    return false;
  }
  internal::MapIndexTagAt(entry, entry.count) = internal::MapIndexTag(hash);
  internal::MapIndexElement(entry, entry.count) = element;
  ++entry.count;
  return true;
}

void IndexFree(MapBucketIndex* index, uint32_t bucket_count) {
  for (uint32_t bucket = 0; bucket < bucket_count; ++bucket) {
    MemoryRelease(index[bucket].block);
  }
  MemoryRelease(index);
}

// Builds the index of every chain; false (and no index) when memory is exhausted.
bool IndexBuild(HashMap* map) {
  uint64_t bytes = 0;
  if (!MemorySizeFits(map->bucket_count, sizeof(MapBucketIndex), 0, &bytes)) {
    return false;
  }
  auto* index = static_cast<MapBucketIndex*>(MemoryAllocZeroed(bytes));
  if (index == nullptr) {
    return false;
  }
  for (uint32_t bucket = 0; bucket < map->bucket_count; ++bucket) {
    uint32_t length = 0;
    for (MapElement* element = map->buckets[bucket]; element != nullptr; element = element->next) {
      ++length;
    }
    if (length == 0) {
      continue;
    }
    MapBucketIndex& entry = index[bucket];
    if (!BucketReserve(entry, BuildCapacity(length))) {
      IndexFree(index, map->bucket_count);
      return false;
    }
    // The head goes last.
    entry.count = length;
    uint32_t at = length;
    for (MapElement* element = map->buckets[bucket]; element != nullptr; element = element->next) {
      --at;
      internal::MapIndexTagAt(entry, at) =
          internal::MapIndexTag(internal::MapElementHash(map, element));
      internal::MapIndexElement(entry, at) = element;
    }
  }
  map->index = index;
  return true;
}

}  // namespace

namespace internal {

uint32_t MapIntegerHash(int64_t key) {
  const auto bits = static_cast<uint64_t>(key);
  return static_cast<uint32_t>(bits) ^ static_cast<uint32_t>(bits >> 32);
}

void MapIndexLinked(HashMap* map, MapElement* element, uint32_t bucket, uint32_t hash) {
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
  if (!BucketAppend(map->index[bucket], hash, element)) {
    MapIndexDrop(map);
  }
}

void MapIndexUnlinked(HashMap* map, const MapElement* element, uint32_t bucket) {
  if (map->index == nullptr) {
    return;
  }
  MapBucketIndex& entry = map->index[bucket];
  uint16_t* tags = MapIndexTags(entry);
  MapElement** elements = MapIndexElements(entry);
  for (uint32_t at = entry.count; at > 0; --at) {
    if (elements[at - 1] == element) {
      const uint32_t after = entry.count - at;
      std::memmove(tags + at - 1, tags + at, after * sizeof(uint16_t));
      std::memmove(elements + at - 1, elements + at, after * kAddressBytes);
      if (--entry.count == 0) {
        MemoryRelease(entry.block);
        entry.block = nullptr;
        entry.capacity = 0;
      }
      return;
    }
  }
}

void MapIndexDrop(HashMap* map) {
  if (map->index != nullptr) {
    IndexFree(map->index, map->bucket_count);
    map->index = nullptr;
  }
}

}  // namespace internal
}  // namespace zn
