// Internal to the image library: the colour network behind palette reduction and the BMP header
// record that the reader and the writer share. Not installed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime/images/images.h"

namespace zn {

// ---------------------------------------------------------------------------------------------
// Image objects.

// ImageAdopt: records `image` and its `bitmap` (width x height RGBA pixels, read from a file of
// `source_depth` bits per pixel) under `id` or AnyId, freeing an image that had the id. The
// record, or null when memory is exhausted; either way the two objects are taken over (released
// on failure).
ImageRecord* ImageAdopt(int64_t id, desktop::NSImage* image, desktop::NSBitmapImageRep* bitmap,
                        int32_t width, int32_t height, int32_t source_depth);

// ImageFind: the live image with this id, or null.
ImageRecord* ImageFind(int64_t id);

// ImageRowOverWhite: `width` red, green, blue, alpha pixels laid over white, as the writer lays
// them at 24 and 32 bits, written to `target` as opaque red, green, blue, 255 (target may be
// source).
void ImageRowOverWhite(const uint8_t* source, int32_t width, uint8_t* target);

// ImageFileOpenRead: a stream reading the regular file `file_name`, opened without waiting (a
// FIFO nobody writes, a device, a file under a lease never hold the caller up) and then switched
// back to ordinary reads. Null, with the reason noted, for anything but a regular file or when it
// cannot be opened; a device is looked at, never opened.
std::FILE* ImageFileOpenRead(const char* file_name);

// ImageDecodeStartStream: ImageDecodeStartFile on a stream already open, which it takes over
// (closed by ImageDecodeFinish, or here when no decoder accepts it). Null does nothing: 0.
FormatTag ImageDecodeStartStream(std::FILE* stream);

// ---------------------------------------------------------------------------------------------
// Failure reasons. ImageFailureBegin clears the note; the inner steps note what went wrong (the
// first note stands); ImageFailureEnd publishes it for ImageLastFailure, or `otherwise` when a
// failure left no note.
void ImageFailureBegin();
void ImageFailureNote(ImageFailureReason reason, int32_t system_error);
// ImageFailureNoteErrno: the reason an errno value names (a missing file, a denied access, a loop
// of links ...), or `otherwise` for the rest, with the value.
void ImageFailureNoteErrno(int system_error, ImageFailureReason otherwise);
void ImageFailureEnd(bool succeeded, ImageFailureReason otherwise);

// ImageAdviseLarge: tells the system that a large block about to be filled for the first time is
// best backed by large pages, which spares most of the page faults of a whole picture. A hint
// only: it changes no byte and may be ignored.
void ImageAdviseLarge(void* block, uint64_t size);

// ---------------------------------------------------------------------------------------------
// The colour network: NeuQuant over four channels in double precision, colours learned in a
// gamma-corrected space.

inline constexpr int32_t kNetworkMaxColours = 256;
inline constexpr int32_t kRadiusPowerEntries = 32;

// Neuron components, in this order.
enum NeuronComponent : int32_t {
  kNeuronAlpha = 0,
  kNeuronBlue = 1,
  kNeuronGreen = 2,
  kNeuronRed = 3
};

struct ColourNetwork {
  const uint8_t* picture;  // RGBA pixels, not owned
  // The picture's size in bytes. 64 bits, so that a picture of more than 4 GiB of RGBA pixels
  // (whose file can still be below the 4 GiB limit at 8 bits) is learned from whole.
  uint64_t length;
  double neurons[kNetworkMaxColours][4];
  int32_t GreenIndex[kNetworkMaxColours];
  double bias[kNetworkMaxColours];
  double frequency[kNetworkMaxColours];
  double RadiusPower[kRadiusPowerEntries];
  uint32_t netsize;
  double gamma;
  double GammaTable[256];
  uint8_t SearchMap[kNetworkMaxColours][4];  // red, green, blue (gamma space), alpha
};

// NetworkCreate: a network of `colours` (2 to 256) grey neurons over the picture; null when
// memory is exhausted.
ColourNetwork* NetworkCreate(const uint8_t* picture, uint64_t length, int32_t colours,
                             double gamma);

// NetworkFree: null does nothing.
void NetworkFree(ColourNetwork* network);

// NetworkLearn: trains the neurons on about length / (4 * sample_factor) pixels.
void NetworkLearn(ColourNetwork* network, int32_t sample_factor);

// NetworkLearningStep: the byte step through the picture, chosen by which primes divide the
// length so that the samples do not fall into a pattern.
uint64_t NetworkLearningStep(uint64_t length);

// PaletteSampleFactor: 1 in every how many pixels learning looks at; larger pictures are
// sampled more sparsely (1 below 262144 pixels, at most 10).
int32_t PaletteSampleFactor(int32_t width, int32_t height);

// NetworkContest: the neuron that wins a sample (alpha, blue, green, red in gamma space), with
// the bias and frequency updates; the shortcut is taken only where it cannot change the winner.
int32_t NetworkContest(ColourNetwork* network, double alpha, double blue, double green, double red);

// NetworkBuildIndex: sorts the neurons by green and builds the GreenIndex and the SearchMap.
void NetworkBuildIndex(ColourNetwork* network);

// NetworkColourMap: the sorted neurons as linear colours, netsize entries of red, green, blue,
// alpha.
void NetworkColourMap(const ColourNetwork* network, uint8_t (*palette)[4]);

// NetworkSearch: the index of the palette colour nearest to the pixel.
int32_t NetworkSearch(const ColourNetwork* network, int32_t alpha, int32_t blue, int32_t green,
                      int32_t red);

// The conversions between learned values and bytes.
int32_t NetworkUnbias(double value, double gamma);
int32_t NetworkUnbiasAlpha(double value);
double ColourImportance(int32_t alpha);

// ---------------------------------------------------------------------------------------------
// BMP layout.

inline constexpr uint32_t kBmpFileHeaderBytes = 14;
inline constexpr uint32_t kBmpInfoHeaderBytes = 40;
inline constexpr uint32_t kBmpCoreHeaderBytes = 12;  // the OS/2 1.x info header
inline constexpr uint32_t kBmpHeadersBytes = kBmpFileHeaderBytes + kBmpInfoHeaderBytes;
inline constexpr uint16_t kBmpSignature = 0x4D42;

// The compressions the reader decodes. Every other value (Huffman-coded 1-bit pictures, embedded
// JPEG or PNG, RLE24, anything unknown) is refused by the probe.
inline constexpr uint32_t kBmpCompressionNone = 0;
inline constexpr uint32_t kBmpCompressionRle8 = 1;
inline constexpr uint32_t kBmpCompressionRle4 = 2;
inline constexpr uint32_t kBmpCompressionBitFields = 3;
inline constexpr uint32_t kBmpCompressionAlphaBitFields = 6;

// Little-endian reads inside a source of `size` bytes; 0 for any byte past the end, so that a
// header field of a short file reads as 0 instead of reaching outside it.
inline uint32_t BmpRead8(const uint8_t* source, uint64_t size, uint64_t offset) {
  return offset < size ? source[offset] : 0U;
}

inline uint32_t BmpRead16(const uint8_t* source, uint64_t size, uint64_t offset) {
  return BmpRead8(source, size, offset) | (BmpRead8(source, size, offset + 1) << 8);
}

inline uint32_t BmpRead32(const uint8_t* source, uint64_t size, uint64_t offset) {
  return BmpRead16(source, size, offset) | (BmpRead16(source, size, offset + 2) << 16);
}

inline void BmpPut16(uint8_t* target, uint32_t value) {
  target[0] = static_cast<uint8_t>(value);
  target[1] = static_cast<uint8_t>(value >> 8);
}

inline void BmpPut32(uint8_t* target, uint32_t value) {
  BmpPut16(target, value & 0xFFFF);
  BmpPut16(target + 2, value >> 16);
}

// One channel of a bit-field picture: (value & mask) >> shift is the channel's `width` bits,
// widened to 8 by shifting left with the low bits zero (a 5-bit 31 becomes 248).
struct BmpChannel {
  uint32_t mask;
  uint32_t shift;
  uint32_t width;
};

// BmpHeader: the file header and the info header as one record. The reader and the writer meet
// the header's bytes only through BmpHeaderRead and BmpHeaderWrite, so the offsets of the fields
// are said once.
struct BmpHeader {
  // The 14-byte file header.
  uint16_t type;  // bfType: "BM"
  uint32_t file_size;
  uint16_t reserved1;
  uint16_t reserved2;
  uint32_t offset;  // bfOffBits: where the pixel data starts
  // The info header: 12 bytes (OS/2 1.x: 16-bit sides, no compression), or 40 bytes and the
  // longer headers that extend it. Fields a short header lacks read as 0.
  uint32_t header_size;
  int32_t width;
  int32_t height;  // negative: rows stored top row first
  uint16_t planes;
  uint16_t bits;
  uint32_t compression;
  uint32_t image_size;
  int32_t x_pixels_per_metre;
  int32_t y_pixels_per_metre;
  uint32_t colours_used;
  uint32_t colours_important;
  // What the reader derives from them.
  uint64_t table_start;        // the colour table, right behind the info header
  uint32_t table_entry_bytes;  // 3 (blue, green, red) in OS/2 1.x files, else 4
  uint64_t table_entries;      // as the header says: colours used, or 2^bits
  bool masked;                 // 16- and 32-bit pixels decode through `channels`
  bool has_alpha;              // channels[3] holds the alpha
  BmpChannel channels[4];      // red, green, blue, alpha
};

// BmpRunLength: whether the pixels are run-length data (RLE8 at 8 bits, RLE4 at 4) rather than
// rows.
inline bool BmpRunLength(const BmpHeader& header) {
  return (header.bits == 8 && header.compression == kBmpCompressionRle8) ||
         (header.bits == 4 && header.compression == kBmpCompressionRle4);
}

// BmpRowBytes: the bytes of one stored row of uncompressed pixels, padded to 4.
inline uint64_t BmpRowBytes(const BmpHeader& header) {
  return (static_cast<uint64_t>(header.width < 0 ? 0 : header.width) * header.bits + 31) / 32 * 4;
}

// BmpFileHeaderRead: the 14-byte file header at `bytes`; false unless it starts with the signature
// and both reserved fields are 0.
bool BmpFileHeaderRead(const uint8_t* bytes, BmpHeader* header);

// BmpHeaderRead: both headers of the file of `size` bytes at `source`, and its channel masks;
// false when the file is no BMP or the decoder cannot convert its layout (a depth, compression or
// masks it does not implement, a negative width, pixel data that starts inside the headers).
// Whatever it accepts, BmpDecode converts.
bool BmpHeaderRead(const uint8_t* source, uint64_t size, BmpHeader* header);

// BmpHeaderWrite: the file header and a 40-byte info header, kBmpHeadersBytes at `target`.
void BmpHeaderWrite(const BmpHeader& header, uint8_t* target);

// BmpOutput: where the writer's bytes go. A file is written under a temporary name beside the
// target; a memory block is allocated at the file's size.
struct BmpOutput {
  std::FILE* file;
  char* temp_name;    // SizedBlock; null when the target is written directly (a device, a pipe)
  char* target_name;  // SizedBlock: the target, with symbolic links followed
  uint8_t* block;     // memory output
  uint64_t position;
  uint64_t size;
};

// BmpOutputOpen: a file output when `file_name` is given, else a memory block of `size` bytes;
// false (with nothing created) when it cannot be made.
bool BmpOutputOpen(BmpOutput* output, const char* file_name, uint64_t size);

// BmpOutputWrite: false on a short write; a memory block never refuses.
bool BmpOutputWrite(BmpOutput* output, const void* bytes, uint64_t count);

// BmpOutputReserve: the next `count` bytes of a memory block, to be filled in place.
uint8_t* BmpOutputReserve(BmpOutput* output, uint64_t count);

// BmpOutputFinish: with `written`, puts the file in place (1) or hands out the block (its
// address); otherwise, or when closing or renaming fails, removes the temporary file or frees the
// block and gives 0.
int64_t BmpOutputFinish(BmpOutput* output, bool written);

// BmpRowSwap: the `width` red, green, blue pixels of `source` written to `target` as blue, green,
// red, the file's order at 24 bits. Reads and writes exactly 3 x width bytes. Uses the widest
// vectors the processor offers; every path gives the same bytes.
void BmpRowSwap(const uint8_t* source, int32_t width, uint8_t* target);

// BmpRowSwapBaseline: the same on the instructions every processor of the build's kind has.
void BmpRowSwapBaseline(const uint8_t* source, int32_t width, uint8_t* target);

// BmpRowSwapWide: the same with 64-byte vectors, when the processor has them (true); false, with
// nothing written, when it has not. Tests compare it with the baseline.
bool BmpRowSwapWide(const uint8_t* source, int32_t width, uint8_t* target);

// BmpRowSwapStreamPays: whether rows for a target block of `bytes` bytes at `target` are best
// streamed past the cache: a large block whose pages are in memory already (a block used before),
// on a processor with the 64-byte vectors. Speed only; the bytes are the same either way.
bool BmpRowSwapStreamPays(const uint8_t* target, uint64_t bytes);

// BmpRowSwapStream: BmpRowSwap with the stores streamed past the cache, when the processor has
// the 64-byte vectors (true); false, with nothing written, when it has not. BmpRowSwapStreamEnd
// after the last row orders the streamed stores before whatever follows.
bool BmpRowSwapStream(const uint8_t* source, int32_t width, uint8_t* target);
void BmpRowSwapStreamEnd();

// The decoder's words in DecodeState::scratch.
inline constexpr int kBmpScratchCopy = 0;    // the loaded copy of a file source, owned
inline constexpr int kBmpScratchHeader = 1;  // the start of the file: the copy or the memory
// The stream when the file's pixel rows or run-length data are read from it (the copy holds only
// the file's head); null when the copy or the memory holds the whole file.
inline constexpr int kBmpScratchStreamed = 2;

}  // namespace zn
