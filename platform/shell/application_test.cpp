// Tests of the application object, its delegate, the start steps and the application menu.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/shell/shell.h"
#include "platform/shell/shell_test_support.h"
#include "platform/shell/shell_testing.h"
#include "runtime/events/events.h"
#include "system/desktop/application.h"
#include "system/desktop/desktop_testing.h"
#include "system/desktop/foundation.h"
#include "system/desktop/menus.h"
#include "system/desktop/object.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

using namespace desktop;
using testing_support::DrainEvents;
using testing_support::QueuedEvent;
using testing_support::ShellTest;

// A responder that answers a set of actions and records what it received.
class EditingResponder : public NSObject {
 public:
  explicit EditingResponder(std::vector<std::string> handled) : handled_(std::move(handled)) {}
  bool respondsToSelector(SEL selector) const override {
    for (const std::string& h : handled_) {
      if (selector == h) {
        return true;
      }
    }
    return false;
  }
  bool performAction(SEL selector, NSObject* /*argument*/) override {
    received.emplace_back(selector);
    return true;
  }
  std::vector<std::string> received;

 private:
  std::vector<std::string> handled_;
};

class Application : public ShellTest {};

std::u16string Title(NSMenuItem* item) {
  return std::u16string(item->title()->characters());
}
std::u16string Key(NSMenuItem* item) {
  return std::u16string(item->keyEquivalent()->characters());
}

TEST_F(Application, StartStepMakesTheApplicationAndItsMenuBar) {
  ASSERT_NE(NSApp, nullptr);
  EXPECT_STREQ(NSApp->className(), "ZnApplication");
  EXPECT_GE(NSApp->finishLaunchingCalls(), 1);
  EXPECT_EQ(NSApp->activationPolicy(), NSApplicationActivationPolicyRegular);
  ASSERT_NE(MenuDelegate(), nullptr);
  EXPECT_EQ(MenuDelegate()->WindowID, -1);
  ASSERT_NE(NSApp->delegate(), nullptr);
  EXPECT_STREQ(NSApp->delegate()->className(), "ZnApplicationDelegate");
  EXPECT_EQ(NSApp->mainMenu(), DefaultMenuBar());
  ASSERT_EQ(DefaultMenuBar()->numberOfItems(), 1);
  NSMenuItem* apple = DefaultMenuBar()->itemAtIndex(0);
  EXPECT_EQ(apple, ApplicationMenu().apple_menu_item);
  EXPECT_EQ(Title(apple), u"Apple");
  EXPECT_TRUE(apple->action().empty());
  EXPECT_EQ(apple->submenu(), ApplicationMenu().application_menu);
  const auto* flag = dynamic_cast<NSNumber*>(
      NSUserDefaults::standardUserDefaults()->objectForKey(NSSTR(u"NSFunctionBarAPIEnabled")));
  ASSERT_NE(flag, nullptr) << "the one registered default";
  EXPECT_FALSE(flag->boolValue());
}

