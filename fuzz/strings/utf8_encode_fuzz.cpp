// Fuzzes UTF-8 encoding: Utf16ToMultiByte in both modes (UTF-8 and single-byte) and StringToUtf8,
// on the input read as UTF-16 units.
//
// Properties: counting and converting agree; every destination length is a hard limit and gives a
// prefix of the full result made of whole characters; StringToUtf8 gives the converted bytes and a
// 0 byte; encoded text decodes back to the units it came from; the steps of every width agree.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/strings/fuzz_check.h"
#include "runtime/strings/strings.h"
#include "runtime/strings/strings_testing.h"

using zn::fuzz::Require;

namespace {

void CheckSingleByte(const std::u16string& units) {
  const auto length = static_cast<int32_t>(units.size());
  const int32_t counted =
      zn::Utf16ToMultiByte(zn::CodePageSingleByte, 0, units.data(), length, nullptr, 0);
  std::string out(static_cast<size_t>(counted) + 1, '\x5A');
  const int32_t converted =
      zn::Utf16ToMultiByte(zn::CodePageSingleByte, 0, units.data(), length, out.data(), counted);
  Require(converted == counted, "single-byte counting and converting agree");
  Require(out[static_cast<size_t>(counted)] == '\x5A', "single-byte destination is a hard limit");
  size_t at = 0;
  for (char16_t unit : units) {
    if (unit < 256) {
      Require(static_cast<unsigned char>(out[at++]) == unit, "units below 256 kept");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zn::fuzz::StartInput();
  if (size > 8192) {
    return 0;
  }
  const std::u16string units = zn::fuzz::UnitsOf(data, size);
  const auto length = static_cast<int32_t>(units.size());

  const int32_t counted =
      zn::Utf16ToMultiByte(zn::CodePageUtf8, 0, units.data(), length, nullptr, 0);
  Require(counted >= 0 && counted <= 3 * length, "at most three bytes per unit");
  std::string full(static_cast<size_t>(counted) + 1, '\x5A');
  const int32_t converted =
      zn::Utf16ToMultiByte(zn::CodePageUtf8, 0, units.data(), length, full.data(), counted);
  Require(converted == counted || converted == 0, "converting agrees with counting");
  Require(full[static_cast<size_t>(counted)] == '\x5A', "the destination length is a hard limit");
  const bool faulted = counted > 0 && converted == 0;

  // The narrower steps (down to the portable ones of a processor without block steps) give the
  // same bytes, and StringToUtf8 measures the same text alike.
  char* widest = zn::StringToUtf8(units.c_str());
  for (int level = 0; level + 1 < zn::StringsTestBlockLevels(); ++level) {
    zn::StringsTestUseBlockLevel(level);
    std::string narrower(full.size(), '\x5A');
    Require(zn::Utf16ToMultiByte(zn::CodePageUtf8, 0, units.data(), length, nullptr, 0) == counted,
            "narrower steps count alike");
    Require(zn::Utf16ToMultiByte(zn::CodePageUtf8, 0, units.data(), length, narrower.data(),
                                 counted) == converted &&
                narrower == full,
            "narrower steps convert alike");
    char* narrow = zn::StringToUtf8(units.c_str());
    Require(std::string(narrow) == widest, "StringToUtf8 alike with narrower steps");
    zn::NarrowTextFree(narrow);
  }
  zn::StringsTestUseBlockLevel(2);
  zn::NarrowTextFree(widest);

  if (!faulted) {
    // Smaller destinations: a prefix that ends on a character boundary.
    for (int32_t room = 1; room < counted && room < 64; ++room) {
      std::string part(static_cast<size_t>(room) + 1, '\x5A');
      const int32_t got =
          zn::Utf16ToMultiByte(zn::CodePageUtf8, 0, units.data(), length, part.data(), room);
      Require(part[static_cast<size_t>(room)] == '\x5A', "a small destination is a hard limit");
      Require(got <= room && got > room - 4, "a small destination is filled up to a character");
      Require(full.compare(0, static_cast<size_t>(got), part, 0, static_cast<size_t>(got)) == 0,
              "a prefix");
      Require(got == counted ||
                  (static_cast<unsigned char>(full[static_cast<size_t>(got)]) & 0xC0) != 0x80,
              "ends on a character boundary");
    }
    // Decoding the bytes gives back the units that were encoded.
    const int32_t back =
        zn::MultiByteToUtf16(zn::CodePageUtf8, 0, full.data(), counted, nullptr, 0);
    std::vector<char16_t> decoded(static_cast<size_t>(back) + 1, 0);
    Require(zn::MultiByteToUtf16(zn::CodePageUtf8, 0, full.data(), counted, decoded.data(), back) ==
                back,
            "encoded text decodes");
    Require(back <= length, "no more units than encoded");
    for (int32_t i = 0; i < back; ++i) {
      Require(decoded[static_cast<size_t>(i)] == units[static_cast<size_t>(i)], "round trip");
    }
  }

  // StringToUtf8 takes the units up to the first 0 unit.
  char* narrow = zn::StringToUtf8(units.c_str());
  const std::u16string up_to_zero = units.c_str();
  const int32_t expected = zn::Utf16ToMultiByte(
      zn::CodePageUtf8, 0, up_to_zero.data(), static_cast<int32_t>(up_to_zero.size()), nullptr, 0);
  Require(std::string(narrow).size() == static_cast<size_t>(expected),
          "StringToUtf8 holds the counted bytes");
  zn::NarrowTextFree(narrow);

  CheckSingleByte(units);
  return 0;
}
