// zn::format: typed formatting into a zn::String, checked when the program is compiled.
//
//   zn::String line = zn::format(u"{:>6}\t{}", count, word);
//   zn::String cost = zn::format(u"{:*^12.2f} {:x}", 3.14159, 255u);   // "****3.14****" "ff"
//
// A placeholder is `{` [index] [`:` specifier] `}`; `{{` and `}}` stand for the braces themselves.
// Placeholders take the arguments in order, or by index (`{1} {0}`), not both in one string.
// The specifier is [[fill]align][sign][0][width][.precision][type]:
// - fill: any one character (a code point) but `{` and `}`; align: `<` left, `>` right, `^`
//   centre (the extra fill goes to the right). Without an align, numbers go right, text left.
// - sign (numbers): `-` only negatives (the default), `+` every number, ` ` a space for
//   non-negatives. `0` pads numbers with zeros after the sign when no align is given.
// - width: the least number of code points of the field. Width counts code points, not display
//   columns: a CJK ideograph and U+10400 (a surrogate pair) both count one.
// - precision: floating point, the digits after the point (`f`, `e`) or significant digits (`g`
//   and no type); text, the most code points taken from it. Not allowed on integers.
// - type: integers `d` (default), `x`, `X`, `o`, `b`; floating point `f`, `F`, `e`, `E`, `g`, `G`
//   or none (the shortest text that reads back as the same value, or `g` with a precision); text
//   `s` or none.
//
// Arguments: every integer type but bool and the character types; float, double and long double;
// zn::String, UTF-16 text (const char16_t*, std::u16string, std::u16string_view) and UTF-8 text
// (const char*, std::string, std::string_view), whose ill-formed parts become U+FFFD. A null
// pointer is the empty text.
//
// Checked when compiled: a string with more placeholders than arguments, an argument that no
// placeholder uses, a broken brace or specifier, a specifier that does not fit the argument's type,
// or an argument of a type that cannot be formatted stops the build; the compiler's message names
// the fault (`format_error_...`). The format string must therefore be a constant: a string literal.
//
// The result ends at the first 0 unit of what was formatted: a 0 inside an argument cuts it
// there. Exhausted memory throws std::bad_alloc before the result exists.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "zn/string.h"

namespace zn {

namespace internal {

// What an argument is, for the checks and for the engine.
enum class FormatCategory : uint8_t { Unsupported, Integer, Floating, Text };

enum class FormatKind : uint8_t { Signed, Unsigned, Float, Double, LongDouble, Utf16, Utf8 };

// Text of an argument: UTF-16 units or UTF-8 bytes, by the kind.
struct FormatText {
  const void* data;
  std::size_t size;
};

// One argument, its type erased, so that one engine serves every call.
struct FormatArg {
  FormatKind kind;
  union {
    int64_t signed_value;
    uint64_t unsigned_value;
    float float_value;
    double double_value;
    long double long_double_value;
    FormatText text;
  };
};

template <class T>
inline constexpr bool kFormatCharacter =
    std::is_same_v<T, bool> || std::is_same_v<T, char> || std::is_same_v<T, signed char> ||
    std::is_same_v<T, unsigned char> || std::is_same_v<T, wchar_t> || std::is_same_v<T, char8_t> ||
    std::is_same_v<T, char16_t> || std::is_same_v<T, char32_t>;

template <class T>
consteval FormatCategory FormatCategoryOf() {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_integral_v<U> && !kFormatCharacter<U>) {
    return FormatCategory::Integer;
  } else if constexpr (std::is_floating_point_v<U>) {
    return FormatCategory::Floating;
  } else if constexpr (std::is_convertible_v<const U&, std::u16string_view> ||
                       std::is_convertible_v<const U&, std::string_view> ||
                       std::is_same_v<std::decay_t<U>, const char16_t*> ||
                       std::is_same_v<std::decay_t<U>, char16_t*> ||
                       std::is_same_v<std::decay_t<U>, const char*> ||
                       std::is_same_v<std::decay_t<U>, char*>) {
    return FormatCategory::Text;
  } else {
    return FormatCategory::Unsupported;
  }
}

// A parsed specifier. `width` and `precision` are -1 when absent.
struct FormatSpec {
  char32_t fill = U' ';
  char16_t align = 0;
  char16_t sign = 0;
  bool zero = false;
  int32_t width = -1;
  int32_t precision = -1;
  char16_t type = 0;
};

// What the parser found wrong; None when nothing.
enum class FormatProblem : uint8_t {
  None,
  UnmatchedBrace,
  BadSpec,
  MixedIndexing,
};

// Reads a decimal number of at most nine digits at `*at`; -1 when there is none.
constexpr int32_t FormatReadNumber(std::u16string_view text, std::size_t* at) {
  int32_t value = -1;
  int32_t digits = 0;
  while (*at < text.size() && text[*at] >= u'0' && text[*at] <= u'9') {
    if (++digits > 9) {
      return -2;
    }
    value = (value < 0 ? 0 : value * 10) + (text[*at] - u'0');
    ++*at;
  }
  return value;
}

// Parses the specifier between `*at` (after the colon) and the closing brace, leaving `*at` on it.
constexpr FormatProblem FormatParseSpec(std::u16string_view text, std::size_t* at,
                                        FormatSpec* specifier) {
  auto is_align = [](char16_t c) { return c == u'<' || c == u'>' || c == u'^'; };
  std::size_t i = *at;
  // The fill is one code point, which may be a surrogate pair, followed by an align.
  const bool pair = i + 2 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF &&
                    text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
  const std::size_t fill_units = pair ? 2 : 1;
  if (i + fill_units < text.size() && is_align(text[i + fill_units]) && text[i] != u'{' &&
      text[i] != u'}') {
    specifier->fill =
        pair ? static_cast<char32_t>(0x10000 + ((text[i] - 0xD800) << 10) + (text[i + 1] - 0xDC00))
             : text[i];
    specifier->align = text[i + fill_units];
    i += fill_units + 1;
  } else if (i < text.size() && is_align(text[i])) {
    specifier->align = text[i++];
  }
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-' || text[i] == u' ')) {
    specifier->sign = text[i++];
  }
  if (i < text.size() && text[i] == u'0') {
    specifier->zero = true;
    ++i;
  }
  specifier->width = FormatReadNumber(text, &i);
  if (specifier->width == -2) {
    return FormatProblem::BadSpec;
  }
  if (i < text.size() && text[i] == u'.') {
    ++i;
    specifier->precision = FormatReadNumber(text, &i);
    if (specifier->precision < 0) {
      return FormatProblem::BadSpec;
    }
  }
  if (i < text.size() && text[i] != u'}') {
    specifier->type = text[i++];
  }
  if (i >= text.size() || text[i] != u'}') {
    return i >= text.size() ? FormatProblem::UnmatchedBrace : FormatProblem::BadSpec;
  }
  *at = i;
  return FormatProblem::None;
}

