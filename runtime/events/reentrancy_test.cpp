// Re-entrancy of event bindings: a bound callback that unbinds or binds on its own key, unbinds its
// window, posts, removes queued events or fetches the next one while its event is being run, both
// for events run when posted and for deferred ones run at the fetch. A second callback bound behind
// it reads the current event's data, so that data freed too early shows under the sanitizers; at
// the end every event's data has been freed exactly once and nothing is left behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "runtime/events/events.h"
#include "runtime/events/events_testing.h"
#include "runtime/memory/memory.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

constexpr int64_t kWindow = 2;
constexpr int64_t kObject = 7;

int64_t made = 0;
int64_t freed = 0;
int depth = 0;
uint32_t post_flags = 0;
std::function<void()> behaviour;

void DataFree(void* data) {
  ++freed;
  MemoryRelease(data);
}

void PostWithData(int64_t subtype) {
  auto* data = static_cast<int64_t*>(MemoryAlloc(sizeof(int64_t)));
  *data = 1000 + subtype;
  ++made;
  EventPost(EventTypeGadget, kObject, kWindow, subtype, data, DataFree, post_flags);
}

void Acting() {
  ++depth;
  behaviour();
  --depth;
}

// Reads the current event's data, wherever the acting callback left the queue.
void Witness() {
  if (const auto* data = static_cast<const int64_t*>(EventCurrent().data)) {
    EXPECT_GE(*data, 1000) << "the current event's data was overwritten";
  }
}

void Other() {}

TEST(EventBindingReentrancy, CallbacksMayChangeTheirOwnBindingsAndQueue) {
  EventInit();
  const struct {
    const char* name;
    std::function<void()> act;
  } cases[] = {
      {"unbinds itself", [] { EventUnbind(EventTypeGadget, Acting, kWindow, kObject); }},
      {"unbinds its key", [] { EventUnbind(EventTypeGadget, nullptr, kWindow, kObject); }},
      {"unbinds its window", [] { EventUnbindWindow(kWindow); }},
      {"binds on its key", [] { EventBind(EventTypeGadget, Other, kWindow, kObject, EventAny); }},
      {"posts again",
       [] {
         if (made < 8) PostWithData(50 + made);  // deferred posts do not nest: bound by count
       }},
      {"removes its own event",
       [] { EventRemoveMatching(EventTypeGadget, EventAny, EventAny, EventAny); }},
      {"removes its window's events", [] { EventRemoveForWindow(kWindow); }},
      {"fetches the next event",
       [] {
         if (depth < 3) EventFetch();
       }},
      {"fetches the queue empty",
       [] {
         while (EventFetch() != EventTypeNone) {
         }
       }},
  };
  for (const auto& c : cases) {
    for (const uint32_t flags : {0u, EventDeferred}) {
      SCOPED_TRACE(testing::Message() << c.name << (flags != 0 ? ", deferred" : ", when posted"));
      EventTestReset();
      const test::LiveBlockGuard live;
      made = freed = 0;
      depth = 0;
      post_flags = flags;
      behaviour = c.act;
      EventBind(EventTypeGadget, Acting, kWindow, kObject, EventAny);
      EventBind(EventTypeGadget, Witness, kWindow, kObject, EventAny);
      EventBind(EventTypeGadget, Witness, EventAny, EventAny, EventAny);
      for (int64_t subtype = 0; subtype < 3; ++subtype)
        PostWithData(subtype);
      while (EventFetch() != EventTypeNone) {
      }
      EventTestReset();
      EXPECT_EQ(freed, made) << "every event's data is freed exactly once";
    }
  }
}

}  // namespace
}  // namespace zn
