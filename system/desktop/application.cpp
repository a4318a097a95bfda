// The application side of the model: the shared application with its main menu, delegate,
// responder chain and platform event queue; platform events; the process manager.
#include <unistd.h>

#include <cstdint>
#include <utility>

#include "system/desktop/application.h"
#include "system/desktop/desktop_internal.h"
#include "system/desktop/foundation.h"
#include "system/desktop/menus.h"
#include "system/desktop/object.h"

namespace zn::desktop {

NSApplication* NSApp = nullptr;

namespace {

NSApplication* MakePlainApplication() {
  return objc_alloc<NSApplication>();
}

}  // namespace

namespace internal {

void ApplicationRelease() {
  NSApplication* app = NSApp;
  NSApp = nullptr;
  objc_release(app);
}

}  // namespace internal

void NSApplicationRelease() {
  internal::ApplicationRelease();
  internal::ScreenRelease();
  internal::FoundationRelease();
}

// ---------------------------------------------------------------------------------------------
// Events.

NSEvent* NSEvent::otherEventWithType(int64_t type, NSPoint location, uint64_t modifierFlags,
                                     double timestamp, int64_t windowNumber,
                                     NSGraphicsContext* /*context*/, int16_t subtype, int64_t data1,
                                     int64_t data2) {
  auto* event = objc_alloc<NSEvent>();
  if (event == nullptr) {
    return nullptr;
  }
  event->type_ = type;
  event->location_ = location;
  event->modifier_flags_ = modifierFlags;
  event->timestamp_ = timestamp;
  event->window_number_ = windowNumber;
  event->subtype_ = subtype;
  event->data1_ = data1;
  event->data2_ = data2;
  return objc_autorelease(event);
}

NSEvent* NSEvent::keyEventWithType(int64_t type, uint64_t modifierFlags, NSString* characters) {
  auto* event = objc_alloc<NSEvent>();
  if (event == nullptr) {
    return nullptr;
  }
  event->type_ = type;
  event->modifier_flags_ = modifierFlags;
  event->characters_ = objc_retain(characters);
  return objc_autorelease(event);
}

void NSEvent::dealloc() {
  objc_release(characters_);
  characters_ = nullptr;
  NSObject::dealloc();
}

NSString* NSDefaultRunLoopMode() {
  return NSSTR(u"kCFRunLoopDefaultMode");
}

// ---------------------------------------------------------------------------------------------
// The shared application.

NSApplication* NSApplication::sharedApplication() {
  return sharedApplicationOfClass(MakePlainApplication);
}

NSApplication* NSApplication::sharedApplicationOfClass(NSApplication* (*make)()) {
  if (NSApp == nullptr) {
    NSApp = make();
  }
  return NSApp;
}

void NSApplication::setMainMenu(NSMenu* menu) {
  objc_retain(menu);
  objc_release(main_menu_);
  main_menu_ = menu;
  internal::Log("NSApplication setMainMenu:");
}

void NSApplication::sendEvent(NSEvent* event) {
  ++dispatched_count_;
  objc_retain(event);
  objc_release(last_dispatched_);
  last_dispatched_ = event;
  internal::Log("NSApplication sendEvent:");
}

bool NSApplication::sendAction(SEL action, NSObject* target, NSObject* sender) {
  if (action.empty()) {
    return false;
  }
  if (target != nullptr) {
    if (!target->respondsToSelector(action)) {
      return false;
    }
    target->performAction(action, sender);
    return true;
  }
  // The responder chain, then the application, then its delegate. Only the asking walks the
  // chain; the one action is sent after the walk has ended.
  NSObject* responder = nullptr;
  for (NSObject* r : responders_) {
    if (r->respondsToSelector(action)) {
      responder = r;
      break;
    }
  }
  if (responder == nullptr && respondsToSelector(action)) {
    responder = this;
  }
  if (responder == nullptr && delegate_ != nullptr && delegate_->respondsToSelector(action)) {
    responder = delegate_;
  }
  if (responder == nullptr) {
    return false;
  }
  responder->performAction(action, sender);
  return true;
}

void NSApplication::postEvent(NSEvent* event, bool atStart) {
  if (event == nullptr) {
    return;
  }
  if (!queue_.insert(atStart ? 0 : queue_.size(), event)) {
    return;
  }
  objc_retain(event);
  internal::Log("NSApplication postEvent:atStart:");
}

NSEvent* NSApplication::nextEventMatchingMask(uint64_t /*mask*/, double /*untilDate*/,
                                              NSString* /*mode*/, bool dequeue) {
  if (queue_.empty()) {
    return nullptr;
  }
  NSEvent* event = queue_[0];
  if (!dequeue) {
    return event;
  }
  queue_.erase(0);
  return objc_autorelease(event);
}

void NSApplication::removeAllResponders() {
  ModelArray<NSObject*> held;
  held.swap(responders_);
  for (NSObject* r : held) {
    objc_release(r);
  }
}

void NSApplication::discardQueuedEvents() {
  ModelArray<NSEvent*> held;
  held.swap(queue_);
  for (NSEvent* e : held) {
    objc_release(e);
  }
}

void NSApplication::dealloc() {
  if (NSApp == this) {
    NSApp = nullptr;
  }
  removeAllResponders();
  discardQueuedEvents();
  objc_release(main_menu_);
  main_menu_ = nullptr;
  objc_release(last_dispatched_);
  last_dispatched_ = nullptr;
  NSObject::dealloc();
}

// ---------------------------------------------------------------------------------------------
// The process manager.

OSErr GetCurrentProcess(ProcessSerialNumber* psn) {
  internal::Watcher* watcher = internal::WatcherGet();
  if (psn == nullptr || (watcher != nullptr && watcher->RefuseProcessLookup())) {
    return procNotFound;
  }
  psn->highLongOfPSN = 0;
  psn->lowLongOfPSN = static_cast<uint32_t>(getpid());
  return noErr;
}

OSErr SetFrontProcess(const ProcessSerialNumber* psn) {
  if (psn == nullptr) {
    return procNotFound;
  }
  internal::Log("SetFrontProcess");
  return noErr;
}

}  // namespace zn::desktop
