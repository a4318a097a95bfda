// Fuzz target: the BMP probe and decoder on a memory source, through the codec registry, in both
// row orders, in 3- and 4-byte pixels (4-byte ones also into a cleared destination, which must give
// the same picture) and with rows wider than needed; then the same bytes as a file through
// ImageLoad, under a pixel budget that the input moves around the picture's own size (a load over
// it must be refused, one that fails must say why), and a small loaded picture saved again through
// ImageSave; the decoded 3-byte pixels also go through a 24-bit save to memory and back, and must
// come back the same.
// Sanitizers catch any read outside the input or write outside the destination, and any leak.
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/images/images.h"
#include "runtime/memory/memory.h"

namespace {

constexpr int64_t kLargestDestination = int64_t{1} << 24;
constexpr int64_t kLargestLoad = int64_t{1} << 22;  // pixels: the budget that keeps a run inside
                                                    // its memory limit
constexpr int64_t kLargestSave = 4096;              // pixels; palette learning is slow

bool Started() {
  zn::DecodeStateInit();
  zn::BmpCodecRegister();
  zn::ImageLibraryInit();
  return true;
}

// The two files of this process, removed when it exits.
struct TempFiles {
  std::string source = Path("in");
  std::string target = Path("out");
  TempFiles() = default;
  TempFiles(const TempFiles&) = delete;
  TempFiles& operator=(const TempFiles&) = delete;
  ~TempFiles() {
    std::remove(source.c_str());
    std::remove(target.c_str());
  }
  static std::string Path(const char* what) {
    return "/tmp/zn-bmp-fuzz-" + std::to_string(getpid()) + "-" + what + ".bmp";
  }
};

// The 3-byte pixels of the first decode, top row first, kept for the round trip below.
struct Decoded {
  std::vector<uint8_t> pixels;
  int64_t bytes_per_row = 0;
};

void DecodeFromMemory(size_t size, int64_t width, int64_t rows, Decoded* decoded) {
  for (const int64_t pixel_bytes : {3, 4}) {
    const int64_t bytes_per_row = pixel_bytes * (width < 0 ? 0 : width) + (size & 3);
    if (bytes_per_row <= 0 || bytes_per_row > INT32_MAX || rows > kLargestDestination ||
        rows * bytes_per_row > kLargestDestination) {
      continue;
    }
    std::vector<uint8_t> destination(static_cast<size_t>(rows * bytes_per_row));
    const uint32_t format = pixel_bytes == 4 ? zn::PixelsRgba : 0U;
    for (const uint32_t flags : {0U, zn::RowsBottomUp}) {
      std::fill(destination.begin(), destination.end(), uint8_t{0xCD});
      const int32_t result =
          zn::ImageDecodePixels(destination.empty() ? nullptr : destination.data(),
                                static_cast<int32_t>(bytes_per_row), flags | format);
      if (pixel_bytes == 3 && flags == 0 && result != 0) {
        decoded->pixels = destination;
        decoded->bytes_per_row = bytes_per_row;
      }
      if (pixel_bytes == 4 && result != 0) {
        // Into zero bytes said to be cleared, the skipped pixels are left alone: the same picture.
        std::vector<uint8_t> cleared(destination.size());
        if (zn::ImageDecodePixels(cleared.data(), static_cast<int32_t>(bytes_per_row),
                                  flags | format | zn::PixelsCleared) != result) {
          std::abort();
        }
        for (int64_t y = 0; y < rows; ++y) {
          if (std::memcmp(cleared.data() + y * bytes_per_row,
                          destination.data() + y * bytes_per_row,
                          static_cast<size_t>(width * 4)) != 0) {
            std::abort();  // a skipped pixel cleared differently from a zero one
          }
        }
      }
    }
  }
}

// Decoded pixels saved as a 24-bit file in memory (rows in either order, the source's rows wider
// than the picture) and read back must give the same pixels: the writer's row conversion at
// whatever width the input names.
void SaveAndReadBack(const Decoded& decoded, int64_t width, int64_t rows, size_t size) {
  if (decoded.pixels.empty() || width < 1 || rows < 1 || width > INT32_MAX / 3) {
    return;
  }
  const uint32_t flags = (size & 16) != 0 ? zn::RowsBottomUp : 0U;
  const int64_t block = zn::BmpSave24(nullptr, decoded.pixels.data(), static_cast<int32_t>(width),
                                      static_cast<int32_t>(rows),
                                      static_cast<int32_t>(decoded.bytes_per_row), flags, 0, 24);
  if (block == 0) {
    return;
  }
  auto* file = std::bit_cast<uint8_t*>(block);
  const int64_t row_bytes = width * 3;
  std::vector<uint8_t> back(static_cast<size_t>(rows * row_bytes));
  if (zn::ImageDecodeStartMemory(file, static_cast<int32_t>(zn::SizedSizeOf(file))) == 0 ||
      zn::ImageDecodePixels(back.data(), static_cast<int32_t>(row_bytes), flags) == 0) {
    std::abort();  // the writer's own file refused
  }
  zn::ImageDecodeFinish();
  for (int64_t y = 0; y < rows; ++y) {
    if (std::memcmp(back.data() + y * row_bytes, decoded.pixels.data() + y * decoded.bytes_per_row,
                    static_cast<size_t>(row_bytes)) != 0) {
      std::abort();  // a pixel changed on the way through the file
    }
  }
  zn::MemoryBlockFree(file);
}

// The pixel budget for a picture of `pixels`: the largest load, or (as the input's size picks) the
// picture's own size or one pixel less, so that both sides of the limit are reached.
int64_t BudgetFor(size_t size, int64_t pixels) {
  if ((size & 32) == 0 || pixels < 1 || pixels > kLargestLoad) {
    return kLargestLoad;
  }
  return (size & 64) != 0 ? pixels : std::max<int64_t>(1, pixels - 1);
}

void LoadFromFile(const uint8_t* data, size_t size, int64_t pixels) {
  static const TempFiles files;
  const std::string& source = files.source;
  const std::string& target = files.target;
  std::FILE* file = std::fopen(source.c_str(), "wb");
  if (file == nullptr) {
    return;
  }
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) {
    return;
  }
  const int64_t budget = BudgetFor(size, pixels);
  zn::ImagePixelBudgetSet(budget);
  zn::ImageRecord* image = zn::ImageLoad(zn::AnyId, source.c_str());
  if ((image == nullptr) != (zn::ImageLastFailure().reason != zn::ImageFailureReason::kNone)) {
    std::abort();  // a failure without its reason, or a reason for a success
  }
  if (image != nullptr) {
    if (int64_t{image->width} * image->height > budget) {
      std::abort();  // a picture over the budget was loaded
    }
    const auto id = reinterpret_cast<int64_t>(image);
    if (pixels <= kLargestSave) {
      constexpr int32_t kDepths[] = {1, 4, 8, 24, 32};
      (void)zn::ImageSave(id, target.c_str(), zn::BmpFormatTag, kDepths[size % 5],
                          (size & 8) != 0 ? zn::DitherFlag : 0U);
    }
    zn::ImageFree(id);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Started();
  (void)started;
  if (size > INT32_MAX) {
    return 0;
  }
  if (zn::ImageDecodeStartMemory(data, static_cast<int32_t>(size)) == 0) {
    return 0;
  }
  const int64_t width = zn::ImageDecodeWidth();
  const int64_t height = zn::ImageDecodeHeight();
  const int64_t rows = height < 0 ? -height : height;
  Decoded decoded;
  DecodeFromMemory(size, width, rows, &decoded);
  zn::ImageDecodeFinish();
  SaveAndReadBack(decoded, width, rows, size);
  // Every input is loaded: the budget refuses the large ones before any pixel block is made.
  LoadFromFile(data, size, width >= 0 && rows >= 0 ? width * rows : -1);
  return 0;
}
