// The BMP decoder's descriptor: recognising a BMP file by its headers, loading a file source, and
// freeing the loaded copy. The pixel conversion lives in bmp_decode.cpp.
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

const ImageDecoder kBmpDecoder = {BmpProbe, BmpDecode, BmpCleanup, BmpFormatTag};

// Loads a file source whole into a copy, once its file header has shown a BMP: the
// signature is checked before anything is allocated. Null for a file that is no BMP or cannot be
// held.
uint8_t* BmpLoadFile(std::FILE* stream) {
  uint8_t first[kBmpFileHeaderBytes];
  BmpHeader header{};
  if (stream == nullptr || fseeko(stream, 0, SEEK_SET) != 0 ||
      std::fread(first, 1, kBmpFileHeaderBytes, stream) != kBmpFileHeaderBytes ||
      !BmpFileHeaderRead(first, &header) || fseeko(stream, 0, SEEK_END) != 0) {
    return nullptr;
  }
  const off_t size = ftello(stream);
  if (size < static_cast<off_t>(kBmpFileHeaderBytes) ||
      fseeko(stream, kBmpFileHeaderBytes, SEEK_SET) != 0) {
    return nullptr;
  }
  // Not zero-filled up front, which would touch every page twice: only what a short read leaves
  // out is cleared, so that the decoder's bounds see zero bytes there like any other data.
  auto* copy = static_cast<uint8_t*>(SizedAlloc(static_cast<uint64_t>(size)));
  if (copy == nullptr) {
    return nullptr;
  }
  ImageAdviseLarge(copy, static_cast<uint64_t>(size));
  std::memcpy(copy, first, kBmpFileHeaderBytes);
  const size_t rest = static_cast<size_t>(size) - kBmpFileHeaderBytes;
  const size_t read = std::fread(copy + kBmpFileHeaderBytes, 1, rest, stream);
  if (read < rest) {
    std::memset(copy + kBmpFileHeaderBytes + read, 0, rest - read);
  }
  return copy;
}

}  // namespace

int32_t BmpProbe(DecodeState* state) {
  const uint8_t* source = nullptr;
  uint64_t size = 0;
  uint8_t* copy = nullptr;
  if (state->from_memory != 0) {
    source = static_cast<const uint8_t*>(state->memory);
    size = state->memory_size < 0 ? 0 : static_cast<uint64_t>(state->memory_size);
  } else {
    copy = BmpLoadFile(state->stream);
    if (copy == nullptr) {
      return 0;
    }
    source = copy;
    size = static_cast<uint64_t>(SizedSizeOf(copy));
  }
  // The decode reads the header through the same record, so what is accepted here it converts.
  BmpHeader header{};
  if (!BmpHeaderRead(source, size, &header)) {
    SizedFree(copy);
    return 0;
  }
  state->scratch[kBmpScratchCopy] = copy;
  state->scratch[kBmpScratchHeader] = const_cast<uint8_t*>(source);
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
}

void BmpCodecRegister() {
  ImageDecoderRegister(&kBmpDecoder);
  BmpEncoderRegister();
}

}  // namespace zn
