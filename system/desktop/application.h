// The application part of the desktop model: the shared application with its main menu,
// delegate, responder chain and platform event queue; platform events; the process manager.
#pragma once

#include <cstdint>

#include "system/desktop/foundation.h"
#include "system/desktop/object.h"
#include "system/desktop/types.h"

namespace zn::desktop {

// ---------------------------------------------------------------------------------------------
// Process manager.

struct ProcessSerialNumber {
  uint32_t highLongOfPSN;
  uint32_t lowLongOfPSN;
};
using OSErr = int16_t;
inline constexpr OSErr noErr = 0;
inline constexpr OSErr procNotFound = -600;

OSErr GetCurrentProcess(ProcessSerialNumber* psn);
OSErr SetFrontProcess(const ProcessSerialNumber* psn);

// ---------------------------------------------------------------------------------------------
// Events.

class NSEvent : public NSObject {
 public:
  const char* className() const override { return "NSEvent"; }
  // otherEventWithType:location:modifierFlags:timestamp:windowNumber:context:subtype:data1:data2:
  static NSEvent* otherEventWithType(int64_t type, NSPoint location, uint64_t modifierFlags,
                                     double timestamp, int64_t windowNumber,
                                     NSGraphicsContext* context, int16_t subtype, int64_t data1,
                                     int64_t data2);
  // Both give nil when the event cannot be made.
  // keyEventWithType: a key event (the model's short form: type, modifiers, characters).
  static NSEvent* keyEventWithType(int64_t type, uint64_t modifierFlags, NSString* characters);

  int64_t type() const { return type_; }
  uint64_t modifierFlags() const { return modifier_flags_; }
  NSString* charactersIgnoringModifiers() const { return characters_; }
  NSPoint locationInWindow() const { return location_; }
  double timestamp() const { return timestamp_; }
  int64_t windowNumber() const { return window_number_; }
  int16_t subtype() const { return subtype_; }
  int64_t data1() const { return data1_; }
  int64_t data2() const { return data2_; }

 protected:
  void dealloc() override;

 private:
  int64_t type_ = 0;
  uint64_t modifier_flags_ = 0;
  NSString* characters_ = nullptr;
  NSPoint location_{0, 0};
  double timestamp_ = 0;
  int64_t window_number_ = 0;
  int16_t subtype_ = 0;
  int64_t data1_ = 0;
  int64_t data2_ = 0;
};

// The run-loop mode that the pending-event question names.
NSString* NSDefaultRunLoopMode();

// ---------------------------------------------------------------------------------------------
// The application.

// NSApplicationRelease: the model's end. Releases the shared application and the framework's
// other process-wide objects (the user defaults, the main bundle, the main screen) as the
// platform gives them up when the process ends, so that nothing of them stays behind; the next
// use makes them anew. What other code still holds of them stays its own to release.
void NSApplicationRelease();

// NSApp: the shared application, nil until sharedApplication makes it.
extern NSApplication* NSApp;

inline constexpr int64_t NSApplicationActivationPolicyRegular = 0;
inline constexpr int64_t NSTerminateCancel = 0;
inline constexpr int64_t NSTerminateNow = 1;

class NSApplication : public NSObject {
 public:
  NSApplication() = default;
  const char* className() const override { return "NSApplication"; }
  // sharedApplication: NSApp, made an NSApplication when there is none yet; nil when it cannot
  // be made.
  static NSApplication* sharedApplication();
  // sharedApplicationOfClass: NSApp, made by `make` when there is none yet (how a subclass's
  // sharedApplication makes NSApp an instance of itself).
  static NSApplication* sharedApplicationOfClass(NSApplication* (*make)());

  NSObject* delegate() const { return delegate_; }
  void setDelegate(NSObject* delegate) { delegate_ = delegate; }
  NSMenu* mainMenu() const { return main_menu_; }
  // setMainMenu: the application retains the menu bar.
  void setMainMenu(NSMenu* menu);
  void finishLaunching() { ++finish_launching_calls_; }
  int64_t finishLaunchingCalls() const { return finish_launching_calls_; }
  void setActivationPolicy(int64_t policy) { activation_policy_ = policy; }
  int64_t activationPolicy() const { return activation_policy_; }
  NSWindow* keyWindow() const { return key_window_; }

  // sendEvent: dispatches an event; the model records what reaches it.
  virtual void sendEvent(NSEvent* event);
  // sendAction:to:from: the action goes to the target when one is given, otherwise to the first
  // object of the responder chain, the application or its delegate that responds to it; true
  // when someone did.
  bool sendAction(SEL action, NSObject* target, NSObject* sender);
  // postEvent:atStart: queues the event (retained) at the head or the tail; a queue that cannot
  // grow drops it, as a full platform queue does.
  void postEvent(NSEvent* event, bool atStart);
  // nextEventMatchingMask:untilDate:inMode:dequeue: the first queued event, never waiting; when
  // dequeued it is handed out autoreleased (nil, the event gone, when the pool cannot take it).
  NSEvent* nextEventMatchingMask(uint64_t mask, double untilDate, NSString* mode, bool dequeue);

 protected:
  void dealloc() override;

 private:
  friend class NSWindow;
  friend struct ModelAccess;
  // The responder chain holds its objects retained, the queue its events; both drop them here.
  void removeAllResponders();
  void discardQueuedEvents();
  NSObject* delegate_ = nullptr;
  NSMenu* main_menu_ = nullptr;
  NSWindow* key_window_ = nullptr;
  int64_t finish_launching_calls_ = 0;
  int64_t activation_policy_ = -1;
  ModelArray<NSObject*> responders_;
  ModelArray<NSEvent*> queue_;
  int64_t dispatched_count_ = 0;
  NSEvent* last_dispatched_ = nullptr;  // retained
};

}  // namespace zn::desktop
