// Per-thread library data. One block serves every thread, so the slot is the block itself; the
// libraries still reach their state only through ThreadSlotGet, which keeps the door open for
// real per-thread blocks without touching them.
#include "runtime/containers/containers.h"
#include "runtime/memory/memory.h"

namespace zn {

ThreadSlot ThreadSlotCreate(int32_t size, ThreadSlotRoutine constructor,
                            ThreadSlotRoutine destructor) {
  // The destructor is accepted for the day blocks become per-thread; the one block lives until
  // the process ends.
  (void)destructor;
  if (size < 0) {
    return nullptr;
  }
  void* block = SizedAllocZeroed(static_cast<uint64_t>(size));
  if (block != nullptr && constructor != nullptr) {
    constructor(block);
  }
  return block;
}

void* ThreadSlotGet(ThreadSlot slot) {
  return slot;
}

}  // namespace zn
