// Internal to the image library: the colour network behind palette reduction and the BMP layout
// rules that the reader and the writer share. Not installed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace zn {

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
inline constexpr uint32_t kBmpHeadersBytes = kBmpFileHeaderBytes + kBmpInfoHeaderBytes;
inline constexpr uint16_t kBmpSignature = 0x4D42;

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

// BmpOutput: where the writer's bytes go. A file is written under a temporary name beside the
// target; a memory block is allocated at the file's size.
struct BmpOutput {
  std::FILE* file;
  char* temp_name;    // SizedBlock
  char* target_name;  // SizedBlock: the target, with a symbolic link resolved
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

// The decoder's words in DecodeState::scratch.
inline constexpr int kBmpScratchCopy = 0;    // the loaded copy of a file source, owned
inline constexpr int kBmpScratchHeader = 1;  // the start of the file: the copy or the memory

}  // namespace zn
