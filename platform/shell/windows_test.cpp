// Tests of the windows, the gadget lists and the program menus: lookups, the stack of container
// views, WindowFree's order and focus choice, menus freed with their window or on their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/shell/shell.h"
#include "platform/shell/shell_test_support.h"
#include "platform/shell/shell_testing.h"
#include "runtime/containers/containers.h"
#include "runtime/events/events.h"
#include "runtime/events/events_testing.h"
#include "runtime/memory/memory.h"
#include "system/desktop/application.h"
#include "system/desktop/desktop_testing.h"
#include "system/desktop/foundation.h"
#include "system/desktop/menus.h"
#include "system/desktop/object.h"
#include "system/desktop/windows.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

using namespace desktop;
using testing_support::DrainEvents;
using testing_support::QueuedEvent;
using testing_support::ShellTest;
using testing_support::WindowIdDelegate;

// A registered window with an id-reporting delegate, as a window-opening command would make it.
struct TestWindow {
  NSWindow* window;
  WindowIdDelegate* delegate;
  WindowRecord* record;
};

TestWindow OpenWindow(int64_t id, NSWindow* parent = nullptr) {
  auto* window = objc_alloc<NSWindow>()->initWithContentRect(NSMakeRect(100, 100, 400, 300));
  auto* delegate = objc_alloc<WindowIdDelegate>(id);
  window->setDelegate(delegate);
  auto* record = static_cast<WindowRecord*>(RegistryAllocate(WindowRegistry(), id));
  record->window = window;
  record->parent = parent;
  if (parent != nullptr) {
    parent->addChildWindow(window, 1);
  }
  return {window, delegate, record};
}

// A program menu of a window, as a menu-creating command would make it.
MenuRecord* MakeMenu(int64_t id, NSWindow* owner, int32_t skip = 0) {
  auto* record = static_cast<MenuRecord*>(RegistryAllocate(MenuRegistry(), id));
  record->first = objc_alloc<NSObject>();
  record->second = objc_alloc<NSObject>();
  record->third = objc_alloc<NSObject>();
  record->owner_window = owner;
  record->menu_bar_skip = skip;
  record->menu_bar = objc_alloc<NSMenu>();
  return record;
}

int64_t WindowEventCount(int64_t window) {
  int64_t n = 0;
  for (const QueuedEvent& e : DrainEvents()) {
    n += e.window == window ? 1 : 0;
  }
  return n;
}

void Noop() {}

class Windows : public ShellTest {
 protected:
  void TearDown() override {
    WindowFree(-1);
    MenuFree(-1);
    InstallMenuBar(DefaultMenuBar(), -1);
    ShellTest::TearDown();
  }
};

TEST_F(Windows, IdsComeFromTheDelegate) {
  auto* plain = objc_alloc<NSWindow>();
  EXPECT_EQ(WindowIdOf(plain), -1) << "no delegate";
  auto* silent = objc_alloc<NSObject>();
  plain->setDelegate(silent);
  EXPECT_EQ(WindowIdOf(plain), -1) << "a delegate that does not answer windowID";
  EXPECT_EQ(WindowBlocksMenuEvents(plain), 0);
  EXPECT_EQ(WindowIdOf(nullptr), -1);
  TestWindow w = OpenWindow(4);
  EXPECT_EQ(WindowIdOf(w.window), 4);
  EXPECT_EQ(WindowRecordOf(4), w.record);
  EXPECT_EQ(WindowPlatformWindowOf(4), w.window);
  EXPECT_EQ(WindowRecordOf(5), nullptr);
  EXPECT_EQ(WindowPlatformWindowOf(5), nullptr);
  EXPECT_EQ(WindowBlocksMenuEvents(w.window), 0);
  w.record->menu_events_blocked = 1;
  EXPECT_EQ(WindowBlocksMenuEvents(w.window), 1);
  WindowFree(4);
  EXPECT_EQ(WindowBlocksMenuEvents(plain), 0);
  objc_release(w.delegate);
  objc_release(plain);
  objc_release(silent);
}

