// Tests of ImageLoad and ImageSave: every layout loads as the decoder converts it, round trips at
// every depth, and refusals that leave no image, no platform object and no memory behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/images/bmp_test_files.h"
#include "runtime/images/images.h"
#include "system/desktop/desktop_testing.h"
#include "system/desktop/images.h"
#include "tests/support/heap_checks.h"
#include "tests/support/pty_child.h"

namespace zn {
namespace {

using testing_bmp::Bytes;
using testing_bmp::TestBmp;

class ImageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    DecodeStateInit();
    BmpCodecRegister();
    ImageLibraryInit();
    // Numbered records stay in the registry for reuse once an id was used: take them up front.
    for (const int64_t id : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -1}) {
      ImageCreate(id, 1, 1, FillNone, 0);
    }
    ImageFreeAll();
    (void)ImageDecodeWidth();  // the decode state's block is made on first use
    objects_ = desktop::DesktopLiveObjects();
    blocks_.emplace("blocks left behind by an image file operation");
  }
  void TearDown() override {
    ImageFreeAll();
    EXPECT_EQ(desktop::DesktopLiveObjects(), objects_) << "every image object released";
  }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    std::string path = folder_.File(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  testing_bmp::TempFolder folder_;
  int64_t objects_ = 0;
  std::optional<test::LiveBlockGuard> blocks_;  // checked after TearDown
};

Bytes PixelsOf(const ImageRecord* record) {
  const uint8_t* pixels = record->bitmap->bitmapData();
  return Bytes(pixels, pixels + size_t{4} * record->width * record->height);
}

// What the decoder itself gives for the file, from memory.
Bytes DecodedRgba(const Bytes& file) {
  DecodeState state{};
  state.from_memory = 1;
  state.memory = file.data();
  state.memory_size = static_cast<int32_t>(file.size());
  if (BmpProbe(&state) == 0) {
    return {};
  }
  // Not zero: what the runs of a run-length file skip, the decoder clears here.
  Bytes pixels(size_t{4} * state.width * std::abs(state.height), 0xCD);
  const int32_t result = BmpDecode(&state, pixels.data(), state.width * 4, PixelsRgba);
  BmpCleanup(&state);
  return result == 1 ? pixels : Bytes{};
}

Bytes Picture24(int32_t width, int32_t rows, const std::vector<uint32_t>& colours, uint32_t seed) {
  std::vector<uint32_t> rgb;
  for (int32_t i = 0; i < width * rows; ++i) {
    const uint32_t r = testing_bmp::PseudoRandom(&seed);
    rgb.push_back(colours.empty() ? r & 0xFFFFFF : colours[r % colours.size()]);
  }
  TestBmp bmp;
  bmp.width = width;
  bmp.height = rows;
  bmp.data = testing_bmp::PackRgb(rgb, width, rows, 24, false);
  return testing_bmp::TestBmpBytes(bmp);
}

std::vector<std::pair<std::string, Bytes>> Layouts() {
  std::vector<std::pair<std::string, Bytes>> files;
  uint32_t seed = 5;
  for (const uint16_t bits : {1, 4, 8, 16, 24, 32}) {
    for (const int32_t height : {3, -3}) {
      TestBmp bmp;
      bmp.width = 7;
      bmp.height = height;
      bmp.bits = bits;
      if (bits <= 8) {
        bmp.table = testing_bmp::MakePalette(1 << bits, seed).bytes;
      }
      bmp.data.resize(testing_bmp::RowBytes(7, bits) * 3);
      for (uint8_t& byte : bmp.data) {
        byte = static_cast<uint8_t>(testing_bmp::PseudoRandom(&seed));
      }
      files.emplace_back(std::to_string(bits) + "_" + std::to_string(height),
                         testing_bmp::TestBmpBytes(bmp));
    }
  }
  TestBmp rle;
  rle.width = 6;
  rle.height = 4;
  rle.bits = 8;
  rle.compression = 1;
  rle.colours_used = 8;
  rle.table = testing_bmp::MakePalette(8, 2).bytes;
  rle.data = {3, 5, 0, 0, 2, 7, 0, 2, 1, 1, 2, 3, 0, 1};
  files.emplace_back("rle8", testing_bmp::TestBmpBytes(rle));
  rle.bits = 4;
  rle.compression = 2;
  files.emplace_back("rle4", testing_bmp::TestBmpBytes(rle));
  TestBmp alpha;
  alpha.width = 3;
  alpha.height = 2;
  alpha.bits = 32;
  alpha.compression = 6;
  alpha.table = testing_bmp::MaskBytes({0xFF0000, 0xFF00, 0xFF, 0xFF000000});
  alpha.data = testing_bmp::Pack32({0x80FF0000, 0, 0xFF00FF00, 0x400000FF, 0x11223344, 0xFFFFFFFF},
                                   3, 2, false);
  files.emplace_back("alpha", testing_bmp::TestBmpBytes(alpha));
  files.emplace_back("os2", testing_bmp::TestCoreBmpBytes(2, 2, 24, {}, Bytes(16, 0x42)));
  return files;
}

