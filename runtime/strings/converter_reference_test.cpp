// The fast converters against a reference written straight from the rules, one byte or unit at a
// time, on random input that mixes long ASCII runs (the block path), every length class, and
// malformed, cut-off and out-of-range sequences; for every destination size. Dense text with one
// fault moved across every place of the first blocks checks where the block steps stop, with the
// processor's block steps of each width and with the portable ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_testing.h"

namespace zn {
namespace {

using Bytes = std::vector<unsigned char>;
using Units = std::vector<char16_t>;

// Reference decoder: the result of a converting call into `room` units (or a count for room -1).
struct Result {
  int32_t returned;
  Units units;
};

Result ReferenceDecode(const Bytes& s, int32_t room) {
  Units out;
  const bool counting = room < 0;
  size_t i = 0;
  while (i < s.size()) {
    const unsigned lead = s[i];
    int need = 0;
    uint32_t v = 0;
    if (lead <= 0x7F) {
      need = 0;
      v = lead;
    } else if (lead >= 0xC0 && lead <= 0xDF) {
      need = 1;
      v = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      need = 2;
      v = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
      need = 3;
      v = lead & 0x07;
    } else {
      return {counting ? static_cast<int32_t>(out.size()) : 0, out};
    }
    if (s.size() - i - 1 < static_cast<size_t>(need)) {
      break;
    }
    size_t j = i + 1;
    for (int k = 0; k < need; ++k) {
      const unsigned c = s[j++];
      if (c < 0x80 || c > 0xBF) {
        break;
      }
      v = (v << 6) + (c - 0x80);
    }
    i = j;
    if (v > 0x10FFFF) {
      break;
    }
    const size_t width = v > 0xFFFF ? 2 : 1;
    if (!counting && out.size() + width > static_cast<size_t>(room)) {
      break;
    }
    if (width == 2) {
      out.push_back(static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(v));
    }
  }
  return {static_cast<int32_t>(out.size()), out};
}

struct ByteResult {
  int32_t returned;
  Bytes bytes;
};

ByteResult ReferenceEncode(const Units& s, int32_t room) {
  Bytes out;
  const bool counting = room < 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (!counting && out.size() >= static_cast<size_t>(room)) {
      break;
    }
    uint32_t v = s[i];
    if (v >= 0xD800 && v <= 0xDBFF) {
      if (i + 1 == s.size()) {
        break;
      }
      if (s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) {
        return {counting ? static_cast<int32_t>(out.size()) : 0, out};
      }
      v = 0x10000 + ((v - 0xD800) << 10) + (s[++i] - 0xDC00);
    }
    Bytes one;
    if (v < 0x80) {
      one = {static_cast<unsigned char>(v)};
    } else if (v < 0x800) {
      one = {static_cast<unsigned char>(0xC0 + (v >> 6)),
             static_cast<unsigned char>(0x80 + v % 64)};
    } else if (v < 0x10000) {
      one = {static_cast<unsigned char>(0xE0 + (v >> 12)),
             static_cast<unsigned char>(0x80 + (v >> 6) % 64),
             static_cast<unsigned char>(0x80 + v % 64)};
    } else {
      one = {static_cast<unsigned char>(0xF0 + (v >> 18)),
             static_cast<unsigned char>(0x80 + (v >> 12) % 64),
             static_cast<unsigned char>(0x80 + (v >> 6) % 64),
             static_cast<unsigned char>(0x80 + v % 64)};
    }
    if (!counting && out.size() + one.size() > static_cast<size_t>(room)) {
      break;
    }
    out.insert(out.end(), one.begin(), one.end());
  }
  return {static_cast<int32_t>(out.size()), out};
}

Bytes RandomBytes(std::mt19937& random) {
  static const Bytes kPieces[] = {
      {0xC3, 0xA9},
      {0xE2, 0x94, 0x8F},
      {0xF0, 0x9F, 0x98, 0x80},
      {0xF4, 0x90, 0x80, 0x80},
      {0xC0, 0x80},
      {0xED, 0xA0, 0x80},
      {0x80},
      {0xFF},
      {0xC3},
      {0xE2, 0x82},
      {0xF8, 0x88},
      {0x00},
      {0xF7, 0xBF, 0xBF},
      {0xE2, 0x41, 0x42},
      {0xDF, 0xBF},
      {0xEF, 0xBF, 0xBF},
  };
  Bytes s;
  const int parts = static_cast<int>(random() % 12);
  for (int p = 0; p < parts; ++p) {
    if (random() % 2 == 0) {
      const size_t run = random() % 40;
      for (size_t k = 0; k < run; ++k) {
        s.push_back(static_cast<unsigned char>(0x20 + random() % 95));
      }
    } else if (random() % 4 == 0) {
      s.push_back(static_cast<unsigned char>(random()));
    } else {
      const Bytes& piece = kPieces[random() % std::size(kPieces)];
      // Mostly well-formed pieces, with the faulty ones less often so decoding goes on.
      if (random() % 3 != 0 && (piece.size() == 1 || piece[0] == 0xF4)) {
        continue;
      }
      s.insert(s.end(), piece.begin(), piece.end());
    }
  }
  return s;
}

Units RandomUnits(std::mt19937& random) {
  Units s;
  const int parts = static_cast<int>(random() % 12);
  for (int p = 0; p < parts; ++p) {
    switch (random() % 6) {
      case 0: {
        const size_t run = random() % 40;
        for (size_t k = 0; k < run; ++k) {
          s.push_back(static_cast<char16_t>(0x20 + random() % 95));
        }
        break;
      }
      case 1:
        s.push_back(static_cast<char16_t>(0x80 + random() % 0x780));
        break;
      case 2:
        s.push_back(static_cast<char16_t>(0x800 + random() % 0xD000));
        break;
      case 3:
        s.push_back(static_cast<char16_t>(0xD800 + random() % 0x400));
        s.push_back(static_cast<char16_t>(0xDC00 + random() % 0x400));
        break;
      case 4:
        if (random() % 3 == 0) {
          s.push_back(static_cast<char16_t>(0xD800 + random() % 0x800));
        }
        break;
      default:
        s.push_back(static_cast<char16_t>(random()));
        break;
    }
  }
  return s;
}

TEST(MultiByteToUtf16, AgreesWithReferenceOnRandomInput) {
  std::mt19937 random(20240601);
  for (int trial = 0; trial < 1000; ++trial) {
    const Bytes s = RandomBytes(random);
    const auto* text = reinterpret_cast<const char*>(s.data());
    const auto length = static_cast<int32_t>(s.size());
    const Result counted = ReferenceDecode(s, -1);
    ASSERT_EQ(MultiByteToUtf16(CodePageUtf8, 0, text, length, nullptr, 0), counted.returned)
        << "count, trial " << trial;
    for (int32_t room = 1; room <= counted.returned + 1; ++room) {
      const Result expected = ReferenceDecode(s, room);
      std::vector<char16_t> out(static_cast<size_t>(room) + 1, char16_t{0xABCD});
      const int32_t returned = MultiByteToUtf16(CodePageUtf8, 0, text, length, out.data(), room);
      ASSERT_EQ(returned, expected.returned) << "trial " << trial << " room " << room;
      ASSERT_EQ(
          Units(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(expected.units.size())),
          expected.units)
          << "trial " << trial << " room " << room;
      ASSERT_EQ(out[static_cast<size_t>(room)], 0xABCD) << "wrote past the room, trial " << trial;
    }
  }
}

TEST(Utf16ToMultiByte, AgreesWithReferenceOnRandomInput) {
  std::mt19937 random(77);
  for (int trial = 0; trial < 1000; ++trial) {
    const Units s = RandomUnits(random);
    const auto length = static_cast<int32_t>(s.size());
    const ByteResult counted = ReferenceEncode(s, -1);
    ASSERT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, s.data(), length, nullptr, 0), counted.returned)
        << "count, trial " << trial;
    for (int32_t room = 1; room <= counted.returned + 1; ++room) {
      const ByteResult expected = ReferenceEncode(s, room);
      Bytes out(static_cast<size_t>(room) + 1, 0xEE);
      const int32_t returned = Utf16ToMultiByte(CodePageUtf8, 0, s.data(), length,
                                                reinterpret_cast<char*>(out.data()), room);
      ASSERT_EQ(returned, expected.returned) << "trial " << trial << " room " << room;
      ASSERT_EQ(
          Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(expected.bytes.size())),
          expected.bytes)
          << "trial " << trial << " room " << room;
      ASSERT_EQ(out[static_cast<size_t>(room)], 0xEE) << "wrote past the room, trial " << trial;
    }
  }
}

