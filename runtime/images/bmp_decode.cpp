// The BMP decoder's pixel conversion: every depth the reader supports into 3-byte output rows.
//
// The file is outside input. Every read is bounded by the source (the loaded copy, or the memory
// block at its stated size) and every write by the destination (|height| rows of bytes_per_row
// bytes). Where the data leaves those bounds or ends early, what lies inside is written and the
// result is 0, so the caller knows the picture is incomplete. Loops are bounded by the source's
// size, never by the header's width and height alone.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

constexpr uint32_t kCompressionRle8 = 1;
constexpr uint32_t kCompressionRle4 = 2;
constexpr uint32_t kCompressionBitFields = 3;

// The two colours of 1-bit pixels; a 1-bit file's own colour table is not consulted.
constexpr uint8_t MonochromeTable[2][3] = {{0, 0, 0}, {255, 255, 255}};

struct BmpPicture {
  const uint8_t* source;
  uint64_t size;
  int64_t width;
  int64_t rows;  // |biHeight|
  bool top_down;
  uint32_t bits;
  uint32_t compression;
  uint64_t offset;
  const uint8_t* table;  // colour table entries inside the source: blue, green, red, reserved
  uint64_t table_entries;
  uint8_t* destination;
  int64_t bytes_per_row;
  bool output_bottom_up;
  bool complete;  // false once anything fell outside the bounds
};

bool BmpConvertible(uint32_t bits, uint32_t compression) {
  switch (bits) {
    case 1:
    case 24:
    case 32:
      return true;
    case 4:
      return compression != kCompressionRle4;
    case 8:
      return true;
    case 16:
      return compression == 0 || compression == kCompressionBitFields;
    default:
      return false;
  }
}

// The destination row of source row j (rows in the order they are stored).
uint8_t* BmpDestinationRow(const BmpPicture& picture, int64_t j) {
  const int64_t from_top = picture.top_down ? j : picture.rows - 1 - j;
  const int64_t row = picture.output_bottom_up ? picture.rows - 1 - from_top : from_top;
  return picture.destination + row * picture.bytes_per_row;
}

// Writes the colour of palette index k; an index beyond the table gives black and marks the
// picture incomplete.
void BmpPutIndexed(BmpPicture* picture, uint32_t k, uint8_t* out) {
  if (k >= picture->table_entries) {
    out[0] = out[1] = out[2] = 0;
    picture->complete = false;
    return;
  }
  const uint8_t* entry = picture->table + 4 * static_cast<uint64_t>(k);
  out[0] = entry[2];
  out[1] = entry[1];
  out[2] = entry[0];
}

// One stored row of `count` pixels at `data` into `out`.
void BmpConvertRow(BmpPicture* picture, const uint8_t* data, int64_t count, uint8_t* out) {
  switch (picture->bits) {
    case 1:
      for (int64_t x = 0; x < count; ++x, out += 3) {
        const uint32_t bit = (data[x >> 3] >> (7 - (x & 7))) & 1U;
        std::memcpy(out, MonochromeTable[bit], 3);
      }
      break;
    case 4:
      for (int64_t x = 0; x < count; ++x, out += 3) {
        const uint32_t byte = data[x >> 1];
        BmpPutIndexed(picture, (x & 1) == 0 ? byte >> 4 : byte & 0x0F, out);
      }
      break;
    case 8:
      for (int64_t x = 0; x < count; ++x, out += 3) {
        BmpPutIndexed(picture, data[x], out);
      }
      break;
    case 16: {
      const bool six_bit_green = picture->compression == kCompressionBitFields;
      for (int64_t x = 0; x < count; ++x, out += 3, data += 2) {
        const uint32_t v = data[0] | (static_cast<uint32_t>(data[1]) << 8);
        // Each component is moved to the top of its byte: 31 becomes 248. Blue comes first.
        out[0] = static_cast<uint8_t>(v << 3);
        out[1] = static_cast<uint8_t>(six_bit_green ? (v >> 3) & 0xFC : (v >> 2) & 0xF8);
        out[2] = static_cast<uint8_t>(six_bit_green ? (v >> 8) & 0xF8 : (v >> 7) & 0xF8);
      }
      break;
    }
    default: {  // 24 and 32: blue, green, red (and a dropped fourth byte) as red, green, blue
      const uint32_t step = picture->bits / 8;
      for (int64_t x = 0; x < count; ++x, out += 3, data += step) {
        out[0] = data[2];
        out[1] = data[1];
        out[2] = data[0];
      }
      break;
    }
  }
}

void BmpDecodeRows(BmpPicture* picture) {
  const uint64_t bits = picture->bits;
  const auto width = static_cast<uint64_t>(picture->width);
  const uint64_t row_bytes = ((width * bits + 31) / 32) * 4;
  uint64_t position = picture->offset;
  for (int64_t j = 0; j < picture->rows; ++j, position += row_bytes) {
    const uint64_t available = position < picture->size ? picture->size - position : 0;
    // The pixels whose bytes lie inside the source; the last row may lack its padding.
    const uint64_t inside = std::min<uint64_t>(width, available * 8 / bits);
    BmpConvertRow(picture, picture->source + std::min(position, picture->size),
                  static_cast<int64_t>(inside), BmpDestinationRow(*picture, j));
    if (inside < width) {
      picture->complete = false;
      return;
    }
  }
}

