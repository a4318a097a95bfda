// The PaletteReducer: a palette for indexed output and the packed indices of each row.
//
// Two colours use a fixed black-and-white palette and a luminance threshold; 16 and 256 colours
// are learned by the colour network. Rows are converted one at a time, so the writer can emit
// each as it comes; with dithering the error of each pixel is carried on, so a row's result
// depends on the rows converted before it.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

constexpr double kReducerGamma = 1.8;
constexpr int32_t kSampleBlockPixels = 262144;
constexpr int32_t kRowBufferMargin = 8;

// The BT.709 luma of a pixel against the black-and-white threshold; strictly greater is white.
uint8_t MonochromeIndex(const uint8_t* pixel) {
  return pixel[0] * 0.2126 + pixel[1] * 0.7152 + pixel[2] * 0.0722 > 160.0 ? 1 : 0;
}

uint8_t ClampByte(int32_t value) {
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// The reducer's own RGBA copy of the picture.
uint8_t* ReducerCopyPixels(const uint8_t* source, int32_t width, int32_t height,
                           int32_t source_layout, int32_t bytes_per_row, uint64_t length) {
  auto* copy = static_cast<uint8_t*>(SizedAlloc(length));
  if (copy == nullptr) {
    return nullptr;
  }
  if (source_layout != 24) {
    std::memcpy(copy, source, length);
    return copy;
  }
  uint8_t* target = copy;
  for (int32_t r = 0; r < height; ++r) {
    // The row is walked by pointer: an index of 3 * x overflows 32 bits on rows wider than
    // 715,827,882 pixels, which a file can still hold at 8 bits.
    const uint8_t* pixel = source + static_cast<int64_t>(r) * bytes_per_row;
    for (int32_t x = 0; x < width; ++x, pixel += 3, target += 4) {
      target[0] = pixel[0];
      target[1] = pixel[1];
      target[2] = pixel[2];
      target[3] = 255;
    }
  }
  return copy;
}

bool ReducerLearn(PaletteReducer* reducer, uint64_t length) {
  const int32_t colours = 1 << reducer->depth;
  ColourNetwork* network = NetworkCreate(reducer->pixels, length, colours, kReducerGamma);
  if (network == nullptr) {
    return false;
  }
  reducer->network = network;
  NetworkLearn(network, PaletteSampleFactor(reducer->width, reducer->height));
  NetworkBuildIndex(network);
  NetworkColourMap(network, reducer->palette);
  return true;
}

// Takes `part` of the carry off one pixel of the row below, each channel kept in 0 ... 255.
void SpreadError(uint8_t* pixel, const int32_t* carry, int32_t numerator) {
  for (int c = 0; c < 4; ++c) {
    pixel[c] = ClampByte(pixel[c] - numerator * carry[c] / 16);
  }
}

bool CarryTooLarge(const int32_t* carry, const int32_t* error) {
  int32_t carry_sum = 0;
  int32_t error_sum = 0;
  for (int c = 0; c < 4; ++c) {
    if (carry[c] * carry[c] > 100) {
      return true;
    }
    carry_sum += carry[c] * carry[c];
    error_sum += error[c] * error[c];
  }
  return carry_sum > 200 || 2 * error_sum < carry_sum;
}

// Error diffusion over one row of the reducer's own copy. The row below is row + 1 whatever
// order the rows are asked for in (the last row spreads into itself); the damping keeps the
// carried error small so that flat areas do not break into noise.
void ReducerDitherRow(PaletteReducer* reducer, int32_t row, uint8_t* indices) {
  const int32_t width = reducer->width;
  const uint64_t row_bytes = static_cast<uint64_t>(width) * 4;
  uint8_t* pixels = reducer->pixels + row * row_bytes;
  const int32_t below_row = row + 1 < reducer->height ? row + 1 : row;
  uint8_t* below = reducer->pixels + below_row * row_bytes;
  int32_t* carry = reducer->carry;
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* pixel = pixels + 4 * static_cast<uint64_t>(x);
    const int32_t index = NetworkSearch(
        reducer->network, ClampByte(pixel[3] - carry[3]), ClampByte(pixel[2] - carry[2]),
        ClampByte(pixel[1] - carry[1]), ClampByte(pixel[0] - carry[0]));
    indices[x] = static_cast<uint8_t>(index);
    const uint8_t* p = reducer->palette[index];
    const int32_t m = std::max<int32_t>(p[3], pixel[3]);
    // Errors count less where both the pixel and its colour are transparent.
    const int32_t k = 255 - ((255 - m) * (255 - m)) / 255;
    const int32_t error[4] = {((p[0] - pixel[0]) * k) / 255, ((p[1] - pixel[1]) * k) / 255,
                              ((p[2] - pixel[2]) * k) / 255, p[3] - pixel[3]};
    for (int c = 0; c < 4; ++c) {
      carry[c] += error[c];
    }
    while (CarryTooLarge(carry, error)) {
      for (int c = 0; c < 4; ++c) {
        carry[c] /= 2;
      }
    }
    uint8_t* under = below + 4 * static_cast<uint64_t>(x);
    if (x > 0) {
      SpreadError(under - 4, carry, 3);
    }
    if (x + 1 < width) {
      SpreadError(under + 4, carry, 1);
    }
    SpreadError(under, carry, 5);
  }
  for (int c = 0; c < 4; ++c) {
    carry[c] = 7 * carry[c] / 16;
  }
}

