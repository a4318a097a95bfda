// Tests of the converters and the byte-text operations on top of them: the rules of both code
// pages in counting and converting mode, malformed and cut-off input, hard destination limits,
// and the terminator that every decoded text keeps.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_testing.h"

namespace zn {
namespace {

using Bytes = std::vector<unsigned char>;
using Units = std::vector<char16_t>;

std::string Hex(const Bytes& bytes) {
  std::string out;
  char part[4];
  for (unsigned char b : bytes) {
    std::snprintf(part, sizeof part, "%02X ", b);
    out += part;
  }
  return out;
}

std::string Hex(const Units& units) {
  std::string out;
  char part[6];
  for (char16_t u : units) {
    std::snprintf(part, sizeof part, "%04X ", static_cast<unsigned>(u));
    out += part;
  }
  return out;
}

// Counting and converting UTF-8 into a destination of exactly the count, plus a guard unit that
// must stay untouched.
struct Decoded {
  int32_t counted;
  int32_t returned;
  Units units;
};

Decoded DecodeUtf8(const Bytes& bytes, int32_t room = -1) {
  const auto* text = reinterpret_cast<const char*>(bytes.data());
  const auto length = static_cast<int32_t>(bytes.size());
  Decoded d{};
  d.counted = MultiByteToUtf16(CodePageUtf8, 0, text, length, nullptr, 0);
  const int32_t size = room < 0 ? d.counted : room;
  Units out(static_cast<size_t>(size) + 1, char16_t{0xFFFF});
  d.returned = MultiByteToUtf16(CodePageUtf8, 0, text, length, out.data(), size);
  EXPECT_EQ(out[static_cast<size_t>(size)], 0xFFFF)
      << "wrote past the destination for " << Hex(bytes);
  out.resize(static_cast<size_t>(size));
  d.units = out;
  return d;
}

struct Encoded {
  int32_t counted;
  int32_t returned;
  Bytes bytes;
};

Encoded EncodeUtf8(const Units& units, int32_t room = -1) {
  const auto length = static_cast<int32_t>(units.size());
  Encoded e{};
  e.counted = Utf16ToMultiByte(CodePageUtf8, 0, units.data(), length, nullptr, 0);
  const int32_t size = room < 0 ? e.counted : room;
  Bytes out(static_cast<size_t>(size) + 1, 0xEE);
  e.returned = Utf16ToMultiByte(CodePageUtf8, 0, units.data(), length,
                                reinterpret_cast<char*>(out.data()), size);
  EXPECT_EQ(out[static_cast<size_t>(size)], 0xEE)
      << "wrote past the destination for " << Hex(units);
  out.resize(static_cast<size_t>(e.returned > 0 ? e.returned : 0));
  e.bytes = out;
  return e;
}

Bytes NarrowBytes(char* text) {
  Bytes out(reinterpret_cast<unsigned char*>(text),
            reinterpret_cast<unsigned char*>(text) + std::strlen(text) + 1);
  NarrowTextFree(text);
  return out;
}

// ---------------------------------------------------------------------------------------------

TEST(Utf16ToMultiByte, EncodesEachLengthClass) {
  const struct {
    Units units;
    Bytes bytes;
  } cases[] = {
      {{0x41}, {0x41}},
      {{0x7F}, {0x7F}},
      {{0x80}, {0xC2, 0x80}},
      {{0xE9}, {0xC3, 0xA9}},
      {{0x7FF}, {0xDF, 0xBF}},
      {{0x800}, {0xE0, 0xA0, 0x80}},
      {{0x20AC}, {0xE2, 0x82, 0xAC}},
      {{0xFFFF}, {0xEF, 0xBF, 0xBF}},
      {{0xD83D, 0xDE00}, {0xF0, 0x9F, 0x98, 0x80}},
      {{0xD800, 0xDC00}, {0xF0, 0x90, 0x80, 0x80}},
      {{0xDBFF, 0xDFFF}, {0xF4, 0x8F, 0xBF, 0xBF}},
  };
  for (const auto& c : cases) {
    const Encoded e = EncodeUtf8(c.units);
    EXPECT_EQ(e.counted, static_cast<int32_t>(c.bytes.size())) << Hex(c.units);
    EXPECT_EQ(e.returned, static_cast<int32_t>(c.bytes.size())) << Hex(c.units);
    EXPECT_EQ(e.bytes, c.bytes) << Hex(c.units);
  }
}

TEST(Utf16ToMultiByte, LoneLowSurrogateIsItsOwnCharacter) {
  // Deliberately unlike strict encoders: a stray low surrogate is kept (three bytes), not refused.
  const Encoded e = EncodeUtf8({0x41, 0xDC00, 0x42});
  EXPECT_EQ(e.counted, 5);
  EXPECT_EQ(e.returned, 5);
  EXPECT_EQ(e.bytes, (Bytes{0x41, 0xED, 0xB0, 0x80, 0x42}));
}

TEST(Utf16ToMultiByte, HighSurrogateFollowedByOtherUnitIsAFault) {
  const Encoded e = EncodeUtf8({0x41, 0xD83D, 0x41});
  EXPECT_EQ(e.counted, 1) << "counting stops at the broken pair";
  Bytes out(8, 0xEE);
  const Units units = {0xD83D, 0x41};
  EXPECT_EQ(
      Utf16ToMultiByte(CodePageUtf8, 0, units.data(), 2, reinterpret_cast<char*>(out.data()), 8),
      0);
  const Units later = {0x41, 0x42, 0xD800, 0xD800};
  EXPECT_EQ(
      Utf16ToMultiByte(CodePageUtf8, 0, later.data(), 4, reinterpret_cast<char*>(out.data()), 8),
      0);
  EXPECT_EQ(out[0], 0x41) << "bytes written before the fault stay";
  EXPECT_EQ(out[1], 0x42);
}

TEST(Utf16ToMultiByte, HighSurrogateAtEndEndsQuietly) {
  const Encoded e = EncodeUtf8({0x41, 0xE9, 0xD83D});
  EXPECT_EQ(e.counted, 3);
  EXPECT_EQ(e.returned, 3);
  EXPECT_EQ(e.bytes, (Bytes{0x41, 0xC3, 0xA9}));
}

TEST(Utf16ToMultiByte, SmallDestinationTakesWholeCharactersOnly) {
  const Units units = {0x41, 0x20AC, 0xD83D, 0xDE00};  // 1 + 3 + 4 bytes
  const struct {
    int32_t room;
    int32_t written;
  } cases[] = {{1, 1}, {2, 1}, {3, 1}, {4, 4}, {5, 4}, {7, 4}, {8, 8}, {9, 8}};
  for (const auto& c : cases) {
    const Encoded e = EncodeUtf8(units, c.room);
    EXPECT_EQ(e.returned, c.written) << "room " << c.room;
  }
}

TEST(Utf16ToMultiByte, FullDestinationEndsBeforeABrokenPair) {
  const Units units = {0x41, 0xD800, 0x41};
  char out[2] = {0, 0x55};
  EXPECT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, units.data(), 3, out, 1), 1);
  EXPECT_EQ(out[0], 'A');
  EXPECT_EQ(out[1], 0x55);
}

