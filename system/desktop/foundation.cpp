// Foundation values of the model: strings (and the constant strings that stand for literals),
// numbers, values, arrays, dictionaries, the user defaults and the main bundle.
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <utility>

#include "system/desktop/desktop_internal.h"
#include "system/desktop/foundation.h"
#include "system/desktop/object.h"

namespace zn::desktop {
namespace {

NSUserDefaults* standard_defaults = nullptr;
NSBundle* main_bundle = nullptr;

// Constant strings live for the whole process, one per text.
std::map<std::u16string, NSString*, std::less<>>& ConstantStrings() {
  static auto* strings = new std::map<std::u16string, NSString*, std::less<>>();
  return *strings;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    AppendUtf8(out, c);
  }
  return out;
}

// Decodes well-formed UTF-8; anything malformed becomes U+FFFD, one byte at a time.
std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    bool ok = extra >= 0 && i + extra < text.size() + (extra == 0 ? 1 : 0);
    for (int k = 1; ok && k <= extra; ++k) {
      const auto t = static_cast<unsigned char>(text[i + k]);
      if ((t >> 6) != 2) {
        ok = false;
      }
      c = (c << 6) | (t & 0x3F);
    }
    if (!ok || c > 0x10FFFF) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

std::u16string DecimalText(int64_t value) {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

namespace internal {

void FoundationRelease() {
  objc_release(standard_defaults);
  standard_defaults = nullptr;
  objc_release(main_bundle);
  main_bundle = nullptr;
}

}  // namespace internal

void ModelAccess::BundlePathForget() {
  if (main_bundle != nullptr) {
    objc_release(main_bundle->executable_path_);
    main_bundle->executable_path_ = nullptr;
  }
}

// ---------------------------------------------------------------------------------------------
// Strings.

NSString::NSString(std::u16string text) : text_(std::move(text)) {}

bool NSString::isEqual(const NSObject* other) const {
  const auto* string = dynamic_cast<const NSString*>(other);
  return string != nullptr && string->text_ == text_;
}

NSString* NSString::string() {
  return objc_autorelease(objc_alloc<NSString>());
}

NSString* NSString::stringWithCharacters(std::u16string_view text) {
  return objc_autorelease(objc_alloc<NSString>(std::u16string(text)));
}

NSString* NSString::stringWithUTF8String(const char* text) {
  if (text == nullptr) {
    return nullptr;
  }
  return objc_autorelease(objc_alloc<NSString>(Utf8ToUtf16(text)));
}

NSString* NSString::stringWithFormat(std::u16string_view format,
                                     std::initializer_list<FormatArgument> arguments) {
  std::u16string out;
  const FormatArgument* next = arguments.begin();
  auto take = [&]() -> const FormatArgument* {
    if (next == arguments.end()) {
      internal::Fault("stringWithFormat: too few arguments");
      return nullptr;
    }
    return next++;
  };
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%' || i + 1 == format.size()) {
      out.push_back(format[i]);
      continue;
    }
    std::u16string_view rest = format.substr(i + 1);
    if (rest.starts_with(u"%")) {
      out.push_back(u'%');
      i += 1;
    } else if (rest.starts_with(u"@")) {
      if (const FormatArgument* a = take()) {
        if (const auto* s = dynamic_cast<const NSString*>(a->object)) {
          out += s->characters();
        } else {
          out += u"(null)";
        }
      }
      i += 1;
    } else if (rest.starts_with(u"C")) {
      if (const FormatArgument* a = take()) {
        out.push_back(static_cast<char16_t>(a->integer));
      }
      i += 1;
    } else if (rest.starts_with(u"d")) {
      if (const FormatArgument* a = take()) {
        out += DecimalText(a->integer);
      }
      i += 1;
    } else if (rest.starts_with(u"lld")) {
      if (const FormatArgument* a = take()) {
        out += DecimalText(a->integer);
      }
      i += 3;
    } else {
      out.push_back(format[i]);
    }
  }
  return objc_autorelease(objc_alloc<NSString>(std::move(out)));
}

bool NSString::isEqualToString(const NSString* other) const {
  return other != nullptr && other->text_ == text_;
}

const char* NSString::UTF8String() const {
  utf8_ = Utf16ToUtf8(text_);
  return utf8_.c_str();
}

NSArray* NSString::componentsSeparatedByString(const NSString* separator) const {
  auto* pieces = objc_alloc<NSMutableArray>();
  const std::u16string& sep = separator == nullptr ? std::u16string() : separator->text_;
  size_t start = 0;
  if (!sep.empty()) {
    for (size_t found = text_.find(sep); found != std::u16string::npos;
         found = text_.find(sep, start)) {
      pieces->addObject(
          NSString::stringWithCharacters(std::u16string_view(text_).substr(start, found - start)));
      start = found + sep.size();
    }
  }
  pieces->addObject(NSString::stringWithCharacters(std::u16string_view(text_).substr(start)));
  return objc_autorelease(pieces);
}

NSString* NSSTR(std::u16string_view text) {
  auto& strings = ConstantStrings();
  auto found = strings.find(text);
  if (found != strings.end()) {
    return found->second;
  }
  auto* string = new NSString(std::u16string(text));
  // Constant strings are not among the objects a test counts.
  internal::LiveObjectsAdd(-1);
  string->retain_count_ = std::numeric_limits<int64_t>::max();
  strings.emplace(std::u16string(text), string);
  return string;
}

// ---------------------------------------------------------------------------------------------
// Numbers and values.

NSNumber* NSNumber::numberWithBool(bool value) {
  return objc_autorelease(objc_alloc<NSNumber>(value ? 1 : 0));
}

NSNumber* NSNumber::numberWithUnsignedInt(uint32_t value) {
  return objc_autorelease(objc_alloc<NSNumber>(static_cast<int64_t>(value)));
}

