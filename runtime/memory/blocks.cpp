// Plain blocks, SizedBlocks and program-level blocks.
//
// A SizedBlock keeps its usable size in an 8-byte header in front of the address handed out; the
// size is the one last requested, not what the heap rounded it to, so that resizing knows which
// bytes are new and must be zeroed.
#include <cstdint>
#include <cstring>

#include "runtime/memory/heap.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

static_assert(sizeof(int64_t) == kSizedHeaderBytes, "the size header is one 64-bit word");

char* HeaderOf(void* block) {
  return static_cast<char*>(block) - kSizedHeaderBytes;
}

void* UserOf(void* header, int64_t size) {
  std::memcpy(header, &size, sizeof size);
  return static_cast<char*>(header) + kSizedHeaderBytes;
}

// The heap request for a sized block of `size` usable bytes, or false when it cannot be made.
bool SizedRequest(uint64_t size, uint64_t* bytes) {
  return MemorySizeFits(1, size, kSizedHeaderBytes, bytes);
}

void* SizedResizeImpl(void* block, int64_t new_size, bool zero) {
  if (block == nullptr) {
    return nullptr;
  }
  uint64_t bytes = 0;
  if (new_size < 0 || !SizedRequest(static_cast<uint64_t>(new_size), &bytes)) {
    return nullptr;
  }
  const int64_t old_size = SizedSizeOf(block);
  void* header = internal::HeapResize(HeaderOf(block), bytes);
  if (header == nullptr) {
    return nullptr;  // the old block and its header are untouched
  }
  char* user = static_cast<char*>(UserOf(header, new_size));
  if (zero && new_size > old_size) {
    std::memset(user + old_size, 0, new_size - old_size);
  }
  return user;
}

}  // namespace

void* MemoryAlloc(uint64_t size) {
  return internal::HeapAlloc(size);
}

void* MemoryAllocZeroed(uint64_t size) {
  void* block = internal::HeapAlloc(size);
  if (block != nullptr) {
    std::memset(block, 0, size);
  }
  return block;
}

void* MemoryResize(void* block, uint64_t new_size) {
  return internal::HeapResize(block, new_size);
}

void* MemoryResizeZeroed(void* block, int64_t old_size, int64_t new_size) {
  if (new_size < 0) {
    return nullptr;
  }
  void* resized = internal::HeapResize(block, static_cast<uint64_t>(new_size));
  if (resized == nullptr) {
    return nullptr;
  }
  if (old_size < 0) {
    old_size = 0;
  }
  if (old_size < new_size) {
    std::memset(static_cast<char*>(resized) + old_size, 0, new_size - old_size);
  }
  return resized;
}

void MemoryRelease(void* block) {
  internal::HeapFree(block);
}

void* SizedAllocZeroed(uint64_t size) {
  uint64_t bytes = 0;
  if (!SizedRequest(size, &bytes)) {
    return nullptr;
  }
  void* header = internal::HeapAlloc(bytes);
  if (header == nullptr) {
    return nullptr;
  }
  std::memset(header, 0, bytes);
  return UserOf(header, static_cast<int64_t>(size));
}

void* SizedAlloc(uint64_t size) {
  uint64_t bytes = 0;
  if (!SizedRequest(size, &bytes)) {
    return nullptr;
  }
  void* header = internal::HeapAlloc(bytes);
  if (header == nullptr) {
    return nullptr;
  }
  return UserOf(header, static_cast<int64_t>(size));
}

void* SizedResizeZeroed(void* block, int64_t new_size) {
  return SizedResizeImpl(block, new_size, true);
}

void* SizedResize(void* block, int64_t new_size) {
  return SizedResizeImpl(block, new_size, false);
}

void SizedFree(void* block) {
  if (block != nullptr) {
    internal::HeapFree(HeaderOf(block));
  }
}

int64_t SizedSizeOf(const void* block) {
  int64_t size = 0;
  std::memcpy(&size, static_cast<const char*>(block) - kSizedHeaderBytes, sizeof size);
  return size;
}

void* MemoryBlockAllocate(int64_t size, uint32_t flags) {
  if (size <= 0) {
    return nullptr;
  }
  const auto bytes = static_cast<uint64_t>(size);
  return (flags & kMemoryBlockNoClear) != 0 ? SizedAlloc(bytes) : SizedAllocZeroed(bytes);
}

void* MemoryBlockAllocateCleared(int64_t size) {
  if (size <= 0) {
    return nullptr;
  }
  return SizedAllocZeroed(static_cast<uint64_t>(size));
}

void MemoryBlockFree(void* block) {
  SizedFree(block);
}

}  // namespace zn
