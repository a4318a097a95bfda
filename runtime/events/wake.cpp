// Waking the platform's event loop, the question whether a platform event is pending, and the
// threaded switch (the queue keeps the mutex it calls for).
#include <cstdint>

#include "runtime/events/events.h"
#include "runtime/events/events_internal.h"
#include "system/desktop/application.h"

namespace zn {
namespace {

bool threaded = false;

}  // namespace

namespace internal {

bool PlatformEventPending() {
  using namespace desktop;
  if (NSApp == nullptr) {
    return false;
  }
  // Asked without waiting and without removing the event, in the default run-loop mode.
  return NSApp->nextEventMatchingMask(NSEventMaskAny, 0, NSDefaultRunLoopMode(), false) != nullptr;
}

}  // namespace internal

void EventThreadedSet(bool on) {
  threaded = on;
}

bool EventThreaded() {
  return threaded;
}

void WakeEventLoop() {
  using namespace desktop;
  // Without an application there is no loop to wake (and the message would go to nil).
  if (NSApp == nullptr) {
    return;
  }
  NSEvent* event = NSEvent::otherEventWithType(NSEventTypeApplicationDefined, NSPoint{0, 0}, 0, 0,
                                               0, nullptr, 0, 0, 0);
  NSApp->postEvent(event, true);
}

}  // namespace zn