bool NSNumber::isEqual(const NSObject* other) const {
  const auto* number = dynamic_cast<const NSNumber*>(other);
  return number != nullptr && number->value_ == value_;
}

NSValue* NSValue::valueWithSize(NSSize size) {
  return objc_autorelease(objc_alloc<NSValue>(size));
}

// ---------------------------------------------------------------------------------------------
// Arrays.

NSObject* NSArray::objectAtIndex(int64_t index) const {
  if (index < 0 || index >= count()) {
    internal::Fault("objectAtIndex: index beyond bounds");
    return nullptr;
  }
  return objects_[static_cast<size_t>(index)];
}

bool NSArray::containsObject(const NSObject* object) const {
  for (const NSObject* o : objects_) {
    if (o->isEqual(object)) {
      return true;
    }
  }
  return false;
}

NSString* NSArray::componentsJoinedByString(const NSString* separator) const {
  std::u16string joined;
  for (size_t i = 0; i < objects_.size(); ++i) {
    if (i > 0 && separator != nullptr) {
      joined += separator->characters();
    }
    if (const auto* s = dynamic_cast<const NSString*>(objects_[i])) {
      joined += s->characters();
    }
  }
  return NSString::stringWithCharacters(joined);
}

NSArray* NSArray::arrayWithObjects(std::initializer_list<NSObject*> objects) {
  auto* array = objc_alloc<NSMutableArray>();
  for (NSObject* o : objects) {
    array->addObject(o);
  }
  return objc_autorelease(array);
}

void NSArray::dealloc() {
  std::vector<NSObject*> held;
  held.swap(objects_);
  for (NSObject* o : held) {
    objc_release(o);
  }
  NSObject::dealloc();
}

NSMutableArray* NSMutableArray::initWithCapacity(int64_t capacity) {
  capacity_ = capacity;
  objects_.reserve(capacity > 0 ? static_cast<size_t>(capacity) : 0);
  return this;
}

void NSMutableArray::addObject(NSObject* object) {
  if (object == nullptr) {
    internal::Fault("addObject: nil");
    return;
  }
  objects_.push_back(objc_retain(object));
}

void NSMutableArray::removeObject(const NSObject* object) {
  if (object == nullptr) {
    return;
  }
  std::vector<NSObject*> kept;
  std::vector<NSObject*> removed;
  for (NSObject* o : objects_) {
    (o->isEqual(object) ? removed : kept).push_back(o);
  }
  objects_.swap(kept);
  for (NSObject* o : removed) {
    objc_release(o);
  }
}

// ---------------------------------------------------------------------------------------------
// Dictionaries, defaults, bundle.

NSDictionary* NSDictionary::dictionaryWithObject(NSObject* object, NSString* key) {
  auto* dictionary = objc_alloc<NSDictionary>();
  dictionary->setObject(object, key);
  return objc_autorelease(dictionary);
}

NSObject* NSDictionary::objectForKey(const NSString* key) const {
  for (const auto& [k, v] : entries_) {
    if (k->isEqual(key)) {
      return v;
    }
  }
  return nullptr;
}

void NSDictionary::setObject(NSObject* object, NSString* key) {
  if (object == nullptr || key == nullptr) {
    internal::Fault("setObject:forKey: with nil");
    return;
  }
  objc_retain(object);
  for (auto& [k, v] : entries_) {
    if (k->isEqual(key)) {
      objc_release(v);
      v = object;
      return;
    }
  }
  entries_.emplace_back(objc_retain(key), object);
}

void NSDictionary::addEntriesFromDictionary(const NSDictionary* other) {
  if (other == nullptr) {
    return;
  }
  for (const auto& [k, v] : other->entries_) {
    setObject(v, k);
  }
}

void NSDictionary::dealloc() {
  std::vector<std::pair<NSString*, NSObject*>> held;
  held.swap(entries_);
  for (auto& [k, v] : held) {
    objc_release(k);
    objc_release(v);
  }
  NSObject::dealloc();
}

NSUserDefaults* NSUserDefaults::standardUserDefaults() {
  if (standard_defaults == nullptr) {
    standard_defaults = objc_alloc<NSUserDefaults>();
  }
  return standard_defaults;
}

void NSUserDefaults::registerDefaults(const NSDictionary* defaults) {
  if (registered_ == nullptr) {
    registered_ = objc_alloc<NSDictionary>();
  }
  registered_->addEntriesFromDictionary(defaults);
}

NSObject* NSUserDefaults::objectForKey(const NSString* key) const {
  return registered_ == nullptr ? nullptr : registered_->objectForKey(key);
}

void NSUserDefaults::dealloc() {
  objc_release(registered_);
  registered_ = nullptr;
  NSObject::dealloc();
}

NSBundle* NSBundle::mainBundle() {
  if (main_bundle == nullptr) {
    main_bundle = objc_alloc<NSBundle>();
  }
  return main_bundle;
}

NSString* NSBundle::executablePath() {
  if (executable_path_ == nullptr) {
    internal::Watcher* watcher = internal::WatcherGet();
    const std::u16string* given = watcher == nullptr ? nullptr : watcher->ExecutablePath();
    std::u16string path = given == nullptr ? std::u16string() : *given;
    if (path.empty()) {
      char buffer[4096];
      const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
      if (n > 0) {
        path = Utf8ToUtf16(std::string_view(buffer, static_cast<size_t>(n)));
      }
    }
    executable_path_ = objc_alloc<NSString>(std::move(path));
  }
  return executable_path_;
}

void NSBundle::dealloc() {
  objc_release(executable_path_);
  executable_path_ = nullptr;
  NSObject::dealloc();
}

}  // namespace zn::desktop
