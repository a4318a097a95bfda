// Whole pictures in one call: a file decoded through the codec registry into an image object, and
// an image object written through the encoder registered for a format.
//
// A load builds the picture apart from the registry and records it only once every pixel was
// decoded, so a file that cannot be read leaves nothing behind and an image that had the id
// before keeps it. Each failure notes its reason on the way out, for ImageLastFailure.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"
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

int64_t pixel_budget = kImageDefaultPixelBudget;

// Notes why a load or a save fails; the null or 0 that the operation then returns.
std::nullptr_t ImageRefuse(ImageFailureReason reason, int32_t system_error = 0) {
  ImageFailureNote(reason, system_error);
  return nullptr;
}

int32_t ImageSaveRefuse(ImageFailureReason reason) {
  ImageFailureNote(reason, 0);
  return 0;
}

// The decode of a started file into a new image under `id`; `stream` is the decode's own.
ImageRecord* ImageLoadStarted(int64_t id, std::FILE* stream) {
  const int64_t width = ImageDecodeWidth();
  const int64_t height = ImageDecodeHeight();
  const int64_t rows = height < 0 ? -height : height;
  if (width < 1 || rows < 1) {
    return ImageRefuse(ImageFailureReason::kDamaged);
  }
  if (width > kImageLargestSide || rows > kImageLargestSide) {
    return ImageRefuse(ImageFailureReason::kTooLarge);
  }
  // From the header alone, before a pixel block is made: the sides are below 2^15, so the product
  // cannot overflow.
  if (width * rows > pixel_budget) {
    return ImageRefuse(ImageFailureReason::kOverBudget);
  }
  const auto w = static_cast<int32_t>(width);
  const auto h = static_cast<int32_t>(rows);
  desktop::NSBitmapImageRep* bitmap = nullptr;
  // Not filled: the bitmap's own pixel memory starts zeroed, which is transparent black, so the
  // decoder leaves the pixels a run-length file skips to it (PixelsCleared). Pages no run
  // reaches are never touched: a file of a few bytes that claims a huge picture costs nothing.
  desktop::NSImage* image = ImageCreateBitmap(w, h, FillNone, 0, &bitmap);
  if (image == nullptr) {
    return ImageRefuse(ImageFailureReason::kOutOfMemory);
  }
  uint8_t* pixels = bitmap->bitmapData();
  ImageAdviseLarge(pixels, uint64_t{4} * static_cast<uint64_t>(w) * static_cast<uint64_t>(h));
  const bool decoded =
      pixels != nullptr && ImageDecodePixels(pixels, w * 4, PixelsRgba | PixelsCleared) != 0;
  // A failed read leaves zeros that can pass for pixels: it fails the load whatever the decoder
  // made of them.
  const bool read_failed = std::ferror(stream) != 0;
  const int read_error = errno;
  if (!decoded || read_failed) {
    desktop::objc_release(image);
    desktop::objc_release(bitmap);
    if (read_failed) {
      ImageFailureNoteErrno(read_error, ImageFailureReason::kReadError);
    }
    return ImageRefuse(pixels == nullptr ? ImageFailureReason::kOutOfMemory
                                         : ImageFailureReason::kDamaged);
  }
  ImageRecord* record =
      ImageAdopt(id, image, bitmap, w, h, static_cast<int32_t>(ImageDecodeSourceDepth()));
  return record != nullptr ? record : ImageRefuse(ImageFailureReason::kOutOfMemory);
}

ImageRecord* ImageLoadFile(int64_t id, const char* file_name) {
  if (file_name == nullptr) {
    return ImageRefuse(ImageFailureReason::kBadArgument);
  }
  const DecodeScope decode;
  std::FILE* stream = ImageFileOpenRead(file_name);
  if (stream == nullptr) {
    return nullptr;
  }
  if (ImageDecodeStartStream(stream) == 0) {
    return ImageRefuse(ImageFailureReason::kNotAPicture);
  }
  return ImageLoadStarted(id, stream);
}

