// Tests of the gadget base class: set-up and reuse, events, commands for controls and other
// views, geometry in both conventions, and freeing single gadgets, a window's gadgets or all.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gadgets/gadgets.h"
#include "platform/shell/shell.h"
#include "runtime/containers/containers.h"
#include "runtime/events/events.h"
#include "runtime/events/events_testing.h"
#include "system/desktop/application.h"
#include "system/desktop/desktop_testing.h"
#include "system/desktop/foundation.h"
#include "system/desktop/object.h"
#include "system/desktop/screens.h"
#include "system/desktop/windows.h"

namespace zn {
namespace {

using namespace desktop;

// Main views of a test gadget kind: they answer setAlreadyDestroyed: as every gadget view must.
template <class Base>
class GadgetView : public Base {
 public:
  void performBoolMessage(SEL selector, bool value) override {
    if (selector == "setAlreadyDestroyed:") {
      destroyed = value;
      return;
    }
    Base::performBoolMessage(selector, value);
  }
  bool destroyed = false;
};
using TestButton = GadgetView<NSControl>;
using TestPanel = GadgetView<NSView>;

class FlippedPanel : public TestPanel {
 public:
  bool isFlipped() const override { return true; }
};

// A gadget kind: it owns its view and frees it in FreeGadget, as gadget kinds do.
class TestKind : public ZnGadgetFunctions {
 public:
  explicit TestKind(int* freed) : freed_(freed) {}
  void FreeGadget() override {
    ++*freed_;
    objc_release(owned_);
    owned_ = nullptr;
  }
  Zn_GadgetStructure* Create(int64_t id, NSView* view, NSView* parent, NSRect frame) {
    owned_ = view;
    view->setFrame(frame);
    if (parent != nullptr) {
      parent->addSubview(view);
    }
    return setup(id, 7, view, view, 0);
  }

 protected:
  // A kind replaced by reuse: is released without FreeGadget, and lets its view go then.
  void dealloc() override {
    objc_release(owned_);
    owned_ = nullptr;
    ZnGadgetFunctions::dealloc();
  }

 private:
  int* freed_;
  NSView* owned_ = nullptr;
};

class WindowIdDelegate : public NSObject {
 public:
  explicit WindowIdDelegate(int64_t id) : id_(id) {}
  bool respondsToSelector(SEL selector) const override { return selector == "windowID"; }
  int64_t performIntegerMessage(SEL selector) override {
    return selector == "windowID" ? id_ : NSObject::performIntegerMessage(selector);
  }

 private:
  int64_t id_;
};

struct Queued {
  int32_t type;
  int64_t object, window, subtype;
  bool operator==(const Queued&) const = default;
};

std::vector<Queued> Drain() {
  std::vector<Queued> out;
  while (EventFetch() != EventTypeNone) {
    const CurrentEvent& e = EventCurrent();
    out.push_back({e.type, e.object, e.window, e.subtype});
  }
  return out;
}

void Noop() {}

class Gadgets : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    DesktopTestReset();
    ProcessStartup();
    ApplicationStartup();
    GadgetInit();
    EventInit();
    WindowStartup();
    MenuStartup();
    NSScreen::mainScreen();  // made once, so that the tests' object counts do not include it
  }
  void SetUp() override {
    EventTestReset();
    DesktopTestSetScreen(NSMakeRect(0, 0, 1440, 900), NSSize{2880, 1800}, NSSize{286, 179}, 1);
    pool_ = objc_alloc<NSAutoreleasePool>();
    live_ = DesktopLiveObjects();
    faults_ = DesktopFaults();
  }
  void TearDown() override {
    GadgetFree(-1);
    WindowFree(-1);
    for (NSObject* d : delegates_) {
      objc_release(d);
    }
    EventTestReset();
    DesktopTestDiscardQueuedEvents(NSApp);
    objc_release(pool_);
    EXPECT_EQ(DesktopFaults(), faults_) << DesktopLastFault();
    EXPECT_EQ(DesktopLiveObjects(), live_ - 1) << "every object the test made is released";
  }
  // A registered window with a flipped content view, its gadget list current.
  NSWindow* OpenWindow(int64_t id, NSRect frame = NSMakeRect(100, 100, 400, 300)) {
    auto* window = objc_alloc<NSWindow>()->initWithContentRect(frame);
    auto* delegate = objc_alloc<WindowIdDelegate>(id);
    delegates_.push_back(delegate);
    window->setDelegate(delegate);
    static_cast<WindowRecord*>(RegistryAllocate(WindowRegistry(), id))->window = window;
    ZnGadgetList::setWindow(window);
    return window;
  }
  NSAutoreleasePool* pool_ = nullptr;
  int64_t live_ = 0;
  int64_t faults_ = 0;
  int freed_ = 0;  // FreeGadget calls of the test kinds, which may come after the test body
  std::vector<NSObject*> delegates_;
};