TEST(Utf16ToMultiByte, LengthsAndCodePages) {
  const char16_t text[] = u"h\u00E9!";
  char out[16];
  EXPECT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, text, -1, nullptr, 0), 5) << "terminator counted";
  EXPECT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, text, -1, out, 16), 5);
  EXPECT_STREQ(out, "h\xC3\xA9!");
  EXPECT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, text, 0, nullptr, 0), 0);
  EXPECT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, text, -2, nullptr, 0), 0);
  EXPECT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, text, 3, out, 0), 0);
  EXPECT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, text, 3, out, -5), 0);
  EXPECT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, nullptr, 3, nullptr, 0), 0);
  EXPECT_EQ(Utf16ToMultiByte(1252, 0, text, -1, nullptr, 0), 0);
  std::memset(out, 0x55, sizeof out);
  EXPECT_EQ(Utf16ToMultiByte(1252, 0, text, -1, out, 16), 0);
  EXPECT_EQ(out[0], 0x55) << "an unknown code page writes nothing";
  EXPECT_EQ(Utf16ToMultiByte(CodePageUtf8, 0xFFFFFFFF, text, 3, nullptr, 0), 4) << "flags ignored";
}

TEST(Utf16ToMultiByte, SingleByteKeepsUnitsBelow256) {
  const char16_t text[] = {0x61, 0xE9, 0x20AC, 0x62, 0x100, 0xFF, 0};
  EXPECT_EQ(Utf16ToMultiByte(CodePageSingleByte, 0, text, 6, nullptr, 0), 4);
  EXPECT_EQ(Utf16ToMultiByte(CodePageSingleByte, 0, text, -1, nullptr, 0), 5);
  unsigned char out[8];
  std::memset(out, 0x55, sizeof out);
  EXPECT_EQ(Utf16ToMultiByte(CodePageSingleByte, 0, text, 6, reinterpret_cast<char*>(out), 8), 4);
  EXPECT_EQ((Bytes(out, out + 5)), (Bytes{0x61, 0xE9, 0x62, 0xFF, 0x55}));
  std::memset(out, 0x55, sizeof out);
  EXPECT_EQ(Utf16ToMultiByte(CodePageSingleByte, 0, text, 6, reinterpret_cast<char*>(out), 2), 2);
  EXPECT_EQ((Bytes(out, out + 3)), (Bytes{0x61, 0xE9, 0x55}));
  EXPECT_EQ(Utf16ToMultiByte(CodePageSingleByte, 0, text, 6, reinterpret_cast<char*>(out), 0), 0);
  EXPECT_EQ(Utf16ToMultiByte(CodePageSingleByte, 0, text, 0, reinterpret_cast<char*>(out), 8), 0);
}

