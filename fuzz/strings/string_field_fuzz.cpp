// Fuzzes StringFieldAt. The first byte picks the field number, the second the separator; the rest
// is the source, read as UTF-16 units up to the first 0 unit.
//
// Properties: the field equals the one a plain reference split gives; the result is terminated at
// the position; the fields joined with the separator give the source back; a source that lies in
// the temporary buffer gives the same field as one on the heap.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/strings/fuzz_check.h"
#include "runtime/strings/strings.h"

using zn::fuzz::Require;

namespace {

// Reference: split on every non-overlapping occurrence, left to right.
std::vector<std::u16string> Split(const std::u16string& source, const std::u16string& separator) {
  std::vector<std::u16string> fields;
  if (separator.empty()) {
    fields.push_back(source);
    return fields;
  }
  size_t start = 0;
  for (;;) {
    const size_t at = source.find(separator, start);
    if (at == std::u16string::npos) {
      break;
    }
    fields.push_back(source.substr(start, at - start));
    start = at + separator.size();
  }
  fields.push_back(source.substr(start));
  return fields;
}

std::u16string Field(const char16_t* source, int32_t n, const char16_t* separator) {
  zn::TempTextPush();
  zn::TempTextPush();
  const int32_t offset = zn::TempTextPop();
  zn::StringFieldAt(source, n, separator, offset);
  const int64_t position = zn::TempTextPosition();
  Require(*zn::TempTextAddress(static_cast<int32_t>(position)) == 0, "terminated at the position");
  std::u16string field = zn::TempTextPopPiece();
  Require(position == offset + 2 * static_cast<int64_t>(field.size()), "position on terminator");
  return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zn::fuzz::StartInput();
  if (size < 2 || size > 4096) {
    return 0;
  }
  static const char16_t* const kSeparators[] = {u"|", u",",  u"::", u"\u2501",
                                                u"",  u"ab", u"aa", u"\U0001F600"};
  const int32_t n = data[0] < 128 ? data[0] : data[0] - 256;  // the first byte as a signed count
  const std::u16string separator = kSeparators[data[1] % 8];
  const std::u16string source = zn::fuzz::UnitsOf(data + 2, size - 2).c_str();

  const std::vector<std::u16string> fields = Split(source, separator);
  const std::u16string expected =
      n >= 1 && static_cast<size_t>(n) <= fields.size() ? fields[static_cast<size_t>(n) - 1] : u"";

  zn::TempTextPush();
  Require(Field(source.c_str(), n, separator.c_str()) == expected, "agrees with the reference");

  // Joining every field gives the source back.
  std::u16string joined;
  for (int32_t k = 1; k <= static_cast<int32_t>(fields.size()); ++k) {
    if (k > 1) {
      joined += separator;
    }
    joined += Field(source.c_str(), k, separator.c_str());
  }
  Require(joined == source, "the fields joined give the source");

  // The same source inside the buffer, the result written right behind it (the block may move).
  zn::TempTextPush();
  zn::TempTextAppend(source.c_str());
  const std::u16string inside =
      Field(zn::TempTextAddress(zn::TempTextPeek()), n, separator.c_str());
  Require(inside == expected, "a source inside the buffer gives the same field");
  zn::TempTextPopRewind();
  zn::TempTextPopRewind();
  return 0;
}
