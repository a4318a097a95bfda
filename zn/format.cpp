// The engine behind zn::format: one function for every call, reading arguments whose types the
// caller's template erased. The format string was checked when compiled, so the engine meets no
// broken specifier; it still stops cleanly at one rather than read past the string.
//
// Numbers go through std::to_chars (locale-free, shortest round trip for floating point), text
// is copied or decoded straight into the output, and the result is built in a stack buffer that
// only long results leave.
#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <new>
#include <stdexcept>
#include <string>

#include "zn/format.h"

namespace zn::internal {

namespace {

// The output being built: a stack buffer first, the heap once it is full or a caller asks for
// room to write into.
class FormatOutput {
 public:
  void Append(const char16_t* units, std::size_t n) {
    if (!on_heap_ && used_ + n <= stack_.size()) {
      std::copy(units, units + n, stack_.data() + used_);
      used_ += n;
      return;
    }
    MoveToHeap();
    heap_.append(units, n);
  }
  void Append(std::u16string_view text) { Append(text.data(), text.size()); }
  // Appends a code point `count` times.
  void Repeat(char32_t code_point, std::size_t count) {
    if (code_point < 0x10000) {
      std::fill_n(Grow(count), count, static_cast<char16_t>(code_point));
      return;
    }
    const auto high = static_cast<char16_t>(0xD800 + ((code_point - 0x10000) >> 10));
    const auto low = static_cast<char16_t>(0xDC00 + ((code_point - 0x10000) & 0x3FF));
    char16_t* room = Grow(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
      room[2 * i] = high;
      room[2 * i + 1] = low;
    }
  }
  // Appends ASCII bytes, widened.
  void AppendAscii(const char* bytes, std::size_t n) { std::copy(bytes, bytes + n, Grow(n)); }
  // Room for `n` units at the end, for the caller to write; Shrink gives back what it did not use.
  char16_t* Grow(std::size_t n) {
    if (!on_heap_ && used_ + n <= stack_.size()) {
      used_ += n;
      return stack_.data() + used_ - n;
    }
    MoveToHeap();
    const std::size_t at = heap_.size();
    heap_.resize(at + n);
    return heap_.data() + at;
  }
  // Drops the last `n` units.
  void Shrink(std::size_t n) {
    if (on_heap_) {
      heap_.resize(heap_.size() - n);
    } else {
      used_ -= n;
    }
  }
  std::size_t size() const { return on_heap_ ? heap_.size() : used_; }
  char16_t* Data() { return on_heap_ ? heap_.data() : stack_.data(); }
  std::u16string_view Text() const {
    return on_heap_ ? std::u16string_view(heap_) : std::u16string_view(stack_.data(), used_);
  }

 private:
  void MoveToHeap() {
    if (!on_heap_) {
      heap_.reserve(std::max<std::size_t>(2 * stack_.size(), used_));
      heap_.assign(stack_.data(), used_);
      on_heap_ = true;
    }
  }
  std::array<char16_t, 256> stack_;
  std::size_t used_ = 0;
  bool on_heap_ = false;
  std::u16string heap_;
};

// Code points in a UTF-16 text: a surrogate pair counts one.
std::size_t CodePoints(std::u16string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    i += pair ? 1 : 0;
    ++count;
  }
  return count;
}

// The units of the first `limit` code points of a text.
std::size_t UnitsOfCodePoints(std::u16string_view text, std::size_t limit) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < limit && i < text.size(); ++n) {
    const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    i += pair ? 2 : 1;
  }
  return i;
}

// Pads the field that starts at `start` in the output (`points` code points long) to the
// specifier's width: the fill goes after it, before it (rotated into place, no copy of the field),
// or around.
void Pad(FormatOutput* out, std::size_t start, std::size_t points, const FormatSpec& specifier,
         char16_t default_align) {
  if (specifier.width < 0 || points >= static_cast<std::size_t>(specifier.width)) {
    return;
  }
  const std::size_t padding = static_cast<std::size_t>(specifier.width) - points;
  const char16_t align = specifier.align != 0 ? specifier.align : default_align;
  const std::size_t before = align == u'>' ? padding : align == u'^' ? padding / 2 : 0;
  if (before > 0) {
    const std::size_t end = out->size();
    out->Repeat(specifier.fill, before);
    char16_t* data = out->Data();
    std::rotate(data + start, data + end, data + out->size());
  }
  out->Repeat(specifier.fill, padding - before);
}

