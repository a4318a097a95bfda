// Growing maps: the bucket array doubles as elements are added, and the elements stay linked in
// the order they were added, so that a cursor walk survives the doubling.
//
// A growing map has a power-of-two bucket count and takes a key's bucket from the top bits of its
// hash times an odd 64-bit constant. The string hash alone would not do under a mask: 65599 is
// -1 modulo 64, so the low six bits of a hash are an alternating sum of its units, and keys that
// differ in a few digits would crowd a few buckets. Doubling relinks every element oldest first,
// each at the head of its new chain, so that every chain stays newest first, as adding keeps it: of
// two elements with one key (mode 0), a find still meets the newer one first.
//
// Doubling is an accelerator: when the larger array cannot be had, the map goes on with its
// chains a little longer and tries again after another eighth of its elements.
#include <cstdint>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

constexpr uint32_t kFirstBuckets = 8;
constexpr uint32_t kMostBuckets = uint32_t{1} << 30;
constexpr int64_t kElementsPerBucket = 2;
constexpr int64_t kNever = INT64_MAX;

uint32_t PowerOfTwo(uint32_t count) {
  return static_cast<uint32_t>(__builtin_ctz(count));
}

// The element count past which a map of `buckets` buckets doubles; never past the largest array.
int64_t GrowAt(uint32_t buckets) {
  return buckets >= kMostBuckets ? kNever : int64_t{buckets} * kElementsPerBucket;
}

// A doubling moves the elements to other chains: the map's current and previous elements keep
// their places in a MapNext walk, and their buckets follow them.
void PositionFollow(HashMap* map) {
  if (map->current != nullptr) {
    map->current_bucket = static_cast<int32_t>(internal::MapElementBucket(map, map->current));
  }
  if (map->previous != nullptr) {
    map->saved_bucket = static_cast<int32_t>(internal::MapElementBucket(map, map->previous));
  }
}

void Double(HashMap* map) {
  MapGrowth& growth = internal::MapGrowthOf(map);
  const uint32_t count = map->bucket_count * 2;
  auto* buckets = static_cast<MapElement**>(SizedAllocZeroed(uint64_t{count} * sizeof(void*)));
  if (buckets == nullptr) {
    growth.grow_at = map->element_count + map->element_count / 8;
    return;
  }
  SizedFree(map->buckets);
  map->buckets = buckets;
  map->bucket_count = count;
  growth.shift = 64 - PowerOfTwo(count);
  growth.grow_at = GrowAt(count);
  for (MapElement* element = growth.oldest; element != nullptr;
       element = internal::MapLinksOf(element)->newer) {
    MapElement*& head =
        buckets[internal::MapGrowingBucket(map, internal::MapLinksOf(element)->hash)];
    element->next = head;
    head = element;
  }
  PositionFollow(map);
}

}  // namespace

namespace internal {

uint32_t MapGrowingBucketCount(int32_t buckets) {
  uint32_t count = kFirstBuckets;
  while (count < kMostBuckets && static_cast<int64_t>(count) < buckets) {
    count *= 2;
  }
  return count;
}

void MapGrowthStart(HashMap* map) {
  MapGrowth& growth = MapGrowthOf(map);
  growth.shift = 64 - PowerOfTwo(map->bucket_count);
  growth.grow_at = GrowAt(map->bucket_count);
}

void MapOrderLinked(HashMap* map, MapElement* element, uint32_t hash) {
  if (!MapIsGrowing(map)) {
    return;
  }
  MapGrowth& growth = MapGrowthOf(map);
  MapOrderLinks* links = MapLinksOf(element);
  links->hash = hash;
  links->newer = nullptr;
  links->older = growth.newest;
  if (growth.newest != nullptr) {
    MapLinksOf(growth.newest)->newer = element;
  } else {
    growth.oldest = element;
  }
  growth.newest = element;
  if (map->element_count > growth.grow_at) {
    Double(map);
  }
}

void MapOrderUnlinked(HashMap* map, MapElement* element) {
  if (!MapIsGrowing(map)) {
    return;
  }
  MapGrowth& growth = MapGrowthOf(map);
  MapOrderLinks* links = MapLinksOf(element);
  if (links->newer != nullptr) {
    MapLinksOf(links->newer)->older = links->older;
  } else {
    growth.newest = links->older;
  }
  if (links->older != nullptr) {
    MapLinksOf(links->older)->newer = links->newer;
  } else {
    growth.oldest = links->newer;
  }
}

void MapPositionRestore(HashMap* map, const HashMap& saved) {
  map->current = saved.current;
  map->current_bucket = saved.current_bucket;
  map->previous = saved.previous;
  map->saved_bucket = saved.saved_bucket;
  if (MapIsGrowing(map)) {
    PositionFollow(map);  // the map may have doubled since the position was saved
  }
}

}  // namespace internal
}  // namespace zn
