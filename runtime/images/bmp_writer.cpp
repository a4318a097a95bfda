// The BMP writer: uncompressed files at 1, 4, 8, 24 and 32 bits per pixel, to a file or to a new
// memory block.
//
// A file is written under a temporary name in the target's folder and renamed over the target
// only once every byte is out, so a failed save (a full disk, a size limit) leaves the file that
// was there as it was.
#include <cstdint>
#include <cstring>

#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

constexpr uint64_t kLargestFile = 0xFFFFFFFFULL;  // bfSize is a 32-bit field

const ImageEncoder kBmpEncoder = {BmpFormatTag, BmpSave24, BmpSave32};

struct BmpLayout {
  uint64_t stride;
  uint32_t offset;
  uint64_t file_size;
};

// The stride and offset rules; false when the file could not be described by its header.
bool BmpLayoutOf(int32_t width, int32_t height, int32_t depth, BmpLayout* layout) {
  const auto w = static_cast<uint64_t>(width);
  if (depth == 24 || depth == 32) {
    layout->stride = (w * static_cast<uint64_t>(depth) / 8 + 3) & ~uint64_t{3};
    layout->offset = kBmpHeadersBytes;
  } else {
    const uint64_t data = depth == 1 ? (w + 7) / 8 : depth == 4 ? (w + 1) / 2 : w;
    layout->stride = (data + 3) & ~uint64_t{3};
    if (layout->stride == 0) layout->stride = 4;
    layout->offset = kBmpHeadersBytes + 4U * (1U << depth);
  }
  uint64_t size = 0;
  if (!MemorySizeFits(static_cast<uint64_t>(height), layout->stride, layout->offset, &size) ||
      size > kLargestFile) {
    return false;
  }
  layout->file_size = size;
  return true;
}

void BmpHeaders(int32_t width, int32_t height, int32_t depth, const BmpLayout& layout,
                uint8_t* headers) {
  std::memset(headers, 0, kBmpHeadersBytes);
  BmpPut16(headers, kBmpSignature);
  BmpPut32(headers + 2, static_cast<uint32_t>(layout.file_size));
  BmpPut32(headers + 10, layout.offset);
  BmpPut32(headers + 14, kBmpInfoHeaderBytes);
  BmpPut32(headers + 18, static_cast<uint32_t>(width));
  BmpPut32(headers + 22, static_cast<uint32_t>(height));
  BmpPut16(headers + 26, 1);
  BmpPut16(headers + 28, static_cast<uint32_t>(depth));
  BmpPut32(headers + 34, static_cast<uint32_t>(layout.file_size - layout.offset));
}

int32_t SourceRowOf(int32_t file_row, int32_t height, uint32_t row_flags) {
  return (row_flags & RowsBottomUp) != 0 ? file_row : height - 1 - file_row;
}

bool BmpWriteIndexed(BmpOutput* output, const uint8_t* pixels, int32_t width, int32_t height,
                     int32_t bytes_per_row, uint32_t row_flags, uint32_t palette_flags,
                     int32_t depth, int32_t source_layout, const BmpLayout& layout) {
  PaletteReducer* reducer = PaletteReducerCreate(pixels, width, height, source_layout,
                                                 bytes_per_row, depth, palette_flags);
  if (reducer == nullptr) return false;
  uint8_t table[256 * 4];
  const int32_t colours = 1 << depth;
  for (int32_t k = 0; k < colours; ++k) {
    table[4 * k] = reducer->palette[k][2];
    table[4 * k + 1] = reducer->palette[k][1];
    table[4 * k + 2] = reducer->palette[k][0];
    table[4 * k + 3] = 0;
  }
  bool written = BmpOutputWrite(output, table, 4 * static_cast<uint64_t>(colours));
  for (int32_t i = 0; written && i < height; ++i) {
    const uint8_t* row = PaletteReducerRow(reducer, SourceRowOf(i, height, row_flags));
    written = BmpOutputWrite(output, row, layout.stride);
  }
  PaletteReducerFree(reducer);
  return written;
}

