// Per-thread library data. One block serves every thread, so the slot is the block itself; the
// libraries still reach their state only through ThreadSlotGet, which keeps the door open for
// real per-thread blocks without touching them.
//
// The destructors wait for ThreadSlotFree in a list of their own, so that the block stays exactly
// the size its library asked for.
#include "runtime/containers/containers.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

struct SlotDestructor {
  ThreadSlot slot;
  ThreadSlotRoutine destructor;
  SlotDestructor* next;
};
SlotDestructor* destructors = nullptr;

}  // namespace

ThreadSlot ThreadSlotCreate(int32_t size, ThreadSlotRoutine constructor,
                            ThreadSlotRoutine destructor) {
  if (size < 0) {
    return nullptr;
  }
  void* block = SizedAllocZeroed(static_cast<uint64_t>(size));
  if (block == nullptr) {
    return nullptr;
  }
  if (destructor != nullptr) {
    auto* entry = static_cast<SlotDestructor*>(SizedAlloc(sizeof(SlotDestructor)));
    if (entry == nullptr) {
      SizedFree(block);
      return nullptr;
    }
    *entry = SlotDestructor{block, destructor, destructors};
    destructors = entry;
  }
  if (constructor != nullptr) {
    constructor(block);
  }
  return block;
}

void* ThreadSlotGet(ThreadSlot slot) {
  return slot;
}

void ThreadSlotFree(ThreadSlot slot) {
  if (slot == nullptr) {
    return;
  }
  for (SlotDestructor** link = &destructors; *link != nullptr; link = &(*link)->next) {
    SlotDestructor* entry = *link;
    if (entry->slot == slot) {
      *link = entry->next;
      const ThreadSlotRoutine destructor = entry->destructor;
      SizedFree(entry);
      destructor(slot);
      break;
    }
  }
  SizedFree(slot);
}

}  // namespace zn
