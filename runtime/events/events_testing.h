// Test controls of the event library (library zn_events_testing: linked by tests and benchmarks,
// never installed, never linked into a shipped program).
#pragma once

#include <cstdint>

namespace zn {

// EventBindingKeyCount: elements in the binding table.
int32_t EventBindingKeyCount();
// EventTestReset: empties the queue and the current event (freeing their data) and removes
// every binding, so that a test starts from a known state. Needs EventInit first.
void EventTestReset();

}  // namespace zn
