// Screens and graphics of the desktop model: the main screen and the display's physical size;
// colour spaces, bitmap contexts, gradients and graphics images, as the image library's drawing
// state uses them.
#pragma once

#include <cstdint>

#include "system/desktop/foundation.h"
#include "system/desktop/object.h"
#include "system/desktop/types.h"

namespace zn::desktop {

inline constexpr const char* NSDeviceSize = "NSDeviceSize";

class NSScreen : public NSObject {
 public:
  const char* className() const override { return "NSScreen"; }
  // mainScreen: the screen with the menu bar, or nil when the model has none.
  static NSScreen* mainScreen();
  NSRect frame() const { return frame_; }
  // deviceDescription: NSDeviceSize (an NSValue of the pixel size) and "NSScreenNumber" (an
  // NSNumber of the display).
  NSDictionary* deviceDescription() const { return description_; }

 protected:
  void dealloc() override;

 private:
  friend struct ModelAccess;
  NSRect frame_{};
  NSDictionary* description_ = nullptr;
};

// CGDisplayScreenSize: the display's physical size in millimetres; zero for an unknown display.
CGSize CGDisplayScreenSize(uint32_t display);

// ---------------------------------------------------------------------------------------------
// Graphics objects. Each Create gives one reference; each Release drops one (null does nothing).

class CGColorSpace : public NSObject {
 public:
  const char* className() const override { return "CGColorSpace"; }
};

class CGContext : public NSObject {
 public:
  const char* className() const override { return "CGContext"; }
  int64_t flushCount() const { return flushes_; }
  CGAffineTransform textMatrix() const { return text_matrix_; }
  int64_t textMatrixSets() const { return text_matrix_sets_; }

 private:
  friend void CGContextFlush(CGContext*);
  friend void CGContextSetTextMatrix(CGContext*, CGAffineTransform);
  int64_t flushes_ = 0;
  int64_t text_matrix_sets_ = 0;
  CGAffineTransform text_matrix_ = CGAffineTransformIdentity;
};

class CGGradient : public NSObject {
 public:
  const char* className() const override { return "CGGradient"; }
};

class CGImage : public NSObject {
 public:
  CGImage(int64_t width, int64_t height) : width_(width), height_(height) {}
  const char* className() const override { return "CGImage"; }
  int64_t width() const { return width_; }
  int64_t height() const { return height_; }

 private:
  int64_t width_;
  int64_t height_;
};

CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
void CGColorSpaceRelease(CGColorSpaceRef space);
// CGBitmapContextCreate: a context drawing into the caller's pixels (the model keeps no pixels).
CGContextRef CGBitmapContextCreate(void* data, uint64_t width, uint64_t height,
                                   uint64_t bitsPerComponent, uint64_t bytesPerRow,
                                   CGColorSpaceRef space, uint32_t bitmapInfo);
void CGContextRelease(CGContextRef context);
void CGContextFlush(CGContextRef context);
void CGContextSetTextMatrix(CGContextRef context, CGAffineTransform matrix);
CGAffineTransform CGContextGetTextMatrix(CGContextRef context);
CGGradientRef CGGradientCreateWithColorComponents(CGColorSpaceRef space, const double* components,
                                                  const double* locations, uint64_t count);
void CGGradientRelease(CGGradientRef gradient);
CGImageRef CGImageCreateForSize(int64_t width, int64_t height);
void CGImageRelease(CGImageRef image);

}  // namespace zn::desktop
