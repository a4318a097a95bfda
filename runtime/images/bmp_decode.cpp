// The BMP decoder's pixel conversion: every layout the header record accepts into 3-byte rows
// (red, green, blue; blue first for 16-bit pictures) or, with PixelsRgba, 4-byte rows red, green,
// blue, alpha.
//
// The file is outside input. Every read is bounded by the source (the loaded copy, or the memory
// block at its stated size) and every write by the destination (|height| rows of bytes_per_row
// bytes). Where the data leaves those bounds or ends early, what lies inside is written and the
// result is 0, so the caller knows the picture is incomplete. Loops are bounded by the source's
// size, never by the header's width and height alone. Run-length data has a file of its own,
// bmp_run_length.cpp.
#include <sys/types.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime/images/bmp_picture.h"
#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

// The two colours of 1-bit pixels; a 1-bit file's own colour table is not consulted.
constexpr uint8_t MonochromeTable[2][3] = {{0, 0, 0}, {255, 255, 255}};

// The row converters below read several bytes at once in the machine's byte order, so other
// machines take the byte-wise path.
constexpr bool kWordPaths = std::endian::native == std::endian::little;

uint32_t BmpChannelValue(const BmpChannel& channel, uint32_t value) {
  return ((value & channel.mask) >> channel.shift) << (8 - channel.width);
}

// 16- and 32-bit pixels through the file's masks. 16-bit pictures in 3-byte rows come blue first,
// as they always have.
template <int kOut>
void BmpRowMasked(const BmpPicture& picture, const uint8_t* data, int64_t count, uint8_t* out) {
  const BmpChannel* channels = picture.header->channels;
  const bool sixteen = picture.header->bits == 16;
  const bool has_alpha = picture.header->has_alpha;
  const uint32_t step = sixteen ? 2 : 4;
  for (int64_t x = 0; x < count; ++x, out += kOut, data += step) {
    uint32_t v = data[0] | (uint32_t{data[1]} << 8);
    if (!sixteen) {
      v |= (uint32_t{data[2]} << 16) | (uint32_t{data[3]} << 24);
    }
    const uint32_t red = BmpChannelValue(channels[0], v);
    const uint32_t green = BmpChannelValue(channels[1], v);
    const uint32_t blue = BmpChannelValue(channels[2], v);
    const uint32_t alpha = has_alpha ? BmpChannelValue(channels[3], v) : 255;
    if (kOut == 3 && sixteen) {
      BmpPut<kOut>(out, blue, green, red, alpha);
    } else {
      BmpPut<kOut>(out, red, green, blue, alpha);
    }
  }
}

// 16-bit pixels without masks: 5-5-5, each component moved to the top of its byte.
template <int kOut>
void BmpRow555(const uint8_t* data, int64_t count, uint8_t* out) {
  for (int64_t x = 0; x < count; ++x, out += kOut, data += 2) {
    const uint32_t v = data[0] | (uint32_t{data[1]} << 8);
    const uint32_t blue = (v << 3) & 0xF8;
    const uint32_t green = (v >> 2) & 0xF8;
    const uint32_t red = (v >> 7) & 0xF8;
    if constexpr (kOut == 3) {
      BmpPut<kOut>(out, blue, green, red, 255);
    } else {
      BmpPut<kOut>(out, red, green, blue, 255);
    }
  }
}

// Stored blue, green, red (and a fourth byte that is dropped) to red, green, blue.
void BmpRowDirect3(const uint8_t* data, int64_t count, uint32_t step, uint8_t* out) {
  for (int64_t x = 0; x < count; ++x, out += 3, data += step) {
    out[0] = data[2];
    out[1] = data[1];
    out[2] = data[0];
  }
}

// Stored blue, green, red (and a dropped fourth byte) to red, green, blue, 255. Each pixel is read
// as a 4-byte word; at 24 bits the last pixel of a row is taken byte by byte lest the word leave
// the row.
void BmpRowDirect4(const uint8_t* data, int64_t count, uint32_t step, uint8_t* out) {
  int64_t x = 0;
  if constexpr (kWordPaths) {
    const int64_t words = step == 4 ? count : count - 1;
    for (; x < words; ++x, out += 4, data += step) {
      uint32_t quad = 0;
      std::memcpy(&quad, data, sizeof quad);
      quad = ((quad & 0xFFU) << 16) | (quad & 0xFF00U) | ((quad >> 16) & 0xFFU) | 0xFF000000U;
      std::memcpy(out, &quad, sizeof quad);
    }
  }
  for (; x < count; ++x, out += 4, data += step) {
    BmpPut<4>(out, data[2], data[1], data[0], 255);
  }
}

// One stored row of `count` pixels at `data` into `out`.
template <int kOut>
void BmpConvertRow(BmpPicture* picture, const uint8_t* data, int64_t count, uint8_t* out) {
  switch (picture->header->bits) {
    case 1:
      for (int64_t x = 0; x < count; ++x, out += kOut) {
        const uint8_t* colour = MonochromeTable[(data[x >> 3] >> (7 - (x & 7))) & 1U];
        BmpPut<kOut>(out, colour[0], colour[1], colour[2], 255);
      }
      break;
    case 4:
      for (int64_t x = 0; x < count; ++x, out += kOut) {
        const uint32_t byte = data[x >> 1];
        BmpPutIndexed<kOut>(picture, (x & 1) == 0 ? byte >> 4 : byte & 0x0F, out);
      }
      break;
    case 8:
      for (int64_t x = 0; x < count; ++x, out += kOut) {
        BmpPutIndexed<kOut>(picture, data[x], out);
      }
      break;
    case 16:
      if (picture->header->masked) {
        BmpRowMasked<kOut>(*picture, data, count, out);
      } else {
        BmpRow555<kOut>(data, count, out);
      }
      break;
    default:  // 24 and 32
      if (picture->header->masked) {
        BmpRowMasked<kOut>(*picture, data, count, out);
      } else if constexpr (kOut == 3) {
        BmpRowDirect3(data, count, picture->header->bits / 8, out);
      } else {
        BmpRowDirect4(data, count, picture->header->bits / 8, out);
      }
      break;
  }
}

