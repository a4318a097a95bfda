// Tests of the BMP writer: header fields, strides and offsets, colour over white, row order,
// memory output, round trips through the reader at every depth, refused sizes, and failed saves
// that must leave an existing file as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "runtime/images/bmp_test_files.h"
#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"
#include "tests/support/checking_heap.h"
#include "tests/support/heap_checks.h"
#include "tests/support/pty_child.h"

namespace zn {
namespace {

using Bytes = std::vector<uint8_t>;

using testing_bmp::ReadFile;
using testing_bmp::TempFolder;

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

uint32_t Field32(const Bytes& file, size_t at) {
  return BmpRead32(file.data(), file.size(), at);
}
uint32_t Field16(const Bytes& file, size_t at) {
  return BmpRead16(file.data(), file.size(), at);
}

// Saves to memory and returns the block's bytes (the block freed).
Bytes SaveToMemory(const void* pixels, int32_t width, int32_t height, int32_t bytes_per_row,
                   uint32_t row_flags, uint32_t palette_flags, int32_t depth, int32_t layout) {
  const int64_t address = BmpSave(nullptr, pixels, width, height, bytes_per_row, row_flags,
                                  palette_flags, depth, layout);
  if (address == 0) {
    return {};
  }
  auto* block = std::bit_cast<uint8_t*>(address);
  Bytes bytes(block, block + SizedSizeOf(block));
  MemoryBlockFree(block);
  return bytes;
}

Bytes RgbPicture(int32_t width, int32_t height, int32_t channels, uint32_t seed) {
  Bytes pixels(static_cast<size_t>(width) * height * channels);
  for (uint8_t& byte : pixels) {
    byte = static_cast<uint8_t>(testing_bmp::PseudoRandom(&seed));
  }
  if (channels == 4) {
    for (size_t i = 3; i < pixels.size(); i += 4) {
      pixels[i] = 255;
    }
  }
  return pixels;
}

// Decodes a file's bytes with our reader; rows top row first.
Bytes DecodeBytes(const Bytes& file, int32_t* result = nullptr) {
  DecodeState state{};
  state.from_memory = 1;
  state.memory = file.data();
  state.memory_size = static_cast<int32_t>(file.size());
  if (BmpProbe(&state) == 0) {
    return {};
  }
  Bytes out(static_cast<size_t>(state.width) * std::abs(state.height) * 3);
  const int32_t r = BmpDecode(&state, out.data(), state.width * 3, 0);
  if (result != nullptr) {
    *result = r;
  }
  BmpCleanup(&state);
  return out;
}

TEST(BmpSave, StridesOffsetsAndHeaderFields) {
  struct Case {
    int32_t width;
    int32_t depth;
    uint32_t stride;
    uint32_t offset;
  };
  const Case cases[] = {{3, 24, 12, 54}, {3, 32, 12, 54}, {10, 1, 4, 62},
                        {5, 4, 4, 118},  {5, 8, 8, 1078}, {1, 1, 4, 62},
                        {33, 1, 8, 62},  {9, 4, 8, 118},  {1, 24, 4, 54}};
  for (const Case& c : cases) {
    const Bytes pixels = RgbPicture(c.width, 2, 3, 1);
    const Bytes file = SaveToMemory(pixels.data(), c.width, 2, c.width * 3, 0, 0, c.depth, 24);
    ASSERT_FALSE(file.empty()) << "width " << c.width << " depth " << c.depth;
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Field32(file, 2), c.offset + 2 * c.stride) << "bfSize, depth " << c.depth;
    EXPECT_EQ(file.size(), c.offset + 2 * c.stride) << "the block is bfSize long";
    EXPECT_EQ(Field32(file, 6), 0U);
    EXPECT_EQ(Field32(file, 10), c.offset) << "depth " << c.depth;
    EXPECT_EQ(Field32(file, 14), 40U);
    EXPECT_EQ(Field32(file, 18), static_cast<uint32_t>(c.width));
    EXPECT_EQ(Field32(file, 22), 2U);
    EXPECT_EQ(Field16(file, 26), 1U);
    EXPECT_EQ(Field16(file, 28), static_cast<uint32_t>(c.depth));
    EXPECT_EQ(Field32(file, 30), 0U);
    EXPECT_EQ(Field32(file, 34), 2 * c.stride) << "biSizeImage, depth " << c.depth;
    for (const size_t at : {38, 42, 46, 50}) {
      EXPECT_EQ(Field32(file, at), 0U) << at;
    }
  }
  const Bytes pixels = RgbPicture(3, 2, 3, 1);
  EXPECT_EQ(SaveToMemory(pixels.data(), 3, 2, 9, 0, 0, 24, 24).size(), 78U);
}

TEST(BmpSave, DepthOneTableAndThirtyTwoBitColourOverWhite) {
  const Bytes black_white(10 * 3, 0);
  const Bytes file = SaveToMemory(black_white.data(), 10, 1, 30, 0, 0, 1, 24);
  ASSERT_EQ(file.size(), 66U);
  EXPECT_EQ(Bytes(file.begin() + 54, file.begin() + 62), (Bytes{0, 0, 0, 0, 255, 255, 255, 0}));

  const Bytes pixels = {255, 0, 0, 0, 10, 20, 30, 255, 200, 100, 50, 128};
  const Bytes out = SaveToMemory(pixels.data(), 3, 1, 12, 0, 0, 32, 32);
  ASSERT_EQ(out.size(), 66U);
  const Bytes row(out.begin() + 54, out.end());
  // Transparent red is white; opaque stays; half-transparent is laid over white, rounding down.
  EXPECT_EQ(row, (Bytes{255, 255, 255, 0, 30, 20, 10, 0, (50 * 128 + 127 * 255) / 255,
                        (100 * 128 + 127 * 255) / 255, (200 * 128 + 127 * 255) / 255, 0}));
}

TEST(BmpSave, RowOrderFollowsTheRowFlags) {
  const Bytes pixels = {1, 2, 3, 4, 5, 6};  // one pixel per row, two rows
  const Bytes plain = SaveToMemory(pixels.data(), 1, 2, 3, 0, 0, 24, 24);
  ASSERT_EQ(plain.size(), 62U);
  EXPECT_EQ(Bytes(plain.begin() + 54, plain.end()), (Bytes{6, 5, 4, 0, 3, 2, 1, 0}))
      << "the last source row comes first";
  const Bytes kept = SaveToMemory(pixels.data(), 1, 2, 3, RowsBottomUp, 0, 24, 24);
  EXPECT_EQ(Bytes(kept.begin() + 54, kept.end()), (Bytes{3, 2, 1, 0, 6, 5, 4, 0}));
}

// The file the writer must produce at depth 24 or 32, built the plain way: one pixel at a time,
// headers field by field, colour over white by division.
Bytes ReferenceDirectFile(const Bytes& pixels, int32_t width, int32_t height, int32_t bytes_per_row,
                          uint32_t row_flags, int32_t depth, int32_t layout) {
  const size_t stride = (static_cast<size_t>(width) * depth / 8 + 3) / 4 * 4;
  const size_t size = 54 + stride * height;
  Bytes file(size, 0);
  auto put = [&file](size_t at, uint32_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) {
      file[at + k] = static_cast<uint8_t>(value >> (8 * k));
    }
  };
  put(0, 0x4D42, 2);
  put(2, static_cast<uint32_t>(size), 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, static_cast<uint32_t>(width), 4);
  put(22, static_cast<uint32_t>(height), 4);
  put(26, 1, 2);
  put(28, static_cast<uint32_t>(depth), 2);
  put(34, static_cast<uint32_t>(stride * height), 4);
  const int32_t channels = layout / 8;
  for (int32_t i = 0; i < height; ++i) {
    const int32_t source_row = (row_flags & RowsBottomUp) != 0 ? i : height - 1 - i;
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* p = &pixels[static_cast<size_t>(source_row) * bytes_per_row + x * channels];
      uint8_t* q = &file[54 + stride * i + static_cast<size_t>(x) * depth / 8];
      for (int c = 0; c < 3; ++c) {
        const uint32_t colour = p[2 - c];
        if (channels == 3) {
          q[c] = static_cast<uint8_t>(colour);
        } else {
          const uint32_t alpha = p[3];
          q[c] = static_cast<uint8_t>((colour * alpha + (255 - alpha) * 255) / 255);
        }
      }
    }
  }
  return file;
}

