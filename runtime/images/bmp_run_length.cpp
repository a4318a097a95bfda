// The BMP decoder's run-length data, RLE8 and RLE4: pairs (n, v) are a run of n pixels of v (at 4
// bits, v's two nibbles in turn, the high one first), or with n = 0 an escape: 0 line end, 1 the
// bitmap's end, 2 a delta of two more bytes (right, down), 3 and up an absolute run of v indices
// (bytes, or nibbles high first) padded to an even count of bytes.
//
// A few bytes of such data can claim a picture of a billion pixels, so the decode costs what the
// data holds, not what the header claims. It reads the data as it comes (from the memory source,
// or from the file's stream a chunk at a time), stops at the first fault it meets, and writes
// only the pixels the runs reach, plus the ones they skip where the destination's bytes are not
// known to be 0 already.
//
// Faults: a run or a line end below the last row, a delta that moves past the end of its row or
// below the last row, an index beyond the colour table, data that ends before the bitmap's end.
// A run that goes past the end of its row is no fault: writers pad each row's runs to the stored
// width (ImageMagick does whenever the width is not a multiple of 4), so the run is clipped at
// the row's end and the position stays there.
#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime/images/bmp_picture.h"
#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

// What is read from the stream at a time; an absolute run takes at most 256 bytes.
constexpr uint64_t kRunChunkBytes = uint64_t{1} << 16;

// The run-length data, from the source in memory or read from the stream into a chunk.
class BmpRunSource {
 public:
  explicit BmpRunSource(const BmpPicture& picture) : stream_(picture.stream) {
    if (stream_ == nullptr) {
      bytes_ = picture.source;
      size_ = picture.size;
      position_ = picture.header->offset;
      return;
    }
    chunk_ = static_cast<uint8_t*>(SizedAlloc(kRunChunkBytes));
    bytes_ = chunk_;
    if (chunk_ == nullptr ||
        fseeko(stream_, static_cast<off_t>(picture.header->offset), SEEK_SET) != 0) {
      stream_ = nullptr;  // nothing can be taken
    }
  }
  ~BmpRunSource() { SizedFree(chunk_); }
  BmpRunSource(const BmpRunSource&) = delete;
  BmpRunSource& operator=(const BmpRunSource&) = delete;

  // Take: the next `count` bytes (at most kRunChunkBytes) in one piece, valid until the next
  // call; null when the data ends first.
  const uint8_t* Take(uint64_t count) {
    if (position_ > size_ || size_ - position_ < count) {
      if (chunk_ == nullptr || !Refill(count)) {
        return nullptr;
      }
    }
    const uint8_t* piece = bytes_ + position_;
    position_ += count;
    return piece;
  }

 private:
  // Moves what is left of the chunk to its front and reads behind it until `count` bytes are
  // there or the stream ends.
  bool Refill(uint64_t count) {
    if (stream_ == nullptr) {
      return false;
    }
    const uint64_t left = size_ - position_;
    std::memmove(chunk_, chunk_ + position_, static_cast<size_t>(left));
    size_ = left;
    position_ = 0;
    while (size_ < count) {
      const size_t read =
          std::fread(chunk_ + size_, 1, static_cast<size_t>(kRunChunkBytes - size_), stream_);
      if (read == 0) {
        return false;
      }
      size_ += read;
    }
    return true;
  }

  std::FILE* stream_;
  uint8_t* chunk_ = nullptr;  // SizedBlock, owned; null for a memory source
  const uint8_t* bytes_ = nullptr;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
};

// Clears to transparent black the pixels of 4-byte rows from (x, y) up to (to_x, to_y), stored
// order, that lie inside the picture: the ones no run reached and none can reach any more.
void BmpRunSkip(BmpPicture* picture, int64_t x, int64_t y, int64_t to_x, int64_t to_y) {
  const int64_t last = std::min(to_y, picture->rows - 1);
  for (; y <= last; ++y, x = 0) {
    const int64_t end = y < to_y ? picture->width : std::min(to_x, picture->width);
    if (x < end) {
      std::memset(BmpDestinationRow(*picture, y) + 4 * x, 0, static_cast<size_t>(4 * (end - x)));
    }
  }
}

// Pixels x ... x + count - 1 of row y (inside the picture), clipped at the row's end: the indices
// of an absolute run at `bytes`, or the run of `value` when `bytes` is null.
template <int kOut>
void BmpRunWrite(BmpPicture* picture, int64_t x, int64_t y, uint32_t count, uint32_t value,
                 const uint8_t* bytes) {
  const bool nibbles = picture->header->bits == 4;
  const int64_t inside = x < picture->width ? std::min<int64_t>(count, picture->width - x) : 0;
  uint8_t* out = BmpDestinationRow(*picture, y) + kOut * x;
  for (int64_t i = 0; i < inside; ++i, out += kOut) {
    uint32_t index = bytes == nullptr ? value : bytes[nibbles ? i >> 1 : i];
    if (nibbles) {
      index = (i & 1) == 0 ? index >> 4 : index & 0x0F;
    }
    BmpPutIndexed<kOut>(picture, index, out);
  }
}

// The whole stream; false at the first fault.
template <int kOut>
bool BmpRunDecode(BmpPicture* picture, BmpRunSource* source) {
  const int64_t width = picture->width;
  const int64_t rows = picture->rows;
  const bool clear = kOut == 4 && picture->clear_skipped;
  int64_t x = 0;
  int64_t y = 0;
  for (;;) {
    const uint8_t* pair = source->Take(2);
    if (pair == nullptr) {
      return false;  // no end of the bitmap
    }
    const uint32_t n = pair[0];
    const uint32_t v = pair[1];
    if (n > 0 || v >= 3) {
      const uint8_t* indices = nullptr;
      if (n == 0) {
        const uint32_t bytes = picture->header->bits == 4 ? (v + 1) / 2 : v;
        indices = source->Take(bytes + (bytes & 1U));
        if (indices == nullptr) {
          return false;
        }
      }
      if (y >= rows) {
        return false;  // a run below the last row
      }
      const uint32_t count = n > 0 ? n : v;
      BmpRunWrite<kOut>(picture, x, y, count, v, indices);
      if (!picture->complete) {
        return false;
      }
      x = std::min<int64_t>(x + count, width);
    } else if (v == 0) {
      if (y >= rows) {
        return false;  // more line ends than rows
      }
      if (clear) {
        BmpRunSkip(picture, x, y, 0, y + 1);
      }
      ++y;
      x = 0;
    } else if (v == 1) {
      if (clear) {
        BmpRunSkip(picture, x, y, 0, rows);
      }
      return true;
    } else {
      const uint8_t* delta = source->Take(2);
      if (delta == nullptr) {
        return false;
      }
      const int64_t to_x = x + delta[0];
      const int64_t to_y = y + delta[1];
      if (to_x > width || to_y > rows) {
        return false;
      }
      if (clear) {
        BmpRunSkip(picture, x, y, to_x, to_y);
      }
      x = to_x;
      y = to_y;
    }
  }
}

}  // namespace

void BmpDecodeRunLength(BmpPicture* picture, int pixel_bytes) {
  BmpRunSource source(*picture);
  const bool decoded =
      pixel_bytes == 4 ? BmpRunDecode<4>(picture, &source) : BmpRunDecode<3>(picture, &source);
  if (!decoded) {
    picture->complete = false;
  }
}

}  // namespace zn
