// Iterating over a map, deleting its current element, and deleting an element found by address.
//
// The iteration runs bucket by bucket, each chain from its head, and remembers the element it
// visited before the current one. Deleting the current element steps back to that element, so the
// next step goes on with the deleted element's successor: deleting while iterating visits every
// remaining element once. The map keeps one invariant for this: a current element always lies in
// the chain of the current bucket, and a previous element in the chain of the saved bucket. A
// delete by address keeps it too: the map never holds the address of an element that is gone. A
// find through the map's index leaves the previous element unknown rather than walk the chain for
// it; every delete looks it up first (MapPreviousResolve), so the rules see the element a walk
// would have recorded.
#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"

namespace zn {
namespace {

// The current element becomes the head of the first non-empty bucket from `bucket` on, or null.
void* ScanFrom(HashMap* map, uint32_t bucket) {
  for (; bucket < map->bucket_count; ++bucket) {
    if (map->buckets[bucket] != nullptr) {
      map->current = map->buckets[bucket];
      map->current_bucket = static_cast<int32_t>(bucket);
      return internal::ElementValue(map->current);
    }
  }
  map->current = nullptr;
  map->current_bucket = static_cast<int32_t>(map->bucket_count);
  return nullptr;
}

// Unlinks `element` from the chain of `bucket`. The recorded previous element is used when it
// really is the element's predecessor; otherwise (two deletes in a row, say) the chain is walked,
// so a delete never links through a stale element.
void ChainUnlink(HashMap* map, MapElement* element, uint32_t bucket) {
  MapElement** link = &map->buckets[bucket];
  if (*link != element) {
    MapElement* before = map->previous;
    if (before == nullptr || before->next != element) {
      before = *link;
      while (before != nullptr && before->next != element) {
        before = before->next;
      }
    }
    if (before == nullptr) {
      return;  // not in this chain: nothing to unlink
    }
    link = &before->next;
  }
  *link = element->next;
  internal::MapIndexUnlinked(map, element);
  internal::MapOrderUnlinked(map, element);
}

// The element visited before `element` in a MapNext walk, when `element` goes: its predecessor in
// its chain, else the last element of the nearest non-empty bucket before its own. With none, the
// walk is put before its start, where the next step begins again at the first element: nothing
// before it was visited.
void PreviousStepBack(HashMap* map, MapElement* before, uint32_t bucket) {
  map->previous = before;
  map->saved_bucket = static_cast<int32_t>(bucket);
  if (before != nullptr) {
    return;
  }
  for (uint32_t at = bucket; at-- > 0;) {
    if (MapElement* last = map->buckets[at]) {
      while (last->next != nullptr) {
        last = last->next;
      }
      map->previous = last;
      map->saved_bucket = static_cast<int32_t>(at);
      return;
    }
  }
  map->saved_bucket = -1;
}

}  // namespace

namespace internal {

uint32_t MapElementBucket(const HashMap* map, const MapElement* element) {
  if (MapIsGrowing(map)) {
    return MapGrowingBucket(map, MapLinksOf(element)->hash);
  }
  return (map->flags & MapIntegerKeys) != 0 ? MapIntegerBucket(map, element->key.number)
                                            : MapStringBucket(map, element->key.text);
}

void MapPreviousResolve(HashMap* map) {
  if (map->previous != MapPreviousUnknown()) {
    return;
  }
  MapElement* before = nullptr;
  MapElement* element = map->buckets[map->current_bucket];
  while (element != nullptr && element != map->current) {
    before = element;
    element = element->next;
  }
  map->previous = element != nullptr ? before : nullptr;
}

bool MapElementDelete(HashMap* map, MapElement* element) {
  MapPreviousResolve(map);
  if (element == map->current) {
    MapDeleteCurrent(map);
    return true;
  }
  const uint32_t bucket = MapElementBucket(map, element);
  MapElement* before = nullptr;
  MapElement** link = &map->buckets[bucket];
  while (*link != element) {
    if (*link == nullptr) {
      return false;
    }
    before = *link;
    link = &before->next;
  }
  *link = element->next;
  MapIndexUnlinked(map, element);
  MapOrderUnlinked(map, element);
  if (element == map->previous) {
    PreviousStepBack(map, before, bucket);
  }
  --map->element_count;
  MapElementRelease(map, element);
  return true;
}

}  // namespace internal

void MapReset(HashMap* map) {
  if (map == nullptr) {
    return;
  }
  map->current = nullptr;
  map->current_bucket = -1;
  map->previous = nullptr;
}

void* MapNext(HashMap* map) {
  if (map == nullptr) {
    return nullptr;
  }
  map->previous = map->current;
  map->saved_bucket = map->current_bucket;
  if (map->current != nullptr) {
    if (map->current->next != nullptr) {
      map->current = map->current->next;
      return internal::ElementValue(map->current);
    }
    return ScanFrom(map, static_cast<uint32_t>(map->current_bucket) + 1);
  }
  if (map->current_bucket == -1) {
    return ScanFrom(map, 0);
  }
  return nullptr;  // the iteration is over
}

void* MapDeleteCurrent(HashMap* map) {
  if (map == nullptr || map->current == nullptr) {
    return nullptr;
  }
  internal::MapPreviousResolve(map);
  MapElement* element = map->current;
  ChainUnlink(map, element, static_cast<uint32_t>(map->current_bucket));
  map->current = map->previous;
  map->current_bucket = map->saved_bucket;
  map->previous = nullptr;
  --map->element_count;
  internal::MapElementRelease(map, element);
  return map->current != nullptr ? internal::ElementValue(map->current) : nullptr;
}

}  // namespace zn