TEST(BmpSave, DirectDepthsMatchAPlainEncoderByteForByte) {
  TempFolder folder;
  uint32_t seed = 77;
  const int32_t widths[] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 18, 19, 31, 33, 34, 35, 64, 101};
  for (const int32_t width : widths) {
    for (const int32_t layout : {24, 32}) {
      for (const int32_t depth : {24, 32}) {
        for (const uint32_t row_flags : {0U, static_cast<uint32_t>(RowsBottomUp)}) {
          const int32_t height = 1 + static_cast<int32_t>(testing_bmp::PseudoRandom(&seed) % 6);
          // Source rows with slack behind them, which the writer must skip, not copy.
          const int32_t slack = static_cast<int32_t>(testing_bmp::PseudoRandom(&seed) % 5);
          const int32_t bytes_per_row = width * layout / 8 + slack;
          Bytes pixels(static_cast<size_t>(bytes_per_row) * height);
          for (uint8_t& byte : pixels) {
            const uint32_t draw = testing_bmp::PseudoRandom(&seed);
            // Alphas of 0 and 255 often enough to meet the ends of the formula.
            byte = static_cast<uint8_t>(draw % 7 == 0 ? 0 : draw % 7 == 1 ? 255 : draw >> 4);
          }
          const std::string what = "width " + std::to_string(width) + " layout " +
                                   std::to_string(layout) + " depth " + std::to_string(depth) +
                                   " flags " + std::to_string(row_flags);
          const Bytes expected =
              ReferenceDirectFile(pixels, width, height, bytes_per_row, row_flags, depth, layout);
          EXPECT_EQ(SaveToMemory(pixels.data(), width, height, bytes_per_row, row_flags, 0, depth,
                                 layout),
                    expected)
              << "memory, " << what;
          const std::string name = folder.File("direct.bmp");
          ASSERT_EQ(BmpSave(name.c_str(), pixels.data(), width, height, bytes_per_row, row_flags, 0,
                            depth, layout),
                    1)
              << what;
          EXPECT_EQ(ReadFile(name), expected) << "file, " << what;
        }
      }
    }
  }
}

