// Tests of the desktop model itself: reference counts and pools, the coordinate rules, and the
// image side the image library relies on. Everything else is tested through the libraries.
#include <gtest/gtest.h>

#include <cstdint>

#include "system/desktop/desktop_testing.h"
#include "system/desktop/foundation.h"
#include "system/desktop/images.h"
#include "system/desktop/object.h"
#include "system/desktop/screens.h"
#include "system/desktop/windows.h"

namespace zn::desktop {
namespace {

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    DesktopTestReset();
    live_ = DesktopLiveObjects();
  }
  void TearDown() override {
    DesktopTestReset();
    EXPECT_EQ(DesktopLiveObjects(), live_) << "every object made by the test is destroyed";
    EXPECT_EQ(DesktopFaults(), 0) << DesktopLastFault();
  }
  int64_t live_ = 0;
};

TEST_F(Desktop, ReleaseAtZeroDestroysAndPoolsDropTheirReferences) {
  auto* array = objc_alloc<NSMutableArray>()->initWithCapacity(5);
  auto* object = objc_alloc<NSObject>();
  EXPECT_EQ(DesktopLiveObjects(), live_ + 2);
  array->addObject(object);
  EXPECT_EQ(object->retainCount(), 2);
  objc_release(object);
  EXPECT_EQ(DesktopLiveObjects(), live_ + 2) << "the array still holds the object";
  auto* pool = objc_alloc<NSAutoreleasePool>();
  objc_autorelease(array);
  EXPECT_EQ(DesktopLiveObjects(), live_ + 3);
  pool->drain();
  EXPECT_EQ(DesktopLiveObjects(), live_) << "draining released the array and its element";
}

TEST_F(Desktop, InnerPoolsGoWithTheOuterOne) {
  auto* outer = objc_alloc<NSAutoreleasePool>();
  // Released with the outer pool, which the analyzer cannot follow.
  objc_alloc<NSAutoreleasePool>();
  NSString::string();  // NOLINT(clang-analyzer-cplusplus.NewDeleteLeaks)
  EXPECT_EQ(DesktopLiveObjects(), live_ + 3);
  objc_release(outer);
  EXPECT_EQ(DesktopLiveObjects(), live_);
}

TEST_F(Desktop, AutoreleaseWithoutPoolIsAFault) {
  NSString::string();
  EXPECT_EQ(DesktopFaults(), 1);
  DesktopTestReset();
}

TEST_F(Desktop, FormatAndSplit) {
  AutoreleasePoolScope pool;
  NSString* s = NSString::stringWithFormat(u"Preferences%C of %@ %d%%",
                                           {char16_t{0x2026}, NSSTR(u"tool"), 7});
  EXPECT_EQ(s->characters(), u"Preferences\u2026 of tool 7%");
  NSArray* parts = NSSTR(u"/usr/bin/tool")->componentsSeparatedByString(NSSTR(u"/"));
  ASSERT_EQ(parts->count(), 4);
  EXPECT_TRUE(parts->objectAtIndex(0)->isEqual(NSSTR(u"")));
  EXPECT_TRUE(parts->objectAtIndex(3)->isEqual(NSSTR(u"tool")));
  EXPECT_STREQ(parts->componentsJoinedByString(NSSTR(u"\t"))->UTF8String(), "\tusr\tbin\ttool");
}

TEST_F(Desktop, ConvertPointFollowsFlippedAndPlainViews) {
  auto* window = objc_alloc<NSWindow>()->initWithContentRect(NSMakeRect(100, 50, 400, 300));
  auto* content = objc_alloc<NSView>();
  window->setContentView(content);
  auto* child = objc_alloc<NSView>()->initWithFrame(NSMakeRect(10, 20, 50, 30));
  content->addSubview(child);
  const NSPoint base = child->convertPoint(NSPoint{0, 0}, nullptr);
  EXPECT_EQ(base.x, 10);
  EXPECT_EQ(base.y, 20);
  const NSPoint back = content->convertPoint(base, child);
  EXPECT_EQ(back.x, 0);
  EXPECT_EQ(back.y, 0);
  const NSPoint corner = content->convertPoint(NSPoint{0, 0}, child);
  EXPECT_EQ(corner.x, -10);
  EXPECT_EQ(corner.y, -20);
  EXPECT_EQ(window->convertBaseToScreen(base).y, 70);
  EXPECT_EQ(child->window(), window);
  objc_release(child);
  objc_release(content);
  window->close();
}