// A number's text (ASCII) with its sign apart, then sign-aware zero padding or the usual fill.
void AppendNumber(FormatOutput* out, bool negative, const char* digits, std::size_t n,
                  const FormatSpec& specifier, bool finite) {
  char sign = 0;
  if (negative) {
    sign = '-';
  } else if (specifier.sign == u'+') {
    sign = '+';
  } else if (specifier.sign == u' ') {
    sign = ' ';
  }
  const std::size_t length = n + (sign != 0 ? 1 : 0);
  if (specifier.zero && specifier.align == 0 && finite && specifier.width > 0 &&
      length < static_cast<std::size_t>(specifier.width)) {
    if (sign != 0) {
      out->AppendAscii(&sign, 1);
    }
    out->Repeat(U'0', static_cast<std::size_t>(specifier.width) - length);
    out->AppendAscii(digits, n);
    return;
  }
  const std::size_t start = out->size();
  if (sign != 0) {
    out->AppendAscii(&sign, 1);
  }
  out->AppendAscii(digits, n);
  Pad(out, start, length, specifier, u'>');
}

void AppendInteger(FormatOutput* out, bool negative, uint64_t magnitude,
                   const FormatSpec& specifier) {
  char digits[72];
  int base = 10;
  switch (specifier.type) {
    case u'x':
    case u'X':
      base = 16;
      break;
    case u'o':
      base = 8;
      break;
    case u'b':
      base = 2;
      break;
    default:
      break;
  }
  const auto result = std::to_chars(digits, digits + sizeof digits, magnitude, base);
  if (specifier.type == u'X') {
    std::transform(digits, result.ptr, digits, [](char c) {
      return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
  }
  AppendNumber(out, negative, digits, static_cast<std::size_t>(result.ptr - digits), specifier,
               true);
}

template <class Float>
std::to_chars_result FloatChars(char* first, char* last, Float magnitude,
                                const FormatSpec& specifier) {
  const int precision = specifier.precision;
  switch (specifier.type) {
    case u'f':
    case u'F':
      return std::to_chars(first, last, magnitude, std::chars_format::fixed,
                           precision < 0 ? 6 : precision);
    case u'e':
    case u'E':
      return std::to_chars(first, last, magnitude, std::chars_format::scientific,
                           precision < 0 ? 6 : precision);
    case u'g':
    case u'G':
      return std::to_chars(first, last, magnitude, std::chars_format::general,
                           precision < 0 ? 6 : precision);
    default:
      return precision < 0
                 ? std::to_chars(first, last, magnitude)
                 : std::to_chars(first, last, magnitude, std::chars_format::general, precision);
  }
}

template <class Float>
void AppendFloatChars(FormatOutput* out, bool negative, char* first, char* last, Float magnitude,
                      const FormatSpec& specifier) {
  if (specifier.type == u'F' || specifier.type == u'E' || specifier.type == u'G') {
    std::transform(first, last, first, [](char c) {
      return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
  }
  AppendNumber(out, negative, first, static_cast<std::size_t>(last - first), specifier,
               std::isfinite(magnitude));
}

template <class Float>
void AppendFloat(FormatOutput* out, Float value, const FormatSpec& specifier) {
  const bool negative = std::signbit(value);
  const Float magnitude = std::fabs(value);
  // Nearly every number fits a small buffer on the stack; the heap is asked only for the rest
  // (a fixed long double can need some 4,950 digits before the point, a precision any number).
  std::array<char, 128> small;
  std::to_chars_result result =
      FloatChars(small.data(), small.data() + small.size(), magnitude, specifier);
  if (result.ec == std::errc()) {
    AppendFloatChars(out, negative, small.data(), result.ptr, magnitude, specifier);
    return;
  }
  std::string digits(5100 + static_cast<std::size_t>(std::max(specifier.precision, 0)), '\0');
  result = FloatChars(digits.data(), digits.data() + digits.size(), magnitude, specifier);
  if (result.ec != std::errc()) {
    throw std::length_error("zn::format: number too long");
  }
  AppendFloatChars(out, negative, digits.data(), result.ptr, magnitude, specifier);
}

// UTF-8 text decoded by the replacing rule, straight into the output.
void AppendUtf8(FormatOutput* out, std::string_view bytes) {
  while (!bytes.empty()) {
    // The converter takes 32-bit lengths: long text goes in pieces cut before a lead byte.
    std::size_t piece = std::min<std::size_t>(bytes.size(), INT32_MAX / 4);
    while (piece < bytes.size() && piece > 0 && (bytes[piece] & 0xC0) == 0x80) {
      --piece;
    }
    const auto length = static_cast<int32_t>(piece);
    const int32_t units =
        MultiByteToUtf16(CodePageUtf8, ConvertReplaceInvalid, bytes.data(), length, nullptr, 0);
    char16_t* room = out->Grow(static_cast<std::size_t>(units));
    const int32_t written =
        MultiByteToUtf16(CodePageUtf8, ConvertReplaceInvalid, bytes.data(), length, room, units);
    out->Shrink(static_cast<std::size_t>(units - written));
    bytes.remove_prefix(piece);
  }
}

void AppendText(FormatOutput* out, const FormatArg& arg, const FormatSpec& specifier) {
  const std::size_t start = out->size();
  if (arg.kind == FormatKind::Utf16) {
    out->Append(static_cast<const char16_t*>(arg.text.data), arg.text.size);
  } else {
    AppendUtf8(out, std::string_view(static_cast<const char*>(arg.text.data), arg.text.size));
  }
  if (specifier.width < 0 && specifier.precision < 0) {
    return;
  }
  std::u16string_view field = out->Text().substr(start);
  if (specifier.precision >= 0) {
    const std::size_t keep =
        UnitsOfCodePoints(field, static_cast<std::size_t>(specifier.precision));
    out->Shrink(field.size() - keep);
    field = out->Text().substr(start);
  }
  Pad(out, start, CodePoints(field), specifier, u'<');
}

void AppendArg(FormatOutput* out, const FormatArg& arg, const FormatSpec& specifier) {
  switch (arg.kind) {
    case FormatKind::Signed: {
      const bool negative = arg.signed_value < 0;
      const uint64_t magnitude = negative ? uint64_t{0} - static_cast<uint64_t>(arg.signed_value)
                                          : static_cast<uint64_t>(arg.signed_value);
      AppendInteger(out, negative, magnitude, specifier);
      break;
    }
    case FormatKind::Unsigned:
      AppendInteger(out, false, arg.unsigned_value, specifier);
      break;
    case FormatKind::Float:
      AppendFloat(out, arg.float_value, specifier);
      break;
    case FormatKind::Double:
      AppendFloat(out, arg.double_value, specifier);
      break;
    case FormatKind::LongDouble:
      AppendFloat(out, arg.long_double_value, specifier);
      break;
    case FormatKind::Utf16:
    case FormatKind::Utf8:
      AppendText(out, arg, specifier);
      break;
  }
}

// A literal run with its doubled braces made single.
void AppendLiteral(FormatOutput* out, std::u16string_view literal) {
  std::size_t from = 0;
  for (std::size_t i = 0; i < literal.size(); ++i) {
    if (literal[i] == u'{' || literal[i] == u'}') {
      out->Append(literal.substr(from, i + 1 - from));
      from = i + 2;
      ++i;
    }
  }
  if (from < literal.size()) {
    out->Append(literal.substr(from));
  }
}

}  // namespace

String FormatArgs(std::u16string_view text, const FormatArg* args, std::size_t count) {
  FormatOutput out;
  std::size_t next = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const FormatStep step = FormatNext(text, &at);
    AppendLiteral(&out, step.literal);
    if (step.problem != FormatProblem::None || !step.has_placeholder) {
      break;
    }
    const std::size_t argument = step.index < 0 ? next++ : static_cast<std::size_t>(step.index);
    if (argument < count) {
      AppendArg(&out, args[argument], step.specifier);
    }
  }
  return String(out.Text());
}

}  // namespace zn::internal
