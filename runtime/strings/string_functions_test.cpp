// Tests of the string functions: length, field cuts (one- and multi-unit separators, empty
// fields, a source inside the temporary buffer), equality and ordering, copies and formatting.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_testing.h"

namespace zn {
namespace {

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t u : s) {
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else {
      char part[10];
      std::snprintf(part, sizeof part, "\\u%04X", static_cast<unsigned>(u));
      out += part;
    }
  }
  return out;
}

class StringFunctions : public ::testing::Test {
 protected:
  void SetUp() override { TempTextReset(); }
};

// The field as the game takes it: push twice, produce at the popped offset, pop the piece.
std::u16string FieldOnly(const char16_t* source, int32_t n, const char16_t* separator) {
  const int64_t before = TempTextPosition();
  TempTextPush();
  TempTextPush();
  StringFieldAt(source, n, separator, TempTextPop());
  std::u16string piece = TempTextPopPiece();
  EXPECT_EQ(TempTextPosition(), before + 2 * static_cast<int64_t>(piece.size()));
  EXPECT_EQ(*TempTextAddress(static_cast<int32_t>(TempTextPosition())), 0);
  return piece;
}

// The same field, checked against a walk of the whole source with the cursor: the walk gives
// field after field as StringFieldAt numbers them, as many as StringFieldCount says, and then
// nothing, again and again.
std::u16string Field(const char16_t* source, int32_t n, const char16_t* separator) {
  const char16_t* text = source == nullptr ? u"" : source;
  StringFieldCursor cursor;
  StringFieldCursorStart(&cursor, source, separator);
  int32_t start = -1;
  int32_t length = -1;
  int32_t fields = 0;
  while (StringFieldCursorNext(&cursor, &start, &length) != 0) {
    EXPECT_EQ(std::u16string(text + start, static_cast<size_t>(length)),
              FieldOnly(source, ++fields, separator));
  }
  EXPECT_EQ(StringFieldCursorNext(&cursor, &start, &length), 0);
  EXPECT_EQ(fields, StringFieldCount(source, separator));
  EXPECT_EQ(FieldOnly(source, fields + 1, separator), u"");
  return FieldOnly(source, n, separator);
}

std::u16string Take(StringValue s) {
  std::u16string units = s;
  StringRelease(s);
  return units;
}

TEST(StringLength, CountsUnits) {
  EXPECT_EQ(StringLength(nullptr), 0);
  EXPECT_EQ(StringLength(u""), 0);
  EXPECT_EQ(StringLength(u"\U0001F600"), 2);
  EXPECT_EQ(StringLength(u"abc"), 3);
}

TEST_F(StringFunctions, FieldAtFrameCharacters) {
  const char16_t* frame = u"┏|━|┓|┃|┗|┛|╋";
  const std::u16string expected[] = {u"┏", u"━", u"┓", u"┃", u"┗", u"┛", u"╋"};
  for (int32_t n = 1; n <= 7; ++n) {
    EXPECT_EQ(Field(frame, n, u"|"), expected[n - 1]) << n;
  }
  EXPECT_EQ(Field(frame, 8, u"|"), u"");
  EXPECT_EQ(Field(frame, 0, u"|"), u"");
  EXPECT_EQ(Field(frame, -1, u"|"), u"");
}

TEST_F(StringFunctions, FieldAtOneUnitSeparator) {
  const struct {
    const char16_t* source;
    int32_t n;
    const char16_t* separator;
    std::u16string field;
  } cases[] = {
      {u"a,,b", 1, u",", u"a"},
      {u"a,,b", 2, u",", u""},
      {u"a,,b", 3, u",", u"b"},
      {u"a,,b", 4, u",", u""},
      {u",a", 1, u",", u""},
      {u",a", 2, u",", u"a"},
      {u"a,", 2, u",", u""},
      {u"a,", 3, u",", u""},
      {u"abc", 1, u",", u"abc"},
      {u"abc", 1, nullptr, u"abc"},
      {u"abc", 2, nullptr, u""},
      {u"abc", 1, u"", u"abc"},
      {u"abc", 2, u"", u""},
      {nullptr, 1, u",", u""},
      {nullptr, 2, u",", u""},
      {u"", 1, u",", u""},
      {u"a\nbb\nccc", 3, u"\n", u"ccc"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Field(c.source, c.n, c.separator), c.field)
        << Narrow(c.source == nullptr ? u"(null)" : c.source) << " field " << c.n;
  }
}

