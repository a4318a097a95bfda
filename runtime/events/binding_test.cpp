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
  EXPECT_EQ(EventBind(3, A, 2, 7, 1), 1);
  EXPECT_EQ(EventBind(3, B, 2, 7, -1), 1);
  EXPECT_EQ(EventBind(3, C, 2, -1, -1), 1);
  EXPECT_EQ(EventBind(3, G, 2, -1, 1), 1) << "under 3:2:-1 only filter -1 runs";
  EXPECT_EQ(EventBind(3, D, -1, -1, -1), 1);
  EXPECT_EQ(EventBind(3, E, -1, 7, 1), 1);
  EXPECT_EQ(EventBind(3, F, -1, 7, 2), 1) << "a different subtype filter";
  EventDispatch(3, 2, 7, 1);
  EXPECT_EQ(calls, std::vector<std::string>({"A", "B", "C", "D", "E"}));
}

TEST_F(EventBinding, WindowMinusOneRunsTwoKeysTwice) {
  EventBind(1, A, -1, -4, -1);
  EventBind(1, B, -1, -1, -1);
  EventDispatch(1, -1, -4, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"A", "B", "B", "A"}));
}

TEST_F(EventBinding, PostRunsBindingsWithThePostedEventCurrent) {
  static int64_t seen_object = 0;
  static int32_t seen_type = 0;
  EventPostSimple(2, 50, 0, 0);
  ASSERT_EQ(EventFetch(), 2);
  EventBind(
      3,
      [] {
        seen_object = EventCurrent().object;
        seen_type = EventCurrent().type;
      },
      1, -1, -1);
  EventPostSimple(3, 9, 1, 0);
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
  EventBind(3, A, 1, 5, -1);
  EventPostSimple(3, 5, 1, 0);
  EventPostSimple(3, 5, 1, 0);
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_EQ(EventQueueLength(), 1);
}

TEST_F(EventBinding, DeferredEventsRunBindingsWhenFetched) {
  EventBind(3, A, 1, 5, -1);
  EventPost(3, 5, 1, 0, nullptr, nullptr, EventDeferred);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(EventFetch(), 3);
  EXPECT_EQ(calls, std::vector<std::string>({"A"}));
  EventPostSimple(3, 5, 1, 0);
  EXPECT_EQ(EventFetch(), 3);
  EXPECT_EQ(calls.size(), 2u) << "an ordinary event runs its bindings at the post only";
}

TEST_F(EventBinding, BindAppendsRefusesRepeatsAndKeepsTheWindow) {
  EXPECT_EQ(EventBind(3, A, 2, 7, -1), 1);
  EXPECT_EQ(EventBind(3, B, 2, 7, -1), 1);
  EXPECT_EQ(EventBind(3, A, 2, 7, -1), 0) << "same callback, same filter";
  EXPECT_EQ(EventBind(3, A, 2, 7, 4), 1) << "same callback, another filter";
  EXPECT_EQ(EventBind(3, nullptr, 2, 7, -1), 0);
  EXPECT_EQ(EventBindingKeyCount(), 1);
  EventDispatch(3, 2, 7, 4);
  EXPECT_EQ(calls, std::vector<std::string>({"A", "B", "A"})) << "new nodes go at the end";
  EXPECT_EQ(EventBind(3, C, -1, 7, -1), 1);
  EventUnbindWindow(-1);
  EXPECT_EQ(EventBindingKeyCount(), 1) << "a key with window -1 records -1";
}

TEST_F(EventBinding, BindWithExhaustedMemoryChangesNothing) {
  test::HeapFailAfter(0);
  EXPECT_EQ(EventBind(3, A, 2, 7, -1), 0);
  test::HeapFailNever();
  EXPECT_EQ(EventBindingKeyCount(), 0) << "no empty element left behind";
  EventBind(3, A, 2, 7, -1);
  test::HeapFailAfter(0);
  EXPECT_EQ(EventBind(3, B, 2, 7, -1), 0);
  test::HeapFailNever();
  EventDispatch(3, 2, 7, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"A"}));
}

