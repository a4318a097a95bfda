// Tests of the event queue: coalescing, fetching, data ownership, removals, waking and the pool.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "runtime/events/events.h"
#include "runtime/events/events_testing.h"
#include "runtime/memory/memory.h"
#include "system/desktop/application.h"
#include "system/desktop/desktop_testing.h"
#include "system/desktop/foundation.h"
#include "system/desktop/object.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

std::vector<int> freed;  // the data pointers handed to FreeInt, as their values

void FreeInt(void* data) {
  freed.push_back(*static_cast<int*>(data));
}

struct Posted {
  int32_t type;
  int64_t object, window, subtype;
};

// Empties the queue and returns what was in it, in order.
std::vector<Posted> Drain() {
  std::vector<Posted> out;
  while (EventFetch() != EventTypeNone) {
    const CurrentEvent& e = EventCurrent();
    out.push_back({e.type, e.object, e.window, e.subtype});
  }
  return out;
}

class EventQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    EventInit();
    EventTestReset();
    freed.clear();
  }
  void TearDown() override {
    EventTestReset();
    test::HeapFailNever();
  }
};

TEST_F(EventQueue, RepeatedEventQueuesOneRecord) {
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  EXPECT_EQ(EventQueueLength(), 1);
  EventTestReset();
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  EventPostSimple(EventTypeGadget, 6, 1, 0);
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  ASSERT_EQ(EventQueueLength(), 3) << "only a repeat of the last record coalesces";
  const std::vector<Posted> got = Drain();
  EXPECT_EQ(got[0].object, 5);
  EXPECT_EQ(got[1].object, 6);
  EXPECT_EQ(got[2].object, 5);
}

TEST_F(EventQueue, EveryFieldTakesPartInCoalescing) {
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  EventPostSimple(2, 5, 1, 0);
  EventPostSimple(2, 5, 2, 0);
  EventPostSimple(2, 5, 2, 9);
  EventPostSimple(2, 5, 2, 9);
  EXPECT_EQ(EventQueueLength(), 4);
}

TEST_F(EventQueue, TypesAbove65535NeverCoalesce) {
  EventPostSimple(65535, 1, 1, 1);
  EventPostSimple(65535, 1, 1, 1);
  EXPECT_EQ(EventQueueLength(), 1) << "65535 is the last type that coalesces";
  EventTestReset();
  EventPostSimple(65536, 1, 1, 1);
  EventPostSimple(65536, 1, 1, 1);
  EventPostSimple(70000, 1, 1, 1);
  EventPostSimple(70000, 1, 1, 1);
  EXPECT_EQ(EventQueueLength(), 4);
}

TEST_F(EventQueue, DeferredEventsNeverCoalesce) {
  EventPost(EventTypeGadget, 5, 1, 0, nullptr, nullptr, EventDeferred);
  EventPost(EventTypeGadget, 5, 1, 0, nullptr, nullptr, EventDeferred);
  EXPECT_EQ(EventQueueLength(), 2);
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  EXPECT_EQ(EventQueueLength(), 2) << "a deferred last record still counts as the last record";
  EventPostSimple(EventTypeGadget, 5, 2, 0);
  EXPECT_EQ(EventQueueLength(), 3);
}

TEST_F(EventQueue, FetchOnEmptyQueueKeepsWindowAndObject) {
  EventPostSimple(EventTypeGadget, 7, 2, 4);
  ASSERT_EQ(EventFetch(), 3);
  EXPECT_EQ(EventCurrentType(), 3);
  EXPECT_EQ(EventFetch(), 0);
  const CurrentEvent& e = EventCurrent();
  EXPECT_EQ(e.type, 0);
  EXPECT_EQ(e.subtype, -1);
  EXPECT_EQ(e.window, 2) << "window kept";
  EXPECT_EQ(e.object, 7) << "object kept";
  EXPECT_EQ(EventCurrentType(), 0);
}

