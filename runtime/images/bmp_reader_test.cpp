// Tests of the BMP reader: the probe, every depth and RLE8 against pictures built independently by
// the test generator, the deliberate output orders, and damaged files of every kind.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/images/bmp_test_files.h"
#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

using testing_bmp::Bytes;
using testing_bmp::TestBmp;

struct Decoded {
  int32_t accepted = 0;
  int32_t result = -1;
  DecodeState state{};
  std::vector<uint8_t> pixels;  // exactly |height| rows of bytes_per_row: ASan sees any overrun
};

constexpr uint8_t kUntouched = 0xCD;

// The masks a bit-field file carries behind a 40-byte header: 5-6-5.
const Bytes kMasks565 = {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};

Decoded Decode(const Bytes& file, uint32_t flags = 0, int64_t extra_per_row = 0,
               int64_t size = -1) {
  Decoded d;
  d.state.from_memory = 1;
  d.state.memory = file.data();
  d.state.memory_size = static_cast<int32_t>(size >= 0 ? size : static_cast<int64_t>(file.size()));
  d.state.frame_count = 1;
  d.accepted = BmpProbe(&d.state);
  if (d.accepted == 0) {
    return d;
  }
  const int64_t width = d.state.width < 0 ? 0 : d.state.width;
  const int64_t rows = d.state.height < 0 ? -static_cast<int64_t>(d.state.height) : d.state.height;
  const int64_t bytes_per_row = 3 * width + extra_per_row;
  if (rows * bytes_per_row > (int64_t{1} << 26)) {
    return d;  // keep damaged giants small
  }
  d.pixels.assign(static_cast<size_t>(rows * bytes_per_row), kUntouched);
  d.result = BmpDecode(&d.state, d.pixels.empty() ? nullptr : d.pixels.data(),
                       static_cast<int32_t>(bytes_per_row), flags);
  BmpCleanup(&d.state);
  return d;
}

// The output of a picture of 0xRRGGBB pixels, top row first.
std::vector<uint8_t> Expected(const std::vector<uint32_t>& rgb, bool blue_first = false) {
  std::vector<uint8_t> out;
  for (const uint32_t c : rgb) {
    const uint8_t r = static_cast<uint8_t>(c >> 16);
    const uint8_t g = static_cast<uint8_t>(c >> 8);
    const uint8_t b = static_cast<uint8_t>(c);
    out.push_back(blue_first ? b : r);
    out.push_back(g);
    out.push_back(blue_first ? r : b);
  }
  return out;
}

std::vector<uint8_t> FlipRows(const std::vector<uint8_t>& rows, size_t row_bytes) {
  std::vector<uint8_t> flipped;
  for (size_t r = rows.size() / row_bytes; r-- > 0;) {
    flipped.insert(flipped.end(), rows.begin() + r * row_bytes, rows.begin() + (r + 1) * row_bytes);
  }
  return flipped;
}

TEST(BmpProbe, AcceptsTheSignatureAndRejectsReservedFieldsAndNull) {
  TestBmp bmp;
  bmp.width = 7;
  bmp.height = -3;
  bmp.bits = 24;
  bmp.data.assign(testing_bmp::RowBytes(7, 24) * 3, 0);
  Bytes file = testing_bmp::TestBmpBytes(bmp);
  Decoded d = Decode(file);
  EXPECT_EQ(d.accepted, 1);
  EXPECT_EQ(d.state.width, 7);
  EXPECT_EQ(d.state.height, -3) << "the stored value is reported";
  EXPECT_EQ(d.state.output_depth, 24);
  EXPECT_EQ(d.state.source_depth, 24);
  for (const size_t field : {6, 7, 8, 9}) {
    Bytes bad = file;
    bad[field] = 1;
    EXPECT_EQ(Decode(bad).accepted, 0) << "reserved byte " << field;
  }
  Bytes wrong = file;
  wrong[1] = 'A';
  EXPECT_EQ(Decode(wrong).accepted, 0);
  DecodeState state{};
  state.from_memory = 1;
  EXPECT_EQ(BmpProbe(&state), 0) << "null memory";
  // A block that ends inside its info header is refused, whatever its file header says.
  Bytes header_only(file.begin(), file.begin() + 14);
  EXPECT_EQ(Decode(header_only).accepted, 0);
  EXPECT_EQ(Decode(file, 0, 0, 1).accepted, 0) << "the memory size is respected";
}

