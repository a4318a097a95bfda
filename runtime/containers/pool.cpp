// Taking and giving back blocks: the constant-time paths of the block pool.
//
// A chunk sits on the available list while it has a block to hand out (a given-back one or an
// uncut one) and on the full list otherwise; the head of the available list always serves the
// next request, so neither path searches. Blocks are cut lazily in address order, so a fresh chunk
// costs one heap call and nothing else.
//
// Pools sit under every map, list and event, so the common take and give are kept to a handful of
// loads and stores with no call and no stack frame: the lock flag is read once, and the rare turns
// (a new chunk, a chunk leaving the full list or going back to the heap, a pool with a mutex) live
// in functions of their own.
#include <climits>
#include <cstdint>
#include <cstring>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZN_POOL_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZN_POOL_POISON 1
#endif
#endif
#ifdef ZN_POOL_POISON
#include <sanitizer/asan_interface.h>
#endif

namespace zn {
namespace {

constexpr uint64_t kBlockHeader = 8;

constexpr uint64_t kChunkHeader = sizeof(PoolChunk);
static_assert(kChunkHeader % 8 == 0, "blocks behind the chunk header stay 8-byte aligned");

// A given-back block's payload is out of bounds until it is taken again, so that a use after
// PoolGive shows up under the address sanitizer.
void PayloadPoison(const BlockPool* pool, void* header) {
#ifdef ZN_POOL_POISON
  ASAN_POISON_MEMORY_REGION(static_cast<char*>(header) + kBlockHeader,
                            pool->block_size - kBlockHeader);
#else
  (void)pool;
  (void)header;
#endif
}

void PayloadUnpoison(const BlockPool* pool, void* header) {
#ifdef ZN_POOL_POISON
  ASAN_UNPOISON_MEMORY_REGION(static_cast<char*>(header) + kBlockHeader,
                              pool->block_size - kBlockHeader);
#else
  (void)pool;
  (void)header;
#endif
}

// RAII for the pool's own mutex, taken only when the pool was created thread-safe.
class PoolLock {
 public:
  explicit PoolLock(BlockPool* pool) : pool_(pool) {
    if (pool_->locked != 0) {
      pthread_mutex_lock(&pool_->mutex);
    }
  }
  ~PoolLock() {
    if (pool_->locked != 0) {
      pthread_mutex_unlock(&pool_->mutex);
    }
  }
  PoolLock(const PoolLock&) = delete;
  PoolLock& operator=(const PoolLock&) = delete;