TEST_F(EventQueue, FetchHandsOutInOrderAndEmptiesTheQueue) {
  for (int i = 1; i <= 40; ++i) {
    EventPostSimple(2, i, i % 3, i % 5);
  }
  EXPECT_EQ(EventQueueLength(), 40) << "more records than the first chunk";
  const std::vector<Posted> got = Drain();
  ASSERT_EQ(got.size(), 40u);
  for (int i = 1; i <= 40; ++i) {
    EXPECT_EQ(got[i - 1].object, i);
    EXPECT_EQ(got[i - 1].window, i % 3);
    EXPECT_EQ(got[i - 1].subtype, i % 5);
  }
  EXPECT_EQ(EventQueueLength(), 0);
  EventPostSimple(2, 1, 1, 1);
  EXPECT_EQ(EventQueueLength(), 1) << "the last-record pointer was cleared";
}

TEST_F(EventQueue, DataLivesUntilTheNextFetch) {
  int a = 1, b = 2;
  EventPostWithData(2, 1, 0, 0, &a, FreeInt);
  EventPostWithData(2, 2, 0, 0, &b, FreeInt);
  ASSERT_EQ(EventFetch(), 2);
  EXPECT_EQ(EventCurrent().data, &a);
  EXPECT_TRUE(freed.empty()) << "the current event's data is alive";
  ASSERT_EQ(EventFetch(), 2);
  EXPECT_EQ(freed, std::vector<int>({1}));
  EXPECT_EQ(EventFetch(), 0);
  EXPECT_EQ(freed, std::vector<int>({1, 2})) << "freed also by a fetch that finds nothing";
  EXPECT_EQ(EventCurrent().data, nullptr);
  EXPECT_EQ(EventCurrent().free_callback, nullptr);
  EXPECT_EQ(EventFetch(), 0);
  EXPECT_EQ(freed.size(), 2u) << "freed once";
}

TEST_F(EventQueue, CoalescedEventDataIsFreedNotLost) {
  int a = 1, b = 2;
  EventPostWithData(2, 1, 0, 0, &a, FreeInt);
  EventPostWithData(2, 1, 0, 0, &b, FreeInt);
  EXPECT_EQ(freed, std::vector<int>({2})) << "the repeat's data is kept by no record";
  ASSERT_EQ(EventFetch(), 2);
  EXPECT_EQ(EventCurrent().data, &a);
  EventFetch();
  EXPECT_EQ(freed, std::vector<int>({2, 1}));
}

TEST_F(EventQueue, RemoveMatchingKeepsOrderAndTheLastRecord) {
  int d = 9;
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  EventPostSimple(EventTypeGadget, 6, 1, 0);
  EventPostWithData(EventTypeGadget, 5, 2, 1, &d, FreeInt);
  EventPostSimple(EventTypeMenu, 5, 1, EventSubtypeNone);
  EventPostSimple(EventTypeGadget, 5, 1, 7);
  EventRemoveMatching(EventTypeGadget, 5, EventAny, EventAny);
  EXPECT_EQ(freed, std::vector<int>({9})) << "a dropped record's data is freed";
  EXPECT_EQ(EventQueueLength(), 2);
  EventPostSimple(EventTypeMenu, 5, 1, EventSubtypeNone);
  EXPECT_EQ(EventQueueLength(), 2) << "the kept last record (1, 5, 1, 0) coalesces the repeat";
  EventPostSimple(2, 8, 0, 0);
  const std::vector<Posted> got = Drain();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].type, 3);
  EXPECT_EQ(got[0].object, 6);
  EXPECT_EQ(got[1].type, 1);
  EXPECT_EQ(got[2].type, 2) << "posted behind the last kept record";
}

