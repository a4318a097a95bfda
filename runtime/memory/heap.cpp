// The platform heap as the memory library sees it: every request of the library passes through
// here, so that the test failure switch and the live-block count cover all of them.
#include "runtime/memory/heap.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "runtime/memory/memory.h"

namespace zn {
namespace {

std::atomic<int64_t> fail_after{-1};
std::atomic<int64_t> live_blocks{0};

// True when the failure switch refuses this request. The switch counts down successes.
bool Refused() {
  int64_t left = fail_after.load(std::memory_order_relaxed);
  if (left < 0) return false;
  if (left == 0) return true;
  fail_after.store(left - 1, std::memory_order_relaxed);
  return false;
}

}  // namespace

namespace internal {

void* HeapAlloc(uint64_t size) {
  if (Refused()) return nullptr;
  // malloc(0) may give null; ask for at least one byte so that success is always an address.
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) live_blocks.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void* HeapResize(void* block, uint64_t size) {
  if (block == nullptr) return HeapAlloc(size);
  if (Refused()) return nullptr;
  return std::realloc(block, size == 0 ? 1 : size);
}

void HeapFree(void* block) {
  if (block == nullptr) return;
  live_blocks.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

}  // namespace internal

bool MemorySizeFits(uint64_t count, uint64_t size, uint64_t extra, uint64_t* result) {
  constexpr uint64_t kLimit = static_cast<uint64_t>(PTRDIFF_MAX);
  uint64_t product = 0;
  if (__builtin_mul_overflow(count, size, &product)) return false;
  uint64_t total = 0;
  if (__builtin_add_overflow(product, extra, &total)) return false;
  if (total > kLimit) return false;
  *result = total;
  return true;
}

void MemoryTestFailAfter(int64_t successes) {
  fail_after.store(successes < 0 ? -1 : successes, std::memory_order_relaxed);
}

int64_t MemoryLiveBlocks() {
  return live_blocks.load(std::memory_order_relaxed);
}

}  // namespace zn
