// Waking the platform's event loop, the question whether a platform event is pending, and the
// recursive mutex of the threaded switch.
#include <pthread.h>

#include <cstdint>

#include "runtime/events/events.h"
#include "runtime/events/events_internal.h"
#include "system/desktop/application.h"

namespace zn {
namespace {

bool threaded = false;
bool mutex_ready = false;
pthread_mutex_t event_mutex;

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

void EventMutexInit() {
  if (!threaded || mutex_ready) {
    return;
  }
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  mutex_ready = pthread_mutex_init(&event_mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
}

EventLock::EventLock() : held_(mutex_ready) {
  if (held_) {
    pthread_mutex_lock(&event_mutex);
  }
}

EventLock::~EventLock() {
  if (held_) {
    pthread_mutex_unlock(&event_mutex);
  }
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