TEST_F(StringFunctions, FieldAtMultiUnitSeparator) {
  const struct {
    const char16_t* source;
    int32_t n;
    std::u16string field;
  } cases[] = {
      {u"a::b::c", 1, u"a"}, {u"a::b::c", 2, u"b"}, {u"a::b::c", 3, u"c"}, {u"a::b::c", 4, u""},
      {u"a:::b", 1, u"a"},   {u"a:::b", 2, u":b"},  {u"::a", 1, u""},      {u"::a", 2, u"a"},
      {u"a::::b", 2, u""},   {u"a::::b", 3, u"b"},  {u"a:", 1, u"a:"},     {u"a:", 2, u""},
      {u"", 1, u""},         {u"::", 2, u""},       {u"::", 3, u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Field(c.source, c.n, u"::"), c.field) << Narrow(c.source) << " field " << c.n;
  }
  EXPECT_EQ(Field(u"x<->y<-z<->", 2, u"<->"), u"y<-z");
}

TEST_F(StringFunctions, FieldAtSourceInsideTheBuffer) {
  // The source is built in the buffer itself, and the field is written behind it: the reservation
  // grows the block (which moves), so the source must be followed by its offset.
  TempTextPush();
  TempTextAppend(u"alpha|beta|");
  std::u16string long_field(20000, u'x');
  TempTextAppend(long_field.c_str());
  TempTextPush();
  TempTextPush();
  const char16_t* source = TempTextAddress(0);
  const int32_t offset = TempTextPop();
  StringFieldAt(source, 3, u"|", offset);
  EXPECT_EQ(std::u16string(TempTextPopPiece()), long_field);
  EXPECT_EQ(std::u16string(TempTextAddress(0)).substr(0, 11), u"alpha|beta|");
  TempTextPopRewind();
}

TEST_F(StringFunctions, FieldAtOverlappingSourceAndResult) {
  // The result is written over the source: the copy must allow the overlap.
  TempTextAppend(u"one|two|three");
  StringFieldAt(TempTextAddress(0), 3, u"|", 0);
  EXPECT_EQ(std::u16string(TempTextAddress(0)), u"three");
  EXPECT_EQ(TempTextPosition(), 10);
  TempTextCut(0);
  TempTextAppend(u"ab::cd");
  StringFieldAt(TempTextAddress(2), 1, u"::", 2);  // the source starts at the result offset
  EXPECT_EQ(std::u16string(TempTextAddress(0)), u"ab");
}

TEST_F(StringFunctions, FieldAtSourceAboveThePosition) {
  // Released text above the position is still in the block; with the buffer above 1 MiB, the
  // reservation for the result shrinks the block and would cut that text off.
  const std::u16string big(1000000, u'q');
  TempTextAppend(big.c_str());
  TempTextAppend(u"tail|end");
  const char16_t* source = TempTextAddress(2000000);
  TempTextCut(0);
  ASSERT_EQ(TempTextOffsetOf(source), 0) << "the source lies above the position";
  ASSERT_GT(TempTextCapacity(), 1048576);
  StringFieldAt(source, 2, u"|", 0);
  EXPECT_EQ(std::u16string(TempTextAddress(0)), u"end");
  EXPECT_EQ(TempTextPosition(), 6);
  EXPECT_EQ(TempTextCapacity(), 1048576) << "the block shrank";
}

