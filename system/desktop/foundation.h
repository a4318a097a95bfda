// Foundation classes of the desktop model: strings (and the constant strings that stand for
// literals), numbers, values, arrays, dictionaries, the user defaults and the main bundle.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "system/desktop/object.h"
#include "system/desktop/types.h"

namespace zn::desktop {

// FormatArgument: one value for stringWithFormat: an object for "%@", a code unit for "%C", an
// integer for "%d" and "%lld".
struct FormatArgument {
  FormatArgument(const NSObject* o) : object(o) {}  // NOLINT(google-explicit-constructor)
  FormatArgument(char16_t c) : integer(c) {}        // NOLINT(google-explicit-constructor)
  FormatArgument(int v) : integer(v) {}             // NOLINT(google-explicit-constructor)
  FormatArgument(long long v) : integer(v) {}       // NOLINT(google-explicit-constructor)
  const NSObject* object = nullptr;
  int64_t integer = 0;
};

// NSString: immutable UTF-16 text. Every way of making one gives nil when the memory for its
// text cannot be had.
class NSString : public NSObject {
 public:
  NSString() = default;
  const char* className() const override { return "NSString"; }
  bool isEqual(const NSObject* other) const override;
  // initWithCharacters: the string holds a copy of the text; nil (the object released) when
  // the copy cannot be made.
  NSString* initWithCharacters(std::u16string_view text);

  // string: a new empty string, autoreleased.
  static NSString* string();
  static NSString* stringWithCharacters(std::u16string_view text);
  static NSString* stringWithUTF8String(const char* text);
  // stringWithFormat: "%@" (an object's description: a string's text), "%C" (one UTF-16 unit),
  // "%d", "%lld" and "%%"; autoreleased.
  static NSString* stringWithFormat(std::u16string_view format,
                                    std::initializer_list<FormatArgument> arguments = {});

  std::u16string_view characters() const { return text_; }
  int64_t length() const { return static_cast<int64_t>(text_.size()); }
  bool isEqualToString(const NSString* other) const;
  // UTF8String: the text as UTF-8, valid while the string lives; null when the memory for it
  // cannot be had.
  const char* UTF8String() const;
  // componentsSeparatedByString: the pieces between the separators, autoreleased; nil when
  // memory runs out on the way.
  NSArray* componentsSeparatedByString(const NSString* separator) const;

 private:
  friend struct ModelAccess;
  friend NSString* NSSTR(std::u16string_view text);
  // The text: the string's own copy, or the text of a constant string kept beside it.
  std::u16string_view text_;
  ModelArray<char16_t> own_;
  mutable ModelArray<char> utf8_;
};

// NSSTR: a constant string, like a literal of the framework: one object per text, never
// destroyed, not counted among the live objects; retain and release do nothing to it. Constants
// live in the model's static storage, as literals live in a program's image; nil only when that
// storage is full and the heap refuses too.
NSString* NSSTR(std::u16string_view text);

class NSNumber : public NSObject {
 public:
  explicit NSNumber(int64_t value) : value_(value) {}
  const char* className() const override { return "NSNumber"; }
  static NSNumber* numberWithBool(bool value);
  static NSNumber* numberWithUnsignedInt(uint32_t value);
  bool boolValue() const { return value_ != 0; }
  uint32_t unsignedIntValue() const { return static_cast<uint32_t>(value_); }
  int32_t intValue() const { return static_cast<int32_t>(value_); }
  bool isEqual(const NSObject* other) const override;

 private:
  int64_t value_;
};

class NSValue : public NSObject {
 public:
  explicit NSValue(NSSize size) : size_(size) {}
  const char* className() const override { return "NSValue"; }
  static NSValue* valueWithSize(NSSize size);
  NSSize sizeValue() const { return size_; }

 private:
  NSSize size_;
};

// NSArray and NSMutableArray: ordered objects, each retained while in the array.
class NSArray : public NSObject {
 public:
  NSArray() = default;
  const char* className() const override { return "NSArray"; }
  int64_t count() const { return objects_.size(); }
  // objectAtIndex: the object, or nil out of range (counted as a fault).
  NSObject* objectAtIndex(int64_t index) const;
  bool containsObject(const NSObject* object) const;
  // componentsJoinedByString: the strings joined with the separator, autoreleased; nil when
  // memory runs out.
  NSString* componentsJoinedByString(const NSString* separator) const;
  // arrayWithObjects: autoreleased; nil when memory runs out.
  static NSArray* arrayWithObjects(std::initializer_list<NSObject*> objects);

 protected:
  void dealloc() override;
  ModelArray<NSObject*> objects_;
};

class NSMutableArray : public NSArray {
 public:
  NSMutableArray() = default;
  const char* className() const override { return "NSMutableArray"; }
  // initWithCapacity: the capacity is a hint; room the heap refuses now is asked for again as
  // the array grows.
  NSMutableArray* initWithCapacity(int64_t capacity);
  int64_t capacity() const { return capacity_; }
  // addObject: appends and retains the object; without the room the array stays as it was (the
  // count tells).
  void addObject(NSObject* object);
  // removeObject: removes every element isEqual: to the object.
  void removeObject(const NSObject* object);

 private:
  int64_t capacity_ = 0;
};

// NSDictionary: objects under string keys, both retained.
class NSDictionary : public NSObject {
 public:
  NSDictionary() = default;
  const char* className() const override { return "NSDictionary"; }
  static NSDictionary* dictionaryWithObject(NSObject* object, NSString* key);
  NSObject* objectForKey(const NSString* key) const;
  int64_t count() const { return entries_.size(); }
  // setObject: adds or replaces (the model's own way of filling a dictionary); false, the
  // dictionary unchanged, when a new entry finds no room.
  bool setObject(NSObject* object, NSString* key);
  // addEntriesFromDictionary: every entry of the other, or (when room runs out) the dictionary
  // as it was.
  void addEntriesFromDictionary(const NSDictionary* other);

 protected:
  void dealloc() override;

 private:
  struct Entry {
    NSString* key;
    NSObject* object;
  };
  ModelArray<Entry> entries_;
};

// NSUserDefaults: the registered defaults of the process.
class NSUserDefaults : public NSObject {
 public:
  const char* className() const override { return "NSUserDefaults"; }
  // standardUserDefaults: the process's defaults, made on first use; nil when they cannot be.
  static NSUserDefaults* standardUserDefaults();
  void registerDefaults(const NSDictionary* defaults);
  NSObject* objectForKey(const NSString* key) const;

 protected:
  void dealloc() override;

 private:
  NSDictionary* registered_ = nullptr;
};

// NSBundle: the main bundle knows the running executable's path.
class NSBundle : public NSObject {
 public:
  const char* className() const override { return "NSBundle"; }
  // mainBundle: made on first use; nil when it cannot be.
  static NSBundle* mainBundle();
  // executablePath: read on first use; nil when the memory for it cannot be had.
  NSString* executablePath();

 protected:
  void dealloc() override;

 private:
  friend struct ModelAccess;
  NSString* executable_path_ = nullptr;
};

}  // namespace zn::desktop
