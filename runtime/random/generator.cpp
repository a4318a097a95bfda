// The generator: one process-wide lagged rotate-and-add generator over two tables of 17 words,
// its step, and its seeding from a 32-bit value or from the clock and the thread's identity.
// Every draw seeds lazily, so the library's start and end steps have nothing to do.
#include <pthread.h>
#include <sys/time.h>

#include <bit>
#include <cstdint>
#include <cstring>

#include "runtime/random/random.h"
#include "runtime/random/random_internal.h"

namespace zn {
namespace {

constexpr uint32_t kSeedMultiplier = 2891336453U;  // 0xAC564B05
constexpr int kWarmUpSteps = 31;

using internal::kTableWords;

internal::RandomState state{};

internal::RandomWords RandomStep() {
  const uint32_t x = std::rotl(state.b[state.i], 19) + state.b[state.j];
  const uint32_t y = std::rotl(state.a[state.i], 27) + state.a[state.j];
  state.a[state.i] = x;
  state.b[state.i] = y;
  // Both indices move down together, so the lag between them never changes.
  state.i = state.i < 1 ? kTableWords - 1 : state.i - 1;
  state.j = state.j < 1 ? kTableWords - 1 : state.j - 1;
  return {x, y};
}

void RandomSeedFrom(uint32_t v) {
  uint32_t w = v;
  for (int32_t k = 0; k < kTableWords; ++k) {
    w = w * kSeedMultiplier + 1;
    state.b[k] = w;
    w = w * kSeedMultiplier + 1;
    state.a[k] = w;
  }
  state.i = 0;
  state.j = 10;
  // The first steps still show the congruential sequence's regularity; they are thrown away.
  for (int k = 0; k < kWarmUpSteps; ++k) {
    RandomStep();
  }
}

void RandomSeedFromClock() {
  state.seeded = 1;
  timeval now{};
  gettimeofday(&now, nullptr);
  // The clock in milliseconds, truncated to 32 bits.
  uint32_t v =
      static_cast<uint32_t>(now.tv_sec) * 1000U + static_cast<uint32_t>(now.tv_usec / 1000);
  // The thread's identity separates threads that start in the same millisecond.
  const pthread_t self = pthread_self();
  uint32_t identity = 0;
  std::memcpy(&identity, &self, sizeof identity < sizeof self ? sizeof identity : sizeof self);
  v ^= identity;
  RandomSeedFrom(v);
}

}  // namespace

namespace internal {

RandomWords RandomStepSeeded() {
  if (state.seeded == 0) {
    RandomSeedFromClock();
  }
  return RandomStep();
}

}  // namespace internal

void RandomSetSeed(uint32_t seed) {
  if (state.seeded == 0) {
    RandomSeedFromClock();
  }
  RandomSeedFrom(seed);
}

namespace internal {

const RandomState& RandomCurrentState() {
  return state;
}

}  // namespace internal

}  // namespace zn