TEST(Utf16ToMultiByte, SingleByteAgreesWithReferenceOnRandomInput) {
  std::mt19937 random(5);
  for (int trial = 0; trial < 1000; ++trial) {
    Units s = RandomUnits(random);
    for (char16_t& u : s) {
      if (random() % 2 == 0) {
        u = static_cast<char16_t>(u & 0xFF);
      }
    }
    Bytes expected;
    for (char16_t u : s) {
      if (u < 256) {
        expected.push_back(static_cast<unsigned char>(u));
      }
    }
    const auto length = static_cast<int32_t>(s.size());
    ASSERT_EQ(Utf16ToMultiByte(CodePageSingleByte, 0, s.data(), length, nullptr, 0),
              static_cast<int32_t>(expected.size()));
    for (int32_t room = 1; room <= static_cast<int32_t>(expected.size()) + 1; ++room) {
      Bytes out(static_cast<size_t>(room) + 1, 0xEE);
      const int32_t returned = Utf16ToMultiByte(CodePageSingleByte, 0, s.data(), length,
                                                reinterpret_cast<char*>(out.data()), room);
      const size_t kept = std::min(expected.size(), static_cast<size_t>(room));
      ASSERT_EQ(returned, static_cast<int32_t>(kept)) << "trial " << trial;
      ASSERT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(kept)),
                Bytes(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(kept)));
      ASSERT_EQ(out[static_cast<size_t>(room)], 0xEE) << "wrote past the room, trial " << trial;
    }
  }
}