// One file row from 3- or 4-byte pixels: blue, green, red (and 0 at depth 32); a 4-byte pixel's
// colour is laid over white by its alpha. The padding bytes behind the pixels are left alone.
void BmpConvertRow(const uint8_t* source, int32_t width, int32_t depth, int32_t source_layout,
                   uint8_t* target) {
  const int32_t out = depth / 8;
  if (source_layout == 24) {
    for (int32_t x = 0; x < width; ++x, source += 3, target += out) {
      target[0] = source[2];
      target[1] = source[1];
      target[2] = source[0];
      if (out == 4) target[3] = 0;
    }
    return;
  }
  for (int32_t x = 0; x < width; ++x, source += 4, target += out) {
    const uint32_t alpha = source[3];
    const uint32_t white = (255 - alpha) * 255;
    target[0] = static_cast<uint8_t>((source[2] * alpha + white) / 255);
    target[1] = static_cast<uint8_t>((source[1] * alpha + white) / 255);
    target[2] = static_cast<uint8_t>((source[0] * alpha + white) / 255);
    if (out == 4) target[3] = 0;
  }
}

bool BmpWriteDirect(BmpOutput* output, const uint8_t* pixels, int32_t width, int32_t height,
                    int32_t bytes_per_row, uint32_t row_flags, int32_t depth, int32_t source_layout,
                    const BmpLayout& layout) {
  // Rows are converted in place in a memory block; a file gets them through one row buffer.
  uint8_t* row_buffer = nullptr;
  if (output->block == nullptr) {
    row_buffer = static_cast<uint8_t*>(SizedAllocZeroed(layout.stride));
    if (row_buffer == nullptr) return false;
  }
  bool written = true;
  for (int32_t i = 0; written && i < height; ++i) {
    const int32_t source_row = SourceRowOf(i, height, row_flags);
    const uint8_t* source = pixels + static_cast<int64_t>(source_row) * bytes_per_row;
    uint8_t* target = row_buffer != nullptr ? row_buffer : BmpOutputReserve(output, layout.stride);
    if (target == nullptr) return false;  // a block is made at the file's size: not reached
    if (row_buffer == nullptr) {
      const uint64_t data = static_cast<uint64_t>(width) * static_cast<uint64_t>(depth / 8);
      std::memset(target + data, 0, layout.stride - data);
    }
    BmpConvertRow(source, width, depth, source_layout, target);
    if (row_buffer != nullptr) written = BmpOutputWrite(output, row_buffer, layout.stride);
  }
  SizedFree(row_buffer);
  return written;
}

}  // namespace

int64_t BmpSave(const char* file_name, const void* pixels, int32_t width, int32_t height,
                int32_t bytes_per_row, uint32_t row_flags, uint32_t palette_flags, int32_t depth,
                int32_t source_layout) {
  if (depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32) return 0;
  if (source_layout != 24 && source_layout != 32) return 0;
  if (pixels == nullptr || width < 1 || height < 1) return 0;
  BmpLayout layout{};
  if (!BmpLayoutOf(width, height, depth, &layout)) return 0;

  BmpOutput output{};
  if (!BmpOutputOpen(&output, file_name, layout.file_size)) return 0;
  uint8_t headers[kBmpHeadersBytes];
  BmpHeaders(width, height, depth, layout, headers);
  bool written = BmpOutputWrite(&output, headers, kBmpHeadersBytes);
  const auto* source = static_cast<const uint8_t*>(pixels);
  if (written && depth <= 8) {
    written = BmpWriteIndexed(&output, source, width, height, bytes_per_row, row_flags,
                              palette_flags, depth, source_layout, layout);
  } else if (written) {
    written = BmpWriteDirect(&output, source, width, height, bytes_per_row, row_flags, depth,
                             source_layout, layout);
  }
  return BmpOutputFinish(&output, written);
}

int64_t BmpSave24(const char* file_name, const void* pixels, int32_t width, int32_t height,
                  int32_t bytes_per_row, uint32_t row_flags, uint32_t palette_flags,
                  int32_t depth) {
  return BmpSave(file_name, pixels, width, height, bytes_per_row, row_flags, palette_flags, depth,
                 24);
}

int64_t BmpSave32(const char* file_name, const void* pixels, int32_t width, int32_t height,
                  int32_t bytes_per_row, uint32_t row_flags, uint32_t palette_flags,
                  int32_t depth) {
  return BmpSave(file_name, pixels, width, height, bytes_per_row, row_flags, palette_flags, depth,
                 32);
}

void BmpEncoderRegister() {
  ImageEncoderRegister(&kBmpEncoder);
}

}  // namespace zn
