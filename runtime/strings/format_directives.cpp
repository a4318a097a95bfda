// The directives of a printf-style format, one at a time, for the formats that the C library
// cannot take whole: those with `%ls`, whose value is a UTF-16 string where vsnprintf would read
// a wchar_t string (32-bit units here) through the locale.
//
// Such a format is formatted directive by directive: literal text is copied, each directive's
// value is fetched by the type its conversion and length modifier give (as printf itself does) and
// formatted by snprintf alone, and `%ls` is encoded here. The text is encoded unit by unit, lone
// surrogates as the three bytes of their value, so that decoding the result gives back exactly the
// units of the string. Numbered arguments (`%2$d`) cannot be fetched in order this way and are
// refused in such a format; `%n` (which writes through a pointer) is refused in every format.
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <type_traits>

#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn::internal {
namespace {

enum class Size { kDefault, kChar, kShort, kLong, kLongLong, kMax, kSize, kPtrdiff, kLongDouble };

// A width or precision as written: absent, digits, or "*" (its value comes with the values).
struct Count {
  bool given;
  bool star;
  bool too_large;  // digits beyond an int
  int value;
};

// One directive as written. Its conversion is 0 when the directive is cut off or unknown.
struct Directive {
  const char* end;  // the first byte behind the directive
  char flags[8];    // each flag once, terminated
  bool numbered;    // "%2$d" or "*2$"
  Count width;
  Count precision;
  Size size;
  char conversion;
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Digits at `at` (moved behind them) as a value; *too_large when it would not fit an int.
int ReadNumber(const char** at, bool* too_large) {
  int64_t value = 0;
  for (; IsDigit(**at); ++*at) {
    value = value * 10 + (**at - '0');
    if (value > INT32_MAX) {
      *too_large = true;
      value = INT32_MAX;
    }
  }
  return static_cast<int>(value);
}

Count ReadCount(const char** at, bool* numbered) {
  Count count{};
  if (**at == '*') {
    count.given = true;
    count.star = true;
    ++*at;
    const char* digits = *at;
    bool ignored = false;
    ReadNumber(at, &ignored);
    if (*at != digits && **at == '$') {
      *numbered = true;
      ++*at;
    }
  } else if (IsDigit(**at)) {
    count.given = true;
    count.value = ReadNumber(at, &count.too_large);
  }
  return count;
}

Size ReadSize(const char** at) {
  const char c = **at;
  if ((c == 'h' || c == 'l') && (*at)[1] == c) {
    *at += 2;
    return c == 'h' ? Size::kChar : Size::kLongLong;
  }
  static constexpr struct {
    char letter;
    Size size;
  } kLetters[] = {{'h', Size::kShort},      {'l', Size::kLong},   {'q', Size::kLongLong},
                  {'L', Size::kLongDouble}, {'j', Size::kMax},    {'z', Size::kSize},
                  {'Z', Size::kSize},       {'t', Size::kPtrdiff}};
  for (const auto& letter : kLetters) {
    if (c == letter.letter) {
      ++*at;
      return letter.size;
    }
  }
  return Size::kDefault;
}

// The directive whose "%" is at `percent`.
Directive ReadDirective(const char* percent) {
  Directive d{};
  const char* at = percent + 1;
  if (*at >= '1' && *at <= '9') {
    const char* digits = at;
    bool ignored = false;
    ReadNumber(&at, &ignored);
    d.numbered = *at == '$';
    at = d.numbered ? at + 1 : digits;
  }
  size_t flags = 0;
  for (; *at != 0 && std::strchr("-+ #0'I", *at) != nullptr; ++at) {
    if (std::strchr(d.flags, *at) == nullptr) {
      d.flags[flags++] = *at;  // seven flags at most, each once
    }
  }
  d.width = ReadCount(&at, &d.numbered);
  if (*at == '.') {
    ++at;
    d.precision = ReadCount(&at, &d.numbered);
    d.precision.given = true;  // "." alone is a precision of 0
  }
  d.size = ReadSize(&at);
  if (*at != 0 && std::strchr("diouxXeEfFgGaAcsCSpnm%", *at) != nullptr) {
    d.conversion = *at++;
  }
  d.end = at;
  return d;
}

bool IsWide(const Directive& d) {
  return d.conversion == 's' && d.size == Size::kLong;
}

// The formatted bytes so far, on the memory layer; `failed` once a request is refused or the text
// would pass a signed 32-bit length.
struct ByteText {
  char* bytes = nullptr;
  size_t length = 0;
  size_t capacity = 0;
  bool failed = false;
};

// Room for `more` bytes and a terminator behind the text; false (and `failed`) when refused.
bool Reserve(ByteText* text, size_t more) {
  if (text->failed || more > INT32_MAX - 1 - text->length) {
    text->failed = true;
    return false;
  }
  const size_t needed = text->length + more + 1;
  if (needed <= text->capacity) {
    return true;
  }
  size_t capacity = text->capacity < 64 ? 64 : text->capacity;
  while (capacity < needed) {
    capacity *= 2;
  }
  void* block = MemoryResize(text->bytes, capacity);
  if (block == nullptr) {
    text->failed = true;
    return false;
  }
  text->bytes = static_cast<char*>(block);
  text->capacity = capacity;
  return true;
}

void Append(ByteText* text, const char* bytes, size_t count) {
  if (Reserve(text, count)) {
    std::memcpy(text->bytes + text->length, bytes, count);
    text->length += count;
  }
}

void AppendSpaces(ByteText* text, int64_t count) {
  if (count > 0 && Reserve(text, static_cast<size_t>(count))) {
    std::memset(text->bytes + text->length, ' ', static_cast<size_t>(count));
    text->length += static_cast<size_t>(count);
  }
}

// One value formatted by a format of one directive.
template <typename T>
void AppendValue(ByteText* text, const char* single, T value) {
  char small[64];
  const int bytes = std::snprintf(small, sizeof small, single, value);
  if (bytes < 0) {
    text->failed = true;
  } else if (static_cast<size_t>(bytes) < sizeof small) {
    Append(text, small, static_cast<size_t>(bytes));
  } else if (Reserve(text, static_cast<size_t>(bytes))) {
    std::snprintf(text->bytes + text->length, static_cast<size_t>(bytes) + 1, single, value);
    text->length += static_cast<size_t>(bytes);
  }
}

// The next value, of the type its directive gives. The list was started by StringFormat, which
// the analyser does not follow into this file.
template <typename T>
T TakeValue(va_list* values) {
  return va_arg(*values, T);  // NOLINT(clang-analyzer-valist.Uninitialized)
}

// Width and precision with the values of their "*": a negative "*" width is the "-" flag and its
// size, a negative "*" precision is none. -1 is none.
struct Resolved {
  int width;
  int precision;
  bool left;
  bool bad;  // a count beyond an int
};

Resolved Resolve(const Directive& d, va_list* values) {
  Resolved r{-1, -1, std::strchr(d.flags, '-') != nullptr, false};
  if (d.width.star) {
    const int width = TakeValue<int>(values);
    r.left = r.left || width < 0;
    r.bad = width == INT32_MIN;
    r.width = width < 0 && !r.bad ? -width : width;
  } else if (d.width.given) {
    r.width = d.width.value;
    r.bad = d.width.too_large;
  }
  if (d.precision.star) {
    const int precision = TakeValue<int>(values);
    r.precision = precision < 0 ? -1 : precision;
  } else if (d.precision.given) {
    r.precision = d.precision.value;
    r.bad = r.bad || d.precision.too_large;
  }
  return r;
}

// A UTF-16 string for "%ls": the precision cuts it (never inside a pair), the width pads it with
// spaces (on the right with "-"), both counted in units.
void AppendWide(ByteText* text, const Resolved& r, const char16_t* s) {
  s = s == nullptr ? EmptyString : s;
  int64_t units = StringCountUnits(s);
  if (r.precision >= 0 && r.precision < units) {
    units = r.precision;
    units -= units > 0 && UnitIsHighHalf(s[units - 1]) && UnitIsLowHalf(s[units]) ? 1 : 0;
  }
  const int64_t padding = r.width > units ? r.width - units : 0;
  if (!r.left) {
    AppendSpaces(text, padding);
  }
  if (units > (INT32_MAX - 1) / 3 || !Reserve(text, static_cast<size_t>(units) * 3)) {
    text->failed = true;
    return;
  }
  auto* out = reinterpret_cast<unsigned char*>(text->bytes + text->length);
  for (int64_t k = 0; k < units; ++k) {
    uint32_t value = s[k];
    if (UnitIsHighHalf(value) && k + 1 < units && UnitIsLowHalf(s[k + 1])) {
      value = 0x10000 + ((value & 0x3FF) << 10 | (s[++k] & 0x3FFu));
      *out++ = static_cast<unsigned char>(0xF0 | value >> 18);
      *out++ = static_cast<unsigned char>(0x80 | (value >> 12 & 0x3F));
    } else if (value >= 0x800) {
      *out++ = static_cast<unsigned char>(0xE0 | value >> 12);
    } else if (value >= 0x80) {
      *out++ = static_cast<unsigned char>(0xC0 | value >> 6);
    } else {
      *out++ = static_cast<unsigned char>(value);
      continue;
    }
    if (value >= 0x800) {
      *out++ = static_cast<unsigned char>(0x80 | (value >> 6 & 0x3F));
    }
    *out++ = static_cast<unsigned char>(0x80 | (value & 0x3F));
  }
  text->length = static_cast<size_t>(reinterpret_cast<char*>(out) - text->bytes);
  if (r.left) {
    AppendSpaces(text, padding);
  }
}

template <typename Signed, typename Unsigned>
void AppendInteger(ByteText* text, const char* single, bool is_signed, va_list* values) {
  if (is_signed) {
    AppendValue(text, single, TakeValue<Signed>(values));
  } else {
    AppendValue(text, single, TakeValue<Unsigned>(values));
  }
}

// The value of one directive, fetched by its type and formatted by `single`.
void AppendDirective(ByteText* text, const Directive& d, const char* single, va_list* values) {
  const bool is_signed = d.conversion == 'd' || d.conversion == 'i';
  switch (d.conversion) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
      switch (d.size) {
        case Size::kLong:
          return AppendInteger<long, unsigned long>(text, single, is_signed, values);
        case Size::kLongLong:
        case Size::kLongDouble:
          return AppendInteger<long long, unsigned long long>(text, single, is_signed, values);
        case Size::kMax:
          return AppendInteger<intmax_t, uintmax_t>(text, single, is_signed, values);
        case Size::kSize:
          return AppendInteger<std::make_signed_t<size_t>, size_t>(text, single, is_signed, values);
        case Size::kPtrdiff:
          return AppendInteger<ptrdiff_t, std::make_unsigned_t<ptrdiff_t>>(text, single, is_signed,
                                                                           values);
        default:
          return AppendInteger<int, unsigned>(text, single, is_signed, values);
      }
    case 'c':
    case 'C':
      if (d.size == Size::kLong || d.conversion == 'C') {
        return AppendValue(text, single, TakeValue<wint_t>(values));
      }
      return AppendValue(text, single, TakeValue<int>(values));
    case 's':
      return AppendValue(text, single, TakeValue<const char*>(values));
    case 'S':
      return AppendValue(text, single, TakeValue<const wchar_t*>(values));
    case 'p':
      return AppendValue(text, single, TakeValue<void*>(values));
    case 'm':
      return AppendValue(text, single, 0);  // no value: the text of errno
    default:
      if (d.size == Size::kLongDouble) {
        return AppendValue(text, single, TakeValue<long double>(values));
      }
      return AppendValue(text, single, TakeValue<double>(values));
  }
}

// The format of directive `d` alone, with its counts resolved.
void WriteSingle(const Directive& d, const Resolved& r, char* single, size_t size) {
  char width[16] = "";
  char precision[16] = "";
  if (r.width >= 0) {
    std::snprintf(width, sizeof width, "%d", r.width);
  }
  if (r.precision >= 0) {
    std::snprintf(precision, sizeof precision, ".%d", r.precision);
  }
  static constexpr const char* kSizes[] = {"", "hh", "h", "l", "ll", "j", "z", "t", "L"};
  std::snprintf(single, size, "%%%s%s%s%s%s%c", d.flags, r.left ? "-" : "", width, precision,
                kSizes[static_cast<int>(d.size)], d.conversion);
}

}  // namespace