// ---------------------------------------------------------------------------------------------

TEST(MultiByteToUtf16, DecodesEachLengthClass) {
  const struct {
    Bytes bytes;
    Units units;
  } cases[] = {
      {{0x41}, {0x41}},
      {{0xC3, 0xA9}, {0xE9}},
      {{0xE2, 0x82, 0xAC}, {0x20AC}},
      {{0xEF, 0xBF, 0xBF}, {0xFFFF}},
      {{0xF0, 0x9F, 0x98, 0x80}, {0xD83D, 0xDE00}},
      {{0xF4, 0x8F, 0xBF, 0xBF}, {0xDBFF, 0xDFFF}},
      {{0x41, 0x00, 0x42}, {0x41, 0x00, 0x42}},
  };
  for (const auto& c : cases) {
    const Decoded d = DecodeUtf8(c.bytes);
    EXPECT_EQ(d.counted, static_cast<int32_t>(c.units.size())) << Hex(c.bytes);
    EXPECT_EQ(d.returned, static_cast<int32_t>(c.units.size())) << Hex(c.bytes);
    EXPECT_EQ(d.units, c.units) << Hex(c.bytes);
  }
}

TEST(MultiByteToUtf16, OverlongFormsAndSurrogatesPass) {
  // Deliberately lenient, unlike strict decoders.
  EXPECT_EQ(DecodeUtf8({0xC1, 0x81}).units, (Units{0x41}));
  EXPECT_EQ(DecodeUtf8({0xC0, 0x80}).units, (Units{0x00}));
  EXPECT_EQ(DecodeUtf8({0xE0, 0x81, 0x81}).units, (Units{0x41}));
  EXPECT_EQ(DecodeUtf8({0xED, 0xA0, 0xBD}).units, (Units{0xD83D}));
}

TEST(MultiByteToUtf16, MalformedLeadByteStopsCountAndFailsConversion) {
  for (unsigned lead : {0x80u, 0xBFu, 0xF8u, 0xFFu}) {
    const Bytes bytes = {0x41, static_cast<unsigned char>(lead), 0x42};
    const Decoded d = DecodeUtf8(bytes);
    EXPECT_EQ(d.counted, 1) << Hex(bytes);
    EXPECT_EQ(d.returned, 0) << Hex(bytes);
    EXPECT_EQ(d.units[0], 0x41) << "units before the fault stay, " << Hex(bytes);
  }
}

TEST(MultiByteToUtf16, ShortContinuationEndsCharacterAndIsConsumed) {
  const Decoded d = DecodeUtf8({0xC3, 0x41});
  EXPECT_EQ(d.counted, 1);
  EXPECT_EQ(d.units, (Units{0x0003}));
  EXPECT_EQ(DecodeUtf8({0xE2, 0x82, 0x41, 0x42}).units, (Units{0x0082, 0x42}));
  EXPECT_EQ(DecodeUtf8({0xF0, 0x9F, 0x41, 0x41, 0x43}).units, (Units{0x001F, 0x41, 0x43}));
}

TEST(MultiByteToUtf16, TruncatedSequenceEndsBoth) {
  const Bytes cases[] = {{0x41, 0xC3}, {0x41, 0xE2, 0x82}, {0x41, 0xF0, 0x9F, 0x98}};
  for (const Bytes& bytes : cases) {
    const Decoded d = DecodeUtf8(bytes);
    EXPECT_EQ(d.counted, 1) << Hex(bytes);
    EXPECT_EQ(d.returned, 1) << Hex(bytes);
    EXPECT_EQ(d.units, (Units{0x41})) << Hex(bytes);
  }
}