// A heap that hands out one block made and touched in advance, so that a save writes into pages
// already in memory, as a program that reuses its blocks has them.
struct TouchedBlockHeap {
  static inline void* kept = nullptr;
  static inline size_t kept_bytes = 0;
  static void* Alloc(size_t bytes) {
    if (kept != nullptr && bytes <= kept_bytes) {
      return std::exchange(kept, nullptr);
    }
    return std::malloc(bytes);
  }
  static void* Resize(void* block, size_t bytes) { return std::realloc(block, bytes); }
  static void Release(void* block) { std::free(block); }
};

TEST(BmpSave, LargeSaveIntoPagesInMemoryMatchesAPlainEncoder) {
  // Over 32 MiB of rows with one padding byte each, into a fresh block and into a touched one
  // (where the rows may be streamed past the cache).
  constexpr int32_t kWidth = 4001;
  constexpr int32_t kHeight = 2800;
  const Bytes pixels = RgbPicture(kWidth, kHeight, 3, 91);
  for (const uint32_t row_flags : {0U, static_cast<uint32_t>(RowsBottomUp)}) {
    const Bytes expected =
        ReferenceDirectFile(pixels, kWidth, kHeight, kWidth * 3, row_flags, 24, 24);
    EXPECT_TRUE(SaveToMemory(pixels.data(), kWidth, kHeight, kWidth * 3, row_flags, 0, 24, 24) ==
                expected)
        << "fresh block, flags " << row_flags;
    TouchedBlockHeap::kept_bytes = expected.size() + kSizedHeaderBytes;
    TouchedBlockHeap::kept = std::malloc(TouchedBlockHeap::kept_bytes);
    ASSERT_NE(TouchedBlockHeap::kept, nullptr);
    std::memset(TouchedBlockHeap::kept, 0xEE, TouchedBlockHeap::kept_bytes);
    const MemoryHeap heap{TouchedBlockHeap::Alloc, TouchedBlockHeap::Resize,
                          TouchedBlockHeap::Release};
    MemoryHeapSet(&heap);
    const int64_t address =
        BmpSave(nullptr, pixels.data(), kWidth, kHeight, kWidth * 3, row_flags, 0, 24, 24);
    const bool used = TouchedBlockHeap::kept == nullptr;
    auto* block = std::bit_cast<uint8_t*>(address);
    const bool same = block != nullptr &&
                      static_cast<size_t>(SizedSizeOf(block)) == expected.size() &&
                      std::memcmp(block, expected.data(), expected.size()) == 0;
    MemoryBlockFree(block);
    std::free(TouchedBlockHeap::kept);
    TouchedBlockHeap::kept = nullptr;
    test::CheckingHeapInstall();
    EXPECT_TRUE(used) << "the touched block was not taken, flags " << row_flags;
    EXPECT_TRUE(same) << "touched block, flags " << row_flags;
  }
}