TEST_F(EventQueue, RemoveEverythingAndNothing) {
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  EventRemoveMatching(EventTypeQuiet, EventAny, EventAny, EventAny);
  EXPECT_EQ(EventQueueLength(), 1);
  EventRemoveMatching(EventAny, EventAny, EventAny, EventAny);
  EXPECT_EQ(EventQueueLength(), 0);
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  EventPostSimple(EventTypeGadget, 5, 1, 1);
  EXPECT_EQ(EventQueueLength(), 2) << "the last-record pointer was null after removing all";
  EXPECT_EQ(EventPeekType(), 3);
}

TEST_F(EventQueue, RemoveForWindowComparesTheWindowOnly) {
  EventPostSimple(EventTypeGadget, 5, -1, 0);
  EventPostSimple(EventTypeGadget, 5, 2, 0);
  EventPostSimple(EventTypeMenu, 4, 2, EventSubtypeNone);
  EventPostSimple(EventTypeMenu, 4, 3, EventSubtypeNone);
  EventRemoveForWindow(2);
  std::vector<Posted> got = Drain();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].window, -1) << "-1 is a window value here, not a wildcard";
  EXPECT_EQ(got[1].window, 3);
  EventPostSimple(EventTypeGadget, 5, -1, 0);
  EventPostSimple(EventTypeGadget, 5, 2, 0);
  EventRemoveForWindow(-1);
  got = Drain();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].window, 2);
}

TEST_F(EventQueue, PeekLeavesTheRecord) {
  int64_t object = 11, window = 12, subtype = 13;
  EXPECT_EQ(EventPeek(&object, &window, &subtype), 0);
  EXPECT_EQ(object, 11) << "untouched when empty";
  EXPECT_EQ(EventPeekType(), 0);
  EventPostSimple(EventTypeGadget, 5, 1, 2);
  EventPostSimple(EventTypeQuiet, 6, 1, 2);
  EXPECT_EQ(EventPeek(&object, &window, &subtype), 3);
  EXPECT_EQ(object, 5);
  EXPECT_EQ(window, 1);
  EXPECT_EQ(subtype, 2);
  EXPECT_EQ(EventPeekType(), 3);
  EXPECT_EQ(EventQueueLength(), 2);
}

TEST_F(EventQueue, ExhaustedPoolDropsTheEventAndChangesNothingElse) {
  int d = 5;
  EventPostSimple(2, 100, 0, 0);
  ASSERT_EQ(EventFetch(), 2);
  freed.reserve(4);  // the free callback records without asking the refusing heap
  test::HeapFailAfter(0);
  int64_t queued = 0;
  bool dropped = false;
  for (int i = 0; i < 300 && !dropped; ++i) {
    EventPostWithData(EventTypeGadget, i, 1, 0, &d, FreeInt);
    dropped = EventQueueLength() == queued;
    queued = EventQueueLength();
  }
  test::HeapFailNever();
  ASSERT_TRUE(dropped) << "the pool had to grow and could not";
  EXPECT_EQ(freed, std::vector<int>({5})) << "the dropped event's data is not lost";
  EXPECT_EQ(EventCurrent().object, 100) << "the current event is unchanged";
  EventPostSimple(EventTypeGadget, 999, 1, 0);
  EXPECT_EQ(EventQueueLength(), queued + 1) << "posting works again";
}

// Waking: the platform queue of the desktop model shows every wake-up.
class EventWake : public EventQueue {
 protected:
  void SetUp() override {
    EventQueue::SetUp();
    desktop::DesktopTestReset();
    pool_ = desktop::objc_alloc<desktop::NSAutoreleasePool>();
    desktop::NSApplication::sharedApplication();
  }
  void TearDown() override {
    desktop::objc_release(pool_);
    desktop::DesktopTestReset();
    EXPECT_EQ(desktop::DesktopFaults(), 0) << desktop::DesktopLastFault();
    EventQueue::TearDown();
  }
  static int64_t Wakes() { return desktop::DesktopTestQueuedEvents(desktop::NSApp); }
  desktop::NSAutoreleasePool* pool_ = nullptr;
};

