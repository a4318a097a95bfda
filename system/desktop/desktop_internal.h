// Internal to the desktop model: what its files share (the live-object count, the singletons each
// file owns, the watcher) and the one friend through which they reach private state. Not
// installed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "system/desktop/storage.h"
#include "system/desktop/types.h"

namespace zn::desktop::internal {

// The live-object count, kept by every object's construction and destruction.
void LiveObjectsAdd(int64_t delta);
int64_t LiveObjects();

// The machine's main screen as the model reports it.
struct ScreenSettings {
  bool present;
  NSRect frame;
  NSSize pixels;
  NSSize millimetres;
  uint32_t display;
};
inline constexpr ScreenSettings kDefaultScreen = {
    true, {{0, 0}, {1440, 900}}, {2880, 1800}, {286, 179}, 1};

// Watcher: an observer of the model, null unless one is installed (the test library installs
// one; a shipped program never does). The model tells it each observable call and each call the
// framework would refuse, and asks it what the machine looks like. Without a watcher the machine
// is the default one and nothing is refused, so the model runs exactly as on a plain desktop.
class Watcher {
 public:
  // An observable call ("NSWindow close", "dealloc NSMenu" ...).
  virtual void Called(std::string_view entry) = 0;
  // A call the framework would have refused with an exception.
  virtual void Faulted(std::string_view what) = 0;
  // Whether this GetCurrentProcess fails.
  virtual bool RefuseProcessLookup() = 0;
  // Whether this NSImage or NSBitmapImageRep creation fails.
  virtual bool RefuseImageCreation() = 0;
  // The executable path the main bundle reports, or null for the running executable's.
  virtual const std::u16string* ExecutablePath() = 0;
  virtual const ScreenSettings& Screen() = 0;

 protected:
  ~Watcher() = default;
};

// WatcherSet: installs the watcher (null removes it); WatcherGet: the installed one, or null.
void WatcherSet(Watcher* watcher);
Watcher* WatcherGet();

// Log and Fault: tell the watcher, if any.
void Log(std::string_view entry);
void Fault(std::string_view what);

// The screen the model reports now: the watcher's, or the default one.
const ScreenSettings& Screen();

// Each file's singletons are released and forgotten (a fresh start for the next user).
void FoundationRelease();
void ApplicationRelease();
void ScreenRelease();
void PoolsRelease();

// ImageCreationRefused: true when the watcher refuses this image or bitmap creation.
bool ImageCreationRefused();

}  // namespace zn::desktop::internal

namespace zn::desktop {

// The one friend of the model's classes, for the model's own files and its test library.
struct ModelAccess {
  // The pool outside this one on the pool stack, or null.
  static NSAutoreleasePool* PoolOuter(const NSAutoreleasePool* pool);
  // The main bundle reads its executable path again when next asked.
  static void BundlePathForget();
  // The string's text becomes the one built in `text` (which gets the string's old one).
  static void StringTake(NSString* string, ModelArray<char16_t>& text);
  // The main screen, if made, takes the watcher's settings again.
  static void ScreenRefresh();
  // The application's responder chain, platform event queue and record of dispatched events.
  static void ResponderAdd(NSApplication* app, NSObject* responder);
  static void RespondersRemove(NSApplication* app);
  static int64_t QueuedEvents(const NSApplication* app);
  static NSEvent* QueuedEventAt(const NSApplication* app, int64_t index);
  static void QueuedEventsDiscard(NSApplication* app);
  static int64_t DispatchedEvents(const NSApplication* app);
  static NSEvent* LastDispatchedEvent(const NSApplication* app);
  static void DispatchedEventsForget(NSApplication* app);
};

}  // namespace zn::desktop
