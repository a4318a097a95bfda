// The event queue: posting with coalescing and the immediate binding run, fetching into the
// CurrentEvent, the peeks and the removals.
//
// Records come from the event pool. EventInit takes one block and never gives it back, so that
// the pool's first chunk stays allocated however often the queue runs empty: posting and
// fetching then cost no heap call.
#include <pthread.h>

#include <cstdint>

#include "runtime/containers/containers.h"
#include "runtime/events/events.h"
#include "runtime/events/events_internal.h"
#include "system/desktop/application.h"

namespace zn {
namespace {

BlockPool* event_pool = nullptr;
void* kept_block = nullptr;
EventRecord* first_record = nullptr;
EventRecord* last_record = nullptr;
CurrentEvent current_event = {};
// Whether the current event owns its data. A fetched event does, until the next fetch; during an
// immediate binding run the current event only shows the posted event, whose data its record (or,
// for a coalesced or removed one, EventPost itself) still owns, so a fetch made by a callback must
// not free it.
bool current_owned = false;
// Fetches so far: a run that sees the count move knows a callback moved the program on.
uint64_t fetches = 0;
// While the library ends, posts are dropped (their data freed at once), so that a free callback
// that posts cannot keep the queue from emptying.
bool ending = false;

// Whether any key is bound, as the binding code last said: a post with nothing bound skips the
// binding run without asking the table.
bool bindings_present = false;

// The recursive event mutex of the threaded switch. The flag is read inline on every queue
// operation: with the switch off, as in this system, holding "the lock" costs one test.
bool mutex_ready = false;
pthread_mutex_t event_mutex;

void EventMutexInit() {
  if (!EventThreaded() || mutex_ready) {
    return;
  }
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  mutex_ready = pthread_mutex_init(&event_mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
}

// Holds the event mutex while alive when the threaded switch made one.
class EventLock {
 public:
  EventLock() : held_(mutex_ready) {
    if (held_) [[unlikely]] {
      pthread_mutex_lock(&event_mutex);
    }
  }
  ~EventLock() {
    if (held_) [[unlikely]] {
      pthread_mutex_unlock(&event_mutex);
    }
  }
  EventLock(const EventLock&) = delete;
  EventLock& operator=(const EventLock&) = delete;

 private:
  bool held_;
};

// An immediate binding run in progress: the record it posted, and whether a removal took that
// record meanwhile. The record's data is then the current event's, still read by the callbacks
// to come, so it goes to its free callback only when the run ends. Runs nest when callbacks post.
struct ImmediateRun {
  EventRecord* record;
  bool removed;
  ImmediateRun* outer;
};
ImmediateRun* innermost_run = nullptr;

// Whether `record`, leaving the queue, is the posted record of a run in progress; the run stops
// watching it either way, since the pool may hand the block out again.
bool RunForgets(const EventRecord* record, bool removed) {
  for (ImmediateRun* run = innermost_run; run != nullptr; run = run->outer) {
    if (run->record == record) {
      run->record = nullptr;
      run->removed = removed;
      return true;
    }
  }
  return false;
}

// Without a platform application there is no loop to wake and no platform queue to ask (both
// would do nothing), so a post in a program without one makes no call for it.
bool ShouldWake(int32_t type, uint32_t flags) {
  if (desktop::NSApp == nullptr) {
    return false;
  }
  if (type == EventTypeMenu) {
    return true;
  }
  if (type == EventTypeQuiet) {
    return false;
  }
  return (flags & EventForceWake) != 0 || !internal::PlatformEventPending();
}

void FreeData(void* data, EventDataFree free_callback) {
  if (data != nullptr && free_callback != nullptr) {
    free_callback(data);
  }
}

// Unlinks every record the predicate accepts (keeping the order of the rest and the last-record
// pointer on the last kept one), then frees their data and gives them back. The data goes last,
// when the queue is consistent again, because a free callback may post. The data is freed at all
// because the event owns it: a dropped record is its last holder, and would otherwise leak it.
template <class Match>
void RemoveRecords(Match match) {
  EventRecord* removed = nullptr;
  EventRecord* previous = nullptr;
  EventRecord* record = first_record;
  while (record != nullptr) {
    EventRecord* next = record->next;
    if (match(*record)) {
      if (previous == nullptr) {
        first_record = next;
      } else {
        previous->next = next;
      }
      record->next = removed;
      removed = record;
    } else {
      previous = record;
    }
    record = next;
  }
  last_record = previous;
  while (removed != nullptr) {
    EventRecord* next = removed->next;
    void* data = removed->data;
    const EventDataFree free_callback = removed->free_callback;
    const bool in_run = RunForgets(removed, true);
    PoolGive(event_pool, removed);
    if (!in_run) {
      FreeData(data, free_callback);
    }
    removed = next;
  }
}

// The immediate binding run of a posted event (its record, null when coalesced): the callbacks
// see the event as the current one; the program's own current event is back afterwards.
[[gnu::noinline]] void BindingRunAtPost(const CurrentEvent& posted, EventRecord* record,
                                        bool coalesced) {
  const CurrentEvent saved = current_event;
  const bool saved_owned = current_owned;
  const uint64_t fetches_before = fetches;
  ImmediateRun run{record, false, innermost_run};
  innermost_run = &run;
  current_event = posted;
  current_owned = false;
  EventDispatch(posted.type, posted.window, posted.object, posted.subtype);
  innermost_run = run.outer;
  if (fetches == fetches_before) {
    current_event = saved;
    current_owned = saved_owned;
  } else if (saved_owned) {
    // A callback fetched: the program has moved on to the fetched event, and the event that was
    // current before the post has had its next fetch, which ends its data's life.
    FreeData(saved.data, saved.free_callback);
  }
  // A coalesced event's data is kept by no record, and a removed one's by none any more: it is
  // freed here instead of being lost.
  if (coalesced || run.removed) {
    FreeData(posted.data, posted.free_callback);
  }
}

}  // namespace

void EventInit() {
  if (event_pool != nullptr) {
    return;
  }
  event_pool = PoolCreate(sizeof(EventRecord), 16, 256, PoolNoLock);
  kept_block = PoolTake(event_pool);
  internal::BindingTableCreate();
  EventMutexInit();
}

void EventEnd() {
  if (event_pool == nullptr) {
    return;
  }
  ending = true;
  EventRemoveMatching(EventAny, EventAny, EventAny, EventAny);
  internal::EventCurrentDiscard();
  internal::BindingTableFree();
  PoolDestroy(event_pool);  // with the block kept since the start
  event_pool = nullptr;
  kept_block = nullptr;
  ending = false;
}

void EventPost(int32_t type, int64_t object, int64_t window, int64_t subtype, void* data,
               EventDataFree free_callback, uint32_t flags) {
  EventLock lock;
  const bool deferred = (flags & EventDeferred) != 0;
  const bool coalesced = !deferred && type <= EventCoalesceMaxType && last_record != nullptr &&
                         last_record->type == type && last_record->object == object &&
                         last_record->window == window && last_record->subtype == subtype;
  EventRecord* record = nullptr;
  if (!coalesced) {
    record =
        static_cast<EventRecord*>(event_pool == nullptr || ending ? nullptr : PoolTake(event_pool));
    if (record == nullptr) {
      // Dropped: nothing is queued, run or woken; only the data the caller handed over is freed.
      FreeData(data, free_callback);
      return;
    }
  }
  if (ShouldWake(type, flags)) {
    WakeEventLoop();
  }
  if (record != nullptr) {
    *record = EventRecord{nullptr, type, flags, object, window, subtype, data, free_callback};
    if (last_record == nullptr) {
      first_record = record;
    } else {
      last_record->next = record;
    }
    last_record = record;
    if (deferred) {
      return;
    }
  }
  // With nothing bound the run would call no callback, and the current event would be back as it
  // was: it is skipped, and only a coalesced event's data needs its free callback.
  if (!bindings_present) {
    if (coalesced) {
      FreeData(data, free_callback);
    }
    return;
  }
  BindingRunAtPost(CurrentEvent{type, window, object, subtype, data, free_callback}, record,
                   coalesced);
}

void EventPostWithData(int32_t type, int64_t object, int64_t window, int64_t subtype, void* data,
                       EventDataFree free_callback) {
  EventPost(type, object, window, subtype, data, free_callback, 0);
}

void EventPostSimple(int32_t type, int64_t object, int64_t window, int64_t subtype) {
  EventPost(type, object, window, subtype, nullptr, nullptr, 0);
}

int32_t EventFetch() {
  EventLock lock;
  ++fetches;
  current_event.type = 0;
  // The data of an event lives until the next fetch; data the current event only shows (during
  // an immediate run) stays with its owner.
  void* data = current_event.data;
  const EventDataFree free_callback = current_event.free_callback;
  current_event.data = nullptr;
  current_event.free_callback = nullptr;
  if (current_owned) {
    current_owned = false;
    FreeData(data, free_callback);
  }
  current_event.subtype = EventSubtypeNoEvent;
  EventRecord* record = first_record;
  if (record == nullptr) {
    return 0;
  }
  current_event = CurrentEvent{record->type,    record->window, record->object,
                               record->subtype, record->data,   record->free_callback};
  current_owned = true;
  first_record = record->next;
  if (first_record == nullptr) {
    last_record = nullptr;
  }
  const bool deferred = (record->flags & EventDeferred) != 0;
  // Fetched during its own immediate run: the data now belongs to the current event.
  RunForgets(record, false);
  PoolGive(event_pool, record);
  if (deferred) {
    EventDispatch(current_event.type, current_event.window, current_event.object,
                  current_event.subtype);
  }
  return current_event.type;
}

int32_t EventPeekType() {
  EventLock lock;
  return first_record == nullptr ? 0 : first_record->type;
}

int32_t EventPeek(int64_t* object, int64_t* window, int64_t* subtype) {
  EventLock lock;
  if (first_record == nullptr) {
    return 0;
  }
  *object = first_record->object;
  *window = first_record->window;
  *subtype = first_record->subtype;
  return first_record->type;
}

int64_t EventCurrentType() {
  return current_event.type;
}

const CurrentEvent& EventCurrent() {
  return current_event;
}

void EventRemoveMatching(int32_t type, int64_t object, int64_t window, int64_t subtype) {
  RemoveRecords([=](const EventRecord& r) {
    return (type == EventAny || r.type == type) && (object == EventAny || r.object == object) &&
           (window == EventAny || r.window == window) &&
           (subtype == EventAny || r.subtype == subtype);
  });
}

void EventRemoveForWindow(int64_t window) {
  RemoveRecords([=](const EventRecord& r) { return r.window == window; });
}

int64_t EventQueueLength() {
  int64_t length = 0;
  for (const EventRecord* r = first_record; r != nullptr; r = r->next) {
    ++length;
  }
  return length;
}

namespace internal {

void EventBindingsPresentSet(bool present) {
  bindings_present = present;
}

void EventCurrentDiscard() {
  if (current_owned) {
    FreeData(current_event.data, current_event.free_callback);
  }
  current_owned = false;
  current_event = CurrentEvent{};
}

}  // namespace internal

}  // namespace zn