TEST_F(ImageFiles, LoadsEveryLayoutAsTheDecoderConvertsIt) {
  for (const auto& [name, file] : Layouts()) {
    const std::string path = Write(name + ".bmp", file);
    const ImageRecord* record = ImageLoad(AnyId, path.c_str());
    ASSERT_NE(record, nullptr) << name;
    const auto id = reinterpret_cast<int64_t>(record);
    const Bytes expected = DecodedRgba(file);
    ASSERT_FALSE(expected.empty()) << name;
    EXPECT_EQ(PixelsOf(record), expected) << name;
    EXPECT_EQ(ImageDepth(id, -2), file[14] == 12 ? file[24] : file[28]) << name;
    EXPECT_EQ(ImageBitsPerPixel(id), 32) << name;
    EXPECT_EQ(ImageWidth(id) * ImageHeight(id) * 4, static_cast<int64_t>(expected.size()));
    ImageFree(id);
  }
  // Pixels a run-length file skips are transparent black.
  const ImageRecord* rle = ImageLoad(1, folder_.File("rle8.bmp").c_str());
  ASSERT_NE(rle, nullptr);
  const Bytes pixels = PixelsOf(rle);
  // Stored row 2, from x = 0 to the delta's target, is the second row from the top.
  EXPECT_EQ(Bytes(pixels.begin() + 4 * 6, pixels.begin() + 4 * 6 + 4), Bytes(4, 0));
}

// A file's rows or run-length data are read from the stream in chunks behind its loaded head,
// unless its rows end early (then it is loaded whole): every way gives what the decoder gives from
// memory.
TEST_F(ImageFiles, StreamedAndWholeLoadsAgreeWithTheDecodeFromMemory) {
  uint32_t seed = 11;
  const auto random_data = [&](size_t bytes) {
    Bytes data(bytes);
    for (uint8_t& byte : data) {
      byte = static_cast<uint8_t>(testing_bmp::PseudoRandom(&seed));
    }
    return data;
  };
  std::vector<std::pair<std::string, Bytes>> files;
  TestBmp big;
  big.width = 700;
  big.height = 600;
  big.data = random_data(testing_bmp::RowBytes(700, 24) * 600);
  files.emplace_back("24-bit, several chunks", testing_bmp::TestBmpBytes(big));
  const Bytes whole = files.back().second;
  files.emplace_back("24-bit, ends early", Bytes(whole.begin(), whole.end() - 100));
  TestBmp gap;
  gap.width = 33;
  gap.height = -20;
  gap.bits = 8;
  gap.table = testing_bmp::MakePalette(256, 3).bytes;
  gap.offset = 3000;
  gap.data = random_data(testing_bmp::RowBytes(33, 8) * 20);
  files.emplace_back("8-bit, top-down, a gap before the pixels", testing_bmp::TestBmpBytes(gap));
  TestBmp overlap = gap;
  overlap.offset = -1;
  overlap.height = -100;
  overlap.table.resize(16 * 4);  // 256 entries promised, the pixels start after 16
  overlap.data = random_data(testing_bmp::RowBytes(33, 8) * 100);
  files.emplace_back("8-bit, table running into the pixels", testing_bmp::TestBmpBytes(overlap));
  TestBmp masked;
  masked.width = 45;
  masked.height = 30;
  masked.bits = 32;
  masked.compression = 6;
  masked.table = testing_bmp::MaskBytes({0xFF00, 0xFF0000, 0xFF000000, 0xFF});
  masked.data = random_data(testing_bmp::RowBytes(45, 32) * 30);
  files.emplace_back("32-bit masks", testing_bmp::TestBmpBytes(masked));
  TestBmp rle;
  rle.width = 300;
  rle.height = 300;  // more than one chunk of the stream
  rle.bits = 8;
  rle.compression = 1;
  rle.table = testing_bmp::MakePalette(256, 8).bytes;
  for (int row = 0; row < 300; ++row) {
    rle.data.insert(rle.data.end(), {0, 255});
    const Bytes run = random_data(256);  // 255 indices and the padding byte
    rle.data.insert(rle.data.end(), run.begin(), run.end());
    rle.data.insert(rle.data.end(), {45, static_cast<uint8_t>(row), 0, 0});
  }
  rle.data.insert(rle.data.end(), {0, 1});
  files.emplace_back("RLE8, streamed", testing_bmp::TestBmpBytes(rle));
  for (const auto& [name, file] : files) {
    const Bytes expected = DecodedRgba(file);
    const ImageRecord* image = ImageLoad(1, Write("file.bmp", file).c_str());
    if (expected.empty()) {
      EXPECT_EQ(image, nullptr) << name;
      continue;
    }
    ASSERT_NE(image, nullptr) << name;
    EXPECT_EQ(PixelsOf(image), expected) << name;
  }
}

