// The BMP decoder's descriptor: recognising a BMP file by its file header, loading a file source,
// and freeing the loaded copy. The pixel conversion lives in bmp_decode.cpp.
#include <sys/types.h>

#include <cstdint>
#include <cstdio>

#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

const ImageDecoder kBmpDecoder = {BmpProbe, BmpDecode, BmpCleanup, BmpFormatTag};

// Loads a file source whole into a zero-filled copy; null for a file shorter than the file
// header or one that cannot be held. Short reads leave zero bytes, which the decoder's bounds
// treat like any other data.
uint8_t* BmpLoadFile(std::FILE* stream) {
  if (stream == nullptr || fseeko(stream, 0, SEEK_END) != 0) {
    return nullptr;
  }
  const off_t size = ftello(stream);
  fseeko(stream, 0, SEEK_SET);
  if (size < static_cast<off_t>(kBmpFileHeaderBytes)) {
    return nullptr;
  }
  auto* copy = static_cast<uint8_t*>(SizedAllocZeroed(static_cast<uint64_t>(size)));
  if (copy == nullptr) {
    return nullptr;
  }
  if (std::fread(copy, 1, kBmpFileHeaderBytes, stream) != kBmpFileHeaderBytes) {
    SizedFree(copy);
    return nullptr;
  }
  return copy;
}

}  // namespace

int32_t BmpProbe(DecodeState* state) {
  const uint8_t* header = nullptr;
  uint64_t size = 0;
  uint8_t* copy = nullptr;
  if (state->from_memory != 0) {
    header = static_cast<const uint8_t*>(state->memory);
    size = state->memory_size < 0 ? 0 : static_cast<uint64_t>(state->memory_size);
    // A block shorter than the file header is refused, as a file of that size is.
    if (header == nullptr || size < kBmpFileHeaderBytes) {
      return 0;
    }
  } else {
    copy = BmpLoadFile(state->stream);
    if (copy == nullptr) {
      return 0;
    }
    header = copy;
    size = static_cast<uint64_t>(SizedSizeOf(copy));
  }
  if (BmpRead16(header, size, 0) != kBmpSignature || BmpRead16(header, size, 6) != 0 ||
      BmpRead16(header, size, 8) != 0) {
    SizedFree(copy);
    return 0;
  }
  if (copy != nullptr) {
    // Results ignored: what a short read leaves out stays zero.
    (void)std::fread(copy + kBmpFileHeaderBytes, 1, size - kBmpFileHeaderBytes, state->stream);
  }
  state->scratch[kBmpScratchCopy] = copy;
  state->scratch[kBmpScratchHeader] = const_cast<uint8_t*>(header);
  state->width = static_cast<int32_t>(BmpRead32(header, size, 18));
  state->height = static_cast<int32_t>(BmpRead32(header, size, 22));
  state->output_depth = 24;
  state->source_depth = static_cast<int32_t>(BmpRead16(header, size, 28));
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