// Text in which every character length is common, so most blocks mix them.
Bytes DenseBytes(std::mt19937& random) {
  Bytes s;
  for (int k = 0; k < 64; ++k) {
    const uint32_t kind = random() % 8;
    if (kind < 3) {
      s.push_back(static_cast<unsigned char>(0x20 + random() % 95));
    } else if (kind < 5) {
      const uint32_t v = 0x80 + random() % 0x780;
      s.insert(s.end(), {static_cast<unsigned char>(0xC0 | v >> 6),
                         static_cast<unsigned char>(0x80 | (v & 0x3F))});
    } else if (kind < 7) {
      const uint32_t v = 0x800 + random() % 0xF800;
      s.insert(s.end(), {static_cast<unsigned char>(0xE0 | v >> 12),
                         static_cast<unsigned char>(0x80 | (v >> 6 & 0x3F)),
                         static_cast<unsigned char>(0x80 | (v & 0x3F))});
    } else {
      const uint32_t v = 0x10000 + random() % 0x100000;
      s.insert(s.end(), {static_cast<unsigned char>(0xF0 | v >> 18),
                         static_cast<unsigned char>(0x80 | (v >> 12 & 0x3F)),
                         static_cast<unsigned char>(0x80 | (v >> 6 & 0x3F)),
                         static_cast<unsigned char>(0x80 | (v & 0x3F))});
    }
  }
  return s;
}

Units DenseUnits(std::mt19937& random) {
  Units s;
  for (int k = 0; k < 72; ++k) {
    const uint32_t kind = random() % 8;
    if (kind < 3) {
      s.push_back(static_cast<char16_t>(0x20 + random() % 95));
    } else if (kind < 5) {
      s.push_back(static_cast<char16_t>(0x80 + random() % 0x780));
    } else if (kind < 7) {
      const auto v = static_cast<char16_t>(0x800 + random() % 0xF800);
      s.push_back(v >= 0xD800 && v <= 0xDFFF ? char16_t{0xFFFD} : v);
    } else {
      s.push_back(static_cast<char16_t>(0xD800 + random() % 0x400));
      s.push_back(static_cast<char16_t>(0xDC00 + random() % 0x400));
    }
  }
  return s;
}

// Every kind of step against the reference, for the count and for every destination size.
void ExpectDecodeAgrees(const Bytes& s, const std::string& what) {
  const auto* text = reinterpret_cast<const char*>(s.data());
  const auto length = static_cast<int32_t>(s.size());
  const Result counted = ReferenceDecode(s, -1);
  for (int level = 0; level < StringsTestBlockLevels(); ++level) {
    StringsTestUseBlockLevel(level);
    ASSERT_EQ(MultiByteToUtf16(CodePageUtf8, 0, text, length, nullptr, 0), counted.returned)
        << "count, " << what << ", steps of level " << level;
  }
  for (int32_t room = 1; room <= counted.returned + 1; ++room) {
    const Result expected = ReferenceDecode(s, room);
    for (int level = 0; level < StringsTestBlockLevels(); ++level) {
      StringsTestUseBlockLevel(level);
      std::vector<char16_t> out(static_cast<size_t>(room) + 1, char16_t{0xABCD});
      ASSERT_EQ(MultiByteToUtf16(CodePageUtf8, 0, text, length, out.data(), room),
                expected.returned)
          << what << ", room " << room << ", steps of level " << level;
      ASSERT_EQ(
          Units(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(expected.units.size())),
          expected.units)
          << what << ", room " << room << ", steps of level " << level;
      ASSERT_EQ(out[static_cast<size_t>(room)], 0xABCD) << "wrote past the room, " << what;
    }
  }
  StringsTestUseBlockLevel(2);
}

