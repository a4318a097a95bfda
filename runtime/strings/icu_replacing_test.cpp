// The converters' replacing mode against ICU's substitution (u_strFromUTF8WithSub and
// u_strToUTF8WithSub with U+FFFD), which follows the same recommended practice: on every
// two-byte text, on random bytes, on texts pieced together from the bytes where the rules turn
// (lead and continuation bounds, cut-off and overlong sequences, encoded surrogates), and on
// UTF-16 texts full of stray surrogates. The counts and the converted text must be equal.
#include <gtest/gtest.h>
#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "runtime/strings/strings.h"

namespace zn {
namespace {

constexpr UChar32 kReplacement = 0xFFFD;

std::string Hex(const std::string& bytes) {
  std::string out;
  char part[4];
  for (unsigned char b : bytes) {
    std::snprintf(part, sizeof part, "%02X ", b);
    out += part;
  }
  return out;
}

std::string Hex(const std::u16string& units) {
  std::string out;
  char part[6];
  for (char16_t u : units) {
    std::snprintf(part, sizeof part, "%04X ", static_cast<unsigned>(u));
    out += part;
  }
  return out;
}

std::u16string IcuDecode(const std::string& bytes) {
  const auto length = static_cast<int32_t>(bytes.size());
  UErrorCode status = U_ZERO_ERROR;
  int32_t units = 0;
  u_strFromUTF8WithSub(nullptr, 0, &units, bytes.data(), length, kReplacement, nullptr, &status);
  std::u16string out(static_cast<size_t>(units), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), units, &units, bytes.data(), length,
                       kReplacement, nullptr, &status);
  EXPECT_FALSE(U_FAILURE(status)) << u_errorName(status) << " for " << Hex(bytes);
  return out;
}

std::string IcuEncode(const std::u16string& units) {
  const auto length = static_cast<int32_t>(units.size());
  const auto* source = reinterpret_cast<const UChar*>(units.data());
  UErrorCode status = U_ZERO_ERROR;
  int32_t bytes = 0;
  u_strToUTF8WithSub(nullptr, 0, &bytes, source, length, kReplacement, nullptr, &status);
  std::string out(static_cast<size_t>(bytes), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), bytes, &bytes, source, length, kReplacement, nullptr, &status);
  EXPECT_FALSE(U_FAILURE(status)) << u_errorName(status) << " for " << Hex(units);
  return out;
}