TEST_F(Gadgets, AnyIdGivesTheRecordAddressAsIdAndTag) {
  OpenWindow(2);
  auto* kind = objc_alloc<TestKind>(&freed_);
  auto* button = objc_alloc<TestButton>();
  Zn_GadgetStructure* record =
      kind->Create(AnyId, button, ZnGadgetList::currentView(), NSMakeRect(0, 0, 80, 20));
  ASSERT_NE(record, nullptr);
  const auto address = static_cast<int64_t>(reinterpret_cast<uintptr_t>(record));
  EXPECT_EQ(kind->GadgetID, address);
  EXPECT_EQ(button->tag(), address);
  EXPECT_EQ(kind->Gadget, record);
  EXPECT_EQ(RegistryLookup(GadgetRegistry(), address), record);
  EXPECT_EQ(record->window, 2) << "the current list's window";
  EXPECT_EQ(record->functions, kind);
  EXPECT_EQ(record->type, 7);
  EXPECT_EQ(kind->isNSControl, 1);
  EXPECT_EQ(button->target(), kind);
  EXPECT_EQ(std::string(button->action()), "EventHandler:");
  GadgetFree(address);
  EXPECT_EQ(freed_, 1);
  EXPECT_EQ(RegistryLookup(GadgetRegistry(), address), nullptr);
}

TEST_F(Gadgets, ClicksPostGadgetEventsThatCoalesce) {
  OpenWindow(2);
  auto* kind = objc_alloc<TestKind>(&freed_);
  auto* button = objc_alloc<TestButton>();
  kind->Create(5, button, ZnGadgetList::currentView(), NSMakeRect(0, 0, 80, 20));
  button->performClick();
  button->performClick();
  kind->SendEvent(-3);
  EXPECT_EQ(Drain(), (std::vector<Queued>{{3, 5, 2, 0}, {3, 5, 2, -3}}));
}

TEST_F(Gadgets, WithoutCurrentListTheGadgetHasNoWindow) {
  ZnGadgetList::removeWindow(ZnGadgetList::currentWindow());
  auto* kind = objc_alloc<TestKind>(&freed_);
  Zn_GadgetStructure* record =
      kind->Create(1, objc_alloc<TestPanel>(), nullptr, NSMakeRect(0, 0, 1, 1));
  EXPECT_EQ(record->window, -1);
}