TEST(BmpDecode, TwoByTwo24BitRowsInBothOrders) {
  // The first stored row is the bottom row: blue, green.
  TestBmp bmp;
  bmp.width = 2;
  bmp.height = 2;
  bmp.data = {255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 0};
  const Bytes file = testing_bmp::TestBmpBytes(bmp);
  Decoded plain = Decode(file);
  ASSERT_EQ(plain.result, 1);
  const std::vector<uint8_t> bottom = {0, 0, 255, 0, 255, 0};
  EXPECT_EQ(std::vector<uint8_t>(plain.pixels.begin() + 6, plain.pixels.end()), bottom);
  EXPECT_EQ(std::vector<uint8_t>(plain.pixels.begin(), plain.pixels.begin() + 6),
            (std::vector<uint8_t>{255, 0, 0, 255, 255, 255}));
  Decoded kept = Decode(file, RowsBottomUp);
  ASSERT_EQ(kept.result, 1);
  EXPECT_EQ(std::vector<uint8_t>(kept.pixels.begin(), kept.pixels.begin() + 6), bottom);
}

TEST(BmpDecode, ThreePixelRowsSkipTheirPadding) {
  const std::vector<uint32_t> picture = {0x102030, 0x405060, 0x708090,
                                         0xA0B0C0, 0xD0E0F0, 0x010203};
  TestBmp bmp;
  bmp.width = 3;
  bmp.height = 2;
  bmp.data = testing_bmp::PackRgb(picture, 3, 2, 24, false);
  ASSERT_EQ(bmp.data.size(), 24U) << "9 bytes and 3 of padding per row";
  bmp.data[9] = bmp.data[10] = bmp.data[11] = 0xEE;  // padding is not a pixel
  Decoded d = Decode(testing_bmp::TestBmpBytes(bmp), 0, 5);
  ASSERT_EQ(d.result, 1);
  const std::vector<uint8_t> expected = Expected(picture);
  for (int r = 0; r < 2; ++r) {
    EXPECT_EQ(std::memcmp(&d.pixels[r * 14], &expected[r * 9], 9), 0) << "row " << r;
    for (int i = 9; i < 14; ++i) {
      EXPECT_EQ(d.pixels[r * 14 + i], kUntouched) << "row " << r;
    }
  }

  // 4 bits, 3 pixels: 2 data bytes and 2 of padding, exactly 3 pixels per row.
  const testing_bmp::TestPalette palette = testing_bmp::MakePalette(16, 5);
  TestBmp four;
  four.width = 3;
  four.height = 2;
  four.bits = 4;
  four.table = palette.bytes;
  const std::vector<uint8_t> indices = {1, 2, 3, 14, 15, 0};
  four.data = testing_bmp::PackIndices(indices, 3, 2, 4, false);
  ASSERT_EQ(four.data.size(), 8U);
  four.data[1] |= 0x0F;  // the unused low nibble of the last byte
  Decoded d4 = Decode(testing_bmp::TestBmpBytes(four), 0, 3);
  ASSERT_EQ(d4.result, 1);
  for (int r = 0; r < 2; ++r) {
    for (int x = 0; x < 3; ++x) {
      const uint32_t c = palette.rgb[indices[r * 3 + x]];
      const uint8_t* p = &d4.pixels[r * 12 + 3 * x];
      EXPECT_EQ((p[0] << 16) | (p[1] << 8) | p[2], static_cast<int>(c)) << r << "," << x;
    }
    for (int i = 9; i < 12; ++i) {
      EXPECT_EQ(d4.pixels[r * 12 + i], kUntouched) << "row " << r;
    }
  }
}