// Packs one index per byte into 1, 4 or 8 bits per pixel, leftmost pixel in the most significant
// bits, and zeroes every byte behind the packed data so that the file's row padding is zero.
void ReducerPack(uint8_t* indices, int32_t width, int32_t depth) {
  const auto count = static_cast<uint64_t>(width);
  uint64_t packed = count;
  if (depth == 1) {
    packed = (count + 7) / 8;
    for (uint64_t b = 0; b < packed; ++b) {
      uint32_t byte = 0;
      for (uint64_t bit = 0; bit < 8; ++bit) {
        const uint64_t x = 8 * b + bit;
        byte = (byte << 1) | (x < count ? indices[x] & 1U : 0U);
      }
      indices[b] = static_cast<uint8_t>(byte);
    }
  } else if (depth == 4) {
    packed = (count + 1) / 2;
    for (uint64_t b = 0; b < packed; ++b) {
      const uint32_t high = indices[2 * b] & 0x0FU;
      const uint32_t low = 2 * b + 1 < count ? indices[2 * b + 1] & 0x0FU : 0U;
      indices[b] = static_cast<uint8_t>((high << 4) | low);
    }
  }
  std::memset(indices + packed, 0, count + kRowBufferMargin - packed);
}

}  // namespace

int32_t PaletteSampleFactor(int32_t width, int32_t height) {
  const int64_t pixels = static_cast<int64_t>(width) * height;
  return 1 + static_cast<int32_t>(std::min<int64_t>(9, pixels / kSampleBlockPixels));
}

PaletteReducer* PaletteReducerCreate(const void* pixels, int32_t width, int32_t height,
                                     int32_t source_layout, int32_t bytes_per_row, int32_t depth,
                                     uint32_t palette_flags) {
  if (width < 1 || height < 1 || (depth != 1 && depth != 4 && depth != 8)) {
    return nullptr;
  }
  if (source_layout != 24 && source_layout != 32) {
    return nullptr;
  }
  if (pixels == nullptr) {
    return nullptr;
  }
  uint64_t length = 0;
  uint64_t row_buffer_bytes = 0;
  const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (!MemorySizeFits(count, 4, 0, &length) ||
      !MemorySizeFits(1, static_cast<uint64_t>(width), kRowBufferMargin, &row_buffer_bytes)) {
    return nullptr;
  }
  auto* reducer = static_cast<PaletteReducer*>(SizedAllocZeroed(sizeof(PaletteReducer)));
  if (reducer == nullptr) {
    return nullptr;
  }
  const bool dither = (palette_flags & DitherFlag) != 0;
  if (source_layout == 24 || dither) {
    reducer->pixels = ReducerCopyPixels(static_cast<const uint8_t*>(pixels), width, height,
                                        source_layout, bytes_per_row, length);
    reducer->owns_pixels = 1;
  } else {
    // Only read: the caller's pixels are never changed.
    reducer->pixels = static_cast<uint8_t*>(const_cast<void*>(pixels));
  }
  reducer->row_buffer = static_cast<uint8_t*>(SizedAllocZeroed(row_buffer_bytes));
  reducer->width = width;
  reducer->height = height;
  reducer->source_layout = source_layout;
  reducer->depth = depth;
  reducer->palette_flags = palette_flags;
  reducer->gamma = kReducerGamma;
  if (reducer->pixels == nullptr || reducer->row_buffer == nullptr) {
    PaletteReducerFree(reducer);
    return nullptr;
  }
  if (depth == 1) {
    std::memset(reducer->palette[1], 255, 3);
    return reducer;
  }
  if (!ReducerLearn(reducer, length)) {
    PaletteReducerFree(reducer);
    return nullptr;
  }
  return reducer;
}

const uint8_t* PaletteReducerRow(PaletteReducer* reducer, int32_t row) {
  if (reducer == nullptr || row < 0 || row >= reducer->height) {
    return nullptr;
  }
  const int32_t width = reducer->width;
  uint8_t* indices = reducer->row_buffer;
  const uint8_t* pixel = reducer->pixels + static_cast<uint64_t>(row) * width * 4;
  if (reducer->depth == 1) {
    for (int32_t x = 0; x < width; ++x, pixel += 4) {
      indices[x] = MonochromeIndex(pixel);
    }
  } else if ((reducer->palette_flags & DitherFlag) != 0) {
    ReducerDitherRow(reducer, row, indices);
  } else {
    for (int32_t x = 0; x < width; ++x, pixel += 4) {
      indices[x] = static_cast<uint8_t>(
          NetworkSearch(reducer->network, pixel[3], pixel[2], pixel[1], pixel[0]));
    }
  }
  ReducerPack(indices, width, reducer->depth);
  return indices;
}

void PaletteReducerFree(PaletteReducer* reducer) {
  if (reducer == nullptr) {
    return;
  }
  if (reducer->owns_pixels != 0) {
    SizedFree(reducer->pixels);
  }
  NetworkFree(reducer->network);
  SizedFree(reducer->row_buffer);
  SizedFree(reducer);
}

}  // namespace zn
