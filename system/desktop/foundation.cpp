// Foundation values of the model: strings (and the constant strings that stand for literals),
// numbers, values, arrays, dictionaries, the user defaults and the main bundle.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <string_view>

#include "system/desktop/desktop_internal.h"
#include "system/desktop/foundation.h"
#include "system/desktop/object.h"

namespace zn::desktop {
namespace {

NSUserDefaults* standard_defaults = nullptr;
NSBundle* main_bundle = nullptr;

// Constant strings live for the whole process, one per text, in static storage as a program's
// literals live in its image: made on first use from an arena of their own, they take no memory
// that the heap could refuse. The heap serves only once the arena is full.
struct ConstantNode {
  ConstantNode* next;
  NSString string;
};
constexpr size_t kConstantArenaBytes = size_t{16} << 10;
alignas(std::max_align_t) unsigned char constant_arena[kConstantArenaBytes];
size_t constant_arena_used = 0;
ConstantNode* constants = nullptr;

void* ConstantPlace(size_t bytes) {
  constexpr size_t kAlign = alignof(std::max_align_t);
  const size_t rounded = (bytes + kAlign - 1) & ~(kAlign - 1);
  if (rounded <= kConstantArenaBytes - constant_arena_used) {
    void* place = constant_arena + constant_arena_used;
    constant_arena_used += rounded;
    return place;
  }
  return std::malloc(bytes);
}

bool AppendUtf8(ModelArray<char>& out, char32_t c) {
  char bytes[4];
  int n = 0;
  if (c < 0x80) {
    bytes[n++] = static_cast<char>(c);
  } else if (c < 0x800) {
    bytes[n++] = static_cast<char>(0xC0 | (c >> 6));
    bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    bytes[n++] = static_cast<char>(0xE0 | (c >> 12));
    bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    bytes[n++] = static_cast<char>(0xF0 | (c >> 18));
    bytes[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out.append(bytes, n);
}

bool Utf16ToUtf8(std::u16string_view text, ModelArray<char>& out) {
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    if (!AppendUtf8(out, c)) {
      return false;
    }
  }
  return true;
}

bool AppendUnit(ModelArray<char16_t>& out, char16_t unit) {
  return out.push_back(unit);
}

bool AppendText(ModelArray<char16_t>& out, std::u16string_view text) {
  return out.append(text.data(), static_cast<int64_t>(text.size()));
}

// Decodes well-formed UTF-8; anything malformed becomes U+FFFD, one byte at a time.
bool Utf8ToUtf16(std::string_view text, ModelArray<char16_t>& out) {
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
    bool appended = false;
    if (!ok || c > 0x10FFFF) {
      appended = AppendUnit(out, 0xFFFD);
      extra = 0;
    } else if (c >= 0x10000) {
      const char16_t pair[2] = {static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                                static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))};
      appended = out.append(pair, 2);
    } else {
      appended = AppendUnit(out, static_cast<char16_t>(c));
    }
    if (!appended) {
      return false;
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

bool AppendDecimal(ModelArray<char16_t>& out, int64_t value) {
  char digits[24];
  const int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
  for (int i = 0; i < n; ++i) {
    if (!AppendUnit(out, static_cast<char16_t>(digits[i]))) {
      return false;
    }
  }
  return true;
}

// A new string that takes over the text built in `text`; nil when the object cannot be made.
NSString* StringTaking(ModelArray<char16_t>& text) {
  auto* string = objc_alloc<NSString>();
  if (string != nullptr) {
    ModelAccess::StringTake(string, text);
  }
  return string;
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

void ModelAccess::StringTake(NSString* string, ModelArray<char16_t>& text) {
  string->own_.swap(text);
  string->text_ =
      std::u16string_view(string->own_.data(), static_cast<size_t>(string->own_.size()));
}

// ---------------------------------------------------------------------------------------------
// Strings.

NSString* NSString::initWithCharacters(std::u16string_view text) {
  ModelArray<char16_t> copy;
  if (!AppendText(copy, text)) {
    objc_release(this);
    return nullptr;
  }
  ModelAccess::StringTake(this, copy);
  return this;
}

bool NSString::isEqual(const NSObject* other) const {
  const auto* string = dynamic_cast<const NSString*>(other);
  return string != nullptr && string->text_ == text_;
}

NSString* NSString::string() {
  return objc_autorelease(objc_alloc<NSString>());
}

NSString* NSString::stringWithCharacters(std::u16string_view text) {
  return objc_autorelease(
      objc_msgSend(objc_alloc<NSString>(), &NSString::initWithCharacters, text));
}

NSString* NSString::stringWithUTF8String(const char* text) {
  if (text == nullptr) {
    return nullptr;
  }
  ModelArray<char16_t> decoded;
  if (!Utf8ToUtf16(text, decoded)) {
    return nullptr;
  }
  return objc_autorelease(StringTaking(decoded));
}

NSString* NSString::stringWithFormat(std::u16string_view format,
                                     std::initializer_list<FormatArgument> arguments) {
  ModelArray<char16_t> out;
  const FormatArgument* next = arguments.begin();
  auto take = [&]() -> const FormatArgument* {
    if (next == arguments.end()) {
      internal::Fault("stringWithFormat: too few arguments");
      return nullptr;
    }
    return next++;
  };
  bool ok = true;
  for (size_t i = 0; ok && i < format.size(); ++i) {
    if (format[i] != u'%' || i + 1 == format.size()) {
      ok = AppendUnit(out, format[i]);
      continue;
    }
    std::u16string_view rest = format.substr(i + 1);
    if (rest.starts_with(u"%")) {
      ok = AppendUnit(out, u'%');
      i += 1;
    } else if (rest.starts_with(u"@")) {
      if (const FormatArgument* a = take()) {
        const auto* s = dynamic_cast<const NSString*>(a->object);
        ok = AppendText(out, s != nullptr ? s->characters() : u"(null)");
      }
      i += 1;
    } else if (rest.starts_with(u"C")) {
      if (const FormatArgument* a = take()) {
        ok = AppendUnit(out, static_cast<char16_t>(a->integer));
      }
      i += 1;
    } else if (rest.starts_with(u"d")) {
      if (const FormatArgument* a = take()) {
        ok = AppendDecimal(out, a->integer);
      }
      i += 1;
    } else if (rest.starts_with(u"lld")) {
      if (const FormatArgument* a = take()) {
        ok = AppendDecimal(out, a->integer);
      }
      i += 3;
    } else {
      ok = AppendUnit(out, format[i]);
    }
  }
  return ok ? objc_autorelease(StringTaking(out)) : nullptr;
}

bool NSString::isEqualToString(const NSString* other) const {
  return other != nullptr && other->text_ == text_;
}

const char* NSString::UTF8String() const {
  utf8_.clear();
  if (!Utf16ToUtf8(text_, utf8_) || !utf8_.push_back('\0')) {
    utf8_.clear();
    return nullptr;
  }
  return utf8_.data();
}

NSArray* NSString::componentsSeparatedByString(const NSString* separator) const {
  auto* pieces = objc_alloc<NSMutableArray>();
  if (pieces == nullptr) {
    return nullptr;
  }
  const std::u16string_view sep = separator == nullptr ? std::u16string_view() : separator->text_;
  size_t start = 0;
  bool ok = true;
  auto add = [&](std::u16string_view piece) {
    NSString* string = NSString::stringWithCharacters(piece);
    const int64_t before = pieces->count();
    if (string != nullptr) {
      pieces->addObject(string);
    }
    ok = pieces->count() > before;
  };
  if (!sep.empty()) {
    for (size_t found = text_.find(sep); ok && found != std::u16string_view::npos;
         found = text_.find(sep, start)) {
      add(text_.substr(start, found - start));
      start = found + sep.size();
    }
  }
  if (ok) {
    add(text_.substr(start));
  }
  if (!ok) {
    objc_release(pieces);
    return nullptr;
  }
  return objc_autorelease(pieces);
}

NSString* NSSTR(std::u16string_view text) {
  for (ConstantNode* node = constants; node != nullptr; node = node->next) {
    if (node->string.text_ == text) {
      return &node->string;
    }
  }
  const size_t text_bytes = text.size() * sizeof(char16_t);
  void* place = ConstantPlace(sizeof(ConstantNode) + text_bytes);
  if (place == nullptr) {
    return nullptr;
  }
  auto* node = new (place) ConstantNode{constants, {}};
  auto* units = reinterpret_cast<char16_t*>(node + 1);
  if (text_bytes > 0) {
    std::memcpy(units, text.data(), text_bytes);
  }
  node->string.text_ = std::u16string_view(units, text.size());
  // Constant strings are not among the objects a test counts.
  internal::LiveObjectsAdd(-1);
  node->string.retain_count_ = std::numeric_limits<int64_t>::max();
  constants = node;
  return &node->string;
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
  return objects_[index];
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
  ModelArray<char16_t> joined;
  for (int64_t i = 0; i < objects_.size(); ++i) {
    if (i > 0 && separator != nullptr && !AppendText(joined, separator->characters())) {
      return nullptr;
    }
    const auto* s = dynamic_cast<const NSString*>(objects_[i]);
    if (s != nullptr && !AppendText(joined, s->characters())) {
      return nullptr;
    }
  }
  return objc_autorelease(StringTaking(joined));
}

NSArray* NSArray::arrayWithObjects(std::initializer_list<NSObject*> objects) {
  auto* array = objc_alloc<NSMutableArray>();
  if (array == nullptr) {
    return nullptr;
  }
  for (NSObject* o : objects) {
    const int64_t before = array->count();
    array->addObject(o);
    if (array->count() == before) {
      objc_release(array);
      return nullptr;
    }
  }
  return objc_autorelease(array);
}

void NSArray::dealloc() {
  ModelArray<NSObject*> held;
  held.swap(objects_);
  for (NSObject* o : held) {
    objc_release(o);
  }
  NSObject::dealloc();
}

NSMutableArray* NSMutableArray::initWithCapacity(int64_t capacity) {
  capacity_ = capacity;
  objects_.reserve(capacity > 0 ? capacity : 0);
  return this;
}

void NSMutableArray::addObject(NSObject* object) {
  if (object == nullptr) {
    internal::Fault("addObject: nil");
    return;
  }
  if (objects_.push_back(object)) {
    objc_retain(object);
  }
}

void NSMutableArray::removeObject(const NSObject* object) {
  if (object == nullptr) {
    return;
  }
  // One element at a time, the array whole again before each release (a release may reach back
  // into the array); the object itself is held meanwhile, since it may be one of them.
  NSObject* held = objc_retain(const_cast<NSObject*>(object));
  for (int64_t i = 0; i < objects_.size();) {
    NSObject* o = objects_[i];
    if (!o->isEqual(held)) {
      ++i;
      continue;
    }
    objects_.erase(i);
    objc_release(o);
    i = 0;
  }
  objc_release(held);
}

// ---------------------------------------------------------------------------------------------
// Dictionaries, defaults, bundle.

NSDictionary* NSDictionary::dictionaryWithObject(NSObject* object, NSString* key) {
  auto* dictionary = objc_alloc<NSDictionary>();
  if (dictionary != nullptr && !dictionary->setObject(object, key)) {
    objc_release(dictionary);
    return nullptr;
  }
  return objc_autorelease(dictionary);
}

NSObject* NSDictionary::objectForKey(const NSString* key) const {
  for (const Entry& entry : entries_) {
    if (entry.key->isEqual(key)) {
      return entry.object;
    }
  }
  return nullptr;
}

bool NSDictionary::setObject(NSObject* object, NSString* key) {
  if (object == nullptr || key == nullptr) {
    internal::Fault("setObject:forKey: with nil");
    return false;
  }
  for (Entry& entry : entries_) {
    if (entry.key->isEqual(key)) {
      objc_retain(object);
      objc_release(entry.object);
      entry.object = object;
      return true;
    }
  }
  if (!entries_.push_back(Entry{key, object})) {
    return false;
  }
  objc_retain(key);
  objc_retain(object);
  return true;
}

void NSDictionary::addEntriesFromDictionary(const NSDictionary* other) {
  // Room for every entry first: then no setObject below can fail half way.
  if (other == nullptr || other == this || !entries_.reserve(count() + other->count())) {
    return;
  }
  for (const Entry& entry : other->entries_) {
    setObject(entry.object, entry.key);
  }
}

void NSDictionary::dealloc() {
  ModelArray<Entry> held;
  held.swap(entries_);
  for (const Entry& entry : held) {
    objc_release(entry.key);
    objc_release(entry.object);
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
  objc_msgSend(registered_, &NSDictionary::addEntriesFromDictionary, defaults);
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
  if (executable_path_ != nullptr) {
    return executable_path_;
  }
  internal::Watcher* watcher = internal::WatcherGet();
  const std::u16string* given = watcher == nullptr ? nullptr : watcher->ExecutablePath();
  ModelArray<char16_t> path;
  bool ok = true;
  if (given != nullptr && !given->empty()) {
    ok = AppendText(path, *given);
  } else {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) {
      ok = Utf8ToUtf16(std::string_view(buffer, static_cast<size_t>(n)), path);
    }
  }
  if (ok) {
    executable_path_ = StringTaking(path);
  }
  return executable_path_;
}

void NSBundle::dealloc() {
  objc_release(executable_path_);
  executable_path_ = nullptr;
  NSObject::dealloc();
}

}  // namespace zn::desktop
