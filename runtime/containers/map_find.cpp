// Finding and adding map elements: hashing, bucket choice, key comparison and the add modes.
//
// Case-blind keys are lowered unit by unit with the same wide mapping that the case-blind string
// comparison uses, so that two keys the comparison calls equal always land in one bucket.
#include <cstring>
#include <cwctype>

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
constexpr uint32_t kHashFactor4 = kHashFactor2 * kHashFactor2;

// The hash of a key and, beside it, the bytes of its copy (units and terminator), in one pass. The
// units go four at a time: h * f^4 + u0 * f^3 + u1 * f^2 + u2 * f + u3 is four steps of h * f + u
// in wrapping 32-bit arithmetic, with one multiply on the chain that carries h instead of four.
// Each unit is read only once the one before it is known not to end the key. Case-blind keys
// lower every unit through the locale, which costs more than the chain, so they keep the plain
// recurrence.
[[gnu::always_inline]] inline uint32_t KeyHash(const char16_t* key, bool no_case, uint64_t* bytes) {
  uint32_t hash = 0;
  const char16_t* at = key;
  if (no_case) {
    for (; *at != 0; ++at) {
      hash = hash * kHashFactor + Lowered(*at);
    }
  } else {
    for (;; at += 4) {
      const uint32_t u0 = at[0];
      if (u0 == 0) {
        break;
      }
      const uint32_t u1 = at[1];
      if (u1 == 0) {
        hash = hash * kHashFactor + u0;
        at += 1;
        break;
      }
      const uint32_t u2 = at[2];
      if (u2 == 0) {
        hash = hash * kHashFactor2 + u0 * kHashFactor + u1;
        at += 2;
        break;
      }
      const uint32_t u3 = at[3];
      if (u3 == 0) {
        hash = hash * kHashFactor3 + u0 * kHashFactor2 + u1 * kHashFactor + u2;
        at += 3;
        break;
      }
      hash = hash * kHashFactor4 + u0 * kHashFactor3 + u1 * kHashFactor2 + u2 * kHashFactor + u3;
    }
  }
  *bytes = static_cast<uint64_t>(at - key + 1) * sizeof(char16_t);
  return hash;
}

// The bucket of a key hash. Bucket counts are often powers of two (the default is one), and for
// those the remainder is a mask: a division would sit on every find's path to its chain.
uint32_t PlainBucket(const HashMap* map, uint32_t hash) {
  const uint32_t count = map->bucket_count;
  return (count & (count - 1)) == 0 ? hash & (count - 1) : hash % count;
}
uint32_t HashBucket(const HashMap* map, uint32_t hash) {
  return internal::MapIsGrowing(map) ? internal::MapGrowingBucket(map, hash)
                                     : PlainBucket(map, hash);
}

// The size recorded in front of a key copy (the SizedBlock header), read here rather than through
// a call, since a chain walk reads it once per element.
uint64_t KeyCopyBytes(const char16_t* copy) {
  uint64_t size = 0;
  std::memcpy(&size, reinterpret_cast<const char*>(copy) - kSizedHeaderBytes, sizeof size);
  return size;
}

// The hash of a key copy (case kept), whose length its size gives: the recurrence of KeyHash,
// four units a step, without a test of each unit for the terminator.
uint32_t CopyHash(const char16_t* copy) {
  const uint64_t count = KeyCopyBytes(copy) / sizeof(char16_t) - 1;
  uint32_t hash = 0;
  uint64_t at = 0;
  for (; at + 4 <= count; at += 4) {
    hash = hash * kHashFactor4 + copy[at] * kHashFactor3 + copy[at + 1] * kHashFactor2 +
           copy[at + 2] * kHashFactor + copy[at + 3];
  }
  switch (count - at) {
    case 3:
      return hash * kHashFactor3 + copy[at] * kHashFactor2 + copy[at + 1] * kHashFactor +
             copy[at + 2];
    case 2:
      return hash * kHashFactor2 + copy[at] * kHashFactor + copy[at + 1];
    case 1:
      return hash * kHashFactor + copy[at];
    default:
      return hash;
  }
}

