// Tests of the codec registry: registration, the decode sequence from memory and from a file,
// finishing a forgotten decode, and the accessors without a decode.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/images/bmp_test_files.h"
#include "runtime/images/images.h"
#include "runtime/memory/memory.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

class CodecRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    DecodeStateInit();
    BmpCodecRegister();
  }
  void TearDown() override { ImageDecodeFinish(); }
};

testing_bmp::Bytes SmallPicture() {
  testing_bmp::TestBmp bmp;
  bmp.width = 3;
  bmp.height = -2;
  bmp.bits = 24;
  bmp.data = testing_bmp::PackRgb({0x010203, 0x040506, 0x070809, 0x0A0B0C, 0x0D0E0F, 0x101112}, 3,
                                  2, 24, true);
  return testing_bmp::TestBmpBytes(bmp);
}

TEST_F(CodecRegistry, RegistersTheBmpDecoderOnceAfterInit) {
  EXPECT_EQ(ImageDecoderCount(), 1);
  ASSERT_NE(ImageDecoderAt(0), nullptr);
  EXPECT_EQ(ImageDecoderAt(0)->tag, 0x504D42);
  EXPECT_EQ(ImageDecoderAt(1), nullptr);
  EXPECT_EQ(ImageDecoderAt(-1), nullptr);
  const ImageEncoder* encoder = ImageEncoderFind(0x504D42);
  ASSERT_NE(encoder, nullptr);
  EXPECT_EQ(encoder->save24, &BmpSave24);
  EXPECT_EQ(encoder->save32, &BmpSave32);
  EXPECT_EQ(ImageEncoderFind(0x474E50), nullptr);
}

TEST_F(CodecRegistry, TablesStopAtThirtyEntries) {
  for (int i = 0; i < 40; ++i) {
    BmpEncoderRegister();
  }
  EXPECT_EQ(ImageEncoderCount(), kCodecTableEntries);
  EXPECT_EQ(ImageEncoderAt(kCodecTableEntries), nullptr);
}

