// Internal to the string library: the byte-shuffle tables of the UTF-8 block steps, shared by the
// sixteen-byte and the wide steps, which apply them to eight units (or four) at a time. Not
// installed.
#pragma once

#include <array>
#include <cstdint>

namespace zn::internal {

struct Utf8ShuffleTable {
  alignas(16) std::array<std::array<uint8_t, 16>, 256> masks{};
  std::array<uint8_t, 256> lengths{};
};

// Encoding: four units per table entry, two bits each: bit 0 set from 0x80 up, bit 1 set from
// 0x800 up. The one combination no unit gives (bit 1 alone) marks a unit left out. Each unit's
// three candidate bytes sit at 4 x lane; a unit of two bytes keeps the first two.
constexpr Utf8ShuffleTable Utf8EncodeTableMake() {
  Utf8ShuffleTable table;
  for (uint32_t index = 0; index < 256; ++index) {
    uint8_t n = 0;
    for (uint32_t lane = 0; lane < 4; ++lane) {
      constexpr uint8_t kBytesOfCode[4] = {1, 2, 0, 3};
      const uint8_t bytes = kBytesOfCode[(index >> (2 * lane)) & 3];
      for (uint8_t k = 0; k < bytes; ++k) {
        table.masks[index][n++] = static_cast<uint8_t>(4 * lane + k);
      }
    }
    table.lengths[index] = n;
    for (uint8_t k = n; k < 16; ++k) {
      table.masks[index][k] = 0x80;
    }
  }
  return table;
}

// Decoding: eight 16-bit values per table entry, one bit per value kept.
constexpr Utf8ShuffleTable Utf8DecodeTableMake() {
  Utf8ShuffleTable table;
  for (uint32_t index = 0; index < 256; ++index) {
    uint8_t n = 0;
    for (uint32_t lane = 0; lane < 8; ++lane) {
      if ((index >> lane & 1) != 0) {
        table.masks[index][n++] = static_cast<uint8_t>(2 * lane);
        table.masks[index][n++] = static_cast<uint8_t>(2 * lane + 1);
      }
    }
    table.lengths[index] = static_cast<uint8_t>(n / 2);
    for (uint8_t k = n; k < 16; ++k) {
      table.masks[index][k] = 0x80;
    }
  }
  return table;
}

inline constexpr Utf8ShuffleTable kUtf8EncodeTable = Utf8EncodeTableMake();
inline constexpr Utf8ShuffleTable kUtf8DecodeTable = Utf8DecodeTableMake();

}  // namespace zn::internal
