// The structure library (zn_structures): structure walks driven by layout descriptors, and
// arrays. It stands above the string library, since the walks copy and free string fields, while
// the allocation layer (memory.h) stands below it.
//
// Late-bound seam: the `ContainerHooks`. The walks create, copy and free lists and maps, which
// live in the container library one floor up; that library fills the list and map hooks at
// start-up (`ArrayHooksRegister` fills the array hooks), so this library never calls upward.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/memory/memory.h"

namespace zn {

// ---------------------------------------------------------------------------------------------
// Structured data: LayoutDescriptor walks and the ContainerHooks.
//
// A LayoutDescriptor is a run of signed 64-bit words, entries one after another, ended by -1.
// An entry's first word gives its kind; entries stand in ascending order of their field offsets.
//   offset >= 0                              a string field (8 bytes)
//   -2, count, offset, size, layout          fixed array of structures (count * size bytes)
//   -3, offset, size, layout                 nested structure (size bytes)
//   -4, offset, size, count, type, layout    dynamic array (8 bytes: the array variable)
//   -5, offset, size, layout, type           list (16 bytes: a ListHolder)
//   -6, offset, size, type, layout, buckets  map (8 bytes: the map variable)
//   -7, offset, n, size, type, layout, counts[n]   multi-dimensional array (8 + 8n bytes)
// Layout words that name a nested descriptor hold its address.

// LayoutDescriptor: the address of a descriptor's first word.
using LayoutDescriptor = const int64_t*;

// LayoutWord: the word that names a nested descriptor inside another one.
inline int64_t LayoutWord(LayoutDescriptor layout) {
  return static_cast<int64_t>(reinterpret_cast<intptr_t>(layout));
}

// The words that start each kind of descriptor entry, and the one that ends a descriptor.
inline constexpr int64_t kLayoutEnd = -1;
inline constexpr int64_t kLayoutStructArray = -2;
inline constexpr int64_t kLayoutStruct = -3;
inline constexpr int64_t kLayoutArray = -4;
inline constexpr int64_t kLayoutList = -5;
inline constexpr int64_t kLayoutMap = -6;
inline constexpr int64_t kLayoutArrayDims = -7;

struct LinkedList;
struct ListHolder;
struct HashMap;

// The ten operation pointers through which the walks reach arrays, lists and maps; null until
// their libraries register them at start-up.
struct ContainerHooks {
  void* (*ArrayCreateHook)(uint64_t element_size, int64_t count, int32_t type,
                           LayoutDescriptor layout, void* variable);
  void* (*ArrayCreateDimsHook)(int64_t dimensions, uint64_t element_size, int32_t type,
                               LayoutDescriptor layout, void* record);
  LinkedList* (*ListCreateHook)(uint64_t value_size, ListHolder* holder, LayoutDescriptor layout,
                                int32_t type);
  HashMap* (*MapCreateHook)(uint64_t value_size, int32_t type, LayoutDescriptor layout,
                            HashMap** variable, int32_t buckets);
  int32_t (*ArrayCopyHook)(void* source, void* destination, int32_t recreate);
  int32_t (*ListCopyHook)(LinkedList* source, int64_t source_tag, LinkedList* destination,
                          int64_t destination_tag, int32_t clear_first);
  int32_t (*MapCopyHook)(HashMap* source, HashMap* destination, int32_t clear_first);
  void (*ArrayFreeHook)(void* elements);
  void (*ListFreeHook)(LinkedList* list);
  void (*MapFreeHook)(HashMap* map);
};

// The process-wide hooks.
extern ContainerHooks Hooks;

// LayoutNeedsInit: 1 when StructureInit has a container to create for this layout, else 0
// (null gives 0).
int32_t LayoutNeedsInit(LayoutDescriptor layout);

// StructureInit: creates the containers that a fresh, zeroed structure holds; 1 on success. 0
// when a container cannot be made: what was made on the way is freed and the structure is zeroed
// as it came. A container the layout asks for with a count of 0 or less is no failure: its field
// stays null.
int32_t StructureInit(void* structure, LayoutDescriptor layout);

// StructureCopy: deep copy of `size` bytes from `source` into `destination` by the layout (byte
// copy without one); the destination's old strings and containers are freed, except one that is
// the source's own (left shared by a byte copy), which stays with the source. 1 on success, also
// for the same address twice (nothing to do). 0 when a string, container or element copy cannot
// be made: the copies made so far are freed and the destination is exactly as it was, its old
// strings and containers included.
int32_t StructureCopy(void* destination, int64_t size, LayoutDescriptor layout, const void* source);

// StructureRenew: what a fresh element gets: frees what the structure owns, zeroes its `size`
// bytes and initialises it by the layout. 1 on success; 0 when a container cannot be made, the
// structure exactly as it was.
int32_t StructureRenew(void* structure, int64_t size, LayoutDescriptor layout);

// StructureClear: frees what the structure's fields own and sets them to null; the structure's
// own memory stays.
void StructureClear(void* structure, LayoutDescriptor layout);

// ---------------------------------------------------------------------------------------------
// Arrays: elements with an ArrayHeader in front, in one SizedBlock. An array is passed around as
// the address of its elements; the header names the variable that holds it.

// ArrayHeader: what stands in front of an array's elements.
struct ArrayHeader {
  int32_t dimensions;
  int64_t element_size;
  LayoutDescriptor layout;
  void* variable;
  int64_t count;
  int32_t type;
};
static_assert(sizeof(ArrayHeader) == 48, "the array header is 48 bytes in front of the elements");

// ArrayHeaderOf: the header in front of non-null elements.
ArrayHeader* ArrayHeaderOf(void* elements);

// ArrayCreate: frees the array the variable holds, then creates `count` zeroed elements (each
// initialised by the layout when it needs it) and stores their address in the variable. A count
// of 0 or less, a size that overflows, or exhausted memory (for the block or for any container an
// element holds) gives null with the variable null and nothing of the new array left.
// A null variable gives null and allocates nothing: an array must be held to be freed.
//   type      a number kept in the header and handed to copies; the library never reads it (the
//             game's string array uses 8; 0 when unused).
//   variable  the caller's array variable. The header keeps its address and ArrayFree sets it to
//             null, so the variable must not move while the array lives (an array held in a
//             std::vector that grows would have ArrayFree write into freed memory).
void* ArrayCreate(uint64_t element_size, int64_t count, int32_t type, LayoutDescriptor layout,
                  void* variable);

// ArrayCreateDims: the record holds the element pointer and n slots that hold, on entry, the
// dimensions' counts; they become multipliers. Any count of 0 or less gives null and leaves the
// record's old array in place. A product of the counts too large to allocate fails as exhausted
// memory does: null, with the record's old array freed.
void* ArrayCreateDims(int64_t dimensions, uint64_t element_size, int32_t type,
                      LayoutDescriptor layout, void* record);

// ArrayCopyInto: copies the source's elements into the destination (re-created first when
// `recreate` is set); 1 on success, 0 on refusal: a null array, another dimension count, and
// (without re-creation) another element count, element size or element layout. A refused copy
// copies no element; a copy without re-creation still carries the multipliers of a
// multi-dimensional source into the destination's record first. 0 also when memory runs out, for
// the new array or for any string or container of an element: the destination, its variable and
// record are then exactly as they were. A re-created array is built in full before the old one is
// freed. An array copied onto itself gives 1 and stays as it is.
int32_t ArrayCopyInto(void* source, void* destination, int32_t recreate);

// ArrayCopy: ArrayCopyInto with re-creation.
int32_t ArrayCopy(void* source, void* destination);

// ArrayFree: clears the elements by the layout, sets the variable to null, frees the block.
void ArrayFree(void* elements);

// ArrayHooksRegister: stores the array operations in the ContainerHooks. Start-up step.
void ArrayHooksRegister();

}  // namespace zn
