// Finding and adding map elements: hashing, bucket choice, key comparison and the add modes.
//
// Case-blind keys are lowered unit by unit with the same wide mapping that the case-blind string
// comparison uses, so that two keys the comparison calls equal always land in one bucket.
#include <cstring>
#include <cwctype>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
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

constexpr uint32_t kHashFactor = 65599;
constexpr uint32_t kHashFactor2 = kHashFactor * kHashFactor;
constexpr uint32_t kHashFactor3 = kHashFactor2 * kHashFactor;
constexpr uint32_t kHashFactor4 = kHashFactor3 * kHashFactor;

// The hash of a key and, beside it, the bytes of its copy (units and terminator). The length is
// found first, so that the units can then be taken four at a time: h * f^4 + u0 * f^3 + u1 * f^2
// + u2 * f + u3 is four steps of h * f + u in wrapping 32-bit arithmetic, with one multiply on
// the chain that carries h instead of four. Case-blind keys lower every unit through the locale,
// which costs more than the chain, so they keep the plain recurrence.
uint32_t KeyHash(const char16_t* key, bool no_case, uint64_t* bytes) {
  uint64_t units = 0;
  while (key[units] != 0) {
    ++units;
  }
  *bytes = (units + 1) * sizeof(char16_t);
  uint32_t hash = 0;
  uint64_t at = 0;
  if (no_case) {
    for (; at < units; ++at) {
      hash = hash * kHashFactor + Lowered(key[at]);
    }
    return hash;
  }
  for (; at + 4 <= units; at += 4) {
    hash = hash * kHashFactor4 + static_cast<uint32_t>(key[at]) * kHashFactor3 +
           static_cast<uint32_t>(key[at + 1]) * kHashFactor2 +
           static_cast<uint32_t>(key[at + 2]) * kHashFactor + static_cast<uint32_t>(key[at + 3]);
  }
  for (; at < units; ++at) {
    hash = hash * kHashFactor + static_cast<uint32_t>(key[at]);
  }
  return hash;
}

// The size recorded in front of a key copy (the SizedBlock header), read here rather than through
// a call, since a chain walk reads it once per element.
uint64_t KeyCopyBytes(const char16_t* copy) {
  uint64_t size = 0;
  std::memcpy(&size, reinterpret_cast<const char*>(copy) - kSizedHeaderBytes, sizeof size);
  return size;
}

// The units of two keys of `bytes` bytes each (terminator included) are the same: eight bytes at a
// time, then the rest. The terminators sit at the same place and are not compared.
bool KeyUnitsEqual(const char16_t* a, const char16_t* b, uint64_t bytes) {
  const auto* left = reinterpret_cast<const char*>(a);
  const auto* right = reinterpret_cast<const char*>(b);
  const uint64_t end = bytes - sizeof(char16_t);
  uint64_t at = 0;
  for (; at + 8 <= end; at += 8) {
    uint64_t x = 0;
    uint64_t y = 0;
    std::memcpy(&x, left + at, sizeof x);
    std::memcpy(&y, right + at, sizeof y);
    if (x != y) {
      return false;
    }
  }
  for (; at < end; at += sizeof(char16_t)) {
    if (a[at / 2] != b[at / 2]) {
      return false;
    }
  }
  return true;
}

// Equal as StringCompare (or StringCompareNoCase) says. Lowering keeps the unit count, so keys
// whose copies differ in size never match; the size sits in the copy's header and spares most
// mismatches a walk through the units. The first unit lies beside the size, so testing it too
// costs no further fetch, and both tests make one branch that only a likely match passes.
bool KeyMatches(bool no_case, const MapElement* element, const char16_t* key, uint64_t bytes) {
  const char16_t* copy = element->key.text;
  if (no_case) {
    return KeyCopyBytes(copy) == bytes && StringCompareNoCase(copy, key) == 0;
  }
  const bool candidate = (KeyCopyBytes(copy) == bytes) & (copy[0] == key[0]);
  return candidate && KeyUnitsEqual(copy, key, bytes);
}

// A SizedBlock copy of the key with its terminator (`bytes` in all, as KeyHash found), or null
// when memory is exhausted.
char16_t* KeyCopy(const char16_t* key, uint64_t bytes) {
  auto* copy = static_cast<char16_t*>(SizedAlloc(bytes));
  if (copy != nullptr) {
    std::memcpy(copy, key, bytes);
  }
  return copy;
}

void* Found(HashMap* map, MapElement* element, uint32_t bucket, MapElement* previous) {
  map->current = element;
  map->current_bucket = static_cast<int32_t>(bucket);
  // The element before the found one is in the same bucket; a delete that follows steps back to it.
  map->saved_bucket = static_cast<int32_t>(bucket);
  map->previous = previous;
  return internal::ElementValue(element);
}

// The lanes of a group whose hash is `hash`, as a bit mask.
uint32_t GroupLanes(const MapIndexGroup& group, uint32_t hash) {
#if defined(__SSE2__)
  const __m128i four = _mm_load_si128(reinterpret_cast<const __m128i*>(group.hashes));
  const __m128i equal = _mm_cmpeq_epi32(four, _mm_set1_epi32(static_cast<int32_t>(hash)));
  return static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(equal)));
