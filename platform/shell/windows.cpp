// Windows: the WindowRegistry, the window start step, the lookups, and WindowFree.
//
// WindowFree keeps a fixed order: the window's bindings and gadgets go first, while the window is
// intact; the window that takes the key focus is chosen before the close can change which window
// is key; the window is detached from its parent and its gadget list before it is closed (a
// closed window is released, and nothing may point at it afterwards); its queued events go after
// the close; the focus moves last.
#include <cstdint>

#include "platform/shell/shell.h"
#include "platform/shell/shell_internal.h"
#include "runtime/containers/containers.h"
#include "runtime/events/events.h"
#include "system/desktop/object.h"
#include "system/desktop/windows.h"

namespace zn {

using namespace desktop;

namespace {

ObjectRegistry* window_registry = nullptr;
WindowGadgetsFree gadgets_free = nullptr;

// The window to receive the key focus when `record`'s window closes: its parent, when the
// closing window is the key window and the parent is registered and visible. A hidden or
// unregistered parent gives none, and the closing window is never its own choice.
NSWindow* FocusChoice(const WindowRecord* record) {
  NSWindow* window = record->window;
  NSWindow* parent = record->parent;
  if (parent == nullptr || parent == window || !window->isKeyWindow()) {
    return nullptr;
  }
  bool registered = false;
  RegistryFirst(window_registry);
  while (auto* other = static_cast<WindowRecord*>(RegistryNext(window_registry, nullptr))) {
    if (other->window == parent) {
      registered = true;
      break;
    }
  }
  RegistryDone(window_registry);
  return registered && parent->isVisible() ? parent : nullptr;
}

}  // namespace

void WindowStartup() {
  window_registry = RegistryCreate(sizeof(WindowRecord), 8, WindowFree);
  internal::WindowThreadSlotCreate();
  ApplicationActivate();
}

void WindowEnd() {
  if (window_registry == nullptr) {
    return;
  }
  WindowFree(-1);
  RegistryFree(window_registry);
  window_registry = nullptr;
  internal::WindowThreadSlotFree();
}

ObjectRegistry* WindowRegistry() {
  return window_registry;
}

void WindowGadgetsFreeSet(WindowGadgetsFree routine) {
  gadgets_free = routine;
}

namespace {

// The windows whose free is under way, innermost first. A gadget release or a binding that frees
// its own window again (or every window) while that window is being freed must not start its free
// a second time: the record stays live until the free's last step, so it would recurse for ever,
// and a free of every window would release the record under the free that still uses it.
struct FreeInProgress;
const FreeInProgress* frees_in_progress = nullptr;

// One free under way, on the list for as long as its scope lasts: whatever way the free ends, the
// list never keeps pointing into a frame that has gone.
struct FreeInProgress {
  explicit FreeInProgress(int64_t window) : id(window), outer(frees_in_progress) {
    frees_in_progress = this;
  }
  ~FreeInProgress() { frees_in_progress = outer; }
  FreeInProgress(const FreeInProgress&) = delete;
  FreeInProgress& operator=(const FreeInProgress&) = delete;
  int64_t id;
  const FreeInProgress* outer;
};

bool FreeUnderWay(int64_t id) {
  for (const FreeInProgress* free = frees_in_progress; free != nullptr; free = free->outer) {
    if (free->id == id) {
      return true;
    }
  }
  return false;
}

// Frees every window, one at a time from the first live one whose free is not already under way:
// the focus choice walks the registry, which would disturb a walk of RegistryReleaseAll over the
// same registry.
void WindowFreeEach(ObjectRegistry* registry) {
  for (;;) {
    int64_t first = 0;
    const void* record = nullptr;
    RegistryFirst(registry);
    while ((record = RegistryNext(registry, &first)) != nullptr && FreeUnderWay(first)) {
    }
    RegistryDone(registry);
    if (record == nullptr) {
      return;
    }
    WindowFree(first);
    // Released whatever WindowFree did: a free-standing record whose window is not set yet is
    // handed out by the walk but is not live, so WindowFree leaves it, and the walk would find
    // it first again for ever. Releasing an already released id does nothing.
    RegistryRelease(registry, first);
  }
}

}  // namespace

void WindowFree(int64_t id) {
  auto* record =
      static_cast<WindowRecord*>(RegistryFreeLookup(window_registry, id, WindowFreeEach));
  if (record == nullptr || FreeUnderWay(id)) {
    return;
  }
  const FreeInProgress free(id);
  NSWindow* window = record->window;
  EventUnbindWindow(id);
  if (gadgets_free != nullptr) {
    gadgets_free(id);
  }
  NSWindow* focus = FocusChoice(record);
  MenuFreeForWindow(window);
  if (window->parentWindow() != nullptr) {
    window->parentWindow()->removeChildWindow(window);
  }
  // The window's gadget list would otherwise keep pointing at a window that no longer exists.
  ZnGadgetList::removeWindow(window);
  window->close();
  EventRemoveForWindow(id);
  if (focus != nullptr) {
    focus->makeKeyWindow();
  }
  RegistryRelease(window_registry, id);
}

WindowRecord* WindowRecordOf(int64_t id) {
  if (window_registry == nullptr) {
    return nullptr;
  }
  return static_cast<WindowRecord*>(RegistryVerify(window_registry, id));
}

NSWindow* WindowPlatformWindowOf(int64_t id) {
  if (window_registry == nullptr) {
    return nullptr;
  }
  const auto* record = static_cast<const WindowRecord*>(RegistryLookup(window_registry, id));
  return record == nullptr ? nullptr : record->window;
}

int64_t WindowIdOf(NSWindow* window) {
  if (window == nullptr) {
    return -1;
  }
  NSObject* delegate = window->delegate();
  if (delegate == nullptr) {
    return -1;
  }
  const SEL window_id = NSSelectorFromString("windowID");
  if (!delegate->respondsToSelector(window_id)) {
    return -1;
  }
  return objc_msgSend_integer(delegate, window_id);
}

int32_t WindowBlocksMenuEvents(NSWindow* window) {
  const int64_t id = WindowIdOf(window);
  if (id == -1) {
    return 0;
  }
  const WindowRecord* record = WindowRecordOf(id);
  return record != nullptr && record->menu_events_blocked != 0 ? 1 : 0;
}

}  // namespace zn
