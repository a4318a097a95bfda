// The writer's 24-bit rows: red, green, blue pixels turned into the file's blue, green, red.
//
// Each target byte is the source byte two on, the same byte, or the byte two before, by its place
// in the pixel. A vector of target bytes starting at q therefore needs the source from q - 2 to
// two bytes past its end, so a row is done as: two bytes by hand, one vector at 2 (unaligned),
// aligned vectors from the first aligned place after it, one vector ending two bytes before the
// row's end (unaligned), and the last two bytes by hand. The vectors overlap where they meet and
// write the same values there; no load leaves the row.
//
// Two paths give the same bytes: the baseline (16-byte SSE2 vectors, three masked loads each, or
// 8-byte words without SSE2), and 64-byte vectors built by one two-source byte permutation, taken
// when the processor has it (AVX-512 VBMI, asked once at run time). A large picture is bound by
// memory, and the wide path needs a fraction of the baseline's instructions per byte.
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZN_ROW_SWAP_WIDE 1
#if defined(__GLIBC__) && __has_include(<sys/platform/x86.h>)
#define _Bool bool  // the header is written for C, whose _Bool clang's C++ does not know
#include <sys/platform/x86.h>
#undef _Bool
#endif
#endif

#include "runtime/images/images_internal.h"

namespace zn {
namespace {

// From this many bytes of output into pages that are already in memory, the rows are streamed
// past the cache: the block and the picture no longer fit the caches, and a stream spares the
// read of each target line before it is written. Measured on the machines this was tuned on: a
// quarter faster at 48 and 96 MB, even at 36 MB, slower at 12 and 23 MB. Into fresh pages it is
// never done: the system zeroes a fresh page through the cache on first touch, and streaming over
// those cached lines was much slower than writing into them.
constexpr uint64_t kStreamBytes = uint64_t{32} << 20;

// One pixel at a time: for rows too short for a vector.
void SwapPixels(const uint8_t* source, int64_t row_bytes, uint8_t* target) {
  for (int64_t at = 0; at + 3 <= row_bytes; at += 3) {
    target[at] = source[at + 2];
    target[at + 1] = source[at + 1];
    target[at + 2] = source[at];
  }
}

// The first two and the last two target bytes, which no vector covers: byte 0 and 1 of the first
// pixel, byte 1 and 2 of the last.
void SwapEnds(const uint8_t* source, int64_t row_bytes, uint8_t* target) {
  target[0] = source[2];
  target[1] = source[1];
  target[row_bytes - 2] = source[row_bytes - 2];
  target[row_bytes - 1] = source[row_bytes - 3];
}

#if defined(__SSE2__)
// For a 16-byte vector whose first byte sits `phase` bytes into a pixel: the lanes that take the
// byte two on, the same byte, or the byte two before. [phase][shift][lane].
struct SwapMasks {
  alignas(16) uint8_t lanes[3][3][16];
};

constexpr SwapMasks SwapMasksMake() {
  SwapMasks masks{};
  for (int phase = 0; phase < 3; ++phase) {
    for (int shift = 0; shift < 3; ++shift) {
      for (int lane = 0; lane < 16; ++lane) {
        masks.lanes[phase][shift][lane] = (phase + lane) % 3 == shift ? 0xFF : 0;
      }
    }
  }
  return masks;
}

constexpr SwapMasks kSwapMasks = SwapMasksMake();

struct SwapVectorMasks {
  __m128i after;
  __m128i same;
  __m128i before;
};

SwapVectorMasks SwapMasksOf(int64_t at) {
  const auto& lanes = kSwapMasks.lanes[at % 3];
  return {_mm_load_si128(reinterpret_cast<const __m128i*>(lanes[0])),
          _mm_load_si128(reinterpret_cast<const __m128i*>(lanes[1])),
          _mm_load_si128(reinterpret_cast<const __m128i*>(lanes[2]))};
}

// Target bytes at .. at + 15 from three overlapping loads of the source, masked and combined.
void SwapVector(const uint8_t* source, int64_t at, uint8_t* target, const SwapVectorMasks& masks) {
  const uint8_t* from = source + at;
  const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 2));
  const __m128i same = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
  const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from - 2));
  const __m128i bgr = _mm_or_si128(
      _mm_and_si128(after, masks.after),
      _mm_or_si128(_mm_and_si128(same, masks.same), _mm_and_si128(before, masks.before)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(target + at), bgr);
}

