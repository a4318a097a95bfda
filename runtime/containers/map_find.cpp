// Finding and adding map elements: hashing, bucket choice, key comparison and the add modes.
//
// Case-blind keys are lowered unit by unit with the same wide mapping that the case-blind string
// comparison uses, so that two keys the comparison calls equal always land in one bucket.
#include <cstring>
#include <cwctype>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

namespace zn {
namespace {

const char16_t* KeyOrEmpty(const char16_t* key) {
  return key == nullptr ? u"" : key;
}

bool NoCase(const HashMap* map) {
  return (map->flags & MapKeyNoCase) != 0;
}
bool IntegerKeys(const HashMap* map) {
  return (map->flags & MapIntegerKeys) != 0;
}

// The case-blind value of a unit, exactly as StringCompareNoCase lowers it.
uint32_t Lowered(char16_t unit) {
  return static_cast<uint32_t>(
      std::towlower(static_cast<wint_t>(static_cast<int32_t>(static_cast<int16_t>(unit)))));
}

// The hash of a key and, beside it, the bytes of its copy (units and terminator), in one pass.
uint32_t KeyHash(const char16_t* key, bool no_case, uint64_t* bytes) {
  uint32_t hash = 0;
  const char16_t* unit = key;
  for (; *unit != 0; ++unit) {
    hash = hash * 65599u + (no_case ? Lowered(*unit) : static_cast<uint32_t>(*unit));
  }
  *bytes = static_cast<uint64_t>(unit - key + 1) * sizeof(char16_t);
  return hash;
}

// Equal as StringCompare (or StringCompareNoCase) says. Lowering keeps the unit count, so keys
// whose copies differ in size never match; the size sits in the copy's header and spares most
// mismatches a walk through the units.
bool KeyMatches(const HashMap* map, const MapElement* element, const char16_t* key,
                uint64_t bytes) {
  if (static_cast<uint64_t>(SizedSizeOf(element->key.text)) != bytes) {
    return false;
  }
  if (NoCase(map)) {
    return StringCompareNoCase(element->key.text, key) == 0;
  }
  return std::memcmp(element->key.text, key, bytes) == 0;
}

// A SizedBlock copy of the key with its terminator, or null when memory is exhausted.
char16_t* KeyCopy(const char16_t* key) {
  const auto units = static_cast<uint64_t>(StringCountUnits(key));
  uint64_t bytes = 0;
  if (!MemorySizeFits(units + 1, sizeof(char16_t), 0, &bytes)) {
    return nullptr;
  }
  auto* copy = static_cast<char16_t*>(SizedAlloc(bytes));
  if (copy != nullptr) {
    std::memcpy(copy, key, bytes);
  }
  return copy;
}

// The walk of one chain. The previous element is recorded only when the key is found, so a
// failed find leaves the map's current position whole for a following delete.
template <typename Matches>
void* MapFindIn(HashMap* map, uint32_t bucket, Matches matches) {
  MapElement* previous = nullptr;
  for (MapElement* element = map->buckets[bucket]; element != nullptr; element = element->next) {
    if (matches(element)) {
      map->current = element;
      map->current_bucket = static_cast<int32_t>(bucket);
      // The element before the found one is in the same bucket; a delete that follows steps
      // back to it.
      map->saved_bucket = static_cast<int32_t>(bucket);
      map->previous = previous;
      return internal::ElementValue(element);
    }
    previous = element;
  }
  return nullptr;
}

// Mode 1 on a key that is there: its value is cleared and initialised as if new.
void* ValueRenew(HashMap* map, void* value) {
  if (map->layout != nullptr) {
    StructureClear(value, map->layout);
  }
  std::memset(value, 0, map->value_size);
  if ((map->flags & MapStructured) != 0) {
    StructureInit(value, map->layout);
  }
  return value;
}

void* ValueFresh(HashMap* map, MapElement* element) {
  void* value = internal::ElementValue(element);
  std::memset(value, 0, map->value_size);
  if ((map->flags & MapStructured) != 0) {
    StructureInit(value, map->layout);
  }
  return value;
}

}  // namespace

namespace internal {

uint32_t MapHash(const char16_t* key, bool no_case) {
  uint64_t bytes = 0;
  return KeyHash(KeyOrEmpty(key), no_case, &bytes);
}

uint32_t MapStringBucket(const HashMap* map, const char16_t* key) {
  return MapHash(key, NoCase(map)) % map->bucket_count;
}

uint32_t MapIntegerBucket(const HashMap* map, int64_t key) {
  // The unsigned remainder: a negative key names a bucket like any other.
  return static_cast<uint32_t>(static_cast<uint64_t>(key) % map->bucket_count);
}

void MapElementLink(HashMap* map, MapElement* element, uint32_t bucket) {
  element->next = map->buckets[bucket];
  map->buckets[bucket] = element;
  map->current = element;
  map->current_bucket = static_cast<int32_t>(bucket);
  map->previous = nullptr;
  ++map->element_count;
}

}  // namespace internal

void* MapFind(HashMap* map, const char16_t* key) {
  if (map == nullptr || IntegerKeys(map)) {
    return nullptr;
  }
  key = KeyOrEmpty(key);
  uint64_t bytes = 0;
  const uint32_t bucket = KeyHash(key, NoCase(map), &bytes) % map->bucket_count;
  return MapFindIn(map, bucket,
                   [&](const MapElement* element) { return KeyMatches(map, element, key, bytes); });
}

void* MapFindInteger(HashMap* map, int64_t key) {
  if (map == nullptr || !IntegerKeys(map)) {
    return nullptr;
  }
  return MapFindIn(map, internal::MapIntegerBucket(map, key),
                   [&](const MapElement* element) { return element->key.number == key; });
}

void* MapAdd(HashMap* map, const char16_t* key, int32_t mode) {
  // A string key on an integer-keyed map would be stored as a number and never freed (or the
  // other way round, freed as a pointer): such calls are refused.
  if (map == nullptr || IntegerKeys(map)) {
    return nullptr;
  }
  key = KeyOrEmpty(key);
  if (mode != 0) {
    if (void* value = MapFind(map, key)) {
      return ValueRenew(map, value);
    }
  }
  auto* element = static_cast<MapElement*>(PoolTake(map->pool));
  if (element == nullptr) {
    return nullptr;
  }
  element->key.text = KeyCopy(key);
  if (element->key.text == nullptr) {
    PoolGive(map->pool, element);
    return nullptr;
  }
  internal::MapElementLink(map, element, internal::MapStringBucket(map, key));
  return ValueFresh(map, element);
}

void* MapAddInteger(HashMap* map, int64_t key, int32_t mode) {
  if (map == nullptr || !IntegerKeys(map)) {
    return nullptr;
  }
  if (mode != 0) {
    if (void* value = MapFindInteger(map, key)) {
      return ValueRenew(map, value);
    }
  }
  auto* element = static_cast<MapElement*>(PoolTake(map->pool));
  if (element == nullptr) {
    return nullptr;
  }
  element->key.number = key;
  internal::MapElementLink(map, element, internal::MapIntegerBucket(map, key));
  return ValueFresh(map, element);
}

}  // namespace zn
