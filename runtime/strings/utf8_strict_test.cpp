// Tests of the converters' replacing mode (ConvertReplaceInvalid): the Unicode Standard's own
// examples of maximal subparts, lone surrogates going out, destinations too small for the text,
// the flag variants of StringFromUtf8 and StringToUtf8, and the default rules left as they are.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "runtime/strings/strings.h"

namespace zn {
namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char part[4];
  for (unsigned char b : bytes) {
    std::snprintf(part, sizeof part, "%02X ", b);
    out += part;
  }
  return out;
}

std::u16string Decode(const std::string& bytes, uint32_t flags = ConvertReplaceInvalid) {
  const auto length = static_cast<int32_t>(bytes.size());
  const int32_t units = MultiByteToUtf16(CodePageUtf8, flags, bytes.data(), length, nullptr, 0);
  std::u16string out(static_cast<size_t>(units), u'\0');
  const int32_t written =
      MultiByteToUtf16(CodePageUtf8, flags, bytes.data(), length, out.data(), units);
  EXPECT_EQ(written, units) << "a destination sized by the count is filled for " << Hex(bytes);
  out.resize(static_cast<size_t>(written));
  return out;
}

std::string Encode(const std::u16string& units, uint32_t flags = ConvertReplaceInvalid) {
  const auto length = static_cast<int32_t>(units.size());
  const int32_t bytes = Utf16ToMultiByte(CodePageUtf8, flags, units.data(), length, nullptr, 0);
  std::string out(static_cast<size_t>(bytes), '\0');
  const int32_t written =
      Utf16ToMultiByte(CodePageUtf8, flags, units.data(), length, out.data(), bytes);
  EXPECT_EQ(written, bytes);
  out.resize(static_cast<size_t>(written));
  return out;
}

