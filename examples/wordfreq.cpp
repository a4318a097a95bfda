// wordfreq: the word frequencies of a UTF-8 text file, most frequent first.
//
//   wordfreq [-i] FILE
//
// A word is a run of letters and digits; everything else separates words. With -i, words that
// differ only in letter case count as one, shown as first spelled in the file. Each line of the
// output is the count, a space and the word; equal counts are in code-unit order of the words.
//
// What it shows of the runtime: a program with its own main that starts and ends the runtime with
// a RuntimeGuard; decoding outside text with ConvertReplaceInvalid, so that no byte of a damaged
// file stops the count; a hash map with string keys, case-blind on request; iterating over the
// map and reading each element's key.
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include <algorithm>

#include "runtime/containers/containers.h"
#include "runtime/core/core.h"
#include "runtime/strings/strings.h"

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

// The text as UTF-16, every ill-formed part of the UTF-8 as U+FFFD (which is not a letter).
std::u16string Decode(const std::string& bytes) {
  std::u16string text;
  if (bytes.empty() || bytes.size() > INT32_MAX) {
    return text;
  }
  const auto length = static_cast<int32_t>(bytes.size());
  const int32_t units = zn::MultiByteToUtf16(zn::CodePageUtf8, zn::ConvertReplaceInvalid,
                                             bytes.data(), length, nullptr, 0);
  text.resize(static_cast<size_t>(units));
  text.resize(static_cast<size_t>(zn::MultiByteToUtf16(zn::CodePageUtf8, zn::ConvertReplaceInvalid,
                                                       bytes.data(), length, text.data(), units)));
  return text;
}

bool IsWordUnit(char16_t unit) {
  // Surrogates (characters outside the Basic Multilingual Plane) are not taken as letters.
  return (unit < 0xD800 || unit > 0xDFFF) && std::iswalnum(static_cast<wint_t>(unit)) != 0;
}

struct Entry {
  int64_t count;
  const char16_t* word;  // the map's key, valid while the map lives
};

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

  zn::RuntimeGuard runtime;
  // Letters beyond ASCII need a UTF-8 character type; the start sequence asks for en_US.UTF-8,
  // which not every machine has.
  const char* ctype = std::setlocale(LC_CTYPE, nullptr);
  if (ctype == nullptr || std::strcmp(ctype, "C") == 0 || std::strcmp(ctype, "POSIX") == 0) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
  }

  std::string bytes;
  if (!ReadFile(path, &bytes)) {
    std::fprintf(stderr, "wordfreq: cannot read %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  const std::u16string text = Decode(bytes);

  zn::HashMap* counts = nullptr;
  if (zn::MapCreate(sizeof(int64_t), 0, nullptr, &counts, 4096,
                    ignore_case ? zn::MapKeyNoCase : 0) == nullptr) {
    std::fputs("wordfreq: out of memory\n", stderr);
    return 1;
  }
  std::u16string word;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && IsWordUnit(text[i])) {
      word.push_back(text[i]);
      continue;
    }
    if (word.empty()) {
      continue;
    }
    // MapAdd in its finding mode would clear a present count, so find first.
    void* value = zn::MapFind(counts, word.c_str());
    if (value == nullptr) {
      value = zn::MapAdd(counts, word.c_str(), 0);
    }
    if (value == nullptr) {
      std::fputs("wordfreq: out of memory\n", stderr);
      zn::MapFree(counts);
      return 1;
    }
    ++*static_cast<int64_t*>(value);
    word.clear();
  }

  std::vector<Entry> entries;
  zn::MapReset(counts);
  while (void* value = zn::MapNext(counts)) {
    entries.push_back({*static_cast<int64_t*>(value), zn::MapCurrentKey(counts)});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.count != b.count) {
      return a.count > b.count;
    }
    return std::u16string_view(a.word) < std::u16string_view(b.word);
  });
  for (const Entry& entry : entries) {
    char* utf8 = zn::StringToUtf8(entry.word);
    std::printf("%lld %s\n", static_cast<long long>(entry.count), utf8);
    zn::NarrowTextFree(utf8);
  }
  zn::MapFree(counts);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
