// The desktop model: a small in-process stand-in for the desktop platform's application framework,
// its object runtime, its process manager and its graphics library. This header holds the object
// runtime; each part of the framework has its own header beside it: foundation.h (strings,
// numbers, arrays, dictionaries, defaults, bundle), application.h (the application, platform
// events, the process manager), menus.h, windows.h (windows, views, controls), screens.h (screens
// and graphics objects) and images.h (images and bitmaps); types.h names them all.
//
// The application shell, the gadgets, the event queue's wake-up and the image library call the
// framework through the classes and selectors named there. Every object is real: it keeps its
// state, counts its references and is destroyed when the last one goes, so that tests can prove
// that every object a library releases is really released. A build for the real platform replaces
// this folder alone. The model includes nothing of the project.
//
// Objects follow the framework's rules: `objc_alloc<T>()` gives an object holding one reference
// (the model folds alloc and the plain init into it), `retain` adds one, `objc_release` drops one
// and destroys the object at zero, `autorelease` hands one to the innermost autorelease pool,
// which drops it when the pool is released. Setters that the framework documents as retaining
// (content views, submenus, main menus, array elements) retain; delegates and targets do not.
// Messages to nil do nothing and answer 0, so every free function here accepts null, and
// `objc_msgSend` sends a method to a receiver that may be nil.
//
// Exhausted memory is answered as the platform answers it: with nil, never with an exception. A
// creation that cannot have its memory gives nil (`objc_alloc`, the class methods that make
// objects, the init methods that take memory), `autorelease` that cannot record its object
// releases it and gives nil, and a method that cannot grow what it fills (an array, a menu, a
// view's subviews) leaves it as it was; the header of each says how a caller can tell.
//
// Calls the framework would reject with an exception (an unrecognised selector, an item inserted
// into a second menu, an object released more often than retained) are counted as faults instead,
// so that tests can assert there were none.
//
// Late-bound seams: none of the project's; the model neither fills nor calls any.
#pragma once

#include <cstdint>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "system/desktop/storage.h"
#include "system/desktop/types.h"

namespace zn::desktop {

// ---------------------------------------------------------------------------------------------
// Object runtime.

class NSObject {
 public:
  NSObject();
  NSObject(const NSObject&) = delete;
  NSObject& operator=(const NSObject&) = delete;

  // retain: one more reference; returns the object.
  NSObject* retain();
  // release: one reference less; destroys the object (dealloc) at zero.
  void release();
  // autorelease: hands one reference to the innermost autorelease pool; returns the object, or
  // nil (the reference released at once) when the pool cannot record it.
  NSObject* autorelease();
  int64_t retainCount() const { return retain_count_; }

  // The class's name, as the framework reports it.
  virtual const char* className() const { return "NSObject"; }
  // respondsToSelector: whether an action or message with this selector is understood.
  virtual bool respondsToSelector(SEL selector) const;
  // isEqual: identity, unless a class compares values.
  virtual bool isEqual(const NSObject* other) const { return this == other; }
  template <class T>
  bool isKindOfClass() const {
    return dynamic_cast<const T*>(this) != nullptr;
  }

  // Generic message sends for selectors that a caller knows only by name (actions, delegate
  // questions, methods of subclasses defined elsewhere). The base answers none of them and
  // counts an unrecognised selector.
  // performAction: an action message with one object argument; true when understood.
  virtual bool performAction(SEL selector, NSObject* argument);
  // performIntegerMessage: a message without arguments answering an integer.
  virtual int64_t performIntegerMessage(SEL selector);
  // performBoolMessage: a message with one BOOL argument and no result.
  virtual void performBoolMessage(SEL selector, bool value);

 protected:
  virtual ~NSObject();
  // dealloc: the last reference is gone. Overrides free their own state, then call the inherited
  // dealloc, which destroys the object.
  virtual void dealloc();
  friend void objc_release(NSObject* object);
  friend NSString* NSSTR(std::u16string_view text);

 private:
  int64_t retain_count_ = 1;
};

// objc_alloc: a new object of class T holding one reference, already through its plain init;
// nil when memory is exhausted. Constructors take no memory of their own: what an object needs
// beyond itself, an init method takes (and gives nil for).
template <class T, class... Args>
T* objc_alloc(Args&&... args) {
  return new (std::nothrow) T(std::forward<Args>(args)...);
}

// objc_msgSend: `method` sent to `receiver` with the arguments; a nil receiver does nothing and
// answers the zero of the result's type, as a message to nil does.
template <class T, class C, class R, class... Params, class... Args>
R objc_msgSend(T* receiver, R (C::*method)(Params...), Args&&... args) {
  if (receiver == nullptr) {
    if constexpr (std::is_void_v<R>) {
      return;
    } else {
      return R{};
    }
  }
  return (receiver->*method)(std::forward<Args>(args)...);
}
template <class T, class C, class R, class... Params, class... Args>
R objc_msgSend(T* receiver, R (C::*method)(Params...) const, Args&&... args) {
  if (receiver == nullptr) {
    if constexpr (std::is_void_v<R>) {
      return;
    } else {
      return R{};
    }
  }
  return (receiver->*method)(std::forward<Args>(args)...);
}

// objc_release: drops one reference; null does nothing.
void objc_release(NSObject* object);

// objc_retain, objc_autorelease: typed forms of retain and autorelease; null gives null, and so
// does an autorelease that releases its object for want of room.
template <class T>
T* objc_retain(T* object) {
  if (object != nullptr) {
    object->retain();
  }
  return object;
}
template <class T>
T* objc_autorelease(T* object) {
  // Nil when the pool could not record it: the object is gone then.
  return object == nullptr ? nullptr : static_cast<T*>(object->autorelease());
}

// Message sends to an object that may be nil (nil answers 0 and does nothing).
bool objc_msgSend_action(NSObject* receiver, SEL selector, NSObject* argument);
int64_t objc_msgSend_integer(NSObject* receiver, SEL selector);
void objc_msgSend_bool(NSObject* receiver, SEL selector, bool value);

// NSAutoreleasePool: objc_alloc pushes the pool on the pool stack; releasing it drops every
// reference it holds (and those of pools pushed after it, which go first).
class NSAutoreleasePool : public NSObject {
 public:
  NSAutoreleasePool();
  const char* className() const override { return "NSAutoreleasePool"; }
  // addObject: takes over one reference of the object; false, nothing taken, when the pool
  // cannot grow.
  bool addObject(NSObject* object);
  // drain: as objc_release.
  void drain() { objc_release(this); }
  int64_t count() const { return objects_.size(); }

 protected:
  void dealloc() override;

 private:
  friend struct ModelAccess;
  ModelArray<NSObject*> objects_;
  // The stack runs through the pools themselves, so that pushing one takes no memory.
  NSAutoreleasePool* outer_ = nullptr;
  bool on_stack_ = false;
};

// AutoreleasePoolScope: a pool for the length of a C++ scope, released on every way out.
class AutoreleasePoolScope {
 public:
  AutoreleasePoolScope() : pool_(objc_alloc<NSAutoreleasePool>()) {}
  ~AutoreleasePoolScope() { objc_release(pool_); }
  AutoreleasePoolScope(const AutoreleasePoolScope&) = delete;
  AutoreleasePoolScope& operator=(const AutoreleasePoolScope&) = delete;

 private:
  NSAutoreleasePool* pool_;
};

}  // namespace zn::desktop