TEST_F(CodecRegistry, DecodesFromMemory) {
  const testing_bmp::Bytes file = SmallPicture();
  EXPECT_EQ(ImageDecodeStartMemory(file.data(), static_cast<int32_t>(file.size())), 0x504D42);
  EXPECT_EQ(ImageDecodeWidth(), 3);
  EXPECT_EQ(ImageDecodeHeight(), -2);
  EXPECT_EQ(ImageDecodeDepth(), 24);
  EXPECT_EQ(ImageDecodeSourceDepth(), 24);
  EXPECT_EQ(ImageDecodeFrameCount(), 1);
  EXPECT_EQ(ImageDecodeAttribute(), 0);
  std::vector<uint8_t> pixels(18);
  EXPECT_EQ(ImageDecodePixels(pixels.data(), 9, 0), 1);
  EXPECT_EQ(pixels,
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
  ImageDecodeFinish();
  ImageDecodeFinish();  // harmless twice
  EXPECT_EQ(ImageDecodePixels(pixels.data(), 9, 0), 0) << "no decode after the finish";
}

TEST_F(CodecRegistry, RefusesWhatNoDecoderAccepts) {
  const uint8_t junk[32] = {'P', 'N', 'G'};
  EXPECT_EQ(ImageDecodeStartMemory(junk, sizeof junk), 0);
  EXPECT_EQ(ImageDecodeStartMemory(nullptr, 100), 0);
  std::vector<uint8_t> pixels(8);
  EXPECT_EQ(ImageDecodePixels(pixels.data(), 3, 0), 0);
  EXPECT_EQ(ImageDecodeStartFile("/nonexistent/zn/picture.bmp"), 0);
  EXPECT_EQ(ImageDecodeStartFile(nullptr), 0);
}

TEST_F(CodecRegistry, DecodesFromAFileAndFinishesAForgottenDecode) {
  char name[] = "/tmp/zn-codecs-XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  const testing_bmp::Bytes file = SmallPicture();
  ASSERT_EQ(write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
  close(fd);
  const test::LiveBlockGuard live;
  EXPECT_EQ(ImageDecodeStartFile(name), 0x504D42);
  EXPECT_EQ(live.Change(), 1) << "the loaded copy";
  EXPECT_EQ(ImageDecodeWidth(), 3);
  // Started again without a finish: the loaded copy and the stream are given back first.
  EXPECT_EQ(ImageDecodeStartFile(name), 0x504D42);
  EXPECT_EQ(live.Change(), 1);
  std::vector<uint8_t> pixels(18);
  EXPECT_EQ(ImageDecodePixels(pixels.data(), 9, RowsBottomUp), 1);
  EXPECT_EQ(pixels[0], 10) << "bottom row first";
  EXPECT_EQ(ImageDecodeStartMemory(file.data(), static_cast<int32_t>(file.size())), 0x504D42);
  EXPECT_EQ(live.Change(), 0) << "a memory source loads nothing";
  ImageDecodeFinish();
  // A file that is not a BMP leaves nothing open or allocated.
  FILE* other = std::fopen(name, "wb");
  ASSERT_NE(other, nullptr);
  std::fputs("not a picture at all", other);
  std::fclose(other);
  EXPECT_EQ(ImageDecodeStartFile(name), 0);
  EXPECT_EQ(live.Change(), 0);
  unlink(name);
}

// Codec hooks that re-enter the codec registry: a probe that registers another decoder while the
// table is walked, a cleanup that finishes again, a decode that finishes its own decode or starts
// a new one. Each cleanup runs once per accepted start, and the sanitizers see any state used
// after it went.
enum class Reenter { kNone, kProbeRegisters, kDecodeFinishes, kDecodeStarts };
Reenter reenter = Reenter::kNone;
int cleanups = 0;
const unsigned char kZ[] = {'Z', 0};

int32_t ZProbe(DecodeState* state) {
  if (reenter == Reenter::kProbeRegisters) {
    ImageDecoderRegister(ImageDecoderAt(0));
  }
  const auto* bytes = static_cast<const unsigned char*>(state->memory);
  return state->from_memory != 0 && state->memory_size > 0 && bytes[0] == 'Z' ? 1 : 0;
}
int32_t ZDecode(DecodeState* /*state*/, void* /*destination*/, int32_t /*row*/, uint32_t /*f*/) {
  if (reenter == Reenter::kDecodeFinishes) {
    ImageDecodeFinish();
  } else if (reenter == Reenter::kDecodeStarts) {
    reenter = Reenter::kNone;
    ImageDecodeStartMemory(kZ, 2);
  }
  return 1;
}
void ZCleanup(DecodeState* /*state*/) {
  ++cleanups;
  ImageDecodeFinish();  // a cleanup that finishes again
}
const ImageDecoder kZDecoder{ZProbe, ZDecode, ZCleanup, 0x5A};

TEST_F(CodecRegistry, CodecHooksMayReenterTheRegistry) {
  for (const Reenter how : {Reenter::kNone, Reenter::kProbeRegisters, Reenter::kDecodeFinishes,
                            Reenter::kDecodeStarts}) {
    SCOPED_TRACE(static_cast<int>(how));
    DecodeStateInit();
    ImageDecoderRegister(&kZDecoder);
    cleanups = 0;
    reenter = how;
    ASSERT_EQ(ImageDecodeStartMemory(kZ, 2), 0x5A);
    uint8_t pixel[4] = {};
    ImageDecodePixels(pixel, 4, 0);
    ImageDecodeFinish();
    ImageDecodeFinish();
    EXPECT_EQ(cleanups, how == Reenter::kDecodeStarts ? 2 : 1) << "one cleanup per start";
  }
  reenter = Reenter::kNone;
}

}  // namespace
}  // namespace zn
