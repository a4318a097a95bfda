// zn::String's conversions: each is one C-level call (or the two passes of a converter) into a
// block the result owns, without an intermediate copy.
#include "zn/string.h"

#include <climits>
#include <stdexcept>

namespace zn {

namespace {

// The converters take 32-bit lengths; a longer text is refused rather than cut.
int32_t ConverterLength(std::size_t size) {
  if (size > static_cast<std::size_t>(INT32_MAX)) {
    throw std::length_error("zn::String: text over 2^31 units");
  }
  return static_cast<int32_t>(size);
}

uint32_t ConverterFlags(Invalid invalid) {
  return invalid == Invalid::Replace ? ConvertReplaceInvalid : 0;
}

}  // namespace

String::String(std::u16string_view text) {
  value_ = StringFromUnits(text.data(), static_cast<int64_t>(text.size()));
}

String& String::operator=(const String& other) {
  if (this != &other) {
    StringAssign(&value_, other.value_);
  }
  return *this;
}

String String::from_utf8(std::string_view bytes, Invalid invalid) {
  const int32_t length = ConverterLength(bytes.size());
  const uint32_t flags = ConverterFlags(invalid);
  if (length == 0) {
    return {};
  }
  const int32_t units = MultiByteToUtf16(CodePageUtf8, flags, bytes.data(), length, nullptr, 0);
  String text = adopt(StringFromUnits(nullptr, units));
  if (units > 0) {
    // The lenient rules may stop early; the block's 0 units then end the text where they did.
    MultiByteToUtf16(CodePageUtf8, flags, bytes.data(), length, text.value_, units);
  }
  return text;
}

std::string String::to_utf8(Invalid invalid) const {
  const std::u16string_view text = view();
  const int32_t length = ConverterLength(text.size());
  const uint32_t flags = ConverterFlags(invalid);
  std::string bytes;
  if (length == 0) {
    return bytes;
  }
  const int32_t needed = Utf16ToMultiByte(CodePageUtf8, flags, text.data(), length, nullptr, 0);
  bytes.resize(static_cast<std::size_t>(needed));
  const int32_t written =
      Utf16ToMultiByte(CodePageUtf8, flags, text.data(), length, bytes.data(), needed);
  bytes.resize(static_cast<std::size_t>(written));
  return bytes;
}

std::ptrdiff_t String::find(std::u16string_view needle, std::size_t from) const noexcept {
  const std::size_t at = view().find(needle, from);
  return at == std::u16string_view::npos ? -1 : static_cast<std::ptrdiff_t>(at);
}

}  // namespace zn