TEST(BmpSave, ColourOverWhiteForEveryColourAndAlpha) {
  // Row y holds alpha y; pixel x holds red x, green 255 - x, blue x ^ y: every colour byte meets
  // every alpha.
  Bytes pixels(256 * 256 * 4);
  for (int32_t y = 0; y < 256; ++y) {
    for (int32_t x = 0; x < 256; ++x) {
      uint8_t* p = &pixels[(static_cast<size_t>(y) * 256 + x) * 4];
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(255 - x);
      p[2] = static_cast<uint8_t>(x ^ y);
      p[3] = static_cast<uint8_t>(y);
    }
  }
  for (const int32_t depth : {24, 32}) {
    const Bytes file = SaveToMemory(pixels.data(), 256, 256, 1024, RowsBottomUp, 0, depth, 32);
    ASSERT_EQ(file.size(), 54U + 256U * 256U * depth / 8) << depth;
    int32_t wrong = 0;
    for (int32_t y = 0; y < 256 && wrong < 5; ++y) {
      for (int32_t x = 0; x < 256 && wrong < 5; ++x) {
        const uint8_t* p = &pixels[(static_cast<size_t>(y) * 256 + x) * 4];
        const uint8_t* q = &file[54 + (static_cast<size_t>(y) * 256 + x) * depth / 8];
        for (int c = 0; c < 3; ++c) {
          const uint32_t colour = p[2 - c];
          const uint32_t alpha = p[3];
          const uint32_t over = (colour * alpha + (255 - alpha) * 255) / 255;
          if (q[c] != over) {
            ADD_FAILURE() << "depth " << depth << " colour " << colour << " alpha " << alpha << ": "
                          << int{q[c]} << ", not " << over;
            ++wrong;
          }
        }
        if (depth == 32 && q[3] != 0) {
          ADD_FAILURE() << "fourth byte " << int{q[3]} << " at " << x << ", " << y;
          ++wrong;
        }
      }
    }
  }
}

TEST(BmpSave, RefusesDepthsAndSizesAndCreatesNothing) {
  TempFolder folder;
  const Bytes pixels = RgbPicture(4, 4, 4, 2);
  const std::string name = folder.File("refused.bmp");
  for (const int32_t depth : {0, 2, 16, 15, 64}) {
    EXPECT_EQ(BmpSave32(name.c_str(), pixels.data(), 4, 4, 16, 0, 0, depth), 0) << depth;
  }
  EXPECT_EQ(BmpSave32(name.c_str(), pixels.data(), 0, 4, 16, 0, 0, 24), 0);
  EXPECT_EQ(BmpSave32(name.c_str(), pixels.data(), 4, -1, 16, 0, 0, 24), 0);
  EXPECT_EQ(BmpSave32(name.c_str(), nullptr, 4, 4, 16, 0, 0, 24), 0);
  EXPECT_EQ(BmpSave(name.c_str(), pixels.data(), 4, 4, 16, 0, 0, 24, 16), 0);
  // Over 4 GiB: refused before anything is read or allocated.
  EXPECT_EQ(BmpSave24(name.c_str(), pixels.data(), 40000, 40000, 120000, 0, 0, 24), 0);
  EXPECT_EQ(BmpSave24(nullptr, pixels.data(), 0x7FFFFFFF, 3, 0, 0, 0, 8), 0);
  EXPECT_EQ(folder.Count(), 0U) << "no file, no temporary file";
}

