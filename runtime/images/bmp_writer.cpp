// The BMP writer: uncompressed files at 1, 4, 8, 24 and 32 bits per pixel, to a file or to a new
// memory block.
//
// A file is written under a temporary name in the target's folder and renamed over the target
// only once every byte is out, so a failed save (a full disk, a size limit) leaves the file that
// was there as it was.
#include <bit>
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
    if (layout->stride == 0) {
      layout->stride = 4;
    }
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
  BmpHeader header{};
  header.type = kBmpSignature;
  header.file_size = static_cast<uint32_t>(layout.file_size);
  header.offset = layout.offset;
  header.header_size = kBmpInfoHeaderBytes;
  header.width = width;
  header.height = height;
  header.planes = 1;
  header.bits = static_cast<uint16_t>(depth);
  header.compression = kBmpCompressionNone;
  header.image_size = static_cast<uint32_t>(layout.file_size - layout.offset);
  BmpHeaderWrite(header, headers);
}

int32_t SourceRowOf(int32_t file_row, int32_t height, uint32_t row_flags) {
  return (row_flags & RowsBottomUp) != 0 ? file_row : height - 1 - file_row;
}

bool BmpWriteIndexed(BmpOutput* output, const uint8_t* pixels, int32_t width, int32_t height,
                     int32_t bytes_per_row, uint32_t row_flags, uint32_t palette_flags,
                     int32_t depth, int32_t source_layout, const BmpLayout& layout) {
  PaletteReducer* reducer = PaletteReducerCreate(pixels, width, height, source_layout,
                                                 bytes_per_row, depth, palette_flags);
  if (reducer == nullptr) {
    ImageFailureNote(ImageFailureReason::kOutOfMemory, 0);
    return false;
  }
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

// The row converters below move several pixels per step through 64-bit words; they read and
// write those words in the machine's byte order, so other machines take the byte-wise path.
constexpr bool kWordPaths = std::endian::native == std::endian::little;

uint32_t QuadLoad(const uint8_t* bytes) {
  uint32_t quad = 0;
  std::memcpy(&quad, bytes, sizeof quad);
  return quad;
}

void QuadStore(uint8_t* bytes, uint32_t quad) {
  std::memcpy(bytes, &quad, sizeof quad);
}

// Red, green, blue to blue, green, red, 0. A pixel is read as four bytes, so the last one is
// taken byte by byte lest the read leave the row.
void RowRgbToBgr0(const uint8_t* source, int32_t width, uint8_t* target) {
  int32_t x = 0;
  if constexpr (kWordPaths) {
    for (; x + 1 < width; ++x, source += 3, target += 4) {
      const uint32_t quad = QuadLoad(source);
      QuadStore(target, ((quad & 0xFFU) << 16) | (quad & 0xFF00U) | ((quad >> 16) & 0xFFU));
    }
  }
  for (; x < width; ++x, source += 3, target += 4) {
    target[0] = source[2];
    target[1] = source[1];
    target[2] = source[0];
    target[3] = 0;
  }
}

// Colour over white, (c x alpha + (255 - alpha) x 255) / 255 rounding down, for the three colours
// of a red, green, blue, alpha pixel at once: each sits in a 16-bit lane of a word, where
// c x alpha + (255 - alpha) x 255 stays below 65026 and so never spills into the next lane. The
// division is floor(v / 255) = (v + 1 + (v >> 8)) >> 8, exact for every v up to 65535 - 255.
// Result: blue, green, red in the three low bytes.
uint32_t OverWhite(uint32_t rgba) {
  const uint64_t alpha = rgba >> 24;
  const uint64_t lanes = ((rgba >> 16) & 0xFFU) | (uint64_t{(rgba >> 8) & 0xFFU} << 16) |
                         (uint64_t{rgba & 0xFFU} << 32);
  constexpr uint64_t kOnes = 0x0000000100010001ULL;
  const uint64_t v = lanes * alpha + (255 - alpha) * 255 * kOnes;
  const uint64_t q =
      ((v + kOnes + ((v >> 8) & 0x000000FF00FF00FFULL)) >> 8) & 0x000000FF00FF00FFULL;
  return static_cast<uint32_t>((q & 0xFFU) | ((q >> 8) & 0xFF00U) | ((q >> 16) & 0xFF0000U));
}

uint32_t PixelLoad(const uint8_t* pixel) {
  return uint32_t{pixel[0]} | uint32_t{pixel[1]} << 8 | uint32_t{pixel[2]} << 16 |
         uint32_t{pixel[3]} << 24;
}

// Red, green, blue, alpha to blue, green, red over white. The three-byte result is stored as four
// bytes whose last the next pixel rewrites, so the last pixel is stored byte by byte.
void RowRgbaToBgr(const uint8_t* source, int32_t width, uint8_t* target) {
  int32_t x = 0;
  if constexpr (kWordPaths) {
    for (; x + 1 < width; ++x, source += 4, target += 3) {
      QuadStore(target, OverWhite(QuadLoad(source)));
    }
  }
  for (; x < width; ++x, source += 4, target += 3) {
    const uint32_t bgr = OverWhite(PixelLoad(source));
    target[0] = static_cast<uint8_t>(bgr);
    target[1] = static_cast<uint8_t>(bgr >> 8);
    target[2] = static_cast<uint8_t>(bgr >> 16);
  }
}

// Red, green, blue, alpha to blue, green, red over white, 0.
void RowRgbaToBgr0(const uint8_t* source, int32_t width, uint8_t* target) {
  for (int32_t x = 0; x < width; ++x, source += 4, target += 4) {
    const uint32_t bgr = OverWhite(PixelLoad(source));
    target[0] = static_cast<uint8_t>(bgr);
    target[1] = static_cast<uint8_t>(bgr >> 8);
    target[2] = static_cast<uint8_t>(bgr >> 16);
    target[3] = 0;
  }
}

// The 24-bit swap with its stores streamed past the cache (the plain swap where it cannot be).
void RowRgbToBgrStreamed(const uint8_t* source, int32_t width, uint8_t* target) {
  if (!BmpRowSwapStream(source, width, target)) {
    BmpRowSwap(source, width, target);
  }
}

using BmpRowConverter = void (*)(const uint8_t*, int32_t, uint8_t*);

// The converter for a source layout (24 or 32) and a file depth (24 or 32), chosen once per save.
BmpRowConverter BmpRowConverterOf(int32_t source_layout, int32_t depth) {
  if (source_layout == 24) {
    return depth == 24 ? BmpRowSwap : RowRgbToBgr0;
  }
  return depth == 24 ? RowRgbaToBgr : RowRgbaToBgr0;
}

bool BmpWriteDirect(BmpOutput* output, const uint8_t* pixels, int32_t width, int32_t height,
                    int32_t bytes_per_row, uint32_t row_flags, int32_t depth, int32_t source_layout,
                    const BmpLayout& layout) {
  const BmpRowConverter convert = BmpRowConverterOf(source_layout, depth);
  const uint64_t data = static_cast<uint64_t>(width) * static_cast<uint64_t>(depth / 8);
  const uint64_t padding = layout.stride - data;
  // Into a memory block the rows are converted where they belong, with no copy; a file gets
  // them through one row buffer whose padding stays zero.
  if (output->block != nullptr) {
    uint8_t* target = BmpOutputReserve(output, layout.stride * static_cast<uint64_t>(height));
    if (target == nullptr) {
      return false;  // a block is made at the file's size: not reached
    }
    const bool stream = convert == BmpRowSwap &&
                        BmpRowSwapStreamPays(target, layout.stride * static_cast<uint64_t>(height));
    const BmpRowConverter row_convert = stream ? RowRgbToBgrStreamed : convert;
    for (int32_t i = 0; i < height; ++i, target += layout.stride) {
      const int32_t source_row = SourceRowOf(i, height, row_flags);
      row_convert(pixels + static_cast<int64_t>(source_row) * bytes_per_row, width, target);
      if (padding != 0) {
        std::memset(target + data, 0, padding);
      }
    }
    if (stream) {
      BmpRowSwapStreamEnd();
    }
    return true;
  }
  auto* row_buffer = static_cast<uint8_t*>(SizedAllocZeroed(layout.stride));
  if (row_buffer == nullptr) {
    ImageFailureNote(ImageFailureReason::kOutOfMemory, 0);
    return false;
  }
  bool written = true;
  for (int32_t i = 0; written && i < height; ++i) {
    const int32_t source_row = SourceRowOf(i, height, row_flags);
    convert(pixels + static_cast<int64_t>(source_row) * bytes_per_row, width, row_buffer);
    written = BmpOutputWrite(output, row_buffer, layout.stride);
  }
  SizedFree(row_buffer);
  return written;
}

}  // namespace

void ImageRowOverWhite(const uint8_t* source, int32_t width, uint8_t* target) {
  for (int32_t x = 0; x < width; ++x, source += 4, target += 4) {
    const uint32_t bgr = OverWhite(PixelLoad(source));
    target[0] = static_cast<uint8_t>(bgr >> 16);
    target[1] = static_cast<uint8_t>(bgr >> 8);
    target[2] = static_cast<uint8_t>(bgr);
    target[3] = 255;
  }
}

int64_t BmpSave(const char* file_name, const void* pixels, int32_t width, int32_t height,
                int32_t bytes_per_row, uint32_t row_flags, uint32_t palette_flags, int32_t depth,
                int32_t source_layout) {
  if (depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32) {
    return 0;
  }
  if (source_layout != 24 && source_layout != 32) {
    return 0;
  }
  if (pixels == nullptr || width < 1 || height < 1) {
    return 0;
  }
  BmpLayout layout{};
  if (!BmpLayoutOf(width, height, depth, &layout)) {
    return 0;
  }

  BmpOutput output{};
  if (!BmpOutputOpen(&output, file_name, layout.file_size)) {
    return 0;
  }
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
