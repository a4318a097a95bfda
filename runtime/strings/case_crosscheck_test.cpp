// Case mapping of every code point against an independent reference: Python's str.upper(),
// str.lower() and str.casefold(), written out at test time by Debian's interpreter, in the "C"
// locale and in a UTF-8 one (the mappings must not follow the locale).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/strings/strings.h"

namespace zn {
namespace {

// Every code point whose mappings are not itself: "hex upper,units lower,units fold,units".
constexpr char kReference[] = R"(
import unicodedata
print(unicodedata.unidata_version)
for c in range(0x110000):
    s = chr(c)
    m = (s.upper(), s.lower(), s.casefold())
    if m != (s, s, s):
        print('%x %s' % (c, ' '.join(','.join('%x' % ord(x) for x in t) for t in m)))
)";

std::u16string Units(uint32_t code_point) {
  if (code_point < 0x10000) {  // lone surrogates included, as Python's one-character strings
    return std::u16string(1, static_cast<char16_t>(code_point));
  }
  return {static_cast<char16_t>(0xD800 | (code_point - 0x10000) >> 10),
          static_cast<char16_t>(0xDC00 | (code_point & 0x3FF))};
}

std::u16string Mapped(StringValue s) {
  std::u16string units(s);
  StringRelease(s);
  return units;
}

TEST(CaseMapping, EveryCodePointAsPython) {
  setenv("ZN_CASE_REFERENCE", kReference, 1);
  FILE* python = popen("/usr/bin/python3 -c \"$ZN_CASE_REFERENCE\"", "r");
  ASSERT_NE(python, nullptr);
  std::map<uint32_t, std::array<std::u16string, 3>> reference;
  char line[256];
  std::string version = std::fgets(line, sizeof line, python) != nullptr ? line : "";
  while (std::fgets(line, sizeof line, python) != nullptr) {
    std::istringstream fields(line);
    std::string code_point;
    fields >> code_point;
    auto& mappings = reference[std::stoul(code_point, nullptr, 16)];
    for (std::u16string& mapping : mappings) {
      std::string list;
      fields >> list;
      std::istringstream items(list);
      for (std::string item; std::getline(items, item, ',');) {
        mapping += Units(std::stoul(item, nullptr, 16));
      }
    }
  }
  ASSERT_EQ(pclose(python), 0) << "the reference did not run";
  version.erase(version.find_last_not_of('\n') + 1);
  if (version != StringCaseMappingVersion()) {
    GTEST_SKIP() << "Python has Unicode " << version << ", the tables "
                 << StringCaseMappingVersion() << ": run scripts/case_tables.py";
  }
  ASSERT_GT(reference.size(), 2500u);
  // Code points go 256 at a time, a space (which maps to itself) between two, so that lone
  // surrogates stay alone; a block that differs is checked code point by code point.
  StringValue (*const operations[])(const char16_t*) = {StringUpper, StringLower, StringFold};
  const auto expected = [&](uint32_t code_point, int k) {
    const auto found = reference.find(code_point);
    return found == reference.end() ? Units(code_point) : found->second[k];
  };
  std::vector<std::array<std::u16string, 4>> blocks(0x110000 / 256);    // source, then the mappings
  for (uint32_t code_point = 1; code_point < 0x110000; ++code_point) {  // 0 is the terminator
    auto& block = blocks[code_point / 256];
    const std::u16string source = Units(code_point);
    const auto found = reference.find(code_point);
    for (int k = 0; k < 4; ++k) {
      block[k].append(k == 0 || found == reference.end() ? source : found->second[k - 1]) += u' ';
    }
  }
  for (const char* locale : {"C", "C.UTF-8"}) {
    ASSERT_NE(std::setlocale(LC_ALL, locale), nullptr) << locale;
    for (uint32_t b = 0; b < blocks.size(); ++b) {
      for (int k = 0; k < 3; ++k) {
        if (Mapped(operations[k](blocks[b][0].c_str())) == blocks[b][k + 1]) {
          continue;
        }
        for (uint32_t code_point = std::max(b * 256, 1u); code_point < b * 256 + 256;
             ++code_point) {
          EXPECT_EQ(Mapped(operations[k](Units(code_point).c_str())), expected(code_point, k))
              << "code point " << std::hex << code_point << ", operation " << k
              << " (upper, lower, fold), locale " << locale;
        }
        return;
      }
    }
  }
  std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace zn