uint64_t Word(const char* at) {
  uint64_t word = 0;
  std::memcpy(&word, at, sizeof word);
  return word;
}
uint32_t HalfWord(const char* at) {
  uint32_t word = 0;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// The units of two keys of `bytes` bytes each (terminator included) are the same. The terminators
// sit at the same place and are not compared. The last eight bytes go first: keys that share a
// stem (names with a number at the end) differ there, so a chain of such keys is told apart by one
// compare per element instead of a walk through the stem. Eight bytes at a time, overlapping
// where the length is not a multiple of eight; keys under four units by halves and units.
[[gnu::always_inline]] inline bool KeyUnitsEqual(const char16_t* a, const char16_t* b,
                                                 uint64_t bytes) {
  const auto* left = reinterpret_cast<const char*>(a);
  const auto* right = reinterpret_cast<const char*>(b);
  const uint64_t end = bytes - sizeof(char16_t);
  if (end >= 8) {
    if (Word(left + end - 8) != Word(right + end - 8)) {
      return false;
    }
    if (end <= 16) {
      return Word(left) == Word(right);
    }
    for (uint64_t at = 0; at + 8 < end; at += 8) {
      if (Word(left + at) != Word(right + at)) {
        return false;
      }
    }
    return true;
  }
  if (end >= 4) {
    return ((HalfWord(left) ^ HalfWord(right)) |
            (HalfWord(left + end - 4) ^ HalfWord(right + end - 4))) == 0;
  }
  return end == 0 || a[0] == b[0];
}

// Equal as StringCompare (or StringCompareNoCase) says. Lowering keeps the unit count, so keys
// whose copies differ in size never match; the size sits in the copy's header and spares most
// mismatches a walk through the units (and keeps the compare inside the copy).
[[gnu::always_inline]] inline bool CopyMatches(bool no_case, const char16_t* copy,
                                               const char16_t* key, uint64_t bytes) {
  if (KeyCopyBytes(copy) != bytes) {
    return false;
  }
  return no_case ? StringCompareNoCase(copy, key) == 0 : KeyUnitsEqual(copy, key, bytes);
}
[[gnu::always_inline]] inline bool KeyMatches(bool no_case, const MapElement* element,
                                              const char16_t* key, uint64_t bytes) {
  return CopyMatches(no_case, element->key.text, key, bytes);
}

// A SizedBlock copy of the key with its terminator (`bytes` in all, as KeyHash found), or null
// when memory is exhausted.
char16_t* KeyCopy(const char16_t* key, uint64_t bytes) {
  auto* copy = static_cast<char16_t*>(SizedAlloc(bytes));
  if (copy == nullptr) {
    return nullptr;
  }
  // Most keys are short: two overlapping eight-byte moves copy 8 to 16 bytes without a call.
  if (bytes >= 8 && bytes <= 16) {
    auto* to = reinterpret_cast<char*>(copy);
    const auto* from = reinterpret_cast<const char*>(key);
    std::memcpy(to + bytes - 8, from + bytes - 8, 8);
    std::memcpy(to, from, 8);
  } else {
    std::memcpy(copy, key, bytes);
  }
  return copy;
}

[[gnu::always_inline]] inline void* Found(HashMap* map, MapElement* element, uint32_t bucket,
                                          MapElement* previous) {
  map->current = element;
  map->current_bucket = static_cast<int32_t>(bucket);
  // The element before the found one is in the same bucket; a delete that follows steps back to it.
  map->saved_bucket = static_cast<int32_t>(bucket);
  map->previous = previous;
  return internal::ElementValue(element);
}

// The search of one chain, through the index when the map has one. The previous element is
// recorded only when the key is found, so a failed find leaves the map's current position whole
// for a following delete. A find through the index never walks the chain: the element before the
// found one is looked up only if a delete comes to need it (MapPreviousResolve).
template <typename Matches>
[[gnu::always_inline]] inline void* MapFindIn(HashMap* map, uint32_t bucket, uint32_t hash,
                                              Matches matches) {
  if (map->index != nullptr) {
    MapElement* element = internal::MapIndexFind(
        *map->index, hash,
        [&matches](const MapIndexEntry& entry) { return matches(entry.Element()); });
    if (element == nullptr) {
      return nullptr;
    }
    return Found(map, element, bucket, internal::MapPreviousUnknown());
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

// A find of a string key whose hash and copy size are known. A growing map's elements carry their
// hash: most elements of a chain that are not the key are passed over without reading their key.
[[gnu::always_inline]] inline void* StringFind(HashMap* map, const char16_t* key, uint32_t hash,
                                               uint64_t bytes) {
  const bool no_case = NoCase(map);
  if (internal::MapIsGrowing(map)) {
    return MapFindIn(map, HashBucket(map, hash), hash,
                     [no_case, key, hash, bytes](const MapElement* element) {
                       return internal::MapLinksOf(element)->hash == hash &&
                              KeyMatches(no_case, element, key, bytes);
                     });
  }
  return MapFindIn(map, HashBucket(map, hash), hash,
                   [no_case, key, bytes](const MapElement* element) {
                     return KeyMatches(no_case, element, key, bytes);
                   });
}

// Where a map stands: what a find moves.
struct MapPosition {
  MapElement* current;
  MapElement* previous;
  int32_t current_bucket;
  int32_t saved_bucket;
};

MapPosition PositionOf(const HashMap* map) {
  return {map->current, map->previous, map->current_bucket, map->saved_bucket};
}

// Mode 1 on a key that is there (found, so made current): its value is cleared and initialised as
// if new. When its fresh containers cannot be made: null, with the value and the map's position
// as they were before the find.
void* ValueRenew(HashMap* map, void* value, const MapPosition& before) {
  if (map->layout == nullptr) {
    std::memset(value, 0, map->value_size);
    return value;
  }
  if (StructureRenew(value, static_cast<int64_t>(map->value_size), map->layout) != 0) {
    return value;
  }
  map->current = before.current;
  map->previous = before.previous;
  map->current_bucket = before.current_bucket;
  map->saved_bucket = before.saved_bucket;
  return nullptr;
}

// A new element's value, zeroed and initialised; false when its containers cannot be made.
bool ValueFresh(HashMap* map, MapElement* element) {
  void* value = internal::ElementValue(element);
  if (map->value_size == sizeof(uint64_t)) {  // the common one-word value, cleared without a call
    std::memset(value, 0, sizeof(uint64_t));
  } else {
    std::memset(value, 0, map->value_size);
  }
  return (map->flags & MapStructured) == 0 || StructureInit(value, map->layout) != 0;
}

// Finds of every other kind: integer keys (refused here), case-blind keys, growing maps, and maps
// still without an index. Apart from the common find, which is kept to a short run of
// instructions: finds of different keys do not wait for each other, and the fewer instructions
// each one takes, the more of them the processor overlaps while it waits for memory.
[[gnu::noinline]] void* MapFindOther(HashMap* map, const char16_t* key) {
  if (map == nullptr || IntegerKeys(map)) {
    return nullptr;
  }
  key = KeyOrEmpty(key);
  uint64_t bytes = 0;
  const uint32_t hash = KeyHash(key, NoCase(map), &bytes);
  return StringFind(map, key, hash, bytes);
}

}  // namespace

namespace internal {

uint32_t MapHash(const char16_t* key, bool no_case) {
  uint64_t bytes = 0;
  return KeyHash(KeyOrEmpty(key), no_case, &bytes);
}

uint32_t MapStringBucket(const HashMap* map, const char16_t* key) {
  return HashBucket(map, MapHash(key, NoCase(map)));
}

uint32_t MapIntegerBucket(const HashMap* map, int64_t key) {
  if (MapIsGrowing(map)) {
    return MapGrowingBucket(map, MapIntegerHash(key));
  }
  // The unsigned remainder: a negative key names a bucket like any other.
  const uint32_t count = map->bucket_count;
  const auto bits = static_cast<uint64_t>(key);
  return (count & (count - 1)) == 0 ? static_cast<uint32_t>(bits) & (count - 1)
                                    : static_cast<uint32_t>(bits % count);
}

uint32_t MapElementHash(const HashMap* map, const MapElement* element) {
  if (MapIsGrowing(map)) {
    return MapLinksOf(element)->hash;
  }
  if (IntegerKeys(map)) {
    return MapIntegerHash(element->key.number);
  }
  return NoCase(map) ? MapHash(element->key.text, true) : CopyHash(element->key.text);
}

void MapElementLink(HashMap* map, MapElement* element, uint32_t bucket, uint32_t hash,
                    bool new_key) {
  element->next = map->buckets[bucket];
  map->buckets[bucket] = element;
  map->current = element;
  map->current_bucket = static_cast<int32_t>(bucket);
  map->previous = nullptr;
  ++map->element_count;
  MapIndexLinked(map, element, hash, new_key);
  if (MapIsGrowing(map)) {
    MapOrderLinked(map, element, hash);
  }
}

}  // namespace internal

void* MapFind(HashMap* map, const char16_t* key) {
  if (map == nullptr || (map->flags & (MapIntegerKeys | MapKeyNoCase | MapGrowing)) != 0 ||
      map->index == nullptr) {
    return MapFindOther(map, key);
  }
  key = KeyOrEmpty(key);
  uint64_t bytes = 0;
  const uint32_t hash = KeyHash(key, false, &bytes);
  MapElement* element =
      internal::MapIndexFind(*map->index, hash, [key, bytes](const MapIndexEntry& entry) {
        return CopyMatches(false, entry.KeyText(), key, bytes);
      });
  if (element == nullptr) {
    return nullptr;
  }
  return Found(map, element, PlainBucket(map, hash), internal::MapPreviousUnknown());
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
    const MapPosition before = PositionOf(map);
    if (void* value = StringFind(map, key, hash, bytes)) {
      return ValueRenew(map, value, before);
    }
  }
  MapElement* element = internal::MapElementTake(map);
  if (element == nullptr) {
    return nullptr;
  }
  element->key.text = KeyCopy(key, bytes);
  if (element->key.text == nullptr) {
    internal::MapElementGive(map, element);
    return nullptr;
  }
  // The value is made before the element is linked, so that one that cannot be made leaves the
  // map untouched.
  if (!ValueFresh(map, element)) {
    SizedFree(element->key.text);
    internal::MapElementGive(map, element);
    return nullptr;
  }
  internal::MapElementLink(map, element, HashBucket(map, hash), hash, mode != 0);
  return internal::ElementValue(element);
}

void* MapAddInteger(HashMap* map, int64_t key, int32_t mode) {
  if (map == nullptr || !IntegerKeys(map)) {
    return nullptr;
  }
  if (mode != 0) {
    const MapPosition before = PositionOf(map);
    if (void* value = MapFindInteger(map, key)) {
      return ValueRenew(map, value, before);
    }
  }
  MapElement* element = internal::MapElementTake(map);
  if (element == nullptr) {
    return nullptr;
  }
  element->key.number = key;
  if (!ValueFresh(map, element)) {
    internal::MapElementGive(map, element);
    return nullptr;
  }
  internal::MapElementLink(map, element, internal::MapIntegerBucket(map, key),
                           internal::MapIntegerHash(key), mode != 0);
  return internal::ElementValue(element);
}

}  // namespace zn
