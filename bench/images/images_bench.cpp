// Benchmarks of the BMP codec against stb_image's BMP reader and writer on a 4096 x 4096 picture
// in memory, of ImageLoad against stbi_load on the same picture as a file, and of palette reduction
// (learning plus every row) at 256 and 16 colours, with and without dithering, reporting the PSNR
// against the original. Pictures for the reduction come from ZN_BENCH_PICTURES (a folder of 24-bit
// BMP files), or a generated one.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image.h"
#include "stb_image_write.h"

#include "runtime/containers/containers.h"
#include "runtime/images/images.h"
#include "runtime/memory/memory.h"

namespace {

constexpr int kSide = 4096;

std::vector<uint8_t> Picture(int width, int height) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
  uint32_t state = 1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      state = state * 1664525U + 1013904223U;
      uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(x + (state >> 29));
      p[1] = static_cast<uint8_t>(y + (state >> 30));
      p[2] = static_cast<uint8_t>((x ^ y) >> 2);
    }
  }
  return pixels;
}

const std::vector<uint8_t>& BigPicture() {
  static const std::vector<uint8_t> pixels = Picture(kSide, kSide);
  return pixels;
}

std::vector<uint8_t> BigFile() {
  const int64_t block =
      zn::BmpSave24(nullptr, BigPicture().data(), kSide, kSide, kSide * 3, 0, 0, 24);
  auto* bytes = reinterpret_cast<uint8_t*>(block);
  std::vector<uint8_t> file(bytes, bytes + zn::SizedSizeOf(bytes));
  zn::MemoryBlockFree(bytes);
  return file;
}

void BmpDecode24(benchmark::State& state) {
  const std::vector<uint8_t> file = BigFile();
  std::vector<uint8_t> out(static_cast<size_t>(kSide) * kSide * 3);
  zn::DecodeStateInit();
  zn::BmpCodecRegister();
  for (auto _ : state) {
    zn::ImageDecodeStartMemory(file.data(), static_cast<int32_t>(file.size()));
    benchmark::DoNotOptimize(zn::ImageDecodePixels(out.data(), kSide * 3, 0));
    zn::ImageDecodeFinish();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(out.size()));
}
BENCHMARK(BmpDecode24)->Unit(benchmark::kMillisecond);

void StbLoadFromMemory24(benchmark::State& state) {
  const std::vector<uint8_t> file = BigFile();
  for (auto _ : state) {
    int w = 0;
    int h = 0;
    int n = 0;
    stbi_uc* pixels =
        stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &n, 3);
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 3);
}
BENCHMARK(StbLoadFromMemory24)->Unit(benchmark::kMillisecond);

// ImageLoad against stbi_load, both from the same 24-bit file in the page cache (written and read
// once before timing) and both giving RGBA pixels: the whole path from the file name to a picture.
const std::string& BigFilePath() {
  static const std::string path = [] {
    std::string name = "/tmp/zn-images-bench-" + std::to_string(getpid()) + ".bmp";
    const std::vector<uint8_t> file = BigFile();
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    std::ifstream warm(name, std::ios::binary);
    std::vector<char> sink(1 << 20);
    while (warm.read(sink.data(), static_cast<std::streamsize>(sink.size()))) {
    }
    std::atexit([] { std::remove(BigFilePath().c_str()); });
    return name;
  }();
  return path;
}

void ImageLoadFile24(benchmark::State& state) {
  const std::string& path = BigFilePath();
  zn::DecodeStateInit();
  zn::BmpCodecRegister();
  zn::ImageLibraryInit();
  for (auto _ : state) {
    zn::ImageRecord* image = zn::ImageLoad(zn::AnyId, path.c_str());
    if (image == nullptr) {
      state.SkipWithError("ImageLoad refused the file");
    }
    benchmark::DoNotOptimize(image);
    zn::ImageFree(reinterpret_cast<int64_t>(image));
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 3);
}
BENCHMARK(ImageLoadFile24)->Unit(benchmark::kMillisecond);

void StbLoadFile24(benchmark::State& state) {
  const std::string& path = BigFilePath();
  for (auto _ : state) {
    int w = 0;
    int h = 0;
    int n = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &w, &h, &n, 4);
    if (pixels == nullptr) {
      state.SkipWithError("stb refused the file");
    }
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 3);
}
BENCHMARK(StbLoadFile24)->Unit(benchmark::kMillisecond);