TEST_F(StringFunctions, FieldAtSourceBelowThePositionSurvivesShrink) {
  const std::u16string big(700000, u'q');
  TempTextAppend(big.c_str());
  TempTextAppend(u"|abc");
  TempTextAppend(big.c_str());
  TempTextUnreserve(700000);  // capacity above 1 MiB, position in the middle of the text
  TempTextPush();
  TempTextPush();
  StringFieldAt(TempTextAddress(0), 2, u"|", TempTextPop());
  const std::u16string field = TempTextPopPiece();
  EXPECT_EQ(field.size(), 700003u);
  EXPECT_EQ(field.substr(0, 5), u"abcqq");
}

TEST(StringEqual, NullEqualsEmpty) {
  EXPECT_EQ(StringEqual(nullptr, u""), 1);
  EXPECT_EQ(StringEqual(u"", nullptr), 1);
  EXPECT_EQ(StringEqual(nullptr, nullptr), 1);
  EXPECT_EQ(StringEqual(u"1", u"2"), 0);
  EXPECT_EQ(StringEqual(u"1", u"1"), 1);
  EXPECT_EQ(StringEqual(u"1", u"12"), 0);
  EXPECT_EQ(StringEqual(u"\x1B", u"\x1B"), 1);
}

TEST(StringCompare, SignedUnits) {
  EXPECT_LT(StringCompare(u"\u8000", u"A"), 0);
  EXPECT_EQ(StringCompare(u"\u8000", u"A"), -32768 - 0x41);
  EXPECT_EQ(StringCompare(u"A", u"\uFFFF"), 0x41 + 1);
  EXPECT_EQ(StringCompare(u"\u7FFF", u"\u8000"), 0x7FFF + 32768);
  EXPECT_EQ(StringCompare(u"abc", u"abd"), -1);
  EXPECT_EQ(StringCompare(u"abc", u"ab"), 'c');
  EXPECT_EQ(StringCompare(u"ab", u"abc"), -'c');
  EXPECT_EQ(StringCompare(u"", u""), 0);
  EXPECT_EQ(StringCompare(u"same", u"same"), 0);
  EXPECT_EQ(StringCompare(nullptr, u"a"), -'a');
}

TEST(StringCompareUnits, BoundedCount) {
  EXPECT_EQ(StringCompareUnits(u"abc", u"abd", 2), 0);
  EXPECT_LT(StringCompareUnits(u"abc", u"abd", 3), 0);
  EXPECT_EQ(StringCompareUnits(u"abc", u"xyz", 0), 0);
  EXPECT_EQ(StringCompareUnits(u"ab", u"ab", 100), 0) << "stops at the terminators";
  EXPECT_EQ(StringCompareUnits(u"ab", u"abc", 100), -'c');
  EXPECT_LT(StringCompareUnits(u"\u8000", u"a", 1), 0);
}

TEST(StringCompareNoCase, LowerCasesBothSides) {
  EXPECT_EQ(StringCompareNoCase(u"Hello", u"hELLO"), 0);
  EXPECT_EQ(StringCompareNoCase(u"ABC", u"abd"), -1);
  EXPECT_EQ(StringCompareNoCase(u"abc", u"AB"), 'c');
  EXPECT_EQ(StringCompareNoCase(u"AB", u"abc"), -'c');
  EXPECT_EQ(StringCompareNoCase(u"", u""), 0);
  EXPECT_LT(StringCompareNoCase(u"\u8000", u"a"), 0) << "units from 0x8000 stay negative";
  EXPECT_EQ(StringCompareNoCase(u"\uFFFF", u"\uFFFF"), 0);
}

TEST(StringCompareNoCase, FollowsTheLocale) {
  const char* saved = std::setlocale(LC_CTYPE, nullptr);
  const std::string restore = saved == nullptr ? "C" : saved;
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
    GTEST_SKIP() << "no C.UTF-8 locale";
  }
  EXPECT_EQ(StringCompareNoCase(u"\u00C9t\u00C9", u"\u00E9T\u00E9"), 0);
  EXPECT_EQ(StringCompareNoCase(u"\u0391", u"\u03B1"), 0) << "Greek alpha";
  std::setlocale(LC_CTYPE, restore.c_str());
}