// Rows read from the stream in chunks of whole rows; the probe streams only files that hold
// every row, so the chunk is never larger than the file. A file that shrinks meanwhile gives short
// reads, which end the picture as incomplete.
constexpr uint64_t kStreamChunkBytes = uint64_t{1} << 20;

template <int kOut>
void BmpDecodeStreamedRows(BmpPicture* picture) {
  const uint64_t bits = picture->header->bits;
  const auto width = static_cast<uint64_t>(picture->width);
  const uint64_t row_bytes = BmpRowBytes(*picture->header);
  const auto rows = static_cast<uint64_t>(picture->rows);
  const uint64_t chunk_rows = std::min(rows, std::max<uint64_t>(1, kStreamChunkBytes / row_bytes));
  auto* chunk = static_cast<uint8_t*>(SizedAlloc(chunk_rows * row_bytes));
  if (chunk == nullptr ||
      fseeko(picture->stream, static_cast<off_t>(picture->header->offset), SEEK_SET) != 0) {
    SizedFree(chunk);
    picture->complete = false;
    return;
  }
  for (uint64_t j = 0; j < rows; j += chunk_rows) {
    const uint64_t count = std::min(chunk_rows, rows - j);
    const uint64_t read =
        std::fread(chunk, 1, static_cast<size_t>(count * row_bytes), picture->stream);
    for (uint64_t k = 0; k < count; ++k) {
      const uint64_t start = k * row_bytes;
      const uint64_t available = read > start ? read - start : 0;
      const uint64_t inside = std::min<uint64_t>(width, available * 8 / bits);
      BmpConvertRow<kOut>(picture, chunk + start, static_cast<int64_t>(inside),
                          BmpDestinationRow(*picture, static_cast<int64_t>(j + k)));
      if (inside < width) {
        picture->complete = false;
        SizedFree(chunk);
        return;
      }
    }
  }
  SizedFree(chunk);
}

template <int kOut>
void BmpDecodeRows(BmpPicture* picture) {
  if (picture->stream != nullptr) {
    BmpDecodeStreamedRows<kOut>(picture);
    return;
  }
  const uint64_t bits = picture->header->bits;
  const auto width = static_cast<uint64_t>(picture->width);
  const uint64_t row_bytes = BmpRowBytes(*picture->header);
  uint64_t position = picture->header->offset;
  for (int64_t j = 0; j < picture->rows; ++j, position += row_bytes) {
    const uint64_t available = position < picture->size ? picture->size - position : 0;
    // The pixels whose bytes lie inside the source; the last row may lack its padding.
    const uint64_t inside = std::min<uint64_t>(width, available * 8 / bits);
    BmpConvertRow<kOut>(picture, picture->source + std::min(position, picture->size),
                        static_cast<int64_t>(inside), BmpDestinationRow(*picture, j));
    if (inside < width) {
      picture->complete = false;
      return;
    }
  }
}

// The colour table as the header gives it, cut to the entries that lie wholly inside the source.
void BmpFindTable(BmpPicture* picture) {
  const BmpHeader& header = *picture->header;
  const uint64_t start = header.table_start;
  const uint64_t room =
      start < picture->size ? (picture->size - start) / header.table_entry_bytes : 0;
  const uint64_t entries = std::min(header.table_entries, room);
  picture->table = entries > 0 ? picture->source + start : nullptr;
  picture->table_entries = entries;
}

template <int kOut>
void BmpDecodeAs(BmpPicture* picture) {
  if (BmpRunLength(*picture->header)) {
    BmpDecodeRunLength(picture, kOut);
  } else if (picture->width > 0) {
    BmpDecodeRows<kOut>(picture);
  }
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
  BmpHeader header{};
  if (!BmpHeaderRead(source, size, &header)) {
    return 0;
  }
  const int64_t pixel_bytes = (flags & PixelsRgba) != 0 ? 4 : 3;
  // Rows must hold the width, or a row's pixels would run into the next row or past the end.
  if (static_cast<int64_t>(bytes_per_row) < pixel_bytes * header.width) {
    return 0;
  }
  BmpPicture picture{};
  picture.header = &header;
  picture.source = source;
  picture.size = size;
  picture.stream = state->scratch[kBmpScratchStreamed] != nullptr ? state->stream : nullptr;
  picture.width = header.width;
  picture.rows = header.height < 0 ? -static_cast<int64_t>(header.height) : header.height;
  picture.top_down = header.height < 0;
  picture.destination = static_cast<uint8_t*>(destination);
  picture.bytes_per_row = bytes_per_row;
  picture.output_bottom_up = (flags & RowsBottomUp) != 0;
  picture.clear_skipped = pixel_bytes == 4 && (flags & PixelsCleared) == 0;
  picture.complete = true;
  BmpFindTable(&picture);
  if (pixel_bytes == 4) {
    BmpDecodeAs<4>(&picture);
  } else {
    BmpDecodeAs<3>(&picture);
  }
  return picture.complete ? 1 : 0;
}

}  // namespace zn