TEST_F(Windows, NewListInstallsAFlippedContentView) {
  TestWindow w = OpenWindow(1);
  ASSERT_EQ(w.window->contentView(), nullptr);
  EXPECT_EQ(ZnGadgetList::setWindow(w.window), nullptr);
  ZnGadgetList* list = ZnGadgetList::currentList();
  ASSERT_NE(list, nullptr);
  NSView* content = w.window->contentView();
  ASSERT_NE(content, nullptr);
  EXPECT_STREQ(content->className(), "Zn_NSFlippedView");
  EXPECT_TRUE(content->isFlipped());
  EXPECT_EQ(list->top(), content);
  EXPECT_EQ(ZnGadgetList::currentView(), content);
  EXPECT_EQ(ZnGadgetList::currentWindow(), w.window);
  EXPECT_EQ(list->stackIndex(), 0);
  EXPECT_EQ(list->StackSize, 10);
  WindowFree(1);
  objc_release(w.delegate);
}

TEST_F(Windows, ElevenPushesGrowTheStackAndPopsComeBackInReverse) {
  TestWindow w = OpenWindow(1);
  auto* content = objc_alloc<NSView>();
  w.window->setContentView(content);
  objc_release(content);
  ZnGadgetList::setWindow(w.window);
  ZnGadgetList* list = ZnGadgetList::currentList();
  EXPECT_EQ(list->top(), content) << "an existing content view is used as it is";
  std::vector<NSView*> views;
  for (int i = 0; i < 11; ++i) {
    views.push_back(objc_alloc<NSView>());
    list->push(views.back());
  }
  EXPECT_EQ(list->StackSize, 20);
  EXPECT_EQ(list->stackIndex(), 11);
  EXPECT_EQ(list->top(), views[10]);
  for (int i = 10; i >= 1; --i) {
    list->pop();
    EXPECT_EQ(list->top(), views[i - 1]) << "pop " << 11 - i;
  }
  list->pop();
  EXPECT_EQ(list->top(), content) << "the eleventh pop brings back the first top view";
  EXPECT_EQ(list->stackIndex(), 0);
  list->pop();
  EXPECT_EQ(list->stackIndex(), 0) << "a twelfth pop stays at 0";
  EXPECT_EQ(list->top(), content);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(list->Views[i], nullptr) << "entry " << i << " cleared";
  }
  list->pushNoView();
  EXPECT_EQ(list->top(), nullptr);
  list->set(views[3]);
  EXPECT_EQ(list->top(), views[3]);
  EXPECT_EQ(list->stackIndex(), 1) << "set leaves the stack alone";
  for (NSView* v : views) {
    objc_release(v);
  }
  WindowFree(1);
  objc_release(w.delegate);
}

TEST_F(Windows, SetWindowWithNilAndTwiceWithOneWindow) {
  TestWindow a = OpenWindow(1);
  TestWindow b = OpenWindow(2);
  const int64_t lists = ShellGadgetLists()->count();
  EXPECT_EQ(ZnGadgetList::setWindow(a.window), nullptr);
  ZnGadgetList* list_a = ZnGadgetList::currentList();
  EXPECT_EQ(ZnGadgetList::setWindow(nullptr), a.window);
  EXPECT_EQ(ZnGadgetList::currentList(), list_a) << "nil changes nothing";
  EXPECT_EQ(ZnGadgetList::setWindow(b.window), a.window);
  EXPECT_EQ(ZnGadgetList::setWindow(a.window), b.window);
  EXPECT_EQ(ZnGadgetList::currentList(), list_a) << "the window's list is reused";
  EXPECT_EQ(ZnGadgetList::setWindow(a.window), a.window);
  EXPECT_EQ(ShellGadgetLists()->count(), lists + 2);
  EXPECT_EQ(ZnGadgetList::listFromWindow(b.window)->window(), b.window);
  ZnGadgetList::removeWindow(a.window);
  EXPECT_EQ(ZnGadgetList::currentList(), nullptr);
  EXPECT_EQ(ZnGadgetList::currentView(), nullptr);
  EXPECT_EQ(ZnGadgetList::currentWindow(), nullptr);
  EXPECT_EQ(ShellGadgetLists()->count(), lists + 1);
  ZnGadgetList::removeWindow(a.window);
  EXPECT_EQ(ShellGadgetLists()->count(), lists + 1) << "a second removal does nothing";
  ZnGadgetList::setWindow(b.window);
  ZnGadgetList::removeWindow(a.window);
  EXPECT_NE(ZnGadgetList::currentList(), nullptr) << "removing another list keeps the current";
  WindowFree(1);
  WindowFree(2);
  EXPECT_EQ(ShellGadgetLists()->count(), lists) << "a freed window takes its list along";
  objc_release(a.delegate);
  objc_release(b.delegate);
}