TEST_F(Application, ApplicationMenuOfToolItemByItem) {
  NSMenu* menu = ApplicationMenu().application_menu;
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->title()->characters(), u"");
  ASSERT_EQ(menu->numberOfItems(), 11);
  struct Expected {
    std::u16string title;
    std::string action;
    std::u16string key;
    uint64_t mask;
  };
  const Expected expected[] = {
      {u"About tool", "about:", u"", NSEventModifierFlagCommand},
      {u"", "", u"", 0},
      {u"Preferences\u2026", "preferences:", u",", NSEventModifierFlagCommand},
      {u"", "", u"", 0},
      {u"Services", "", u"", NSEventModifierFlagCommand},
      {u"", "", u"", 0},
      {u"Hide tool", "hide:", u"h", NSEventModifierFlagCommand},
      {u"Hide Others", "hideOtherApplications:", u"h", 0x180000},
      {u"Show All", "unhideAllApplications:", u"", NSEventModifierFlagCommand},
      {u"", "", u"", 0},
      {u"Quit tool", "terminate:", u"q", NSEventModifierFlagCommand},
  };
  for (int i = 0; i < 11; ++i) {
    NSMenuItem* item = menu->itemAtIndex(i);
    const Expected& e = expected[i];
    const bool separator = e.title.empty();
    EXPECT_EQ(item->isSeparatorItem(), separator) << "item " << i + 1;
    if (separator) {
      continue;
    }
    EXPECT_EQ(Title(item), e.title) << "item " << i + 1;
    EXPECT_EQ(std::string(item->action()), e.action) << "item " << i + 1;
    EXPECT_EQ(Key(item), e.key) << "item " << i + 1;
    EXPECT_EQ(item->keyEquivalentModifierMask(), e.mask) << "item " << i + 1;
    if (i == 10) {
      EXPECT_EQ(item->target(), MenuDelegate()) << "the Quit item's target";
    } else {
      EXPECT_EQ(item->target(), nullptr) << "item " << i + 1 << " goes along the chain";
    }
  }
  EXPECT_EQ(menu->itemAtIndex(0), ApplicationMenu().about_item);
  EXPECT_EQ(menu->itemAtIndex(2), ApplicationMenu().preferences_item);
  EXPECT_EQ(menu->itemAtIndex(10), ApplicationMenu().quit_item);
  NSMenu* services = menu->itemAtIndex(4)->submenu();
  ASSERT_NE(services, nullptr);
  EXPECT_EQ(services, ApplicationMenu().services_menu);
  EXPECT_EQ(services->title()->characters(), u"Services");
  EXPECT_EQ(services->numberOfItems(), 0);
}

TEST_F(Application, SecondBuildGivesAnotherEmptyMenuBar) {
  NSMenu* before = ApplicationMenu().application_menu;
  NSMenu* bar = BuildApplicationMenu();
  ASSERT_NE(bar, nullptr);
  EXPECT_NE(bar, DefaultMenuBar());
  EXPECT_EQ(bar->numberOfItems(), 0);
  EXPECT_EQ(ApplicationMenu().application_menu, before);
  EXPECT_EQ(before->numberOfItems(), 11);
  objc_release(bar);
}

TEST_F(Application, QuitAboutAndPreferencesBecomeMenuEvents) {
  NSMenu* menu = ApplicationMenu().application_menu;
  menu->performActionForItemAtIndex(10);
  MenuDelegate()->setWindowID(3);
  menu->performActionForItemAtIndex(10);
  MenuDelegate()->about(nullptr);
  MenuDelegate()->preferences(nullptr);
  MenuDelegate()->setWindowID(-1);
  EXPECT_EQ(DrainEvents(),
            (std::vector<QueuedEvent>{
                {EventTypeMenu, MenuItemQuit, EventWindowApplication, EventSubtypeNone},
                {EventTypeMenu, MenuItemQuit, 3, EventSubtypeNone},
                {EventTypeMenu, MenuItemAbout, 3, EventSubtypeNone},
                {EventTypeMenu, MenuItemPreferences, 3, EventSubtypeNone}}));
}

TEST_F(Application, TerminateRequestPostsQuitAndCancels) {
  auto* delegate = static_cast<ZnApplicationDelegate*>(NSApp->delegate());
  const int64_t wakes = DesktopTestQueuedEvents(NSApp);
  EXPECT_EQ(delegate->applicationShouldTerminate(NSApp), NSTerminateCancel);
  EXPECT_EQ(DesktopTestQueuedEvents(NSApp), wakes + 1) << "a menu event wakes the platform loop";
  EXPECT_EQ(DrainEvents(), (std::vector<QueuedEvent>{{EventTypeMenu, MenuItemQuit,
                                                      EventWindowApplication, EventSubtypeNone}}));
}

TEST_F(Application, OpenFilesJoinsPathsWithTabs) {
  static std::string received;
  received = "unset";
  auto* delegate = static_cast<ZnApplicationDelegate*>(NSApp->delegate());
  NSArray* paths = NSArray::arrayWithObjects({NSSTR(u"a"), NSSTR(u"b")});
  delegate->application_openFiles(NSApp, paths);
  EXPECT_EQ(received, "unset") << "no callback set: nothing is called";
  ShellOpenFilesCallbackSet([](const char* text) { received = text; });
  delegate->application_openFiles(NSApp, paths);
  EXPECT_EQ(received, "a\tb");
  ShellOpenFilesCallbackSet(nullptr);
}

