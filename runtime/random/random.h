// The random library: one process-wide lagged rotate-and-add generator over two tables of 17
// 32-bit words, seeded on first use from the wall clock (milliseconds) and the calling thread's
// identity, or explicitly with RandomSetSeed. Range reduction uses multiplications, no division.
// Not thread-safe.
//
// Late-bound seams: none; the generator neither fills nor calls any.
#pragma once

#include <cstdint>

namespace zn {

// RandomUpTo: a value from 0 to n inclusive (one generator step).
uint64_t RandomUpTo(uint64_t n);

// RandomBetween: a value between the two bounds inclusive, whichever order they come in.
uint64_t RandomBetween(uint64_t a, uint64_t b);

// RandomFillBytes: fills `length` bytes (nothing for 0 or less).
void RandomFillBytes(void* destination, int64_t length);

// RandomSetSeed: restarts the sequence from `seed`; the same seed gives the same sequence.
void RandomSetSeed(uint32_t seed);

}  // namespace zn
