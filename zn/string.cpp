// zn::String's conversions, each written straight into the block the result owns, without a copy
// of the whole text: decoding counts, then decodes; replacing encoding takes one pass.
#include "zn/string.h"

#include <algorithm>
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
  if (length == 0) {
    return {};
  }
  if (invalid == Invalid::Replace) {
    // Counted, then decoded straight into the string's block: nothing else is written.
    return adopt(StringFromUtf8Bytes(bytes.data(), length, ConvertReplaceInvalid, nullptr));
  }
  const int32_t units = MultiByteToUtf16(CodePageUtf8, 0, bytes.data(), length, nullptr, 0);
  String text = adopt(StringFromUnits(nullptr, units));
  if (units > 0) {
    // The lenient rules may stop early; the block's 0 units then end the text where they did.
    MultiByteToUtf16(CodePageUtf8, 0, bytes.data(), length, text.value_, units);
  }
  return text;
}

std::string String::to_utf8(Invalid invalid) const {
  const std::u16string_view text = view();
  const int32_t length = ConverterLength(text.size());
  std::string bytes;
  if (length == 0) {
    return bytes;
  }
  if (invalid == Invalid::Replace) {
    // One pass, a piece at a time, through a buffer on the stack that holds any piece's bytes (3 a
    // unit at most): no counting pass, and no byte written twice, as a string sized before the
    // conversion would first be filled with zeros. The replacing rule reads each character
    // alone, so the pieces convert as the whole would, as long as no surrogate pair is cut.
    constexpr std::size_t kPiece = 1024;
    char buffer[3 * kPiece];
    for (std::size_t at = 0; at < text.size();) {
      std::size_t piece = std::min(kPiece, text.size() - at);
      if (at + piece < text.size() && text[at + piece - 1] >= 0xD800 &&
          text[at + piece - 1] <= 0xDBFF) {
        --piece;  // the high half goes with its low half into the next piece
      }
      const int32_t written = Utf16ToMultiByte(CodePageUtf8, ConvertReplaceInvalid,
                                               text.data() + at, static_cast<int32_t>(piece),
                                               buffer, static_cast<int32_t>(sizeof buffer));
      at += piece;
      if (bytes.empty()) {
        // Room for this piece and a byte for each unit left: a text of one piece gets its size.
        bytes.reserve(static_cast<std::size_t>(written) + (text.size() - at));
      }
      bytes.append(buffer, static_cast<std::size_t>(written));
    }
    return bytes;
  }
  const int32_t needed = Utf16ToMultiByte(CodePageUtf8, 0, text.data(), length, nullptr, 0);
  bytes.resize(static_cast<std::size_t>(needed));
  const int32_t written =
      Utf16ToMultiByte(CodePageUtf8, 0, text.data(), length, bytes.data(), needed);
  bytes.resize(static_cast<std::size_t>(written));
  return bytes;
}

std::ptrdiff_t String::find(std::u16string_view needle, std::size_t from) const noexcept {
  const std::size_t at = view().find(needle, from);
  return at == std::u16string_view::npos ? -1 : static_cast<std::ptrdiff_t>(at);
}

}  // namespace zn
