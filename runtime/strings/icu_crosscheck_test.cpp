// The UTF-8 converters against ICU on random well-formed text from every plane: same bytes, same
// units, same counts. Where the library's rules deliberately differ from ICU's strict ones
// (overlong forms and encoded surrogates pass decoding, lone low surrogates are encoded as their
// own value), the tests below show the difference.
#include <gtest/gtest.h>
#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_testing.h"

namespace zn {
namespace {

// A random Unicode scalar value from plane `plane` (surrogate code points excluded).
uint32_t RandomScalar(std::mt19937& random, uint32_t plane) {
  for (;;) {
    uint32_t v = (plane << 16) | (random() & 0xFFFF);
    if (plane == 0 && random() % 3 == 0) {
      v &= 0x7FF;  // more one- and two-byte characters
    }
    if (v < 0xD800 || v > 0xDFFF) {
      return v;
    }
  }
}

std::u16string RandomText(std::mt19937& random) {
  std::u16string s;
  const size_t length = random() % 200;
  for (size_t i = 0; i < length; ++i) {
    const uint32_t v = RandomScalar(random, random() % 17);
    if (v == 0) {
      continue;
    }
    if (v >= 0x10000) {
      s += static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10));
      s += static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF));
    } else {
      s += static_cast<char16_t>(v);
    }
  }
  return s;
}

std::string IcuToUtf8(const std::u16string& s) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strToUTF8(nullptr, 0, &length, reinterpret_cast<const UChar*>(s.data()),
              static_cast<int32_t>(s.size()), &status);
  EXPECT_TRUE(status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status)) << u_errorName(status);
  std::string out(static_cast<size_t>(length), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), length, &length, reinterpret_cast<const UChar*>(s.data()),
              static_cast<int32_t>(s.size()), &status);
  EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  return out;
}

std::u16string IcuFromUtf8(const std::string& s, UErrorCode* status) {
  *status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, s.data(), static_cast<int32_t>(s.size()), status);
  if (*status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(*status)) {
    return {};
  }
  std::u16string out(static_cast<size_t>(length), u'\0');
  *status = U_ZERO_ERROR;
  u_strFromUTF8(reinterpret_cast<UChar*>(out.data()), length, &length, s.data(),
                static_cast<int32_t>(s.size()), status);
  return out;
}

TEST(StringToUtf8, AgreesWithIcuOnEveryPlane) {
  std::mt19937 random(1234);
  for (int trial = 0; trial < 2000; ++trial) {
    const std::u16string s = RandomText(random);
    const std::string expected = IcuToUtf8(s);
    char* ours = StringToUtf8(s.c_str());
    EXPECT_EQ(std::string(ours), expected) << "trial " << trial;
    NarrowTextFree(ours);
    EXPECT_EQ(
        Utf16ToMultiByte(CodePageUtf8, 0, s.data(), static_cast<int32_t>(s.size()), nullptr, 0),
        static_cast<int32_t>(expected.size()))
        << "count, trial " << trial;
  }
}

TEST(StringFromUtf8, AgreesWithIcuOnEveryPlane) {
  std::mt19937 random(4321);
  for (int trial = 0; trial < 2000; ++trial) {
    const std::string bytes = IcuToUtf8(RandomText(random));
    UErrorCode status = U_ZERO_ERROR;
    const std::u16string expected = IcuFromUtf8(bytes, &status);
    ASSERT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    StringValue ours = StringFromUtf8(bytes.c_str());
    EXPECT_EQ(std::u16string(ours), expected) << "trial " << trial;
    StringRelease(ours);
    EXPECT_EQ(MultiByteToUtf16(CodePageUtf8, 0, bytes.data(), static_cast<int32_t>(bytes.size()),
                               nullptr, 0),
              static_cast<int32_t>(expected.size()))
        << "count, trial " << trial;
  }
}

TEST(TempTextAppendUtf8, AgreesWithIcuOnEveryPlane) {
  TempTextReset();
  std::mt19937 random(99);
  for (int trial = 0; trial < 500; ++trial) {
    const std::string bytes = IcuToUtf8(RandomText(random));
    UErrorCode status = U_ZERO_ERROR;
    const std::u16string expected = IcuFromUtf8(bytes, &status);
    TempTextPush();
    TempTextPush();
    TempTextPush();
    TempTextAppendUtf8(bytes.c_str(), TempTextPop());
    EXPECT_EQ(std::u16string(TempTextPopPiece()), expected) << "trial " << trial;
    TempTextPopRewind();
  }
  EXPECT_EQ(TempTextPosition(), 0) << "every expression gave its room back";
  EXPECT_EQ(TempTextStackDepth(), 0);
}

TEST(MultiByteToUtf16, OverlongAndSurrogateFormsDifferFromIcu) {
  // ICU refuses these; the library decodes them by their bits, on purpose.
  const struct {
    std::string bytes;
    std::u16string ours;
  } cases[] = {
      {"\xC1\x81", u"A"},
      {"\xE0\x81\x81", u"A"},
      {"\xF0\x80\x81\x81", u"A"},
      {"\xED\xA0\xBD", std::u16string(1, char16_t{0xD83D})},
  };
  for (const auto& c : cases) {
    UErrorCode status = U_ZERO_ERROR;
    IcuFromUtf8(c.bytes, &status);
    EXPECT_TRUE(U_FAILURE(status)) << "ICU is expected to refuse this form";
    StringValue ours = StringFromUtf8(c.bytes.c_str());
    EXPECT_EQ(std::u16string(ours), c.ours);
    StringRelease(ours);
  }
}

TEST(StringToUtf8, LoneSurrogatesDifferFromIcu) {
  // ICU refuses a lone surrogate; the library encodes a lone low surrogate as its own value and
  // stops before a lone high surrogate at the end.
  const std::u16string low = {u'a', char16_t{0xDC00}, u'b'};
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  char buffer[16];
  u_strToUTF8(buffer, sizeof buffer, &length, reinterpret_cast<const UChar*>(low.data()), 3,
              &status);
  EXPECT_TRUE(U_FAILURE(status)) << "ICU is expected to refuse a lone surrogate";
  char* ours = StringToUtf8(low.c_str());
  EXPECT_STREQ(ours,
               "a\xED\xB0\x80"
               "b");
  NarrowTextFree(ours);
  const std::u16string high_last = {u'a', char16_t{0xD800}};
  ours = StringToUtf8(high_last.c_str());
  EXPECT_STREQ(ours, "a");
  NarrowTextFree(ours);
}

}  // namespace
}  // namespace zn