void BmpEncode24(benchmark::State& state) {
  const std::vector<uint8_t>& pixels = BigPicture();
  for (auto _ : state) {
    const int64_t block = zn::BmpSave24(nullptr, pixels.data(), kSide, kSide, kSide * 3, 0, 0, 24);
    benchmark::DoNotOptimize(block);
    zn::MemoryBlockFree(reinterpret_cast<void*>(block));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(pixels.size()));
}
BENCHMARK(BmpEncode24)->Unit(benchmark::kMillisecond);

// Like with like: BmpSave24 hands back a new block that the caller owns, so the anchor too writes
// into a new buffer of the file's size on every iteration (both pay for fresh pages), and its
// callback copies each chunk into that buffer with one bounds check, the cheapest sink a caller
// could give it; a vector kept across iterations would spare the anchor the page faults that ours
// cannot avoid.
struct StbSink {
  uint8_t* bytes;
  size_t size;
  size_t used;
};

void StbWriteBmpToFunc(benchmark::State& state) {
  const std::vector<uint8_t>& pixels = BigPicture();
  const size_t file_size = 54 + static_cast<size_t>(kSide) * kSide * 3;
  for (auto _ : state) {
    StbSink sink{static_cast<uint8_t*>(std::malloc(file_size)), file_size, 0};
    stbi_write_bmp_to_func(
        [](void* context, void* data, int size) {
          auto* out = static_cast<StbSink*>(context);
          const auto count = static_cast<size_t>(size);
          if (out->bytes == nullptr || count > out->size - out->used) return;
          std::memcpy(out->bytes + out->used, data, count);
          out->used += count;
        },
        &sink, kSide, kSide, 3, pixels.data());
    benchmark::DoNotOptimize(sink.bytes);
    if (sink.used != file_size) state.SkipWithError("stb wrote an unexpected size");
    std::free(sink.bytes);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(pixels.size()));
}
BENCHMARK(StbWriteBmpToFunc)->Unit(benchmark::kMillisecond);

// With a reused output buffer: a program that saves picture after picture keeps its buffer, so
// neither side pays for fresh pages. Ours gets it through the runtime's heap functions (a heap
// that keeps the last block of the file's size and hands it out again); the anchor writes into
// one buffer kept across iterations.
struct KeptBlockHeap {
  static inline void* kept = nullptr;
  static inline size_t kept_bytes = 0;
  static void* Alloc(size_t bytes) {
    if (kept != nullptr && bytes <= kept_bytes) {
      void* block = kept;
      kept = nullptr;
      return block;
    }
    return std::malloc(bytes);
  }
  static void* Resize(void* block, size_t bytes) { return std::realloc(block, bytes); }
  static void Release(void* block) {
    if (kept == nullptr && block != nullptr) {
      kept = block;
      kept_bytes = malloc_usable_size(block);
      return;
    }
    std::free(block);
  }
};

void BmpEncode24Reused(benchmark::State& state) {
  const std::vector<uint8_t>& pixels = BigPicture();
  const size_t block_bytes = 8 + 54 + static_cast<size_t>(kSide) * kSide * 3;
  KeptBlockHeap::kept = std::malloc(block_bytes);
  std::memset(KeptBlockHeap::kept, 0, block_bytes);  // its pages exist before the timing
  KeptBlockHeap::kept_bytes = block_bytes;
  const zn::MemoryHeap heap{KeptBlockHeap::Alloc, KeptBlockHeap::Resize, KeptBlockHeap::Release};
  zn::MemoryHeapSet(&heap);
  for (auto _ : state) {
    const int64_t block = zn::BmpSave24(nullptr, pixels.data(), kSide, kSide, kSide * 3, 0, 0, 24);
    benchmark::DoNotOptimize(block);
    if (block == 0 || KeptBlockHeap::kept != nullptr) {
      state.SkipWithError("the kept block was not used");
    }
    zn::MemoryBlockFree(reinterpret_cast<void*>(block));
  }
  zn::MemoryHeapSet(nullptr);
  std::free(KeptBlockHeap::kept);
  KeptBlockHeap::kept = nullptr;
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(pixels.size()));
}
BENCHMARK(BmpEncode24Reused)->Unit(benchmark::kMillisecond);

