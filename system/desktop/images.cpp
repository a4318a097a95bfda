// The image side of the model, used by the image library: image objects with bitmap
// representations that own real pixel memory, and the graphics objects of the drawing state. A
// creation asks the watcher, if any, whether it fails, so that the image library's failure paths
// can be tested.
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "system/desktop/desktop_internal.h"
#include "system/desktop/foundation.h"
#include "system/desktop/images.h"
#include "system/desktop/object.h"
#include "system/desktop/screens.h"

namespace zn::desktop {
namespace {

// The largest pixel block the model hands out; a request beyond it is refused like memory.
constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 40;

// Large pixel blocks are mapped from the system, as the platform maps them: fresh zero pages that
// cost no memory until written, whatever allocator the process runs on (a checking allocator may
// touch every page of a heap block). Smaller ones come from the heap.
constexpr uint64_t kMappedPixelBytes = uint64_t{1} << 26;

unsigned char* PixelsAllocate(uint64_t bytes) {
  if (bytes < kMappedPixelBytes) {
    return static_cast<unsigned char*>(std::calloc(bytes, 1));
  }
  void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return block == MAP_FAILED ? nullptr : static_cast<unsigned char*>(block);
}

void PixelsFree(unsigned char* pixels, uint64_t bytes) {
  if (bytes < kMappedPixelBytes) {
    std::free(pixels);
  } else if (pixels != nullptr) {
    munmap(pixels, bytes);
  }
}

}  // namespace

const CGAffineTransform CGAffineTransformIdentity = {1, 0, 0, 1, 0, 0};

namespace internal {

bool ImageCreationRefused() {
  Watcher* watcher = WatcherGet();
  return watcher != nullptr && watcher->RefuseImageCreation();
}

}  // namespace internal

NSString* NSDeviceRGBColorSpace() {
  return NSSTR(u"NSDeviceRGBColorSpace");
}

// ---------------------------------------------------------------------------------------------
// Bitmaps and images.

NSBitmapImageRep* NSBitmapImageRep::initWithBitmapDataPlanes(
    unsigned char** planes, int64_t pixelsWide, int64_t pixelsHigh, int64_t bitsPerSample,
    int64_t samplesPerPixel, bool hasAlpha, bool isPlanar, NSString* colorSpaceName,
    uint64_t bitmapFormat, int64_t bytesPerRow, int64_t bitsPerPixel) {
  const int64_t pixel_bits = bitsPerPixel == 0 ? samplesPerPixel * 8 : bitsPerPixel;
  bool valid = pixelsWide >= 1 && pixelsHigh >= 1 && bitsPerSample == 8 && samplesPerPixel >= 1 &&
               samplesPerPixel <= 4 && !isPlanar && pixel_bits >= samplesPerPixel * 8 &&
               pixel_bits % 8 == 0 && pixel_bits <= 64;
  uint64_t row_bytes = 0;
  uint64_t total = 0;
  if (valid) {
    // Row and block sizes are checked for overflow before anything is allocated.
    valid = !__builtin_mul_overflow(static_cast<uint64_t>(pixelsWide),
                                    static_cast<uint64_t>(pixel_bits / 8), &row_bytes);
    if (valid && bytesPerRow != 0) {
      valid = bytesPerRow > 0 && static_cast<uint64_t>(bytesPerRow) >= row_bytes;
      row_bytes = static_cast<uint64_t>(bytesPerRow);
    }
    valid = valid &&
            !__builtin_mul_overflow(row_bytes, static_cast<uint64_t>(pixelsHigh), &total) &&
            total <= kMaxPixelBytes;
  }
  if (!valid || internal::ImageCreationRefused()) {
    objc_release(this);
    return nullptr;
  }
  if (planes != nullptr && planes[0] != nullptr) {
    data_ = planes[0];
  } else {
    data_ = PixelsAllocate(total);
    if (data_ == nullptr) {
      objc_release(this);
      return nullptr;
    }
    owns_data_ = true;
  }
  width_ = pixelsWide;
  height_ = pixelsHigh;
  bits_per_sample_ = bitsPerSample;
  samples_ = samplesPerPixel;
  bits_per_pixel_ = pixel_bits;
  bytes_per_row_ = static_cast<int64_t>(row_bytes);
  has_alpha_ = hasAlpha;
  format_ = bitmapFormat;
  colour_space_name_ = objc_retain(colorSpaceName);
  return this;
}

void NSBitmapImageRep::dealloc() {
  if (owns_data_) {
    PixelsFree(data_, static_cast<uint64_t>(bytes_per_row_) * static_cast<uint64_t>(height_));
  }
  data_ = nullptr;
  objc_release(colour_space_name_);
  colour_space_name_ = nullptr;
  NSObject::dealloc();
}

NSImage* NSImage::initWithSize(NSSize size) {
  if (internal::ImageCreationRefused()) {
    objc_release(this);
    return nullptr;
  }
  size_ = size;
  return this;
}

void NSImage::addRepresentation(NSImageRep* representation) {
  if (representation == nullptr) {
    return;
  }
  if (representations_.push_back(representation)) {
    objc_retain(representation);
  }
}

NSImageRep* NSImage::representationAt(int64_t index) const {
  if (index < 0 || index >= representationCount()) {
    return nullptr;
  }
  return representations_[index];
}

void NSImage::dealloc() {
  ModelArray<NSImageRep*> held;
  held.swap(representations_);
  for (NSImageRep* r : held) {
    objc_release(r);
  }
  NSObject::dealloc();
}

// ---------------------------------------------------------------------------------------------
// Graphics objects.

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() {
  return objc_alloc<CGColorSpace>();
}

void CGColorSpaceRelease(CGColorSpaceRef space) {
  objc_release(space);
}

CGContextRef CGBitmapContextCreate(void* /*data*/, uint64_t width, uint64_t height,
                                   uint64_t /*bitsPerComponent*/, uint64_t /*bytesPerRow*/,
                                   CGColorSpaceRef /*space*/, uint32_t /*bitmapInfo*/) {
  if (width == 0 || height == 0) {
    return nullptr;
  }
  return objc_alloc<CGContext>();
}

void CGContextRelease(CGContextRef context) {
  objc_release(context);
}

void CGContextFlush(CGContextRef context) {
  if (context == nullptr) {
    return;
  }
  ++context->flushes_;
  internal::Log("CGContextFlush");
}

void CGContextSetTextMatrix(CGContextRef context, CGAffineTransform matrix) {
  if (context == nullptr) {
    return;
  }
  context->text_matrix_ = matrix;
  ++context->text_matrix_sets_;
  internal::Log("CGContextSetTextMatrix");
}

CGAffineTransform CGContextGetTextMatrix(CGContextRef context) {
  return context == nullptr ? CGAffineTransformIdentity : context->textMatrix();
}

CGGradientRef CGGradientCreateWithColorComponents(CGColorSpaceRef space,
                                                  const double* /*components*/,
                                                  const double* /*locations*/, uint64_t count) {
  if (space == nullptr || count == 0) {
    return nullptr;
  }
  return objc_alloc<CGGradient>();
}

void CGGradientRelease(CGGradientRef gradient) {
  objc_release(gradient);
}

CGImageRef CGImageCreateForSize(int64_t width, int64_t height) {
  if (width < 1 || height < 1) {
    return nullptr;
  }
  return objc_alloc<CGImage>(width, height);
}

void CGImageRelease(CGImageRef image) {
  objc_release(image);
}

}  // namespace zn::desktop