TEST_F(Gadgets, CommandsForControlsOnly) {
  OpenWindow(2);
  auto* on_control = objc_alloc<TestKind>(&freed_);
  auto* button = objc_alloc<TestButton>();
  on_control->Create(1, button, ZnGadgetList::currentView(), NSMakeRect(0, 0, 80, 20));
  auto* on_panel = objc_alloc<TestKind>(&freed_);
  auto* panel = objc_alloc<TestPanel>();
  on_panel->Create(2, panel, ZnGadgetList::currentView(), NSMakeRect(0, 0, 80, 20));
  EXPECT_EQ(on_panel->isNSControl, 0);

  on_control->DisableGadget(1);
  EXPECT_FALSE(button->isEnabled());
  EXPECT_EQ(button->validateEditingCount(), 1);
  on_control->DisableGadget(0);
  EXPECT_TRUE(button->isEnabled());
  on_panel->DisableGadget(1);  // not a control: nothing, and nothing unrecognised sent

  on_control->SetGadgetState(-5);
  EXPECT_EQ(on_control->GetGadgetState(), -5) << "widened with its sign";
  on_panel->SetGadgetState(9);
  EXPECT_EQ(on_panel->GetGadgetState(), 0);

  on_control->SetGadgetText(NSSTR(u"Play"));
  EXPECT_EQ(on_control->GetGadgetText()->characters(), u"Play");
  on_panel->SetGadgetText(NSSTR(u"ignored"));
  NSString* empty = on_panel->GetGadgetText();
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->length(), 0);

  NSFont* font = NSFont::fontWithName(u"Menlo", 12);
  on_control->SetGadgetFont(font);
  EXPECT_EQ(on_control->GetGadgetFont(), font);
  on_panel->SetGadgetFont(font);
  EXPECT_EQ(on_panel->GetGadgetFont(), nullptr);

  on_panel->GadgetToolTip(NSSTR(u"tip"));
  EXPECT_EQ(panel->toolTip()->characters(), u"tip");
  on_panel->HideGadget(2);
  EXPECT_TRUE(panel->isHidden());
  on_panel->HideGadget(0);
  EXPECT_FALSE(panel->isHidden());

  EXPECT_EQ(on_control->AddGadgetItem(0, NSSTR(u"x"), nullptr, 0), 0);
  EXPECT_EQ(on_control->CountGadgetItems(), 0);
  EXPECT_EQ(on_control->GetGadgetItemState(0), 0);
  EXPECT_EQ(on_control->GetGadgetAttribute(1), 0);
  EXPECT_EQ(on_control->GetGadgetItemAttribute(0, 1, 0), 0);
  EXPECT_EQ(on_control->GetGadgetColor(1), 0);
  EXPECT_EQ(on_control->GetGadgetItemColor(0, 1, 0), 0);
  EXPECT_EQ(on_control->GetGadgetItemData(0), 0);
  EXPECT_EQ(on_control->GetGadgetItemText(0, 0)->length(), 0);
}

TEST_F(Gadgets, ActivateMakesTheWindowKeyAndTheViewFirstResponder) {
  NSWindow* window = OpenWindow(3);
  auto* kind = objc_alloc<TestKind>(&freed_);
  auto* button = objc_alloc<TestButton>();
  kind->Create(1, button, ZnGadgetList::currentView(), NSMakeRect(0, 0, 10, 10));
  kind->ActivateGadget();
  EXPECT_EQ(NSApp->keyWindow(), window);
  EXPECT_EQ(window->firstResponder(), button);
}

TEST_F(Gadgets, ResizeKeepsIgnoredCoordinates) {
  OpenWindow(2);
  auto* kind = objc_alloc<TestKind>(&freed_);
  auto* panel = objc_alloc<TestPanel>();
  kind->Create(1, panel, ZnGadgetList::currentView(), NSMakeRect(12, 34, 56, 78));
  kind->ResizeGadget(IgnoreValue, IgnoreValue, 50, 20);
  EXPECT_EQ(kind->GadgetX(0), 12);
  EXPECT_EQ(kind->GadgetY(0), 34);
  EXPECT_EQ(kind->GadgetWidth(), 50);
  EXPECT_EQ(kind->GadgetHeight(), 20);
  EXPECT_TRUE(panel->needsDisplay());
  kind->ResizeGadget(-1, 2, IgnoreValue, IgnoreValue);
  EXPECT_EQ(kind->GadgetX(0), -1);
  EXPECT_EQ(kind->GadgetY(0), 2);
  EXPECT_EQ(kind->GadgetWidth(), 50);
}

TEST_F(Gadgets, WithoutContainerGeometryIsZero) {
  auto* kind = objc_alloc<TestKind>(&freed_);
  auto* panel = objc_alloc<TestPanel>();
  Zn_GadgetStructure* record = kind->Create(1, panel, nullptr, NSMakeRect(5, 5, 5, 5));
  record->container = nullptr;
  for (int type = 0; type <= 2; ++type) {
    EXPECT_EQ(kind->GadgetX(type), 0) << "type " << type;
    EXPECT_EQ(kind->GadgetY(type), 0) << "type " << type;
  }
  EXPECT_EQ(kind->GadgetWidth(), 0);
  EXPECT_EQ(kind->GadgetHeight(), 0);
  kind->ResizeGadget(1, 2, 3, 4);
  kind->HideGadget(1);
}

