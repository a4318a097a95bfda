// Speed of the event queue and of dispatch, beside anchors that do the same work with standard
// containers: a deque push and pop for a post and a fetch, and an unordered_map of UTF-16 keys
// built with to_string for the four lookups of a dispatch.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

#include "runtime/events/events.h"
#include "runtime/events/events_testing.h"
#include "system/desktop/application.h"
#include "system/desktop/desktop_testing.h"
#include "system/desktop/object.h"

namespace {

int callback_runs = 0;
void Count() {
  ++callback_runs;
}

// A post and a fetch of alternating events (consecutive posts differ, so nothing coalesces),
// without a platform application to wake.
void BM_EventPostFetchAlternating(benchmark::State& state) {
  zn::EventInit();
  zn::EventTestReset();
  int64_t object = 0;
  for (auto _ : state) {
    zn::EventPostSimple(zn::EventTypeGadget, object & 1, 1, zn::EventSubtypeNone);
    benchmark::DoNotOptimize(zn::EventFetch());
    ++object;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventPostFetchAlternating);

// The same with the desktop model's application: every post asks whether a platform event is
// pending (one is, so the platform loop is not woken again).
void BM_EventPostFetchWithApplication(benchmark::State& state) {
  using namespace zn::desktop;
  zn::EventInit();
  zn::EventTestReset();
  auto* pool = objc_alloc<NSAutoreleasePool>();
  NSApplication::sharedApplication();
  zn::WakeEventLoop();
  int64_t object = 0;
  for (auto _ : state) {
    zn::EventPostSimple(zn::EventTypeGadget, object & 1, 1, zn::EventSubtypeNone);
    benchmark::DoNotOptimize(zn::EventFetch());
    ++object;
  }
  objc_release(pool);
  DesktopTestReset();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventPostFetchWithApplication);

struct Event {
  int32_t type;
  int64_t object, window, subtype;
};

// Anchor: a push and a pop of a standard deque.
void BM_AnchorDequePushPop(benchmark::State& state) {
  std::deque<Event> queue;
  int64_t object = 0;
  for (auto _ : state) {
    queue.push_back(Event{3, object & 1, 1, 0});
    benchmark::DoNotOptimize(queue.front());
    queue.pop_front();
    ++object;
  }
}
BENCHMARK(BM_AnchorDequePushPop);

// Dispatch of one event with 100 keys bound (types 3, windows 0-9, objects 0-9, one callback
// each, plus a window key and a type key): four lookups, three of them hits.
void BM_EventDispatchHundredKeys(benchmark::State& state) {
  zn::EventInit();
  zn::EventTestReset();
  for (int64_t window = 0; window < 10; ++window) {
    for (int64_t object = 0; object < 10; ++object)
      zn::EventBind(zn::EventTypeGadget, Count, window, object, zn::EventAny);
  }
  zn::EventBind(zn::EventTypeGadget, Count, 5, zn::EventAny, zn::EventAny);
  zn::EventBind(zn::EventTypeGadget, Count, zn::EventAny, zn::EventAny, zn::EventAny);
  callback_runs = 0;
  for (auto _ : state)
    zn::EventDispatch(zn::EventTypeGadget, 5, 7, zn::EventSubtypeNone);
  state.counters["callbacks"] =
      benchmark::Counter(callback_runs, benchmark::Counter::kAvgIterations);
  zn::EventTestReset();
}
BENCHMARK(BM_EventDispatchHundredKeys);

// Anchor: the same four lookups in an unordered_map with keys built by to_string.
void BM_AnchorUnorderedMapFourLookups(benchmark::State& state) {
  std::unordered_map<std::u16string, int> table;
  auto key = [](int32_t type, int64_t window, int64_t object) {
    const std::string text =
        std::to_string(type) + ":" + std::to_string(window) + ":" + std::to_string(object);
    return std::u16string(text.begin(), text.end());
  };
  for (int64_t window = 0; window < 10; ++window) {
    for (int64_t object = 0; object < 10; ++object)
      table[key(3, window, object)] = 1;
  }
  table[key(3, 5, -1)] = 1;
  table[key(3, -1, -1)] = 1;
  for (auto _ : state) {
    int found = 0;
    for (const auto& k : {key(3, 5, 7), key(3, 5, -1), key(3, -1, -1), key(3, -1, 7)}) {
      auto it = table.find(k);
      if (it != table.end()) found += it->second;
    }
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_AnchorUnorderedMapFourLookups);

}  // namespace

BENCHMARK_MAIN();
