// zn::format: placeholders and specs against expected texts, numbers against snprintf, the
// width in code points, and the engine's stack-to-heap switch.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "tests/support/heap_checks.h"
#include "zn/format.h"

namespace {

std::string Utf8(const zn::String& text) {
  return text.to_utf8();
}

// The engine on a format string made at run time, as the checked front end calls it.
template <class... Args>
std::string Dynamic(const std::string& format, const Args&... args) {
  const zn::String text = zn::String::from_utf8(format);
  const zn::internal::FormatArg packed[] = {zn::internal::FormatArgOf(args)...};
  return Utf8(zn::internal::FormatArgs(text.view(), packed, sizeof...(Args)));
}

TEST(Format, PlaceholdersSpecsAndArgumentKinds) {
  zn::test::LiveBlockGuard blocks;
  const zn::String name(u"Zoë");
  const std::u16string wide = u"wide";
  const struct {
    zn::String got;
    const char* expected;
  } cases[] = {
      {zn::format(u"plain {{}} text}}"), "plain {} text}"},
      {zn::format(u"{} {} {}", 1, -2, 3u), "1 -2 3"},
      {zn::format(u"{1}-{0}-{1}", u"a", "b"), "b-a-b"},
      {zn::format(u"[{:>6}][{:<6}][{:^6}][{:^7}]", 42, 42, 42, u"ab"),
       "[    42][42    ][  42  ][  ab   ]"},
      {zn::format(u"[{:*>5}][{:é<4}][{:😀^4}]", u"x", "y", 7), "[****x][yééé][😀7😀😀]"},
      {zn::format(u"[{:+}][{: }][{:+}][{:05}][{:+06}][{:<05}]", 5, 5, -5, -42, 42, 7),
       "[+5][ 5][-5][-0042][+00042][7    ]"},
      {zn::format(u"{:x} {:X} {:o} {:b} {:#>4x}", 255, 255u, 8, 5, 10), "ff FF 10 101 ###a"},
      {zn::format(u"{} {}", std::numeric_limits<int64_t>::min(),
                  std::numeric_limits<uint64_t>::max()),
       "-9223372036854775808 18446744073709551615"},
      {zn::format(u"{} {} {} {}", 0.1, 1.1f, 1e300, -0.0), "0.1 1.1 1e+300 -0"},
      {zn::format(u"{:.2f} {:.3} {:e} {:G} {:F}", 3.14159, 2.0 / 3.0, 1234.5, 1e-20, 1.5),
       "3.14 0.667 1.234500e+03 1E-20 1.500000"},
      {zn::format(u"{:08.2f} {:+} {:>6} {:06}", -3.14159, std::numeric_limits<double>::infinity(),
                  -std::numeric_limits<double>::quiet_NaN(),
                  std::numeric_limits<double>::infinity()),
       "-0003.14 +inf   -nan    inf"},
      {zn::format(u"{} {}", 1.5L, 1e-5L), "1.5 1e-05"},
      {zn::format(u"{}|{}|{}|{}|{}", name, wide, std::u16string_view(u"view"), "utf-8 ü",
                  std::string("str")),
       "Zoë|wide|view|utf-8 ü|str"},
      {zn::format(u"[{:.2}][{:5.1}][{:.0}]", name, u"\U00010400\U00010401", "abc"),
       "[Zo][𐐀    ][]"},
      {zn::format(u"[{:>3}][{:<3}|][{:^5}]", u"\U00010400", u"中文", "中"),
       "[  𐐀][中文 |][  中  ]"},
      {zn::format(u"[{}][{}]", static_cast<const char16_t*>(nullptr),
                  static_cast<const char*>(nullptr)),
       "[][]"},
      {zn::format(u"{}", "bad \xC3 byte \xED\xA0\x80"),
       "bad \xEF\xBF\xBD byte \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8(c.got), c.expected);
  }
}

// Every integer and floating-point specifier against the C library's printf, over values at the
// edges.
TEST(Format, NumbersAgreeWithSnprintf) {
  const int64_t integers[] = {0, 1, -1, 9, 10, -10, 255, 4096, INT32_MIN, INT64_MAX, INT64_MIN + 1};
  const char* integer_specs[][2] = {
      {"", "%" PRId64},   {"12", "%12" PRId64},   {"<12", "%-12" PRId64},  {"+", "%+" PRId64},
      {" ", "% " PRId64}, {"012", "%012" PRId64}, {"+012", "%+012" PRId64}};
  char expected[512];
  for (const int64_t value : integers) {
    for (const auto& specifier : integer_specs) {
      std::snprintf(expected, sizeof expected, specifier[1], value);
      EXPECT_EQ(Dynamic("{:" + std::string(specifier[0]) + "}", value), expected)
          << specifier[0] << " " << value;
    }
    if (value >= 0) {
      std::snprintf(expected, sizeof expected, "%" PRIx64 " %" PRIX64 " %" PRIo64, value, value,
                    value);
      EXPECT_EQ(Dynamic("{:x} {:X} {:o}", value, value, value), expected);
    }
  }
  const double doubles[] = {0.0,  -0.0,  0.5,      1.0 / 3.0, -2.5,  1e-7,  123456789.125,
                            1e22, 1e300, 4.9e-324, -1e-300,   0.125, 99.995};
  const char* float_specs[][2] = {
      {"f", "%f"},           {".0f", "%.0f"},   {".3f", "%.3f"}, {"12.4f", "%12.4f"},
      {"<12.1f", "%-12.1f"}, {"+.2e", "%+.2e"}, {"E", "%E"},     {".10g", "%.10g"},
      {"015.3f", "%015.3f"}, {" g", "% g"},     {"G", "%G"}};
  for (const double value : doubles) {
    for (const auto& specifier : float_specs) {
      std::snprintf(expected, sizeof expected, specifier[1], value);
      EXPECT_EQ(Dynamic("{:" + std::string(specifier[0]) + "}", value), expected)
          << specifier[0] << " " << value;
    }
    // Without a type: the shortest text that reads back as the same value.
    EXPECT_EQ(std::strtod(Dynamic("{}", value).c_str(), nullptr), value) << value;
  }
}

TEST(Format, LongResultsAndLongFieldsLeaveTheStackBuffer) {
  zn::test::LiveBlockGuard blocks;
  const std::string long_text(1000, 'x');
  const std::string got = Utf8(zn::format(u"<{:>1200}|{}|{:.1000f}>", long_text, long_text, 1.0));
  ASSERT_EQ(got.size(), 2u + 1200 + 1 + 1000 + 1 + 1002);
  EXPECT_EQ(got.substr(0, 201), "<" + std::string(200, ' '));
  EXPECT_EQ(got.substr(1200, 3), "x|x");
  EXPECT_EQ(got.substr(got.size() - 4), "000>");
  // Right-aligned text that crosses from the stack buffer to the heap mid-field.
  EXPECT_EQ(Utf8(zn::format(u"{:>300}", u"ab")), std::string(298, ' ') + "ab");
}

}  // namespace
