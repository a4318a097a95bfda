// Test support: a generator of BMP files for every layout the reader supports, with the picture
// each one holds, written independently of the library's reader and writer. Used by the tests,
// the reference cross-check and the fuzz corpus. Not installed.
#pragma once

#include <stdlib.h>  // mkdtemp

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace zn::testing_bmp {

using Bytes = std::vector<uint8_t>;

// A file to generate: header fields, colour table (blue, green, red, reserved per entry) and the
// pixel data that follows it.
struct TestBmp {
  int32_t width = 0;
  int32_t height = 0;  // negative: rows stored top row first
  uint16_t bits = 24;
  uint32_t compression = 0;
  uint32_t colours_used = 0;
  Bytes table;
  Bytes data;
  int64_t offset = -1;  // bfOffBits; -1: right behind the table
  uint32_t header_size = 40;
};

inline void Put16(Bytes* out, size_t at, uint32_t v) {
  (*out)[at] = static_cast<uint8_t>(v);
  (*out)[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void Put32(Bytes* out, size_t at, uint32_t v) {
  Put16(out, at, v & 0xFFFF);
  Put16(out, at + 2, v >> 16);
}

inline Bytes TestBmpBytes(const TestBmp& bmp) {
  Bytes out(14 + bmp.header_size, 0);
  out.insert(out.end(), bmp.table.begin(), bmp.table.end());
  const size_t data_at = bmp.offset >= 0 ? static_cast<size_t>(bmp.offset) : out.size();
  if (out.size() < data_at) {
    out.resize(data_at, 0);
  }
  out.insert(out.end(), bmp.data.begin(), bmp.data.end());
  out[0] = 'B';
  out[1] = 'M';
  Put32(&out, 2, static_cast<uint32_t>(out.size()));
  Put32(&out, 10,
        static_cast<uint32_t>(bmp.offset >= 0 ? bmp.offset : static_cast<int64_t>(data_at)));
  Put32(&out, 14, bmp.header_size);
  Put32(&out, 18, static_cast<uint32_t>(bmp.width));
  Put32(&out, 22, static_cast<uint32_t>(bmp.height));
  Put16(&out, 26, 1);
  Put16(&out, 28, bmp.bits);
  Put32(&out, 30, bmp.compression);
  Put32(&out, 34, static_cast<uint32_t>(bmp.data.size()));
  Put32(&out, 46, bmp.colours_used);
  return out;
}

// A colour table of `entries` distinct colours, as red, green, blue triples and as file bytes.
struct TestPalette {
  std::vector<uint32_t> rgb;  // 0xRRGGBB
  Bytes bytes;
};

inline TestPalette MakePalette(int entries, uint32_t seed) {
  TestPalette palette;
  uint32_t state = seed;
  for (int k = 0; k < entries; ++k) {
    state = state * 1664525U + 1013904223U;
    const uint32_t rgb = (state >> 8) & 0xFFFFFF;
    palette.rgb.push_back(rgb);
    palette.bytes.push_back(static_cast<uint8_t>(rgb));
    palette.bytes.push_back(static_cast<uint8_t>(rgb >> 8));
    palette.bytes.push_back(static_cast<uint8_t>(rgb >> 16));
    palette.bytes.push_back(0);
  }
  return palette;
}

inline size_t RowBytes(int32_t width, int bits) {
  return ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
}

// Packs indices (top row first, width * rows of them) into stored rows; bottom row first unless
// `top_down`.
inline Bytes PackIndices(const std::vector<uint8_t>& indices, int32_t width, int32_t rows, int bits,
                         bool top_down) {
  const size_t row_bytes = RowBytes(width, bits);
  Bytes data(row_bytes * rows, 0);
  for (int32_t j = 0; j < rows; ++j) {
    const int32_t y = top_down ? j : rows - 1 - j;
    uint8_t* row = &data[row_bytes * j];
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t v = indices[static_cast<size_t>(y) * width + x];
      const size_t bit = static_cast<size_t>(x) * bits;
      row[bit / 8] |= static_cast<uint8_t>(v << (8 - bits - bit % 8));
    }
  }
  return data;
}

// Stores 0xRRGGBB pixels (top row first) at 24 or 32 bits; the fourth byte of a 32-bit pixel is
// `fourth`.
inline Bytes PackRgb(const std::vector<uint32_t>& pixels, int32_t width, int32_t rows, int bits,
                     bool top_down, uint8_t fourth = 0x5A) {
  const size_t row_bytes = RowBytes(width, bits);
  Bytes data(row_bytes * rows, 0);
  for (int32_t j = 0; j < rows; ++j) {
    const int32_t y = top_down ? j : rows - 1 - j;
    uint8_t* out = &data[row_bytes * j];
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t rgb = pixels[static_cast<size_t>(y) * width + x];
      *out++ = static_cast<uint8_t>(rgb);
      *out++ = static_cast<uint8_t>(rgb >> 8);
      *out++ = static_cast<uint8_t>(rgb >> 16);
      if (bits == 32) {
        *out++ = fourth;
      }
    }
  }
  return data;
}

// Stores 16-bit values (top row first).
inline Bytes Pack16(const std::vector<uint16_t>& values, int32_t width, int32_t rows,
                    bool top_down) {
  const size_t row_bytes = RowBytes(width, 16);
  Bytes data(row_bytes * rows, 0);
  for (int32_t j = 0; j < rows; ++j) {
    const int32_t y = top_down ? j : rows - 1 - j;
    for (int32_t x = 0; x < width; ++x) {
      const uint16_t v = values[static_cast<size_t>(y) * width + x];
      data[row_bytes * j + 2 * x] = static_cast<uint8_t>(v);
      data[row_bytes * j + 2 * x + 1] = static_cast<uint8_t>(v >> 8);
    }
  }
  return data;
}

// Stores 32-bit values (top row first).
inline Bytes Pack32(const std::vector<uint32_t>& values, int32_t width, int32_t rows,
                    bool top_down) {
  Bytes data(RowBytes(width, 32) * rows, 0);
  for (int32_t j = 0; j < rows; ++j) {
    const int32_t y = top_down ? j : rows - 1 - j;
    for (int32_t x = 0; x < width; ++x) {
      Put32(&data, RowBytes(width, 32) * j + 4 * static_cast<size_t>(x),
            values[static_cast<size_t>(y) * width + x]);
    }
  }
  return data;
}

// The masks of a bit-field file as the 12 or 16 bytes that follow a 40-byte header.
inline Bytes MaskBytes(const std::vector<uint32_t>& masks) {
  Bytes out(4 * masks.size(), 0);
  for (size_t i = 0; i < masks.size(); ++i) {
    Put32(&out, 4 * i, masks[i]);
  }
  return out;
}

// An OS/2 1.x file: 12-byte info header with 16-bit sides, 3-byte colour table entries (blue,
// green, red), data right behind the table.
inline Bytes TestCoreBmpBytes(uint16_t width, uint16_t height, uint16_t bits, const Bytes& table,
                              const Bytes& data) {
  Bytes out(26, 0);
  out.insert(out.end(), table.begin(), table.end());
  const size_t data_at = out.size();
  out.insert(out.end(), data.begin(), data.end());
  out[0] = 'B';
  out[1] = 'M';
  Put32(&out, 2, static_cast<uint32_t>(out.size()));
  Put32(&out, 10, static_cast<uint32_t>(data_at));
  Put32(&out, 14, 12);
  Put16(&out, 18, width);
  Put16(&out, 20, height);
  Put16(&out, 22, 1);
  Put16(&out, 24, bits);
  return out;
}

inline uint32_t PseudoRandom(uint32_t* state) {
  *state = *state * 1103515245U + 12345U;
  return *state >> 8;
}

// A folder of its own under the system's temporary folder, removed with its files. When no folder
// can be made the path stays empty, so that nothing else is ever removed.
class TempFolder {
 public:
  TempFolder() {
    char name[] = "/tmp/zn-images-XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "";
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) {
      std::filesystem::remove_all(path_, ignored);
    }
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  size_t Count() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(path_),
                                             std::filesystem::directory_iterator()));
  }

 private:
  std::string path_;
};

inline Bytes ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace zn::testing_bmp