// Positions from the top left of the window's inner area (type 2) and of the main screen
// (type 1), for flipped and non-flipped containers, directly in the content view and nested in a
// non-flipped panel. The window's frame is (100, 100, 400, 300) on a 900-point-high screen.
TEST_F(Gadgets, PositionsCountFromTheTopLeft) {
  OpenWindow(2);
  NSView* content = ZnGadgetList::currentView();
  auto* plain = objc_alloc<TestKind>(&freed_);
  plain->Create(1, objc_alloc<TestPanel>(), content, NSMakeRect(0, 0, 40, 20));
  auto* flipped = objc_alloc<TestKind>(&freed_);
  flipped->Create(2, objc_alloc<FlippedPanel>(), content, NSMakeRect(0, 0, 40, 20));
  EXPECT_EQ(plain->GadgetY(2), 0) << "non-flipped, top left, 20 high";
  EXPECT_EQ(flipped->GadgetY(2), 0) << "flipped, top left";
  plain->ResizeGadget(10, 30, IgnoreValue, IgnoreValue);
  flipped->ResizeGadget(10, 30, IgnoreValue, IgnoreValue);
  for (ZnGadgetFunctions* g :
       {static_cast<ZnGadgetFunctions*>(plain), static_cast<ZnGadgetFunctions*>(flipped)}) {
    EXPECT_EQ(g->GadgetX(2), 10) << g->GadgetID;
    EXPECT_EQ(g->GadgetY(2), 30) << g->GadgetID;
    EXPECT_EQ(g->GadgetX(1), 110) << g->GadgetID;
    // Top edge 30 below the window's top (y 400 on the screen): 900 - 370.
    EXPECT_EQ(g->GadgetY(1), 530) << g->GadgetID;
    EXPECT_EQ(g->GadgetX(0), 10) << g->GadgetID;
    EXPECT_EQ(g->GadgetY(0), 30) << g->GadgetID;
  }
  // A panel that is not flipped, at (50, 100) in the content view, 200 high; inside it a
  // container at (5, 150), 30 high: its top edge is 200 - 180 = 20 below the panel's top.
  auto* outer = objc_alloc<TestPanel>();
  outer->setFrame(NSMakeRect(50, 100, 300, 200));
  content->addSubview(outer);
  auto* nested = objc_alloc<TestKind>(&freed_);
  nested->Create(3, objc_alloc<TestPanel>(), outer, NSMakeRect(5, 150, 20, 30));
  EXPECT_EQ(nested->GadgetX(2), 55);
  EXPECT_EQ(nested->GadgetY(2), 120);
  EXPECT_EQ(nested->GadgetY(0), 150) << "relative to the superview, in its own terms";
  EXPECT_EQ(nested->GadgetY(1), 900 - (400 - 120));
  DesktopTestSetNoScreen(true);
  EXPECT_EQ(nested->GadgetY(1), 0) << "no main screen";
  DesktopTestSetNoScreen(false);
  objc_release(outer);
}

TEST_F(Gadgets, FreeingAGadgetDropsItsEventsAndBindingsOnly) {
  OpenWindow(2);
  NSView* content = ZnGadgetList::currentView();
  auto* a = objc_alloc<TestKind>(&freed_);
  auto* a_view = objc_alloc<TestButton>();
  objc_retain(a_view);  // kept by the test to see what the gadget did to it
  a->Create(5, a_view, content, NSMakeRect(0, 0, 10, 10));
  auto* b = objc_alloc<TestKind>(&freed_);
  b->Create(6, objc_alloc<TestButton>(), content, NSMakeRect(0, 0, 10, 10));
  EventBind(EventTypeGadget, Noop, 2, 5, EventAny);
  EventBind(EventTypeGadget, Noop, 2, 5, 1);
  EventBind(EventTypeGadget, Noop, 2, 6, EventAny);
  a->SendEvent(0);
  b->SendEvent(0);
  a->SendEvent(1);
  EXPECT_EQ(GadgetUnbindEvent(5, Noop, 1), 1);
  EXPECT_EQ(GadgetUnbindEvent(99, Noop), 0) << "no such gadget";
  const int64_t live = DesktopLiveObjects();
  GadgetFree(5);
  EXPECT_TRUE(a_view->destroyed) << "the view was told";
  EXPECT_EQ(a_view->superview(), nullptr) << "removed from the window";
  EXPECT_EQ(freed_, 1);
  EXPECT_EQ(DesktopLiveObjects(), live - 1) << "the functions object is released";
  EXPECT_EQ(EventBindingKeyCount(), 1) << "gadget 6's binding stays";
  EXPECT_EQ(Drain(), (std::vector<Queued>{{3, 6, 2, 0}}));
  GadgetFree(5);
  GadgetRelease(5);
  EXPECT_EQ(GadgetUnbindEvent(5, nullptr), 0);
  objc_release(a_view);
}