TEST_F(Desktop, BitmapOwnsZeroedRgbaRows) {
  auto* rep = objc_alloc<NSBitmapImageRep>()->initWithBitmapDataPlanes(
      nullptr, 3, 2, 8, 4, true, false, NSDeviceRGBColorSpace(),
      NSBitmapFormatAlphaNonpremultiplied, 0, 32);
  ASSERT_NE(rep, nullptr);
  EXPECT_EQ(rep->bytesPerRow(), 12);
  for (int i = 0; i < 24; ++i) {
    EXPECT_EQ(rep->bitmapData()[i], 0) << "byte " << i;
  }
  rep->bitmapData()[23] = 255;
  auto* image = objc_alloc<NSImage>()->initWithSize(NSSize{3, 2});
  image->addRepresentation(rep);
  objc_release(rep);
  EXPECT_EQ(image->representationAt(0), rep);
  objc_release(image);
  EXPECT_EQ(DesktopLiveObjects(), live_);
}

TEST_F(Desktop, BitmapRefusesBadSizesAndTheFailureSwitch) {
  EXPECT_EQ(objc_alloc<NSBitmapImageRep>()->initWithBitmapDataPlanes(nullptr, 0, 2, 8, 4, true,
                                                                     false, nullptr, 0, 0, 0),
            nullptr);
  EXPECT_EQ(objc_alloc<NSBitmapImageRep>()->initWithBitmapDataPlanes(
                nullptr, INT64_MAX / 2, 4, 8, 4, true, false, nullptr, 0, 0, 0),
            nullptr);
  EXPECT_EQ(objc_alloc<NSBitmapImageRep>()->initWithBitmapDataPlanes(nullptr, 4, 4, 8, 4, true,
                                                                     false, nullptr, 0, 15, 0),
            nullptr)
      << "rows shorter than the pixels";
  DesktopTestFailImageCreation(1);
  auto* image = objc_alloc<NSImage>()->initWithSize(NSSize{1, 1});
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(objc_alloc<NSBitmapImageRep>()->initWithBitmapDataPlanes(nullptr, 1, 1, 8, 4, true,
                                                                     false, nullptr, 0, 0, 0),
            nullptr);
  auto* rep = objc_alloc<NSBitmapImageRep>()->initWithBitmapDataPlanes(nullptr, 1, 1, 8, 4, true,
                                                                       false, nullptr, 0, 0, 0);
  EXPECT_NE(rep, nullptr) << "the switch fails once";
  objc_release(rep);
  objc_release(image);
  EXPECT_EQ(DesktopLiveObjects(), live_);
}

TEST_F(Desktop, GraphicsObjectsCountAndRecord) {
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  CGContextRef context = CGBitmapContextCreate(nullptr, 4, 4, 8, 16, space, 0);
  const double components[8] = {0, 0, 0, 1, 1, 1, 1, 1};
  CGGradientRef gradient = CGGradientCreateWithColorComponents(space, components, nullptr, 2);
  CGImageRef image = CGImageCreateForSize(4, 4);
  EXPECT_EQ(DesktopLiveObjects(), live_ + 4);
  const CGAffineTransform skew = {1, 0.5, 0, 1, 3, 4};
  CGContextSetTextMatrix(context, skew);
  CGContextFlush(context);
  EXPECT_TRUE(CGAffineTransformEqualToTransform(CGContextGetTextMatrix(context), skew));
  EXPECT_EQ(context->flushCount(), 1);
  CGGradientRelease(gradient);
  CGImageRelease(image);
  CGContextRelease(context);
  CGColorSpaceRelease(space);
  CGImageRelease(nullptr);
  EXPECT_EQ(DesktopLiveObjects(), live_);
}

}  // namespace
}  // namespace zn::desktop