// One step through a format string: the literal run from `*at` to the next placeholder (braces
// doubled in it stay doubled), then the placeholder. `*at` moves past both.
struct FormatStep {
  std::u16string_view literal;
  bool has_placeholder = false;
  int32_t index = -1;  // the argument; -1 for the next in order
  FormatSpec specifier;
  FormatProblem problem = FormatProblem::None;
};

constexpr FormatStep FormatNext(std::u16string_view text, std::size_t* at) {
  FormatStep step;
  std::size_t i = *at;
  while (i < text.size()) {
    const char16_t c = text[i];
    if ((c == u'{' || c == u'}') && i + 1 < text.size() && text[i + 1] == c) {
      i += 2;
      continue;
    }
    if (c == u'}') {
      step.problem = FormatProblem::UnmatchedBrace;
      return step;
    }
    if (c == u'{') {
      break;
    }
    ++i;
  }
  step.literal = text.substr(*at, i - *at);
  if (i == text.size()) {
    *at = i;
    return step;
  }
  step.has_placeholder = true;
  ++i;
  step.index = FormatReadNumber(text, &i);
  if (step.index == -2) {
    step.problem = FormatProblem::BadSpec;
    return step;
  }
  if (i < text.size() && text[i] == u':') {
    ++i;
    step.problem = FormatParseSpec(text, &i, &step.specifier);
    if (step.problem != FormatProblem::None) {
      return step;
    }
  } else if (i >= text.size() || text[i] != u'}') {
    step.problem = i >= text.size() ? FormatProblem::UnmatchedBrace : FormatProblem::BadSpec;
    return step;
  }
  *at = i + 1;
  return step;
}

// Whether a specifier fits an argument of this category.
constexpr bool FormatSpecFits(const FormatSpec& specifier, FormatCategory category) {
  const char16_t t = specifier.type;
  switch (category) {
    case FormatCategory::Integer:
      return specifier.precision < 0 &&
             (t == 0 || t == u'd' || t == u'x' || t == u'X' || t == u'o' || t == u'b');
    case FormatCategory::Floating:
      return t == 0 || t == u'f' || t == u'F' || t == u'e' || t == u'E' || t == u'g' || t == u'G';
    case FormatCategory::Text:
      return (t == 0 || t == u's') && specifier.sign == 0 && !specifier.zero;
    case FormatCategory::Unsupported:
      break;
  }
  return false;
}

// Never defined: reaching one of these while a format string is checked stops the build with
// the function's name in the compiler's message.
void format_error_more_placeholders_than_arguments();
void format_error_argument_not_used();
void format_error_unmatched_brace();
void format_error_bad_spec();
void format_error_mixed_automatic_and_numbered_placeholders();
void format_error_spec_does_not_fit_the_argument_type();
void format_error_argument_type_cannot_be_formatted();