TEST(BmpDecode, OneBitIgnoresTheColourTable) {
  TestBmp bmp;
  bmp.width = 10;
  bmp.height = 2;
  bmp.bits = 1;
  bmp.table = {0, 0, 255, 0, 0, 255, 0, 0};  // red, green
  const std::vector<uint8_t> bits = {1, 0, 1, 1, 0, 0, 1, 0, 1, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 0};
  bmp.data = testing_bmp::PackIndices(bits, 10, 2, 1, false);
  bmp.data[1] |= 0x3F;  // bits beyond the width
  Decoded d = Decode(testing_bmp::TestBmpBytes(bmp));
  ASSERT_EQ(d.result, 1);
  for (size_t i = 0; i < bits.size(); ++i) {
    const uint8_t want = bits[i] != 0 ? 255 : 0;
    EXPECT_EQ(d.pixels[3 * i], want) << "pixel " << i;
    EXPECT_EQ(d.pixels[3 * i + 1], want) << "pixel " << i;
    EXPECT_EQ(d.pixels[3 * i + 2], want) << "pixel " << i;
  }
}

TEST(BmpDecode, SixteenBitIsBlueFirstWithComponentsAtTheTop) {
  TestBmp bmp;
  bmp.width = 4;
  bmp.height = 1;
  bmp.bits = 16;
  bmp.data = testing_bmp::Pack16({0x7FFF, 0x001F, 0x03E0, 0x7C00}, 4, 1, false);
  Decoded d = Decode(testing_bmp::TestBmpBytes(bmp));
  ASSERT_EQ(d.result, 1);
  EXPECT_EQ(d.pixels, (std::vector<uint8_t>{248, 248, 248, 248, 0, 0, 0, 248, 0, 0, 0, 248}));
  bmp.compression = 3;
  bmp.table = kMasks565;
  bmp.data = testing_bmp::Pack16({0xFFFF, 0x001F, 0x07E0, 0xF800}, 4, 1, false);
  d = Decode(testing_bmp::TestBmpBytes(bmp));
  ASSERT_EQ(d.result, 1);
  EXPECT_EQ(d.pixels, (std::vector<uint8_t>{248, 252, 248, 248, 0, 0, 0, 252, 0, 0, 0, 248}));
}

TEST(BmpDecode, EightBitTableSizeFollowsColoursUsed) {
  const testing_bmp::TestPalette palette = testing_bmp::MakePalette(256, 9);
  for (const uint32_t used : {0U, 16U}) {
    TestBmp bmp;
    bmp.width = 5;
    bmp.height = 3;
    bmp.bits = 8;
    bmp.colours_used = used;
    const size_t entries = used == 0 ? 256 : used;
    bmp.table.assign(palette.bytes.begin(), palette.bytes.begin() + 4 * entries);
    std::vector<uint8_t> indices;
    std::vector<uint32_t> rgb;
    for (int i = 0; i < 15; ++i) {
      indices.push_back(static_cast<uint8_t>((i * 7) % entries));
      rgb.push_back(palette.rgb[indices.back()]);
    }
    bmp.data = testing_bmp::PackIndices(indices, 5, 3, 8, false);
    Decoded d = Decode(testing_bmp::TestBmpBytes(bmp));
    ASSERT_EQ(d.result, 1) << "biClrUsed " << used;
    EXPECT_EQ(d.pixels, Expected(rgb)) << "biClrUsed " << used;
  }
}