// A load in a child process. Its exit status: 1 when the load succeeded, plus 2 when the peak
// resident memory grew by 16 MiB or more, plus 4 when the load took a second or more.
int LoadInChild(const std::string& path) {
  const pid_t child = fork();
  if (child == 0) {
    rusage usage[2] = {};  // before and after; the peak before is what the parent had at the fork
    getrusage(RUSAGE_SELF, &usage[0]);
    ImagePixelBudgetSet(int64_t{30000} * 30000);  // the bombs' claim, which the budget allows
    const auto start = std::chrono::steady_clock::now();
    const bool loaded = ImageLoad(AnyId, path.c_str()) != nullptr;
    const bool slow = std::chrono::steady_clock::now() - start >= std::chrono::seconds(1);
    getrusage(RUSAGE_SELF, &usage[1]);
    const bool large = usage[1].ru_maxrss - usage[0].ru_maxrss >= 16 * 1024;
    _exit((loaded ? 1 : 0) | (large ? 2 : 0) | (slow ? 4 : 0));
  }
  int status = -1;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Run-length files cost what their data holds: 66 bytes claiming 30000 x 30000 pixels, with and
// without their end, and a 1 x 1 picture at the start of a sparse file of 1 GiB.
TEST_F(ImageFiles, RunLengthBombsCostWhatTheirDataHolds) {
  const Bytes bomb = testing_bmp::TestBmpBytes(
      {30000, 30000, 8, 1, 0, {}, {255, 1, 0, 0, 0, 2, 0, 200, 255, 2, 0, 1}});
  const std::string sparse =
      Write("sparse.bmp", testing_bmp::TestBmpBytes({1, 1, 8, 1, 0, {}, {1, 0, 0, 1}}));
  std::filesystem::resize_file(sparse, uint64_t{1} << 30);
  EXPECT_EQ(LoadInChild(Write("bomb.bmp", bomb)), 1) << "2: 16 MiB or more, 4: a second or more";
  EXPECT_EQ(LoadInChild(Write("cut.bmp", Bytes(bomb.begin(), bomb.end() - 2))), 0);
  EXPECT_EQ(LoadInChild(sparse), 1);
}

TEST_F(ImageFiles, ANumberedLoadReplacesItsImageAndAFailedOneKeepsIt) {
  const std::string small = Write("small.bmp", Picture24(3, 2, {}, 1));
  const std::string large = Write("large.bmp", Picture24(9, 4, {}, 2));
  const std::string bad = Write("bad.bmp", Bytes{'B', 'M', 0, 0});
  const ImageRecord* first = ImageLoad(4, small.c_str());
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(ImageLoad(4, large.c_str()), first) << "the same record, refilled";
  EXPECT_EQ(ImageWidth(4), 9);
  const int64_t objects = desktop::DesktopLiveObjects();
  EXPECT_EQ(ImageLoad(4, bad.c_str()), nullptr);
  EXPECT_EQ(ImageWidth(4), 9) << "the image under the id stays";
  EXPECT_EQ(desktop::DesktopLiveObjects(), objects);
}

TEST_F(ImageFiles, RefusalsLeaveNothingBehind) {
  TestBmp wide;
  wide.width = 40000;
  wide.height = 1;
  wide.data.assign(testing_bmp::RowBytes(40000, 24), 0);
  TestBmp empty = wide;
  empty.width = 0;
  TestBmp huffman;
  huffman.width = 8;
  huffman.height = 1;
  huffman.bits = 1;
  huffman.compression = 3;
  huffman.data.assign(4, 0xFF);
  TestBmp broken_rle;
  broken_rle.width = 4;
  broken_rle.height = 1;
  broken_rle.bits = 8;
  broken_rle.compression = 1;
  broken_rle.table = testing_bmp::MakePalette(2, 1).bytes;
  broken_rle.data = {0, 2, 9, 0, 0, 1};  // a delta past the row
  const Bytes whole = Picture24(5, 5, {}, 3);
  using Reason = ImageFailureReason;
  const std::vector<std::tuple<std::string, Bytes, Reason>> files = {
      {"not a bmp", Bytes{'P', '6', '\n', '1', ' ', '1', '\n'}, Reason::kNotAPicture},
      {"empty", Bytes{}, Reason::kNotAPicture},
      {"wider than 32767", testing_bmp::TestBmpBytes(wide), Reason::kTooLarge},
      {"width 0", testing_bmp::TestBmpBytes(empty), Reason::kDamaged},
      {"huffman", testing_bmp::TestBmpBytes(huffman), Reason::kLayoutNotSupported},
      {"broken rle", testing_bmp::TestBmpBytes(broken_rle), Reason::kDamaged},
      {"truncated", Bytes(whole.begin(), whole.end() - 20), Reason::kDamaged},
  };
  const int64_t objects = desktop::DesktopLiveObjects();
  const test::LiveBlockGuard blocks;
  for (const auto& [name, file, reason] : files) {
    EXPECT_EQ(ImageLoad(AnyId, Write("refused.bmp", file).c_str()), nullptr) << name;
    EXPECT_EQ(ImageLoad(2, folder_.File("refused.bmp").c_str()), nullptr) << name;
    EXPECT_EQ(ImageLastFailure().reason, reason) << name;
    EXPECT_EQ(ImageWidth(2), 0) << name;
    EXPECT_EQ(desktop::DesktopLiveObjects(), objects) << name;
    EXPECT_EQ(blocks.Change(), 0) << name;
  }
  EXPECT_EQ(ImageLoad(AnyId, folder_.File("missing.bmp").c_str()), nullptr);
  EXPECT_EQ(ImageLoad(AnyId, folder_.path().c_str()), nullptr) << "a folder";
  EXPECT_EQ(ImageLoad(AnyId, nullptr), nullptr);
  EXPECT_EQ(ImageLastFailure().reason, Reason::kBadArgument);
  // The budget counts pixels from the header: 25 pass a budget of 25, not one of 24.
  const std::string five = Write("five.bmp", whole);
  EXPECT_EQ(ImagePixelBudgetSet(24), kImageDefaultPixelBudget);
  EXPECT_EQ(ImageLoad(3, five.c_str()), nullptr);
  EXPECT_EQ(ImageLastFailure().reason, Reason::kOverBudget);
  EXPECT_EQ(ImagePixelBudgetSet(0), 0) << "refused, the budget stays";
  EXPECT_EQ(ImagePixelBudgetSet(25), 24);
  EXPECT_NE(ImageLoad(3, five.c_str()), nullptr);
  EXPECT_EQ(ImageLastFailure().reason, Reason::kNone);
  ImagePixelBudgetSet(kImageDefaultPixelBudget);
  ImageFree(3);
  EXPECT_EQ(desktop::DesktopLiveObjects(), objects);
}

// The platform refusing an image, and every heap request (the runtime's and the desktop's `new`)
// refused in turn: a load or a creation gives an image or null, never an exception, and leaves
// no platform object and no memory behind.
TEST_F(ImageFiles, PlatformRefusalLeavesNothingBehind) {
  const std::string path = Write("ok.bmp", Picture24(3, 3, {}, 4));
  const int64_t objects = desktop::DesktopLiveObjects();
  desktop::DesktopTestFailImageCreation(0);
  EXPECT_EQ(ImageLoad(AnyId, path.c_str()), nullptr);
  desktop::DesktopTestFailImageCreation(-1);
  EXPECT_EQ(desktop::DesktopLiveObjects(), objects);
  for (const bool load : {true, false}) {
    const int64_t runs = test::HeapFailEachMode([&](const test::FailurePoint& at) {
      const test::LiveBlockGuard live;
      at.Arm();
      ImageRecord* image =
          load ? ImageLoad(AnyId, path.c_str()) : ImageCreate(AnyId, 3, 3, FillColour, 0x336699);
      test::HeapFailNever();
      if (image != nullptr) {
        EXPECT_EQ(ImageWidth(reinterpret_cast<int64_t>(image)), 3);
        ImageFree(reinterpret_cast<int64_t>(image));
      }
      EXPECT_EQ(desktop::DesktopLiveObjects(), objects);
    });
    EXPECT_GT(runs, 4) << (load ? "ImageLoad" : "ImageCreate");
  }
}

// Load, save at each depth, load again. 24 and 32 bits keep every opaque pixel; 1 bit keeps black
// and white; 4 and 8 bits keep a picture of four colours to within the palette's learning error
// (and the spread error where dithering is asked for).
TEST_F(ImageFiles, RoundTripsAtEveryDepth) {
  struct Trip {
    int32_t depth;
    uint32_t flags;
    std::vector<uint32_t> colours;  // empty: any colour
    int tolerance;
  };
  const std::vector<uint32_t> four = {0x102030, 0xF0E0D0, 0x20C040, 0x8000F0};
  for (const Trip& trip :
       {Trip{24, 0, {}, 0}, Trip{32, 0, {}, 0}, Trip{1, 0, {0, 0xFFFFFF}, 0}, Trip{4, 0, four, 4},
        Trip{8, 0, four, 4}, Trip{8, DitherFlag, four, 16}, Trip{4, DitherFlag, four, 16}}) {
    const std::string name =
        "depth " + std::to_string(trip.depth) + " flags " + std::to_string(trip.flags);
    const std::string source = Write("source.bmp", Picture24(61, 43, trip.colours, 6));
    const ImageRecord* first = ImageLoad(1, source.c_str());
    ASSERT_NE(first, nullptr) << name;
    const std::string saved = folder_.File("saved.bmp");
    ASSERT_EQ(ImageSave(1, saved.c_str(), BmpFormatTag, trip.depth, trip.flags), 1) << name;
    const ImageRecord* second = ImageLoad(2, saved.c_str());
    ASSERT_NE(second, nullptr) << name;
    EXPECT_EQ(ImageDepth(2, -2), trip.depth) << name;
    const Bytes a = PixelsOf(first);
    const Bytes b = PixelsOf(second);
    ASSERT_EQ(a.size(), b.size()) << name;
    for (size_t i = 0; i < a.size(); ++i) {
      ASSERT_LE(std::abs(a[i] - b[i]), trip.tolerance) << name << " byte " << i;
    }
  }
}

TEST_F(ImageFiles, SaveRefusesAndKeepsTheOldFile) {
  ASSERT_NE(ImageLoad(3, Write("source.bmp", Picture24(4, 4, {}, 7)).c_str()), nullptr);
  const Bytes old = {'o', 'l', 'd'};
  const std::string target = Write("target.bmp", old);
  EXPECT_EQ(ImageSave(9, target.c_str(), BmpFormatTag, 24, 0), 0) << "no such image";
  EXPECT_EQ(ImageLastFailure().reason, ImageFailureReason::kNoSuchImage);
  EXPECT_EQ(ImageSave(3, target.c_str(), 0x474E50, 24, 0), 0) << "no PNG encoder";
  EXPECT_EQ(ImageLastFailure().reason, ImageFailureReason::kUnknownFormat);
  EXPECT_EQ(ImageSave(3, target.c_str(), BmpFormatTag, 16, 0), 0) << "depth 16";
  EXPECT_EQ(ImageLastFailure().reason, ImageFailureReason::kLayoutNotSupported);
  EXPECT_EQ(ImageSave(3, target.c_str(), BmpFormatTag, 24, 1), 0) << "unknown flag";
  EXPECT_EQ(ImageLastFailure().reason, ImageFailureReason::kBadArgument);
  EXPECT_EQ(ImageSave(3, nullptr, BmpFormatTag, 24, 0), 0) << "no file name";
  EXPECT_EQ(ImageLastFailure().reason, ImageFailureReason::kBadArgument);
  EXPECT_EQ(testing_bmp::ReadFile(target), old);
  EXPECT_EQ(ImageSave(3, folder_.File("no/such/folder.bmp").c_str(), BmpFormatTag, 24, 0), 0);
  EXPECT_EQ(ImageLastFailure().reason, ImageFailureReason::kMissingFile);
  EXPECT_EQ(folder_.Count(), 2U) << "nothing else was created";
}

// Colours are laid over white at every depth, before the palette is learned at 1, 4 and 8 bits:
// the transparent left half comes back white, the opaque right half as it is (black and white at
// 1 bit), give or take the palette's learning error.
TEST_F(ImageFiles, SavingLaysAlphaOverWhite) {
  const std::string saved = folder_.File("saved.bmp");
  int32_t bytes_per_row = 0;
  for (const int32_t depth : {1, 4, 8, 24, 32}) {
    ASSERT_NE(ImageCreate(1, 64, 16, FillColour, 0x123456), nullptr);
    uint8_t* pixels = ImagePixels(1, &bytes_per_row);
    ASSERT_EQ(bytes_per_row, 64 * 4);
    for (int32_t i = 0; i < 64 * 16; ++i) {
      pixels[4 * i + 3] = i % 64 < 32 ? 0 : 255;
    }
    ASSERT_EQ(ImageSave(1, saved.c_str(), BmpFormatTag, depth, 0), 1) << depth;
    const ImageRecord* back = ImageLoad(2, saved.c_str());
    ASSERT_NE(back, nullptr) << depth;
    const Bytes right = depth == 1 ? Bytes{0, 0, 0} : Bytes{0x56, 0x34, 0x12};
    const Bytes got = PixelsOf(back);
    for (size_t i = 0; i < got.size(); ++i) {
      const int expected = i % 4 == 3 || i % 256 < 128 ? 255 : right[i % 4];
      ASSERT_LE(std::abs(got[i] - expected), depth == 4 || depth == 8 ? 4 : 0)
          << "depth " << depth << " byte " << i;
    }
  }
  EXPECT_EQ(ImagePixels(3, &bytes_per_row), nullptr) << "no image";
  EXPECT_EQ(bytes_per_row, 0);
}

// Runs `operation` in a child that a watchdog ends after a second. What it reports: "done reason
// errno growth-of-the-peak-resident-memory-in-KiB", or nothing when it hung or died.
std::string Watched(const std::function<int32_t()>& operation) {
  const test::ChildOutcome outcome = test::ChildRun("", [&] {
    alarm(1);
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long before = usage.ru_maxrss;
    const int32_t done = operation();
    getrusage(RUSAGE_SELF, &usage);
    const ImageFailure failure = ImageLastFailure();
    std::printf("%d %d %d %ld", done, static_cast<int>(failure.reason), failure.system_error,
                usage.ru_maxrss - before);
  });
  return outcome.ended && WIFEXITED(outcome.status) ? outcome.output : "";
}

// Every entry under `root` with its kind and, for files and links, what they hold.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const auto status = entry.symlink_status();
    const Bytes bytes = is_regular_file(status) ? testing_bmp::ReadFile(entry.path()) : Bytes{};
    entries[entry.path()] = is_symlink(status) ? "link " + read_symlink(entry.path()).string()
                            : is_regular_file(status)
                                ? "file " + std::string(bytes.begin(), bytes.end())
                                : "other";
  }
  return entries;
}