TEST(MultiByteToUtf16Replacing, EachMaximalSubpartBecomesOneReplacement) {
  const struct {
    std::string bytes;
    std::u16string units;
  } cases[] = {
      // The standard's own example: 61 F1 80 80 E1 80 C2 62 80 63 80 BF 64.
      {"a\xF1\x80\x80\xE1\x80\xC2"
       "b\x80"
       "c\x80\xBF"
       "d",
       u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
      {"abc\xFF"
       "def",
       u"abc\uFFFDdef"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong: C0 never starts a sequence
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF5\x80", u"\uFFFD\uFFFD"},
      {"\xF0\x9F\x98", u"\uFFFD"},  // cut off by the end: one subpart
      {"\xE2\x82"
       "A",
       u"\uFFFDA"},  // the breaking byte is read again
      {"\xC3", u"\uFFFD"},
      {std::string("\xC3\0x", 3), std::u16string(u"\uFFFD\0x", 3)},
      {"\xF0\x9F\x98\x80\xE2\x82\xAC\xC3\xA9", u"\U0001F600\u20AC\u00E9"},  // well-formed
      {"\xEF\xBF\xBD\xEE\x80\x80\xF4\x8F\xBF\xBF", u"\uFFFD\uE000\U0010FFFF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Decode(c.bytes), c.units) << Hex(c.bytes);
  }
}

TEST(Utf16ToMultiByteReplacing, LoneSurrogatesBecomeTheReplacementBytes) {
  const struct {
    std::u16string units;
    std::string bytes;
  } cases[] = {
      {u"a\xDC00"
       "b",
       "a\xEF\xBF\xBD"
       "b"},                          // a lone low surrogate
      {u"a\xD800", "a\xEF\xBF\xBD"},  // a high one at the end
      {u"\xD800"
       "A",
       "\xEF\xBF\xBD"
       "A"},                                          // a high one before a letter
      {u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // a pair the wrong way round
      {u"\xD83D\xDE00\xD800\xD83D\xDE00", "\xF0\x9F\x98\x80\xEF\xBF\xBD\xF0\x9F\x98\x80"},
      {u"\u00E9\u20AC", "\xC3\xA9\xE2\x82\xAC"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Encode(c.units), c.bytes) << Hex(c.bytes);
  }
}

TEST(ConvertReplaceInvalid, SmallDestinationsTakeWholeCharactersOnly) {
  const std::string bytes = "a\xF0\x9F\x98\x80\xFF\xE2\x82\xAC";  // a, U+1F600, FFFD, U+20AC
  const std::u16string units = Decode(bytes);
  for (int32_t room = 1; room <= static_cast<int32_t>(units.size()); ++room) {
    std::u16string out(static_cast<size_t>(room) + 1, u'\x7777');
    const int32_t written = MultiByteToUtf16(CodePageUtf8, ConvertReplaceInvalid, bytes.data(),
                                             static_cast<int32_t>(bytes.size()), out.data(), room);
    EXPECT_EQ(out[static_cast<size_t>(room)], u'\x7777') << "wrote past a room of " << room;
    const int32_t whole = room == 2 ? 1 : room;  // the pair does not fit into two units after "a"
    EXPECT_EQ(written, whole) << "room " << room;
    EXPECT_EQ(out.substr(0, static_cast<size_t>(written)),
              units.substr(0, static_cast<size_t>(written)));
  }
  const std::u16string text = u"\xD800\u00E9\xD83D\xDE00";  // EF BF BD, C3 A9, F0 9F 98 80
  const int32_t ends[] = {0, 0, 0, 3, 3, 5, 5, 5, 5, 9};    // bytes written for each room
  for (int32_t room = 1; room <= 9; ++room) {
    std::string out(static_cast<size_t>(room) + 1, '\x77');
    const int32_t written =
        Utf16ToMultiByte(CodePageUtf8, ConvertReplaceInvalid, text.data(), 4, out.data(), room);
    EXPECT_EQ(written, ends[room]) << "room " << room;
    EXPECT_EQ(out[static_cast<size_t>(room)], '\x77') << "wrote past a room of " << room;
  }
}

TEST(ConvertReplaceInvalid, DefaultRulesStayAsTheyWere) {
  // Without the flag (and with only other bits set) the lenient rules still hold.
  for (uint32_t flags : {0u, 2u, 0x80000000u}) {
    EXPECT_EQ(MultiByteToUtf16(CodePageUtf8, flags,
                               "abc\xFF"
                               "def",
                               7, nullptr, 0),
              3);
    EXPECT_EQ(Decode("\xC0\xAF", flags), u"/");
    EXPECT_EQ(Encode(u"\xDC00", flags), "\xED\xB0\x80");
    EXPECT_EQ(Encode(u"a\xD800", flags), "a");
  }
  // The flag means nothing to the single-byte code page.
  char bytes[4] = {};
  EXPECT_EQ(Utf16ToMultiByte(CodePageSingleByte, ConvertReplaceInvalid, u"a\u20ACb", 3, bytes, 4),
            2);
  EXPECT_EQ(std::string(bytes), "ab");
}

TEST(StringFromUtf8Flags, DecodesTheWholeTextTerminated) {
  StringValue s = StringFromUtf8Flags(
      "abc\xFF"
      "def\xC3",
      ConvertReplaceInvalid);
  EXPECT_EQ(std::u16string(s), u"abc\uFFFDdef\uFFFD") << "the cut-off end is one replacement";
  StringRelease(s);
  s = StringFromUtf8Flags(nullptr, ConvertReplaceInvalid);
  EXPECT_EQ(std::u16string(s), u"");
  StringRelease(s);
  s = StringFromUtf8Flags(
      "abc\xFF"
      "def",
      0);
  EXPECT_EQ(std::u16string(s), u"abc") << "without the flag, StringFromUtf8 as it is";
  StringRelease(s);
}

TEST(StringToUtf8Flags, ReplacesLoneSurrogatesAndKeepsTheRest) {
  char* text = StringToUtf8Flags(u"x\xDC00y\xD800", ConvertReplaceInvalid);
  EXPECT_EQ(std::string(text), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
  NarrowTextFree(text);
  text = StringToUtf8Flags(nullptr, ConvertReplaceInvalid);
  EXPECT_EQ(std::string(text), "");
  NarrowTextFree(text);
  text = StringToUtf8Flags(u"x\xD800", 0);
  EXPECT_EQ(std::string(text), "x") << "without the flag, StringToUtf8 as it is";
  NarrowTextFree(text);
}

TEST(ConvertReplaceInvalid, DecodedTextSurvivesARoundTrip) {
  // What the replacing decoder gives is well-formed, so encoding and decoding it again changes
  // nothing, whatever bytes it came from.
  std::mt19937 random(99);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 24, '\0');
    for (char& b : bytes)
      b = static_cast<char>(random() % 3 == 0 ? 0x80 | random() % 64 : random());
    const std::u16string units = Decode(bytes);
    ASSERT_EQ(Decode(Encode(units)), units) << Hex(bytes);
    ASSERT_EQ(Encode(units, 0), Encode(units)) << "well-formed text encodes alike " << Hex(bytes);
  }
}

}  // namespace
}  // namespace zn
