// Fuzzes TextToInteger on the input read as UTF-16 units, and on numbers written by IntegerToText.
//
// Properties: blanks in front change nothing; a unit that is no digit of any base, put behind,
// changes nothing; a minus sign in front negates a text that starts with a digit; decimal,
// hexadecimal and binary texts of a value read back as that value.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/strings/fuzz_check.h"
#include "runtime/strings/strings.h"

using zn::fuzz::Require;

namespace {

std::u16string Wide(const char* text) {
  std::u16string out;
  for (; *text != 0; ++text) {
    out += static_cast<char16_t>(static_cast<unsigned char>(*text));
  }
  return out;
}

void CheckValue(int64_t value) {
  char16_t text[22];
  zn::IntegerToText(text, value);
  Require(zn::TextToInteger(text) == value, "decimal round trip");
  char hex[24];
  std::snprintf(hex, sizeof hex, "$%" PRIx64, static_cast<uint64_t>(value));
  Require(zn::TextToInteger(Wide(hex).c_str()) == value, "hexadecimal round trip");
  std::u16string binary = u"%";
  for (int bit = 63; bit >= 0; --bit) {
    binary += (static_cast<uint64_t>(value) >> bit & 1) ? u'1' : u'0';
  }
  Require(zn::TextToInteger(binary.c_str()) == value, "binary round trip");
  char16_t unsigned_text[22];
  zn::UnsignedToText(unsigned_text, static_cast<uint64_t>(value));
  Require(zn::TextToInteger(unsigned_text) == value, "unsigned text wraps to the same value");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zn::fuzz::StartInput();
  if (size > 4096) {
    return 0;
  }
  if (size >= 8) {
    int64_t value = 0;
    std::memcpy(&value, data, sizeof value);
    CheckValue(value);
  }
  const std::u16string text = zn::fuzz::UnitsOf(data, size).c_str();
  const int64_t value = zn::TextToInteger(text.c_str());
  Require(zn::TextToInteger((u" \t " + text).c_str()) == value, "blanks in front change nothing");
  Require(zn::TextToInteger((text + u"x").c_str()) == value, "a non-digit behind changes nothing");
  if (!text.empty() &&
      ((text[0] >= u'0' && text[0] <= u'9') || text[0] == u'$' || text[0] == u'%')) {
    Require(zn::TextToInteger((u"-" + text).c_str()) ==
                static_cast<int64_t>(0 - static_cast<uint64_t>(value)),
            "a minus sign negates");
    Require(zn::TextToInteger((u"+" + text).c_str()) == value, "a plus sign changes nothing");
  }
  return 0;
}
