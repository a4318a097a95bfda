// Tests of event binding: keys, binding rules, the four-key dispatch, unbinding in all its forms
// (also from inside a running callback) and the balance of binding memory.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/events/events.h"
#include "runtime/events/events_testing.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

std::vector<std::string> calls;

void A() {
  calls.push_back("A");
}
void B() {
  calls.push_back("B");
}
void C() {
  calls.push_back("C");
}
void D() {
  calls.push_back("D");
}
void E() {
  calls.push_back("E");
}
void F() {
  calls.push_back("F");
}
void G() {
  calls.push_back("G");
}

class EventBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    EventInit();
    EventTestReset();
    calls.clear();
    live_ = std::make_unique<test::LiveBlockGuard>("every node and element is freed");
  }
  void TearDown() override {
    EventTestReset();
    live_.reset();
  }
  std::unique_ptr<test::LiveBlockGuard> live_;
};

TEST(EventBindingKey, SameTextAsTheFormat) {
  const int32_t types[] = {0, 1, -1, 3, 65535, INT32_MAX, INT32_MIN};
  const int64_t numbers[] = {0, -1, 7, -4, 1234567890123LL, INT64_MAX, INT64_MIN};
  for (int32_t type : types) {
    for (int64_t window : numbers) {
      for (int64_t object : numbers) {
        char16_t key[EventKeyUnits];
        char16_t reference[EventKeyUnits];
        EventBindingKey(key, type, window, object);
        StringFormat(reference, u"%d:%lld:%lld", type, static_cast<long long>(window),
                     static_cast<long long>(object));
        EXPECT_EQ(std::u16string(key), std::u16string(reference))
            << type << ":" << window << ":" << object;
      }
    }
  }
}

TEST_F(EventBinding, FourKeysRunInOrderWithTheirFilters) {
  EXPECT_EQ(EventBind(EventTypeGadget, A, 2, 7, 1), 1);
  EXPECT_EQ(EventBind(EventTypeGadget, B, 2, 7, EventAny), 1);
  EXPECT_EQ(EventBind(EventTypeGadget, C, 2, EventAny, EventAny), 1);
  EXPECT_EQ(EventBind(EventTypeGadget, G, 2, EventAny, 1), 1) << "under 3:2:-1 only filter -1 runs";
  EXPECT_EQ(EventBind(EventTypeGadget, D, EventAny, EventAny, EventAny), 1);
  EXPECT_EQ(EventBind(EventTypeGadget, E, EventAny, 7, 1), 1);
  EXPECT_EQ(EventBind(EventTypeGadget, F, EventAny, 7, 2), 1) << "a different subtype filter";
  EventDispatch(EventTypeGadget, 2, 7, 1);
  EXPECT_EQ(calls, std::vector<std::string>({"A", "B", "C", "D", "E"}));
}

TEST_F(EventBinding, WindowMinusOneRunsTwoKeysTwice) {
  EventBind(EventTypeMenu, A, EventAny, MenuItemQuit, EventAny);
  EventBind(EventTypeMenu, B, EventAny, EventAny, EventAny);
  EventDispatch(EventTypeMenu, EventWindowApplication, MenuItemQuit, EventSubtypeNone);
  EXPECT_EQ(calls, std::vector<std::string>({"A", "B", "B", "A"}));
}

TEST_F(EventBinding, PostRunsBindingsWithThePostedEventCurrent) {
  static int64_t seen_object = 0;
  static int32_t seen_type = 0;
  EventPostSimple(2, 50, 0, 0);
  ASSERT_EQ(EventFetch(), 2);
  EventPostSimple(EventTypeGadget, 8, 1, 0);
  EXPECT_EQ(EventCurrent().object, 50) << "a post with nothing bound leaves the current event";
  EventBind(
      3,
      [] {
        seen_object = EventCurrent().object;
        seen_type = EventCurrent().type;
      },
      1, -1, -1);
  EventPostSimple(EventTypeGadget, 9, 1, 0);
  EXPECT_EQ(seen_type, 3);
  EXPECT_EQ(seen_object, 9);
  EXPECT_EQ(EventCurrent().object, 50) << "the program's current event is back";
  EXPECT_EQ(EventCurrentType(), 2);
}

