// zn::Result<T> and zn::Error: a value, or the reason it could not be made.
//
//   auto image = zn::Image::load(path);
//   if (!image) {
//     std::fprintf(stderr, "%s: %s\n", path, image.error().text());
//     return 1;
//   }
//   use(*image);
//
// The names follow std::expected: `has_value`, `operator bool`, `value` (throws zn::BadResult
// when there is none), `*` and `->` (asking them for a value that is not there is a caller's
// mistake, checked by an assertion), `error`, `value_or`. `Result<void>` carries only the reason.
// The reason is the discriminator: a Result holds a value exactly when its error's reason is
// Reason::None, so it is no larger than the value and the error side by side. Copies and moves
// copy and move the value; a moved-from Result keeps its state with a moved-from value, as a
// std::expected does.
#pragma once

#include <cassert>
#include <concepts>
#include <cstdint>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

namespace zn {

// Reason: why an operation of the face failed; Reason::None is success. They are the image
// library's reasons (ImageFailureReason), value for value, named as the face names its
// enumerators.
enum class Reason : int32_t {
  None,                // success
  BadArgument,         // an argument the operation does not take (a null file name, ...)
  NoSuchImage,         // the operation was asked of no image
  UnknownFormat,       // no encoder for the format
  MissingFile,         // no file of that name, or a folder on its way is missing
  AccessDenied,        // permission denied, or a read-only file system
  NotRegularFile,      // a folder, device, pipe or socket where a file is read
  WouldBlock,          // the file cannot be opened without waiting
  LinkLoop,            // symbolic links that loop
  NameTooLong,         // the file name is longer than the system takes
  NotAPicture,         // no decoder recognises the file
  LayoutNotSupported,  // a known format in a layout (depth, compression) that cannot be handled
  Damaged,             // the header or the pixels are damaged, or the file ends early
  TooLarge,            // a side of the picture lies outside 1 ... 32767
  OverBudget,          // more pixels than the pixel budget allows
  OutOfMemory,         // memory is exhausted
  ReadError,           // reading the file failed
  WriteError,          // writing the file failed (a full disk, the file-size limit, ...)
};

// Error: a reason, and the system's errno value where the system gave one (else 0).
struct Error {
  Reason reason = Reason::None;
  int32_t system_error = 0;
  // text: a short English text for the reason ("no such file"), static and never null; a value
  // outside the enumeration gives "unknown reason". std::strerror gives the system's own words
  // for system_error.
  [[nodiscard]] const char* text() const noexcept;
};

// BadResult: thrown by Result::value when there is no value; what() is the reason's text.
class BadResult : public std::exception {
 public:
  // A BadResult for the reason a Result held.
  explicit BadResult(Error error) noexcept : error_(error) {}
  const char* what() const noexcept override { return error_.text(); }
  // error: the reason the Result held.
  Error error() const noexcept { return error_; }

 private:
  Error error_;
};

namespace internal {

// A Result made from an error always fails: an error of Reason::None, which would read as
// success without a value, is a caller's mistake and reads as Reason::BadArgument.
constexpr Error ResultFailure(Error error) noexcept {
  return error.reason == Reason::None ? Error{Reason::BadArgument, error.system_error} : error;
}

}  // namespace internal

// Result: a T or the Error that kept it from being made; see the overview above.
template <class T>
class [[nodiscard]] Result {
  static_assert(std::is_object_v<T> && !std::is_array_v<T>, "a Result holds a value");
  static_assert(!std::is_same_v<std::remove_cv_t<T>, Error>, "a Result of an Error is ambiguous");

 public:
  // The type of the value.
  using value_type = T;