TEST_F(Gadgets, FreeingAGadgetWhoseViewOnlyTheWindowHolds) {
  OpenWindow(2);
  auto* functions = objc_alloc<ZnGadgetFunctions>();
  auto* button = objc_alloc<TestButton>();
  ZnGadgetList::currentView()->addSubview(button);
  objc_release(button);  // the window's view tree is the only owner now
  functions->setup(4, 1, button, button, 0);
  const int64_t live = DesktopLiveObjects();
  DesktopCallLogStart();
  GadgetFree(4);
  const std::vector<std::string> log = DesktopCallLogTake();
  EXPECT_EQ(DesktopLiveObjects(), live - 2) << "the functions object and the button";
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "dealloc NSControl") << "the view goes last, after it was told";
}

TEST_F(Gadgets, FreeWindowReleasesOnlyThatWindowsGadgets) {
  OpenWindow(2);
  auto* a = objc_alloc<TestKind>(&freed_);
  auto* a_view = objc_alloc<TestPanel>();
  a->Create(1, a_view, ZnGadgetList::currentView(), NSMakeRect(0, 0, 10, 10));
  auto* free_standing = objc_alloc<TestKind>(&freed_);
  Zn_GadgetStructure* fs = free_standing->Create(
      AnyId, objc_alloc<TestPanel>(), ZnGadgetList::currentView(), NSMakeRect(0, 0, 10, 10));
  const int64_t fs_id = free_standing->GadgetID;
  OpenWindow(3);
  auto* b = objc_alloc<TestKind>(&freed_);
  b->Create(2, objc_alloc<TestPanel>(), ZnGadgetList::currentView(), NSMakeRect(0, 0, 10, 10));
  objc_retain(a_view);
  GadgetFreeWindow(2);
  EXPECT_EQ(freed_, 2);
  EXPECT_EQ(RegistryLookup(GadgetRegistry(), 1), nullptr);
  EXPECT_EQ(RegistryLookup(GadgetRegistry(), fs_id), nullptr);
  EXPECT_NE(RegistryLookup(GadgetRegistry(), 2), nullptr) << "window 3's gadget stays";
  EXPECT_NE(a_view->superview(), nullptr) << "views stay where they are";
  EXPECT_TRUE(a_view->destroyed);
  (void)fs;
  objc_release(a_view);
}

TEST_F(Gadgets, WindowFreeFreesTheWindowsGadgets) {
  OpenWindow(4);
  auto* a = objc_alloc<TestKind>(&freed_);
  a->Create(1, objc_alloc<TestPanel>(), ZnGadgetList::currentView(), NSMakeRect(0, 0, 10, 10));
  WindowFree(4);
  EXPECT_EQ(freed_, 1);
  EXPECT_EQ(RegistryLookup(GadgetRegistry(), 1), nullptr);
}

TEST_F(Gadgets, SetupOverAnIdInUseFreesTheOldGadget) {
  OpenWindow(2);
  auto* old_kind = objc_alloc<TestKind>(&freed_);
  old_kind->Create(3, objc_alloc<TestPanel>(), ZnGadgetList::currentView(), NSMakeRect(0, 0, 1, 1));
  auto* new_kind = objc_alloc<TestKind>(&freed_);
  Zn_GadgetStructure* record = new_kind->Create(
      3, objc_alloc<TestPanel>(), ZnGadgetList::currentView(), NSMakeRect(0, 0, 1, 1));
  EXPECT_EQ(freed_, 1);
  EXPECT_EQ(record->functions, new_kind);
}