TEST(MultiByteToUtf16, ValueAboveMaximumStopsBoth) {
  EXPECT_EQ(DecodeUtf8({0xF4, 0x90, 0x80, 0x80}).counted, 0);
  const Decoded d = DecodeUtf8({0x41, 0xF7, 0xBF, 0xBF, 0xBF, 0x42});
  EXPECT_EQ(d.counted, 1);
  EXPECT_EQ(d.returned, 1);
  EXPECT_EQ(d.units, (Units{0x41}));
}

TEST(MultiByteToUtf16, SmallDestinationNeverSplitsAPair) {
  const Bytes bytes = {0x41, 0xF0, 0x9F, 0x98, 0x80, 0x42};
  EXPECT_EQ(DecodeUtf8(bytes, 1).returned, 1);
  EXPECT_EQ(DecodeUtf8(bytes, 2).returned, 1) << "the pair needs two units";
  EXPECT_EQ(DecodeUtf8(bytes, 3).returned, 3);
  EXPECT_EQ(DecodeUtf8(bytes, 4).returned, 4);
}

TEST(MultiByteToUtf16, LengthsAndCodePages) {
  const char* text = "h\xC3\xA9!";
  char16_t out[8];
  EXPECT_EQ(MultiByteToUtf16(CodePageUtf8, 0, text, -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToUtf16(CodePageUtf8, 0, text, -1, out, 8), 4);
  EXPECT_EQ(std::u16string(out), u"h\u00E9!");
  EXPECT_EQ(MultiByteToUtf16(CodePageUtf8, 0, text, 0, nullptr, 0), 0);
  EXPECT_EQ(MultiByteToUtf16(CodePageUtf8, 0, text, -7, nullptr, 0), 0);
  EXPECT_EQ(MultiByteToUtf16(CodePageUtf8, 0, nullptr, -1, nullptr, 0), 0);
  EXPECT_EQ(MultiByteToUtf16(CodePageUtf8, 0, text, 4, out, 0), 0);
  EXPECT_EQ(MultiByteToUtf16(CodePageUtf8, 0, text, 4, out, -1), 0);
  EXPECT_EQ(MultiByteToUtf16(437, 0, text, -1, nullptr, 0), 0);
}

TEST(MultiByteToUtf16, SingleByteWidensEveryByte) {
  const char text[] = "ab\xE9\xFF\x01";
  EXPECT_EQ(MultiByteToUtf16(CodePageSingleByte, 0, text, 5, nullptr, 0), 5);
  EXPECT_EQ(MultiByteToUtf16(CodePageSingleByte, 0, text, -1, nullptr, 0), 6);
  char16_t out[8];
  std::fill(out, out + 8, char16_t{0x5555});
  EXPECT_EQ(MultiByteToUtf16(CodePageSingleByte, 0, text, 5, out, 3), 3);
  EXPECT_EQ((Units(out, out + 4)), (Units{0x61, 0x62, 0xE9, 0x5555}));
  EXPECT_EQ(MultiByteToUtf16(CodePageSingleByte, 0, text, 5, out, 8), 5);
  EXPECT_EQ((Units(out, out + 5)), (Units{0x61, 0x62, 0xE9, 0xFF, 0x01}));
  EXPECT_EQ(MultiByteToUtf16(CodePageSingleByte, 0, text, 5, out, 0), 0);
  EXPECT_EQ(MultiByteToUtf16(CodePageSingleByte, 0, text, 0, out, 8), 0);
  EXPECT_EQ(MultiByteToUtf16(CodePageSingleByte, 0, text, 5, out, -3), 0);
}

// ---------------------------------------------------------------------------------------------

TEST(StringToUtf8, ExamplesAndNull) {
  EXPECT_EQ(NarrowBytes(StringToUtf8(u"\u00E9")), (Bytes{0xC3, 0xA9, 0}));
  EXPECT_EQ(NarrowBytes(StringToUtf8(u"\U0001F600")), (Bytes{0xF0, 0x9F, 0x98, 0x80, 0}));
  EXPECT_EQ(NarrowBytes(StringToUtf8(nullptr)), (Bytes{0}));
  EXPECT_EQ(NarrowBytes(StringToUtf8(u"")), (Bytes{0}));
  const char16_t lone_high_last[] = {0x61, 0x62, 0xD83D, 0};
  EXPECT_EQ(NarrowBytes(StringToUtf8(lone_high_last)), (Bytes{0x61, 0x62, 0}));
  const char16_t broken_pair[] = {0x61, 0xD83D, 0x62, 0};
  EXPECT_EQ(NarrowBytes(StringToUtf8(broken_pair)), (Bytes{0x61, 0})) << "the text before the pair";
  const char16_t broken_first[] = {0xD83D, 0x62, 0};
  EXPECT_EQ(NarrowBytes(StringToUtf8(broken_first)), (Bytes{0}));
}

TEST(StringToSingleByte, DropsUnitsFrom256) {
  const char16_t text[] = {0x61, 0xE9, 0x20AC, 0x62, 0};
  EXPECT_EQ(NarrowBytes(StringToSingleByte(text)), (Bytes{0x61, 0xE9, 0x62, 0}));
  EXPECT_EQ(NarrowBytes(StringToSingleByte(nullptr)), (Bytes{0}));
  EXPECT_EQ(NarrowBytes(StringToSingleByte(u"\u20AC\u4E2D")), (Bytes{0}));
}

TEST(StringFromUtf8, DecodesAndTerminates) {
  struct Case {
    const char* text;
    std::u16string expected;
  };
  const Case cases[] = {
      {"", u""},
      {"abc", u"abc"},
      {"h\xC3\xA9", u"h\u00E9"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\xC3", u"\u0003"},             // the sequence swallows the terminating 0 byte
      {"ab\xE2\x82", u"ab\u0082"},     // likewise: the 0 byte ends the sequence early
      {"ab\x80x", u"ab"},              // malformed lead byte: what decoded before it
      {"ab\xF4\x90\x80\x80x", u"ab"},  // value above U+10FFFF
      {"\xFF", u""},
  };
  for (const Case& c : cases) {
    StringValue s = StringFromUtf8(c.text);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::u16string(s), c.expected) << Hex(Bytes(c.text, c.text + std::strlen(c.text)));
    StringRelease(s);
  }
  StringValue s = StringFromUtf8(nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s[0], 0);
  StringRelease(s);
}

TEST(StringFromUtf8Bytes, CountedTextInOneCall) {
  const struct {
    std::string bytes;
    int32_t length;
    uint32_t flags;
    std::u16string expected;
  } cases[] = {
      {"\x41\xE2\x82\x43\x44", 5, 0, u"\u0041\u0082\u0044"},  // the cut-short sequence eats C
      {"\x41\xE2\x82\x43\x44", 5, ConvertReplaceInvalid, u"A\uFFFDCD"},
      {std::string("a\0b", 3), 3, 0, std::u16string(u"a\0b", 3)},
      {"abc", 2, 0, u"ab"},
      {"abc", -1, 0, u"abc"},
      {"a\xC3", 2, 0, u"a"},  // cut off by the end: what decoded before it
      {"ab\x80x", 4, 0, u"ab"},
      {"ab\x80x", 4, ConvertReplaceInvalid, u"ab\uFFFDx"},
  };
  for (const auto& c : cases) {
    int32_t units = -1;
    StringValue s = StringFromUtf8Bytes(c.bytes.c_str(), c.length, c.flags, &units);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::u16string(s, static_cast<size_t>(units) + 1), c.expected + u'\0')
        << Hex(Bytes(c.bytes.begin(), c.bytes.end())) << " flags " << c.flags;
    StringRelease(s);
  }
  StringValue s = StringFromUtf8Bytes(nullptr, 5, 0, nullptr);
  EXPECT_EQ(s[0], 0);
  StringRelease(s);
  int32_t units = -1;
  EXPECT_EQ(StringFromUtf8Bytes("abc", -2, 0, &units), nullptr);
  EXPECT_EQ(units, 0);
}

