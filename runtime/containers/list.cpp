// Linked lists: creating, adding, clearing, copying and freeing, and the list hooks through which
// structure code reaches list fields.
//
// A list lives in a ListHolder whose second word always names the current element, so a program
// reaches the current value without a call; every operation that moves the current element writes
// it there too. Elements come from the shared pool of their element size.
#include <cstring>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"

namespace zn {
namespace {

constexpr int32_t kPoolMinimum = 16;
constexpr int32_t kPoolMaximum = 65536;

uint64_t ValueSize(const LinkedList* list) {
  return list->element_size - sizeof(ListElement);
}

// Links `element` behind the current element, or at the front when there is none, and makes it
// current. Kept apart from taking the element so that adding and copying share it.
void ElementLink(LinkedList* list, ListElement* element) {
  ListElement* current = list->current;
  if (current != nullptr) {
    element->previous = current;
    element->next = current->next;
    if (current->next != nullptr) {
      current->next->previous = element;
    }
    current->next = element;
    ++list->current_index;
  } else {
    element->previous = nullptr;
    element->next = list->first;
    if (list->first != nullptr) {
      list->first->previous = element;
    }
    list->first = element;
    list->current_index = 0;
    list->index_invalid = 0;
  }
  if (element->next == nullptr) {
    list->last = element;
  }
  list->current = element;
  *list->current_cell = element;
  ++list->count;
}

// Gives back a chain of unlinked elements (joined by `next`) after clearing their values.
void ChainRelease(LinkedList* list, ListElement* element) {
  while (element != nullptr) {
    ListElement* next = element->next;
    if (list->layout != nullptr) {
      StructureClear(internal::ElementValue(element), list->layout);
    }
    PoolGive(list->pool, element);
    element = next;
  }
}

}  // namespace

LinkedList* ListCreate(uint64_t value_size, ListHolder* holder, LayoutDescriptor layout,
                       int32_t type) {
  uint64_t element_size = 0;
  if (!internal::ElementSizeFits(value_size, &element_size)) {
    return nullptr;
  }
  auto* list = static_cast<LinkedList*>(SizedAllocZeroed(sizeof(LinkedList)));
  if (list == nullptr) {
    return nullptr;
  }
  ListHolder* own = nullptr;
  if (holder == nullptr) {
    own = static_cast<ListHolder*>(SizedAllocZeroed(sizeof(ListHolder)));
    holder = own;
  }
  list->pool = PoolCreate(element_size, kPoolMinimum, kPoolMaximum, PoolShared);
  if (holder == nullptr || list->pool == nullptr) {
    PoolDestroy(list->pool);
    SizedFree(own);
    SizedFree(list);
    return nullptr;
  }
  list->owns_holder = own != nullptr ? 1 : 0;
  list->holder = holder;
  list->current_cell = &holder->current;
  list->index_invalid = 1;
  list->element_size = element_size;
  list->layout = layout;
  list->type = type;
  list->structured = LayoutNeedsInit(layout) != 0 ? 1 : 0;
  holder->list = list;
  holder->current = nullptr;
  return list;
}

void* ListAdd(LinkedList* list) {
  if (list == nullptr) {
    return nullptr;
  }
  auto* element = static_cast<ListElement*>(PoolTakeZeroed(list->pool));
  if (element == nullptr) {
    return nullptr;
  }
  void* value = internal::ElementValue(element);
  if (list->structured != 0 && StructureInit(value, list->layout) == 0) {
    PoolGive(list->pool, element);
    return nullptr;
  }
  ElementLink(list, element);
  return value;
}

void ListClear(LinkedList* list) {
  if (list == nullptr) {
    return;
  }
  ListElement* element = list->first;
  while (element != nullptr) {
    ListElement* next = element->next;  // read before the element goes back to the pool
    if (list->layout != nullptr) {
      StructureClear(internal::ElementValue(element), list->layout);
    }
    PoolGive(list->pool, element);
    element = next;
  }
  list->current = nullptr;
  *list->current_cell = nullptr;
  list->count = 0;
  list->first = nullptr;
  list->last = nullptr;
  list->index_invalid = 1;
}

void ListFree(LinkedList* list) {
  if (list == nullptr) {
    return;
  }
  ListClear(list);
  PoolDestroy(list->pool);
  list->holder->list = nullptr;
  list->holder->current = nullptr;
  if (list->owns_holder != 0) {
    SizedFree(list->holder);
  }
  SizedFree(list);
}

int32_t ListCopy(LinkedList* source, int64_t source_tag, LinkedList* destination,
                 int64_t destination_tag, int32_t clear_first) {
  if (source_tag != destination_tag || source == nullptr || destination == nullptr) {
    return 0;
  }
  // Values of another size or layout would be written past, or cleared by the wrong layout.
  if (source->element_size != destination->element_size || source->layout != destination->layout) {
    return 0;
  }
  if (source == destination && clear_first != 0) {
    return 1;  // already a copy of itself
  }
  // The copies are made apart from the destination first and linked in only once all of them
  // exist, so that a copy that runs out of memory leaves the destination as it was (and a list
  // copied onto itself never meets its own copies in the walk).
  ListElement* copies = nullptr;
  ListElement** tail = &copies;
  const uint64_t value_size = ValueSize(source);
  for (ListElement* element = source->first; element != nullptr; element = element->next) {
    auto* copy = static_cast<ListElement*>(PoolTakeZeroed(destination->pool));
    if (copy == nullptr) {
      ChainRelease(destination, copies);
      return 0;
    }
    // In the chain before its value is made, so that a value that cannot be made goes with it.
    *tail = copy;
    tail = &copy->next;
    void* value = internal::ElementValue(copy);
    if ((destination->structured != 0 && StructureInit(value, destination->layout) == 0) ||
        StructureCopy(value, static_cast<int64_t>(value_size), source->layout,
                      internal::ElementValue(element)) == 0) {
      ChainRelease(destination, copies);
      return 0;
    }
  }
  if (clear_first != 0) {
    ListClear(destination);
  }
  while (copies != nullptr) {
    ListElement* next = copies->next;  // linking overwrites it
    ElementLink(destination, copies);
    copies = next;
  }
  return 1;
}

int32_t ListCopyCleared(LinkedList* source, int64_t source_tag, LinkedList* destination,
                        int64_t destination_tag) {
  return ListCopy(source, source_tag, destination, destination_tag, 1);
}

int64_t ListCount(const LinkedList* list) {
  return list == nullptr ? 0 : list->count;
}

void ListHooksRegister() {
  Hooks.ListCreateHook = ListCreate;
  Hooks.ListCopyHook = ListCopy;
  Hooks.ListFreeHook = ListFree;
}

}  // namespace zn
