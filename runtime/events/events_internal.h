// Internal to the event library: the binding table and the binding node, shared by binding,
// unbinding, dispatch and the queue, and the platform question of a post. Not installed.
#pragma once

#include <cstdint>

#include "runtime/containers/containers.h"
#include "runtime/events/events.h"

namespace zn::internal {

// BindingNode: one callback of a key's list, a SizedBlock. `discarded` links nodes unbound during
// a dispatch, which stay readable until the outermost dispatch ends.
struct BindingNode {
  BindingNode* next;
  EventCallback callback;
  int64_t filter;
  BindingNode* discarded;
};

// The 16-byte value of a binding table element.
struct BindingList {
  BindingNode* callbacks;
  int64_t window;
};
static_assert(sizeof(BindingList) == 16, "a binding element's value is 16 bytes");

// The EventBindingTable; null before EventInit.
HashMap*& EventBindingTable();

// EventCurrentDiscard: the current event's data goes to its free callback and the current event
// is emptied.
void EventCurrentDiscard();

// BindingTableEmpty: whether no callback is bound (or there is no table), so that a dispatch
// would call nothing.
bool BindingTableEmpty();

// EventBindingsPresentSet: tells the queue whether any key is bound, so that a post with nothing
// bound skips its binding run without a call. The binding code says so whenever it adds a key
// (present) or deletes one (present when keys are left).
void EventBindingsPresentSet(bool present);

// BindingTableCreate: the table of EventInit (1024 buckets, value type code 7).
void BindingTableCreate();
// BindingTableClear: unbinds every callback; the table stays.
void BindingTableClear();
// BindingTableFree: unbinds every callback and frees the table (the library's end).
void BindingTableFree();

// BindingNodeDiscard: a node already unlinked from its list; freed now, or at the end of the
// outermost dispatch when one is running.
void BindingNodeDiscard(BindingNode* node);

// BindingListDiscard: every node of a list, as BindingNodeDiscard.
void BindingListDiscard(BindingNode* first);

// Dispatch depth bookkeeping: entering and leaving a dispatch; leaving the outermost one frees
// the nodes discarded meanwhile.
void BindingDispatchEnter();
void BindingDispatchLeave();

// PlatformEventPending: whether the platform's queue holds an event of any kind, asked without
// waiting and without removing it.
bool PlatformEventPending();

}  // namespace zn::internal