TEST_F(Gadgets, ReuseReplacesTheFunctionsObject) {
  OpenWindow(2);
  auto* first = objc_alloc<TestKind>(&freed_);
  auto* button = objc_alloc<TestButton>();
  Zn_GadgetStructure* record =
      first->Create(8, button, ZnGadgetList::currentView(), NSMakeRect(0, 0, 1, 1));
  auto* second = objc_alloc<ZnGadgetFunctions>();
  const int64_t live = DesktopLiveObjects();
  second->reuse(record, 9);
  EXPECT_EQ(DesktopLiveObjects(), live - 1) << "the old functions object is released";
  EXPECT_EQ(freed_, 0) << "without FreeGadget: the gadget lives on";
  EXPECT_EQ(record->functions, second);
  EXPECT_EQ(record->type, 9);
  EXPECT_EQ(second->GadgetID, 8) << "from the view's tag";
  EXPECT_EQ(second->isNSControl, 1);
  EXPECT_EQ(button->target(), second);
  EXPECT_EQ(std::string(button->action()), "EventHandler:") << "the action stays";
  second->reuse(record, 9);
  EXPECT_EQ(DesktopLiveObjects(), live - 1) << "taking over its own gadget releases nothing";
  // The test kind's view was owned by the released first kind: the gadget keeps the button
  // only through the window now.
  GadgetFree(8);
}

TEST_F(Gadgets, EndFreesEveryGadget) {
  OpenWindow(2);
  for (int64_t id : {0, 4, -1}) {
    objc_alloc<TestKind>(&freed_)->Create(id, objc_alloc<TestPanel>(), ZnGadgetList::currentView(),
                                          NSMakeRect(0, 0, 1, 1));
  }
  GadgetEnd();
  EXPECT_EQ(freed_, 3);
  EXPECT_EQ(GadgetRegistry(), nullptr) << "the registry goes with them";
  GadgetInit();  // a later start makes it again
}

// Re-entrancy of gadget functions and gadget bindings: a gadget kind whose FreeGadget frees its own
// gadget again, another gadget or the whole window, and a binding of a gadget's click that frees
// the clicked gadget or its window. Each kind is freed once; the sanitizers and the desktop
// model's fault count see anything used after it went.
int64_t reentrant_target = 0;  // > 0: a gadget id; < 0: a window id; 0: nothing
int64_t reentrant_self = 0;

class ReentrantKind : public TestKind {
 public:
  using TestKind::TestKind;
  void FreeGadget() override {
    TestKind::FreeGadget();
    if (reentrant_self > 0) {
      GadgetFree(reentrant_self);
    }
    if (reentrant_target > 0) {
      GadgetFree(reentrant_target);
    } else if (reentrant_target < 0) {
      WindowFree(-reentrant_target);
    }
  }
};

void FreeClickedGadget() {
  GadgetFree(EventCurrent().object);
}
void FreeClickedWindow() {
  WindowFree(EventCurrent().window);
}

TEST_F(Gadgets, GadgetFunctionsAndBindingsMayFreeTheirOwnGadgetOrWindow) {
  const struct {
    const char* name;
    int64_t self;
    int64_t target;
    void (*binding)();
  } cases[] = {
      {"FreeGadget frees its gadget again", 5, 0, nullptr},
      {"FreeGadget frees another gadget", 0, 6, nullptr},
      {"FreeGadget frees the window", 0, -2, nullptr},
      {"a click frees its gadget", 0, 0, FreeClickedGadget},
      {"a click frees its window", 0, 0, FreeClickedWindow},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    freed_ = 0;
    reentrant_self = reentrant_target = 0;
    OpenWindow(2);
    NSView* content = ZnGadgetList::currentView();
    objc_alloc<ReentrantKind>(&freed_)->Create(5, objc_alloc<TestButton>(), content,
                                               NSMakeRect(0, 0, 10, 10));
    auto* other = objc_alloc<TestKind>(&freed_);
    other->Create(6, objc_alloc<TestButton>(), content, NSMakeRect(0, 0, 10, 10));
    reentrant_self = c.self;
    reentrant_target = c.target;
    if (c.binding != nullptr) {
      EventBind(EventTypeGadget, c.binding, 2, 5, EventAny);
      static_cast<Zn_GadgetStructure*>(RegistryLookup(GadgetRegistry(), 5))
          ->functions->SendEvent(0);
    }
    GadgetFree(5);
    reentrant_self = reentrant_target = 0;
    WindowFree(2);
    GadgetFree(-1);
    EXPECT_EQ(RegistryLookup(GadgetRegistry(), 5), nullptr);
    EXPECT_EQ(RegistryLookup(GadgetRegistry(), 6), nullptr);
    EXPECT_EQ(freed_, 2) << "each kind's FreeGadget once";
    EventTestReset();
  }
}

}  // namespace
}  // namespace zn
