// Taking and giving back blocks: the constant-time paths of the block pool.
//
// A chunk sits on the available list while it has a block to hand out (a given-back one or an
// uncut one) and on the full list otherwise; the head of the available list always serves the
// next request, so neither path searches. Blocks are cut lazily in address order, so a fresh chunk
// costs one heap call and nothing else.
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

// Tests refuse chunks above this many blocks to reach the one-block fallback.
int32_t refuse_chunks_above = INT32_MAX;
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
  if (blocks > refuse_chunks_above) {
    return nullptr;
  }
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

}  // namespace

namespace internal {

void PoolTestRefuseChunksAbove(int32_t blocks) {
  refuse_chunks_above = blocks < 0 ? INT32_MAX : blocks;
}

void PoolChunksFree(BlockPool* pool) {
  ChunkListFree(&pool->available);
  ChunkListFree(&pool->full);
  pool->total_blocks = 0;
}

}  // namespace internal

void* PoolTake(BlockPool* pool) {
  if (pool == nullptr) {
    return nullptr;
  }
  PoolLock lock(pool);
  PoolChunk* chunk = pool->available;
  char* header = nullptr;
  if (chunk != nullptr) {
    if (chunk->free > 0) {
      header = static_cast<char*>(chunk->free_list);
      chunk->free_list = HeaderNext(header);
      --chunk->free;
    } else {
      header = ChunkBlock(pool, chunk, chunk->cut);
      ++chunk->cut;
    }
    if (chunk->free == 0 && chunk->cut >= chunk->capacity) {
      ChunkUnlink(&pool->available, chunk);
      ChunkPush(&pool->full, chunk);
    }
  } else {
    chunk = PoolGrow(pool);
    if (chunk == nullptr) {
      return nullptr;
    }
    header = ChunkBlock(pool, chunk, 0);
  }
  PayloadUnpoison(pool, header);
  HeaderStore(header, chunk);
  return header + kBlockHeader;
}

void* PoolTakeZeroed(BlockPool* pool) {
  void* payload = PoolTake(pool);
  if (payload != nullptr) {
    std::memset(payload, 0, pool->block_size - kBlockHeader);
  }
  return payload;
}

void PoolGive(BlockPool* pool, void* payload) {
  if (pool == nullptr || payload == nullptr) {
    return;
  }
  PoolLock lock(pool);
  char* header = static_cast<char*>(payload) - kBlockHeader;
  auto* chunk = static_cast<PoolChunk*>(HeaderNext(header));
  // Where the chunk lies now: it was full exactly when nothing was free and everything was cut.
  const bool was_full = chunk->free == 0 && chunk->cut >= chunk->capacity;
  HeaderStore(header, chunk->free_list);
  chunk->free_list = header;
  ++chunk->free;
  PayloadPoison(pool, header);
  if (chunk->free == chunk->cut) {
    // Every block ever cut from this chunk is back: return it to the heap at once.
    ChunkUnlink(was_full ? &pool->full : &pool->available, chunk);
    pool->total_blocks -= static_cast<uint64_t>(chunk->capacity);
    ChunkFree(chunk);
  } else if (was_full) {
    ChunkUnlink(&pool->full, chunk);
    ChunkPush(&pool->available, chunk);
  }
}

void PoolReset(BlockPool* pool) {
  if (pool == nullptr) {
    return;
  }
  PoolLock lock(pool);
  internal::PoolChunksFree(pool);
}

}  // namespace zn
