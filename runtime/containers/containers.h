// The containers library: fixed-size block pools, per-thread library data, the numbered-object
// registry, the hash map and the linked list.
//
// All memory comes from the memory library's SizedBlocks. Exhausted memory is reported by null
// (or 0) results and leaves the container as it was. Nothing here prints.
//
// Late-bound seams. It fills the list and map entries of the `ContainerHooks` (structures.h)
// through `ListHooksRegister` and `MapHooksRegister`, start steps, so that structure walks reach
// lists and maps without calling upward. It calls the registries' free callbacks
// (`ObjectFreeCallback`, given to `RegistryCreate` by the libraries one floor up that keep
// numbered objects): when an id in use is allocated again and when everything is released. A free
// callback may free, look up or iterate its own registry.
#pragma once

#include <cstdint>

#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"

namespace zn {

// ---------------------------------------------------------------------------------------------
// Block pools.

struct BlockPool;

inline constexpr uint32_t PoolThreadSafe = 1;  // the pool gets its own recursive mutex ...
inline constexpr uint32_t PoolNoLock = 2;      // ... unless this is also set
inline constexpr uint32_t PoolShared = 4;      // one pool per block size and flags value

// PoolCreate: a pool of blocks of `payload` bytes (rounded up to 8, plus an 8-byte header word),
// growing by chunks of `minimum` to `maximum` blocks; null when memory is exhausted.
BlockPool* PoolCreate(uint64_t payload, int32_t minimum, int32_t maximum, uint32_t flags);

// PoolDestroy: drops the caller's use; a private pool, or a shared one whose last user leaves,
// is freed with all its chunks.
void PoolDestroy(BlockPool* pool);

// PoolReset: returns every chunk to the heap; the pool stays usable and every block handed out
// before is invalid.
void PoolReset(BlockPool* pool);

// PoolTake: a block's payload address, holding what its last user left; null when exhausted.
void* PoolTake(BlockPool* pool);

// PoolTakeZeroed: PoolTake with the whole payload zeroed.
void* PoolTakeZeroed(BlockPool* pool);

// PoolGive: returns a block that PoolTake of this pool handed out.
void PoolGive(BlockPool* pool, void* payload);

// ---------------------------------------------------------------------------------------------
// Per-thread library data. One block serves every thread.

// The handle of a library's per-thread block, and the routine that makes or frees one.
using ThreadSlot = void*;
using ThreadSlotRoutine = void (*)(void* block);

// ThreadSlotCreate: a zeroed block of `size` bytes, run through `constructor` when given; the
// destructor is accepted and not called (the block lives until the process ends).
ThreadSlot ThreadSlotCreate(int32_t size, ThreadSlotRoutine constructor,
                            ThreadSlotRoutine destructor);

// ThreadSlotGet: the calling thread's data block.
void* ThreadSlotGet(ThreadSlot slot);

// ---------------------------------------------------------------------------------------------
// The numbered-object registry. Ids are the program's numbers 0, 1, 2 ... or, for objects created
// with AnyId, the address of their free-standing record. An object is live while the first
// 64-bit field of its record is not zero.

struct ObjectRegistry;

// AnyId: asks for a free-standing object, whose record address becomes its id.
inline constexpr int64_t AnyId = -1;

// The id that asks a free callback to release every object.
inline constexpr int64_t RegistryAllObjects = -1;

// ObjectFreeCallback: releases the object with this id if it is live; -1 releases all of them.
using ObjectFreeCallback = void (*)(int64_t id);

// RegistryCreate: a registry of records of `object_size` bytes with `increment` slots.
ObjectRegistry* RegistryCreate(int32_t object_size, int32_t increment,
                               ObjectFreeCallback free_callback);

// RegistryCreateOnce: creates the registry into *variable unless it holds one; thread-safe.
void RegistryCreateOnce(ObjectRegistry** variable, int32_t object_size, int32_t increment,
                        ObjectFreeCallback free_callback);

// RegistryAllocate: the record for `id`, ready to fill; for AnyId a new free-standing record
// whose address is the id. An id in use is first freed through the callback and its record is
// reused. Null when memory is exhausted.
void* RegistryAllocate(ObjectRegistry* registry, int64_t id);

// RegistryLookup: the live record with this id, or null. Constant time; an id that names no live
// object of this registry gives null without reading memory at that address.
void* RegistryLookup(ObjectRegistry* registry, int64_t id);

// RegistryVerify: as RegistryLookup, checking a free-standing id against the registry's list.
void* RegistryVerify(ObjectRegistry* registry, int64_t id);

// RegistryRelease: zero-fills a numbered record (which stays for reuse) or frees a free-standing
// one. The library has released the object's own resources before.
void RegistryRelease(ObjectRegistry* registry, int64_t id);

// RegistryReleaseAll: calls the free callback once for every live object.
void RegistryReleaseAll(ObjectRegistry* registry);

// RegistryFreeLookup: the opening every free callback shares. For RegistryAllObjects it releases
// every object with `free_all` (RegistryReleaseAll, unless the library needs a walk of its own)
// and gives null; otherwise it gives the live record with this id. Null also for a null registry
// (nothing created yet) and for an id that names no live object: the callback then does nothing.
void* RegistryFreeLookup(ObjectRegistry* registry, int64_t id,
                         void (*free_all)(ObjectRegistry* registry) = RegistryReleaseAll);

// RegistryFirst, RegistryNext, RegistryDone: iteration, numbered objects by ascending id,
// then free-standing ones oldest first.
void RegistryFirst(ObjectRegistry* registry);
void* RegistryNext(ObjectRegistry* registry, int64_t* id);
void RegistryDone(ObjectRegistry* registry);

// ---------------------------------------------------------------------------------------------
// The hash map: values of one fixed size found by UTF-16 string keys or 64-bit integer keys,
// with one current element. Every operation returns the address of a value.

inline constexpr uint8_t MapKeyNoCase = 1;    // string keys hash and compare without case
inline constexpr uint8_t MapStructured = 2;   // values need StructureInit (set by MapCreate)
inline constexpr uint8_t MapIntegerKeys = 4;  // keys are 64-bit integers

// MapCreate: frees the map *variable holds, then creates one with max(buckets, 1) buckets and
// stores it in *variable; `flags` may ask for MapKeyNoCase and MapIntegerKeys. Null when memory is
// exhausted (the variable is then null).
HashMap* MapCreate(uint64_t value_size, int32_t type, LayoutDescriptor layout, HashMap** variable,
                   int32_t buckets, uint8_t flags = 0);

// MapFree: MapClear, then frees the map and sets its variable to null; null does nothing.
void MapFree(HashMap* map);

// MapAdd: mode 1 finds the key first and returns its value cleared (and initialised afresh); mode 0
// adds without looking. Null when memory is exhausted, for the element or for a container its value
// holds: the map unchanged, a found value and the current element included.
void* MapAdd(HashMap* map, const char16_t* key, int32_t mode);
void* MapAddInteger(HashMap* map, int64_t key, int32_t mode);

// MapFind: the value with this key, made current; null leaves the current element alone.
void* MapFind(HashMap* map, const char16_t* key);
void* MapFindInteger(HashMap* map, int64_t key);

// MapDeleteCurrent: deletes the current element; returns the value of the element that became
// current, or null. During an iteration MapNext goes on with the deleted element's successor.
void* MapDeleteCurrent(HashMap* map);

// MapClear: deletes every element.
void MapClear(HashMap* map);

// MapCopy: adds a copy of every source element to the destination (cleared first when asked);
// 1, or 0 when either map is null, the maps differ in value size, key kind or layout, or memory
// is exhausted. A copy that fails leaves the destination as it was.
int32_t MapCopy(HashMap* source, HashMap* destination, int32_t clear_first);

// MapReset and MapNext: iteration, bucket by bucket, each chain from its head.
void MapReset(HashMap* map);
void* MapNext(HashMap* map);

// MapElementCount: the number of elements.
int32_t MapElementCount(const HashMap* map);

// MapCurrentKey: the string key of the current element, as the map stored it (the key first
// added, whatever case later finds used); the map owns it and it lives as long as the element.
// Null when there is no current element, for a null map and for a map with integer keys.
const char16_t* MapCurrentKey(const HashMap* map);

// MapCurrentIntegerKey: the integer key of the current element. -1 (a key outside the map's keys,
// which are 0 or positive) when there is no current element, for a null map and for a map with
// string keys.
int64_t MapCurrentIntegerKey(const HashMap* map);

// MapHooksRegister: stores MapCreate, MapCopy and MapFree in the ContainerHooks. Start-up step.
void MapHooksRegister();

// ---------------------------------------------------------------------------------------------
// The linked list: values of one fixed size in a doubly linked chain with one current element.
// A list lives in a ListHolder, whose `current` always holds the current element's address.

// ListHolder: the list and the address of its current element.
struct ListHolder {
  LinkedList* list;
  void* current;
};

// ListCreate: a new list in `holder` (or in a holder of its own when null); an existing list in
// the holder is not freed.
LinkedList* ListCreate(uint64_t value_size, ListHolder* holder, LayoutDescriptor layout,
                       int32_t type);

// ListAdd: a new zeroed value (initialised when its layout holds containers) behind the current
// element (at the front without one), made current; null when memory is exhausted, for the element
// or for a container its value holds: the list unchanged.
void* ListAdd(LinkedList* list);

// ListClear: removes every element.
void ListClear(LinkedList* list);

// ListCopy: appends copies of the source's elements behind the destination's current element
// (cleared first when asked), the last copy current; 1, or 0 when the tags differ, either list is
// null, the lists differ in value size or layout, or memory is exhausted. A copy that fails leaves
// the destination as it was.
int32_t ListCopy(LinkedList* source, int64_t source_tag, LinkedList* destination,
                 int64_t destination_tag, int32_t clear_first);

// ListCopyCleared: the program-level copy; ListCopy that always clears first.
int32_t ListCopyCleared(LinkedList* source, int64_t source_tag, LinkedList* destination,
                        int64_t destination_tag);

// ListFree: frees the list and empties its holder; null does nothing.
void ListFree(LinkedList* list);

// ListSelect: makes element `index` current and returns its value; null (no current element) when
// out of range.
void* ListSelect(LinkedList* list, int64_t index);

// ListCount: the number of elements.
int64_t ListCount(const LinkedList* list);

// ListHooksRegister: stores ListCreate, ListCopy and ListFree in the ContainerHooks. Start-up step.
void ListHooksRegister();

}  // namespace zn
