// The draws: integers in a range and random bytes, each from one or more generator steps.
// Range reduction multiplies a 64-bit fraction by the range size instead of dividing.
#include <cstdint>
#include <cstring>

#include "runtime/random/random.h"
#include "runtime/random/random_internal.h"

namespace zn {
namespace internal {

// The partial products x * mh, (x * ml) >> 32 and (y * mh) >> 32 of the fraction times m; the
// product y * ml and the carries between the partial products are left out, which keeps the
// result below m. For m up to 2^32 it is (x * m) >> 32 and y does not matter.
uint64_t RandomScale(RandomWords words, uint64_t m) {
  const uint64_t high = m >> 32;
  const uint64_t low = m & 0xFFFFFFFFU;
  const uint64_t x = words.x;
  const uint64_t y = words.y;
  return x * high + ((x * low) >> 32) + ((y * high) >> 32);
}

}  // namespace internal

uint64_t RandomUpTo(uint64_t n) {
  const internal::RandomWords words = internal::RandomStepSeeded();
  const uint64_t m = n + 1;
  // The full 64-bit range cannot be expressed as a size: the draw gives 0 there.
  if (m == 0) {
    return 0;
  }
  return internal::RandomScale(words, m);
}

uint64_t RandomBetween(uint64_t a, uint64_t b) {
  // The bounds may come in either order; the draw covers both of them and everything between.
  const uint64_t low = a < b ? a : b;
  const uint64_t high = a < b ? b : a;
  const internal::RandomWords words = internal::RandomStepSeeded();
  const uint64_t m = high - low + 1;
  if (m == 0) {
    return low;
  }
  return low + internal::RandomScale(words, m);
}

void RandomFillBytes(void* destination, int64_t length) {
  if (destination == nullptr || length <= 0) {
    return;
  }
  auto* out = static_cast<unsigned char*>(destination);
  while (length > 0) {
    const internal::RandomWords words = internal::RandomStepSeeded();
    // Each step gives eight bytes: y, then x, each little-endian; a short tail takes the first
    // bytes of the same pattern.
    unsigned char pattern[8];
    for (int k = 0; k < 4; ++k) {
      pattern[k] = static_cast<unsigned char>(words.y >> (8 * k));
      pattern[4 + k] = static_cast<unsigned char>(words.x >> (8 * k));
    }
    const int64_t take = length < 8 ? length : 8;
    std::memcpy(out, pattern, static_cast<size_t>(take));
    out += take;
    length -= take;
  }
}

}  // namespace zn