TEST_F(EventWake, WakeEventIsAnEmptyApplicationEventAtTheHead) {
  using namespace desktop;
  NSApp->postEvent(NSEvent::keyEventWithType(NSEventTypeKeyDown, 0, NSSTR(u"a")), false);
  WakeEventLoop();
  ASSERT_EQ(Wakes(), 2);
  NSEvent* e = DesktopTestQueuedEventAt(NSApp, 0);
  EXPECT_EQ(e->type(), NSEventTypeApplicationDefined);
  EXPECT_EQ(e->subtype(), 0);
  EXPECT_EQ(e->data1(), 0);
  EXPECT_EQ(e->data2(), 0);
  EXPECT_EQ(e->windowNumber(), 0);
  EXPECT_EQ(e->modifierFlags(), 0u);
}

TEST_F(EventWake, TypeOneAlwaysWakesTypeFourNever) {
  EventPostSimple(EventTypeQuiet, 1, 1, 0);
  EXPECT_EQ(Wakes(), 0) << "type 4 never wakes, even with nothing pending";
  EventPost(EventTypeQuiet, 2, 1, 0, nullptr, nullptr, EventForceWake);
  EXPECT_EQ(Wakes(), 0) << "not even when forced";
  EventPostSimple(EventTypeMenu, MenuItemQuit, EventWindowApplication, EventSubtypeNone);
  EXPECT_EQ(Wakes(), 1);
  EventPostSimple(EventTypeMenu, MenuItemQuit, EventWindowApplication, EventSubtypeNone);
  EXPECT_EQ(Wakes(), 2) << "type 1 wakes although an event is pending (and although coalesced)";
}

TEST_F(EventWake, OtherTypesWakeWhenNothingIsPendingOrWhenForced) {
  EventPostSimple(EventTypeGadget, 1, 1, 0);
  EXPECT_EQ(Wakes(), 1);
  EventPostSimple(EventTypeGadget, 2, 1, 0);
  EXPECT_EQ(Wakes(), 1) << "a platform event is pending";
  EventPost(EventTypeGadget, 3, 1, 0, nullptr, nullptr, EventForceWake);
  EXPECT_EQ(Wakes(), 2);
}

// A wake-up refused at each of its requests: the event is queued all the same (or dropped with
// its data freed, when its record is refused), its data reaches its free callback exactly once,
// and nothing of the queue or the platform's events is left behind.
TEST_F(EventWake, ARefusedWakeUpLosesNeitherTheRecordNorTheData) {
  int d = 7;
  freed.reserve(4);  // the free callback records without asking the refusing heap
  const int64_t runs = test::HeapFailEachMode([&](const test::FailurePoint& at) {
    const test::LiveBlockGuard live;
    const desktop::AutoreleasePoolScope wake_events;  // drained before the guard's check
    freed.clear();
    at.Arm();
    EventPostWithData(EventTypeMenu, 9, 1, 0, &d, FreeInt);
    test::HeapFailNever();
    const int64_t queued = EventQueueLength();
    EXPECT_EQ(freed.size(), queued == 1 ? 0U : 1U);
    EventTestReset();
    desktop::DesktopTestDiscardQueuedEvents(desktop::NSApp);
    EXPECT_EQ(freed, std::vector<int>({7})) << "queued " << queued;
  });
  EXPECT_GT(runs, 2) << "the wake-up's event met a refusal";
}

TEST(WakeEventLoop, WithoutApplicationDoesNothing) {
  desktop::DesktopTestReset();
  EventInit();
  const int64_t live = desktop::DesktopLiveObjects();
  WakeEventLoop();
  EventPostSimple(EventTypeMenu, 1, 0, 0);  // would wake, and would ask, with an application
  EventPostSimple(EventTypeGadget, 2, 1, 0);
  EXPECT_EQ(EventQueueLength(), 2);
  EventTestReset();
  EXPECT_EQ(desktop::DesktopLiveObjects(), live);
  EXPECT_EQ(desktop::DesktopFaults(), 0);
}

}  // namespace
}  // namespace zn
