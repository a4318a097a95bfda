// zn::String: an owning UTF-16 string on the runtime's StringValue.
//
// A String holds one StringValue and nothing else, so it is exactly as large as the pointer and
// hands the value to the C-level string calls as it is (`get`, `c_str`), gives it up (`release`)
// or takes one over (`adopt`). Null is the empty string; a moved-from String is empty. Copies
// duplicate the text; moves never allocate.
//
// Text is UTF-16 code units, as in the runtime; a String ends at its first 0 unit, so a view
// holding a 0 unit gives the text before it. Comparison orders by code unit, unsigned, as
// std::u16string_view does. Exhausted memory ends the process after giving the terminal back,
// as in every string operation of the runtime.
//
//   zn::String text = zn::String::from_utf8(bytes);     // ill-formed parts become U+FFFD
//   std::string out = text.upper().to_utf8();
//   for (std::u16string_view line : text.split(u"\n")) { ... }
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/strings/strings.h"

namespace zn {

// Invalid: what a conversion does with ill-formed text. Replace turns every ill-formed part of
// UTF-8 into U+FFFD and every lone surrogate into EF BF BD, so text from outside comes through
// whole; Lenient follows the runtime's default rules (overlong forms pass, malformed input stops
// the conversion).
enum class Invalid { Replace, Lenient };

template <class Owner>
class SplitRange;

// String: an owning UTF-16 string; see the overview above.
class String {
 public:
  // An empty string; allocates nothing.
  String() noexcept = default;
  // A copy of the terminated text; null is the empty string.
  String(const char16_t* text) { StringDuplicate(&value_, text); }  // NOLINT: as a literal
  // A copy of the units of the view (up to its first 0 unit).
  explicit String(std::u16string_view text);
  // Copies duplicate the text; moves take its block and leave the source empty; the end frees it.
  String(const String& other) { StringDuplicate(&value_, other.value_); }
  String(String&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  String& operator=(const String& other);
  // Move assignment: frees this text, then takes the other's block.
  String& operator=(String&& other) noexcept {
    StringRelease(std::exchange(value_, std::exchange(other.value_, nullptr)));
    return *this;
  }
  ~String() { StringRelease(value_); }

  // adopt: a String that owns `value` (a StringValue the caller held); it frees it.
  [[nodiscard]] static String adopt(StringValue value) noexcept {
    String text;
    text.value_ = value;
    return text;
  }

  // from_utf8: the UTF-8 bytes decoded (the whole view, 0 bytes included up to the first, which
  // ends the text), by the replacing rule unless Lenient is asked for.
  [[nodiscard]] static String from_utf8(std::string_view bytes, Invalid invalid = Invalid::Replace);
  // to_utf8: the text as UTF-8 bytes, by the replacing rule unless Lenient is asked for (which
  // stops before a high surrogate followed by anything but a low one).
  [[nodiscard]] std::string to_utf8(Invalid invalid = Invalid::Replace) const;

  // The value for the C-level calls: null when empty. It stays owned by the String.
  StringValue get() const noexcept { return value_; }
  // c_str: the terminated text, never null (the shared empty string when empty).
  const char16_t* c_str() const noexcept { return value_ != nullptr ? value_ : EmptyString; }
  // release: hands the value to the caller (who frees it with StringRelease); the String is then
  // empty.
  [[nodiscard]] StringValue release() noexcept { return std::exchange(value_, nullptr); }
  // inout: the variable itself, for a C-level call that frees and replaces it (StringAssign,
  // TempTextTakeInto).
  StringValue* inout() noexcept { return &value_; }

  // view, and the conversion to a view: the text, valid while the String holds it unchanged.
  std::u16string_view view() const noexcept { return std::u16string_view(c_str()); }
  operator std::u16string_view() const noexcept { return view(); }  // NOLINT: a view of it
  // size: code units (a surrogate pair counts two); linear, as nothing caches the length.
  std::size_t size() const noexcept { return view().size(); }
  // empty: whether the text has no unit.
  bool empty() const noexcept { return value_ == nullptr || value_[0] == 0; }

  // find: the first index at or after `from` where `needle` starts, or -1. An empty needle is
  // found at `from` when `from` is at most the size. contains, starts_with and ends_with: whether
  // the needle, prefix or suffix is there.
  std::ptrdiff_t find(std::u16string_view needle, std::size_t from = 0) const noexcept;
  bool contains(std::u16string_view needle) const noexcept { return find(needle) >= 0; }
  bool starts_with(std::u16string_view prefix) const noexcept { return view().starts_with(prefix); }
  bool ends_with(std::u16string_view suffix) const noexcept { return view().ends_with(suffix); }

  // upper, lower and fold: the text mapped by the full Unicode case mappings, whatever the
  // process locale (ß upper-cases to SS, İ lower-cases to i and U+0307); fold is for comparing
  // without regard to case. trim: without the Unicode white space at either end.
  [[nodiscard]] String upper() const { return adopt(StringUpper(value_)); }
  [[nodiscard]] String lower() const { return adopt(StringLower(value_)); }
  [[nodiscard]] String fold() const { return adopt(StringFold(value_)); }
  [[nodiscard]] String trim() const { return adopt(StringTrim(value_)); }
  // replace: every occurrence of `needle`, taken left to right, replaced by `replacement`; an
  // empty needle replaces nothing.
  [[nodiscard]] String replace(const String& needle, const String& replacement) const {
    return adopt(StringReplace(value_, needle.value_, replacement.value_));
  }

  // split: the fields between the separators, lazily, in one pass: "a,,b" gives "a", "", "b";
  // the empty string gives one empty field; an empty separator gives the whole text. On an
  // lvalue the fields are views into this String, which must outlive the range; on an rvalue the
  // range keeps the String.
  SplitRange<const String&> split(std::u16string_view separator) const&;
  SplitRange<String> split(std::u16string_view separator) &&;

  // Comparisons order by code unit as the views do; literals and terminated text compare without
  // being made into a String.
  friend bool operator==(const String& a, const String& b) noexcept { return a.view() == b.view(); }
  friend bool operator==(const String& a, std::u16string_view b) noexcept { return a.view() == b; }
  // Orders by code unit, unsigned.
  friend std::strong_ordering operator<=>(const String& a, const String& b) noexcept {
    return a.view() <=> b.view();
  }
  // Orders against a view.
  friend std::strong_ordering operator<=>(const String& a, std::u16string_view b) noexcept {
    return a.view() <=> b;
  }
  // Equality with terminated text; null is the empty string.
  friend bool operator==(const String& a, const char16_t* b) noexcept {
    return a.view() == std::u16string_view(b != nullptr ? b : EmptyString);
  }
  // Order against terminated text.
  friend std::strong_ordering operator<=>(const String& a, const char16_t* b) noexcept {
    return a.view() <=> std::u16string_view(b != nullptr ? b : EmptyString);
  }

 private:
  StringValue value_ = nullptr;
};

static_assert(sizeof(String) == sizeof(StringValue), "a String is its StringValue alone");

// SplitRange: the fields of a text, found one at a time as the range is walked.
template <class Owner>
class SplitRange {
 public:
  // iterator: the walk; `*it` is the current field, a view into the text.
  class iterator {
   public:
    // The iterator's traits: an input iterator of views.
    using value_type = std::u16string_view;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::input_iterator_tag;

