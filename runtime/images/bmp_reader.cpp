// The BMP decoder's descriptor: recognising a BMP file by its headers, loading a file source, and
// freeing the loaded copy. The pixel conversion lives in bmp_decode.cpp.
#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

const ImageDecoder kBmpDecoder = {BmpProbe, BmpDecode, BmpCleanup, BmpFormatTag};

// A file's pixel data is not loaded: the decode reads it from the stream in chunks, so that a
// picture's data is not held twice. What the copy holds is the file's head: the headers, the
// masks and the largest colour table, or up to the pixel data if that lies further (a small file
// is loaded whole).
constexpr uint64_t kHeadBeyondHeader = 16 + 256 * 4;  // masks after a 40-byte header, a table

// Reads `count` bytes at `target`; what a short read leaves out is cleared, so that the
// decoder's bounds see zero bytes there like any other data.
void BmpReadInto(std::FILE* stream, uint8_t* target, uint64_t count) {
  const size_t read = std::fread(target, 1, static_cast<size_t>(count), stream);
  if (read < count) {
    std::memset(target + read, 0, static_cast<size_t>(count) - read);
  }
}

// How much of a file of `size` bytes to load, from its file header and header size.
uint64_t BmpHeadBytes(std::FILE* stream, const BmpHeader& file_header, uint64_t size) {
  uint8_t header_size[4] = {};
  if (std::fread(header_size, 1, 4, stream) != 4) {
    return size;
  }
  const uint64_t head = std::max<uint64_t>(
      file_header.offset,
      kBmpFileHeaderBytes + uint64_t{BmpRead32(header_size, 4, 0)} + kHeadBeyondHeader);
  return std::min(head, size);
}

// Loads a file source, once its file header has shown a BMP: the signature is checked before
// anything is allocated. The file's head, or the whole file if that is no longer (*file_size
// tells the file's size). Null for a file that is no BMP or cannot be held.
uint8_t* BmpLoadFile(std::FILE* stream, uint64_t* file_size) {
  uint8_t first[kBmpFileHeaderBytes];
  BmpHeader header{};
  if (stream == nullptr || fseeko(stream, 0, SEEK_SET) != 0 ||
      std::fread(first, 1, kBmpFileHeaderBytes, stream) != kBmpFileHeaderBytes ||
      !BmpFileHeaderRead(first, &header) || fseeko(stream, 0, SEEK_END) != 0) {
    return nullptr;
  }
  const off_t end = ftello(stream);
  if (end < static_cast<off_t>(kBmpFileHeaderBytes) ||
      fseeko(stream, kBmpFileHeaderBytes, SEEK_SET) != 0) {
    return nullptr;
  }
  *file_size = static_cast<uint64_t>(end);
  const uint64_t head = BmpHeadBytes(stream, header, *file_size);
  // Not zero-filled up front, which would touch every page twice.
  auto* copy = static_cast<uint8_t*>(SizedAlloc(head));
  if (copy == nullptr || fseeko(stream, kBmpFileHeaderBytes, SEEK_SET) != 0) {
    ImageFailureNote(
        copy == nullptr ? ImageFailureReason::kOutOfMemory : ImageFailureReason::kReadError, 0);
    SizedFree(copy);
    return nullptr;
  }
  ImageAdviseLarge(copy, head);
  std::memcpy(copy, first, kBmpFileHeaderBytes);
  BmpReadInto(stream, copy + kBmpFileHeaderBytes, head - kBmpFileHeaderBytes);
  return copy;
}

// Whether the pixel data can be read from the stream. Run-length data always can: it is read as
// it comes, a chunk at a time, whatever the header claims. Rows only when the file holds every one
// of them (a file that ends early is loaded whole), so that no buffer is ever sized by the header
// alone.
bool BmpStreamable(const BmpHeader& header, uint64_t file_size) {
  if (BmpRunLength(header)) {
    return true;
  }
  const uint64_t rows = header.height < 0 ? -static_cast<int64_t>(header.height) : header.height;
  uint64_t end = 0;
  return MemorySizeFits(rows, BmpRowBytes(header), header.offset, &end) && end <= file_size;
}

uint8_t* BmpLoadRest(std::FILE* stream, uint8_t* copy, uint64_t file_size) {
  const auto head = static_cast<uint64_t>(SizedSizeOf(copy));
  auto* whole = static_cast<uint8_t*>(SizedResize(copy, static_cast<int64_t>(file_size)));
  if (whole == nullptr || fseeko(stream, static_cast<off_t>(head), SEEK_SET) != 0) {
    ImageFailureNote(
        whole == nullptr ? ImageFailureReason::kOutOfMemory : ImageFailureReason::kReadError, 0);
    SizedFree(whole == nullptr ? copy : whole);
    return nullptr;
  }
  BmpReadInto(stream, whole + head, file_size - head);
  return whole;
}

}  // namespace

int32_t BmpProbe(DecodeState* state) {
  const uint8_t* source = nullptr;
  uint64_t size = 0;
  uint64_t file_size = 0;
  uint8_t* copy = nullptr;
  if (state->from_memory != 0) {
    source = static_cast<const uint8_t*>(state->memory);
    size = state->memory_size < 0 ? 0 : static_cast<uint64_t>(state->memory_size);
  } else {
    copy = BmpLoadFile(state->stream, &file_size);
    if (copy == nullptr) {
      return 0;
    }
    source = copy;
    size = static_cast<uint64_t>(SizedSizeOf(copy));
  }
  // The decode reads the header through the same record, so what is accepted here it converts.
  // The head holds everything the record reads, so a head is accepted exactly when the whole file
  // would be.
  BmpHeader header{};
  if (!BmpHeaderRead(source, size, &header)) {
    if (copy != nullptr) {
      ImageFailureNote(ImageFailureReason::kDamaged, 0);  // a BMP, unless its layout was noted
    }
    SizedFree(copy);
    return 0;
  }
  bool streamed = false;
  if (copy != nullptr && size < file_size) {
    if (!BmpStreamable(header, file_size)) {
      copy = BmpLoadRest(state->stream, copy, file_size);
      if (copy == nullptr) {
        return 0;
      }
      source = copy;
    } else {
      streamed = true;
    }
  }
  state->scratch[kBmpScratchCopy] = copy;
  state->scratch[kBmpScratchHeader] = const_cast<uint8_t*>(source);
  state->scratch[kBmpScratchStreamed] = streamed ? state->stream : nullptr;
  state->width = header.width;
  state->height = header.height;
  state->output_depth = 24;
  state->source_depth = header.bits;
  return 1;
}

void BmpCleanup(DecodeState* state) {
  SizedFree(state->scratch[kBmpScratchCopy]);
  state->scratch[kBmpScratchCopy] = nullptr;
  state->scratch[kBmpScratchHeader] = nullptr;
  state->scratch[kBmpScratchStreamed] = nullptr;
}

void BmpCodecRegister() {
  ImageDecoderRegister(&kBmpDecoder);
  BmpEncoderRegister();
}

}  // namespace zn
