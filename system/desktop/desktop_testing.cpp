// The desktop model's test controls: a watcher that keeps the call log, counts faults and front
// process calls, and answers the model's questions about the machine from the test switches.
#include "system/desktop/desktop_testing.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "system/desktop/application.h"
#include "system/desktop/desktop_internal.h"
#include "system/desktop/object.h"

namespace zn::desktop {
namespace {

class TestWatcher final : public internal::Watcher {
 public:
  void Called(std::string_view entry) override {
    if (entry == "SetFrontProcess") {
      ++front_process_calls;
    }
    if (!logging) {
      return;
    }
    if (log_hook) {
      log_hook(entry);
    }
    // The model tells its watcher while the test's failure switch may refuse memory; an entry
    // the log has no room for is left out rather than thrown through the model.
    try {
      call_log.emplace_back(entry);
    } catch (const std::bad_alloc&) {
      return;
    }
  }

  void Faulted(std::string_view what) override {
    ++faults;
    try {
      last_fault = what;
    } catch (const std::bad_alloc&) {
      last_fault.clear();
    }
  }

  bool RefuseProcessLookup() override { return fail_get_current_process; }

  bool RefuseImageCreation() override {
    if (image_fail_after < 0) {
      return false;
    }
    if (image_fail_after == 0) {
      image_fail_after = -1;  // fails once
      return true;
    }
    --image_fail_after;
    return false;
  }

  const std::u16string* ExecutablePath() override { return &executable_path; }
  const internal::ScreenSettings& Screen() override { return screen; }

  bool logging = false;
  std::vector<std::string> call_log;
  std::function<void(std::string_view)> log_hook;
  int64_t faults = 0;
  std::string last_fault;
  std::u16string executable_path;
  bool fail_get_current_process = false;
  int64_t front_process_calls = 0;
  internal::ScreenSettings screen = internal::kDefaultScreen;
  // Creations still allowed before the one that fails; -1 when the switch is off.
  int64_t image_fail_after = -1;
};

// Never destroyed: objects released while the program ends still tell it.
TestWatcher& Watcher() {
  static TestWatcher* const watcher = new TestWatcher;
  return *watcher;
}

// Installed as the program starts, so that faults and calls before the first control count too.
[[maybe_unused]] const bool installed = [] {
  internal::WatcherSet(&Watcher());
  return true;
}();

}  // namespace

void ModelAccess::ResponderAdd(NSApplication* app, NSObject* responder) {
  if (app != nullptr && responder != nullptr && app->responders_.push_back(responder)) {
    objc_retain(responder);
  }
}

void ModelAccess::RespondersRemove(NSApplication* app) {
  if (app != nullptr) {
    app->removeAllResponders();
  }
}

int64_t ModelAccess::QueuedEvents(const NSApplication* app) {
  return app == nullptr ? 0 : app->queue_.size();
}

NSEvent* ModelAccess::QueuedEventAt(const NSApplication* app, int64_t index) {
  if (index < 0 || index >= QueuedEvents(app)) {
    return nullptr;
  }
  return app->queue_[index];
}

void ModelAccess::QueuedEventsDiscard(NSApplication* app) {
  if (app != nullptr) {
    app->discardQueuedEvents();
  }
}

int64_t ModelAccess::DispatchedEvents(const NSApplication* app) {
  return app == nullptr ? 0 : app->dispatched_count_;
}

NSEvent* ModelAccess::LastDispatchedEvent(const NSApplication* app) {
  return app == nullptr ? nullptr : app->last_dispatched_;
}

void ModelAccess::DispatchedEventsForget(NSApplication* app) {
  if (app != nullptr) {
    app->dispatched_count_ = 0;
    objc_release(app->last_dispatched_);
    app->last_dispatched_ = nullptr;
  }
}

int64_t DesktopLiveObjects() {
  return internal::LiveObjects();
}

int64_t DesktopFaults() {
  return Watcher().faults;
}

std::string DesktopLastFault() {
  return Watcher().last_fault;
}

void DesktopCallLogStart(std::function<void(std::string_view)> hook) {
  Watcher().logging = true;
  Watcher().call_log.clear();
  Watcher().log_hook = std::move(hook);
}

std::vector<std::string> DesktopCallLogTake() {
  Watcher().logging = false;
  Watcher().log_hook = nullptr;
  std::vector<std::string> taken;
  taken.swap(Watcher().call_log);
  return taken;
}

void DesktopTestSetExecutablePath(std::u16string path) {
  Watcher().executable_path = std::move(path);
  ModelAccess::BundlePathForget();
}

void DesktopTestFailGetCurrentProcess(bool fail) {
  Watcher().fail_get_current_process = fail;
}

int64_t DesktopFrontProcessCalls() {
  return Watcher().front_process_calls;
}

void DesktopTestSetScreen(NSRect frame, NSSize pixels, NSSize millimetres, uint32_t display) {
  const bool present = Watcher().screen.present;
  Watcher().screen = internal::ScreenSettings{present, frame, pixels, millimetres, display};
  ModelAccess::ScreenRefresh();
}

void DesktopTestSetNoScreen(bool none) {
  Watcher().screen.present = !none;
}

void DesktopTestFailImageCreation(int64_t successes) {
  Watcher().image_fail_after = successes;
}

void DesktopTestReset() {
  TestWatcher& watcher = Watcher();
  watcher.logging = false;
  watcher.log_hook = nullptr;
  watcher.call_log.clear();
  internal::ApplicationRelease();
  internal::ScreenRelease();
  watcher.screen = internal::kDefaultScreen;
  internal::FoundationRelease();
  watcher.executable_path.clear();
  watcher.image_fail_after = -1;
  watcher.fail_get_current_process = false;
  watcher.front_process_calls = 0;
  internal::PoolsRelease();
  watcher.faults = 0;
  watcher.last_fault.clear();
}

void DesktopTestAddResponder(NSApplication* app, NSObject* responder) {
  ModelAccess::ResponderAdd(app, responder);
}

void DesktopTestRemoveResponders(NSApplication* app) {
  ModelAccess::RespondersRemove(app);
}

int64_t DesktopTestQueuedEvents(const NSApplication* app) {
  return ModelAccess::QueuedEvents(app);
}

NSEvent* DesktopTestQueuedEventAt(const NSApplication* app, int64_t index) {
  return ModelAccess::QueuedEventAt(app, index);
}

void DesktopTestDiscardQueuedEvents(NSApplication* app) {
  ModelAccess::QueuedEventsDiscard(app);
}

int64_t DesktopTestDispatchedEvents(const NSApplication* app) {
  return ModelAccess::DispatchedEvents(app);
}

NSEvent* DesktopTestLastDispatchedEvent(const NSApplication* app) {
  return ModelAccess::LastDispatchedEvent(app);
}

void DesktopTestForgetDispatchedEvents(NSApplication* app) {
  ModelAccess::DispatchedEventsForget(app);
}

}  // namespace zn::desktop
