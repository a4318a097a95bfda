// Internal to the random library: the generator's step and its lazy seeding, shared by the
// draws. Not installed.
#pragma once

#include <cstdint>

namespace zn::internal {

// The two words one generator step gives: x is the high word of the 64-bit fraction, y the low.
struct RandomWords {
  uint32_t x;
  uint32_t y;
};

// RandomStepSeeded: seeds from the clock when nothing has seeded the generator yet, then steps.
RandomWords RandomStepSeeded();

// RandomScale: the fraction x.y (high word x, low word y) scaled to 0 .. m - 1 for m above 0,
// with multiplications and shifts only.
uint64_t RandomScale(RandomWords words, uint64_t m);

}  // namespace zn::internal
