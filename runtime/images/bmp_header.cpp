// The BMP header record: the one place that knows where each field of the file header and of the
// info header lies, which layouts the decoder converts, and where a bit-field file keeps its
// channel masks. The probe and the decode both read through BmpHeaderRead, so a file the probe
// accepts is a file the decode can convert; the writer writes through BmpHeaderWrite.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "runtime/images/images_internal.h"

namespace zn {
namespace {

// Field offsets from the start of the file.
constexpr uint64_t kAtType = 0;
constexpr uint64_t kAtFileSize = 2;
constexpr uint64_t kAtReserved1 = 6;
constexpr uint64_t kAtReserved2 = 8;
constexpr uint64_t kAtOffset = 10;
constexpr uint64_t kAtHeaderSize = 14;
constexpr uint64_t kAtWidth = 18;
constexpr uint64_t kAtHeight = 22;
constexpr uint64_t kAtPlanes = 26;
constexpr uint64_t kAtBits = 28;
constexpr uint64_t kAtCompression = 30;
constexpr uint64_t kAtImageSize = 34;
constexpr uint64_t kAtXPixelsPerMetre = 38;
constexpr uint64_t kAtYPixelsPerMetre = 42;
constexpr uint64_t kAtColoursUsed = 46;
constexpr uint64_t kAtColoursImportant = 50;
// The channel masks: inside a header of 52 bytes or more (alpha from 56 on), or in the 12 or 16
// bytes right after a 40-byte header.
constexpr uint64_t kAtMasks = 54;
constexpr uint32_t kMaskedHeaderBytes = 52;
constexpr uint32_t kAlphaMaskHeaderBytes = 56;
// The OS/2 1.x core header: 16-bit width and height, planes and bits.
constexpr uint64_t kAtCoreWidth = 18;
constexpr uint64_t kAtCoreHeight = 20;
constexpr uint64_t kAtCorePlanes = 22;
constexpr uint64_t kAtCoreBits = 24;
// The shortest header of the 40-byte family (OS/2 2.x may stop after the bit count).
constexpr uint32_t kShortestInfoHeader = 16;

// A field of the info header, or 0 when the header is too short to hold it.
uint32_t InfoField(const uint8_t* source, uint64_t size, const BmpHeader& header, uint64_t at,
                   uint32_t bytes) {
  if (at + bytes > kBmpFileHeaderBytes + uint64_t{header.header_size}) {
    return 0;
  }
  return bytes == 2 ? BmpRead16(source, size, at) : BmpRead32(source, size, at);
}

// A mask is one run of at most 8 bits inside a pixel of `bits` bits; only the alpha mask may be
// empty (no alpha).
bool BmpChannelOf(uint32_t mask, uint32_t bits, bool may_be_empty, BmpChannel* channel) {
  *channel = BmpChannel{mask, 0, 0};
  if (mask == 0) {
    return may_be_empty;
  }
  if (bits < 32 && (mask >> bits) != 0) {
    return false;
  }
  channel->shift = static_cast<uint32_t>(std::countr_zero(mask));
  const uint32_t run = mask >> channel->shift;
  channel->width = static_cast<uint32_t>(std::countr_one(run));
  return (channel->width >= 32 || (run >> channel->width) == 0) && channel->width <= 8;
}

// Reads and checks the masks of a bit-field file; `masks_after` receives the bytes they take
// behind a 40-byte header.
bool BmpMasksRead(const uint8_t* source, uint64_t size, BmpHeader* header, uint64_t* masks_after) {
  *masks_after = 0;
  bool alpha_field = false;
  if (header->header_size >= kMaskedHeaderBytes) {
    alpha_field = header->header_size >= kAlphaMaskHeaderBytes;
  } else if (header->header_size == kBmpInfoHeaderBytes) {
    alpha_field = header->compression == kBmpCompressionAlphaBitFields;
    *masks_after = alpha_field ? 16 : 12;
    if (kAtMasks + *masks_after > size) {
      return false;
    }
  } else {
    return false;  // a header of 41 to 51 bytes, or a short one, has no place for masks
  }
  uint32_t masks[4] = {};
  for (uint64_t c = 0; c < (alpha_field ? 4U : 3U); ++c) {
    masks[c] = BmpRead32(source, size, kAtMasks + 4 * c);
  }
  for (int c = 0; c < 4; ++c) {
    if (!BmpChannelOf(masks[c], header->bits, c == 3, &header->channels[c])) {
      return false;
    }
  }
  if ((masks[0] & masks[1]) != 0 || ((masks[0] | masks[1]) & masks[2]) != 0 ||
      ((masks[0] | masks[1] | masks[2]) & masks[3]) != 0) {
    return false;
  }
  header->masked = true;
  header->has_alpha = masks[3] != 0;
  return true;
}

// The depths and compressions the decoder converts.
bool BmpLayoutDecodable(const BmpHeader& header, bool core) {
  const uint32_t compression = header.compression;
  switch (header.bits) {
    case 1:
    case 24:
      return compression == kBmpCompressionNone;
    case 4:
      return compression == kBmpCompressionNone || compression == kBmpCompressionRle4;
    case 8:
      return compression == kBmpCompressionNone || compression == kBmpCompressionRle8;
    case 16:
    case 32:
      return !core &&
             (compression == kBmpCompressionNone || compression == kBmpCompressionBitFields ||
              compression == kBmpCompressionAlphaBitFields);
    default:
      return false;
  }
}

}  // namespace

bool BmpFileHeaderRead(const uint8_t* bytes, BmpHeader* header) {
  *header = BmpHeader{};
  header->type = static_cast<uint16_t>(BmpRead16(bytes, kBmpFileHeaderBytes, kAtType));
  if (header->type != kBmpSignature) {
    return false;
  }
  header->file_size = BmpRead32(bytes, kBmpFileHeaderBytes, kAtFileSize);
  header->reserved1 = static_cast<uint16_t>(BmpRead16(bytes, kBmpFileHeaderBytes, kAtReserved1));
  header->reserved2 = static_cast<uint16_t>(BmpRead16(bytes, kBmpFileHeaderBytes, kAtReserved2));
  header->offset = BmpRead32(bytes, kBmpFileHeaderBytes, kAtOffset);
  return header->reserved1 == 0 && header->reserved2 == 0;
}

bool BmpHeaderRead(const uint8_t* source, uint64_t size, BmpHeader* header) {
  if (source == nullptr || size < kBmpFileHeaderBytes || !BmpFileHeaderRead(source, header)) {
    return false;
  }
  header->header_size = BmpRead32(source, size, kAtHeaderSize);
  const bool core = header->header_size == kBmpCoreHeaderBytes;
  if (core) {
    if (size < kBmpFileHeaderBytes + kBmpCoreHeaderBytes) {
      return false;
    }
    header->width = static_cast<int32_t>(BmpRead16(source, size, kAtCoreWidth));
    header->height = static_cast<int32_t>(BmpRead16(source, size, kAtCoreHeight));
    header->planes = static_cast<uint16_t>(BmpRead16(source, size, kAtCorePlanes));
    header->bits = static_cast<uint16_t>(BmpRead16(source, size, kAtCoreBits));
    header->table_entry_bytes = 3;
  } else {
    if (header->header_size < kShortestInfoHeader ||
        header->header_size > size - kBmpFileHeaderBytes) {
      return false;
    }
    const auto field = [&](uint64_t at, uint32_t bytes) {
      return InfoField(source, size, *header, at, bytes);
    };
    header->width = static_cast<int32_t>(field(kAtWidth, 4));
    header->height = static_cast<int32_t>(field(kAtHeight, 4));
    header->planes = static_cast<uint16_t>(field(kAtPlanes, 2));
    header->bits = static_cast<uint16_t>(field(kAtBits, 2));
    header->compression = field(kAtCompression, 4);
    header->image_size = field(kAtImageSize, 4);
    header->x_pixels_per_metre = static_cast<int32_t>(field(kAtXPixelsPerMetre, 4));
    header->y_pixels_per_metre = static_cast<int32_t>(field(kAtYPixelsPerMetre, 4));
    header->colours_used = field(kAtColoursUsed, 4);
    header->colours_important = field(kAtColoursImportant, 4);
    header->table_entry_bytes = 4;
  }
  if (header->width < 0) {
    return false;
  }
  uint64_t masks_after = 0;
  if (!BmpLayoutDecodable(*header, core) ||
      ((header->compression == kBmpCompressionBitFields ||
        header->compression == kBmpCompressionAlphaBitFields) &&
       !BmpMasksRead(source, size, header, &masks_after))) {
    ImageFailureNote(ImageFailureReason::kLayoutNotSupported, 0);
    return false;
  }
  header->table_start = kBmpFileHeaderBytes + uint64_t{header->header_size};
  if (header->bits <= 8) {
    const uint64_t largest = uint64_t{1} << header->bits;
    header->table_entries = header->colours_used == 0 || core
                                ? largest
                                : std::min<uint64_t>(header->colours_used, largest);
  }
  // Pixel data that starts inside the headers (or the masks behind them) is no picture.
  return static_cast<int32_t>(header->offset) >= 0 &&
         header->offset >= header->table_start + masks_after;
}

void BmpHeaderWrite(const BmpHeader& header, uint8_t* target) {
  std::memset(target, 0, kBmpHeadersBytes);
  BmpPut16(target + kAtType, header.type);
  BmpPut32(target + kAtFileSize, header.file_size);
  BmpPut16(target + kAtReserved1, header.reserved1);
  BmpPut16(target + kAtReserved2, header.reserved2);
  BmpPut32(target + kAtOffset, header.offset);
  BmpPut32(target + kAtHeaderSize, kBmpInfoHeaderBytes);
  BmpPut32(target + kAtWidth, static_cast<uint32_t>(header.width));
  BmpPut32(target + kAtHeight, static_cast<uint32_t>(header.height));
  BmpPut16(target + kAtPlanes, header.planes);
  BmpPut16(target + kAtBits, header.bits);
  BmpPut32(target + kAtCompression, header.compression);
  BmpPut32(target + kAtImageSize, header.image_size);
  BmpPut32(target + kAtXPixelsPerMetre, static_cast<uint32_t>(header.x_pixels_per_metre));
  BmpPut32(target + kAtYPixelsPerMetre, static_cast<uint32_t>(header.y_pixels_per_metre));
  BmpPut32(target + kAtColoursUsed, header.colours_used);
  BmpPut32(target + kAtColoursImportant, header.colours_important);
}

}  // namespace zn
