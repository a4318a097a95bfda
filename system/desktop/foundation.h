// Foundation classes of the desktop model: strings (and the constant strings that stand for
// literals), numbers, values, arrays, dictionaries, the user defaults and the main bundle.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// NSString: immutable UTF-16 text.
class NSString : public NSObject {
 public:
  explicit NSString(std::u16string text = {});
  const char* className() const override { return "NSString"; }
  bool isEqual(const NSObject* other) const override;

  // string: a new empty string, autoreleased.
  static NSString* string();
  static NSString* stringWithCharacters(std::u16string_view text);
  static NSString* stringWithUTF8String(const char* text);
  // stringWithFormat: "%@" (an object's description: a string's text), "%C" (one UTF-16 unit),
  // "%d", "%lld" and "%%"; autoreleased.
  static NSString* stringWithFormat(std::u16string_view format,
                                    std::initializer_list<FormatArgument> arguments = {});

  const std::u16string& characters() const { return text_; }
  int64_t length() const { return static_cast<int64_t>(text_.size()); }
  bool isEqualToString(const NSString* other) const;
  // UTF8String: the text as UTF-8, valid while the string lives.
  const char* UTF8String() const;
  // componentsSeparatedByString: the pieces between the separators, autoreleased.
  NSArray* componentsSeparatedByString(const NSString* separator) const;

 private:
  std::u16string text_;
  mutable std::string utf8_;
};

// NSSTR: a constant string, like a literal of the framework: one object per text, never
// destroyed, not counted among the live objects; retain and release do nothing to it.
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
  int64_t count() const { return static_cast<int64_t>(objects_.size()); }
  // objectAtIndex: the object, or nil out of range (counted as a fault).
  NSObject* objectAtIndex(int64_t index) const;
  bool containsObject(const NSObject* object) const;
  // componentsJoinedByString: the strings joined with the separator, autoreleased.
  NSString* componentsJoinedByString(const NSString* separator) const;
  static NSArray* arrayWithObjects(std::initializer_list<NSObject*> objects);

 protected:
  void dealloc() override;
  std::vector<NSObject*> objects_;
};

class NSMutableArray : public NSArray {
 public:
  NSMutableArray() = default;
  const char* className() const override { return "NSMutableArray"; }
  NSMutableArray* initWithCapacity(int64_t capacity);
  int64_t capacity() const { return capacity_; }
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
  int64_t count() const { return static_cast<int64_t>(entries_.size()); }
  // setObject: adds or replaces (the model's own way of filling a dictionary).
  void setObject(NSObject* object, NSString* key);
  void addEntriesFromDictionary(const NSDictionary* other);

 protected:
  void dealloc() override;

 private:
  std::vector<std::pair<NSString*, NSObject*>> entries_;
};

// NSUserDefaults: the registered defaults of the process.
class NSUserDefaults : public NSObject {
 public:
  const char* className() const override { return "NSUserDefaults"; }
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
  static NSBundle* mainBundle();
  NSString* executablePath();

 protected:
  void dealloc() override;

 private:
  friend struct ModelAccess;
  NSString* executable_path_ = nullptr;
};

}  // namespace zn::desktop