// The library's count and conversion of the same text; false (with a message) on a mismatch.
::testing::AssertionResult DecodesAsIcu(const std::string& bytes) {
  const auto length = static_cast<int32_t>(bytes.size());
  const std::u16string expected = IcuDecode(bytes);
  const int32_t counted =
      MultiByteToUtf16(CodePageUtf8, ConvertReplaceInvalid, bytes.data(), length, nullptr, 0);
  std::u16string out(expected.size(), u'\0');
  const int32_t written =
      length == 0 ? 0
                  : MultiByteToUtf16(CodePageUtf8, ConvertReplaceInvalid, bytes.data(), length,
                                     out.data(), static_cast<int32_t>(out.size()));
  if (counted != static_cast<int32_t>(expected.size()) || written != counted || out != expected) {
    return ::testing::AssertionFailure() << Hex(bytes) << "gives " << Hex(out) << "(counted "
                                         << counted << "), ICU " << Hex(expected);
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult EncodesAsIcu(const std::u16string& units) {
  const auto length = static_cast<int32_t>(units.size());
  const std::string expected = IcuEncode(units);
  const int32_t counted =
      Utf16ToMultiByte(CodePageUtf8, ConvertReplaceInvalid, units.data(), length, nullptr, 0);
  std::string out(expected.size(), '\0');
  const int32_t written =
      length == 0 ? 0
                  : Utf16ToMultiByte(CodePageUtf8, ConvertReplaceInvalid, units.data(), length,
                                     out.data(), static_cast<int32_t>(out.size()));
  if (counted != static_cast<int32_t>(expected.size()) || written != counted || out != expected) {
    return ::testing::AssertionFailure() << Hex(units) << "gives " << Hex(out) << "(counted "
                                         << counted << "), ICU " << Hex(expected);
  }
  return ::testing::AssertionSuccess();
}

// Bytes where the decoding rules turn.
constexpr unsigned char kEdgeBytes[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                        0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE,
                                        0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xF7, 0xF8, 0xFF};

std::string EncodeScalar(uint32_t v) {
  std::string out;
  if (v < 0x80) {
    out += static_cast<char>(v);
  } else if (v < 0x800) {
    out += static_cast<char>(0xC0 | v >> 6);
    out += static_cast<char>(0x80 | (v & 0x3F));
  } else if (v < 0x10000) {
    out += static_cast<char>(0xE0 | v >> 12);
    out += static_cast<char>(0x80 | (v >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (v & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | v >> 18);
    out += static_cast<char>(0x80 | (v >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (v >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (v & 0x3F));
  }
  return out;
}

// A text of pieces: edge bytes, whole characters of every length (surrogate values and values
// past U+10FFFF encoded the same way, as lenient encoders write them), and characters cut short.
std::string AdversarialBytes(std::mt19937& random) {
  std::string text;
  const uint32_t pieces = random() % 12;
  for (uint32_t p = 0; p < pieces; ++p) {
    const uint32_t kind = random() % 4;
    if (kind == 0) {
      text += static_cast<char>(kEdgeBytes[random() % sizeof kEdgeBytes]);
      continue;
    }
    static constexpr uint32_t kBounds[] = {0x80, 0x800, 0x10000, 0x110000, 0x200000};
    const uint32_t v = random() % kBounds[random() % 5];
    const std::string whole =
        random() % 8 == 0 ? EncodeScalar(0xD800 + random() % 0x800) : EncodeScalar(v);
    text +=
        kind == 3 && whole.size() > 1 ? whole.substr(0, 1 + random() % (whole.size() - 1)) : whole;
  }
  return text;
}

std::u16string AdversarialUnits(std::mt19937& random) {
  static constexpr char16_t kEdgeUnits[] = {0x0000, 0x007F, 0x0080, 0x07FF, 0x0800, 0xD7FF, 0xD800,
                                            0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
  std::u16string text(random() % 16, u'\0');
  for (char16_t& unit : text) {
    unit = random() % 2 == 0 ? kEdgeUnits[random() % (sizeof kEdgeUnits / sizeof(char16_t))]
                             : static_cast<char16_t>(random());
  }
  return text;
}

TEST(ConvertReplaceInvalidIcu, DecodingAgreesOnEveryShortAndRandomText) {
  int64_t checked = 0;
  for (uint32_t pair = 0; pair < 0x10000; ++pair) {
    const std::string bytes{static_cast<char>(pair >> 8), static_cast<char>(pair & 0xFF)};
    ASSERT_TRUE(DecodesAsIcu(bytes));
    ++checked;
  }
  std::mt19937 random(2024);
  for (int round = 0; round < 60000; ++round) {
    std::string bytes = AdversarialBytes(random);
    ASSERT_TRUE(DecodesAsIcu(bytes));
    bytes.assign(random() % 40, '\0');
    for (char& b : bytes)
      b = static_cast<char>(random());
    ASSERT_TRUE(DecodesAsIcu(bytes));
    checked += 2;
  }
  EXPECT_GE(checked, 100000);
}

TEST(ConvertReplaceInvalidIcu, EncodingAgreesOnStraySurrogates) {
  int64_t checked = 0;
  std::mt19937 random(4048);
  for (int round = 0; round < 100000; ++round) {
    ASSERT_TRUE(EncodesAsIcu(AdversarialUnits(random)));
    ++checked;
  }
  EXPECT_GE(checked, 100000);
}

}  // namespace
}  // namespace zn