// Every allocation of a new list (and of its window's content view) refused in turn: the window
// gets its list and is current, or nothing changed; freeing the window then leaves nothing.
TEST_F(Windows, ExhaustedMemoryLeavesNoHalfMadeListAndFreeLeavesNothing) {
  const int64_t lists = ShellGadgetLists()->count();
  const int64_t runs = test::HeapFailEachMode([&](const test::FailurePoint& at) {
    const int64_t objects = DesktopLiveObjects();
    TestWindow w = OpenWindow(3);  // its numbered record stays in the registry for reuse
    const test::LiveBlockGuard live;
    at.Arm();
    ZnGadgetList::setWindow(w.window);
    const bool made = ZnGadgetList::currentWindow() == w.window;
    const int64_t made_lists = ShellGadgetLists()->count();
    const bool has_content = w.window->contentView() != nullptr;
    WindowFree(3);
    test::HeapFailNever();
    EXPECT_EQ(made_lists, lists + (made ? 1 : 0));
    EXPECT_EQ(has_content, made) << "no content view of a list not made";
    EXPECT_EQ(ShellGadgetLists()->count(), lists);
    objc_release(w.delegate);
    objc_release(pool_);  // what the attempt autoreleased
    pool_ = objc_alloc<NSAutoreleasePool>();
    EXPECT_EQ(DesktopLiveObjects(), objects);
  });
  EXPECT_GT(runs, 4) << "the list, its storage and its content view each met a refusal";
}

// A menu bar without room for the application menu's item: nothing changes.
TEST_F(Windows, InstallMenuBarIsAllOrNothing) {
  const int64_t runs = test::HeapFailEachMode([&](const test::FailurePoint& at) {
    auto* bar = objc_alloc<NSMenu>();
    at.Arm();
    InstallMenuBar(bar, 5);
    test::HeapFailNever();
    NSMenu* shown = NSApp->mainMenu();
    EXPECT_TRUE(shown == bar || shown == DefaultMenuBar());
    EXPECT_EQ(shown->indexOfItem(ApplicationMenu().apple_menu_item), 0);
    EXPECT_EQ(MenuDelegate()->WindowID, shown == bar ? 5 : -1);
    InstallMenuBar(DefaultMenuBar(), -1);
    objc_release(bar);
  });
  EXPECT_GT(runs, 2) << "the new bar's room was refused";
}

