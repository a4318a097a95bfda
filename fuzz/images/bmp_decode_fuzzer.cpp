// Fuzz target: the BMP probe and decoder on a memory source, through the codec registry, in both
// row orders and with rows wider than needed. Sanitizers catch any read outside the input or
// write outside the destination.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/images/images.h"

namespace {

constexpr int64_t kLargestDestination = int64_t{1} << 24;

bool Started() {
  zn::DecodeStateInit();
  zn::BmpCodecRegister();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Started();
  (void)started;
  if (size > INT32_MAX) return 0;
  if (zn::ImageDecodeStartMemory(data, static_cast<int32_t>(size)) == 0) return 0;
  const int64_t width = zn::ImageDecodeWidth();
  const int64_t height = zn::ImageDecodeHeight();
  const int64_t rows = height < 0 ? -height : height;
  const int64_t bytes_per_row = 3 * (width < 0 ? 0 : width) + (size & 3);
  if (bytes_per_row > 0 && bytes_per_row <= INT32_MAX && rows <= kLargestDestination &&
      rows * bytes_per_row <= kLargestDestination) {
    std::vector<uint8_t> destination(static_cast<size_t>(rows * bytes_per_row));
    for (const uint32_t flags : {0U, zn::RowsBottomUp}) {
      (void)zn::ImageDecodePixels(destination.empty() ? nullptr : destination.data(),
                                  static_cast<int32_t>(bytes_per_row), flags);
    }
  }
  zn::ImageDecodeFinish();
  return 0;
}
