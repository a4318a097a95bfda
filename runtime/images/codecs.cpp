// The codec registry: the decoder and encoder tables, the DecodeState slot, and the decode
// sequence that offers a source to each decoder in turn.
//
// A start finishes a decode that was started and never finished before it clears the state, so
// a forgotten ImageDecodeFinish cannot leak the previous decoder's loaded copy or its stream.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime/containers/containers.h"
#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"

namespace zn {
namespace {

const ImageDecoder* DecoderTable[kCodecTableEntries];
int32_t decoder_count = 0;
const ImageEncoder* EncoderTable[kCodecTableEntries];
int32_t encoder_count = 0;

ThreadSlot decode_slot = nullptr;

void DecodeSlotCreate() {
  // The slot's block lives until the library ends; a second start keeps the first block.
  if (decode_slot == nullptr) {
    decode_slot = ThreadSlotCreate(static_cast<int32_t>(sizeof(DecodeState)), nullptr, nullptr);
  }
}

DecodeState* DecodeStateGet() {
  DecodeSlotCreate();
  return decode_slot == nullptr ? nullptr : static_cast<DecodeState*>(ThreadSlotGet(decode_slot));
}

// Clears the state for a new source and offers it to each decoder in registration order.
FormatTag DecodeStartWith(DecodeState* state) {
  for (int32_t i = 0; i < decoder_count; ++i) {
    const ImageDecoder* decoder = DecoderTable[i];
    std::memset(state->scratch, 0, sizeof state->scratch);
    if (decoder->probe(state) != 0) {
      state->decoder = decoder;
      return decoder->tag;
    }
  }
  return 0;
}

DecodeState* DecodeStateFresh() {
  DecodeState* state = DecodeStateGet();
  if (state == nullptr) {
    return nullptr;
  }
  ImageDecodeFinish();
  std::memset(state, 0, sizeof *state);
  state->frame_count = 1;
  state->attribute = 0;
  return state;
}

}  // namespace

void ImageDecoderRegister(const ImageDecoder* decoder) {
  if (decoder == nullptr || decoder_count >= kCodecTableEntries) {
    return;
  }
  DecoderTable[decoder_count++] = decoder;
}

void ImageEncoderRegister(const ImageEncoder* encoder) {
  if (encoder == nullptr || encoder_count >= kCodecTableEntries) {
    return;
  }
  EncoderTable[encoder_count++] = encoder;
}

int32_t ImageDecoderCount() {
  return decoder_count;
}

const ImageDecoder* ImageDecoderAt(int32_t position) {
  return position >= 0 && position < decoder_count ? DecoderTable[position] : nullptr;
}

int32_t ImageEncoderCount() {
  return encoder_count;
}

const ImageEncoder* ImageEncoderAt(int32_t position) {
  return position >= 0 && position < encoder_count ? EncoderTable[position] : nullptr;
}

const ImageEncoder* ImageEncoderFind(FormatTag tag) {
  for (int32_t i = 0; i < encoder_count; ++i) {
    if (EncoderTable[i]->tag == tag) {
      return EncoderTable[i];
    }
  }
  return nullptr;
}

void DecodeStateInit() {
  decoder_count = 0;
  DecodeSlotCreate();
}

void DecodeStateEnd() {
  ImageDecodeFinish();
  ThreadSlotFree(decode_slot);
  decode_slot = nullptr;
  decoder_count = 0;
  encoder_count = 0;
}

FormatTag ImageDecodeStartMemory(const void* address, int32_t size) {
  DecodeState* state = DecodeStateFresh();
  if (state == nullptr) {
    return 0;
  }
  state->from_memory = 1;
  state->memory = address;
  state->memory_size = size;
  return DecodeStartWith(state);
}

FormatTag ImageDecodeStartFile(const char* file_name) {
  return file_name == nullptr ? 0 : ImageDecodeStartStream(ImageFileOpenRead(file_name));
}

FormatTag ImageDecodeStartStream(std::FILE* stream) {
  DecodeState* state = DecodeStateFresh();
  if (stream == nullptr || state == nullptr) {
    if (stream != nullptr) {
      ImageFailureNote(ImageFailureReason::kOutOfMemory, 0);
      std::fclose(stream);
    }
    return 0;
  }
  state->stream = stream;
  const FormatTag tag = DecodeStartWith(state);
  if (tag == 0) {
    // A decoder that saw only zeros may have been refused by a failing read.
    if (std::ferror(stream) != 0) {
      ImageFailureNoteErrno(errno, ImageFailureReason::kReadError);
    }
    // No finish follows a refused start, so the stream is closed here.
    std::fclose(stream);
    state->stream = nullptr;
  }
  return tag;
}

int64_t ImageDecodeWidth() {
  const DecodeState* state = DecodeStateGet();
  return state == nullptr ? 0 : state->width;
}

int64_t ImageDecodeHeight() {
  const DecodeState* state = DecodeStateGet();
  return state == nullptr ? 0 : state->height;
}

int64_t ImageDecodeDepth() {
  const DecodeState* state = DecodeStateGet();
  return state == nullptr ? 0 : state->output_depth;
}

int64_t ImageDecodeSourceDepth() {
  const DecodeState* state = DecodeStateGet();
  return state == nullptr ? 0 : state->source_depth;
}

int64_t ImageDecodeFrameCount() {
  const DecodeState* state = DecodeStateGet();
  return state == nullptr ? 0 : state->frame_count;
}

int64_t ImageDecodeAttribute() {
  const DecodeState* state = DecodeStateGet();
  return state == nullptr ? 0 : state->attribute;
}

int32_t ImageDecodePixels(void* destination, int32_t bytes_per_row, uint32_t flags) {
  DecodeState* state = DecodeStateGet();
  if (state == nullptr || state->decoder == nullptr) {
    return 0;
  }
  return state->decoder->decode(state, destination, bytes_per_row, flags);
}

void ImageDecodeFinish() {
  DecodeState* state =
      decode_slot == nullptr ? nullptr : static_cast<DecodeState*>(ThreadSlotGet(decode_slot));
  if (state == nullptr || state->decoder == nullptr) {
    return;
  }
  // The decode counts as finished before the cleanup runs: a cleanup that finishes again (or
  // starts another decode) must not run the cleanup a second time.
  const ImageDecoder* decoder = state->decoder;
  state->decoder = nullptr;
  decoder->cleanup(state);
  if (state->from_memory == 0 && state->stream != nullptr) {
    std::fclose(state->stream);
    state->stream = nullptr;
  }
}

}  // namespace zn