TEST(BmpDecode, Rle8SampleAndEscapes) {
  const testing_bmp::TestPalette palette = testing_bmp::MakePalette(8, 2);
  TestBmp bmp;
  bmp.width = 4;
  bmp.height = 2;
  bmp.bits = 8;
  bmp.compression = 1;
  bmp.colours_used = 8;
  bmp.table = palette.bytes;
  bmp.data = {3, 5, 0, 0, 2, 7, 0, 1};
  Decoded d = Decode(testing_bmp::TestBmpBytes(bmp), RowsBottomUp);
  ASSERT_EQ(d.result, 1);
  const std::vector<uint8_t> five = Expected({palette.rgb[5]});
  const std::vector<uint8_t> seven = Expected({palette.rgb[7]});
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(std::memcmp(&d.pixels[3 * x], five.data(), 3), 0) << x;
  }
  EXPECT_EQ(d.pixels[9], kUntouched) << "the fourth pixel of the first row is not written";
  for (int x = 0; x < 2; ++x) {
    EXPECT_EQ(std::memcmp(&d.pixels[12 + 3 * x], seven.data(), 3), 0);
  }
  EXPECT_EQ(d.pixels[18], kUntouched);

  // A delta, an odd absolute run with its padding byte, a line end after the last row.
  bmp.width = 6;
  bmp.height = 3;
  bmp.data = {0, 2, 2, 1, 1, 3, 0, 3, 4, 6, 1, 0, 0, 0, 6, 2, 0, 0, 0, 1};
  d = Decode(testing_bmp::TestBmpBytes(bmp), RowsBottomUp, 0);
  ASSERT_EQ(d.result, 1);
  auto pixel_is = [&](int row, int x, int index) {
    return std::memcmp(&d.pixels[row * 18 + 3 * x], Expected({palette.rgb[index]}).data(), 3) == 0;
  };
  EXPECT_TRUE(pixel_is(1, 2, 3)) << "delta (2, 1) then one pixel of 3";
  EXPECT_TRUE(pixel_is(1, 3, 4) && pixel_is(1, 4, 6) && pixel_is(1, 5, 1)) << "absolute run";
  EXPECT_TRUE(pixel_is(2, 0, 2) && pixel_is(2, 5, 2)) << "a run of six";
  EXPECT_EQ(d.pixels[0], kUntouched) << "skipped by the delta";
}

TEST(BmpDecode, ThirtyTwoBitDropsTheFourthByteAndTopDownFilesKeepTheirOrder) {
  const std::vector<uint32_t> picture = {0x112233, 0x445566, 0x778899, 0xAABBCC};
  for (const bool top_down : {false, true}) {
    TestBmp bmp;
    bmp.width = 2;
    bmp.height = top_down ? -2 : 2;
    bmp.bits = 32;
    bmp.data = testing_bmp::PackRgb(picture, 2, 2, 32, top_down, 0xFF);
    Decoded d = Decode(testing_bmp::TestBmpBytes(bmp));
    ASSERT_EQ(d.result, 1) << "top_down " << top_down;
    EXPECT_EQ(d.pixels, Expected(picture)) << "top_down " << top_down;
    d = Decode(testing_bmp::TestBmpBytes(bmp), RowsBottomUp);
    EXPECT_EQ(d.pixels, FlipRows(Expected(picture), 6)) << "top_down " << top_down;
  }
}

// Huffman-coded 1-bit pictures (3), bit fields below 16 bits, RLE24 or JPEG (4), PNG (5), unknown
// values and depths: refused by the probe, so nothing is ever allocated for their pixels.
TEST(BmpProbe, RefusesLayoutsTheDecoderCannotConvert) {
  struct Layout {
    uint16_t bits;
    uint32_t compression;
  };
  for (const Layout layout :
       {Layout{4, 3},  Layout{16, 1},          Layout{16, 2}, Layout{0, 0}, Layout{2, 0},
        Layout{3, 0},  Layout{5, 0},           Layout{6, 0},  Layout{7, 0}, Layout{12, 0},
        Layout{48, 0}, Layout{1, 3},           Layout{1, 1},  Layout{4, 1}, Layout{8, 2},
        Layout{8, 3},  Layout{24, 4},          Layout{24, 3}, Layout{8, 4}, Layout{24, 5},
        Layout{32, 7}, Layout{32, 0xFFFFFFFF}, Layout{16, 4}}) {
    TestBmp bmp;
    bmp.width = 4;
    bmp.height = 2;
    bmp.bits = layout.bits;
    bmp.compression = layout.compression;
    bmp.table = testing_bmp::MakePalette(16, 1).bytes;
    bmp.data.assign(64, 0x11);
    EXPECT_EQ(Decode(testing_bmp::TestBmpBytes(bmp)).accepted, 0)
        << "depth " << layout.bits << " compression " << layout.compression;
  }
}

