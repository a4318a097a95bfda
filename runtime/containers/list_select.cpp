// Selecting a list element by index.
//
// The walk starts from whichever of the first element, the last element and the current element
// is nearest, so stepping through a list by ascending (or descending) index costs one step per
// call. Ties go to the first element and to the last element.
#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"

namespace zn {
namespace {

internal::ListSelectTrace last_select{internal::ListWalk::kNone, 0};

ListElement* Forward(ListElement* element, int64_t steps) {
  for (int64_t i = 0; i < steps; ++i) {
    element = element->next;
  }
  last_select.steps = steps;
  return element;
}

ListElement* Backward(ListElement* element, int64_t steps) {
  for (int64_t i = 0; i < steps; ++i) {
    element = element->previous;
  }
  last_select.steps = steps;
  return element;
}

ListElement* FromFirst(const LinkedList* list, int64_t n) {
  last_select.walk = internal::ListWalk::kFromFirst;
  return Forward(list->first, n);
}

ListElement* FromLast(const LinkedList* list, int64_t n) {
  last_select.walk = internal::ListWalk::kFromLast;
  return Backward(list->last, list->count - 1 - n);
}

}  // namespace

namespace internal {

ListSelectTrace ListLastSelect() {
  return last_select;
}

}  // namespace internal

void* ListSelect(LinkedList* list, int64_t index) {
  last_select = {internal::ListWalk::kNone, 0};
  if (list == nullptr) {
    return nullptr;
  }
  const int64_t n = index;
  const int64_t c = list->current_index;
  list->current_index = n;
  if (n < 0 || n >= list->count) {
    list->current = nullptr;
    *list->current_cell = nullptr;
    list->index_invalid = 1;
    return nullptr;
  }
  ListElement* element = nullptr;
  if (list->index_invalid != 0 || list->current == nullptr) {
    element = n < list->count / 2 ? FromFirst(list, n) : FromLast(list, n);
  } else if (n > c) {
    if (n - c < list->count - n) {
      last_select.walk = internal::ListWalk::kForwardFromCurrent;
      element = Forward(list->current, n - c);
    } else {
      element = FromLast(list, n);
    }
  } else if (c - n >= n) {
    element = FromFirst(list, n);
  } else {
    last_select.walk = internal::ListWalk::kBackwardFromCurrent;
    element = Backward(list->current, c - n);
  }
  list->current = element;
  *list->current_cell = element;
  list->index_invalid = 0;
  return internal::ElementValue(element);
}

}  // namespace zn
