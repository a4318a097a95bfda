// StringToUtf8 and StringFromUtf8 convert short texts in one pass through a stack buffer and long
// ones by counting first: both must give exactly what counting and converting through the
// converters give, at every length around the switch and for every awkward unit or byte
// (surrogates alone, in pairs, before the terminator; malformed, cut-off and overlong UTF-8).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn {
namespace {

std::string Printable(const std::u16string& s) {
  std::string out;
  for (const char16_t unit : s) {
    out += std::to_string(static_cast<unsigned>(unit)) + " ";
  }
  return out;
}

// Counting, then converting into a block of the counted size plus a terminator: the whole block.
std::string ReferenceToUtf8(const std::u16string& s) {
  const int32_t bytes = Utf16ToMultiByte(CodePageUtf8, 0, s.c_str(), -1, nullptr, 0);
  std::string out(static_cast<size_t>(bytes), '\0');
  const int32_t written = Utf16ToMultiByte(CodePageUtf8, 0, s.c_str(), -1, out.data(), bytes);
  out.resize(static_cast<size_t>(written));
  return out + '\0';
}

// Counting and converting with the decoder itself: a malformed lead byte ends the text there
// (the public converter would give 0 for it instead).
std::u16string ReferenceFromUtf8(const std::string& text) {
  const auto* in = reinterpret_cast<const unsigned char*>(text.c_str());
  const auto bytes = static_cast<int32_t>(text.size() + 1);
  const int32_t units = internal::Utf8ToUtf16(in, bytes, nullptr, 0).count;
  std::u16string out(static_cast<size_t>(units), u'\0');
  const int32_t written = internal::Utf8ToUtf16(in, bytes, out.data(), units).count;
  out.resize(static_cast<size_t>(written));
  if (out.empty() || out.back() != 0) {
    out += u'\0';
  }
  return out;
}

TEST(StringToUtf8, OnePassAgreesWithCountingAndConverting) {
  const char16_t units[] = {u'a', 0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0xD800, 0xDBFF, 0xDC00, 0xE000};
  std::mt19937 random(5);
  for (int round = 0; round < 3000; ++round) {
    std::u16string s;
    const size_t length = random() % 140;
    for (size_t i = 0; i < length; ++i) {
      // Mostly one kind per text, so that lengths around the switch come in every width.
      s += units[(round % 3 == 0 ? random() : round / 3) % std::size(units)];
      if (random() % 9 == 0) {
        s += u'a';
      }
    }
    char* ours = StringToUtf8(s.c_str());
    const std::string want = ReferenceToUtf8(s);
    ASSERT_EQ(std::string(ours, want.size()), want) << Printable(s);
    NarrowTextFree(ours);
  }
}

TEST(StringFromUtf8, OnePassAgreesWithCountingAndConverting) {
  const std::vector<std::string> pieces = {
      "a",        "\x7F", "\xC3\xA9", "\xE2\x94\x80",     "\xF0\x9F\x98\x80", "\xC3",
      "\xE2\x94", "\x80", "\xF8",     "\xF4\x90\x80\x80", "\xC0\x80",         "\xED\xA0\x80"};
  std::mt19937 random(6);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const size_t count = random() % 80;
    for (size_t i = 0; i < count; ++i) {
      text += pieces[(round % 3 == 0 ? random() % pieces.size() : (round / 3) % 5)];
    }
    StringValue ours = StringFromUtf8(text.c_str());
    const std::u16string want = ReferenceFromUtf8(text);
    ASSERT_EQ(std::u16string(ours, want.size()), want) << "bytes " << text.size();
    StringRelease(ours);
  }
}

}  // namespace
}  // namespace zn