TEST_F(EventBinding, RemovingThePostedEventKeepsItsDataForTheLaterCallbacks) {
  static int64_t seen = 0;
  static int frees = 0;
  frees = 0;
  // The first callback closes the event's window, which drops its queued events; the second
  // still reads the data of the event being handled.
  EventBind(
      1, [] { EventRemoveForWindow(2); }, 2, 5, -1);
  EventBind(
      1, [] { seen = *static_cast<int64_t*>(EventCurrent().data); }, 2, 5, -1);
  EventPostWithData(1, 5, 2, 0, new int64_t(42), [](void* data) {
    ++frees;
    delete static_cast<int64_t*>(data);
  });
  EXPECT_EQ(seen, 42);
  EXPECT_EQ(EventQueueLength(), 0);
  EXPECT_EQ(frees, 1) << "freed once, after the last callback";
}

TEST_F(EventBinding, CoalescedPostsStillRunTheirBindings) {
  EventBind(EventTypeGadget, A, 1, 5, EventAny);
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_EQ(EventQueueLength(), 1);
}

TEST_F(EventBinding, DeferredEventsRunBindingsWhenFetched) {
  EventBind(EventTypeGadget, A, 1, 5, EventAny);
  EventPost(EventTypeGadget, 5, 1, 0, nullptr, nullptr, EventDeferred);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(EventFetch(), 3);
  EXPECT_EQ(calls, std::vector<std::string>({"A"}));
  EventPostSimple(EventTypeGadget, 5, 1, 0);
  EXPECT_EQ(EventFetch(), 3);
  EXPECT_EQ(calls.size(), 2u) << "an ordinary event runs its bindings at the post only";
}

TEST_F(EventBinding, BindAppendsRefusesRepeatsAndKeepsTheWindow) {
  EXPECT_EQ(EventBind(EventTypeGadget, A, 2, 7, EventAny), 1);
  EXPECT_EQ(EventBind(EventTypeGadget, B, 2, 7, EventAny), 1);
  EXPECT_EQ(EventBind(EventTypeGadget, A, 2, 7, EventAny), 0) << "same callback, same filter";
  EXPECT_EQ(EventBind(EventTypeGadget, A, 2, 7, 4), 1) << "same callback, another filter";
  EXPECT_EQ(EventBind(EventTypeGadget, nullptr, 2, 7, EventAny), 0);
  EXPECT_EQ(EventBindingKeyCount(), 1);
  EventDispatch(EventTypeGadget, 2, 7, 4);
  EXPECT_EQ(calls, std::vector<std::string>({"A", "B", "A"})) << "new nodes go at the end";
  EXPECT_EQ(EventBind(EventTypeGadget, C, EventAny, 7, EventAny), 1);
  EventUnbindWindow(-1);
  EXPECT_EQ(EventBindingKeyCount(), 1) << "a key with window -1 records -1";
}

// Each request of a bind refused in turn, on a new key and on a key that has a node already: 0 and
// nothing changed (no empty element left behind, the old node alone runs), or 1 and bound.
TEST_F(EventBinding, BindWithExhaustedMemoryChangesNothing) {
  for (const int64_t object : {int64_t{7}, int64_t{8}}) {
    test::HeapFailEachMode([&](const test::FailurePoint& at) {
      EventTestReset();
      calls.clear();
      EventBind(EventTypeGadget, A, 2, 7, EventAny);
      at.Arm();
      const int32_t bound = EventBind(EventTypeGadget, B, 2, object, EventAny);
      test::HeapFailNever();
      EXPECT_EQ(EventBindingKeyCount(), bound != 0 && object == 8 ? 2 : 1) << "object " << object;
      EventDispatch(EventTypeGadget, 2, object, 0);
      std::vector<std::string> expected;
      if (object == 7) expected.push_back("A");
      if (bound != 0) expected.push_back("B");
      EXPECT_EQ(calls, expected) << "object " << object;
    });
  }
}

TEST_F(EventBinding, UnbindRemovesOneNodeAndDeletesEmptyKeys) {
  EventBind(EventTypeGadget, A, 2, 7, 1);
  EventBind(EventTypeGadget, A, 2, 7, 2);
  EXPECT_EQ(EventUnbind(EventTypeGadget, A, 2, 7, 3), 0) << "no node with filter 3";
  EXPECT_EQ(EventUnbind(EventTypeGadget, B, 2, 7, EventAny), 0);
  EXPECT_EQ(EventUnbind(EventTypeGadget, A, 9, 9, EventAny), 0) << "no such key";
  EXPECT_EQ(EventUnbind(EventTypeGadget, A, 2, 7, 2), 1);
  EXPECT_EQ(EventBindingKeyCount(), 1);
  EXPECT_EQ(EventUnbind(EventTypeGadget, A, 2, 7, EventAny), 1) << "-1 takes any filter";
  EXPECT_EQ(EventBindingKeyCount(), 0) << "unbinding the only callback deletes the key";
  EventBind(EventTypeGadget, A, 2, 7, EventAny);
  EventPostSimple(EventTypeGadget, 7, 2, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"A"})) << "bound again after the table emptied";
}