FormatScan FormatScanDirectives(const char* format) {
  FormatScan scan{};
  bool numbered = false;
  bool unknown = false;
  for (const char* at = std::strchr(format, '%'); at != nullptr; at = std::strchr(at, '%')) {
    const Directive d = ReadDirective(at);
    scan.wide = scan.wide || IsWide(d);
    scan.refused = scan.refused || d.conversion == 'n';
    numbered = numbered || d.numbered;
    unknown = unknown || d.conversion == 0;
    at = d.end;
  }
  scan.refused = scan.refused || (scan.wide && (numbered || unknown));
  return scan;
}

char* FormatPieces(const char* format, va_list* values, int32_t* length) {
  const int entry_errno = errno;  // the one "%m" shows
  ByteText text;
  const char* at = format;
  while (*at != 0 && !text.failed) {
    const char* percent = std::strchr(at, '%');
    const size_t literal = percent == nullptr ? std::strlen(at) : static_cast<size_t>(percent - at);
    Append(&text, at, literal);
    if (percent == nullptr) {
      break;
    }
    const Directive d = ReadDirective(percent);
    at = d.end;
    if (d.conversion == '%') {
      Append(&text, "%", 1);
      continue;
    }
    const Resolved r = Resolve(d, values);
    if (r.bad) {
      text.failed = true;
    } else if (IsWide(d)) {
      AppendWide(&text, r, TakeValue<const char16_t*>(values));
    } else {
      char single[64];
      WriteSingle(d, r, single, sizeof single);
      errno = entry_errno;
      AppendDirective(&text, d, single, values);
    }
  }
  if (text.failed || !Reserve(&text, 0)) {
    MemoryRelease(text.bytes);
    return nullptr;
  }
  text.bytes[text.length] = 0;
  *length = static_cast<int32_t>(text.length);
  return text.bytes;
}

}  // namespace zn::internal
