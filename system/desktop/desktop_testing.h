// Test controls of the desktop model: the live-object and fault counts, the call log, the switches
// that stand the model in for a given machine (executable path, screen, failing process manager
// and image creation), and the application's test-only views of its responder chain and queues.
// Library zn_desktop_testing: linked by tests and benchmarks, never installed and never linked
// into a shipped program. It watches the model from the start of the process (it installs the
// model's watcher as the program starts), so every fault and call counts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "system/desktop/types.h"

namespace zn::desktop {

// DesktopLiveObjects: objects created and not yet destroyed (constant strings excluded).
int64_t DesktopLiveObjects();
// DesktopFaults: calls the framework would have refused; DesktopLastFault names the last one.
int64_t DesktopFaults();
std::string DesktopLastFault();

// The call log: while on, the model records its observable calls ("NSWindow close", "dealloc
// NSMenu" ...) in order; the hook, when set, is called with each entry as it is recorded.
void DesktopCallLogStart(std::function<void(std::string_view)> hook = {});
std::vector<std::string> DesktopCallLogTake();

// The main bundle's executable path, instead of the running executable's (empty: the real one).
void DesktopTestSetExecutablePath(std::u16string path);
// GetCurrentProcess fails while this is set; SetFrontProcess calls are counted.
void DesktopTestFailGetCurrentProcess(bool fail);
int64_t DesktopFrontProcessCalls();
// The main screen: its frame, pixel size, physical size in millimetres and display number.
void DesktopTestSetScreen(NSRect frame, NSSize pixels, NSSize millimetres, uint32_t display);
// Whether there is a main screen at all (there is one by default).
void DesktopTestSetNoScreen(bool none);
// The next `successes` NSImage or NSBitmapImageRep creations succeed and the one after them
// fails (once); -1 turns the switch off.
void DesktopTestFailImageCreation(int64_t successes);
// DesktopTestReset: releases the shared application, the defaults, the bundle, the screen and
// every autorelease pool, and clears the log, the faults and the switches. What other code still
// holds stays its own to release.
void DesktopTestReset();

// The application's responder chain (held retained), its platform event queue, and what its
// sendEvent received (the count and the last event).
void DesktopTestAddResponder(NSApplication* app, NSObject* responder);
void DesktopTestRemoveResponders(NSApplication* app);
int64_t DesktopTestQueuedEvents(const NSApplication* app);
// DesktopTestQueuedEventAt: the queued event at this index, or nil out of range.
NSEvent* DesktopTestQueuedEventAt(const NSApplication* app, int64_t index);
void DesktopTestDiscardQueuedEvents(NSApplication* app);
int64_t DesktopTestDispatchedEvents(const NSApplication* app);
NSEvent* DesktopTestLastDispatchedEvent(const NSApplication* app);
void DesktopTestForgetDispatchedEvents(NSApplication* app);

}  // namespace zn::desktop