// The order of WindowFree, seen through the model's call log and the state at each call.
TEST_F(Windows, FreeRunsItsStepsInOrder) {
  TestWindow parent = OpenWindow(1);
  TestWindow child = OpenWindow(2, parent.window);
  {
    AutoreleasePoolScope inner;  // leaves the list and its flipped view to their owners
    ZnGadgetList::setWindow(child.window);
  }
  child.window->makeKeyWindow();
  MakeMenu(0, child.window);
  EventBind(EventTypeGadget, Noop, 2, 7, EventAny);
  EventBind(EventTypeGadget, Noop, 1, 7, EventAny);
  EventPostSimple(EventTypeGadget, 7, 2, 0);
  EventPostSimple(EventTypeGadget, 7, 1, 0);
  static std::vector<std::string> steps;
  steps.clear();
  WindowGadgetsFreeSet([](int64_t window) {
    steps.push_back("gadgets " + std::to_string(window) + " bindings left " +
                    std::to_string(EventBindingKeyCount()));
  });
  DesktopCallLogStart([](std::string_view entry) {
    if (entry == "NSWindow close" || entry == "NSWindow makeKeyWindow") {
      int64_t object = 0, window = 0, subtype = 0;
      EventPeek(&object, &window, &subtype);
      steps.push_back(std::string(entry) + " first queued window " + std::to_string(window));
    } else if (entry != "NSApplication postEvent:atStart:") {
      steps.emplace_back(entry);
    }
  });
  WindowFree(2);
  DesktopCallLogTake();
  WindowGadgetsFreeSet(nullptr);
  const std::vector<std::string> expected = {
      "gadgets 2 bindings left 1",
      "NSWindow isKeyWindow",
      "NSWindow isVisible",
      "dealloc NSObject",
      "dealloc NSObject",
      "dealloc NSObject",
      "dealloc NSMenu",
      "NSWindow removeChildWindow:",
      "dealloc ZnGadgetList",
      "NSWindow close",
      "dealloc Zn_NSFlippedView",
      "dealloc NSWindow",
      "NSWindow makeKeyWindow first queued window 1",
  };
  // The close's own entry is logged before the window's events go: the queue still starts
  // with window 2's event at that point.
  std::vector<std::string> want = expected;
  want[9] = "NSWindow close first queued window 2";
  EXPECT_EQ(steps, want);
  EXPECT_EQ(NSApp->keyWindow(), parent.window) << "the parent took the focus";
  EXPECT_EQ(WindowRecordOf(2), nullptr) << "the record is released";
  EXPECT_EQ(RegistryLookup(MenuRegistry(), 0), nullptr) << "the window's menu is freed";
  EXPECT_EQ(WindowEventCount(2), 0);
  WindowFree(2);
  WindowFree(1);
  objc_release(parent.delegate);
  objc_release(child.delegate);
}

TEST_F(Windows, FocusGoesNowhereWhenTheParentIsHiddenOrUnknown) {
  TestWindow parent = OpenWindow(1);
  TestWindow child = OpenWindow(2, parent.window);
  parent.window->setIsVisible(false);
  child.window->makeKeyWindow();
  WindowFree(2);
  EXPECT_EQ(NSApp->keyWindow(), nullptr) << "hidden parent: no window is chosen";

  auto* stranger = objc_alloc<NSWindow>();  // a parent the registry does not know
  TestWindow orphan = OpenWindow(3, stranger);
  TestWindow visible = OpenWindow(4);
  orphan.window->makeKeyWindow();
  WindowFree(3);
  EXPECT_EQ(NSApp->keyWindow(), nullptr) << "unregistered parent: no window is chosen";

  TestWindow loner = OpenWindow(5);
  loner.record->parent = loner.window;  // its own parent: the closing window is never chosen
  loner.window->makeKeyWindow();
  WindowFree(5);
  EXPECT_EQ(NSApp->keyWindow(), nullptr);

  TestWindow not_key = OpenWindow(6, parent.window);
  visible.window->makeKeyWindow();
  WindowFree(6);
  EXPECT_EQ(NSApp->keyWindow(), visible.window) << "a window that is not key hands nothing on";
  WindowFree(-1);
  objc_release(stranger);
  for (auto* d : {parent.delegate, child.delegate, orphan.delegate, visible.delegate,
                  loner.delegate, not_key.delegate}) {
    objc_release(d);
  }
}

TEST_F(Windows, FreeAllFreesEveryWindowOnce) {
  TestWindow a = OpenWindow(0);
  TestWindow b = OpenWindow(1, a.window);
  TestWindow c = OpenWindow(7);
  TestWindow d = OpenWindow(AnyId);
  b.window->makeKeyWindow();
  EventPostSimple(EventTypeMenu, 1, 7, EventSubtypeNone);
  WindowFree(-1);
  for (int64_t id : {0, 1, 7}) {
    EXPECT_EQ(WindowRecordOf(id), nullptr) << "window " << id;
  }
  int64_t left = 0;
  RegistryFirst(WindowRegistry());
  EXPECT_EQ(RegistryNext(WindowRegistry(), &left), nullptr) << "the free-standing one too";
  RegistryDone(WindowRegistry());
  EXPECT_EQ(EventQueueLength(), 0);
  WindowFree(-1);
  WindowFree(1);
  for (auto* x : {a.delegate, b.delegate, c.delegate, d.delegate}) {
    objc_release(x);
  }
}

