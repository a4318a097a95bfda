// Tests of numbers as text: the formatters against std::to_string, the temporary-buffer
// producers by the result-offset convention, and TextToInteger's forms, blanks, signs and
// wrap-around.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_testing.h"

namespace zn {
namespace {

std::string Narrow(const char16_t* s) {
  std::string out;
  for (; *s != 0; ++s) {
    out += static_cast<char>(*s);
  }
  return out;
}

std::u16string Wide(const std::string& s) {
  return {s.begin(), s.end()};
}

constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();

TEST(IntegerToText, AgreesWithToString) {
  std::mt19937_64 random(7);
  std::vector<int64_t> values = {0, 1, -1, 9, 10, -10, 99, 100, kMax64, kMin64, kMin64 + 1};
  for (int i = 0; i < 2000; ++i) {
    values.push_back(static_cast<int64_t>(random()) >> (random() % 64));
  }
  for (int64_t value : values) {
    char16_t out[22];
    std::fill(out, out + 22, char16_t{0x5555});
    EXPECT_EQ(IntegerToText(out, value), out);
    EXPECT_EQ(Narrow(out), std::to_string(value)) << value;
    EXPECT_EQ(out[21], 0x5555) << "wrote beyond 21 units for " << value;
  }
}

TEST(IntegerToText, MostNegativeHasTwentyUnits) {
  char16_t out[21];
  IntegerToText(out, kMin64);
  EXPECT_EQ(std::u16string(out), u"-9223372036854775808");
}

TEST(UnsignedToText, AgreesWithToString) {
  std::mt19937_64 random(11);
  std::vector<uint64_t> values = {0, 9, 10, std::numeric_limits<uint64_t>::max()};
  for (int i = 0; i < 2000; ++i) {
    values.push_back(random() >> (random() % 64));
  }
  for (uint64_t value : values) {
    char16_t out[21];
    EXPECT_EQ(UnsignedToText(out, value), out);
    EXPECT_EQ(Narrow(out), std::to_string(value)) << value;
  }
  char16_t out[21];
  UnsignedToText(out, std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(std::u16string(out), u"18446744073709551615");
}

TEST(IntegerToAsciiText, AgreesWithToString) {
  const int32_t values[] = {0, 5, -5, 42, 2147483647, -2147483647 - 1, -1000000};
  for (int32_t value : values) {
    char out[13];
    std::fill(out, out + 13, '#');
    IntegerToAsciiText(value, out);
    EXPECT_STREQ(out, std::to_string(value).c_str());
    EXPECT_EQ(out[12], '#') << "wrote beyond 12 bytes for " << value;
  }
}

class TempTextNumbers : public ::testing::Test {
 protected:
  void SetUp() override { TempTextReset(); }
};

// Runs a producer at a popped offset behind `prefix`; returns the piece.
template <typename Producer>
std::u16string Produce(const char16_t* prefix, Producer produce) {
  TempTextAppend(prefix);
  TempTextPush();
  TempTextPush();
  produce(TempTextPop());
  return TempTextPopPiece();
}

TEST_F(TempTextNumbers, AppendIntegerLeavesPositionOnTerminator) {
  const struct {
    int64_t value;
    std::u16string text;
  } cases[] = {
      {0, u"0"}, {-7, u"-7"}, {kMin64, u"-9223372036854775808"}, {kMax64, u"9223372036854775807"}};
  for (const auto& c : cases) {
    TempTextReset();
    const std::u16string piece =
        Produce(u"ab", [&](int32_t offset) { TempTextAppendInteger(c.value, offset); });
    EXPECT_EQ(piece, c.text);
    EXPECT_EQ(TempTextPosition(), 4 + 2 * static_cast<int64_t>(c.text.size())) << c.value;
    EXPECT_EQ(std::u16string(TempTextAddress(0)), u"ab" + c.text);
  }
}

TEST_F(TempTextNumbers, AppendIntegerMostNegativeMovesFortyBytes) {
  TempTextPush();
  TempTextPush();
  const int32_t offset = TempTextPop();
  TempTextAppendInteger(kMin64, offset);
  EXPECT_EQ(TempTextPosition() - offset, 40);
  TempTextPopRewind();
}

TEST_F(TempTextNumbers, AppendSpaces) {
  const struct {
    int32_t count;
    size_t spaces;
  } cases[] = {{0, 0}, {-3, 0}, {1, 1}, {7, 7}, {8, 8}, {9, 9}, {17, 17}, {1000, 1000}};
  for (const auto& c : cases) {
    TempTextReset();
    const std::u16string piece =
        Produce(u"x", [&](int32_t offset) { TempTextAppendSpaces(c.count, offset); });
    EXPECT_EQ(piece, std::u16string(c.spaces, u' ')) << c.count;
    EXPECT_EQ(TempTextPosition(), 2 + 2 * static_cast<int64_t>(c.spaces)) << c.count;
    EXPECT_EQ(*TempTextAddress(static_cast<int32_t>(TempTextPosition())), 0);
  }
}

TEST(TextToInteger, FormsSignsAndBlanks) {
  const struct {
    const char16_t* text;
    int64_t value;
  } cases[] = {
      {u"  -42abc", -42}, {u"\t+7", 7},      {u"- 5", 0}, {u"$ff", 255},     {u"$FF", 255},
      {u"-$10", -16},     {u"$", 0},         {u"$G1", 0}, {u"%101", 5},      {u"%2", 0},
      {u"-%11", -3},      {u"abc", 0},       {u"", 0},    {u"1", 1},         {u"2", 2},
      {u"3", 3},          {u" \t 12 3", 12}, {u"+-1", 0}, {u"--1", 0},       {u"\n1", 0},
      {u"007", 7},        {u"$0aBc", 0xABC}, {u"% 1", 0}, {u"12\u0663", 12}, {u"\uFF11", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextToInteger(c.text), c.value) << Narrow(c.text);
  }
  EXPECT_EQ(TextToInteger(nullptr), 0);
}

TEST(TextToInteger, WrapsAround) {
  EXPECT_EQ(TextToInteger(u"9223372036854775807"), kMax64);
  EXPECT_EQ(TextToInteger(u"9223372036854775808"), kMin64);
  EXPECT_EQ(TextToInteger(u"-9223372036854775808"), kMin64);
  EXPECT_EQ(TextToInteger(u"18446744073709551615"), -1);
  EXPECT_EQ(TextToInteger(u"18446744073709551616"), 0);
  EXPECT_EQ(TextToInteger(u"18446744073709551617"), 1);
  EXPECT_EQ(TextToInteger(u"$8000000000000000"), kMin64);
  EXPECT_EQ(TextToInteger(u"$10000000000000000"), 0);
  const std::u16string binary = u"%1" + std::u16string(64, u'0') + u"1";
  EXPECT_EQ(TextToInteger(binary.c_str()), 1) << "bits above the 64th drop out";
}

TEST(TextToInteger, RoundTripsIntegerToText) {
  std::mt19937_64 random(3);
  for (int i = 0; i < 2000; ++i) {
    const auto value = static_cast<int64_t>(random()) >> (random() % 64);
    char16_t text[22];
    IntegerToText(text, value);
    EXPECT_EQ(TextToInteger(text), value) << value;
    // An independent reference for the hexadecimal form.
    char hex[24];
    std::snprintf(hex, sizeof hex, "$%llx", static_cast<unsigned long long>(value));
    EXPECT_EQ(TextToInteger(Wide(hex).c_str()), value) << hex;
  }
}

}  // namespace
}  // namespace zn
