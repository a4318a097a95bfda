// Dispatch: the four lookups of an event's bindings, from the most specific key to the least.
//
// For an event whose window is -1 the first and fourth keys are the same text, and so are the
// second and third: the callbacks found there run twice, as the four lookups say.
#include <cstdint>

#include "runtime/containers/containers.h"
#include "runtime/events/events.h"
#include "runtime/events/events_internal.h"

namespace zn {
namespace {

// Runs the list of one key. `exact` accepts a filter equal to the subtype besides -1.
void DispatchKey(int32_t type, int64_t window, int64_t object, int64_t subtype, bool exact) {
  char16_t key[EventKeyUnits];
  EventBindingKey(key, type, window, object);
  const auto* list =
      static_cast<const internal::BindingList*>(MapFind(internal::EventBindingTable(), key));
  if (list == nullptr) {
    return;
  }
  internal::BindingNode* node = list->callbacks;
  while (node != nullptr) {
    // Read before the call: the callback may unbind this node (which then stays readable).
    internal::BindingNode* next = node->next;
    const EventCallback callback = node->callback;
    if (callback != nullptr && (node->filter == EventAny || (exact && node->filter == subtype))) {
      callback();
    }
    node = next;
  }
}

}  // namespace

void EventDispatch(int32_t type, int64_t window, int64_t object, int64_t subtype) {
  // Nothing is bound: no key to build or look up.
  if (internal::BindingTableEmpty()) {
    return;
  }
  internal::BindingDispatchEnter();
  DispatchKey(type, window, object, subtype, true);
  DispatchKey(type, window, EventAny, subtype, false);
  DispatchKey(type, EventAny, EventAny, subtype, false);
  DispatchKey(type, EventAny, object, subtype, true);
  internal::BindingDispatchLeave();
}

}  // namespace zn
