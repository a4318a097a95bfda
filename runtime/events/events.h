// The event library: the runtime's own event queue and the binding of callbacks to events.
//
// An event is a type and three 64-bit numbers (object, window, subtype), with optional data that
// the event owns and a routine that frees it. Events are queued first in first out in records of
// the event pool; the program takes them one at a time with `EventFetch`, which makes the taken
// event the `CurrentEvent`. Posting wakes the platform's event loop and, unless the event is
// deferred, runs the callbacks bound to it at once (deferred events run them when fetched). A
// burst of identical events queues one record.
//
// Bindings live in the `EventBindingTable`, a hash map keyed by the text "type:window:object";
// each key holds a list of callbacks with subtype filters. Dispatch looks up four keys per event,
// from the most specific to the least.
//
// Everything runs on the main thread; the `EventThreaded` switch (off) would make the queue take
// a recursive mutex.
//
// Late-bound seams: none of the runtime's own. It calls the program's callbacks: the routines bound
// to events (`EventBind`) and the free routines of event data; either may post, fetch, bind or
// unbind again.
#pragma once

#include <cstdint>

namespace zn {

// ---------------------------------------------------------------------------------------------
// The event queue.

// EventDataFree: takes an event's data and frees it.
using EventDataFree = void (*)(void* data);

// EventRecord: one queued event, a block of the event pool.
struct EventRecord {
  EventRecord* next;
  int32_t type;
  uint32_t flags;
  int64_t object;
  int64_t window;
  int64_t subtype;
  void* data;
  EventDataFree free_callback;
};
static_assert(sizeof(EventRecord) == 56, "an event record is seven words");

// CurrentEvent: the event being handled. A type of 0 means no event.
struct CurrentEvent {
  int32_t type;
  int64_t window;
  int64_t object;
  int64_t subtype;
  void* data;
  EventDataFree free_callback;
};

// Event types posted in this system. A type of 0 means no event and is never posted.
inline constexpr int32_t EventTypeNone = 0;
// A menu command: object the item's tag (or a reserved item below), window the id of the window
// the menu belongs to (0 for none), subtype 0. Always wakes the platform loop.
inline constexpr int32_t EventTypeMenu = 1;
// A gadget event: object the gadget's id, window the gadget's window, subtype the kind of event.
inline constexpr int32_t EventTypeGadget = 3;
// A type that never wakes the platform loop.
inline constexpr int32_t EventTypeQuiet = 4;

// Reserved menu items, posted as the object of a menu event by the application menu's standard
// commands (and, for Quit, by the platform's request to terminate).
inline constexpr int64_t MenuItemPreferences = -2;
inline constexpr int64_t MenuItemAbout = -3;
inline constexpr int64_t MenuItemQuit = -4;

// The window of an event that concerns the whole application (the request to terminate).
inline constexpr int64_t EventWindowApplication = -1;
// The subtype of a menu event, and of a gadget's plain action.
inline constexpr int64_t EventSubtypeNone = 0;
// The current subtype after a fetch that found no event.
inline constexpr int64_t EventSubtypeNoEvent = -1;
// In a removal, a binding key or a subtype filter: every value.
inline constexpr int64_t EventAny = -1;

// Posting flags.
inline constexpr uint32_t EventDeferred = 2;   // never coalesce; bindings run at the fetch
inline constexpr uint32_t EventForceWake = 4;  // wake even when a platform event is pending

// Types above this are never coalesced.
inline constexpr int32_t EventCoalesceMaxType = 65535;

// EventInit: creates the event pool (keeping its first block for the life of the process) and
// the binding table; with EventThreaded on, also the event mutex. Start step of the library; a
// second call does nothing.
void EventInit();

// EventEnd: the library's end step. Every queued event and the current one give their data to
// their free callbacks (posts made meanwhile are dropped, their data freed at once), every
// binding goes, and the binding table and the event pool are freed; EventInit starts the library
// again.
void EventEnd();

// EventThreadedSet / EventThreaded: the process-wide thread-safety switch, off by default. Set it
// before EventInit.
void EventThreadedSet(bool on);
bool EventThreaded();

// EventPost: wakes the platform loop (menu events always; quiet ones never; others when forced or
// when no platform event is pending), then queues the event unless it repeats the last queued
// record (same type, object, window and subtype, type at most 65535, not deferred), then runs the
// bindings at once unless deferred, with the event as the current one. An event that is not
// queued (coalesced, or dropped because the pool cannot supply a record) hands its data to its
// free callback, so that nothing the caller passed is lost; a dropped event runs no bindings and
// changes nothing else.
void EventPost(int32_t type, int64_t object, int64_t window, int64_t subtype, void* data,
               EventDataFree free_callback, uint32_t flags);

// EventPostWithData: EventPost with flags 0.
void EventPostWithData(int32_t type, int64_t object, int64_t window, int64_t subtype, void* data,
                       EventDataFree free_callback);

// EventPostSimple: EventPost without data, free callback or flags.
void EventPostSimple(int32_t type, int64_t object, int64_t window, int64_t subtype);

// EventFetch: frees the current event's data, then makes the first queued event current and
// returns its type (running its bindings when it was deferred). An empty queue gives 0, with the
// current subtype -1 and its window and object as they were.
int32_t EventFetch();

// EventPeekType: the first queued record's type, 0 when empty; nothing is removed.
int32_t EventPeekType();

// EventPeek: as EventPeekType, also storing the record's object, window and subtype (left alone
// when the queue is empty).
int32_t EventPeek(int64_t* object, int64_t* window, int64_t* subtype);

// EventQueueLength: records in the queue.
int64_t EventQueueLength();

// EventCurrentType: the CurrentEvent's type.
int64_t EventCurrentType();

// EventCurrent: the CurrentEvent, which bound callbacks read.
const CurrentEvent& EventCurrent();

// EventRemoveMatching: drops every queued record whose fields equal the arguments (-1 matches any
// value), keeping the order of the rest. The data of a dropped record goes to its free callback.
void EventRemoveMatching(int32_t type, int64_t object, int64_t window, int64_t subtype);

// EventRemoveForWindow: drops every queued record of this window, as EventRemoveMatching does.
void EventRemoveForWindow(int64_t window);

// WakeEventLoop: posts an empty application-defined event at the head of the platform's event
// queue, so that a wait in the platform's event loop returns. Nothing without an application.
void WakeEventLoop();

// ---------------------------------------------------------------------------------------------
// Event binding.

// EventCallback: a bound procedure; it reads the event from EventCurrent().
using EventCallback = void (*)();

// The key text of (type, window, object) holds at most this many units with its terminator.
inline constexpr int32_t EventKeyUnits = 128;

// EventBindingKey: writes the key text "type:window:object" (decimal, -1 as "-1") at `key`.
void EventBindingKey(char16_t* key, int32_t type, int64_t window, int64_t object);

// EventBind: appends the callback with its subtype filter (-1: every subtype) to the list of the
// key (type, window, object), each of which may be -1 for any value; the key's element records
// the window. Returns 1 when bound; 0 for a null callback, for a callback already bound to the
// key with the same filter, or when memory is exhausted (nothing changed).
int32_t EventBind(int32_t type, EventCallback callback, int64_t window, int64_t object,
                  int64_t filter);

// EventDispatch: runs the callbacks of the keys type:window:object (filter equal to the subtype
// or -1), type:window:-1 (filter -1), type:-1:-1 (filter -1) and type:-1:object (filter equal or
// -1), in this order. A callback may bind and unbind anything, itself included: a node unbound
// during a dispatch does not run afterwards and is freed when the outermost dispatch ends.
void EventDispatch(int32_t type, int64_t window, int64_t object, int64_t subtype);

// EventUnbind: with a callback, removes its first node on the key whose filter equals the given
// one (any filter for -1) and returns 1; 0 when there is none. With a null callback, removes
// every node of the key and returns 0. A key left empty is deleted from the table.
int32_t EventUnbind(int32_t type, EventCallback callback, int64_t window, int64_t object,
                    int64_t filter);
// The shorter forms: filter -1; object and filter -1; window, object and filter -1.
int32_t EventUnbind(int32_t type, EventCallback callback, int64_t window, int64_t object);
int32_t EventUnbind(int32_t type, EventCallback callback, int64_t window);
int32_t EventUnbind(int32_t type, EventCallback callback);

// EventUnbindWindow: removes every key whose element records this window, with all its nodes.
void EventUnbindWindow(int64_t window);

}  // namespace zn