// The editing keys: whether the event reached the inherited dispatch, and what the chain got.
struct KeyCase {
  uint64_t modifiers;
  std::u16string characters;
  bool chain_handles;
  std::vector<std::string> received;
  bool passed_on;
};

TEST_F(Application, EditingKeysGoAlongTheResponderChain) {
  constexpr uint64_t cmd = NSEventModifierFlagCommand;
  constexpr uint64_t shift = NSEventModifierFlagShift;
  constexpr uint64_t option = NSEventModifierFlagOption;
  constexpr uint64_t control = NSEventModifierFlagControl;
  const std::vector<KeyCase> cases = {
      {cmd, u"c", true, {"copy:"}, false},
      {cmd, u"c", false, {}, true},
      {cmd, u"x", true, {"cut:"}, false},
      {cmd, u"v", true, {"paste:"}, false},
      {cmd, u"a", true, {"selectAll:"}, false},
      {cmd, u"z", true, {"undo:"}, true},
      {cmd, u"z", false, {}, true},
      {cmd | shift, u"z", true, {"redo:"}, false},
      {cmd | shift, u"z", false, {}, true},
      {cmd | option, u"c", true, {}, true},
      {cmd | control, u"v", true, {}, true},
      {cmd | shift, u"c", true, {}, true},
      {cmd, u"q", true, {}, true},
      {0, u"c", true, {}, true},
      {cmd | 0x100, u"c", true, {"copy:"}, false},  // device-dependent bits do not count
  };
  for (const KeyCase& k : cases) {
    auto* responder = objc_alloc<EditingResponder>(
        k.chain_handles
            ? std::vector<std::string>{"cut:", "copy:", "paste:", "selectAll:", "undo:", "redo:"}
            : std::vector<std::string>{});
    DesktopTestAddResponder(NSApp, responder);
    const int64_t before = DesktopTestDispatchedEvents(NSApp);
    NSApp->sendEvent(NSEvent::keyEventWithType(NSEventTypeKeyDown, k.modifiers,
                                               NSString::stringWithCharacters(k.characters)));
    const std::string name = "modifiers " + std::to_string(k.modifiers) + " key " +
                             std::string(k.characters.begin(), k.characters.end()) +
                             (k.chain_handles ? " handled" : " unhandled");
    EXPECT_EQ(responder->received, k.received) << name;
    EXPECT_EQ(DesktopTestDispatchedEvents(NSApp) - before, k.passed_on ? 1 : 0) << name;
    DesktopTestRemoveResponders(NSApp);
    objc_release(responder);
  }
}

TEST_F(Application, OtherEventsPassOnUntouched) {
  auto* responder = objc_alloc<EditingResponder>(std::vector<std::string>{"copy:"});
  DesktopTestAddResponder(NSApp, responder);
  NSEvent* event = NSEvent::otherEventWithType(NSEventTypeApplicationDefined, NSPoint{0, 0},
                                               NSEventModifierFlagCommand, 0, 0, nullptr, 0, 0, 0);
  NSApp->sendEvent(event);
  EXPECT_EQ(DesktopTestLastDispatchedEvent(NSApp), event);
  EXPECT_TRUE(responder->received.empty());
  DesktopTestRemoveResponders(NSApp);
  objc_release(responder);
}