TEST(StringFromSingleByte, WidensEveryByte) {
  StringValue s = StringFromSingleByte("a\xE9\xFF");
  EXPECT_EQ(std::u16string(s), u"a\u00E9\u00FF");
  StringRelease(s);
  s = StringFromSingleByte(nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s[0], 0);
  StringRelease(s);
}

// ---------------------------------------------------------------------------------------------

class TempTextEncoding : public ::testing::Test {
 protected:
  void SetUp() override { TempTextReset(); }
};

TEST_F(TempTextEncoding, AppendSingleByteWidensAtOffset) {
  TempTextAppend(u"xy");
  TempTextPush();
  TempTextPush();
  char16_t* end = TempTextAppendSingleByte("a\xE9", TempTextPop());
  char16_t* piece = TempTextPopPiece();
  EXPECT_EQ(std::u16string(piece), u"a\u00E9");
  EXPECT_EQ(end, piece + 2);
  EXPECT_EQ(TempTextPosition(), 8);
  EXPECT_EQ(std::u16string(TempTextAddress(0)), u"xya\u00E9");
  TempTextPush();
  TempTextPush();
  end = TempTextAppendSingleByte(nullptr, TempTextPop());
  EXPECT_EQ(*end, 0);
  EXPECT_EQ(end, TempTextPopPiece());
  EXPECT_EQ(TempTextPosition(), 8);
}

