// wordfreq: the word frequencies of a UTF-8 text file, most frequent first.
//
//   wordfreq [-i] FILE
//
// A word is a run of letters and digits; everything else separates words. With -i, words that
// differ only in letter case count as one, shown as first spelled in the file. Each line of the
// output is the count, a space and the word; equal counts are in code-unit order of the words.
//
// What it shows of the runtime's C++ face: zn::Runtime around main; zn::String::from_utf8, whose
// replacing rule lets no byte of a damaged file stop the count; a zn::Map with text keys, exact
// or case-blind (zn::FoldedKey), walked with structured bindings; zn::format for the output.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <zn/format.h>
#include <zn/map.h>
#include <zn/runtime.h>
#include <zn/string.h>

namespace {

// The whole file as bytes; false (errno set) when it cannot be read.
bool ReadFile(const char* path, std::string* bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    return false;
  }
  char block[65536];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
    bytes->append(block, got);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    errno = EIO;
  }
  return !failed;
}

bool IsWordUnit(char16_t unit) {
  // Surrogates (characters outside the Basic Multilingual Plane) are not taken as letters.
  return (unit < 0xD800 || unit > 0xDFFF) && std::iswalnum(static_cast<wint_t>(unit)) != 0;
}

template <class Key>
void Report(std::u16string_view text) {
  zn::Map<int64_t, Key> counts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && IsWordUnit(text[i])) {
      continue;
    }
    if (i > start) {
      ++counts[text.substr(start, i - start)];
    }
    start = i + 1;
  }
  std::vector<std::pair<int64_t, std::u16string_view>> entries;
  for (const auto& [word, count] : counts) {
    entries.emplace_back(-count, word);
  }
  std::sort(entries.begin(), entries.end());
  for (const auto& [count, word] : entries) {
    std::fputs(zn::format(u"{} {}\n", -count, word).to_utf8().c_str(), stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool ignore_case = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-i") == 0) {
      ignore_case = true;
    } else if (path == nullptr && argv[i][0] != '-') {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (path == nullptr) {
    std::fputs("usage: wordfreq [-i] FILE\n", stderr);
    return 2;
  }

  // The start sequence gives letters beyond ASCII a UTF-8 character type (en_US.UTF-8, or
  // C.UTF-8 where that is not installed), which iswalnum needs.
  zn::Runtime runtime;

  std::string bytes;
  if (!ReadFile(path, &bytes)) {
    std::fprintf(stderr, "wordfreq: cannot read %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  // A 0 byte would end the text; it separates words like any other non-letter.
  std::replace(bytes.begin(), bytes.end(), '\0', '\n');
  const zn::String text = zn::String::from_utf8(bytes);
  if (ignore_case) {
    Report<zn::FoldedKey>(text);
  } else {
    Report<zn::StringKey>(text);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
