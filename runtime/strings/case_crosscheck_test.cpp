// Case mapping of every code point against an independent reference: Python's str.upper(),
// str.lower() and str.casefold(), written out at test time by Debian's interpreter, in the "C"
// locale and in a UTF-8 one (the mappings must not follow the locale).
#include <gtest/gtest.h>

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

// Every code point whose mappings are not itself: its number, then its upper case, lower case and
// folding as UTF-16 units in hexadecimal, four digits a unit.
constexpr char kReference[] = R"(
import unicodedata
print(unicodedata.unidata_version)
for c in range(0x110000):
    m = [f(chr(c)) for f in (str.upper, str.lower, str.casefold)]
    if m != [chr(c)] * 3:
        print(c, *(t.encode('utf-16-be', 'surrogatepass').hex() for t in m))
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
    uint32_t code_point = 0;
    fields >> code_point;
    for (std::u16string& mapping : reference[code_point]) {
      std::string hex;
      fields >> hex;
      for (size_t at = 0; at + 4 <= hex.size(); at += 4) {
        mapping += static_cast<char16_t>(std::stoul(hex.substr(at, 4), nullptr, 16));
      }
    }
  }
  ASSERT_EQ(pclose(python), 0) << "the reference did not run";
  version.erase(version.find_last_not_of('\n') + 1);
  ASSERT_EQ(version, StringCaseMappingVersion()) << "Python's Unicode: run scripts/case_tables.py";
  ASSERT_GT(reference.size(), 2500u);
  // Code points go 256 at a time, a space (which maps to itself) between two, so that lone
  // surrogates stay alone.
  std::vector<std::array<std::u16string, 4>> blocks(0x110000 / 256);    // source, then the mappings
  for (uint32_t code_point = 1; code_point < 0x110000; ++code_point) {  // 0 is the terminator
    auto& block = blocks[code_point / 256];
    const std::u16string source = Units(code_point);
    const auto found = reference.find(code_point);
    for (int k = 0; k < 4; ++k) {
      block[k].append(k == 0 || found == reference.end() ? source : found->second[k - 1]) += u' ';
    }
  }
  StringValue (*const operations[])(const char16_t*) = {StringUpper, StringLower, StringFold};
  for (const char* locale : {"C", "C.UTF-8"}) {
    ASSERT_NE(std::setlocale(LC_ALL, locale), nullptr) << locale;
    for (size_t b = 0; b < blocks.size(); ++b) {
      for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(Mapped(operations[k](blocks[b][0].c_str())) == blocks[b][k + 1])
            << "the block from code point " << std::hex << b * 256 << ", operation " << k
            << " (upper, lower, fold), locale " << locale;
      }
    }
  }
  std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace zn
