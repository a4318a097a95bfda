// Tests of the numbered images: fill modes, sizes, AnyId, freeing one and all, accessors of
// unknown ids, and platform refusals that leave nothing behind.
#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/containers/containers.h"
#include "runtime/images/images.h"
#include "system/desktop/desktop_testing.h"
#include "system/desktop/images.h"

namespace zn {
namespace {

namespace dk = desktop;

class ImageObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageLibraryInit();
    objects_ = dk::DesktopLiveObjects();
  }
  void TearDown() override {
    ImageFreeAll();
    dk::DesktopTestFailImageCreation(-1);
    EXPECT_EQ(dk::DesktopLiveObjects(), objects_) << "every image object released";
  }
  int64_t objects_ = 0;
};

TEST_F(ImageObjects, FillModesWriteTheirPixels) {
  ImageRecord* record = ImageCreate(1, 3, 2, FillColour, 0x00336699);
  ASSERT_NE(record, nullptr);
  const uint8_t* pixels = record->bitmap->bitmapData();
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(record->bitmap->bytesPerRow(), 12);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(pixels[4 * i], 0x99) << "pixel " << i;
    EXPECT_EQ(pixels[4 * i + 1], 0x66) << "pixel " << i;
    EXPECT_EQ(pixels[4 * i + 2], 0x33) << "pixel " << i;
    EXPECT_EQ(pixels[4 * i + 3], 255) << "pixel " << i;
  }
  ImageRecord* top_byte = ImageCreate(4, 1, 1, FillColour, static_cast<int32_t>(0x7F010203));
  ASSERT_NE(top_byte, nullptr);
  EXPECT_EQ(top_byte->bitmap->bitmapData()[3], 255) << "the colour's top byte is ignored";
  ImageRecord* clear = ImageCreate(2, 5, 4, FillClear, 0x00FFFFFF);
  ASSERT_NE(clear, nullptr);
  for (int i = 0; i < 5 * 4 * 4; ++i) {
    ASSERT_EQ(clear->bitmap->bitmapData()[i], 0) << i;
  }
  ImageRecord* none = ImageCreate(3, 2, 2, FillNone, 0x00FFFFFF);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->bitmap->bitmapData()[0], 0) << "the platform's own zeroed memory";
}

TEST_F(ImageObjects, ReportsItsSizeAndDepths) {
  ASSERT_NE(ImageCreate(7, 640, 480, FillClear, 0), nullptr);
  EXPECT_EQ(ImageWidth(7), 640);
  EXPECT_EQ(ImageHeight(7), 480);
  EXPECT_EQ(ImageBitsPerPixel(7), 32);
  EXPECT_EQ(ImageDepth(7, 0), 32);
  EXPECT_EQ(ImageDepth(7, -2), 32);
  dk::NSImage* image = ImageHandle(7);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->size().width, 640.0);
  EXPECT_EQ(image->representationCount(), 1);
  EXPECT_TRUE(image->isDataRetained());
  for (const int64_t unknown : {int64_t{8}, int64_t{0}, int64_t{-5}}) {
    EXPECT_EQ(ImageWidth(unknown), 0) << unknown;
    EXPECT_EQ(ImageHeight(unknown), 0) << unknown;
    EXPECT_EQ(ImageDepth(unknown, -2), 0) << unknown;
    EXPECT_EQ(ImageBitsPerPixel(unknown), 0) << unknown;
    EXPECT_EQ(ImageHandle(unknown), nullptr) << unknown;
  }
  ImageFree(8);  // names no image: nothing happens
  EXPECT_EQ(ImageWidth(7), 640);
}

TEST_F(ImageObjects, AnyIdUsesTheRecordAddress) {
  ImageRecord* record = ImageCreate(AnyId, 9, 4, FillClear, 0);
  ASSERT_NE(record, nullptr);
  const auto id = reinterpret_cast<int64_t>(record);
  EXPECT_EQ(ImageWidth(id), 9);
  ImageFree(id);
  EXPECT_EQ(dk::DesktopLiveObjects(), objects_);
}

TEST_F(ImageObjects, FreeAllAndRecreation) {
  ASSERT_NE(ImageCreate(0, 2, 2, FillClear, 0), nullptr);
  ASSERT_NE(ImageCreate(5, 2, 2, FillClear, 0), nullptr);
  ImageRecord* loose = ImageCreate(AnyId, 2, 2, FillClear, 0);
  ASSERT_NE(loose, nullptr);
  ASSERT_NE(ImageCreate(5, 3, 3, FillClear, 0), nullptr) << "re-creating frees the old image";
  EXPECT_EQ(ImageWidth(5), 3);
  ImageFree(-1);
  EXPECT_EQ(ImageWidth(0), 0);
  EXPECT_EQ(ImageWidth(5), 0);
  EXPECT_EQ(dk::DesktopLiveObjects(), objects_);
}

TEST_F(ImageObjects, RefusesSizesARecordCannotHold) {
  EXPECT_EQ(ImageCreate(1, 0, 5, FillClear, 0), nullptr);
  EXPECT_EQ(ImageCreate(1, 5, -1, FillClear, 0), nullptr);
  EXPECT_EQ(ImageCreate(1, 32768, 1, FillClear, 0), nullptr);
  EXPECT_EQ(ImageCreate(1, 1, 40000, FillClear, 0), nullptr);
  ASSERT_NE(ImageCreate(1, 32767, 1, FillClear, 0), nullptr);
  EXPECT_EQ(ImageWidth(1), 32767);
}

TEST_F(ImageObjects, PlatformRefusalsLeaveNothingBehind) {
  for (const int64_t successes : {0, 1}) {
    dk::DesktopTestFailImageCreation(successes);
    EXPECT_EQ(ImageCreate(3, 4, 4, FillClear, 0), nullptr) << successes;
    EXPECT_EQ(ImageWidth(3), 0) << "no record is left, after " << successes;
    dk::NSBitmapImageRep* bitmap = nullptr;
    dk::DesktopTestFailImageCreation(successes);
    EXPECT_EQ(ImageCreateBitmap(4, 4, FillClear, 0, &bitmap), nullptr);
    EXPECT_EQ(dk::DesktopLiveObjects(), objects_) << "after " << successes << " successes";
  }
  dk::DesktopTestFailImageCreation(-1);
  dk::DesktopTestFailImageCreation(0);
  EXPECT_EQ(ImageCreate(AnyId, 4, 4, FillClear, 0), nullptr);
}

}  // namespace
}  // namespace zn