// Pixels x ... x + count - 1 of source row y, clipped to the picture; `indices` is null for a
// run of `value`.
void BmpRleWrite(BmpPicture* picture, int64_t x, int64_t y, int64_t count, uint32_t value,
                 const uint8_t* indices) {
  if (y >= picture->rows || x + count > picture->width) {
    picture->complete = false;
  }
  if (y >= picture->rows || x >= picture->width) {
    return;
  }
  const int64_t inside = std::min(count, picture->width - x);
  uint8_t* out = BmpDestinationRow(*picture, y) + 3 * x;
  for (int64_t i = 0; i < inside; ++i, out += 3) {
    BmpPutIndexed(picture, indices != nullptr ? indices[i] : value, out);
  }
}

// RLE8: pairs (n, v) are a run of n pixels of v, or with n = 0 an escape: 0 line end, 1 bitmap
// end, 2 a delta of two more bytes, 3 and up an absolute run of v index bytes padded to an even
// count. Every step consumes source bytes, so the loop ends with the data.
void BmpDecodeRle8(BmpPicture* picture) {
  const uint8_t* source = picture->source;
  const uint64_t size = picture->size;
  uint64_t position = picture->offset;
  int64_t x = 0;
  int64_t y = 0;
  while (position < size && size - position >= 2) {
    const uint32_t n = source[position];
    const uint32_t v = source[position + 1];
    position += 2;
    if (n > 0) {
      BmpRleWrite(picture, x, y, n, v, nullptr);
      x += n;
    } else if (v == 0) {
      if (y >= picture->rows) {
        picture->complete = false;  // more line ends than rows
      }
      ++y;
      x = 0;
    } else if (v == 1) {
      return;
    } else if (v == 2) {
      if (size - position < 2) {
        break;
      }
      x += source[position];
      y += source[position + 1];
      position += 2;
      if (x > picture->width || y > picture->rows) {
        picture->complete = false;
      }
    } else {
      const uint64_t inside = std::min<uint64_t>(v, size - position);
      BmpRleWrite(picture, x, y, static_cast<int64_t>(inside), 0, source + position);
      if (inside < v) {
        break;
      }
      x += v;
      position += v + (v & 1U);
    }
  }
  picture->complete = false;  // the data ended before the bitmap's end
}

// The colour table: biClrUsed entries (or 2^bits when 0), at most 2^bits, and only those that lie
// wholly inside the source.
void BmpFindTable(BmpPicture* picture, uint32_t header_size, uint32_t colours_used) {
  if (picture->bits > 8) {
    return;
  }
  const uint64_t largest = uint64_t{1} << picture->bits;
  uint64_t entries = colours_used == 0 ? largest : std::min<uint64_t>(colours_used, largest);
  const uint64_t start = uint64_t{kBmpFileHeaderBytes} + header_size;
  const uint64_t room = start < picture->size ? (picture->size - start) / 4 : 0;
  entries = std::min(entries, room);
  picture->table = entries > 0 ? picture->source + start : nullptr;
  picture->table_entries = entries;
}

}  // namespace

int32_t BmpDecode(DecodeState* state, void* destination, int32_t bytes_per_row, uint32_t flags) {
  const auto* source = static_cast<const uint8_t*>(state->scratch[kBmpScratchHeader]);
  if (source == nullptr || destination == nullptr) {
    return 0;
  }
  const auto* copy = static_cast<const uint8_t*>(state->scratch[kBmpScratchCopy]);
  uint64_t size = 0;
  if (copy != nullptr) {
    size = static_cast<uint64_t>(SizedSizeOf(copy));
  } else if (state->memory_size > 0) {
    size = static_cast<uint64_t>(state->memory_size);
  }
  if (size < kBmpHeadersBytes) {
    return 0;
  }

  BmpPicture picture{};
  picture.source = source;
  picture.size = size;
  picture.width = static_cast<int32_t>(BmpRead32(source, size, 18));
  const auto height = static_cast<int32_t>(BmpRead32(source, size, 22));
  picture.rows = height < 0 ? -static_cast<int64_t>(height) : height;
  picture.top_down = height < 0;
  picture.bits = BmpRead16(source, size, 28);
  picture.compression = BmpRead32(source, size, 30);
  picture.destination = static_cast<uint8_t*>(destination);
  picture.bytes_per_row = bytes_per_row;
  picture.output_bottom_up = (flags & RowsBottomUp) != 0;
  picture.complete = true;
  const uint32_t header_size = BmpRead32(source, size, 14);
  const auto offset = static_cast<int32_t>(BmpRead32(source, size, 10));

  if (!BmpConvertible(picture.bits, picture.compression) || picture.width < 0) {
    return 0;
  }
  // Rows must hold the width, or a row's pixels would run into the next row or past the end.
  if (static_cast<int64_t>(bytes_per_row) < 3 * picture.width) {
    return 0;
  }
  // Pixel data that starts inside the headers is no picture.
  if (offset < 0 || static_cast<uint64_t>(offset) < kBmpHeadersBytes ||
      static_cast<uint64_t>(offset) < uint64_t{kBmpFileHeaderBytes} + header_size) {
    return 0;
  }
  picture.offset = static_cast<uint64_t>(offset);
  BmpFindTable(&picture, header_size, BmpRead32(source, size, 46));

  if (picture.bits == 8 && picture.compression == kCompressionRle8) {
    BmpDecodeRle8(&picture);
  } else if (picture.width > 0) {
    BmpDecodeRows(&picture);
  }
  return picture.complete ? 1 : 0;
}

}  // namespace zn
