// The checking heap: the heap functions that test programs put under the runtime. It counts the
// blocks alive and can refuse a chosen request (once, or that one and every later one), so that
// tests see leaks and can walk an operation through each of its failure points.
//
// Requests are numbered from 0 in the order they reach the heap: allocations and resizes both
// count, frees do not. Every counter is atomic, so threads may allocate while a test watches.
//
// Unit-test programs also route C++ `new` through it (checking_new.cpp, in the test main's
// library), but only while the switch is set: a `new` made then is numbered, may be refused and is
// counted among the live blocks until it is deleted. Outside that window GoogleTest, the test's
// own containers and the caches a process keeps for its whole life allocate as they please, so
// that they neither shift the failure points nor show up as blocks left behind.
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

// HeapLiveBlocks: blocks allocated through the runtime (and by `new` while the switch was set)
// and not yet freed.
int64_t HeapLiveBlocks();

namespace internal {

// How the kit's `operator new` fares with the switch: a request made while it is off is left
// alone; one made while it is on is numbered like a runtime request and counted, or refused.
enum class NewRequest { kUncounted, kCounted, kRefused };
NewRequest HeapNewRequest();
// HeapNewReleased: a counted `new` block was deleted.
void HeapNewReleased();

}  // namespace internal

}  // namespace zn::test