#else
  uint32_t lanes = 0;
  for (uint32_t lane = 0; lane < 4; ++lane) {
    lanes |= static_cast<uint32_t>(group.hashes[lane] == hash) << lane;
  }
  return lanes;
#endif
}

// The position of the last entry of a bucket's index whose hash is `hash` and whose element
// `matches`, or -1. From the end, as the head of the chain is last; a group at a time.
template <typename Matches>
int64_t IndexScan(const MapBucketIndex& entry, uint32_t hash, Matches matches) {
  if (entry.count == 0) {
    return -1;
  }
  uint32_t group = (entry.count - 1) / 4;
  uint32_t valid = entry.count - group * 4;
  for (;;) {
    const MapIndexGroup& four = entry.groups[group];
    uint32_t lanes = GroupLanes(four, hash) & ((1u << valid) - 1);
    while (lanes != 0) {
      const auto lane = static_cast<uint32_t>(31 - __builtin_clz(lanes));
      if (matches(four.elements[lane])) {
        return group * 4 + lane;
      }
      lanes &= ~(1u << lane);
    }
    if (group == 0) {
      return -1;
    }
    --group;
    valid = 4;
  }
}

// The search of one chain, through its index when the map has one. The previous element is
// recorded only when the key is found, so a failed find leaves the map's current position whole
// for a following delete.
template <typename Matches>
void* MapFindIn(HashMap* map, uint32_t bucket, uint32_t hash, Matches matches) {
  if (map->index != nullptr) {
    const MapBucketIndex& entry = map->index[bucket];
    const int64_t at = IndexScan(entry, hash, matches);
    if (at < 0) {
      return nullptr;
    }
    // The chain's predecessor is the element nearer the head: the next entry.
    const auto next = static_cast<uint32_t>(at) + 1;
    return Found(map, internal::MapIndexElement(entry, static_cast<uint32_t>(at)), bucket,
                 next < entry.count ? internal::MapIndexElement(entry, next) : nullptr);
  }
  MapElement* previous = nullptr;
  for (MapElement* element = map->buckets[bucket]; element != nullptr; element = element->next) {
    // Every step would otherwise wait for memory twice, for the element and then for its key: the
    // next element is fetched while this one is compared.
    __builtin_prefetch(element->next);
    if (matches(element)) {
      return Found(map, element, bucket, previous);
    }
    previous = element;
  }
  return nullptr;
}

// A find of a string key whose hash and copy size are known.
void* StringFind(HashMap* map, const char16_t* key, uint32_t hash, uint64_t bytes) {
  const bool no_case = NoCase(map);
  return MapFindIn(map, hash % map->bucket_count, hash, [&](const MapElement* element) {
    return KeyMatches(no_case, element, key, bytes);
  });
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

uint32_t MapElementHash(const HashMap* map, const MapElement* element) {
  return IntegerKeys(map) ? MapIntegerHash(element->key.number)
                          : MapHash(element->key.text, NoCase(map));
}

void MapElementLink(HashMap* map, MapElement* element, uint32_t bucket, uint32_t hash) {
  element->next = map->buckets[bucket];
  map->buckets[bucket] = element;
  map->current = element;
  map->current_bucket = static_cast<int32_t>(bucket);
  map->previous = nullptr;
  ++map->element_count;
  MapIndexLinked(map, element, bucket, hash);
}

}  // namespace internal

void* MapFind(HashMap* map, const char16_t* key) {
  if (map == nullptr || IntegerKeys(map)) {
    return nullptr;
  }
  key = KeyOrEmpty(key);
  uint64_t bytes = 0;
  const uint32_t hash = KeyHash(key, NoCase(map), &bytes);
  return StringFind(map, key, hash, bytes);
}

void* MapFindInteger(HashMap* map, int64_t key) {
  if (map == nullptr || !IntegerKeys(map)) {
    return nullptr;
  }
  return MapFindIn(map, internal::MapIntegerBucket(map, key), internal::MapIntegerHash(key),
                   [&](const MapElement* element) { return element->key.number == key; });
}

void* MapAdd(HashMap* map, const char16_t* key, int32_t mode) {
  // A string key on an integer-keyed map would be stored as a number and never freed (or the
  // other way round, freed as a pointer): such calls are refused.
  if (map == nullptr || IntegerKeys(map)) {
    return nullptr;
  }
  key = KeyOrEmpty(key);
  uint64_t bytes = 0;
  const uint32_t hash = KeyHash(key, NoCase(map), &bytes);
  if (mode != 0) {
    if (void* value = StringFind(map, key, hash, bytes)) {
      return ValueRenew(map, value);
    }
  }
  auto* element = static_cast<MapElement*>(PoolTake(map->pool));
  if (element == nullptr) {
    return nullptr;
  }
  element->key.text = KeyCopy(key, bytes);
  if (element->key.text == nullptr) {
    PoolGive(map->pool, element);
    return nullptr;
  }
  internal::MapElementLink(map, element, hash % map->bucket_count, hash);
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
  internal::MapElementLink(map, element, internal::MapIntegerBucket(map, key),
                           internal::MapIntegerHash(key));
  return ValueFresh(map, element);
}

}  // namespace zn