TEST_F(Windows, FreeAllEndsOnAFreeStandingRecordNotYetFilledIn) {
  // A window-opening command that took its record and has not set the window yet.
  ASSERT_NE(RegistryAllocate(WindowRegistry(), AnyId), nullptr);
  TestWindow w = OpenWindow(2);
  WindowFree(-1);
  int64_t left = 0;
  RegistryFirst(WindowRegistry());
  EXPECT_EQ(RegistryNext(WindowRegistry(), &left), nullptr) << "both records are released";
  RegistryDone(WindowRegistry());
  objc_release(w.delegate);
}

TEST_F(Windows, FreeingOneWindowKeepsTheOthersEventsAndBindings) {
  TestWindow a = OpenWindow(1);
  TestWindow b = OpenWindow(2);
  EventBind(EventTypeGadget, Noop, 1, 5, EventAny);
  EventBind(EventTypeMenu, Noop, 2, EventAny, EventAny);
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  EventPostSimple(EventTypeGadget, 5, 2, 0);
  WindowFree(1);
  EXPECT_EQ(EventBindingKeyCount(), 1);
  EXPECT_EQ(DrainEvents(), (std::vector<QueuedEvent>{{3, 5, 2, 0}}));
  EXPECT_EQ(WindowPlatformWindowOf(2), b.window);
  WindowFree(2);
  objc_release(a.delegate);
  objc_release(b.delegate);
}

TEST_F(Windows, FreeingTheShowingMenuBringsBackTheDefaultMenuBar) {
  TestWindow w = OpenWindow(3);
  MenuRecord* menu = MakeMenu(0, w.window);
  InstallMenuBar(menu->menu_bar, 3);
  EXPECT_EQ(NSApp->mainMenu(), menu->menu_bar);
  EXPECT_EQ(menu->menu_bar->itemAtIndex(0), ApplicationMenu().apple_menu_item);
  EXPECT_EQ(DefaultMenuBar()->numberOfItems(), 0) << "the application menu moved";
  EXPECT_EQ(MenuDelegate()->WindowID, 3);
  const int64_t live = DesktopLiveObjects();
  MenuFree(0);
  EXPECT_EQ(NSApp->mainMenu(), DefaultMenuBar());
  ASSERT_EQ(DefaultMenuBar()->numberOfItems(), 1);
  EXPECT_EQ(DefaultMenuBar()->itemAtIndex(0), ApplicationMenu().apple_menu_item);
  EXPECT_EQ(MenuDelegate()->WindowID, -1);
  EXPECT_EQ(DesktopLiveObjects(), live - 4) << "three objects and the menu bar released";
  EXPECT_EQ(RegistryLookup(MenuRegistry(), 0), nullptr);
  MenuFree(0);
  MenuFree(12345);
  WindowFree(3);
  objc_release(w.delegate);
}

TEST_F(Windows, MenuThreadSlotIsTwoZeroedWords) {
  ASSERT_NE(MenuThreadSlot(), nullptr);
  const auto* words = static_cast<const int64_t*>(ThreadSlotGet(MenuThreadSlot()));
  EXPECT_EQ(SizedSizeOf(words), 2 * static_cast<int64_t>(sizeof(int64_t)));
  EXPECT_EQ(words[0], 0);
  EXPECT_EQ(words[1], 0);
}

TEST_F(Windows, MenuLookupsByWindow) {
  TestWindow a = OpenWindow(1);
  TestWindow b = OpenWindow(2);
  MakeMenu(0, a.window, 1);
  MenuRecord* shown = MakeMenu(1, a.window);
  MakeMenu(2, b.window);
  ShowMenuBarOfWindow(a.window);
  EXPECT_EQ(NSApp->mainMenu(), shown->menu_bar) << "the skip flag passes over menu 0";
  EXPECT_EQ(MenuDelegate()->WindowID, 1);
  auto* nobody = objc_alloc<NSWindow>();
  ShowMenuBarOfWindow(nobody);
  EXPECT_EQ(NSApp->mainMenu(), shown->menu_bar) << "no menu: nothing changes";
  MenuFreeForWindow(a.window);
  EXPECT_EQ(RegistryLookup(MenuRegistry(), 0), nullptr) << "the first menu of the window";
  EXPECT_NE(RegistryLookup(MenuRegistry(), 1), nullptr) << "only the first";
  MenuFreeForWindow(nobody);
  MenuFreeAll();
  EXPECT_EQ(RegistryLookup(MenuRegistry(), 1), nullptr);
  EXPECT_EQ(RegistryLookup(MenuRegistry(), 2), nullptr);
  EXPECT_EQ(NSApp->mainMenu(), DefaultMenuBar());
  objc_release(nobody);
  WindowFree(-1);
  objc_release(a.delegate);
  objc_release(b.delegate);
}

