// The gadget lists: for each window that receives gadgets, a stack of container views, one list
// current at a time; and the flipped view that becomes a window's content view.
//
// The lists live in the windows' thread slot: the current list and an array of every list, which
// holds the only lasting reference to each.
#include <cstdint>

#include "platform/shell/shell.h"
#include "platform/shell/shell_internal.h"
#include "runtime/containers/containers.h"
#include "runtime/memory/memory.h"
#include "system/desktop/foundation.h"
#include "system/desktop/object.h"
#include "system/desktop/windows.h"

namespace zn {

using namespace desktop;

namespace {

// The data of the windows' thread slot.
struct WindowSlotData {
  ZnGadgetList* current;
  NSMutableArray* all;
};
static_assert(sizeof(WindowSlotData) == 2 * sizeof(int64_t), "two 64-bit words");

ThreadSlot window_thread_slot = nullptr;

constexpr int32_t kStackStep = 10;
// One saved view per 64-bit entry.
constexpr int64_t kEntryBytes = 8;
// The size of the pointer itself is the point here, not that of the view it points to.
// NOLINTNEXTLINE(bugprone-sizeof-expression)
static_assert(sizeof(NSView*) == kEntryBytes, "a saved view fills one entry");

// The array of every list; nil when memory runs out, and then made again by the next setWindow:.
NSMutableArray* ListsArrayMake() {
  return objc_msgSend(objc_alloc<NSMutableArray>(), &NSMutableArray::initWithCapacity, 5);
}

void SlotConstruct(void* block) {
  auto* data = static_cast<WindowSlotData*>(block);
  data->current = nullptr;
  data->all = ListsArrayMake();
}

void SlotDestruct(void* block) {
  objc_release(static_cast<WindowSlotData*>(block)->all);
}

WindowSlotData* Slot() {
  return window_thread_slot == nullptr
             ? nullptr
             : static_cast<WindowSlotData*>(ThreadSlotGet(window_thread_slot));
}

}  // namespace

namespace internal {

void WindowThreadSlotCreate() {
  window_thread_slot = ThreadSlotCreate(sizeof(WindowSlotData), SlotConstruct, SlotDestruct);
}

void WindowThreadSlotFree() {
  ThreadSlotFree(window_thread_slot);
  window_thread_slot = nullptr;
}

}  // namespace internal

ZnGadgetList* ZnGadgetList::initWithWindow(NSWindow* window) {
  TopWindow = window;
  TopView = window == nullptr ? nullptr : window->contentView();
  if (window != nullptr && TopView == nullptr) {
    auto* flipped = objc_autorelease(objc_alloc<Zn_NSFlippedView>());
    if (flipped == nullptr) {
      objc_release(this);
      return nullptr;
    }
    window->setContentView(flipped);
    TopView = flipped;
  }
  Views = static_cast<NSView**>(SizedAllocZeroed(kStackStep * kEntryBytes));
  StackSize = Views == nullptr ? 0 : kStackStep;
  StackIndex = 0;
  return this;
}

void ZnGadgetList::finalize() {
  SizedFree(Views);
  Views = nullptr;
}

void ZnGadgetList::dealloc() {
  finalize();
  NSObject::dealloc();
}

void ZnGadgetList::push(NSView* view) {
  if (StackIndex >= StackSize) {
    // The growth rule: ten more entries, the new ones zeroed; nothing changes when refused.
    const int64_t bytes = (static_cast<int64_t>(StackSize) + kStackStep) * kEntryBytes;
    void* grown = Views == nullptr ? SizedAllocZeroed(static_cast<uint64_t>(bytes))
                                   : SizedResizeZeroed(Views, bytes);
    if (grown == nullptr) {
      return;
    }
    Views = static_cast<NSView**>(grown);
    StackSize += kStackStep;
  }
  Views[StackIndex] = TopView;
  ++StackIndex;
  TopView = view;
}

void ZnGadgetList::pop() {
  if (StackIndex <= 0) {
    // An empty stack falls back to the window's content view instead of failing.
    StackIndex = 0;
    TopView = TopWindow == nullptr ? nullptr : TopWindow->contentView();
    return;
  }
  --StackIndex;
  TopView = Views[StackIndex];
  Views[StackIndex] = nullptr;
}

ZnGadgetList* ZnGadgetList::currentList() {
  const WindowSlotData* data = Slot();
  return data == nullptr ? nullptr : data->current;
}

NSView* ZnGadgetList::currentView() {
  const ZnGadgetList* list = currentList();
  return list == nullptr ? nullptr : list->top();
}

NSWindow* ZnGadgetList::currentWindow() {
  const ZnGadgetList* list = currentList();
  return list == nullptr ? nullptr : list->window();
}

ZnGadgetList* ZnGadgetList::listFromWindow(NSWindow* window) {
  const WindowSlotData* data = Slot();
  if (data == nullptr) {
    return nullptr;
  }
  for (int64_t i = 0; i < objc_msgSend(data->all, &NSArray::count); ++i) {
    auto* list = static_cast<ZnGadgetList*>(data->all->objectAtIndex(i));
    if (list->window() != nullptr && list->window()->isEqual(window)) {
      return list;
    }
  }
  return nullptr;
}

namespace {

// A new list for the window, held by the all-lists array; nil, with the window as it was, when
// memory runs out on the way.
ZnGadgetList* ListMake(WindowSlotData* data, NSWindow* window) {
  if (data->all == nullptr) {
    data->all = ListsArrayMake();
  }
  NSView* content = window->contentView();
  ZnGadgetList* list = objc_autorelease(
      objc_msgSend(objc_alloc<ZnGadgetList>(), &ZnGadgetList::initWithWindow, window));
  const int64_t before = objc_msgSend(data->all, &NSArray::count);
  if (list != nullptr && data->all != nullptr) {
    data->all->addObject(list);
  }
  if (objc_msgSend(data->all, &NSArray::count) > before) {
    return list;
  }
  // Not kept: the pool releases the list; the window loses the content view the list gave it.
  if (content == nullptr && window->contentView() != nullptr) {
    window->setContentView(nullptr);
  }
  return nullptr;
}

}  // namespace

NSWindow* ZnGadgetList::setWindow(NSWindow* window) {
  WindowSlotData* data = Slot();
  if (data == nullptr) {
    return nullptr;
  }
  NSWindow* previous = data->current == nullptr ? nullptr : data->current->window();
  if (window == nullptr) {
    return previous;
  }
  ZnGadgetList* list = listFromWindow(window);
  if (list == nullptr) {
    list = ListMake(data, window);
    if (list == nullptr) {
      return previous;  // out of memory: nothing changed, the current list included
    }
  }
  data->current = list;
  return previous;
}

void ZnGadgetList::removeWindow(NSWindow* window) {
  WindowSlotData* data = Slot();
  ZnGadgetList* list = listFromWindow(window);
  if (list == nullptr) {
    return;
  }
  if (list->isEqual(data->current)) {
    data->current = nullptr;
  }
  objc_msgSend(data->all, &NSMutableArray::removeObject, list);
}

namespace internal {

NSMutableArray* GadgetListsAll() {
  const WindowSlotData* data = Slot();
  return data == nullptr ? nullptr : data->all;
}

}  // namespace internal

}  // namespace zn
