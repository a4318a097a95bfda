// Numbered images: the ImageRegistry, creating an image's platform objects with their fill, and
// freeing them.
//
// A record owns one reference to its platform image and one to its bitmap representation (the
// image holds another to the representation), so freeing releases both and a failed creation
// releases what it had made before it returns null.
#include <cstdint>
#include <cstring>

#include "runtime/containers/containers.h"
#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "system/desktop/images.h"
#include "system/desktop/object.h"

namespace zn {
namespace {

using desktop::NSAutoreleasePool;
using desktop::NSBitmapImageRep;
using desktop::NSImage;

ObjectRegistry* ImageRegistry = nullptr;

ImageRecord* ImageLookup(int64_t id) {
  return ImageRegistry == nullptr ? nullptr
                                  : static_cast<ImageRecord*>(RegistryLookup(ImageRegistry, id));
}

// Releases an autorelease pool on every path out of ImageCreateBitmap.
class ImagePoolScope {
 public:
  ImagePoolScope() : pool_(desktop::objc_alloc<NSAutoreleasePool>()) {}
  ~ImagePoolScope() { desktop::objc_release(pool_); }
  ImagePoolScope(const ImagePoolScope&) = delete;
  ImagePoolScope& operator=(const ImagePoolScope&) = delete;

 private:
  NSAutoreleasePool* pool_;
};

void ImageFill(NSBitmapImageRep* bitmap, int32_t width, int32_t height, int32_t fill,
               int32_t colour) {
  uint8_t* pixels = bitmap->bitmapData();
  if (fill == FillNone || pixels == nullptr || width <= 0 || height <= 0) {
    return;
  }
  const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (fill != FillColour) {
    std::memset(pixels, 0, count * 4);
    return;
  }
  // Red is the colour's lowest byte; its top byte is not an alpha and is ignored.
  const auto value = static_cast<uint32_t>(colour);
  const uint8_t rgba[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                           static_cast<uint8_t>(value >> 16), 255};
  for (uint64_t i = 0; i < count; ++i) {
    std::memcpy(pixels + 4 * i, rgba, 4);
  }
}

void ImageReleaseObjects(NSImage* image, NSBitmapImageRep* bitmap) {
  desktop::objc_release(image);
  desktop::objc_release(bitmap);
}

void ImageRecordFill(ImageRecord* record, NSImage* image, NSBitmapImageRep* bitmap, int32_t width,
                     int32_t height, int32_t source_depth) {
  record->image = image;
  record->bitmap = bitmap;
  record->width = static_cast<int16_t>(width);
  record->height = static_cast<int16_t>(height);
  record->depth = 32;
  record->source_depth = static_cast<int16_t>(source_depth);
  record->attribute = 0;
  record->frame_count = 1;
  record->frames = nullptr;
  record->second_attribute = 0;
}

}  // namespace

void ImageLibraryInit() {
  if (ImageRegistry != nullptr) {
    return;
  }
  ImageRegistry = RegistryCreate(static_cast<int32_t>(sizeof(ImageRecord)), 16, ImageFree);
}

NSImage* ImageCreateBitmap(int32_t width, int32_t height, int32_t fill, int32_t colour,
                           NSBitmapImageRep** bitmap) {
  const ImagePoolScope pool;
  // Each object may come back nil when memory runs out: the sends below answer nil for nil.
  NSBitmapImageRep* representation = desktop::objc_msgSend(
      desktop::objc_alloc<NSBitmapImageRep>(), &NSBitmapImageRep::initWithBitmapDataPlanes, nullptr,
      width, height, 8, 4, true, false, desktop::NSDeviceRGBColorSpace(),
      desktop::NSBitmapFormatAlphaNonpremultiplied, static_cast<int64_t>(width) * 4, 32);
  if (representation == nullptr) {
    return nullptr;
  }
  NSImage* image = desktop::objc_msgSend(
      desktop::objc_alloc<NSImage>(), &NSImage::initWithSize,
      desktop::NSSize{static_cast<double>(width), static_cast<double>(height)});
  if (image != nullptr) {
    image->setDataRetained(true);
    image->addRepresentation(representation);
  }
  if (image == nullptr || image->representationCount() == 0) {
    ImageReleaseObjects(image, representation);  // nothing may be left behind
    return nullptr;
  }
  ImageFill(representation, width, height, fill, colour);
  if (bitmap != nullptr) {
    *bitmap = representation;
  } else {
    desktop::objc_release(representation);  // the image keeps its own reference
  }
  return image;
}

ImageRecord* ImageCreate(int64_t id, int32_t width, int32_t height, int32_t fill, int32_t colour) {
  if (width < 1 || height < 1 || width > kImageLargestSide || height > kImageLargestSide) {
    return nullptr;
  }
  ImageLibraryInit();
  if (ImageRegistry == nullptr) {
    return nullptr;
  }
  auto* record = static_cast<ImageRecord*>(RegistryAllocate(ImageRegistry, id));
  if (record == nullptr) {
    return nullptr;
  }
  NSBitmapImageRep* bitmap = nullptr;
  NSImage* image = ImageCreateBitmap(width, height, fill, colour, &bitmap);
  if (image == nullptr) {
    RegistryRelease(ImageRegistry, id == AnyId ? reinterpret_cast<int64_t>(record) : id);
    return nullptr;
  }
  ImageRecordFill(record, image, bitmap, width, height, 32);
  return record;
}

ImageRecord* ImageAdopt(int64_t id, NSImage* image, NSBitmapImageRep* bitmap, int32_t width,
                        int32_t height, int32_t source_depth) {
  ImageLibraryInit();
  auto* record = ImageRegistry == nullptr
                     ? nullptr
                     : static_cast<ImageRecord*>(RegistryAllocate(ImageRegistry, id));
  if (record == nullptr) {
    ImageReleaseObjects(image, bitmap);
    return nullptr;
  }
  ImageRecordFill(record, image, bitmap, width, height, source_depth);
  return record;
}

ImageRecord* ImageFind(int64_t id) {
  return ImageLookup(id);
}

void ImageFree(int64_t id) {
  auto* record = static_cast<ImageRecord*>(RegistryFreeLookup(ImageRegistry, id));
  if (record == nullptr) {
    return;
  }
  if (record->frame_count < 2) {
    ImageReleaseObjects(record->image, record->bitmap);
  } else {
    for (int32_t i = 0; i < record->frame_count; ++i) {
      auto* frame = static_cast<ImageFrame*>(ListSelect(record->frames, i));
      if (frame != nullptr) {
        ImageReleaseObjects(frame->image, frame->bitmap);
      }
    }
  }
  if (record->frames != nullptr) {
    ListFree(record->frames);
  }
  RegistryRelease(ImageRegistry, id);
}

void ImageFreeAll() {
  ImageFree(-1);
}

void ImageLibraryEnd() {
  ImageFreeAll();
  RegistryFree(ImageRegistry);
  ImageRegistry = nullptr;
  DecodeStateEnd();
}

int64_t ImageWidth(int64_t id) {
  const ImageRecord* record = ImageLookup(id);
  return record == nullptr ? 0 : record->width;
}

int64_t ImageHeight(int64_t id) {
  const ImageRecord* record = ImageLookup(id);
  return record == nullptr ? 0 : record->height;
}

int64_t ImageDepth(int64_t id, int32_t mode) {
  const ImageRecord* record = ImageLookup(id);
  if (record == nullptr) {
    return 0;
  }
  return mode == -2 ? record->source_depth : record->depth;
}

int64_t ImageBitsPerPixel(int64_t id) {
  const ImageRecord* record = ImageLookup(id);
  return record == nullptr ? 0 : record->depth;
}

NSImage* ImageHandle(int64_t id) {
  const ImageRecord* record = ImageLookup(id);
  return record == nullptr ? nullptr : record->image;
}

}  // namespace zn