// Every supported layout at many widths, against the generator's own picture.
TEST(BmpDecode, AgreesWithTheGeneratorOnEveryLayout) {
  uint32_t seed = 1;
  for (const int bits : {1, 4, 8, 16, 24, 32}) {
    for (int32_t width = 1; width <= 13; ++width) {
      for (const bool top_down : {false, true}) {
        const int32_t rows = 1 + width % 4;
        TestBmp bmp;
        bmp.width = width;
        bmp.height = top_down ? -rows : rows;
        bmp.bits = static_cast<uint16_t>(bits);
        std::vector<uint32_t> rgb;
        const size_t count = static_cast<size_t>(width) * rows;
        if (bits <= 8) {
          const int entries = bits == 1 ? 2 : (width % 2 == 0 ? 1 << bits : 3);  // partial tables
          const testing_bmp::TestPalette palette = testing_bmp::MakePalette(entries, seed);
          bmp.table = palette.bytes;
          bmp.colours_used = entries == (1 << bits) ? 0 : static_cast<uint32_t>(entries);
          std::vector<uint8_t> indices;
          for (size_t i = 0; i < count; ++i) {
            indices.push_back(static_cast<uint8_t>(testing_bmp::PseudoRandom(&seed) % entries));
            rgb.push_back(bits == 1 ? (indices.back() != 0 ? 0xFFFFFF : 0)
                                    : palette.rgb[indices.back()]);
          }
          bmp.data = testing_bmp::PackIndices(indices, width, rows, bits, top_down);
        } else if (bits == 16) {
          std::vector<uint16_t> values;
          bmp.compression = width % 2 == 0 ? 3 : 0;
          if (bmp.compression == 3) {
            bmp.table = kMasks565;
          }
          for (size_t i = 0; i < count; ++i) {
            const uint16_t v = static_cast<uint16_t>(testing_bmp::PseudoRandom(&seed));
            values.push_back(v);
            const uint32_t b = (v & 0x1F) << 3;
            const uint32_t g =
                bmp.compression == 3 ? ((v >> 5) & 0x3F) << 2 : ((v >> 5) & 0x1F) << 3;
            const uint32_t r =
                bmp.compression == 3 ? ((v >> 11) & 0x1F) << 3 : ((v >> 10) & 0x1F) << 3;
            rgb.push_back((b << 16) | (g << 8) | r);  // blue first
          }
          bmp.data = testing_bmp::Pack16(values, width, rows, top_down);
        } else {
          for (size_t i = 0; i < count; ++i) {
            rgb.push_back(testing_bmp::PseudoRandom(&seed) & 0xFFFFFF);
          }
          bmp.data = testing_bmp::PackRgb(rgb, width, rows, bits, top_down);
        }
        Decoded d = Decode(testing_bmp::TestBmpBytes(bmp));
        ASSERT_EQ(d.result, 1) << bits << " bits, width " << width << ", top_down " << top_down;
        ASSERT_EQ(d.pixels, Expected(rgb))
            << bits << " bits, width " << width << ", top_down " << top_down;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Damaged files: the result is 0 where the picture is incomplete, and ASan sees every read and
// write (the destination is exactly the picture's size, the source exactly the file's).

Bytes SampleFile(int bits, uint32_t compression = 0) {
  TestBmp bmp;
  bmp.width = 9;
  bmp.height = 5;
  bmp.bits = static_cast<uint16_t>(bits);
  bmp.compression = compression;
  if (bits <= 8) {
    bmp.table = testing_bmp::MakePalette(1 << bits, 4).bytes;
  }
  if (compression != 0) {  // RLE8, or RLE4 with the same escapes
    bmp.data = {9, 1, 0, 0, 0, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 0, 2, 3, 1, 4, 2, 0, 1};
  } else {
    bmp.data.assign(testing_bmp::RowBytes(9, bits) * 5, 0x21);
  }
  return testing_bmp::TestBmpBytes(bmp);
}

// Decodes from a heap block of exactly the file's size.
Decoded DecodeExact(const Bytes& file, uint32_t flags = 0) {
  std::vector<uint8_t> exact(file);
  exact.shrink_to_fit();
  return Decode(exact, flags);
}

TEST(BmpDecode, TruncatedFilesGiveZeroAndStayInside) {
  for (const int bits : {1, 4, 8, 16, 24, 32}) {
    for (const uint32_t compression : {0U, 1U, 2U}) {
      if (compression != 0 && bits != (compression == 1 ? 8 : 4)) {
        continue;
      }
      const Bytes file = SampleFile(bits, compression);
      ASSERT_EQ(DecodeExact(file).result, 1) << bits << " bits, whole file";
      for (size_t length = 0; length < file.size(); ++length) {
        const Bytes cut(file.begin(), file.begin() + static_cast<ptrdiff_t>(length));
        const Decoded d = DecodeExact(cut);
        if (length < 14) {
          EXPECT_EQ(d.accepted, 0) << "length " << length;
        }
        if (d.accepted == 0) {
          continue;
        }
        // A stored row without its padding is still whole; anything shorter is incomplete.
        const bool whole = compression == 0 && file.size() - length < 4 &&
                           (file.size() - length) <= testing_bmp::RowBytes(9, bits) -
                                                         (9 * static_cast<size_t>(bits) + 7) / 8;
        if (!whole) {
          EXPECT_EQ(d.result, 0) << bits << " bits, length " << length;
        }
      }
    }
  }
}

TEST(BmpDecode, DamagedFieldsGiveZeroAndStayInside) {
  const Bytes file = SampleFile(8);
  auto with32 = [&](size_t at, uint32_t value) {
    Bytes bad = file;
    testing_bmp::Put32(&bad, at, value);
    return bad;
  };
  EXPECT_EQ(DecodeExact(with32(10, 0x7FFFFFF0)).result, 0) << "offset past the end";
  EXPECT_EQ(DecodeExact(with32(10, 0x80000000)).accepted, 0) << "negative offset";
  EXPECT_EQ(DecodeExact(with32(10, 20)).accepted, 0) << "offset into the header";
  EXPECT_EQ(DecodeExact(with32(14, 0xFFFFFFF0)).accepted, 0) << "header size wrapping";
  EXPECT_EQ(DecodeExact(with32(46, 0xFFFFFFFF)).result, 1) << "huge colour count: indices fit";
  EXPECT_EQ(DecodeExact(with32(46, 3)).result, 0) << "indices beyond a 3-entry table";
  EXPECT_EQ(DecodeExact(with32(18, 0xFFFFFFFF)).accepted, 0) << "negative width";
  EXPECT_EQ(DecodeExact(with32(18, 0x7FFFFFFF)).accepted, 1);
  // Heights near the 32-bit limits: the rows the data holds come first in the destination with
  // RowsBottomUp (positive height) or without it (negative height), so a few rows suffice here.
  for (const uint32_t height : {0x7FFFFFFFU, 0x80000000U, 0x80000001U}) {
    const Bytes bad = with32(22, height);
    DecodeState state{};
    state.from_memory = 1;
    state.memory = bad.data();
    state.memory_size = static_cast<int32_t>(bad.size());
    ASSERT_EQ(BmpProbe(&state), 1);
    std::vector<uint8_t> rows(6 * 27, kUntouched);
    const uint32_t flags = static_cast<int32_t>(height) > 0 ? RowsBottomUp : 0;
    EXPECT_EQ(BmpDecode(&state, rows.data(), 27, flags), 0) << "height " << height;
    EXPECT_EQ(rows[5 * 27], kUntouched) << "only the five stored rows are written";
    BmpCleanup(&state);
  }

  // Rows that cannot hold the width: refused with nothing written.
  Decoded d;
  d.state.from_memory = 1;
  d.state.memory = file.data();
  d.state.memory_size = static_cast<int32_t>(file.size());
  ASSERT_EQ(BmpProbe(&d.state), 1);
  std::vector<uint8_t> small(5 * 26, kUntouched);
  EXPECT_EQ(BmpDecode(&d.state, small.data(), 26, 0), 0);
  for (const uint8_t byte : small) {
    ASSERT_EQ(byte, kUntouched);
  }
  EXPECT_EQ(BmpDecode(&d.state, nullptr, 27, 0), 0);
  BmpCleanup(&d.state);

  // Every header byte set to a few hostile values: no crash, no read or write outside.
  for (size_t at = 0; at < 54; ++at) {
    for (const uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
      Bytes bad = file;
      bad[at] = value;
      (void)DecodeExact(bad);
    }
  }
}

// At 8 bits, and at 4 (a run's byte then gives two nibbles in turn).
TEST(BmpDecode, DamagedRle8StreamsGiveZero) {
  const testing_bmp::TestPalette palette = testing_bmp::MakePalette(4, 3);
  auto rle = [&](Bytes stream, uint16_t bits = 8) {
    TestBmp bmp;
    bmp.width = 4;
    bmp.height = 3;
    bmp.bits = bits;
    bmp.compression = bits == 8 ? 1 : 2;
    bmp.colours_used = 4;
    bmp.table = palette.bytes;
    bmp.data = std::move(stream);
    return DecodeExact(testing_bmp::TestBmpBytes(bmp));
  };
  EXPECT_EQ(rle({4, 1, 0, 0, 4, 2, 0, 0, 4, 3, 0, 0, 0, 1}).result, 1) << "a line end per row";
  EXPECT_EQ(rle({5, 1, 0, 1}).result, 1) << "a run past the row, clipped";
  EXPECT_EQ(rle({0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 0, 1}).result, 0) << "more line ends than rows";
  EXPECT_EQ(rle({0, 2, 9, 0, 1, 1, 0, 1}).result, 0) << "a delta past the row";
  EXPECT_EQ(rle({0, 2, 0, 9, 1, 1, 0, 1}).result, 0) << "a delta past the picture";
  EXPECT_EQ(rle({0, 5, 1, 2, 3, 3, 0, 0, 0, 1}).result, 1) << "an absolute run past the row";
  EXPECT_EQ(rle({0, 0, 0, 0, 0, 0, 2, 1, 0, 1}).result, 0) << "a run below the last row";
  EXPECT_EQ(rle({0, 4, 1, 2}).result, 0) << "ends inside an absolute run";
  EXPECT_EQ(rle({2, 1, 0}).result, 0) << "ends inside a pair";
  EXPECT_EQ(rle({2, 1, 0, 2, 1}).result, 0) << "ends inside a delta";
  EXPECT_EQ(rle({2, 1}).result, 0) << "no end of bitmap";
  EXPECT_EQ(rle({2, 9, 0, 1}).result, 0) << "an index beyond the table";
  Decoded partial = rle({2, 1, 0, 0, 0, 1});
  EXPECT_EQ(partial.result, 1) << "skipped pixels are not an error";
  // Stopped at a fault, the decode writes nothing of the valid run after it.
  EXPECT_EQ(rle({2, 9, 2, 1, 0, 1}, 4).pixels[4 * 3 * 2 + 3 * 2], kUntouched);
}

}  // namespace
}  // namespace zn
