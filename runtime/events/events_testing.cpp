// The event library's test controls.
#include "runtime/events/events_testing.h"

#include <cstdint>

#include "runtime/containers/containers.h"
#include "runtime/events/events.h"
#include "runtime/events/events_internal.h"

namespace zn {

int32_t EventBindingKeyCount() {
  HashMap* table = internal::EventBindingTable();
  return table == nullptr ? 0 : MapElementCount(table);
}

void EventTestReset() {
  EventRemoveMatching(EventAny, EventAny, EventAny, EventAny);
  internal::EventCurrentDiscard();
  internal::BindingTableClear();
}

}  // namespace zn
