// The checking heap. See the header.
#include "tests/support/checking_heap.h"

#include <atomic>
#include <cstdlib>

#include "runtime/memory/memory.h"

namespace zn::test {
namespace {

constexpr int64_t kNever = INT64_MAX;

std::atomic<int64_t> requests{0};
std::atomic<int64_t> live_blocks{0};
std::atomic<int64_t> refusals{0};
// The number of the request that fails first, and whether the ones after it fail too.
std::atomic<int64_t> fail_at{kNever};
std::atomic<bool> fail_later{false};

// True when the switch refuses the request being made now.
bool Refused() {
  const int64_t number = requests.fetch_add(1, std::memory_order_relaxed);
  const int64_t first = fail_at.load(std::memory_order_relaxed);
  const bool refused =
      number == first || (number > first && fail_later.load(std::memory_order_relaxed));
  if (refused) {
    refusals.fetch_add(1, std::memory_order_relaxed);
  }
  return refused;
}

void* CheckingAlloc(size_t bytes) {
  if (Refused()) {
    return nullptr;
  }
  void* block = std::malloc(bytes);
  if (block != nullptr) {
    live_blocks.fetch_add(1, std::memory_order_relaxed);
  }
  return block;
}

void* CheckingResize(void* block, size_t bytes) {
  if (Refused()) {
    return nullptr;
  }
  return std::realloc(block, bytes);
}

void CheckingRelease(void* block) {
  live_blocks.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

constexpr MemoryHeap kCheckingHeap{CheckingAlloc, CheckingResize, CheckingRelease};

}  // namespace

void CheckingHeapInstall() {
  MemoryHeapSet(&kCheckingHeap);
}

void HeapFailAfter(int64_t successes, HeapFailure mode) {
  if (successes < 0) {
    HeapFailNever();
    return;
  }
  fail_later.store(mode == HeapFailure::kFromThenOn, std::memory_order_relaxed);
  refusals.store(0, std::memory_order_relaxed);
  fail_at.store(requests.load(std::memory_order_relaxed) + successes, std::memory_order_relaxed);
}

void HeapFailNever() {
  fail_at.store(kNever, std::memory_order_relaxed);
}

int64_t HeapRefusals() {
  return refusals.load(std::memory_order_relaxed);
}

void HeapRefusalsClear() {
  refusals.store(0, std::memory_order_relaxed);
}

int64_t HeapRequests() {
  return requests.load(std::memory_order_relaxed);
}

int64_t HeapLiveBlocks() {
  return live_blocks.load(std::memory_order_relaxed);
}

namespace internal {

NewRequest HeapNewRequest() {
  if (fail_at.load(std::memory_order_relaxed) == kNever) {
    return NewRequest::kUncounted;
  }
  if (Refused()) {
    return NewRequest::kRefused;
  }
  live_blocks.fetch_add(1, std::memory_order_relaxed);
  return NewRequest::kCounted;
}

void HeapNewReleased() {
  live_blocks.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace internal

}  // namespace zn::test
