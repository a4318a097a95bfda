// Tests of the 24-bit row swap: every path (the one in use, the baseline, the 64-byte vectors
// where the processor has them, plain and streamed) against a plain pixel loop, for every row
// length up to several vector steps and every alignment of the target, with guard bytes around the
// row.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/images/bmp_test_files.h"
#include "runtime/images/images_internal.h"

namespace zn {
namespace {

using RowSwap = bool (*)(const uint8_t*, int32_t, uint8_t*);

TEST(BmpRowSwap, EveryPathMatchesAPixelLoopAtEveryLengthAndAlignment) {
  constexpr uint8_t kGuard = 0xA5;
  constexpr size_t kSlack = 64;
  const RowSwap paths[] = {[](const uint8_t* s, int32_t w, uint8_t* t) {
                             BmpRowSwap(s, w, t);
                             return true;
                           },
                           [](const uint8_t* s, int32_t w, uint8_t* t) {
                             BmpRowSwapBaseline(s, w, t);
                             return true;
                           },
                           BmpRowSwapWide,
                           [](const uint8_t* s, int32_t w, uint8_t* t) {
                             const bool done = BmpRowSwapStream(s, w, t);
                             BmpRowSwapStreamEnd();
                             return done;
                           }};
  const char* const names[] = {"in use", "baseline", "wide", "wide, streamed"};
  uint32_t seed = 5;
  for (int32_t width = 1; width <= 300; ++width) {
    const auto bytes = static_cast<size_t>(width) * 3;
    // The source in a block of exactly its size, so a read past either end is caught.
    std::vector<uint8_t> source(bytes);
    for (uint8_t& byte : source) {
      byte = static_cast<uint8_t>(testing_bmp::PseudoRandom(&seed));
    }
    std::vector<uint8_t> expected(bytes);
    for (size_t at = 0; at < bytes; at += 3) {
      expected[at] = source[at + 2];
      expected[at + 1] = source[at + 1];
      expected[at + 2] = source[at];
    }
    for (size_t path = 0; path < std::size(paths); ++path) {
      for (size_t offset = 0; offset < kSlack; offset += width < 80 ? 1 : 7) {
        std::vector<uint8_t> target(bytes + 2 * kSlack, kGuard);
        if (!paths[path](source.data(), width, target.data() + offset)) {
          break;  // the processor lacks these vectors
        }
        const std::string what = std::string(names[path]) + ", width " + std::to_string(width) +
                                 ", target offset " + std::to_string(offset);
        ASSERT_EQ(std::vector<uint8_t>(target.begin() + static_cast<ptrdiff_t>(offset),
                                       target.begin() + static_cast<ptrdiff_t>(offset + bytes)),
                  expected)
            << what;
        for (size_t at = 0; at < target.size(); ++at) {
          if (at < offset || at >= offset + bytes) {
            ASSERT_EQ(target[at], kGuard) << what << ", byte " << at << " outside the row";
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace zn
