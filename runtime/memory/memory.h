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
//
// Late-bound seams: the heap functions (`MemoryHeapSet`), which every block of the runtime's
// libraries and every string goes through, so that a program may put its own allocator (a
// counting or failing one, for instance) under the whole runtime; and the fatal-exit clean-up
// (`FatalCleanupSet`), which the console fills so that the terminal is given back first.
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
// The heap functions.

// MemoryHeap: the three calls every heap request of the runtime ends in, with the contracts of
// malloc, realloc and free. The runtime never passes a size of 0 or a null block to `resize`.
struct MemoryHeap {
  void* (*alloc)(size_t bytes);
  void* (*resize)(void* block, size_t bytes);
  void (*release)(void* block);
};

// MemoryHeapSet: routes every later heap request of the runtime through `heap` (copied); null
// goes back to malloc, realloc and free. Call it before the runtime allocates anything, or make
// the new functions accept blocks of the old ones: blocks are freed through whatever table is in
// place when they are freed. Not synchronised: call it while no other thread uses the runtime.
void MemoryHeapSet(const MemoryHeap* heap);

// ---------------------------------------------------------------------------------------------
// Plain blocks.

// MemoryAlloc: a block of `size` bytes, not cleared; null when the heap refuses.
void* MemoryAlloc(uint64_t size);

// MemoryAllocZeroed: a block of `size` zero bytes; null when the heap refuses.
void* MemoryAllocZeroed(uint64_t size);

// MemoryResize: resizes `block` (null: allocates) to `new_size` bytes, new bytes left as the heap
// gave them. On failure returns null and `block` stays valid and unchanged.
void* MemoryResize(void* block, uint64_t new_size);

// MemoryResizeZeroed: resizes `block` to `new_size`; on success the bytes from `old_size` up to
// `new_size` are zero. On failure returns null and `block` stays valid and unchanged.
void* MemoryResizeZeroed(void* block, int64_t old_size, int64_t new_size);

// MemoryRelease: frees a plain block; null does nothing.
void MemoryRelease(void* block);

// ---------------------------------------------------------------------------------------------
// SizedBlock: [int64 usable size][usable bytes...]; callers hold the address after the header.

// The bytes of the size header in front of a SizedBlock.
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

// Flag of the program-level allocation: the new bytes are left as the heap gives them.
inline constexpr uint32_t kMemoryBlockNoClear = 1;

// MemoryBlockAllocate: a SizedBlock of `size` bytes, zeroed unless flag bit 0 is set.
// A size of 0 or less gives null.
void* MemoryBlockAllocate(int64_t size, uint32_t flags);

// MemoryBlockAllocateCleared: a zeroed SizedBlock of `size` bytes; 0 or less gives null.
void* MemoryBlockAllocateCleared(int64_t size);

// MemoryBlockFree: SizedFree.
void MemoryBlockFree(void* block);

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

}  // namespace zn
