// Images of the desktop model, used by the image library: image objects with bitmap
// representations that own real pixel memory.
#pragma once

#include <cstdint>

#include "system/desktop/foundation.h"
#include "system/desktop/object.h"
#include "system/desktop/types.h"

namespace zn::desktop {

inline constexpr uint64_t NSBitmapFormatAlphaFirst = 1ULL << 0;
inline constexpr uint64_t NSBitmapFormatAlphaNonpremultiplied = 1ULL << 1;
inline constexpr uint64_t NSBitmapFormatFloatingPointSamples = 1ULL << 2;

// The colour space name of device RGB, a constant string.
NSString* NSDeviceRGBColorSpace();

class NSImageRep : public NSObject {
 public:
  const char* className() const override { return "NSImageRep"; }
};

// NSBitmapImageRep: a bitmap with 8-bit samples. Without planes it owns zeroed pixel memory of
// bytesPerRow x height bytes; with planes it draws on the caller's memory.
class NSBitmapImageRep : public NSImageRep {
 public:
  NSBitmapImageRep() = default;
  const char* className() const override { return "NSBitmapImageRep"; }
  // initWithBitmapDataPlanes:pixelsWide:pixelsHigh:bitsPerSample:samplesPerPixel:hasAlpha:
  // isPlanar:colorSpaceName:bitmapFormat:bytesPerRow:bitsPerPixel: A bytesPerRow or
  // bitsPerPixel of 0 is computed (width x samples bytes; samples x 8 bits). Gives nil, the
  // object released, for sizes below 1, samples other than 8 bits or 1 to 4 per pixel, planar
  // data, rows too short, a size that overflows, or refused memory.
  NSBitmapImageRep* initWithBitmapDataPlanes(unsigned char** planes, int64_t pixelsWide,
                                             int64_t pixelsHigh, int64_t bitsPerSample,
                                             int64_t samplesPerPixel, bool hasAlpha, bool isPlanar,
                                             NSString* colorSpaceName, uint64_t bitmapFormat,
                                             int64_t bytesPerRow, int64_t bitsPerPixel);
  unsigned char* bitmapData() const { return data_; }
  int64_t pixelsWide() const { return width_; }
  int64_t pixelsHigh() const { return height_; }
  int64_t bitsPerSample() const { return bits_per_sample_; }
  int64_t samplesPerPixel() const { return samples_; }
  int64_t bitsPerPixel() const { return bits_per_pixel_; }
  int64_t bytesPerRow() const { return bytes_per_row_; }
  bool hasAlpha() const { return has_alpha_; }
  uint64_t bitmapFormat() const { return format_; }
  NSString* colorSpaceName() const { return colour_space_name_; }

 protected:
  void dealloc() override;

 private:
  unsigned char* data_ = nullptr;
  bool owns_data_ = false;
  int64_t width_ = 0;
  int64_t height_ = 0;
  int64_t bits_per_sample_ = 0;
  int64_t samples_ = 0;
  int64_t bits_per_pixel_ = 0;
  int64_t bytes_per_row_ = 0;
  bool has_alpha_ = false;
  uint64_t format_ = 0;
  NSString* colour_space_name_ = nullptr;
};

class NSImage : public NSObject {
 public:
  NSImage() = default;
  const char* className() const override { return "NSImage"; }
  // initWithSize: nil (the object released) when the failure switch says so.
  NSImage* initWithSize(NSSize size);
  NSSize size() const { return size_; }
  void setDataRetained(bool flag) { data_retained_ = flag; }
  bool isDataRetained() const { return data_retained_; }
  // addRepresentation: the image retains the representation; an image that cannot grow leaves it
  // out (the count tells).
  void addRepresentation(NSImageRep* representation);
  int64_t representationCount() const { return representations_.size(); }
  NSImageRep* representationAt(int64_t index) const;

 protected:
  void dealloc() override;

 private:
  NSSize size_{0, 0};
  bool data_retained_ = false;
  ModelArray<NSImageRep*> representations_;
};

}  // namespace zn::desktop
