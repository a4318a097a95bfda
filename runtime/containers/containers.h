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

// ThreadSlotCreate: a zeroed block of `size` bytes, run through `constructor` when given; null
// when memory is exhausted. The destructor is kept for ThreadSlotFree.
ThreadSlot ThreadSlotCreate(int32_t size, ThreadSlotRoutine constructor,
                            ThreadSlotRoutine destructor);

// ThreadSlotGet: the calling thread's data block.
void* ThreadSlotGet(ThreadSlot slot);

// ThreadSlotFree: runs the slot's destructor, if it has one, on the block and frees it (a
// library's end step); null does nothing. The slot is invalid afterwards.
void ThreadSlotFree(ThreadSlot slot);

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

// RegistryFree: frees the registry with every record and table it holds (a library's end step);
// null does nothing. It does not release the objects: RegistryReleaseAll does that first.
void RegistryFree(ObjectRegistry* registry);

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
// with one current element. Every operation returns the address of a value; a value stays at its
// address for its element's life (finds, adds and growth never move it), so the address is the
// handle of an element.
//
// Values lie 8-byte aligned. A value with strings or containers inside is described by a layout
// (structures.h), which the map uses to create, copy and free what a value owns; for example
//   struct Item { int64_t count; StringValue supplier; };
//   const int64_t kItemLayout[] = {offsetof(Item, supplier), kLayoutEnd};
//
// Two ways to walk a map. MapReset and MapNext move the map's own current element, which finds
// and adds move too: a MapFind inside such a walk makes the walk go on from the found element.
// A MapCursor is a walk of its own, which lookups, adds and deletes of other elements leave alone.

inline constexpr uint8_t MapKeyNoCase = 1;    // string keys hash and compare without case
inline constexpr uint8_t MapStructured = 2;   // values need StructureInit (set by MapCreate)
inline constexpr uint8_t MapIntegerKeys = 4;  // keys are 64-bit integers
inline constexpr uint8_t MapGrowing = 8;      // the bucket array doubles as elements are added

struct MapElement;

// MapCreate: frees the map *variable holds, then creates one and stores it in *variable. Null
// when memory is exhausted (the variable is then null).
//   value_size  bytes of one value.
//   type        a number kept with the map and handed back to structure copies that re-create
//               it; the map never reads it (0 when unused).
//   layout      the value's layout, or null for plain bytes.
//   variable    the caller's variable. The map keeps its address and MapFree sets it to null, so
//               the variable must not move while the map lives (a map held in a std::vector that
//               grows would have MapFree write into freed memory). Null makes a map that keeps no
//               variable's address: the caller holds the result wherever it likes, may move it,
//               and MapFree writes nothing.
//   buckets     without MapGrowing, the bucket count for the map's life (below 1 gives 1). With
//               MapGrowing, the first bucket count, rounded up to a power of two from 8 to 2^30;
//               the count doubles whenever the map passes two elements a bucket (a refused
//               doubling leaves the map working with longer chains, and is tried again later).
//   flags       MapKeyNoCase, MapIntegerKeys and MapGrowing.
HashMap* MapCreate(uint64_t value_size, int32_t type, LayoutDescriptor layout, HashMap** variable,
                   int32_t buckets, uint8_t flags = 0);

// MapFree: MapClear, then frees the map and sets its variable (if it has one) to null; null does
// nothing.
void MapFree(HashMap* map);

// MapAdd: mode 1 finds the key first and returns its value cleared (and initialised afresh); mode 0
// adds without looking. The element added or found becomes current. Null when memory is exhausted,
// for the element or for a container its value holds: the map unchanged, a found value and the
// current element included.
void* MapAdd(HashMap* map, const char16_t* key, int32_t mode);
void* MapAddInteger(HashMap* map, int64_t key, int32_t mode);

// MapFind: the value with this key, made current; null leaves the current element alone.
void* MapFind(HashMap* map, const char16_t* key);
void* MapFindInteger(HashMap* map, int64_t key);

