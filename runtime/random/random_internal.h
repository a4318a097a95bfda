// Internal to the random library: the generator's step and its lazy seeding, shared by the
// draws. Not installed.
#pragma once

#include <cstdint>

namespace zn::internal {

inline constexpr int32_t kTableWords = 17;

// The generator's process-wide state: two tables of 17 words and the two indices that walk them.
struct RandomState {
  uint8_t seeded;
  int32_t i;
  int32_t j;
  uint32_t a[kTableWords];
  uint32_t b[kTableWords];
};

// RandomCurrentState: the generator as it stands, to look at.
const RandomState& RandomCurrentState();

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
