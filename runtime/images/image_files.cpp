// Whole pictures in one call: a file decoded through the codec registry into an image object, and
// an image object written through the encoder registered for a format.
//
// A load builds the picture apart from the registry and records it only once every pixel was
// decoded, so a file that cannot be read leaves nothing behind and an image that had the id
// before keeps it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "system/desktop/images.h"
#include "system/desktop/object.h"

namespace zn {
namespace {

// Finishes the decode on every path out of ImageLoad; the loaded file copy goes with it.
class DecodeScope {
 public:
  DecodeScope() = default;
  ~DecodeScope() { ImageDecodeFinish(); }
  DecodeScope(const DecodeScope&) = delete;
  DecodeScope& operator=(const DecodeScope&) = delete;
};

}  // namespace

void ImageAdviseLarge(void* block, uint64_t size) {
#ifdef MADV_HUGEPAGE
  constexpr uint64_t kLarge = uint64_t{4} << 20;
  const long page = sysconf(_SC_PAGESIZE);
  if (block == nullptr || size < kLarge || page <= 0) {
    return;
  }
  // The advice takes whole pages: the ones that lie wholly inside the block.
  const auto step = static_cast<uint64_t>(page);
  const uint64_t lead = (step - reinterpret_cast<uintptr_t>(block) % step) % step;
  (void)madvise(static_cast<uint8_t*>(block) + lead, (size - lead) / step * step, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}

ImageRecord* ImageLoad(int64_t id, const char* file_name) {
  if (file_name == nullptr) {
    return nullptr;
  }
  const DecodeScope decode;
  if (ImageDecodeStartFile(file_name) == 0) {
    return nullptr;
  }
  const int64_t width = ImageDecodeWidth();
  const int64_t height = ImageDecodeHeight();
  const int64_t rows = height < 0 ? -height : height;
  if (width < 1 || rows < 1 || width > kImageLargestSide || rows > kImageLargestSide) {
    return nullptr;
  }
  const auto w = static_cast<int32_t>(width);
  const auto h = static_cast<int32_t>(rows);
  desktop::NSBitmapImageRep* bitmap = nullptr;
  // Not filled: the bitmap's own pixel memory starts zeroed, which is transparent black, so the
  // decoder leaves the pixels a run-length file skips to it (PixelsCleared). Pages no run
  // reaches are never touched: a file of a few bytes that claims a huge picture costs nothing.
  desktop::NSImage* image = ImageCreateBitmap(w, h, FillNone, 0, &bitmap);
  if (image == nullptr) {
    return nullptr;
  }
  uint8_t* pixels = bitmap->bitmapData();
  ImageAdviseLarge(pixels, uint64_t{4} * static_cast<uint64_t>(w) * static_cast<uint64_t>(h));
  if (pixels == nullptr || ImageDecodePixels(pixels, w * 4, PixelsRgba | PixelsCleared) == 0) {
    desktop::objc_release(image);
    desktop::objc_release(bitmap);
    return nullptr;
  }
  return ImageAdopt(id, image, bitmap, w, h, static_cast<int32_t>(ImageDecodeSourceDepth()));
}

int32_t ImageSave(int64_t id, const char* file_name, FormatTag format, int32_t depth,
                  uint32_t flags) {
  const ImageRecord* record = ImageFind(id);
  const ImageEncoder* encoder = ImageEncoderFind(format);
  if (record == nullptr || file_name == nullptr || encoder == nullptr ||
      encoder->save32 == nullptr || (flags & ~DitherFlag) != 0) {
    return 0;
  }
  const uint8_t* pixels = record->bitmap == nullptr ? nullptr : record->bitmap->bitmapData();
  if (pixels == nullptr) {
    return 0;
  }
  const int64_t result = encoder->save32(file_name, pixels, record->width, record->height,
                                         int32_t{record->width} * 4, 0, flags, depth);
  return result == 1 ? 1 : 0;
}

}  // namespace zn