    // A walk that is over; `*it` the field, `++` the next one, equal to the end after the last.
    iterator() = default;
    std::u16string_view operator*() const noexcept { return field_; }
    // ++: the next field.
    iterator& operator++() noexcept {
      if (rest_.data() == nullptr) {
        done_ = true;
      } else {
        Advance();
      }
      return *this;
    }
    // it++: the next field, giving the walk as it stood.
    iterator operator++(int) noexcept {
      iterator before = *this;
      ++*this;
      return before;
    }
    // Equal to the end after the last field.
    friend bool operator==(const iterator& it, std::default_sentinel_t) noexcept {
      return it.done_;
    }

   private:
    friend class SplitRange;
    iterator(std::u16string_view text, std::u16string_view separator) noexcept
        : rest_(text), separator_(separator) {
      Advance();
    }
    // Takes the next field; rest_ becomes null after the last one.
    void Advance() noexcept {
      const std::size_t at =
          separator_.empty() ? std::u16string_view::npos : rest_.find(separator_);
      if (at == std::u16string_view::npos) {
        field_ = rest_;
        rest_ = std::u16string_view();
      } else {
        field_ = rest_.substr(0, at);
        rest_ = rest_.substr(at + separator_.size());
      }
    }
    std::u16string_view field_;
    std::u16string_view rest_;
    std::u16string_view separator_;
    bool done_ = false;
  };

  // The fields of `text` (a String kept, or a reference to one) split by `separator`.
  SplitRange(Owner text, std::u16string_view separator) noexcept
      : text_(std::forward<Owner>(text)), separator_(separator) {}
  // begin and end: the walk over the fields. The view is never null (c_str), so the empty text
  // gives its one empty field.
  iterator begin() const noexcept { return iterator(text_.view(), separator_); }
  std::default_sentinel_t end() const noexcept { return {}; }

 private:
  Owner text_;
  std::u16string_view separator_;
};

inline SplitRange<const String&> String::split(std::u16string_view separator) const& {
  return SplitRange<const String&>(*this, separator);
}

inline SplitRange<String> String::split(std::u16string_view separator) && {
  return SplitRange<String>(std::move(*this), separator);
}

}  // namespace zn

namespace std {

// The hash of a String is the hash of its view, so the two can be looked up alike.
template <>
struct hash<zn::String> {
  // The hash of the text's view.
  std::size_t operator()(const zn::String& text) const noexcept {
    return std::hash<std::u16string_view>{}(text.view());
  }
};

}  // namespace std
