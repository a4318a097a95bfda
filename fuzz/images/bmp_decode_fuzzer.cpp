// Fuzz target: the BMP probe and decoder on a memory source, through the codec registry, in both
// row orders, in 3- and 4-byte pixels and with rows wider than needed; then the same bytes as a
// file through ImageLoad, and a small loaded picture saved again through ImageSave. Sanitizers
// catch any read outside the input or write outside the destination, and any leak.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/images/images.h"

namespace {

constexpr int64_t kLargestDestination = int64_t{1} << 24;
constexpr int64_t kLargestLoad = int64_t{1} << 22;  // pixels; keeps a run inside its memory limit
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

void DecodeFromMemory(size_t size, int64_t width, int64_t rows) {
  for (const int64_t pixel_bytes : {3, 4}) {
    const int64_t bytes_per_row = pixel_bytes * (width < 0 ? 0 : width) + (size & 3);
    if (bytes_per_row <= 0 || bytes_per_row > INT32_MAX || rows > kLargestDestination ||
        rows * bytes_per_row > kLargestDestination) {
      continue;
    }
    std::vector<uint8_t> destination(static_cast<size_t>(rows * bytes_per_row));
    const uint32_t format = pixel_bytes == 4 ? zn::PixelsRgba : 0U;
    for (const uint32_t flags : {0U, zn::RowsBottomUp}) {
      (void)zn::ImageDecodePixels(destination.empty() ? nullptr : destination.data(),
                                  static_cast<int32_t>(bytes_per_row), flags | format);
    }
  }
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
  zn::ImageRecord* image = zn::ImageLoad(zn::AnyId, source.c_str());
  if (image != nullptr) {
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
  DecodeFromMemory(size, width, rows);
  zn::ImageDecodeFinish();
  if (width <= kLargestLoad && rows <= kLargestLoad && width * rows <= kLargestLoad) {
    LoadFromFile(data, size, width * rows);
  }
  return 0;
}