 private:
  BlockPool* pool_;
};

void ChunkUnlink(PoolChunk** head, PoolChunk* chunk) {
  if (chunk->previous != nullptr) {
    chunk->previous->next = chunk->next;
  } else {
    *head = chunk->next;
  }
  if (chunk->next != nullptr) {
    chunk->next->previous = chunk->previous;
  }
  chunk->next = nullptr;
  chunk->previous = nullptr;
}

void ChunkPush(PoolChunk** head, PoolChunk* chunk) {
  chunk->previous = nullptr;
  chunk->next = *head;
  if (*head != nullptr) {
    (*head)->previous = chunk;
  }
  *head = chunk;
}

char* ChunkBlock(const BlockPool* pool, PoolChunk* chunk, int32_t index) {
  return reinterpret_cast<char*>(chunk) + kChunkHeader +
         static_cast<uint64_t>(index) * pool->block_size;
}

void* HeaderNext(void* header) {
  void* next = nullptr;
  std::memcpy(&next, header, sizeof next);
  return next;
}

void HeaderStore(void* header, const void* value) {
  std::memcpy(header, &value, sizeof value);
}

// A zero-filled chunk of `blocks` blocks, or null when the heap refuses or the size overflows.
PoolChunk* ChunkAllocate(const BlockPool* pool, int32_t blocks) {
  uint64_t bytes = 0;
  if (!MemorySizeFits(static_cast<uint64_t>(blocks), pool->block_size, kChunkHeader, &bytes)) {
    return nullptr;
  }
  return static_cast<PoolChunk*>(SizedAllocZeroed(bytes));
}

// The growth rule: one sixteenth of the blocks held, rounded down to a multiple of 16, kept
// between the pool's minimum and maximum. A nonsensical minimum or maximum still gives one block.
int32_t ChunkGrowth(const BlockPool* pool) {
  const auto sixteenth =
      static_cast<int32_t>(static_cast<uint32_t>(pool->total_blocks >> 4) & ~uint32_t{15});
  int32_t blocks = sixteenth < pool->minimum
                       ? pool->minimum
                       : (sixteenth < pool->maximum ? sixteenth : pool->maximum);
  return blocks < 1 ? 1 : blocks;
}

// Grows the pool by one chunk and returns that chunk, its block 0 already cut; null when not
// even a one-block chunk can be had.
PoolChunk* PoolGrow(BlockPool* pool) {
  int32_t blocks = ChunkGrowth(pool);
  PoolChunk* chunk = ChunkAllocate(pool, blocks);
  if (chunk == nullptr && blocks > 1) {
    // The one-block fallback: a pool short of memory still serves this request.
    blocks = 1;
    chunk = ChunkAllocate(pool, blocks);
  }
  if (chunk == nullptr) {
    return nullptr;
  }
  chunk->capacity = blocks;
  chunk->cut = 1;
  chunk->free = 0;
  chunk->free_list = nullptr;
  pool->total_blocks += static_cast<uint64_t>(blocks);
  ChunkPush(blocks >= 2 ? &pool->available : &pool->full, chunk);
  return chunk;
}

void ChunkFree(PoolChunk* chunk) {
  SizedFree(chunk);
}

void ChunkListFree(PoolChunk** head) {
  PoolChunk* chunk = *head;
  while (chunk != nullptr) {
    PoolChunk* next = chunk->next;
    ChunkFree(chunk);
    chunk = next;
  }
  *head = nullptr;
}

// Takes a block from the head of the available list when that chunk just gave out its last block:
// it moves to the head of the full list. The chunk heads the available list, so the unlink needs
// no search and no test of a previous link.
void ChunkAvailableHeadToFull(BlockPool* pool, PoolChunk* chunk) {
  pool->available = chunk->next;
  if (chunk->next != nullptr) {
    chunk->next->previous = nullptr;
  }
  ChunkPush(&pool->full, chunk);
}

// The rare turns of a give, kept out of the common path: the chunk's last outstanding block came
// back (the chunk goes back to the heap at once), or the chunk was full and now has a block to
// hand out (it moves to the head of the available list, so it serves the next request).
[[gnu::noinline]] void ChunkAfterGive(BlockPool* pool, PoolChunk* chunk, bool was_full) {
  if (chunk->free == chunk->cut) {
    ChunkUnlink(was_full ? &pool->full : &pool->available, chunk);
    pool->total_blocks -= static_cast<uint64_t>(chunk->capacity);
    ChunkFree(chunk);
  } else if (was_full) {
    ChunkUnlink(&pool->full, chunk);
    ChunkPush(&pool->available, chunk);
  }
}

[[gnu::noinline]] void* PoolTakeFromNewChunk(BlockPool* pool) {
  PoolChunk* chunk = PoolGrow(pool);
  if (chunk == nullptr) {
    return nullptr;
  }
  char* header = ChunkBlock(pool, chunk, 0);
  HeaderStore(header, chunk);
  return header + kBlockHeader;
}

// The common take: the head chunk has a block, given back or uncut. It makes no call and, in
// builds without the address sanitizer, touches only the chunk header and the block's header word.
[[gnu::always_inline]] inline void* PoolTakeFrom(BlockPool* pool) {
  PoolChunk* chunk = pool->available;
  if (chunk == nullptr) [[unlikely]] {
    return PoolTakeFromNewChunk(pool);
  }
  // A chunk's free list is empty exactly when its free count is 0: the take tests the pointer it
  // needs anyway rather than a second field.
  auto* header = static_cast<char*>(chunk->free_list);
  if (header != nullptr) {
    chunk->free_list = HeaderNext(header);
    --chunk->free;
  } else {
    header = ChunkBlock(pool, chunk, chunk->cut);
    ++chunk->cut;
  }
  if (chunk->free_list == nullptr && chunk->cut >= chunk->capacity) {
    ChunkAvailableHeadToFull(pool, chunk);
  }
  PayloadUnpoison(pool, header);
  HeaderStore(header, chunk);
  return header + kBlockHeader;
}

// The common give: the block goes on its chunk's free list and the chunk stays where it is. A
// rare turn is due only when every block cut from the chunk is back, or when the chunk was full:
// nothing was free and everything was cut. A chunk with uncut blocks whose only block in use
// keeps coming and going (the event queue's one record) stays on this path.
[[gnu::always_inline]] inline void PoolGiveTo(BlockPool* pool, void* payload) {
  char* header = static_cast<char*>(payload) - kBlockHeader;
  auto* chunk = static_cast<PoolChunk*>(HeaderNext(header));
  void* const first_free = chunk->free_list;
  HeaderStore(header, first_free);
  chunk->free_list = header;
  const int32_t free = ++chunk->free;
  PayloadPoison(pool, header);
  const int32_t cut = chunk->cut;
  const bool was_full = first_free == nullptr && cut >= chunk->capacity;
  if (was_full || free == cut) [[unlikely]] {
    ChunkAfterGive(pool, chunk, was_full);
  }
}

[[gnu::noinline]] void* PoolTakeLocked(BlockPool* pool) {
  PoolLock lock(pool);
  return PoolTakeFrom(pool);
}

[[gnu::noinline]] void PoolGiveLocked(BlockPool* pool, void* payload) {
  PoolLock lock(pool);
  PoolGiveTo(pool, payload);
}

}  // namespace

namespace internal {

void PoolChunksFree(BlockPool* pool) {
  ChunkListFree(&pool->available);
  ChunkListFree(&pool->full);
  pool->total_blocks = 0;
}

}  // namespace internal

void* PoolTake(BlockPool* pool) {
  if (pool == nullptr) [[unlikely]] {
    return nullptr;
  }
  if (pool->locked != 0) [[unlikely]] {
    return PoolTakeLocked(pool);
  }
  return PoolTakeFrom(pool);
}

void* PoolTakeZeroed(BlockPool* pool) {
  void* payload = PoolTake(pool);
  if (payload != nullptr) {
    std::memset(payload, 0, pool->block_size - kBlockHeader);
  }
  return payload;
}

void PoolGive(BlockPool* pool, void* payload) {
  if (pool == nullptr || payload == nullptr) [[unlikely]] {
    return;
  }
  if (pool->locked != 0) [[unlikely]] {
    PoolGiveLocked(pool, payload);
    return;
  }
  PoolGiveTo(pool, payload);
}

void PoolReset(BlockPool* pool) {
  if (pool == nullptr) {
    return;
  }
  PoolLock lock(pool);
  internal::PoolChunksFree(pool);
}

}  // namespace zn
