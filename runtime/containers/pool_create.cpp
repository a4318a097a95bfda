// Creating and destroying block pools, and the process-wide list of shared pools.
//
// Shared pools are matched by block size and the full flags value only: a later creator gets the
// pool with the first creator's minimum and maximum. The list and the reference counts are guarded
// by one recursive mutex created once per process; when a shared pool with a mutex of its own is
// destroyed, the list mutex is taken first.
#include <pthread.h>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

pthread_once_t shared_once = PTHREAD_ONCE_INIT;
pthread_mutex_t shared_mutex;
SharedPoolEntry* shared_head = nullptr;

void RecursiveMutexInit(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void SharedListInit() {
  RecursiveMutexInit(&shared_mutex);
  shared_head = nullptr;
}

class SharedListLock {
 public:
  SharedListLock() {
    pthread_once(&shared_once, SharedListInit);
    pthread_mutex_lock(&shared_mutex);
  }
  ~SharedListLock() { pthread_mutex_unlock(&shared_mutex); }
  SharedListLock(const SharedListLock&) = delete;
  SharedListLock& operator=(const SharedListLock&) = delete;
};

// The block size for a payload: rounded up to 8, plus the 8-byte header word; false when that
// overflows.
bool PoolBlockSize(uint64_t payload, uint64_t* block_size) {
  uint64_t rounded = 0;
  if (__builtin_add_overflow(payload, uint64_t{7}, &rounded)) {
    return false;
  }
  rounded &= ~uint64_t{7};
  return MemorySizeFits(1, rounded, 8, block_size);
}

BlockPool* PoolCreatePrivate(uint64_t block_size, int32_t minimum, int32_t maximum,
                             uint32_t flags) {
  auto* pool = static_cast<BlockPool*>(SizedAllocZeroed(sizeof(BlockPool)));
  if (pool == nullptr) {
    return nullptr;
  }
  pool->block_size = block_size;
  pool->minimum = minimum;
  pool->maximum = maximum;
  if ((flags & (PoolThreadSafe | PoolNoLock)) == PoolThreadSafe) {
    pool->locked = 1;
    RecursiveMutexInit(&pool->mutex);
  }
  return pool;
}

void PoolDestroyPrivate(BlockPool* pool) {
  if (pool->locked != 0) {
    pthread_mutex_lock(&pool->mutex);
  }
  internal::PoolChunksFree(pool);
  if (pool->locked != 0) {
    pthread_mutex_unlock(&pool->mutex);
    pthread_mutex_destroy(&pool->mutex);
  }
  SizedFree(pool);
}

void SharedEntryUnlink(SharedPoolEntry* entry) {
  if (entry->previous != nullptr) {
    entry->previous->next = entry->next;
  } else {
    shared_head = entry->next;
  }
  if (entry->next != nullptr) {
    entry->next->previous = entry->previous;
  }
}

BlockPool* PoolCreateShared(uint64_t block_size, int32_t minimum, int32_t maximum, uint32_t flags) {
  SharedListLock lock;
  if (SharedPoolEntry* entry = internal::PoolSharedFind(block_size, flags)) {
    ++entry->references;
    return entry->pool;
  }
  auto* entry = static_cast<SharedPoolEntry*>(SizedAllocZeroed(sizeof(SharedPoolEntry)));
  if (entry == nullptr) {
    return nullptr;
  }
  BlockPool* pool = PoolCreatePrivate(block_size, minimum, maximum, flags & ~PoolShared);
  if (pool == nullptr) {
    SizedFree(entry);
    return nullptr;
  }
  pool->shared = entry;
  entry->pool = pool;
  entry->block_size = block_size;
  entry->flags = flags;
  entry->references = 1;
  entry->next = shared_head;
  if (shared_head != nullptr) {
    shared_head->previous = entry;
  }
  shared_head = entry;
  return pool;
}

}  // namespace

namespace internal {

SharedPoolEntry* PoolSharedFind(uint64_t block_size, uint32_t flags) {
  SharedListLock lock;
  for (SharedPoolEntry* entry = shared_head; entry != nullptr; entry = entry->next) {
    if (entry->block_size == block_size && entry->flags == flags) {
      return entry;
    }
  }
  return nullptr;
}

bool ElementSizeFits(uint64_t value_size, uint64_t* element_size) {
  return MemorySizeFits(1, value_size, 16, element_size);
}

}  // namespace internal

BlockPool* PoolCreate(uint64_t payload, int32_t minimum, int32_t maximum, uint32_t flags) {
  uint64_t block_size = 0;
  if (!PoolBlockSize(payload, &block_size)) {
    return nullptr;
  }
  if ((flags & PoolShared) != 0) {
    return PoolCreateShared(block_size, minimum, maximum, flags);
  }
  return PoolCreatePrivate(block_size, minimum, maximum, flags);
}

void PoolDestroy(BlockPool* pool) {
  if (pool == nullptr) {
    return;
  }
  if (pool->shared == nullptr) {
    PoolDestroyPrivate(pool);
    return;
  }
  SharedListLock lock;
  SharedPoolEntry* entry = pool->shared;
  const int32_t before = entry->references--;
  if (before <= 1) {
    pool->shared = nullptr;
    PoolDestroyPrivate(pool);
    SharedEntryUnlink(entry);
    SizedFree(entry);
  }
}

}  // namespace zn
