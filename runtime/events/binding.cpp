// Binding and unbinding: the EventBindingTable, its keys and the callback lists of its elements.
//
// An element exists only while its list is not empty. Nodes unbound while a dispatch runs are
// marked dead (callback null) and kept readable until the outermost dispatch ends, because the
// dispatch may be standing on them or on the node before them.
#include <cstdint>

#include "runtime/containers/containers.h"
#include "runtime/events/events.h"
#include "runtime/events/events_internal.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

namespace zn {
namespace {

HashMap* binding_table = nullptr;
int32_t dispatch_depth = 0;
internal::BindingNode* discarded_nodes = nullptr;

// After keys were deleted: the queue learns whether any are left.
void BindingKeysDeleted() {
  internal::EventBindingsPresentSet(!internal::BindingTableEmpty());
}

// Appends the decimal text of `value` at `at` and returns the address behind it.
char16_t* AppendNumber(char16_t* at, int64_t value) {
  IntegerToText(at, value);
  while (*at != 0) {
    ++at;
  }
  return at;
}

}  // namespace

namespace internal {

HashMap*& EventBindingTable() {
  return binding_table;
}

bool BindingTableEmpty() {
  return binding_table == nullptr || MapElementCount(binding_table) == 0;
}

void BindingTableCreate() {
  MapCreate(sizeof(BindingList), 7, nullptr, &binding_table, 1024);
}

void BindingTableClear() {
  if (binding_table == nullptr) {
    return;
  }
  MapReset(binding_table);
  while (auto* list = static_cast<BindingList*>(MapNext(binding_table))) {
    BindingNode* first = list->callbacks;
    MapDeleteCurrent(binding_table);
    BindingListDiscard(first);
  }
  BindingKeysDeleted();
}

void BindingTableFree() {
  BindingTableClear();
  MapFree(binding_table);
  binding_table = nullptr;
}

void BindingNodeDiscard(BindingNode* node) {
  if (dispatch_depth == 0) {
    SizedFree(node);
    return;
  }
  // The node's `next` stays as it was, so that a dispatch standing on it walks on.
  node->callback = nullptr;
  node->discarded = discarded_nodes;
  discarded_nodes = node;
}

void BindingListDiscard(BindingNode* first) {
  while (first != nullptr) {
    BindingNode* next = first->next;
    BindingNodeDiscard(first);
    first = next;
  }
}

void BindingDispatchEnter() {
  ++dispatch_depth;
}

void BindingDispatchLeave() {
  if (--dispatch_depth > 0) {
    return;
  }
  while (discarded_nodes != nullptr) {
    BindingNode* node = discarded_nodes;
    discarded_nodes = node->discarded;
    SizedFree(node);
  }
}

}  // namespace internal

using internal::BindingList;
using internal::BindingNode;

void EventBindingKey(char16_t* key, int32_t type, int64_t window, int64_t object) {
  // The same text as formatting "%d:%lld:%lld", without a format parser on every lookup; a
  // 32-bit and two 64-bit numbers need at most 11 + 1 + 20 + 1 + 20 + 1 units.
  char16_t* at = AppendNumber(key, type);
  *at++ = u':';
  at = AppendNumber(at, window);
  *at++ = u':';
  AppendNumber(at, object);
}

int32_t EventBind(int32_t type, EventCallback callback, int64_t window, int64_t object,
                  int64_t filter) {
  if (callback == nullptr || binding_table == nullptr) {
    return 0;
  }
  char16_t key[EventKeyUnits];
  EventBindingKey(key, type, window, object);
  auto* list = static_cast<BindingList*>(MapFind(binding_table, key));
  BindingNode* last = nullptr;
  if (list != nullptr) {
    for (BindingNode* node = list->callbacks; node != nullptr; node = node->next) {
      if (node->callback == callback && node->filter == filter) {
        return 0;
      }
      last = node;
    }
  }
  // The node first: a refused allocation must not leave an empty element behind.
  auto* node = static_cast<BindingNode*>(SizedAllocZeroed(sizeof(BindingNode)));
  if (node == nullptr) {
    return 0;
  }
  if (list == nullptr) {
    list = static_cast<BindingList*>(MapAdd(binding_table, key, 1));
    if (list == nullptr) {
      SizedFree(node);
      return 0;
    }
    list->window = window;
    internal::EventBindingsPresentSet(true);
  }
  node->callback = callback;
  node->filter = filter;
  if (last == nullptr) {
    list->callbacks = node;
  } else {
    last->next = node;
  }
  return 1;
}

int32_t EventUnbind(int32_t type, EventCallback callback, int64_t window, int64_t object,
                    int64_t filter) {
  if (binding_table == nullptr) {
    return 0;
  }
  char16_t key[EventKeyUnits];
  EventBindingKey(key, type, window, object);
  auto* list = static_cast<BindingList*>(MapFind(binding_table, key));
  if (list == nullptr) {
    return 0;
  }
  if (callback == nullptr) {
    BindingNode* first = list->callbacks;
    list->callbacks = nullptr;
    MapDeleteCurrent(binding_table);
    BindingKeysDeleted();
    internal::BindingListDiscard(first);
    return 0;
  }
  BindingNode* previous = nullptr;
  for (BindingNode* node = list->callbacks; node != nullptr; node = node->next) {
    if (node->callback == callback && (filter == EventAny || node->filter == filter)) {
      if (previous == nullptr) {
        list->callbacks = node->next;
      } else {
        previous->next = node->next;
      }
      if (list->callbacks == nullptr) {
        MapDeleteCurrent(binding_table);
        BindingKeysDeleted();
      }
      internal::BindingNodeDiscard(node);
      return 1;
    }
    previous = node;
  }
  return 0;
}

int32_t EventUnbind(int32_t type, EventCallback callback, int64_t window, int64_t object) {
  return EventUnbind(type, callback, window, object, EventAny);
}

int32_t EventUnbind(int32_t type, EventCallback callback, int64_t window) {
  return EventUnbind(type, callback, window, EventAny, EventAny);
}

int32_t EventUnbind(int32_t type, EventCallback callback) {
  return EventUnbind(type, callback, EventAny, EventAny, EventAny);
}

void EventUnbindWindow(int64_t window) {
  if (binding_table == nullptr) {
    return;
  }
  MapReset(binding_table);
  while (auto* list = static_cast<BindingList*>(MapNext(binding_table))) {
    if (list->window != window) {
      continue;
    }
    BindingNode* first = list->callbacks;
    list->callbacks = nullptr;
    // The iteration goes on with the deleted element's successor.
    MapDeleteCurrent(binding_table);
    internal::BindingListDiscard(first);
  }
  BindingKeysDeleted();
}

}  // namespace zn
