// zn::Image: an owning handle of one of the runtime's images, with loads and saves that say why
// they failed.
//
//   auto image = zn::Image::load(path);
//   if (!image) {
//     std::fprintf(stderr, "%s: %s\n", path, image.error().text());
//     return 1;
//   }
//   for (std::span<zn::Pixel> row : image->rows()) { ... }
//   auto saved = image->save(out, zn::BmpFormatTag, 8, zn::Dither::Diffusion);
//
// An Image holds the id of a free-standing image (made with AnyId, so that it never takes a
// number the program uses) and frees it when it goes. It moves and is not copied. A moved-from
// or default Image holds no image: its id is 0 (never one the library hands out for AnyId, and
// never -1, which would ask ImageFree for every image), its sides are 0, its rows empty, and a
// save or reduction of it fails with Reason::NoSuchImage. The end sequence frees every image, so
// an Image kept past the end of the runtime holds nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "runtime/images/images.h"
#include "zn/result.h"

namespace zn {

// Pixel: one RGBA pixel as images hold it, not premultiplied.
struct Pixel {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  uint8_t alpha;
};
static_assert(sizeof(Pixel) == 4 && alignof(Pixel) == 1,
              "a pixel is four bytes, as images lay them");

// Dither: whether a reduction to a learned palette spreads each pixel's error over its
// neighbours (error diffusion). Black and white is a threshold and is never dithered.
enum class Dither { None, Diffusion };

// IndexedImage: a picture reduced to a palette: one palette index per pixel, rows top first.
struct IndexedImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<Pixel> palette;    // 256, 16 or 2 entries
  std::vector<uint8_t> indices;  // width x height, row by row
  // row: the indices of row `y` (0 the top); empty outside the picture.
  std::span<const uint8_t> row(int32_t y) const noexcept {
    if (y < 0 || y >= height) {
      return {};
    }
    return std::span<const uint8_t>(indices).subspan(static_cast<std::size_t>(y) * width,
                                                     static_cast<std::size_t>(width));
  }
};

// Image: an owning image handle; see the overview above.
class Image {
 public:
  // No image.
  Image() noexcept = default;
  // Moves hand the image over and leave the source with none; move assignment frees the image
  // this one held first.
  Image(Image&& other) noexcept : id_(std::exchange(other.id_, 0)) {}
  // Move assignment: this Image's own picture is freed, the other's taken.
  Image& operator=(Image&& other) noexcept {
    if (this != &other) {
      Reset();
      id_ = std::exchange(other.id_, 0);
    }
    return *this;
  }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  ~Image() { Reset(); }

  // load: the picture in the file, or why it could not be read (Reason::MissingFile,
  // NotAPicture, Damaged, OverBudget (see ImagePixelBudgetSet) ..., with the system's errno where
  // it gave one).
  static Result<Image> load(const char* path);
  static Result<Image> load(const std::string& path) { return load(path.c_str()); }

  // create: a width x height image, every pixel `fill` (transparent black by default);
  // Reason::TooLarge for a side outside 1 ... 32767, OutOfMemory when memory is exhausted.
  static Result<Image> create(int32_t width, int32_t height, Pixel fill = Pixel{0, 0, 0, 0});

  // save: writes the picture to the file in `format` (BmpFormatTag: depth 1, 4, 8, 24 or 32;
  // colours laid over white). Dithering applies at 4 and 8 bits. Success, or the reason; a
  // regular file that existed keeps its old bytes when a save fails.
  Result<void> save(const char* path, FormatTag format = BmpFormatTag, int32_t depth = 24,
                    Dither dither = Dither::None) const;
  // save to a path held in a std::string.
  Result<void> save(const std::string& path, FormatTag format = BmpFormatTag, int32_t depth = 24,
                    Dither dither = Dither::None) const {
    return save(path.c_str(), format, depth, dither);
  }

  // reduce: the picture reduced to 256 or 16 colours learned from it (alpha included), or to 2,
  // opaque black and white by a threshold of brightness. Reason::BadArgument for another count,
  // NoSuchImage for no image, OutOfMemory when the runtime's memory is exhausted (the vectors of
  // the result throw std::bad_alloc as vectors do).
  Result<IndexedImage> reduce(int32_t colours, Dither dither = Dither::None) const;

  // width, height: the sides in pixels; 0 for no image.
  int32_t width() const noexcept;
  int32_t height() const noexcept;
  // row: the pixels of row `y` (0 the top), which the caller may change through a non-const
  // Image; empty outside the picture. Valid while this Image holds the picture.
  std::span<Pixel> row(int32_t y) noexcept { return Row(y); }
  std::span<const Pixel> row(int32_t y) const noexcept { return Row(y); }

  // Rows: every row, top first, each a span of width pixels.
  template <class P>
  class Rows {
   public:
    // iterator: the row it stands on; rows are counted, so a walk reads no pixel ahead.
    class iterator {
     public:
      // A row, and the distance between two iterators.
      using value_type = std::span<P>;
      using difference_type = std::ptrdiff_t;
      // An iterator of no image.
      iterator() noexcept = default;
      // *: the row it stands on.
      std::span<P> operator*() const noexcept { return image_->Row(y_); }
      // ++: the next row.
      iterator& operator++() noexcept {
        ++y_;
        return *this;
      }
      // ++ that gives the row it stood on.
      iterator operator++(int) noexcept {
        iterator before = *this;
        ++y_;
        return before;
      }
      // Iterators are equal when they stand on the same row.
      friend bool operator==(const iterator& a, const iterator& b) noexcept { return a.y_ == b.y_; }

     private:
      friend class Rows;
      iterator(const Image* image, int32_t y) noexcept : image_(image), y_(y) {}
      const Image* image_ = nullptr;
      int32_t y_ = 0;
    };
    // begin: the top row.
    iterator begin() const noexcept { return iterator(image_, 0); }
    // end: one past the bottom row.
    iterator end() const noexcept { return iterator(image_, image_->height()); }

   private:
    friend class Image;
    explicit Rows(const Image* image) noexcept : image_(image) {}
    const Image* image_;
  };
  // rows: the rows, writable through a non-const Image.
  Rows<Pixel> rows() noexcept { return Rows<Pixel>(this); }
  Rows<const Pixel> rows() const noexcept { return Rows<const Pixel>(this); }

  // id: the image's id for the C-level calls (ImageDepth, ImageHandle); it stays owned by this
  // Image. 0 when there is none.
  int64_t id() const noexcept { return id_; }
  // release: hands the image to the caller, who frees it with ImageFree; this Image then holds
  // none.
  [[nodiscard]] int64_t release() noexcept { return std::exchange(id_, 0); }

 private:
  explicit Image(int64_t id) noexcept : id_(id) {}
  std::span<Pixel> Row(int32_t y) const noexcept;
  void Reset() noexcept;

  int64_t id_ = 0;
};

}  // namespace zn