TEST(BmpSave, MemoryAndFileOutputAgreeAndLeaveNothingBehind) {
  TempFolder folder;
  const test::LiveBlockGuard live;
  const Bytes pixels = RgbPicture(13, 7, 4, 3);
  for (const int32_t depth : {1, 4, 8, 24, 32}) {
    const std::string name = folder.File("same.bmp");
    ASSERT_EQ(BmpSave32(name.c_str(), pixels.data(), 13, 7, 52, 0, 0, depth), 1) << depth;
    EXPECT_EQ(ReadFile(name), SaveToMemory(pixels.data(), 13, 7, 52, 0, 0, depth, 32)) << depth;
  }
  EXPECT_EQ(folder.Count(), 1U) << "the temporary file is renamed, not left beside";
  EXPECT_EQ(live.Change(), 0);
  const std::string failing = folder.File("fail.bmp");  // made before the heap refuses
  for (int64_t successes = 0; successes < 4; ++successes) {
    test::HeapFailAfter(successes);
    const int64_t file = BmpSave32(failing.c_str(), pixels.data(), 13, 7, 52, 0, 0, 8);
    const int64_t memory = BmpSave32(nullptr, pixels.data(), 13, 7, 52, 0, 0, 24);
    test::HeapFailNever();
    if (memory != 0) {
      MemoryBlockFree(std::bit_cast<void*>(memory));
    }
    EXPECT_EQ(file == 0, !std::filesystem::exists(failing)) << successes;
    std::filesystem::remove(failing);
    EXPECT_EQ(live.Change(), 0) << "after " << successes << " successes";
  }
  EXPECT_EQ(folder.Count(), 1U);
}

