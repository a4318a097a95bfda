// Cross-checks against independent decoders: files of every supported layout from the test
// generator, decoded by ImageMagick's convert (which handles RLE8 deltas), and files from our
// writer at every depth and width 1 to 33, decoded by Pillow. The deliberate differences are
// allowed for: 1-bit pictures are black and white (the generated ones have that table), 16-bit
// output is blue first with components at the top of their bytes, and alpha is dropped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/images/bmp_test_files.h"
#include "runtime/images/images.h"
#include "system/desktop/images.h"

namespace zn {
namespace {

using testing_bmp::Bytes;
using testing_bmp::ReadFile;
using testing_bmp::TempFolder;
using testing_bmp::TestBmp;

constexpr const char* kConvert = "/usr/bin/convert";
constexpr const char* kPython = "/usr/bin/python3";

void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

bool PillowPresent() {
  return std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
}

struct Ours {
  int32_t result = -1;
  int32_t width = 0;
  int32_t rows = 0;
  Bytes pixels;
};

Ours DecodeOurs(const Bytes& file) {
  Ours ours;
  DecodeState state{};
  state.from_memory = 1;
  state.memory = file.data();
  state.memory_size = static_cast<int32_t>(file.size());
  if (BmpProbe(&state) == 0) {
    return ours;
  }
  ours.width = state.width;
  ours.rows = std::abs(state.height);
  ours.pixels.assign(static_cast<size_t>(ours.width) * ours.rows * 3, 0);
  ours.result = BmpDecode(&state, ours.pixels.data(), ours.width * 3, 0);
  BmpCleanup(&state);
  return ours;
}

struct Generated {
  std::string name;
  Bytes file;
  bool sixteen = false;
};

std::vector<Generated> GenerateLayouts() {
  std::vector<Generated> files;
  uint32_t seed = 17;
  for (const int bits : {1, 4, 8, 16, 24, 32}) {
    for (int32_t width = 1; width <= 5; ++width) {
      for (const bool top_down : {false, true}) {
        for (const bool partial : {false, true}) {
          if (partial && (bits == 1 || bits > 8)) {
            continue;
          }
          const int32_t rows = 3;
          TestBmp bmp;
          bmp.width = width;
          bmp.height = top_down ? -rows : rows;
          bmp.bits = static_cast<uint16_t>(bits);
          const size_t count = static_cast<size_t>(width) * rows;
          if (bits <= 8) {
            const int entries = partial ? 3 : 1 << bits;
            testing_bmp::TestPalette palette = testing_bmp::MakePalette(entries, seed);
            if (bits == 1) {
              palette.bytes = {0, 0, 0, 0, 255, 255, 255, 0};
            }
            bmp.table = palette.bytes;
            bmp.colours_used = partial ? static_cast<uint32_t>(entries) : 0;
            std::vector<uint8_t> indices;
            for (size_t i = 0; i < count; ++i) {
              indices.push_back(static_cast<uint8_t>(testing_bmp::PseudoRandom(&seed) % entries));
            }
            bmp.data = testing_bmp::PackIndices(indices, width, rows, bits, top_down);
          } else if (bits == 16) {
            bmp.compression = width % 2 == 0 ? 3 : 0;
            if (bmp.compression == 3) {
              bmp.header_size = 40;
              // The masks that a bit-field file carries behind its header: 5-6-5.
              bmp.table = {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
            }
            std::vector<uint16_t> values;
            for (size_t i = 0; i < count; ++i) {
              values.push_back(static_cast<uint16_t>(testing_bmp::PseudoRandom(&seed) & 0x7FFF));
            }
            bmp.data = testing_bmp::Pack16(values, width, rows, top_down);
          } else {
            std::vector<uint32_t> rgb;
            for (size_t i = 0; i < count; ++i) {
              rgb.push_back(testing_bmp::PseudoRandom(&seed));
            }
            bmp.data = testing_bmp::PackRgb(rgb, width, rows, bits, top_down, 0);
          }
          files.push_back({"gen_" + std::to_string(bits) + "_" + std::to_string(width) +
                               (top_down ? "_td" : "") + (partial ? "_part" : "") + ".bmp",
                           testing_bmp::TestBmpBytes(bmp), bits == 16});
        }
      }
    }
  }
  // RLE8 and RLE4: deltas, line ends, odd absolute runs; entry 0 black, so that pixels skipped by
  // a delta look alike in both decoders. The RLE4 ones are made like the BMP Suite's pal4rle (odd
  // absolute runs, runs of two nibbles) and pal4rletrns (deltas over pixels and whole rows).
  testing_bmp::TestPalette palette = testing_bmp::MakePalette(8, 5);
  palette.bytes[0] = palette.bytes[1] = palette.bytes[2] = 0;
  const std::vector<Bytes> streams = {
      {3, 5, 0, 0, 2, 7, 0, 0, 6, 1, 0, 0, 6, 2, 0, 1},
      {0, 2, 2, 1, 1, 3, 0, 3, 4, 6, 1, 0, 0, 0, 6, 2, 0, 0, 2, 4, 0, 0, 0, 1},
      {0, 5, 1, 2, 3, 4, 5, 0, 1, 7, 0, 0, 0, 4, 7, 6,
       5, 4, 2, 1, 0, 0, 0, 2, 1, 1, 3, 3, 0, 0, 0, 1},
      // RLE4 from here on.
      {3,    0x12, 0, 3,    0x34, 0x50, 0, 0,    6, 0x56, 0, 0, 0, 5,    0x71, 0x23,
       0x40, 0,    1, 0x60, 0,    0,    2, 0x77, 0, 2,    2, 0, 2, 0x11, 0,    1},
      {0, 2, 1, 1, 5, 0x23, 0, 0, 0, 2, 0, 1, 0, 3, 0x45, 0x60, 3, 0x12, 0, 1},
  };
  for (size_t s = 0; s < streams.size(); ++s) {
    TestBmp bmp;
    bmp.width = 6;
    bmp.height = 4;
    bmp.bits = s < 3 ? 8 : 4;
    bmp.compression = s < 3 ? 1 : 2;
    bmp.colours_used = 8;
    bmp.table = palette.bytes;
    bmp.data = streams[s];
    files.push_back({"rle8_" + std::to_string(s) + ".bmp", testing_bmp::TestBmpBytes(bmp), false});
  }
  return files;
}

TEST(BmpDecodeCrossCheck, AgreesWithImageMagickOnEveryLayout) {
  if (access(kConvert, X_OK) != 0) {
    GTEST_SKIP() << "ImageMagick's convert is not installed";
  }
  TempFolder folder;
  for (const Generated& generated : GenerateLayouts()) {
    const std::string path = folder.File(generated.name);
    const std::string raw = path + ".rgb";
    WriteAll(path, generated.file);
    std::string command = kConvert;
    command.append(" ").append(path).append(" -depth 8 rgb:").append(raw);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const Bytes reference = ReadFile(raw);
    const Ours ours = DecodeOurs(generated.file);
    ASSERT_EQ(ours.result, 1) << generated.name;
    ASSERT_EQ(reference.size(), ours.pixels.size()) << generated.name;
    for (size_t i = 0; i < reference.size(); i += 3) {
      for (size_t c = 0; c < 3; ++c) {
        if (generated.sixteen) {
          // Blue first; 5- or 6-bit components at the top of the byte against a scaled one.
          const uint8_t ref = reference[i + 2 - c];
          // A scaled value lies less than 8 above ours, so the top 5 bits agree (6-bit green
          // included: ours is 4g, the scaled one at most 4g + 3).
          ASSERT_EQ(ours.pixels[i + c] >> 3, ref >> 3)
              << generated.name << " pixel " << i / 3 << " channel " << c;
        } else {
          ASSERT_EQ(ours.pixels[i + c], reference[i + c])
              << generated.name << " pixel " << i / 3 << " channel " << c;
        }
      }
    }
  }
}

TEST(BmpSaveCrossCheck, PillowReadsWhatWeWriteAtEveryDepth) {
  if (!PillowPresent()) {
    GTEST_SKIP() << "python3-pil is not installed";
  }
  TempFolder folder;
  std::vector<std::string> names;
  std::vector<Bytes> files;
  uint32_t seed = 3;
  for (const int32_t depth : {1, 4, 8, 24, 32}) {
    for (int32_t width = 1; width <= 33; ++width) {
      for (const int32_t height : {1, 4}) {
        const int32_t layout = width % 2 == 0 ? 32 : 24;
        Bytes pixels(static_cast<size_t>(width) * height * (layout / 8));
        for (size_t i = 0; i < pixels.size(); ++i) {
          pixels[i] = layout == 32 && i % 4 == 3
                          ? 255
                          : static_cast<uint8_t>(testing_bmp::PseudoRandom(&seed));
        }
        const std::string name =
            folder.File("w" + std::to_string(width) + "_h" + std::to_string(height) + "_d" +
                        std::to_string(depth) + ".bmp");
        ASSERT_EQ(BmpSave(name.c_str(), pixels.data(), width, height, width * (layout / 8), 0, 0,
                          depth, layout),
                  1)
            << name;
        names.push_back(name);
      }
    }
  }
  // One Python run converts every file to raw RGB beside it.
  const std::string list = folder.File("list.txt");
  {
    std::ofstream out(list);
    for (const std::string& name : names) {
      out << name << "\n";
    }
  }
  const std::string command =
      std::string(kPython) +
      " -c \"import sys; from PIL import Image\n"
      "for n in open(sys.argv[1]).read().split():\n"
      "  open(n + '.rgb', 'wb').write(Image.open(n).convert('RGB').tobytes())\" " +
      list;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  for (const std::string& name : names) {
    const Ours ours = DecodeOurs(ReadFile(name));
    ASSERT_EQ(ours.result, 1) << name;
    EXPECT_EQ(ReadFile(name + ".rgb"), ours.pixels) << name;
  }
}

// Bit-field, OS/2 1.x and run-length files through ImageLoad, against ImageMagick and Pillow where
// each reads the layout (Pillow knows only a few mask sets and no 56-byte header). Both witnesses
// widen a w-bit channel to the full range (Pillow repeats the top bits, ImageMagick scales); our
// rule shifts it left with the low bits zero. Their top w bits are the stored value either way, so
// the witness's output is compared after applying our rule to it: each channel cut to its top w
// bits. (ImageMagick 6.9 gives 6-bit channels of 32-bit pixels one step low at times, so that
// layout is checked against the reference rule of the unit tests only.)
struct WitnessCase {
  std::string name;
  Bytes file;
  std::vector<uint32_t> widths;  // bits of red, green, blue, alpha; 0 for alpha: none (255)
  bool pillow;                   // Pillow reads this layout
  bool magick = true;            // so does ImageMagick (it misreads its own RLE8 below width 3)
};

Bytes MaskedFile(uint16_t bits, uint32_t header_size, const std::vector<uint32_t>& masks,
                 uint32_t* seed) {
  TestBmp bmp;
  bmp.width = 7;
  bmp.height = 5;
  bmp.bits = bits;
  bmp.compression = 3;
  bmp.header_size = header_size;
  if (header_size == 40) {
    bmp.table = testing_bmp::MaskBytes(masks);
  }
  bmp.data.resize(testing_bmp::RowBytes(7, bits) * 5);
  for (uint8_t& byte : bmp.data) {
    byte = static_cast<uint8_t>(testing_bmp::PseudoRandom(seed));
  }
  Bytes file = testing_bmp::TestBmpBytes(bmp);
  for (size_t i = 0; header_size > 40 && i < masks.size(); ++i) {
    testing_bmp::Put32(&file, 54 + 4 * i, masks[i]);
  }
  return file;
}

// RLE4 of random runs of two nibbles (one at the end of an odd row), a line end after each row.
Bytes Rle4File(int32_t width, uint32_t* seed) {
  TestBmp bmp{width, 3, 4, 2, 0, testing_bmp::MakePalette(16, *seed).bytes, {}};
  for (int32_t row = 0; row < 3; ++row) {
    for (int32_t x = 0; x < width; x += 2) {
      bmp.data.insert(bmp.data.end(), {static_cast<uint8_t>(x + 1 < width ? 2 : 1),
                                       static_cast<uint8_t>(testing_bmp::PseudoRandom(seed))});
    }
    bmp.data.insert(bmp.data.end(), {0, 0});
  }
  bmp.data.insert(bmp.data.end(), {0, 1});
  return testing_bmp::TestBmpBytes(bmp);
}

std::vector<WitnessCase> WitnessCases(const TempFolder& folder) {
  uint32_t seed = 23;
  std::vector<WitnessCase> cases = {
      {"rgb16 5-5-5 masks", MaskedFile(16, 40, {0x7C00, 0x3E0, 0x1F}, &seed), {5, 5, 5, 0}, true},
      {"rgb16 5-6-5", MaskedFile(16, 40, {0xF800, 0x7E0, 0x1F}, &seed), {5, 6, 5, 0}, true},
      {"rgb16 2-3-1", MaskedFile(16, 40, {0xC0, 0x38, 0x4}, &seed), {2, 3, 1, 0}, false},
      {"rgba16 4-4-4-4 V5",
       MaskedFile(16, 124, {0xF00, 0xF0, 0xF, 0xF000}, &seed),
       {4, 4, 4, 4},
       false},
      {"rgb32 moved up V4",
       MaskedFile(32, 108, {0xFF000000, 0xFF0000, 0xFF00, 0}, &seed),
       {8, 8, 8, 0},
       true},
      {"rgba32 V5",
       MaskedFile(32, 124, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, &seed),
       {8, 8, 8, 8},
       true},
      {"rgba32 V3",
       MaskedFile(32, 56, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, &seed),
       {8, 8, 8, 8},
       false},
  };
  for (const uint16_t bits : {1, 4, 8, 24}) {
    Bytes table;
    for (int k = 0; bits <= 8 && k < (1 << bits); ++k) {
      const uint8_t grey = bits == 1 ? static_cast<uint8_t>(k * 255) : 0;
      const uint32_t rgb = testing_bmp::PseudoRandom(&seed);
      table.push_back(bits == 1 ? grey : static_cast<uint8_t>(rgb));
      table.push_back(bits == 1 ? grey : static_cast<uint8_t>(rgb >> 8));
      table.push_back(bits == 1 ? grey : static_cast<uint8_t>(rgb >> 16));
    }
    Bytes data(testing_bmp::RowBytes(9, bits) * 4);
    for (uint8_t& byte : data) {
      byte = static_cast<uint8_t>(testing_bmp::PseudoRandom(&seed));
    }
    cases.push_back({"os2 " + std::to_string(bits) + " bits",
                     testing_bmp::TestCoreBmpBytes(9, 4, bits, table, data),
                     {8, 8, 8, 0},
                     true});
  }
  // ImageMagick pads the runs of each RLE8 row to the stored width; they are clipped.
  for (int32_t width = 1; width <= 17; ++width) {
    const std::string path = folder.File(std::to_string(width) + ".rle8");
    const std::string size = " -size " + std::to_string(width) + "x5 -seed 1 plasma:fractal";
    EXPECT_EQ(std::system((kConvert + size + " -colors 12 -compress RLE BMP3:" + path).c_str()), 0);
    cases.push_back({path, ReadFile(path), {8, 8, 8, 0}, true, width > 2});
    EXPECT_EQ(cases.back().file.at(30), 1) << path << " is run-length coded";
    cases.push_back({"rle4 " + std::to_string(width), Rle4File(width, &seed), {8, 8, 8, 0}, true});
  }
  return cases;
}

TEST(ImageLoadCrossCheck, MasksAndOs2AgreeWithBothWitnessesUnderOurRule) {
  if (access(kConvert, X_OK) != 0 || !PillowPresent()) {
    GTEST_SKIP() << "ImageMagick's convert or python3-pil is not installed";
  }
  DecodeStateInit();
  BmpCodecRegister();
  ImageLibraryInit();
  TempFolder folder;
  const std::vector<WitnessCase> cases = WitnessCases(folder);
  std::string names;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string path = folder.File("case" + std::to_string(i) + ".bmp");
    WriteAll(path, cases[i].file);
    std::string command = kConvert;
    command.append(" ").append(path).append(" -depth 8 rgba:").append(path).append(".magick");
    ASSERT_EQ(std::system(command.c_str()), 0) << cases[i].name;
    names.append(path).append(" ");
  }
  // Pillow writes what it can read; a layout it refuses leaves no output.
  const std::string command =
      std::string(kPython) +
      " -c \"import sys; from PIL import Image\n"
      "for n in sys.argv[1:]:\n"
      "  try: open(n + '.pillow', 'wb').write(Image.open(n).convert('RGBA').tobytes())\n"
      "  except OSError: pass\" " +
      names;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  for (size_t i = 0; i < cases.size(); ++i) {
    const WitnessCase& c = cases[i];
    const std::string path = folder.File("case" + std::to_string(i) + ".bmp");
    const ImageRecord* image = ImageLoad(AnyId, path.c_str());
    ASSERT_NE(image, nullptr) << c.name;
    const uint8_t* ours = image->bitmap->bitmapData();
    const size_t bytes = size_t{4} * image->width * image->height;
    for (const char* witness : {".magick", ".pillow"}) {
      const Bytes theirs = ReadFile(path + witness);
      if (std::string(witness) == ".pillow" && !c.pillow) {
        EXPECT_TRUE(theirs.empty()) << c.name << ": Pillow reads this layout now";
        continue;
      }
      if (std::string(witness) == ".magick" && !c.magick) {
        continue;
      }
      ASSERT_EQ(theirs.size(), bytes) << c.name << witness;
      for (size_t b = 0; b < bytes; ++b) {
        const uint32_t width = c.widths[b % 4];
        const uint32_t expected = width == 0 ? 255U : (theirs[b] >> (8 - width)) << (8 - width);
        ASSERT_EQ(ours[b], expected)
            << c.name << witness << " pixel " << b / 4 << " channel " << b % 4;
      }
    }
    ImageFree(reinterpret_cast<int64_t>(image));
  }
}

}  // namespace
}  // namespace zn
