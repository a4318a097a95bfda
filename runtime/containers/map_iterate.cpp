// Iterating over a map and deleting its current element.
//
// The iteration runs bucket by bucket, each chain from its head, and remembers the element it
// visited before the current one. Deleting the current element steps back to that element, so the
// next step goes on with the deleted element's successor: deleting while iterating visits every
// remaining element once. The map keeps one invariant for this: a current element always lies in
// the chain of the current bucket, and a previous element in the chain of the saved bucket.
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
  internal::MapIndexUnlinked(map, element, bucket);
}

}  // namespace

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
