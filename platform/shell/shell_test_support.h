// Test support shared by the shell's tests: the start steps run once for the whole binary, the
// way the start sequence runs them, under an executable named "tool".
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/shell/shell.h"
#include "runtime/events/events.h"
#include "runtime/events/events_testing.h"
#include "system/desktop/application.h"
#include "system/desktop/desktop_testing.h"
#include "system/desktop/object.h"

namespace zn::testing_support {

// Runs start steps 1, 2, 14, 15 and 16 as the start sequence does.
inline void StartShell() {
  desktop::DesktopTestSetExecutablePath(u"/opt/bin/tool");
  ProcessStartup();
  ApplicationStartup();
  EventInit();
  if (WindowRegistry() == nullptr) {
    WindowStartup();
  }
  if (MenuRegistry() == nullptr) {
    MenuStartup();
  }
  ApplicationActivate();
}

struct QueuedEvent {
  int32_t type;
  int64_t object, window, subtype;
  bool operator==(const QueuedEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const QueuedEvent& e) {
  return out << "(" << e.type << ", " << e.object << ", " << e.window << ", " << e.subtype << ")";
}

// Empties the runtime's queue and returns what it held.
inline std::vector<QueuedEvent> DrainEvents() {
  std::vector<QueuedEvent> out;
  while (EventFetch() != 0) {
    const CurrentEvent& e = EventCurrent();
    out.push_back({e.type, e.object, e.window, e.subtype});
  }
  return out;
}

// A window delegate that reports an id, as the window-opening command's delegate would.
class WindowIdDelegate : public desktop::NSObject {
 public:
  explicit WindowIdDelegate(int64_t id) : id_(id) {}
  bool respondsToSelector(desktop::SEL selector) const override { return selector == "windowID"; }
  int64_t performIntegerMessage(desktop::SEL selector) override {
    return selector == "windowID" ? id_ : desktop::NSObject::performIntegerMessage(selector);
  }

 private:
  int64_t id_;
};

// Fixture: a pool for the test, an empty event queue, and the object and fault balance checked
// at the end.
class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ApplicationPool() == nullptr) {
      StartShell();
    }
    EventTestReset();
    if (desktop::NSApp != nullptr) {
      desktop::DesktopTestForgetDispatchedEvents(desktop::NSApp);
    }
    pool_ = desktop::objc_alloc<desktop::NSAutoreleasePool>();
    live_ = desktop::DesktopLiveObjects();
    faults_ = desktop::DesktopFaults();
  }
  void TearDown() override {
    EventTestReset();
    if (desktop::NSApp != nullptr) {
      desktop::DesktopTestDiscardQueuedEvents(desktop::NSApp);
      desktop::DesktopTestForgetDispatchedEvents(desktop::NSApp);
    }
    desktop::objc_release(pool_);
    EXPECT_EQ(desktop::DesktopFaults(), faults_) << desktop::DesktopLastFault();
    EXPECT_EQ(desktop::DesktopLiveObjects(), live_ - 1)
        << "every object the test made is released (the test's pool included)";
  }
  desktop::NSAutoreleasePool* pool_ = nullptr;
  int64_t live_ = 0;
  int64_t faults_ = 0;
};

}  // namespace zn::testing_support
