// The platform heap as the memory library sees it: every request of the runtime passes through
// here and on to the heap functions in place (malloc, realloc and free unless a program set its
// own), so that a replacement sees all of them.
#include "runtime/memory/heap.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "runtime/memory/memory.h"

namespace zn {
namespace {

// Blocks this large come from fresh pages of their own (the C library maps them), and touching
// each 4 KiB page for the first time costs a fault. Asking for transparent huge pages where the
// system offers them on request turns 512 of those faults into one.
constexpr size_t kHugePageBytes = size_t{2} << 20;
constexpr size_t kLargeBlockBytes = size_t{4} << 20;

void LargeBlockAdvise(void* block, size_t bytes) {
#if defined(MADV_HUGEPAGE)
  if (block == nullptr || bytes < kLargeBlockBytes) {
    return;
  }
  const auto start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t first = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  const uintptr_t end = (start + bytes) & ~(kHugePageBytes - 1);
  if (end > first) {
    // Advice only: a refusal leaves ordinary pages, which serve as well.
    madvise(static_cast<char*>(block) + (first - start), end - first, MADV_HUGEPAGE);
  }
#else
  (void)block;
  (void)bytes;
#endif
}

void* DefaultAlloc(size_t bytes) {
  void* block = std::malloc(bytes);
  LargeBlockAdvise(block, bytes);
  return block;
}
void* DefaultResize(void* block, size_t bytes) {
  void* resized = std::realloc(block, bytes);
  LargeBlockAdvise(resized, bytes);
  return resized;
}
void DefaultRelease(void* block) {
  std::free(block);
}

constexpr MemoryHeap kDefaultHeap{DefaultAlloc, DefaultResize, DefaultRelease};
MemoryHeap heap_functions = kDefaultHeap;

}  // namespace

namespace internal {

// A request of 0 bytes asks the heap for 1, so that success is always an address.
void* HeapAlloc(uint64_t size) {
  return heap_functions.alloc(size == 0 ? 1 : size);
}

void* HeapResize(void* block, uint64_t size) {
  if (block == nullptr) {
    return HeapAlloc(size);
  }
  return heap_functions.resize(block, size == 0 ? 1 : size);
}

void HeapFree(void* block) {
  if (block != nullptr) {
    heap_functions.release(block);
  }
}

}  // namespace internal

void MemoryHeapSet(const MemoryHeap* heap) {
  heap_functions = heap != nullptr ? *heap : kDefaultHeap;
}

bool MemorySizeFits(uint64_t count, uint64_t size, uint64_t extra, uint64_t* result) {
  constexpr uint64_t kLimit = static_cast<uint64_t>(PTRDIFF_MAX);
  uint64_t product = 0;
  if (__builtin_mul_overflow(count, size, &product)) {
    return false;
  }
  uint64_t total = 0;
  if (__builtin_add_overflow(product, extra, &total)) {
    return false;
  }
  if (total > kLimit) {
    return false;
  }
  *result = total;
  return true;
}

}  // namespace zn