TEST_F(TempTextEncoding, AppendUtf8EmptyAndNullLeaveATerminatorAtOffset) {
  TempTextAppend(u"abc");
  for (const char* text : {static_cast<const char*>(nullptr), ""}) {
    TempTextPush();
    TempTextPush();
    TempTextAppendUtf8(text, TempTextPop());
    EXPECT_EQ(TempTextPosition(), 6);
    EXPECT_EQ(*TempTextPopPiece(), 0);
    EXPECT_EQ(std::u16string(TempTextAddress(0)), u"abc");
  }
}

TEST_F(TempTextEncoding, AppendUtf8DecodesAtOffset) {
  TempTextPush();
  TempTextPush();
  TempTextAppendUtf8("\xE2\x94\x8F\xF0\x9F\x98\x80!", TempTextPop());
  EXPECT_EQ(TempTextPosition(), 8);
  EXPECT_EQ(std::u16string(TempTextPopPiece()), u"\u250F\U0001F600!");
}

TEST_F(TempTextEncoding, AppendUtf8MalformedStaysTerminatedInsideItsRoom) {
  struct Case {
    const char* text;
    std::u16string expected;
  };
  const Case cases[] = {
      {"\x80", u""},                   // nothing convertible: the empty text at the offset
      {"\xF4\x90\x80\x80", u""},       // above U+10FFFF at the start
      {"\xE2\x82", u"\u0082"},         // the 0 byte completes the count and ends the sequence
      {"\xC3", u"\u0003"},             // the sequence swallows the 0 byte
      {"ab\x80x", u"ab"},              // malformed lead byte later on
      {"ab\xF7\xBF\xBF\xBFx", u"ab"},  // above U+10FFFF later on
      {"ab\xC3", u"ab\u0003"},
  };
  for (const Case& c : cases) {
    TempTextReset();
    TempTextAppend(u"0123456789");
    TempTextPush();
    TempTextPush();
    const int32_t offset = TempTextPop();
    TempTextAppendUtf8(c.text, offset);
    const int64_t position = TempTextPosition();
    EXPECT_EQ(position, offset + 2 * static_cast<int64_t>(c.expected.size())) << c.text;
    EXPECT_EQ(*TempTextAddress(static_cast<int32_t>(position)), 0) << "terminator at the position";
    EXPECT_EQ(std::u16string(TempTextPopPiece()), c.expected);
    EXPECT_EQ(std::u16string(TempTextAddress(0)).substr(0, 10), u"0123456789");
  }
}

}  // namespace
}  // namespace zn

namespace zn {
namespace {

TEST(Utf16ToMultiByte, LongTextCountsMatchPerClassSums) {
  // Long runs exercise the sixteen-unit steps: blocks of ASCII, of two- and three-byte units, and
  // blocks that hold surrogate pairs, at every alignment.
  const char16_t classes[] = {0x41, 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFF};
  const int32_t widths[] = {1, 1, 2, 2, 3, 3, 3, 3};
  for (int32_t shift = 0; shift < 17; ++shift) {
    std::u16string text(static_cast<size_t>(shift), u'a');
    int32_t expected = shift;
    for (int32_t i = 0; i < 200; ++i) {
      const auto pick = static_cast<size_t>((i * 7 + shift) % 9);
      if (pick == 8 && shift % 2 == 0) {  // odd shifts: no surrogate in any block
        text += u"\U0001F600";
        expected += 4;
      } else {
        text += classes[pick % 8];
        expected += widths[pick % 8];
      }
    }
    const auto length = static_cast<int32_t>(text.size());
    EXPECT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, text.data(), length, nullptr, 0), expected)
        << "shift " << shift;
    std::string out(static_cast<size_t>(expected), '\0');
    EXPECT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, text.data(), length, out.data(), expected),
              expected)
        << "shift " << shift;
  }
}

}  // namespace
}  // namespace zn