// Files and targets that would hang, exhaust memory or lose data: each load or 24-bit save is
// refused or done before a watchdog ends it, without a peak of memory, and leaves every file as it
// was but the one a save wrote.
TEST_F(ImageFiles, HostileFilesAndTargetsAreRefusedOrDoneWithoutWaiting) {
  const auto path = [&](const std::string& name) { return folder_.File(name); };
  const std::string old = Write("old.bmp", {'o', 'l', 'd'});
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644) | mkfifo(path("read_fifo").c_str(), 0644), 0);
  const int reader = open(path("read_fifo").c_str(), O_RDONLY | O_NONBLOCK);
  std::filesystem::create_directories(path("sub/locked"));
  Write("sub/locked/old.bmp", {'o', 'l', 'd'});
  chmod(path("sub/locked").c_str(), 0555);
  std::filesystem::create_symlink("made.bmp", path("dangling"));
  std::filesystem::create_symlink("loop_b", path("loop_a"));
  std::filesystem::create_symlink("loop_a", path("loop_b"));
  std::filesystem::create_symlink("../old.bmp", path("sub/inner"));
  std::filesystem::create_symlink("sub/inner", path("chain"));
  std::string deep = folder_.path() + "/";  // deep + "/x.bmp": a path of 4089 bytes
  while (deep.size() < 3900) {
    deep += std::string(100, 'd') + "/";
  }
  deep += std::string(4089 - 6 - deep.size(), 'e');
  std::filesystem::create_directories(deep);
  deep += "/x.bmp";
  TestBmp bomb;  // 66 bytes claiming 30000 x 30000 run-length coded pixels
  bomb.width = bomb.height = 30000;
  bomb.bits = 8;
  bomb.compression = 1;
  bomb.data = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  Write("bomb.bmp", testing_bmp::TestBmpBytes(bomb));
  ASSERT_NE(ImageCreate(1, 4, 4, FillColour, 0x336699), nullptr);
  using Reason = ImageFailureReason;
  // Target, saved to (else loaded), the reason (kNone: done) and its errno, the file a save wrote.
  std::vector<std::tuple<std::string, bool, Reason, int, std::string>> cases = {
      {path("fifo"), false, Reason::kNotRegularFile, 0, ""},
      {path("fifo"), true, Reason::kWouldBlock, ENXIO, ""},
      {path("read_fifo"), true, Reason::kNone, 0, ""},
      {"/dev/zero", false, Reason::kNotRegularFile, 0, ""},
      {"/dev/null", true, Reason::kNone, 0, ""},
      {path("sub"), false, Reason::kNotRegularFile, EISDIR, ""},
      {path("sub"), true, Reason::kNotRegularFile, EISDIR, ""},
      {path("dangling"), false, Reason::kMissingFile, ENOENT, ""},
      {path("dangling"), true, Reason::kNone, 0, path("made.bmp")},
      {path("loop_a"), false, Reason::kLinkLoop, ELOOP, ""},
      {path("loop_a"), true, Reason::kLinkLoop, ELOOP, ""},
      {path("chain"), true, Reason::kNone, 0, old},
      {deep, true, Reason::kNone, 0, deep},
      {deep, false, Reason::kNone, 0, ""},
      {path("bomb.bmp"), false, Reason::kOverBudget, 0, ""},
  };
  if (geteuid() != 0) {  // root writes into read-only folders
    cases.emplace_back(path("sub/locked/old.bmp"), true, Reason::kAccessDenied, EACCES, "");
  }
  for (const auto& [target, save, reason, error, written] : cases) {
    const std::string name = (save ? "save to " : "load of ") + target.substr(0, 60);
    auto before = Snapshot(folder_.path());
    const std::string report = Watched([&, &target = target, save = save] {
      return save ? ImageSave(1, target.c_str(), BmpFormatTag, 24, 0)
                  : static_cast<int32_t>(ImageLoad(2, target.c_str()) != nullptr);
    });
    const size_t peak = report.rfind(' ');
    EXPECT_EQ(report.substr(0, peak), std::to_string(reason == Reason::kNone) + " " +
                                          std::to_string(static_cast<int>(reason)) + " " +
                                          std::to_string(error))
        << name << " (nothing: it hung or died)";
    EXPECT_LT(std::stol("0" + report.substr(peak + 1)), 32 << 10) << name << ": peak KiB";
    auto after = Snapshot(folder_.path());
    if (!written.empty()) {
      EXPECT_EQ(after[written].substr(0, 7), "file BM") << name;
      after.erase(written);
      before.erase(written);
    }
    EXPECT_EQ(after, before) << name;
  }
  chmod(path("sub/locked").c_str(), 0755);
  char bytes[200];
  EXPECT_EQ(read(reader, bytes, sizeof bytes), 102) << "the 4 x 4 file through the FIFO";
  EXPECT_EQ(std::string(bytes, 2), "BM");
  close(reader);
}

}  // namespace
}  // namespace zn