void SwapRowBaseline(const uint8_t* source, int64_t row_bytes, uint8_t* target) {
  constexpr int64_t kVector = 16;
  if (row_bytes < kVector + 4) {
    SwapPixels(source, row_bytes, target);
    return;
  }
  SwapVector(source, 2, target, SwapMasksOf(2));
  int64_t at = 2 + kVector - static_cast<int64_t>(reinterpret_cast<uintptr_t>(target + 2) & 15);
  // Three vectors per step keep the phase of each (48 bytes are 16 whole pixels).
  const SwapVectorMasks first = SwapMasksOf(at);
  const SwapVectorMasks second = SwapMasksOf(at + kVector);
  const SwapVectorMasks third = SwapMasksOf(at + 2 * kVector);
  for (; at + 3 * kVector + 2 <= row_bytes; at += 3 * kVector) {
    SwapVector(source, at, target, first);
    SwapVector(source, at + kVector, target, second);
    SwapVector(source, at + 2 * kVector, target, third);
  }
  for (; at + kVector + 2 <= row_bytes; at += kVector) {
    SwapVector(source, at, target, SwapMasksOf(at));
  }
  const int64_t last = row_bytes - 2 - kVector;
  SwapVector(source, last, target, SwapMasksOf(last));
  SwapEnds(source, row_bytes, target);
}
#else
// Two pixels per 8-byte word where words are little-endian; the word's last two bytes belong to
// the next pair and are rewritten by it, so the word steps stop while a whole pixel remains.
void SwapRowBaseline(const uint8_t* source, int64_t row_bytes, uint8_t* target) {
  int64_t at = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; at + 8 <= row_bytes; at += 6) {
      uint64_t word = 0;
      std::memcpy(&word, source + at, sizeof word);
      const uint64_t swapped = (word & 0xFFFF00FF0000FF00ULL) |
                               ((word >> 16) & 0x00000000FF0000FFULL) |
                               ((word << 16) & 0x0000FF0000FF0000ULL);
      std::memcpy(target + at, &swapped, sizeof swapped);
    }
  }
  SwapPixels(source + at, row_bytes - at, target + at);
}
#endif

#if defined(ZN_ROW_SWAP_WIDE)
#define ZN_WIDE_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// For a 64-byte vector whose first byte sits `phase` bytes into a pixel: where each target byte
// comes from in the pair of loads at -2 (indexes 0-63) and +2 (indexes 64-127). [phase][lane].
struct WideIndexes {
  alignas(64) uint8_t lanes[3][64];
};

constexpr WideIndexes WideIndexesMake() {
  WideIndexes indexes{};
  for (int phase = 0; phase < 3; ++phase) {
    for (int lane = 0; lane < 64; ++lane) {
      const int place = (phase + lane) % 3;
      const int from = lane + (place == 0 ? 2 : place == 1 ? 0 : -2);  // -2 .. 65
      indexes.lanes[phase][lane] = static_cast<uint8_t>(from <= 61 ? from + 2 : 64 + from - 2);
    }
  }
  return indexes;
}

constexpr WideIndexes kWideIndexes = WideIndexesMake();

ZN_WIDE_TARGET __m512i WideIndexOf(int64_t at) {
  return _mm512_load_si512(kWideIndexes.lanes[at % 3]);
}

// One vector at `at`; streamed past the cache when asked, which needs an aligned target.
template <bool kStream = false>
ZN_WIDE_TARGET void SwapWide(const uint8_t* source, int64_t at, uint8_t* target, __m512i index) {
  const __m512i before = _mm512_loadu_si512(source + at - 2);
  const __m512i after = _mm512_loadu_si512(source + at + 2);
  const __m512i bgr = _mm512_permutex2var_epi8(before, index, after);
  if constexpr (kStream) {
    _mm512_stream_si512(reinterpret_cast<__m512i*>(target + at), bgr);
  } else {
    _mm512_storeu_si512(target + at, bgr);
  }
}