// MapDeleteCurrent: deletes the current element; returns the value of the element that became
// current, or null. During a MapNext walk, MapNext goes on with the deleted element's successor.
void* MapDeleteCurrent(HashMap* map);

// MapClear: deletes every element.
void MapClear(HashMap* map);

// MapCopy: adds a copy of every source element to the destination (cleared first when asked);
// 1, or 0 when either map is null, the maps differ in value size, key kind or layout, or memory
// is exhausted. A copy that fails leaves the destination's elements as they were.
int32_t MapCopy(HashMap* source, HashMap* destination, int32_t clear_first);

// MapReset and MapNext: the walk of the map's current element. MapReset puts it before the first
// element; MapNext makes the next element current and returns its value, or null at the end.
// The order is bucket by bucket, each chain from its head, over the bucket count the map has at
// each step. What moves the current element also moves this walk: MapFind and MapFindInteger
// (when they find), MapAdd and MapAddInteger, MapDeleteCurrent. An add that makes a MapGrowing map
// double its buckets reorders the rest of the walk, so elements may be met twice or not at all:
// use a MapCursor to walk a map while adding to it or looking things up in it.
void MapReset(HashMap* map);
void* MapNext(HashMap* map);

// MapElementCount: the number of elements.
int32_t MapElementCount(const HashMap* map);

// MapCurrentKey: the string key of the current element, as the map stored it (the key first
// added, whatever case later finds used); the map owns it and it lives as long as the element.
// Null when there is no current element, for a null map and for a map with integer keys.
const char16_t* MapCurrentKey(const HashMap* map);

// MapCurrentIntegerKey: the integer key of the current element. -1 when there is no current
// element, for a null map and for a map with string keys.
int64_t MapCurrentIntegerKey(const HashMap* map);

// MapCursor: a walk of one map that the caller holds (copying it copies the walk's position).
// Its fields belong to the map library. While a walk lasts, finds, adds and deletes of elements
// other than the one the cursor holds leave it alone: every element present when the walk starts
// and not deleted during it is visited exactly once. The element the cursor holds (the one it
// stands on, or after MapCursorDelete the one it visits next) may be deleted only through
// MapCursorDelete. A walk ends at the last element or may be dropped at any time; it allocates
// nothing.
//
// Order: a MapGrowing map is walked newest element first (the reverse of the order the elements
// were added); elements added after the walk's first step are not visited, and growth does not
// change the order. Any other map is walked bucket by bucket, each chain from its head, as
// MapNext walks it; an element added during the walk may or may not be visited.
struct MapCursor {
  HashMap* map;
  MapElement* element;
  uint32_t bucket;
  int32_t state;
};

// MapCursorStart: a cursor before the first element of `map` (null gives a walk that is over).
MapCursor MapCursorStart(HashMap* map);

// MapCursorNext: steps to the next element and returns its value, or null at the end (and on
// every call after). Constant time per step (for a map without MapGrowing, plus the scan past
// empty buckets: the bucket count once per walk).
void* MapCursorNext(MapCursor* cursor);

// MapCursorKey and MapCursorIntegerKey: the key of the element the cursor stands on, as
// MapValueKey and MapValueIntegerKey give it; null (or -1) before the first step, after a delete,
// at the end and for the other kind of key.
const char16_t* MapCursorKey(const MapCursor* cursor);
int64_t MapCursorIntegerKey(const MapCursor* cursor);

// MapCursorDelete: deletes the element the cursor stands on; the next MapCursorNext returns the
// element that would have followed it. 1, or 0 when the cursor stands on no element (before the
// first step, right after a delete, at the end). Constant time expected in a MapGrowing map; in
// another map, a walk of the element's chain.
int32_t MapCursorDelete(MapCursor* cursor);

// MapValueKey: the string key of the element whose value is at `value`, an address this map
// handed out for an element that still exists; the map owns the key, which lives as long as the
// element. Null for a null map or value and for a map with integer keys. Constant time.
const char16_t* MapValueKey(const HashMap* map, const void* value);

