// The memory library: the allocation layer every runtime library builds on.
//
// Three families of blocks:
//   - plain blocks (`MemoryAlloc` ...): heap blocks without a header;
//   - `SizedBlock`s (`SizedAlloc` ...): an 8-byte usable-size header in front of the address handed
//     out; the general allocation of the runtime's libraries;
//   - program-level blocks (`MemoryBlockAllocate` ...): what a program's own requests go through.
// Every allocation returns null when the heap refuses, and a failed resize leaves the old block
// valid and unchanged. Sizes whose computation would overflow are refused the same way.
//
// The library also holds the one way out for exhausted memory and broken invariants that a
// caller cannot be told about (`FatalExit`), so that the terminal is given back first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zn {

// ---------------------------------------------------------------------------------------------
// Size arithmetic.

// MemorySizeFits: computes count * size + extra into *result and returns true when the result
// fits a heap request (below PTRDIFF_MAX); returns false and leaves *result alone otherwise.
// Every size computation of the runtime that can overflow goes through this check first.
bool MemorySizeFits(uint64_t count, uint64_t size, uint64_t extra, uint64_t* result);

// ---------------------------------------------------------------------------------------------
// Plain blocks.

// MemoryAlloc: a block of `size` bytes, not cleared; null when the heap refuses.
void* MemoryAlloc(uint64_t size);

// MemoryAllocZeroed: a block of `size` zero bytes; null when the heap refuses.
void* MemoryAllocZeroed(uint64_t size);

// MemoryResizeZeroed: resizes `block` to `new_size`; on success the bytes from `old_size` up to
// `new_size` are zero. On failure returns null and `block` stays valid and unchanged.
void* MemoryResizeZeroed(void* block, int64_t old_size, int64_t new_size);

// MemoryRelease: frees a plain block; null does nothing.
void MemoryRelease(void* block);

// ---------------------------------------------------------------------------------------------
// SizedBlock: [int64 usable size][usable bytes...]; callers hold the address after the header.

inline constexpr uint64_t kSizedHeaderBytes = 8;

// SizedAllocZeroed: `size` zero bytes behind a header holding `size`; null when refused.
void* SizedAllocZeroed(uint64_t size);

// SizedAlloc: as SizedAllocZeroed, but the usable bytes are left as the heap gave them.
void* SizedAlloc(uint64_t size);

// SizedResizeZeroed: resizes to `new_size`; bytes from the old size up to the new size are zero.
// Null in gives null out. On failure returns null and the old block is valid and unchanged.
void* SizedResizeZeroed(void* block, int64_t new_size);

// SizedResize: as SizedResizeZeroed without zeroing.
void* SizedResize(void* block, int64_t new_size);

// SizedFree: frees the whole block, header included; null does nothing.
void SizedFree(void* block);

// SizedSizeOf: the usable size recorded in the header of a non-null SizedBlock.
int64_t SizedSizeOf(const void* block);

// ---------------------------------------------------------------------------------------------
// Program-level blocks.

inline constexpr uint32_t kMemoryBlockNoClear = 1;

// MemoryBlockAllocate: a SizedBlock of `size` bytes, zeroed unless flag bit 0 is set.
// A size of 0 or less gives null.
void* MemoryBlockAllocate(int64_t size, uint32_t flags);

// MemoryBlockAllocateCleared: a zeroed SizedBlock of `size` bytes; 0 or less gives null.
void* MemoryBlockAllocateCleared(int64_t size);

// MemoryBlockFree: SizedFree.
void MemoryBlockFree(void* block);

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

using LayoutDescriptor = const int64_t*;

// LayoutWord: the word that names a nested descriptor inside another one.
inline int64_t LayoutWord(LayoutDescriptor layout) {
  return static_cast<int64_t>(reinterpret_cast<intptr_t>(layout));
}

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

// StructureInit: creates the containers that a fresh, zeroed structure holds.
void StructureInit(void* structure, LayoutDescriptor layout);

// StructureCopy: deep copy of `size` bytes from `source` into `destination` by the layout (byte
// copy without one); the destination's old strings and containers are freed, except one that is
// the source's own (left shared by a byte copy), which stays with the source. Same addresses:
// nothing.
void StructureCopy(void* destination, int64_t size, LayoutDescriptor layout, const void* source);

// StructureClear: frees what the structure's fields own and sets them to null; the structure's
// own memory stays.
void StructureClear(void* structure, LayoutDescriptor layout);

// ---------------------------------------------------------------------------------------------
// Arrays: elements with an ArrayHeader in front, in one SizedBlock. An array is passed around as
// the address of its elements; the header names the variable that holds it.

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
// of 0 or less, a size that overflows, or exhausted memory gives null with the variable null.
// A null variable gives null and allocates nothing: an array must be held to be freed.
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
// (after any re-creation) another element count, element size or element layout. A refused copy
// copies no element. An array copied onto itself gives 1 and stays as it is.
int32_t ArrayCopyInto(void* source, void* destination, int32_t recreate);

// ArrayCopy: ArrayCopyInto with re-creation.
int32_t ArrayCopy(void* source, void* destination);

// ArrayFree: clears the elements by the layout, sets the variable to null, frees the block.
void ArrayFree(void* elements);

// ArrayHooksRegister: stores the array operations in the ContainerHooks. Start-up step.
void ArrayHooksRegister();

// ---------------------------------------------------------------------------------------------
// Fatal exits.

// A routine that gives the user's terminal back; it must be async-signal-safe and harmless to
// call twice. The console registers one when it starts.
using FatalCleanup = void (*)();

// FatalCleanupSet: the routine FatalExit runs before it writes its line; null for none.
void FatalCleanupSet(FatalCleanup cleanup);

// FatalExit: runs the cleanup routine, writes "<program>: <message>" and a line end on standard
// error and ends the process with a non-zero status. For exhausted memory where no caller can be
// told, and for broken invariants that would otherwise corrupt memory.
[[noreturn]] void FatalExit(const char* message);

// ---------------------------------------------------------------------------------------------
// Test support: a failure switch and a live-block count for the blocks of this library.

// MemoryTestFailAfter: the next `successes` heap requests of this library succeed and every one
// after them fails, until called again; -1 (the default) turns the switch off.
void MemoryTestFailAfter(int64_t successes);

// MemoryLiveBlocks: plain and sized blocks allocated through this library and not yet freed.
int64_t MemoryLiveBlocks();

}  // namespace zn