// With kStream the aligned vectors go past the cache (the two unaligned ones at the ends do not).
template <bool kStream>
ZN_WIDE_TARGET void SwapRowWide(const uint8_t* source, int64_t row_bytes, uint8_t* target) {
  constexpr int64_t kVector = 64;
  if (row_bytes < kVector + 4) {
    SwapRowBaseline(source, row_bytes, target);
    return;
  }
  SwapWide(source, 2, target, WideIndexOf(2));
  int64_t at = 2 + kVector - static_cast<int64_t>(reinterpret_cast<uintptr_t>(target + 2) & 63);
  // Three vectors per step (192 bytes, 64 whole pixels), each with its own phase.
  __m512i first = WideIndexOf(at);
  __m512i second = WideIndexOf(at + kVector);
  __m512i third = WideIndexOf(at + 2 * kVector);
  for (; at + 3 * kVector + 2 <= row_bytes; at += 3 * kVector) {
    SwapWide<kStream>(source, at, target, first);
    SwapWide<kStream>(source, at + kVector, target, second);
    SwapWide<kStream>(source, at + 2 * kVector, target, third);
  }
  for (; at + kVector + 2 <= row_bytes; at += kVector) {
    SwapWide<kStream>(source, at, target, first);
    const __m512i next = second;
    second = third;
    third = first;
    first = next;
  }
  const int64_t last = row_bytes - 2 - kVector;
  SwapWide(source, last, target, WideIndexOf(last));
  SwapEnds(source, row_bytes, target);
}

// The C library's answer, taken when the process started, where it has one: the compiler's own
// detection would run a constructor in every program linking this library, asking the processor
// again at start-up at tens of microseconds a question on a virtual machine.
bool WideUsable() {
#if defined(CPU_FEATURE_ACTIVE)
  return CPU_FEATURE_ACTIVE(AVX512F) && CPU_FEATURE_ACTIVE(AVX512BW) &&
         CPU_FEATURE_ACTIVE(AVX512_VBMI);
#else
  return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
         __builtin_cpu_supports("avx512vbmi") != 0;
#endif
}
#endif

// The processor's answer, asked once.
bool WideInUse() {
#if defined(ZN_ROW_SWAP_WIDE)
  static const bool wide = WideUsable();
  return wide;
#else
  return false;
#endif
}

// Whether the block's pages are in memory already, judged by pages at 16 places spread over it;
// false where the system cannot say.
bool BlockResident(const uint8_t* block, uint64_t size) {
#if defined(__linux__)
  constexpr uint64_t kSamples = 16;
  const long page = sysconf(_SC_PAGESIZE);
  if (page <= 0) {
    return false;
  }
  const auto step = static_cast<uintptr_t>(page);
  for (uint64_t k = 0; k < kSamples; ++k) {
    const uint8_t* sample = block + size / kSamples * k;
    uint8_t* page_start =
        const_cast<uint8_t*>(sample - (reinterpret_cast<uintptr_t>(sample) % step));
    unsigned char present = 0;
    if (mincore(page_start, step, &present) != 0 || (present & 1) == 0) {
      return false;
    }
  }
  return true;
#else
  (void)block;
  (void)size;
  return false;
#endif
}

// The wide swap, with plain or streamed stores, when the processor has the 64-byte vectors (true);
// false, with nothing written, when it has not.
template <bool kStream>
bool SwapRowWideIfInUse(const uint8_t* source, int32_t width, uint8_t* target) {
#if defined(ZN_ROW_SWAP_WIDE)
  if (WideInUse()) {
    SwapRowWide<kStream>(source, int64_t{width} * 3, target);
    return true;
  }
#endif
  (void)source;
  (void)width;
  (void)target;
  return false;
}

}  // namespace

void BmpRowSwap(const uint8_t* source, int32_t width, uint8_t* target) {
  if (!SwapRowWideIfInUse<false>(source, width, target)) {
    SwapRowBaseline(source, int64_t{width} * 3, target);
  }
}

void BmpRowSwapBaseline(const uint8_t* source, int32_t width, uint8_t* target) {
  SwapRowBaseline(source, int64_t{width} * 3, target);
}

bool BmpRowSwapWide(const uint8_t* source, int32_t width, uint8_t* target) {
  return SwapRowWideIfInUse<false>(source, width, target);
}

bool BmpRowSwapStreamPays(const uint8_t* target, uint64_t bytes) {
  return WideInUse() && bytes >= kStreamBytes && BlockResident(target, bytes);
}

bool BmpRowSwapStream(const uint8_t* source, int32_t width, uint8_t* target) {
  return SwapRowWideIfInUse<true>(source, width, target);
}

void BmpRowSwapStreamEnd() {
#if defined(ZN_ROW_SWAP_WIDE)
  _mm_sfence();
#endif
}

}  // namespace zn
