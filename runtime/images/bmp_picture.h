// Internal to the BMP decoder: the picture being decoded, shared by the row converters
// (bmp_decode.cpp) and the run-length decoder (bmp_run_length.cpp). Not installed.
#pragma once

#include <cstdint>
#include <cstdio>

#include "runtime/images/images_internal.h"

namespace zn {

struct BmpPicture {
  const BmpHeader* header;
  const uint8_t* source;
  uint64_t size;
  std::FILE* stream;  // pixel data is read from here when set (the source holds the file's head)
  int64_t width;
  int64_t rows;  // |biHeight|
  bool top_down;
  const uint8_t* table;  // colour table entries inside the source
  uint64_t table_entries;
  uint8_t* destination;
  int64_t bytes_per_row;
  bool output_bottom_up;
  // 4-byte rows whose bytes are not known to be 0: the pixels that run-length data skips are
  // written transparent black.
  bool clear_skipped;
  bool complete;  // false once anything fell outside the bounds
};

// The destination row of source row j (rows in the order they are stored).
inline uint8_t* BmpDestinationRow(const BmpPicture& picture, int64_t j) {
  const int64_t from_top = picture.top_down ? j : picture.rows - 1 - j;
  const int64_t row = picture.output_bottom_up ? picture.rows - 1 - from_top : from_top;
  return picture.destination + row * picture.bytes_per_row;
}

template <int kOut>
void BmpPut(uint8_t* out, uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha) {
  out[0] = static_cast<uint8_t>(red);
  out[1] = static_cast<uint8_t>(green);
  out[2] = static_cast<uint8_t>(blue);
  if constexpr (kOut == 4) {
    out[3] = static_cast<uint8_t>(alpha);
  }
}

// Writes the colour of palette index k; an index beyond the table gives black and marks the
// picture incomplete.
template <int kOut>
void BmpPutIndexed(BmpPicture* picture, uint32_t k, uint8_t* out) {
  if (k >= picture->table_entries) {
    BmpPut<kOut>(out, 0, 0, 0, 255);
    picture->complete = false;
    return;
  }
  const uint8_t* entry = picture->table + picture->header->table_entry_bytes * uint64_t{k};
  BmpPut<kOut>(out, entry[2], entry[1], entry[0], 255);
}

// BmpDecodeRunLength: the picture's RLE8 or RLE4 data into rows of `pixel_bytes` (3 or 4) bytes,
// from the source or, when the picture has one, from the stream. Marks the picture incomplete and
// stops at the first fault.
void BmpDecodeRunLength(BmpPicture* picture, int pixel_bytes);

}  // namespace zn