void StbWriteBmpToFuncReused(benchmark::State& state) {
  const std::vector<uint8_t>& pixels = BigPicture();
  const size_t file_size = 54 + static_cast<size_t>(kSide) * kSide * 3;
  std::vector<uint8_t> buffer(file_size);
  for (auto _ : state) {
    StbSink sink{buffer.data(), file_size, 0};
    stbi_write_bmp_to_func(
        [](void* context, void* data, int size) {
          auto* out = static_cast<StbSink*>(context);
          const auto count = static_cast<size_t>(size);
          if (count > out->size - out->used) return;
          std::memcpy(out->bytes + out->used, data, count);
          out->used += count;
        },
        &sink, kSide, kSide, 3, pixels.data());
    benchmark::DoNotOptimize(sink.bytes);
    if (sink.used != file_size) state.SkipWithError("stb wrote an unexpected size");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(pixels.size()));
}
BENCHMARK(StbWriteBmpToFuncReused)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// What the memory of this machine allows: the picture's 48 MB copied into a buffer kept across
// iterations, by memcpy and by a plain loop of 16-byte loads and stores (each target byte written
// once, through the cache, as the encoder writes it). An encode into a reused block cannot beat
// these; they are reference rows, not pairs.
void Memcpy48MReused(benchmark::State& state) {
  const std::vector<uint8_t>& pixels = BigPicture();
  std::vector<uint8_t> buffer(pixels.size());
  for (auto _ : state) {
    std::memcpy(buffer.data(), pixels.data(), pixels.size());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(pixels.size()));
}
BENCHMARK(Memcpy48MReused)->Unit(benchmark::kMillisecond);

void Stream48MReused(benchmark::State& state) {
  const std::vector<uint8_t>& pixels = BigPicture();
  std::vector<uint8_t> buffer(pixels.size());
  for (auto _ : state) {
    const uint8_t* from = pixels.data();
    uint8_t* to = buffer.data();
    const size_t count = pixels.size() / 16 * 16;
    for (size_t at = 0; at < count; at += 16) {
#if defined(__SSE2__)
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at));
      asm volatile("" : "+x"(v));  // keeps the loop from becoming a memcpy call
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), v);
#else
      uint64_t words[2];
      std::memcpy(words, from + at, sizeof words);
      benchmark::DoNotOptimize(words);
      std::memcpy(to + at, words, sizeof words);
#endif
    }
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(pixels.size()));
}
BENCHMARK(Stream48MReused)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Palette reduction.

struct Photo {
  std::string name;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

std::vector<Photo> Photos() {
  std::vector<Photo> photos;
  const char* folder = std::getenv("ZN_BENCH_PICTURES");
  if (folder != nullptr && std::filesystem::is_directory(folder)) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().extension() != ".bmp") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
      int w = 0;
      int h = 0;
      int n = 0;
      stbi_uc* pixels =
          stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &n, 3);
      if (pixels == nullptr) continue;
      photos.push_back({entry.path().stem().string(), w, h,
                        std::vector<uint8_t>(pixels, pixels + static_cast<size_t>(w) * h * 3)});
      stbi_image_free(pixels);
    }
  }
  if (photos.empty()) photos.push_back({"generated", 512, 512, Picture(512, 512)});
  return photos;
}

// Reduces the picture and returns the PSNR of the palette colours against the original.
double ReduceAndMeasure(const Photo& photo, int depth, uint32_t flags) {
  zn::PaletteReducer* reducer = zn::PaletteReducerCreate(
      photo.rgb.data(), photo.width, photo.height, 24, photo.width * 3, depth, flags);
  if (reducer == nullptr) return 0;
  double squared = 0;
  for (int row = photo.height - 1; row >= 0; --row) {
    const uint8_t* indices = zn::PaletteReducerRow(reducer, row);
    const uint8_t* source = &photo.rgb[static_cast<size_t>(row) * photo.width * 3];
    for (int x = 0; x < photo.width; ++x) {
      const int index = depth == 8 ? indices[x] : (indices[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15;
      for (int c = 0; c < 3; ++c) {
        const double d = reducer->palette[index][c] - source[3 * x + c];
        squared += d * d;
      }
    }
  }
  zn::PaletteReducerFree(reducer);
  const double mse = squared / (3.0 * photo.width * photo.height);
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

void PaletteReduce(benchmark::State& state) {
  static const std::vector<Photo> photos = Photos();
  const Photo& photo = photos[static_cast<size_t>(state.range(0)) % photos.size()];
  const int depth = static_cast<int>(state.range(1));
  const uint32_t flags = state.range(2) != 0 ? zn::DitherFlag : 0;
  double psnr = 0;
  for (auto _ : state)
    psnr = ReduceAndMeasure(photo, depth, flags);
  state.SetLabel(photo.name);
  state.counters["psnr_db"] = psnr;
  state.counters["pixels"] = static_cast<double>(photo.width) * photo.height;
}
BENCHMARK(PaletteReduce)
    ->ArgsProduct({{0, 1, 2, 3}, {8, 4}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