// MapValueIntegerKey: the integer key of the element whose value is at `value`; -1 for a null map
// or value and for a map with string keys. Constant time.
int64_t MapValueIntegerKey(const HashMap* map, const void* value);

// MapDeleteValue: deletes the element whose value is at `value`, an address this map handed out
// for an element that still exists; 1, or 0 for a null map or value. When it is the current
// element, this is MapDeleteCurrent; when the MapNext walk stood on it just before, that walk
// still goes on with the element after the current one. A MapCursor standing elsewhere is not
// disturbed. Constant time expected in a MapGrowing map; in another map, the key's hash and a
// walk of its chain.
int32_t MapDeleteValue(HashMap* map, void* value);

// MapHooksRegister: stores MapCreate, MapCopy and MapFree in the ContainerHooks. Start-up step.
void MapHooksRegister();

// ---------------------------------------------------------------------------------------------
// The linked list: values of one fixed size in a doubly linked chain with one current element.
// A list lives in a ListHolder, whose `current` always holds the current element's address.
// Values lie 8-byte aligned and never move; a value's address is the handle of its element.

// ListHolder: the list and the address of its current element.
struct ListHolder {
  LinkedList* list;
  void* current;
};

struct ListElement;

// ListCreate: a new list in `holder`; an existing list in the holder is not freed.
//   value_size  bytes of one value.
//   holder      the caller's holder. The list keeps its address and writes the current element
//               there on every move, so the holder must not move while the list lives. Null
//               gives the list a holder of its own: the caller keeps the result wherever it
//               likes and may move it.
//   layout      the value's layout (see the hash map above), or null for plain bytes.
//   type        a number kept with the list and handed back to structure copies that re-create
//               it; the list never reads it (0 when unused).
// Null when memory is exhausted.
LinkedList* ListCreate(uint64_t value_size, ListHolder* holder, LayoutDescriptor layout,
                       int32_t type);

// ListAdd: a new zeroed value (initialised when its layout holds containers) behind the current
// element (at the front without one), made current; null when memory is exhausted, for the element
// or for a container its value holds: the list unchanged.
void* ListAdd(LinkedList* list);

// ListAppend: a new zeroed value at the end of the list, whatever element is current, made
// current; null when memory is exhausted, the list unchanged.
void* ListAppend(LinkedList* list);

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

// ListDeleteValue: removes the element whose value is at `value`, an address this list handed out
// for an element that still exists; 1, or 0 for a null list or value. When it was current, the
// element before it becomes current (none when it was the first), so that ListAdd puts a new
// element where it stood. Constant time.
int32_t ListDeleteValue(LinkedList* list, void* value);

// ListCursor: a walk of one list from the first element to the last that the caller holds, apart
// from the list's current element (ListSelect, ListAdd and ListAppend do not move it). Its fields
// belong to the list library. Adds and deletes of elements other than the one the cursor holds
// leave it alone: every element present when the walk starts and not deleted is visited exactly
// once, and while the cursor stands on an element, what is added behind it (as ListAppend adds)
// is visited too. The element the cursor holds (the one it stands on, or after ListCursorDelete
// the one it visits next; after the last one went, the walk is over) may be removed only through
// ListCursorDelete. A walk may be dropped at any time; it allocates nothing.
struct ListCursor {
  LinkedList* list;
  ListElement* element;
  int32_t state;
};

// ListCursorStart: a cursor before the first element (null gives a walk that is over).
ListCursor ListCursorStart(LinkedList* list);

// ListCursorNext: steps to the next element and returns its value, or null at the end (and on
// every call after). Constant time.
void* ListCursorNext(ListCursor* cursor);

// ListCursorDelete: removes the element the cursor stands on, as ListDeleteValue does; the next
// ListCursorNext returns the element that followed it. 1, or 0 when the cursor stands on no
// element. Constant time.
int32_t ListCursorDelete(ListCursor* cursor);

// ListHooksRegister: stores ListCreate, ListCopy and ListFree in the ContainerHooks. Start-up step.
void ListHooksRegister();

}  // namespace zn