// An object that says when it is destroyed.
class Tracked : public NSObject {
 public:
  explicit Tracked(bool* destroyed) : destroyed_(destroyed) {}
  ~Tracked() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

TEST_F(Application, RecyclePoolReleasesWhatItHeld) {
  NSAutoreleasePool* old_pool = ApplicationPool();
  objc_release(pool_);  // the test's pool would otherwise catch the autorelease below
  bool destroyed = false;
  objc_autorelease(objc_alloc<Tracked>(&destroyed));
  EXPECT_EQ(old_pool->count() > 0, true);
  RecycleApplicationPool();
  EXPECT_TRUE(destroyed) << "the old pool released what it held";
  ASSERT_NE(ApplicationPool(), nullptr);
  EXPECT_EQ(ApplicationPool()->count(), 0) << "a new, empty pool";
  pool_ = objc_alloc<NSAutoreleasePool>();
  live_ = DesktopLiveObjects();  // the old pool's objects are gone for good
}

TEST(ProcessStartup, FrontProcessOnlyWhenTheSerialNumberIsKnown) {
  const int64_t calls = DesktopFrontProcessCalls();
  ProcessStartup();
  EXPECT_EQ(DesktopFrontProcessCalls(), calls + 1);
  DesktopTestFailGetCurrentProcess(true);
  ProcessStartup();
  EXPECT_EQ(DesktopFrontProcessCalls(), calls + 1);
  DesktopTestFailGetCurrentProcess(false);
}

// Start and reset from nothing: everything the start step makes is released again. Runs the
// steps afresh, so it restores the started state for the tests after it.
TEST(ApplicationStartup, StartAndResetLeaveNothing) {
  testing_support::StartShell();  // the registries and thread slots exist from here on
  ShellTestReset();
  DesktopTestReset();
  const int64_t live = DesktopLiveObjects();
  testing_support::StartShell();
  EXPECT_GT(DesktopLiveObjects(), live + 20) << "application, pool, menus and items";
  ShellTestReset();
  DesktopTestReset();
  EXPECT_EQ(DesktopLiveObjects(), live);
  EXPECT_EQ(DesktopFaults(), 0) << DesktopLastFault();
  testing_support::StartShell();
}

// The start step under each refused allocation: the application menu, the default menu bar and
// both delegates are there whole, or none of them is; the shell's end then leaves nothing, and
// the next start builds them whole.
TEST(ApplicationStartup, ExhaustedMemoryGivesTheWholeMenuOrNone) {
  testing_support::StartShell();
  ApplicationEnd();
  const int64_t faults = DesktopFaults();
  const int64_t runs = test::HeapFailEachMode([](const test::FailurePoint& at) {
    const test::LiveBlockGuard live;
    const int64_t objects = DesktopLiveObjects();
    at.Arm();
    ApplicationStartup();
    test::HeapFailNever();
    const NSMenu* menu = ApplicationMenu().application_menu;
    const bool whole = menu != nullptr && NSApp != nullptr && NSApp->mainMenu() == DefaultMenuBar();
    EXPECT_EQ(whole ? menu->numberOfItems() : 0, whole ? 11 : 0);
    EXPECT_EQ(MenuDelegate() != nullptr, whole);
    EXPECT_EQ(DefaultMenuBar() != nullptr, whole);
    EXPECT_EQ(NSApp != nullptr && NSApp->delegate() != nullptr, whole);
    ApplicationEnd();
    EXPECT_EQ(DesktopLiveObjects(), objects);
  });
  EXPECT_GT(runs, 60) << "each object of the menu met a refusal";
  EXPECT_EQ(DesktopFaults(), faults) << DesktopLastFault();
  testing_support::StartShell();
}

TEST(ApplicationStartup, ExistingDelegateSkipsTheMenuAndDelegates) {
  testing_support::StartShell();
  ShellTestReset();
  DesktopTestReset();
  const int64_t live = DesktopLiveObjects();
  auto* other = objc_alloc<NSObject>();
  NSApplication::sharedApplication()->setDelegate(other);
  ApplicationStartup();
  EXPECT_EQ(MenuDelegate(), nullptr);
  EXPECT_EQ(DefaultMenuBar(), nullptr);
  EXPECT_EQ(ApplicationMenu().application_menu, nullptr);
  EXPECT_EQ(NSApp->delegate(), other);
  EXPECT_EQ(NSApp->mainMenu(), nullptr);
  EXPECT_EQ(NSApp->finishLaunchingCalls(), 1);
  EXPECT_STREQ(NSApp->className(), "NSApplication") << "the application existed already";
  ShellTestReset();
  DesktopTestReset();
  objc_release(other);
  EXPECT_EQ(DesktopLiveObjects(), live);
  testing_support::StartShell();
}

}  // namespace
}  // namespace zn