TEST(StringCopyTo, CopiesTerminator) {
  char16_t out[8];
  std::fill(out, out + 8, char16_t{0x5555});
  EXPECT_EQ(StringCopyTo(out, u"abc"), out);
  EXPECT_EQ(std::u16string(out), u"abc");
  EXPECT_EQ(out[4], 0x5555);
  StringCopyTo(out, nullptr);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], u'b');
}

TEST(StringCopyPadded, PadsOrCuts) {
  char16_t out[8];
  std::fill(out, out + 8, char16_t{0x5555});
  EXPECT_EQ(StringCopyPadded(out, u"ab", 5), out);
  EXPECT_EQ((std::vector<char16_t>(out, out + 6)),
            (std::vector<char16_t>{u'a', u'b', 0, 0, 0, 0x5555}));
  std::fill(out, out + 8, char16_t{0x5555});
  StringCopyPadded(out, u"abcdef", 3);
  EXPECT_EQ((std::vector<char16_t>(out, out + 4)),
            (std::vector<char16_t>{u'a', u'b', u'c', 0x5555}))
      << "no terminator when the source is as long as the count";
  std::fill(out, out + 8, char16_t{0x5555});
  StringCopyPadded(out, u"abc", 0);
  EXPECT_EQ(out[0], 0x5555);
  StringCopyPadded(out, nullptr, 2);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 0x5555);
}

TEST(StringFormat, KeyFormat) {
  char16_t out[64];
  std::fill(out, out + 64, char16_t{0x5555});
  EXPECT_EQ(StringFormat(out, u"%d:%lld:%lld", 3, 5LL, -1LL), 6);
  EXPECT_EQ(std::u16string(out), u"3:5:-1");
  EXPECT_EQ(out[7], 0x5555) << "nothing written behind the terminator";
  EXPECT_EQ(StringFormat(nullptr, u"%d:%lld:%lld", 3, 5LL, -1LL), 6);
  EXPECT_EQ(StringFormat(out, u"%d:%lld:%lld", -2147483647 - 1, INT64_MIN, INT64_MAX), 52);
  EXPECT_EQ(std::u16string(out), u"-2147483648:-9223372036854775808:9223372036854775807");
}