// Round trips at every depth and many widths, through our reader.
TEST(BmpSave, RoundTripsThroughTheReader) {
  TempFolder folder;
  for (const int32_t depth : {1, 4, 8, 24, 32}) {
    for (int32_t width = 1; width <= 33; ++width) {
      for (const int32_t height : {1, 2, 5}) {
        const int32_t layout = (width + height) % 2 == 0 ? 24 : 32;
        const int32_t channels = layout / 8;
        const Bytes pixels = RgbPicture(width, height, channels, width * 31 + height);
        const std::string where = "depth " + std::to_string(depth) + " width " +
                                  std::to_string(width) + " height " + std::to_string(height);
        const std::string name = folder.File("round.bmp");
        ASSERT_EQ(BmpSave(name.c_str(), pixels.data(), width, height, width * channels, 0, 0, depth,
                          layout),
                  1)
            << where;
        const Bytes file = ReadFile(name);
        ASSERT_EQ(file,
                  SaveToMemory(pixels.data(), width, height, width * channels, 0, 0, depth, layout))
            << where;
        int32_t result = 0;
        const Bytes decoded = DecodeBytes(file, &result);
        ASSERT_EQ(result, 1) << where;
        const uint32_t offset = Field32(file, 10);
        const size_t stride = (file.size() - offset) / height;
        for (int32_t y = 0; y < height; ++y) {
          const uint8_t* row = &file[offset + (height - 1 - y) * stride];
          for (int32_t x = 0; x < width; ++x) {
            const uint8_t* got = &decoded[(static_cast<size_t>(y) * width + x) * 3];
            if (depth >= 24) {
              const uint8_t* want = &pixels[(static_cast<size_t>(y) * width + x) * channels];
              ASSERT_EQ(std::memcmp(got, want, 3), 0) << where << " pixel " << x << "," << y;
            } else {
              const size_t bit = static_cast<size_t>(x) * depth;
              const uint32_t index = (row[bit / 8] >> (8 - depth - bit % 8)) & ((1U << depth) - 1);
              const uint8_t* entry = &file[54 + 4 * index];
              if (depth == 1) {
                ASSERT_EQ(got[0], index != 0 ? 255 : 0) << where;
              } else {
                const uint8_t want[3] = {entry[2], entry[1], entry[0]};
                ASSERT_EQ(std::memcmp(got, want, 3), 0) << where << " pixel " << x << "," << y;
              }
            }
          }
          // Padding: every bit behind the last pixel of the row is zero.
          const size_t used_bits = static_cast<size_t>(width) * depth;
          for (size_t bit = used_bits; bit < stride * 8; ++bit) {
            ASSERT_EQ((row[bit / 8] >> (7 - bit % 8)) & 1, 0)
                << where << " row " << y << " padding bit " << bit;
          }
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Failed saves keep the existing file byte for byte.

// Runs `body` in a child process and returns its exit status (-1 if it did not exit).
int InChild(const std::function<int()>& body) {
  test::PtyChild child(body);
  const int status = child.WaitEnd();
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(BmpSave, FileSizeLimitKeepsTheExistingFile) {
  TempFolder folder;
  const std::string name = folder.File("keep.bmp");
  Bytes old_bytes(5000);
  for (size_t i = 0; i < old_bytes.size(); ++i) {
    old_bytes[i] = static_cast<uint8_t>(i * 7);
  }
  WriteFile(name, old_bytes);
  const Bytes pixels = RgbPicture(64, 64, 3, 4);
  for (const int32_t depth : {8, 24}) {
    for (const rlim_t limit : {rlim_t{0}, rlim_t{40}, rlim_t{2000}}) {
      // SIGXFSZ keeps its default action, which would end the child half-way through a write.
      const int status = InChild([&] {
        const rlimit small{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &small) != 0) {
          return 3;
        }
        return static_cast<int>(BmpSave24(name.c_str(), pixels.data(), 64, 64, 192, 0, 0, depth));
      });
      EXPECT_EQ(status, 0) << "the save fails, depth " << depth << " limit " << limit;
      EXPECT_EQ(ReadFile(name), old_bytes) << "depth " << depth << " limit " << limit;
      EXPECT_EQ(folder.Count(), 1U) << "the temporary file is removed";
    }
  }
}

TEST(BmpSave, NoTemporaryFileKeepsTheExistingFile) {
  TempFolder folder;
  const std::string name = folder.File("keep.bmp");
  const Bytes old_bytes = {'o', 'l', 'd'};
  WriteFile(name, old_bytes);
  const Bytes pixels = RgbPicture(8, 8, 3, 5);
  // No descriptor left for the temporary file.
  const int status = InChild([&] {
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_NOFILE, &none) != 0) {
      return 3;
    }
    return static_cast<int>(BmpSave24(name.c_str(), pixels.data(), 8, 8, 24, 0, 0, 24));
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(name), old_bytes);
  // A target that is a folder cannot be replaced.
  std::filesystem::create_directory(folder.File("folder.bmp"));
  EXPECT_EQ(BmpSave24(folder.File("folder.bmp").c_str(), pixels.data(), 8, 8, 24, 0, 0, 24), 0);
  EXPECT_TRUE(std::filesystem::is_directory(folder.File("folder.bmp")));
  EXPECT_EQ(folder.Count(), 2U);
}

TEST(BmpSave, ReadOnlyFolderKeepsTheExistingFile) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "root writes into read-only folders; see the limit tests";
  }
  TempFolder folder;
  const std::string name = folder.File("keep.bmp");
  const Bytes old_bytes = {'o', 'l', 'd'};
  WriteFile(name, old_bytes);
  chmod(folder.path().c_str(), 0555);
  const Bytes pixels = RgbPicture(8, 8, 3, 5);
  EXPECT_EQ(BmpSave24(name.c_str(), pixels.data(), 8, 8, 24, 0, 0, 24), 0);
  chmod(folder.path().c_str(), 0755);
  EXPECT_EQ(ReadFile(name), old_bytes);
  EXPECT_EQ(folder.Count(), 1U);
}

TEST(BmpSave, ReplacingKeepsPermissionsAndSymbolicLinks) {
  TempFolder folder;
  const std::string name = folder.File("target.bmp");
  WriteFile(name, {'o', 'l', 'd'});
  chmod(name.c_str(), 0640);
  std::filesystem::create_symlink(name, folder.File("link.bmp"));
  const Bytes pixels = RgbPicture(4, 4, 3, 6);
  ASSERT_EQ(BmpSave24(folder.File("link.bmp").c_str(), pixels.data(), 4, 4, 12, 0, 0, 24), 1);
  EXPECT_TRUE(std::filesystem::is_symlink(folder.File("link.bmp")));
  EXPECT_EQ(ReadFile(name), SaveToMemory(pixels.data(), 4, 4, 12, 0, 0, 24, 24));
  struct stat info {};
  ASSERT_EQ(stat(name.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640U);
}

}  // namespace
}  // namespace zn