// Checks a format string against its arguments' categories; see the faults listed above.
consteval void FormatCheck(std::u16string_view text, const FormatCategory* categories,
                           std::size_t count) {
  for (std::size_t a = 0; a < count; ++a) {
    if (categories[a] == FormatCategory::Unsupported) {
      format_error_argument_type_cannot_be_formatted();
    }
  }
  uint64_t used = 0;  // one bit per argument; more than 64 arguments are not checked for use
  std::size_t next = 0;
  bool automatic = false;
  bool numbered = false;
  std::size_t at = 0;
  while (at < text.size()) {
    const FormatStep step = FormatNext(text, &at);
    if (step.problem == FormatProblem::UnmatchedBrace) {
      format_error_unmatched_brace();
    } else if (step.problem != FormatProblem::None) {
      format_error_bad_spec();
    }
    if (!step.has_placeholder) {
      break;
    }
    (step.index < 0 ? automatic : numbered) = true;
    if (automatic && numbered) {
      format_error_mixed_automatic_and_numbered_placeholders();
    }
    const std::size_t argument = step.index < 0 ? next++ : static_cast<std::size_t>(step.index);
    if (argument >= count) {
      format_error_more_placeholders_than_arguments();
    }
    if (!FormatSpecFits(step.specifier, categories[argument])) {
      format_error_spec_does_not_fit_the_argument_type();
    }
    if (argument < 64) {
      used |= uint64_t{1} << argument;
    }
  }
  for (std::size_t a = 0; a < count && a < 64; ++a) {
    if ((used & (uint64_t{1} << a)) == 0) {
      format_error_argument_not_used();
    }
  }
}

template <class T>
FormatArg FormatArgOf(const T& value) noexcept {
  FormatArg arg{};
  if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    arg.kind = FormatKind::Signed;
    arg.signed_value = value;
  } else if constexpr (std::is_integral_v<T>) {
    arg.kind = FormatKind::Unsigned;
    arg.unsigned_value = value;
  } else if constexpr (std::is_same_v<T, float>) {
    arg.kind = FormatKind::Float;
    arg.float_value = value;
  } else if constexpr (std::is_same_v<T, double>) {
    arg.kind = FormatKind::Double;
    arg.double_value = value;
  } else if constexpr (std::is_same_v<T, long double>) {
    arg.kind = FormatKind::LongDouble;
    arg.long_double_value = value;
  } else if constexpr (std::is_pointer_v<std::decay_t<T>>) {
    // A pointer to text: null is the empty text.
    using Unit = std::remove_cv_t<std::remove_pointer_t<std::decay_t<T>>>;
    const Unit* text = value;
    const std::basic_string_view<Unit> view =
        text == nullptr ? std::basic_string_view<Unit>() : std::basic_string_view<Unit>(text);
    arg.kind = std::is_same_v<Unit, char16_t> ? FormatKind::Utf16 : FormatKind::Utf8;
    arg.text = {view.data(), view.size()};
  } else if constexpr (std::is_convertible_v<const T&, std::u16string_view>) {
    const std::u16string_view view = value;
    arg.kind = FormatKind::Utf16;
    arg.text = {view.data(), view.size()};
  } else {
    const std::string_view view = value;
    arg.kind = FormatKind::Utf8;
    arg.text = {view.data(), view.size()};
  }
  return arg;
}

// The engine: formats by a string that FormatCheck accepted.
String FormatArgs(std::u16string_view text, const FormatArg* args, std::size_t count);

}  // namespace internal

// FormatString: a format string checked against the argument types when compiled.
template <class... Args>
class FormatString {
 public:
  // Checks the string; a fault stops the build (see the overview).
  consteval FormatString(const char16_t* text) : text_(text) {  // NOLINT: implicit by design
    internal::FormatCheck(text_, kCategories, sizeof...(Args));
  }
  // get: the checked text.
  constexpr std::u16string_view get() const noexcept { return text_; }

 private:
  static constexpr internal::FormatCategory kCategories[sizeof...(Args) + 1] = {
      internal::FormatCategoryOf<Args>()..., internal::FormatCategory::Unsupported};
  std::u16string_view text_;
};

// format: the arguments formatted by the string (see the overview); throws std::bad_alloc when
// memory is exhausted.
//
// Example:
//   zn::format(u"{:>4}|{:<4}|{:^5}|", 7, u"ab", "é")   // "   7|ab  |  é  |"
template <class... Args>
[[nodiscard]] String format(FormatString<std::type_identity_t<Args>...> text, const Args&... args) {
  static_assert(
      ((internal::FormatCategoryOf<Args>() != internal::FormatCategory::Unsupported) && ...),
      "zn::format: an argument's type cannot be formatted");
  if constexpr (sizeof...(Args) == 0) {
    return internal::FormatArgs(text.get(), nullptr, 0);
  } else {
    const internal::FormatArg packed[] = {internal::FormatArgOf(args)...};
    return internal::FormatArgs(text.get(), packed, sizeof...(Args));
  }
}

}  // namespace zn