TEST(StringFormat, NonAsciiTextAndEdgeCases) {
  char16_t out[64];
  EXPECT_EQ(StringFormat(out, u"\u00E9=%d", 1), 3);
  EXPECT_EQ(std::u16string(out), u"\u00E9=1");
  EXPECT_EQ(StringFormat(nullptr, u"\u00E9=%d", 1), 4) << "UTF-8 bytes when measuring";
  EXPECT_EQ(StringFormat(out, u"%s", "\xF0\x9F\x98\x80"), 2);
  EXPECT_EQ(std::u16string(out), u"\U0001F600");
  EXPECT_EQ(StringFormat(out, u""), 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(StringFormat(out, nullptr), 0);
  EXPECT_EQ(out[0], 0);
  // Malformed bytes from %s: the text stops before them and stays terminated.
  EXPECT_EQ(StringFormat(out, u"ab%s", "\x80xyz"), 2);
  EXPECT_EQ(std::u16string(out), u"ab");
}

// The destination is as large as the text and its terminator, and not one unit larger: the
// conversion of text with fewer units than bytes never writes behind the terminator.
TEST(StringFormat, WideStrings) {
  const struct {
    const char16_t* format;
    const char16_t* value;
    std::u16string text;
  } cases[] = {
      {u"%ls", u"é😀", u"é😀"},
      {u"[%5ls]", u"ab", u"[   ab]"},
      {u"[%-4ls]", u"😀", u"[😀  ]"},
      {u"[%.2ls]", u"a😀", u"[a]"},  // the precision does not cut the pair
      {u"<%ls>", nullptr, u"<>"},
      {u"%ls", u"\xDC00x\xD800", u"\xDC00x\xD800"},  // lone halves come back as they were
      {u"%%ls %ls", u"x", u"%ls x"},
  };
  char16_t out[64];
  for (const auto& c : cases) {
    EXPECT_EQ(StringFormat(out, c.format, c.value), static_cast<int32_t>(c.text.size()))
        << Narrow(c.format);
    EXPECT_EQ(std::u16string(out), c.text) << Narrow(c.format);
  }
  EXPECT_EQ(StringFormat(out, u"%d|%*ls|%s|%.1f|%lld", 7, -3, u"é", "ü", 2.5, -5LL), 14);
  EXPECT_EQ(std::u16string(out), u"7|é  |ü|2.5|-5");
  EXPECT_EQ(StringFormat(nullptr, u"%ls!", u"é😀"), 7) << "UTF-8 bytes when measuring";
  // Refused: nothing written.
  out[0] = u'#';
  EXPECT_EQ(StringFormat(out, u"ab%n", nullptr), 0);
  EXPECT_EQ(StringFormat(out, u"%1$ls", u"x"), 0);
  EXPECT_EQ(StringFormat(out, u"%ls%y", u"x"), 0);
  EXPECT_EQ(out[0], u'#');
}

TEST(StringFormat, NothingWrittenBehindTheTerminator) {
  for (const std::u16string piece : {u"\u00E9", u"\u2500", u"\U0001F600", u"a\u00E9"}) {
    for (int repeats = 1; repeats <= 24; ++repeats) {
      std::u16string format = u"x";
      for (int k = 0; k < repeats; ++k) {
        format += piece;
      }
      format += u"%d";
      char16_t out[160];
      std::fill(std::begin(out), std::end(out), char16_t{0x5555});
      const int32_t units = StringFormat(out, format.c_str(), 7);
      ASSERT_EQ(std::u16string(out), format.substr(0, format.size() - 2) + u"7")
          << "repeats " << repeats;
      ASSERT_EQ(units, static_cast<int32_t>(format.size()) - 1);
      for (size_t at = static_cast<size_t>(units) + 1; at < std::size(out); ++at) {
        ASSERT_EQ(out[at], 0x5555)
            << "written behind the terminator at " << at << ", repeats " << repeats;
      }
    }
  }
}

TEST_F(StringFunctions, FieldCursorFollowsItsSourceAcrossReservations) {
  // A source inside the buffer moves when a reservation between two steps grows the block.
  TempTextAppend(u"one\ntwo\n\n");
  TempTextReserve(1, static_cast<int32_t>(TempTextPosition()));  // the terminator stays below
  StringFieldCursor cursor;
  StringFieldCursorStart(&cursor, TempTextAddress(0), u"\n");
  std::vector<std::u16string> fields;
  for (int32_t start = 0, length = 0; StringFieldCursorNext(&cursor, &start, &length) != 0;) {
    fields.emplace_back(TempTextAddress(0) + start, static_cast<size_t>(length));
    const auto grow = static_cast<int32_t>(50000 * fields.size());
    TempTextReserve(grow, static_cast<int32_t>(TempTextPosition()));
    TempTextUnreserve(grow);
  }
  EXPECT_EQ(fields, (std::vector<std::u16string>{u"one", u"two", u"", u""}));
}

// Single code points are checked against Python (case_crosscheck_test.cpp); here, whole strings.
TEST(StringCase, WholeStringsCodePointByCodePoint) {
  const struct {
    const char16_t* source;
    std::u16string upper, lower, fold;
  } cases[] = {
      {u"Straße", u"STRASSE", u"straße", u"strasse"},
      {u"ΟΔΟΣ", u"ΟΔΟΣ", u"οδοσ", u"οδοσ"},  // no final-sigma rule: Σ maps on its own
      {u"\xDBFF\x61\xDC00", u"\xDBFF\x41\xDC00", u"\xDBFF\x61\xDC00",
       u"\xDBFF\x61\xDC00"},  // halves
      {nullptr, u"", u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Take(StringUpper(c.source)), c.upper) << Narrow(c.upper);
    EXPECT_EQ(Take(StringLower(c.source)), c.lower) << Narrow(c.lower);
    EXPECT_EQ(Take(StringFold(c.source)), c.fold) << Narrow(c.fold);
  }
}

TEST(StringFind, FirstMatchFromStart) {
  const struct {
    const char16_t* source;
    const char16_t* needle;
    int32_t start;
    int32_t found;
  } cases[] = {
      {u"abcabc", u"bc", 0, 1},   {u"abcabc", u"bc", 2, 4},   {u"abcabc", u"bc", 5, -1},
      {u"aaa", u"aa", 1, 1},      {u"abc", u"abcd", 0, -1},   {u"abc", u"", 0, 0},
      {u"abc", u"", 3, 3},        {u"abc", u"", 4, -1},       {u"abc", nullptr, -5, 0},
      {nullptr, u"a", 0, -1},     {nullptr, u"", 0, 0},       {u"x😀y", u"😀", 0, 1},
      {u"x😀y", u"\xDE00", 0, -1}, {u"x😀y", u"\xD83D", 0, -1}, {u"\xDE00😀", u"\xDE00", 0, 0},
      {u"😀", u"", 1, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StringFind(c.source, c.needle, c.start), c.found) << "case " << &c - cases;
  }
}

TEST(StringReplace, EveryOccurrenceLeftToRight) {
  const struct {
    const char16_t* source;
    const char16_t* needle;
    const char16_t* replacement;
    std::u16string result;
  } cases[] = {
      {u"a-b-c", u"-", u"--", u"a--b--c"}, {u"aaaa", u"aa", u"b", u"bb"},
      {u"aaa", u"aa", u"b", u"ba"},        {u"abc", u"", u"x", u"abc"},
      {u"abc", u"b", nullptr, u"ac"},      {u"abab", u"ab", u"", u""},
      {nullptr, u"a", u"b", u""},          {u"😀x😀", u"\xDE00", u"?", u"😀x😀"},
      {u"😀x😀", u"😀", u"é", u"éxé"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Take(StringReplace(c.source, c.needle, c.replacement)), c.result) << Narrow(c.result);
  }
}

TEST(StringTrim, UnicodeWhiteSpaceAtBothEnds) {
  const struct {
    const char16_t* source;
    std::u16string result;
  } cases[] = {
      {u" \t\n\v\f\ra b\r\n", u"a b"},
      {u"\u0085\u00A0\u1680\u2000\u200Ax\u2028\u2029\u202F\u205F\u3000", u"x"},
      {u"\u001Cx\u200B", u"\u001Cx\u200B"},  // neither is White_Space
      {u"   ", u""},
      {nullptr, u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Take(StringTrim(c.source)), c.result) << Narrow(c.result);
  }
}

TEST(StringStartsWith, BothEnds) {
  const struct {
    const char16_t* source;
    const char16_t* piece;
    int32_t starts, ends;
  } cases[] = {
      {u"abc", u"ab", 1, 0},  {u"abc", u"bc", 0, 1},   {u"abc", u"", 1, 1},
      {u"abc", u"abc", 1, 1}, {u"ab", u"abc", 0, 0},   {nullptr, nullptr, 1, 1},
      {u"x😀", u"😀", 0, 1},    {u"😀", u"\xD83D", 0, 0}, {u"😀", u"\xDE00", 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StringStartsWith(c.source, c.piece), c.starts) << "case " << &c - cases;
    EXPECT_EQ(StringEndsWith(c.source, c.piece), c.ends) << "case " << &c - cases;
  }
}

TEST_F(StringFunctions, NewStringsFromTextInsideTheBuffer) {
  // Results are new strings: the buffer, in which the source lies, is left as it was.
  TempTextAppend(u" straße ");
  const char16_t* inside = TempTextAddress(0);
  const int64_t position = TempTextPosition();
  EXPECT_EQ(Take(StringUpper(inside)), u" STRASSE ");
  EXPECT_EQ(Take(StringReplace(inside, u"ß", u"ss")), u" strasse ");
  EXPECT_EQ(Take(StringTrim(inside)), u"straße");
  EXPECT_EQ(TempTextPosition(), position);
  EXPECT_EQ(std::u16string(TempTextAddress(0)), u" straße ");
}

}  // namespace
}  // namespace zn
