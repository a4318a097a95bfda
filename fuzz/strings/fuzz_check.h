// Shared by the string fuzz targets: property checks that stop the run on a failure, and the
// temporary buffer started once per process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/strings/strings.h"

namespace zn::fuzz {

// Stops the run with a message when a property does not hold; the fuzzer records the input.
inline void Require(bool holds, const char* property) {
  if (!holds) {
    std::fprintf(stderr, "property failed: %s\n", property);
    std::abort();
  }
}

// Starts the temporary buffer on the first input and checks it is balanced on every later one.
inline void StartInput() {
  static bool started = false;
  if (!started) {
    TempTextInit();
    started = true;
  }
  Require(TempTextStackDepth() == 0, "the position stack is balanced between inputs");
}

// The input read as UTF-16 units (pairs of bytes, the last odd byte dropped).
inline std::u16string UnitsOf(const uint8_t* data, size_t size) {
  std::u16string units(size / 2, u'\0');
  if (!units.empty()) {
    std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
  }
  return units;
}

}  // namespace zn::fuzz