TEST_F(EventBinding, UnbindWithNullCallbackRemovesTheWholeKey) {
  EventBind(EventTypeGadget, A, 2, 7, EventAny);
  EventBind(EventTypeGadget, B, 2, 7, 1);
  EventBind(EventTypeGadget, C, 2, 8, EventAny);
  EXPECT_EQ(EventUnbind(EventTypeGadget, nullptr, 2, 7, EventAny), 0);
  EXPECT_EQ(EventBindingKeyCount(), 1);
  EventDispatch(EventTypeGadget, 2, 7, 1);
  EXPECT_TRUE(calls.empty());
}

TEST_F(EventBinding, ShorterUnbindFormsFillInMinusOne) {
  EventBind(EventTypeGadget, A, 2, 7, EventAny);
  EventBind(EventTypeGadget, A, 2, EventAny, EventAny);
  EventBind(EventTypeGadget, A, EventAny, EventAny, EventAny);
  EXPECT_EQ(EventUnbind(EventTypeGadget, A, 2, 7), 1);
  EXPECT_EQ(EventUnbind(EventTypeGadget, A, 2), 1);
  EXPECT_EQ(EventUnbind(EventTypeGadget, A), 1);
  EXPECT_EQ(EventBindingKeyCount(), 0);
}

TEST_F(EventBinding, UnbindWindowComparesTheRecordedWindow) {
  EventBind(EventTypeGadget, A, 2, 7, EventAny);
  EventBind(EventTypeMenu, B, 2, EventAny, EventAny);
  EventBind(EventTypeMenu, B, 2, 3, EventAny);
  EventBind(EventTypeGadget, C, 5, 7, EventAny);
  EventBind(EventTypeGadget, D, EventAny, 7, EventAny);
  EventUnbindWindow(2);
  EXPECT_EQ(EventBindingKeyCount(), 2);
  EventPostSimple(EventTypeGadget, 7, 5, 0);  // the keys left still run at a post
  EventDispatch(EventTypeMenu, 2, 3, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"C", "D"}));
}

// Callbacks that change the bindings while they run.
void UnbindSelf() {
  calls.push_back("self");
  EventUnbind(EventTypeGadget, UnbindSelf, 2, 7, EventAny);
}
void UnbindNext() {
  calls.push_back("next");
  EventUnbind(EventTypeGadget, B, 2, 7, EventAny);
}
void UnbindKey() {
  calls.push_back("key");
  EventUnbind(EventTypeGadget, nullptr, 2, 7, EventAny);
}
void UnbindWindow() {
  calls.push_back("window");
  EventUnbindWindow(2);
}

TEST_F(EventBinding, CallbackUnbindingItselfRunsOnce) {
  EventBind(EventTypeGadget, UnbindSelf, 2, 7, EventAny);
  EventBind(EventTypeGadget, A, 2, 7, EventAny);
  EventDispatch(EventTypeGadget, 2, 7, 0);
  EventDispatch(EventTypeGadget, 2, 7, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"self", "A", "A"}));
}

TEST_F(EventBinding, CallbackUnbindingOthersStopsThemSafely) {
  EventBind(EventTypeGadget, UnbindNext, 2, 7, EventAny);
  EventBind(EventTypeGadget, B, 2, 7, EventAny);
  EventBind(EventTypeGadget, C, 2, 7, EventAny);
  EventDispatch(EventTypeGadget, 2, 7, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"next", "C"})) << "the unbound node does not run";
  calls.clear();
  EventBind(EventTypeGadget, UnbindKey, 2, 7, 0);
  EventBind(EventTypeGadget, D, 2, EventAny, EventAny);
  EventDispatch(EventTypeGadget, 2, 7, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"next", "C", "key", "D"}));
  calls.clear();
  EventBind(EventTypeGadget, UnbindWindow, 2, EventAny, EventAny);
  EventBind(EventTypeGadget, E, 2, EventAny, EventAny);
  EventBind(EventTypeGadget, F, EventAny, EventAny, EventAny);
  EventDispatch(EventTypeGadget, 2, 7, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"D", "window", "F"}));
  EXPECT_EQ(EventBindingKeyCount(), 1);
}

}  // namespace
}  // namespace zn
