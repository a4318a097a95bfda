// The object runtime of the model: reference counts, autorelease pools, generic message sends,
// the live-object count, and the watcher that is told of calls and faults.
//
// An object the framework would have destroyed is really destroyed here, so that a test's live
// count, and AddressSanitizer on any later use, show exactly what a library released.
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "system/desktop/desktop_internal.h"
#include "system/desktop/object.h"

namespace zn::desktop {
namespace {

// Constant strings carry this count; retain and release leave it alone.
constexpr int64_t kImmortal = std::numeric_limits<int64_t>::max();

int64_t live_objects = 0;
internal::Watcher* watcher = nullptr;

// The pool stack, innermost last.
std::vector<NSAutoreleasePool*> pool_stack;
// Objects autoreleased without any pool: the framework leaks them; the model keeps them
// reachable and counts a fault, so that tests see the mistake.
std::vector<NSObject*> orphans;

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
  if (!pool_stack.empty()) {
    objc_release(pool_stack.front());
  }
  std::vector<NSObject*> left;
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
  if (pool_stack.empty()) {
    internal::Fault(std::string("autorelease without a pool: ") + className());
    orphans.push_back(this);
    return this;
  }
  pool_stack.back()->addObject(this);
  return this;
}

bool NSObject::respondsToSelector(SEL /*selector*/) const {
  return false;
}

bool NSObject::performAction(SEL selector, NSObject* /*argument*/) {
  internal::Fault(std::string("unrecognized selector ") + std::string(selector) + " sent to " +
                  className());
  return false;
}

int64_t NSObject::performIntegerMessage(SEL selector) {
  internal::Fault(std::string("unrecognized selector ") + std::string(selector) + " sent to " +
                  className());
  return 0;
}

void NSObject::performBoolMessage(SEL selector, bool /*value*/) {
  internal::Fault(std::string("unrecognized selector ") + std::string(selector) + " sent to " +
                  className());
}

void NSObject::dealloc() {
  if (watcher != nullptr) {
    internal::Log(std::string("dealloc ") + className());
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

NSAutoreleasePool::NSAutoreleasePool() {
  pool_stack.push_back(this);
}

void NSAutoreleasePool::addObject(NSObject* object) {
  objects_.push_back(object);
}

void NSAutoreleasePool::dealloc() {
  // Pools pushed after this one go first, as the framework drains them.
  while (!pool_stack.empty() && pool_stack.back() != this) {
    objc_release(pool_stack.back());
  }
  if (!pool_stack.empty()) {
    pool_stack.pop_back();
  }
  // Objects released here may autorelease others; those go to the enclosing pool.
  std::vector<NSObject*> held;
  held.swap(objects_);
  for (NSObject* object : held) {
    objc_release(object);
  }
  NSObject::dealloc();
}

}  // namespace zn::desktop