TEST_F(EventBinding, UnbindRemovesOneNodeAndDeletesEmptyKeys) {
  EventBind(3, A, 2, 7, 1);
  EventBind(3, A, 2, 7, 2);
  EXPECT_EQ(EventUnbind(3, A, 2, 7, 3), 0) << "no node with filter 3";
  EXPECT_EQ(EventUnbind(3, B, 2, 7, -1), 0);
  EXPECT_EQ(EventUnbind(3, A, 9, 9, -1), 0) << "no such key";
  EXPECT_EQ(EventUnbind(3, A, 2, 7, 2), 1);
  EXPECT_EQ(EventBindingKeyCount(), 1);
  EXPECT_EQ(EventUnbind(3, A, 2, 7, -1), 1) << "-1 takes any filter";
  EXPECT_EQ(EventBindingKeyCount(), 0) << "unbinding the only callback deletes the key";
}

TEST_F(EventBinding, UnbindWithNullCallbackRemovesTheWholeKey) {
  EventBind(3, A, 2, 7, -1);
  EventBind(3, B, 2, 7, 1);
  EventBind(3, C, 2, 8, -1);
  EXPECT_EQ(EventUnbind(3, nullptr, 2, 7, -1), 0);
  EXPECT_EQ(EventBindingKeyCount(), 1);
  EventDispatch(3, 2, 7, 1);
  EXPECT_TRUE(calls.empty());
}

TEST_F(EventBinding, ShorterUnbindFormsFillInMinusOne) {
  EventBind(3, A, 2, 7, -1);
  EventBind(3, A, 2, -1, -1);
  EventBind(3, A, -1, -1, -1);
  EXPECT_EQ(EventUnbind(3, A, 2, 7), 1);
  EXPECT_EQ(EventUnbind(3, A, 2), 1);
  EXPECT_EQ(EventUnbind(3, A), 1);
  EXPECT_EQ(EventBindingKeyCount(), 0);
}

TEST_F(EventBinding, UnbindWindowComparesTheRecordedWindow) {
  EventBind(3, A, 2, 7, -1);
  EventBind(1, B, 2, -1, -1);
  EventBind(1, B, 2, 3, -1);
  EventBind(3, C, 5, 7, -1);
  EventBind(3, D, -1, 7, -1);
  EventUnbindWindow(2);
  EXPECT_EQ(EventBindingKeyCount(), 2);
  EventDispatch(3, 5, 7, 0);
  EventDispatch(1, 2, 3, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"C", "D"}));
}

// Callbacks that change the bindings while they run.
void UnbindSelf() {
  calls.push_back("self");
  EventUnbind(3, UnbindSelf, 2, 7, -1);
}
void UnbindNext() {
  calls.push_back("next");
  EventUnbind(3, B, 2, 7, -1);
}
void UnbindKey() {
  calls.push_back("key");
  EventUnbind(3, nullptr, 2, 7, -1);
}
void UnbindWindow() {
  calls.push_back("window");
  EventUnbindWindow(2);
}

TEST_F(EventBinding, CallbackUnbindingItselfRunsOnce) {
  EventBind(3, UnbindSelf, 2, 7, -1);
  EventBind(3, A, 2, 7, -1);
  EventDispatch(3, 2, 7, 0);
  EventDispatch(3, 2, 7, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"self", "A", "A"}));
}

TEST_F(EventBinding, CallbackUnbindingOthersStopsThemSafely) {
  EventBind(3, UnbindNext, 2, 7, -1);
  EventBind(3, B, 2, 7, -1);
  EventBind(3, C, 2, 7, -1);
  EventDispatch(3, 2, 7, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"next", "C"})) << "the unbound node does not run";
  calls.clear();
  EventBind(3, UnbindKey, 2, 7, 0);
  EventBind(3, D, 2, -1, -1);
  EventDispatch(3, 2, 7, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"next", "C", "key", "D"}));
  calls.clear();
  EventBind(3, UnbindWindow, 2, -1, -1);
  EventBind(3, E, 2, -1, -1);
  EventBind(3, F, -1, -1, -1);
  EventDispatch(3, 2, 7, 0);
  EXPECT_EQ(calls, std::vector<std::string>({"D", "window", "F"}));
  EXPECT_EQ(EventBindingKeyCount(), 1);
}

}  // namespace
}  // namespace zn
