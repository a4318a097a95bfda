// zn::Image on the image library. Every image of the face is a free-standing one (AnyId), whose
// record address is its id, so the face never takes a number the program uses; id 0 stands for
// no image and is never handed to the library, where it may be one of the program's numbers.
#include "zn/image.h"

#include <algorithm>
#include <memory>

#include "runtime/containers/containers.h"

namespace zn {

namespace {

Error LastFailure() {
  const ImageFailure failure = ImageLastFailure();
  return Error{static_cast<Reason>(failure.reason), failure.system_error};
}

int64_t IdOf(const ImageRecord* record) {
  return reinterpret_cast<int64_t>(record);
}

// The bits per index of a palette of `colours` entries, or 0 for a count the reducer has not.
int32_t PaletteDepth(int32_t colours) {
  switch (colours) {
    case 256:
      return 8;
    case 16:
      return 4;
    case 2:
      return 1;
    default:
      return 0;
  }
}

struct ReducerFree {
  void operator()(PaletteReducer* reducer) const noexcept { PaletteReducerFree(reducer); }
};

}  // namespace

Result<Image> Image::load(const char* path) {
  ImageRecord* record = ImageLoad(AnyId, path);
  if (record == nullptr) {
    return LastFailure();
  }
  return Image(IdOf(record));
}

Result<Image> Image::create(int32_t width, int32_t height, Pixel fill) {
  if (width < 1 || height < 1 || width > kImageLargestSide || height > kImageLargestSide) {
    return Error{Reason::TooLarge, 0};
  }
  ImageRecord* record = ImageCreate(AnyId, width, height, FillClear, 0);
  if (record == nullptr) {
    return Error{Reason::OutOfMemory, 0};
  }
  Image image(IdOf(record));
  for (std::span<Pixel> row : image.rows()) {
    std::fill(row.begin(), row.end(), fill);
  }
  return image;
}

Result<void> Image::save(const char* path, FormatTag format, int32_t depth, Dither dither) const {
  if (id_ == 0) {
    return Error{Reason::NoSuchImage, 0};
  }
  // The writer takes the flag at every depth and dithers where a palette is learned.
  if (ImageSave(id_, path, format, depth, dither == Dither::Diffusion ? DitherFlag : 0) != 1) {
    return LastFailure();
  }
  return {};
}

Result<IndexedImage> Image::reduce(int32_t colours, Dither dither) const {
  const int32_t depth = PaletteDepth(colours);
  if (depth == 0) {
    return Error{Reason::BadArgument, 0};
  }
  int32_t bytes_per_row = 0;
  const uint8_t* pixels = id_ == 0 ? nullptr : ImagePixels(id_, &bytes_per_row);
  if (pixels == nullptr) {
    return Error{Reason::NoSuchImage, 0};
  }
  IndexedImage indexed;
  indexed.width = width();
  indexed.height = height();
  // Black and white is a threshold: dithering it would only cost a copy of the pixels.
  const uint32_t flags = dither == Dither::Diffusion && depth > 1 ? DitherFlag : 0;
  const std::unique_ptr<PaletteReducer, ReducerFree> reducer(
      PaletteReducerCreate(pixels, indexed.width, indexed.height, 32, bytes_per_row, depth, flags));
  if (reducer == nullptr) {
    return Error{Reason::OutOfMemory, 0};
  }
  indexed.palette.resize(std::size_t{1} << depth);
  for (std::size_t i = 0; i < indexed.palette.size(); ++i) {
    const uint8_t* entry = reducer->palette[i];
    // The reducer leaves the alpha of its black and white at 0, which the writer never reads;
    // as colours of a picture they are opaque.
    indexed.palette[i] = Pixel{entry[0], entry[1], entry[2], depth == 1 ? uint8_t{255} : entry[3]};
  }
  indexed.indices.resize(static_cast<std::size_t>(indexed.width) * indexed.height);
  const int32_t per_byte = 8 / depth;
  const auto mask = static_cast<uint8_t>((1 << depth) - 1);
  for (int32_t y = 0; y < indexed.height; ++y) {
    // Packed indices, the leftmost pixel in the most significant bits. Rows are asked for top
    // first, which is the order the dither's carry runs in.
    const uint8_t* packed = PaletteReducerRow(reducer.get(), y);
    uint8_t* out = indexed.indices.data() + static_cast<std::size_t>(y) * indexed.width;
    for (int32_t x = 0; x < indexed.width; ++x) {
      const int32_t shift = 8 - depth * (1 + x % per_byte);
      out[x] = static_cast<uint8_t>((packed[x / per_byte] >> shift) & mask);
    }
  }
  return indexed;
}

int32_t Image::width() const noexcept {
  return id_ == 0 ? 0 : static_cast<int32_t>(ImageWidth(id_));
}

int32_t Image::height() const noexcept {
  return id_ == 0 ? 0 : static_cast<int32_t>(ImageHeight(id_));
}

std::span<Pixel> Image::Row(int32_t y) const noexcept {
  int32_t bytes_per_row = 0;
  uint8_t* pixels = id_ == 0 ? nullptr : ImagePixels(id_, &bytes_per_row);
  if (pixels == nullptr || y < 0 || y >= height()) {
    return {};
  }
  // Pixel is four bytes in the order the image holds them; a row is width pixels.
  return std::span<Pixel>(
      reinterpret_cast<Pixel*>(pixels + static_cast<std::ptrdiff_t>(y) * bytes_per_row),
      static_cast<std::size_t>(bytes_per_row / 4));
}

void Image::Reset() noexcept {
  if (id_ != 0) {
    ImageFree(std::exchange(id_, 0));
  }
}

}  // namespace zn
