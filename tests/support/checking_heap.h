// The checking heap: the heap functions that test programs put under the runtime. It counts the
// blocks alive and can refuse a chosen request (once, or that one and every later one), so that
// tests see leaks and can walk an operation through each of its failure points.
//
// Requests are numbered from 0 in the order they reach the heap: allocations and resizes both
// count, frees do not. Every counter is atomic, so threads may allocate while a test watches.
#pragma once

#include <cstdint>

namespace zn::test {

// CheckingHeapInstall: routes the runtime's heap through the checking heap. Harmless to call
// again; the kit's test main and the programs that count blocks (fuzzers, benchmarks) call it
// before anything allocates. Blocks made before it are freed through it without harm.
void CheckingHeapInstall();

enum class HeapFailure {
  kOnce,        // only the chosen request fails; the ones after it succeed again
  kFromThenOn,  // the chosen request and every later one fail, until the switch is set again
};

// HeapFailAfter: the next `successes` requests succeed and the one after them fails, once or
// from then on. A negative count turns the switch off.
void HeapFailAfter(int64_t successes, HeapFailure mode = HeapFailure::kFromThenOn);

// HeapFailNever: turns the switch off.
void HeapFailNever();

// HeapRefusals: requests the switch refused since it was last set or cleared.
int64_t HeapRefusals();
void HeapRefusalsClear();

// HeapRequests: requests made since the program started (a test takes differences).
int64_t HeapRequests();

// HeapLiveBlocks: blocks allocated through the runtime and not yet freed.
int64_t HeapLiveBlocks();

}  // namespace zn::test
