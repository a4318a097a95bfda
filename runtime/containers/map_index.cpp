// The chain index of a hash map: for each bucket, a compact array of each element's full 32-bit
// key hash and its address, kept in step with the chain.
//
// The bucket count never grows, so chains do: thousands of keys in 1,024 buckets give chains of
// tens to hundreds of elements, and walking one waits for memory twice per element (the element,
// then its key copy). The index lets a find scan the hashes of a bucket, four at a time, and touch
// only the elements whose hash matches. It changes how a chain is searched, never what a search
// finds: the chain stays the map's order, and the index holds the same elements in reverse chain
// order (the head last), so that linking at the head is an append and a scan from the end meets
// elements in chain order.
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

constexpr uint32_t kIndexLoad = 2;
constexpr uint32_t kGroupEntries = 4;

// Growth by an eighth (at least a group) keeps the unused room, and so the memory per element,
// small; the copies it costs are spread over the eighth of appends that follow. Capacities are
// whole groups.
uint32_t GrownCapacity(uint32_t capacity) {
  return (capacity + capacity / 8 + kGroupEntries) & ~(kGroupEntries - 1);
}

// Gives the bucket room for `capacity` entries, keeping its entries; false when memory is
// exhausted (the bucket is unchanged then).
bool BucketReserve(MapBucketIndex& entry, uint32_t capacity) {
  auto* groups = static_cast<MapIndexGroup*>(
      MemoryAlloc(uint64_t{capacity} / kGroupEntries * sizeof(MapIndexGroup)));
  if (groups == nullptr) {
    return false;
  }
  if (entry.groups != nullptr) {
    std::memcpy(groups, entry.groups,
                (entry.count + kGroupEntries - 1) / kGroupEntries * sizeof(MapIndexGroup));
    MemoryRelease(entry.groups);
  }
  entry.groups = groups;
  entry.capacity = capacity;
  return true;
}

// Appends one entry (the new head of the chain); false when memory is exhausted.
bool BucketAppend(MapBucketIndex& entry, uint32_t hash, MapElement* element) {
  if (entry.count == entry.capacity && !BucketReserve(entry, GrownCapacity(entry.capacity))) {
    return false;
  }
  internal::MapIndexHash(entry, entry.count) = hash;
  internal::MapIndexElement(entry, entry.count) = element;
  ++entry.count;
  return true;
}

void IndexFree(MapBucketIndex* index, uint32_t bucket_count) {
  for (uint32_t bucket = 0; bucket < bucket_count; ++bucket) {
    MemoryRelease(index[bucket].groups);
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
    if (!BucketReserve(entry, (length + kGroupEntries - 1) & ~(kGroupEntries - 1))) {
      IndexFree(index, map->bucket_count);
      return false;
    }
    // The head goes last.
    entry.count = length;
    uint32_t at = length;
    for (MapElement* element = map->buckets[bucket]; element != nullptr; element = element->next) {
      --at;
      internal::MapIndexHash(entry, at) = internal::MapElementHash(map, element);
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
  for (uint32_t at = entry.count; at > 0; --at) {
    if (MapIndexElement(entry, at - 1) == element) {
      for (uint32_t from = at; from < entry.count; ++from) {
        MapIndexHash(entry, from - 1) = MapIndexHash(entry, from);
        MapIndexElement(entry, from - 1) = MapIndexElement(entry, from);
      }
      if (--entry.count == 0) {
        MemoryRelease(entry.groups);
        entry.groups = nullptr;
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