// The pixels to save at `depth`: at 1, 4 and 8 bits a picture with any transparency is laid over
// white first, as the writer lays it at 24 and 32 bits, so the palette is learned from the colours
// that are seen and a transparent pixel is saved white, not black. `copy` receives the block made
// for it (null when the image's own pixels serve). Null when memory is exhausted.
const uint8_t* ImageSavePixels(const ImageRecord* record, const uint8_t* pixels, int32_t depth,
                               uint8_t** copy) {
  *copy = nullptr;
  const auto width = static_cast<uint64_t>(record->width);
  const uint64_t count = width * static_cast<uint64_t>(record->height);
  if (depth > 8) {
    return pixels;
  }
  uint64_t first_transparent = 0;
  while (first_transparent < count && pixels[4 * first_transparent + 3] == 255) {
    ++first_transparent;
  }
  if (first_transparent == count) {
    return pixels;
  }
  *copy = static_cast<uint8_t*>(SizedAlloc(count * 4));
  if (*copy == nullptr) {
    return nullptr;
  }
  for (int32_t y = 0; y < record->height; ++y) {
    const uint64_t at = 4 * width * static_cast<uint64_t>(y);
    ImageRowOverWhite(pixels + at, record->width, *copy + at);
  }
  return *copy;
}

int32_t ImageSaveFile(int64_t id, const char* file_name, FormatTag format, int32_t depth,
                      uint32_t flags) {
  const ImageRecord* record = ImageFind(id);
  if (record == nullptr) {
    return ImageSaveRefuse(ImageFailureReason::kNoSuchImage);
  }
  const ImageEncoder* encoder = ImageEncoderFind(format);
  if (encoder == nullptr || encoder->save32 == nullptr) {
    return ImageSaveRefuse(ImageFailureReason::kUnknownFormat);
  }
  if (file_name == nullptr || (flags & ~DitherFlag) != 0) {
    return ImageSaveRefuse(ImageFailureReason::kBadArgument);
  }
  const uint8_t* pixels = record->bitmap == nullptr ? nullptr : record->bitmap->bitmapData();
  uint8_t* copy = nullptr;
  const uint8_t* source =
      pixels == nullptr ? nullptr : ImageSavePixels(record, pixels, depth, &copy);
  if (source == nullptr) {
    return ImageSaveRefuse(ImageFailureReason::kOutOfMemory);
  }
  const int64_t result = encoder->save32(file_name, source, record->width, record->height,
                                         int32_t{record->width} * 4, 0, flags, depth);
  SizedFree(copy);
  return result == 1 ? 1 : 0;
}

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

std::FILE* ImageFileOpenRead(const char* file_name) {
  // Looked at before it is opened, since opening a device can act on it (a tape rewinds, a line
  // hangs up); and a pipe's writer may never come.
  struct stat info {};
  if (stat(file_name, &info) != 0) {
    ImageFailureNoteErrno(errno, ImageFailureReason::kReadError);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    return ImageRefuse(ImageFailureReason::kNotRegularFile, S_ISDIR(info.st_mode) ? EISDIR : 0);
  }
  const int fd = open(file_name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    ImageFailureNoteErrno(errno, ImageFailureReason::kReadError);
    return nullptr;
  }
  // The name may have been given to something else since it was looked at.
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags == -1 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    close(fd);
    return ImageRefuse(ImageFailureReason::kNotRegularFile);
  }
  std::FILE* stream = fdopen(fd, "rb");
  if (stream == nullptr) {
    ImageFailureNoteErrno(errno, ImageFailureReason::kOutOfMemory);
    close(fd);
  }
  return stream;
}

ImageRecord* ImageLoad(int64_t id, const char* file_name) {
  ImageFailureBegin();
  ImageRecord* record = ImageLoadFile(id, file_name);
  ImageFailureEnd(record != nullptr, ImageFailureReason::kNotAPicture);
  return record;
}

int64_t ImagePixelBudgetSet(int64_t pixels) {
  if (pixels < 1) {
    return 0;
  }
  const int64_t previous = pixel_budget;
  pixel_budget = pixels;
  return previous;
}

int64_t ImagePixelBudget() {
  return pixel_budget;
}

int32_t ImageSave(int64_t id, const char* file_name, FormatTag format, int32_t depth,
                  uint32_t flags) {
  ImageFailureBegin();
  const int32_t result = ImageSaveFile(id, file_name, format, depth, flags);
  // What an encoder refuses without a note is a depth or a size that its format cannot hold.
  ImageFailureEnd(result == 1, ImageFailureReason::kLayoutNotSupported);
  return result;
}

uint8_t* ImagePixels(int64_t id, int32_t* bytes_per_row) {
  const ImageRecord* record = ImageFind(id);
  uint8_t* pixels =
      record == nullptr || record->bitmap == nullptr ? nullptr : record->bitmap->bitmapData();
  if (bytes_per_row != nullptr) {
    *bytes_per_row = pixels == nullptr ? 0 : int32_t{record->width} * 4;
  }
  return pixels;
}

}  // namespace zn