void ExpectEncodeAgrees(const Units& s, const std::string& what) {
  const auto length = static_cast<int32_t>(s.size());
  const ByteResult counted = ReferenceEncode(s, -1);
  for (int level = 0; level < StringsTestBlockLevels(); ++level) {
    StringsTestUseBlockLevel(level);
    ASSERT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, s.data(), length, nullptr, 0), counted.returned)
        << "count, " << what << ", steps of level " << level;
  }
  for (int32_t room = 1; room <= counted.returned + 1; ++room) {
    const ByteResult expected = ReferenceEncode(s, room);
    for (int level = 0; level < StringsTestBlockLevels(); ++level) {
      StringsTestUseBlockLevel(level);
      Bytes out(static_cast<size_t>(room) + 1, 0xEE);
      ASSERT_EQ(Utf16ToMultiByte(CodePageUtf8, 0, s.data(), length,
                                 reinterpret_cast<char*>(out.data()), room),
                expected.returned)
          << what << ", room " << room << ", steps of level " << level;
      ASSERT_EQ(
          Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(expected.bytes.size())),
          expected.bytes)
          << what << ", room " << room << ", steps of level " << level;
      ASSERT_EQ(out[static_cast<size_t>(room)], 0xEE) << "wrote past the room, " << what;
    }
  }
  StringsTestUseBlockLevel(2);
}

TEST(MultiByteToUtf16, BlockStepsStopWhereTheRulesDo) {
  static const Bytes kFaults[] = {{0x80},
                                  {0xFF},
                                  {0xF8, 0x88},
                                  {0xC3},
                                  {0xE2, 0x82},
                                  {0xE2, 0x41},
                                  {0xF4, 0x90, 0x80, 0x80},
                                  {0xF0, 0x80, 0x80, 0x80},
                                  {0xC0, 0x80},
                                  {0xED, 0xA0, 0x80},
                                  {0x00}};
  std::mt19937 random(909);
  for (size_t f = 0; f < std::size(kFaults); ++f) {
    for (size_t at = 0; at <= 70; ++at) {
      Bytes s = DenseBytes(random);
      s.insert(s.begin() + static_cast<std::ptrdiff_t>(std::min(at, s.size())), kFaults[f].begin(),
               kFaults[f].end());
      ExpectDecodeAgrees(s, "fault " + std::to_string(f) + " at " + std::to_string(at));
    }
  }
}

TEST(Utf16ToMultiByte, BlockStepsStopWhereTheRulesDo) {
  static const Units kFaults[] = {
      {0xD800},         {0xDFFF}, {0xDBFF, 0x41}, {0xD83D, 0xDE00},
      {0xDC00, 0xD800}, {0x0000}, {0xFFFF},       {0x7F, 0x80, 0x7FF, 0x800}};
  std::mt19937 random(303);
  for (size_t f = 0; f < std::size(kFaults); ++f) {
    for (size_t at = 0; at <= 70; ++at) {
      Units s = DenseUnits(random);
      s.insert(s.begin() + static_cast<std::ptrdiff_t>(std::min(at, s.size())), kFaults[f].begin(),
               kFaults[f].end());
      ExpectEncodeAgrees(s, "fault " + std::to_string(f) + " at " + std::to_string(at));
    }
  }
}

// StringToUtf8 measures a long string in aligned blocks: the string starts at every place of a
// block, with other units in front of it, and breaks its pairs or ends anywhere.
TEST(StringToUtf8, MeasuresFromEveryPlaceOfABlock) {
  static const Units kFaults[] = {{0xD800}, {0xDC00}, {0xDBFF, 0x41}, {0xD83D, 0xDE00}, {0x0000}};
  std::mt19937 random(41);
  alignas(64) std::array<char16_t, 320> buffer{};
  for (size_t f = 0; f < std::size(kFaults); ++f) {
    for (size_t start = 0; start < 32; ++start) {
      for (size_t at = 0; at <= 200; at += 7) {
        Units s = DenseUnits(random);
        for (int more = 0; more < 3; ++more) {
          const Units next = DenseUnits(random);
          s.insert(s.end(), next.begin(), next.end());
        }
        s.insert(s.begin() + static_cast<std::ptrdiff_t>(std::min(at, s.size())),
                 kFaults[f].begin(), kFaults[f].end());
        s.resize(buffer.size() - start - 1);
        for (size_t k = 0; k < start; ++k) {
          buffer[k] = k % 2 == 0 ? 0 : 0xDBFF;
        }
        std::copy(s.begin(), s.end(), buffer.begin() + static_cast<std::ptrdiff_t>(start));
        buffer.back() = 0;
        Units terminated(s.begin(), std::find(s.begin(), s.end(), 0));
        terminated.push_back(0);
        const ByteResult counted = ReferenceEncode(terminated, -1);
        const Bytes expected = ReferenceEncode(terminated, counted.returned).bytes;
        char* text = StringToUtf8(buffer.data() + start);
        EXPECT_EQ(std::string(text),
                  std::string(expected.begin(), std::find(expected.begin(), expected.end(), 0)))
            << "fault " << f << " at " << at << ", start " << start;
        NarrowTextFree(text);
      }
    }
  }
}

}  // namespace
}  // namespace zn
