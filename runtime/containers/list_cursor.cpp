// List walks with a cursor of their own, appending at the end, and removing one element known by
// its value's address.
//
// A cursor holds the element it stands on and reads that element's successor only when it steps,
// so adds and removals elsewhere leave it alone. Removing through the cursor first notes the
// successor, which the next step returns.
#include <cstdint>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/structures.h"

namespace zn {
namespace {

enum CursorState : int32_t {
  kBeforeFirst,  // no step taken yet
  kOnElement,    // standing on `element`, visited
  kBeforeNext,   // after a removal: `element` is the next to visit (null: the walk is over)
  kOver,
};

ListElement* ElementOf(void* value) {
  return static_cast<ListElement*>(
      static_cast<void*>(static_cast<char*>(value) - sizeof(ListElement)));
}

}  // namespace

void* ListAppend(LinkedList* list) {
  if (list == nullptr) {
    return nullptr;
  }
  ListElement* const current = list->current;
  // Adding behind the last element is appending; an empty list adds at the front, its end.
  list->current = list->last;
  void* value = ListAdd(list);
  if (value == nullptr) {
    list->current = current;  // a refused add changed nothing else
    return nullptr;
  }
  list->current_index = list->count - 1;
  list->index_invalid = 0;
  return value;
}

int32_t ListDeleteValue(LinkedList* list, void* value) {
  if (list == nullptr || value == nullptr) {
    return 0;
  }
  ListElement* element = ElementOf(value);
  if (element->previous != nullptr) {
    element->previous->next = element->next;
  } else {
    list->first = element->next;
  }
  if (element->next != nullptr) {
    element->next->previous = element->previous;
  } else {
    list->last = element->previous;
  }
  if (element == list->current) {
    list->current = element->previous;
    *list->current_cell = list->current;
    if (list->current == nullptr) {
      list->index_invalid = 1;
    } else {
      --list->current_index;
    }
  } else if (list->current != nullptr) {
    // Whether the element stood before the current one would take a walk to tell; the next
    // ListSelect walks from an end instead.
    list->index_invalid = 1;
  }
  --list->count;
  if (list->layout != nullptr) {
    StructureClear(value, list->layout);
  }
  PoolGive(list->pool, element);
  return 1;
}

ListCursor ListCursorStart(LinkedList* list) {
  return ListCursor{list, nullptr, list != nullptr ? kBeforeFirst : kOver};
}

void* ListCursorNext(ListCursor* cursor) {
  if (cursor == nullptr || cursor->list == nullptr) {
    return nullptr;
  }
  ListElement* next = nullptr;
  switch (cursor->state) {
    case kBeforeFirst:
      next = cursor->list->first;
      break;
    case kOnElement:
      next = cursor->element->next;
      break;
    case kBeforeNext:
      next = cursor->element;
      break;
    default:
      return nullptr;
  }
  cursor->element = next;
  cursor->state = next != nullptr ? kOnElement : kOver;
  return next != nullptr ? internal::ElementValue(next) : nullptr;
}

int32_t ListCursorDelete(ListCursor* cursor) {
  if (cursor == nullptr || cursor->state != kOnElement) {
    return 0;
  }
  ListElement* next = cursor->element->next;
  ListDeleteValue(cursor->list, internal::ElementValue(cursor->element));
  cursor->element = next;
  cursor->state = kBeforeNext;
  return 1;
}

}  // namespace zn
