// The object runtime of the model: reference counts, autorelease pools, generic message sends,
// the live-object count, and the watcher that is told of calls and faults.
//
// An object the framework would have destroyed is really destroyed here, so that a test's live
// count, and AddressSanitizer on any later use, show exactly what a library released.
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "system/desktop/desktop_internal.h"
#include "system/desktop/object.h"

namespace zn::desktop {
namespace {

// Constant strings carry this count; retain and release leave it alone.
constexpr int64_t kImmortal = std::numeric_limits<int64_t>::max();

int64_t live_objects = 0;
internal::Watcher* watcher = nullptr;

// The innermost pool of the pool stack; each pool knows the one outside it.
NSAutoreleasePool* innermost_pool = nullptr;
// Objects autoreleased without any pool: the framework leaks them; the model keeps them
// reachable (when it has the room) and counts a fault, so that tests see the mistake.
ModelArray<NSObject*> orphans;

// What the watcher is told is put together on the stack: a log entry or a fault report must not
// need memory, since it is made while objects are destroyed and while memory runs out.
class Entry {
 public:
  Entry& operator<<(std::string_view piece) {
    const size_t room = sizeof text_ - 1 - length_;
    const size_t n = piece.size() < room ? piece.size() : room;
    std::memcpy(text_ + length_, piece.data(), n);
    length_ += n;
    return *this;
  }
  std::string_view view() const { return std::string_view(text_, length_); }

 private:
  char text_[256];
  size_t length_ = 0;
};

void UnrecognizedSelector(SEL selector, const char* class_name) {
  internal::Fault(
      (Entry() << "unrecognized selector " << selector << " sent to " << class_name).view());
}

}  // namespace

namespace internal {

void LiveObjectsAdd(int64_t delta) {
  live_objects += delta;
}

int64_t LiveObjects() {
  return live_objects;
}

void WatcherSet(Watcher* w) {
  watcher = w;
}

Watcher* WatcherGet() {
  return watcher;
}

void Log(std::string_view entry) {
  if (watcher != nullptr) {
    watcher->Called(entry);
  }
}

void Fault(std::string_view what) {
  if (watcher != nullptr) {
    watcher->Faulted(what);
  }
}

void PoolsRelease() {
  // Releasing the outermost pool releases every pool pushed after it.
  NSAutoreleasePool* outermost = innermost_pool;
  while (outermost != nullptr && ModelAccess::PoolOuter(outermost) != nullptr) {
    outermost = ModelAccess::PoolOuter(outermost);
  }
  objc_release(outermost);
  ModelArray<NSObject*> left;
  left.swap(orphans);
  for (NSObject* object : left) {
    objc_release(object);
  }
}

}  // namespace internal

NSObject::NSObject() {
  ++live_objects;
}

NSObject::~NSObject() {
  --live_objects;
}

NSObject* NSObject::retain() {
  if (retain_count_ != kImmortal) {
    ++retain_count_;
  }
  return this;
}

void NSObject::release() {
  objc_release(this);
}

NSObject* NSObject::autorelease() {
  if (retain_count_ == kImmortal) {
    return this;
  }
  if (innermost_pool == nullptr) {
    internal::Fault((Entry() << "autorelease without a pool: " << className()).view());
    orphans.push_back(this);  // without the room it leaks, as the framework's would
    return this;
  }
  if (!innermost_pool->addObject(this)) {
    objc_release(this);
    return nullptr;
  }
  return this;
}

bool NSObject::respondsToSelector(SEL /*selector*/) const {
  return false;
}

bool NSObject::performAction(SEL selector, NSObject* /*argument*/) {
  UnrecognizedSelector(selector, className());
  return false;
}

int64_t NSObject::performIntegerMessage(SEL selector) {
  UnrecognizedSelector(selector, className());
  return 0;
}

void NSObject::performBoolMessage(SEL selector, bool /*value*/) {
  UnrecognizedSelector(selector, className());
}

void NSObject::dealloc() {
  if (watcher != nullptr) {
    internal::Log((Entry() << "dealloc " << className()).view());
  }
  delete this;
}

void objc_release(NSObject* object) {
  if (object == nullptr || object->retain_count_ == kImmortal) {
    return;
  }
  if (object->retain_count_ <= 0) {
    internal::Fault("over-release");
    return;
  }
  if (--object->retain_count_ == 0) {
    object->dealloc();
  }
}

bool objc_msgSend_action(NSObject* receiver, SEL selector, NSObject* argument) {
  return receiver != nullptr && receiver->performAction(selector, argument);
}

int64_t objc_msgSend_integer(NSObject* receiver, SEL selector) {
  return receiver == nullptr ? 0 : receiver->performIntegerMessage(selector);
}

void objc_msgSend_bool(NSObject* receiver, SEL selector, bool value) {
  if (receiver != nullptr) {
    receiver->performBoolMessage(selector, value);
  }
}

NSAutoreleasePool* ModelAccess::PoolOuter(const NSAutoreleasePool* pool) {
  return pool->outer_;
}

NSAutoreleasePool::NSAutoreleasePool() : outer_(innermost_pool), on_stack_(true) {
  innermost_pool = this;
}

bool NSAutoreleasePool::addObject(NSObject* object) {
  return objects_.push_back(object);
}

void NSAutoreleasePool::dealloc() {
  // Pools pushed after this one go first, as the framework drains them. Each leaves the stack
  // before its release, so that one still retained elsewhere cannot hold the unwinding up.
  if (on_stack_) {
    while (innermost_pool != nullptr && innermost_pool != this) {
      NSAutoreleasePool* inner = innermost_pool;
      innermost_pool = inner->outer_;
      inner->on_stack_ = false;
      objc_release(inner);
    }
    innermost_pool = outer_;
    on_stack_ = false;
  }
  // Objects released here may autorelease others; those go to the enclosing pool.
  ModelArray<NSObject*> held;
  held.swap(objects_);
  for (NSObject* object : held) {
    objc_release(object);
  }
  NSObject::dealloc();
}

}  // namespace zn::desktop