  // A Result holding the value.
  Result(T value) noexcept(std::is_nothrow_move_constructible_v<T>)  // NOLINT: as a value
      : value_(std::move(value)) {}
  // A Result holding the reason (Reason::None reads as Reason::BadArgument).
  Result(Error error) noexcept  // NOLINT: as a value
      : error_(internal::ResultFailure(error)) {}
  // Copies copy the value or the reason; moves move the value.
  Result(const Result& other) requires std::copy_constructible<T> : error_(other.error_) {
    if (has_value()) {
      std::construct_at(&value_, other.value_);
    }
  }
  // Move: the value moved, or the reason.
  Result(Result&& other) noexcept(
      std::is_nothrow_move_constructible_v<T>) requires std::move_constructible<T>
      : error_(other.error_) {
    if (has_value()) {
      std::construct_at(&value_, std::move(other.value_));
    }
  }
  // Assignments: a value onto a value is assigned; a value onto a reason is constructed, and
  // when that throws this Result keeps its reason; a reason onto a value destroys the value.
  Result& operator=(
      const Result& other) requires std::copy_constructible<T> && std::is_copy_assignable_v<T> {
    if (this != &other) {
      Assign(other);
    }
    return *this;
  }
  // Move assignment, by the same rules.
  Result& operator=(Result&& other) noexcept(
      std::is_nothrow_move_constructible_v<T>&& std::is_nothrow_move_assignable_v<T>) requires
      std::move_constructible<T> && std::is_move_assignable_v<T> {
    if (this != &other) {
      Assign(std::move(other));
    }
    return *this;
  }
  ~Result() { Destroy(); }

  // has_value and operator bool: whether there is a value.
  bool has_value() const noexcept { return error_.reason == Reason::None; }
  explicit operator bool() const noexcept { return has_value(); }

  // value: the value; throws BadResult when there is none.
  T& value() & {
    Check();
    return value_;
  }
  // value of a const Result.
  const T& value() const& {
    Check();
    return value_;
  }
  // value of an rvalue: the value to be moved from.
  T&& value() && {
    Check();
    return std::move(value_);
  }
  // *, ->: the value, which must be there.
  T& operator*() & noexcept {
    assert(has_value());
    return value_;
  }
  // * of a const Result.
  const T& operator*() const& noexcept {
    assert(has_value());
    return value_;
  }
  // * of an rvalue: the value to be moved from.
  T&& operator*() && noexcept {
    assert(has_value());
    return std::move(value_);
  }
  // ->: the value's members.
  T* operator->() noexcept {
    assert(has_value());
    return &value_;
  }
  // -> of a const Result.
  const T* operator->() const noexcept {
    assert(has_value());
    return &value_;
  }
  // value_or: a copy of the value, or `fallback` made into a T when there is none.
  template <class U>
  T value_or(U&& fallback) const& {
    return has_value() ? value_ : static_cast<T>(std::forward<U>(fallback));
  }
  // value_or of an rvalue: the value moved out, or the fallback.
  template <class U>
  T value_or(U&& fallback) && {
    return has_value() ? std::move(value_) : static_cast<T>(std::forward<U>(fallback));
  }
  // error: the reason; Reason::None when there is a value.
  const Error& error() const noexcept { return error_; }

 private:
  void Check() const {
    if (!has_value()) {
      throw BadResult(error_);
    }
  }
  void Destroy() noexcept {
    if (has_value()) {
      std::destroy_at(&value_);
    }
  }
  template <class Other>
  void Assign(Other&& other) {
    if (!other.has_value()) {
      Destroy();
      error_ = other.error_;
    } else if (has_value()) {
      value_ = std::forward<Other>(other).value_;
    } else {
      // The state changes only once the value is made.
      std::construct_at(&value_, std::forward<Other>(other).value_);
      error_ = Error{};
    }
  }

  union {
    T value_;  // alive exactly when error_.reason is Reason::None
  };
  Error error_;
};

// Result<void>: success, or the reason of a failure.
template <>
class [[nodiscard]] Result<void> {
 public:
  // No value.
  using value_type = void;

  // Success.
  Result() noexcept = default;
  // Failure with the reason (Reason::None reads as Reason::BadArgument).
  Result(Error error) noexcept : error_(internal::ResultFailure(error)) {}  // NOLINT: as a value

  // has_value and operator bool: whether the operation succeeded.
  bool has_value() const noexcept { return error_.reason == Reason::None; }
  explicit operator bool() const noexcept { return has_value(); }
  // value: nothing; throws BadResult on failure.
  void value() const {
    if (!has_value()) {
      throw BadResult(error_);
    }
  }
  // error: the reason; Reason::None on success.
  const Error& error() const noexcept { return error_; }

 private:
  Error error_;
};

}  // namespace zn