TEST_F(Windows, ProgramMenuItemsPostTheirTags) {
  TestWindow w = OpenWindow(6);
  MenuRecord* window_menu = MakeMenu(0, w.window);
  MenuRecord* free_menu = MakeMenu(1, nullptr);
  auto make_item = [](MenuRecord* record, int64_t tag) {
    auto* item =
        objc_alloc<NSMenuItem>()->initWithTitle(NSSTR(u"Item"), "eventHandler:", NSSTR(u""));
    item->setTag(tag);
    item->setTarget(MenuDelegate());
    auto* object = objc_alloc<ZnMenuObject>()->initWithMenu(record);
    item->setRepresentedObject(object);
    objc_release(object);
    return item;
  };
  NSMenuItem* in_window = make_item(window_menu, 21);
  NSMenuItem* in_none = make_item(free_menu, 22);
  window_menu->menu_bar->addItem(in_window);
  window_menu->menu_bar->performActionForItemAtIndex(0);
  MenuDelegate()->eventHandler(in_none);
  w.record->menu_events_blocked = 1;
  MenuDelegate()->eventHandler(in_window);
  EXPECT_EQ(DrainEvents(), (std::vector<QueuedEvent>{{1, 21, 6, 0}, {1, 22, 0, 0}}))
      << "a blocked window's item posts nothing";
  objc_release(in_window);
  objc_release(in_none);
  WindowFree(6);
  MenuFree(1);
  objc_release(w.delegate);
}

// Re-entrancy of the window's gadget release, which WindowFree calls in the middle of freeing a
// window: a routine that frees its own window again, another window, every window, or iterates the
// windows. Every window goes exactly once and none is left; the sanitizers see any freed record
// that is read.
std::function<void(int64_t)> gadgets_behaviour;
std::vector<int64_t> gadgets_freed;

TEST_F(Windows, GadgetReleaseMayReenterTheWindows) {
  const struct {
    const char* name;
    std::function<void(int64_t)> act;
  } cases[] = {
      {"frees its own window", [](int64_t window) { WindowFree(window); }},
      {"frees another window", [](int64_t window) { WindowFree(window == 1 ? 2 : 1); }},
      {"frees every window", [](int64_t) { WindowFree(-1); }},
      {"iterates the windows",
       [](int64_t) {
         int64_t id = 0;
         RegistryFirst(WindowRegistry());
         while (RegistryNext(WindowRegistry(), &id) != nullptr) {
           WindowRecordOf(id);
         }
         RegistryDone(WindowRegistry());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gadgets_behaviour = c.act;
    gadgets_freed.clear();
    WindowGadgetsFreeSet([](int64_t window) {
      gadgets_freed.push_back(window);
      gadgets_behaviour(window);
    });
    TestWindow a = OpenWindow(1);
    TestWindow b = OpenWindow(2, a.window);
    TestWindow c3 = OpenWindow(3);
    EventBind(EventTypeGadget, Noop, 2, EventAny, EventAny);
    EventPostSimple(EventTypeGadget, 5, 2, EventSubtypeNone);
    WindowFree(1);
    EXPECT_EQ(WindowRecordOf(1), nullptr);
    WindowFree(-1);
    for (const int64_t id : {1, 2, 3}) {
      EXPECT_EQ(WindowRecordOf(id), nullptr) << "window " << id;
      EXPECT_EQ(std::count(gadgets_freed.begin(), gadgets_freed.end(), id), 1) << "window " << id;
    }
    EXPECT_EQ(EventQueueLength(), 0);
    WindowGadgetsFreeSet(nullptr);
    for (auto* x : {a.delegate, b.delegate, c3.delegate}) {
      objc_release(x);
    }
  }
}

}  // namespace
}  // namespace zn
