// Tests of the reader's reading of the file's own layout: bit-field masks (behind a 40-byte
// header or inside a longer one, with and without alpha), masks it refuses, OS/2 1.x headers and
// short OS/2 2.x ones. Expected pixels come from a reference written apart from the decoder: a
// channel of w bits is its value times 2^(8 - w).
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/images/bmp_test_files.h"
#include "runtime/images/images.h"

namespace zn {
namespace {

using testing_bmp::Bytes;
using testing_bmp::TestBmp;

struct Decoded {
  int32_t accepted = 0;
  int32_t result = -1;
  int32_t width = 0;
  int32_t height = 0;
  Bytes pixels;
};

Decoded Decode(const Bytes& file, uint32_t flags) {
  Decoded d;
  DecodeState state{};
  state.from_memory = 1;
  state.memory = file.data();
  state.memory_size = static_cast<int32_t>(file.size());
  d.accepted = BmpProbe(&state);
  if (d.accepted == 0) {
    return d;
  }
  d.width = state.width;
  d.height = state.height;
  const int32_t pixel_bytes = (flags & PixelsRgba) != 0 ? 4 : 3;
  d.pixels.assign(static_cast<size_t>(state.width) * std::abs(state.height) * pixel_bytes, 0xCD);
  d.result = BmpDecode(&state, d.pixels.data(), state.width * pixel_bytes, flags);
  BmpCleanup(&state);
  return d;
}

// The reference rule for one channel: absent alpha is 255.
uint32_t Channel(uint32_t mask, uint32_t value, bool alpha) {
  if (mask == 0) {
    return alpha ? 255 : 0;
  }
  const uint32_t raw = (value & mask) / (mask & (~mask + 1));
  return raw * (256U >> std::popcount(mask));
}

struct MaskCase {
  const char* name;
  uint16_t bits;
  uint32_t compression;
  uint32_t header_size;         // 40: masks behind the header; 52 and more: inside it
  std::vector<uint32_t> masks;  // red, green, blue and, where the file has one, alpha
  bool accepted;
};

const std::vector<MaskCase>& MaskCases() {
  static const std::vector<MaskCase> cases = {
      {"rgb16 5-5-5 as masks", 16, 3, 40, {0x7C00, 0x03E0, 0x001F}, true},
      {"rgb16 5-6-5", 16, 3, 40, {0xF800, 0x07E0, 0x001F}, true},
      {"rgb16 2-3-1", 16, 3, 40, {0x00C0, 0x0038, 0x0004}, true},
      {"rgba16 4-4-4-4 in a V5 header", 16, 3, 124, {0x0F00, 0x00F0, 0x000F, 0xF000}, true},
      {"rgba16 4-4-4-4 compression 6", 16, 6, 40, {0x0F00, 0x00F0, 0x000F, 0xF000}, true},
      {"rgb16 1-5-5-5 alpha in a V3 header", 16, 3, 56, {0x7C00, 0x03E0, 0x001F, 0x8000}, true},
      {"rgb32 default masks", 32, 3, 40, {0xFF0000, 0xFF00, 0xFF}, true},
      {"rgb32 moved up, V4 header", 32, 3, 108, {0xFF000000, 0xFF0000, 0xFF00, 0}, true},
      {"rgba32 V5 header", 32, 3, 124, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, true},
      {"rgba32 compression 6", 32, 6, 40, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, true},
      {"rgb32 V2 header: no alpha field", 32, 6, 52, {0xFF0000, 0xFF00, 0xFF}, true},
      {"rgb32 6-bit channels", 32, 3, 40, {0x3F000, 0xFC0, 0x3F}, true},
      {"rgb32 10-10-10: wider than 8", 32, 3, 40, {0x3FF00000, 0xFFC00, 0x3FF}, false},
      {"rgb16 3-10-3: wider than 8", 16, 3, 40, {0xE000, 0x1FF8, 0x0007}, false},
      {"not contiguous", 16, 3, 40, {0x7C00, 0x03E0, 0x0015}, false},
      {"overlapping", 32, 3, 40, {0xFF0000, 0x0FF000, 0xFF}, false},
      {"alpha overlaps blue", 32, 6, 40, {0xFF0000, 0xFF00, 0xFF, 0x80}, false},
      {"no red", 32, 3, 40, {0, 0xFF00, 0xFF}, false},
      {"outside a 16-bit pixel", 16, 3, 40, {0x1F0000, 0x03E0, 0x001F}, false},
      {"masks in a 44-byte header", 32, 3, 44, {0xFF0000, 0xFF00, 0xFF}, false},
  };
  return cases;
}

Bytes MaskFile(const MaskCase& c, const std::vector<uint32_t>& values, int32_t width,
               int32_t rows) {
  TestBmp bmp;
  bmp.width = width;
  bmp.height = rows;
  bmp.bits = c.bits;
  bmp.compression = c.compression;
  bmp.header_size = c.header_size;
  bmp.data = c.bits == 16 ? testing_bmp::Pack16({values.begin(), values.end()}, width, rows, false)
                          : testing_bmp::Pack32(values, width, rows, false);
  if (c.header_size == 40) {
    bmp.table = testing_bmp::MaskBytes(c.masks);
  }
  Bytes file = testing_bmp::TestBmpBytes(bmp);
  for (size_t i = 0; c.header_size > 40 && i < c.masks.size(); ++i) {
    if (54 + 4 * i + 4 <= 14 + c.header_size) {
      testing_bmp::Put32(&file, 54 + 4 * i, c.masks[i]);
    }
  }
  return file;
}

TEST(BmpMasks, DecodeByTheReferenceRuleOrAreRefused) {
  uint32_t seed = 9;
  for (const MaskCase& c : MaskCases()) {
    const int32_t width = 5;
    const int32_t rows = 3;
    std::vector<uint32_t> values;
    for (int i = 0; i < width * rows; ++i) {
      const uint32_t v =
          testing_bmp::PseudoRandom(&seed) ^ (testing_bmp::PseudoRandom(&seed) << 16);
      values.push_back(c.bits == 16 ? v & 0xFFFF : v);
    }
    values[0] = c.bits == 16 ? 0xFFFF : 0xFFFFFFFF;
    const Bytes file = MaskFile(c, values, width, rows);
    const Decoded rgba = Decode(file, PixelsRgba);
    ASSERT_EQ(rgba.accepted, c.accepted ? 1 : 0) << c.name;
    if (!c.accepted) {
      continue;
    }
    const Decoded three = Decode(file, 0);
    ASSERT_EQ(rgba.result, 1) << c.name;
    ASSERT_EQ(three.result, 1) << c.name;
    const uint32_t alpha_mask = c.masks.size() > 3 ? c.masks[3] : 0;
    for (size_t i = 0; i < values.size(); ++i) {
      const uint32_t expected[4] = {
          Channel(c.masks[0], values[i], false), Channel(c.masks[1], values[i], false),
          Channel(c.masks[2], values[i], false), Channel(alpha_mask, values[i], true)};
      for (size_t k = 0; k < 4; ++k) {
        ASSERT_EQ(rgba.pixels[4 * i + k], expected[k]) << c.name << " pixel " << i << " " << k;
      }
      // 3-byte rows: alpha dropped, 16-bit pictures blue first as they always were.
      for (size_t k = 0; k < 3; ++k) {
        const size_t from = c.bits == 16 ? 2 - k : k;
        ASSERT_EQ(three.pixels[3 * i + k], expected[from]) << c.name << " pixel " << i;
      }
    }
  }
}

TEST(BmpMasks, FiveFiveFiveGivenAsMasksDecodesAsWithout) {
  std::vector<uint16_t> values;
  for (uint32_t v = 0; v < 0x8000; v += 97) {
    values.push_back(static_cast<uint16_t>(v));
  }
  TestBmp plain;
  plain.width = static_cast<int32_t>(values.size());
  plain.height = 1;
  plain.bits = 16;
  plain.data = testing_bmp::Pack16(values, plain.width, 1, false);
  TestBmp masked = plain;
  masked.compression = 3;
  masked.table = testing_bmp::MaskBytes({0x7C00, 0x03E0, 0x001F});
  for (const uint32_t flags : {0U, PixelsRgba}) {
    const Decoded a = Decode(testing_bmp::TestBmpBytes(plain), flags);
    const Decoded b = Decode(testing_bmp::TestBmpBytes(masked), flags);
    ASSERT_EQ(a.result, 1);
    ASSERT_EQ(b.result, 1);
    EXPECT_EQ(a.pixels, b.pixels) << "flags " << flags;
  }
}

TEST(BmpMasks, MasksMissingOrUnderThePixelDataAreRefused) {
  TestBmp bmp;
  bmp.width = 2;
  bmp.height = 1;
  bmp.bits = 32;
  bmp.compression = 3;
  bmp.offset = 54;  // the pixels sit where the masks belong
  bmp.data = testing_bmp::Pack32({0xFF0000, 0xFF00}, 2, 1, false);
  EXPECT_EQ(Decode(testing_bmp::TestBmpBytes(bmp), 0).accepted, 0) << "offset inside the masks";
  bmp.offset = -1;
  bmp.data.clear();
  bmp.table = testing_bmp::MaskBytes({0xFF0000, 0xFF00, 0xFF});
  const Bytes file = testing_bmp::TestBmpBytes(bmp);
  EXPECT_EQ(Decode(Bytes(file.begin(), file.begin() + 60), 0).accepted, 0) << "file ends";
}

// OS/2 1.x: 16-bit sides right after the header size, then planes and bits; 3-byte table entries.
TEST(BmpCoreHeader, ReadsSixteenBitSidesAndThreeByteTables) {
  uint32_t seed = 4;
  for (const uint16_t bits : {1, 4, 8, 24}) {
    for (const uint16_t width : {1, 6, 9}) {
      const uint16_t rows = 3;
      std::vector<uint32_t> rgb;
      Bytes table;
      Bytes data;
      const size_t count = size_t{width} * rows;
      if (bits <= 8) {
        const int entries = 1 << bits;
        const testing_bmp::TestPalette palette = testing_bmp::MakePalette(entries, seed);
        for (int k = 0; k < entries; ++k) {
          table.insert(table.end(), palette.bytes.begin() + 4 * k,
                       palette.bytes.begin() + 4 * k + 3);
        }
        std::vector<uint8_t> indices;
        for (size_t i = 0; i < count; ++i) {
          indices.push_back(static_cast<uint8_t>(testing_bmp::PseudoRandom(&seed) % entries));
          rgb.push_back(bits == 1 ? (indices.back() != 0 ? 0xFFFFFF : 0)
                                  : palette.rgb[indices.back()]);
        }
        data = testing_bmp::PackIndices(indices, width, rows, bits, false);
      } else {
        for (size_t i = 0; i < count; ++i) {
          rgb.push_back(testing_bmp::PseudoRandom(&seed) & 0xFFFFFF);
        }
        data = testing_bmp::PackRgb(rgb, width, rows, 24, false);
      }
      const Bytes file = testing_bmp::TestCoreBmpBytes(width, rows, bits, table, data);
      const Decoded d = Decode(file, PixelsRgba);
      const std::string name = std::to_string(bits) + " bits, width " + std::to_string(width);
      ASSERT_EQ(d.result, 1) << name;
      EXPECT_EQ(d.width, width) << name;
      EXPECT_EQ(d.height, rows) << name;
      for (size_t i = 0; i < count; ++i) {
        const uint8_t expected[4] = {static_cast<uint8_t>(rgb[i] >> 16),
                                     static_cast<uint8_t>(rgb[i] >> 8),
                                     static_cast<uint8_t>(rgb[i]), 255};
        for (size_t k = 0; k < 4; ++k) {
          ASSERT_EQ(d.pixels[4 * i + k], expected[k]) << name << " pixel " << i;
        }
      }
    }
  }
}

TEST(BmpCoreHeader, RefusesWhatOs2FilesCannotHold) {
  const Bytes data(16, 0);
  EXPECT_EQ(Decode(testing_bmp::TestCoreBmpBytes(2, 2, 16, {}, data), 0).accepted, 0);
  EXPECT_EQ(Decode(testing_bmp::TestCoreBmpBytes(2, 2, 32, {}, data), 0).accepted, 0);
  const Bytes whole = testing_bmp::TestCoreBmpBytes(2, 2, 24, {}, data);
  EXPECT_EQ(Decode(whole, 0).result, 1);
  EXPECT_EQ(Decode(Bytes(whole.begin(), whole.begin() + 25), 0).accepted, 0) << "header cut";
}

// A short OS/2 2.x header stops after the bit count: the fields it lacks are 0 (no compression,
// a full colour table), not the colour table's bytes behind it.
TEST(BmpShortHeader, FieldsPastTheHeaderReadAsZero) {
  TestBmp bmp;
  bmp.width = 2;
  bmp.height = 1;
  bmp.bits = 8;
  bmp.header_size = 16;
  const testing_bmp::TestPalette palette = testing_bmp::MakePalette(256, 3);
  bmp.table = palette.bytes;
  bmp.data = {255, 255, 0, 0};
  Bytes file = testing_bmp::TestBmpBytes(bmp);
  file[30] = 7;  // the table's first byte stands where a compression field would be
  const Decoded d = Decode(file, 0);
  ASSERT_EQ(d.result, 1);
  const uint32_t last = palette.rgb[255];
  EXPECT_EQ(d.pixels[3], static_cast<uint8_t>(last >> 16));
  EXPECT_EQ(d.pixels[5], static_cast<uint8_t>(last));
}

}  // namespace
}  // namespace zn
