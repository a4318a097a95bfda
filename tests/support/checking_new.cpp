// C++ allocation through the checking heap: the replaced global `operator new` and `operator
// delete` of every unit-test program. While the failure switch is set, each `new` is numbered
// with the runtime's requests, refused when the switch says so (the throwing forms then throw
// std::bad_alloc, the nothrow forms give null) and counted among the live blocks until deleted;
// while it is off, `new` is a plain allocation (see checking_heap.h for why).
//
// This file is compiled into each test program (an interface source of the kit), not taken from
// the kit's archive: the sanitizers' runtime defines these operators too, and the linker would
// never pull an archive member for symbols that are already defined.
//
// Every block carries a 16-byte header right in front of it: the address the C library handed
// out (which lies further back for over-aligned blocks) and whether the block is counted, so that
// a delete made after the switch went off still gives a counted block back to the count.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "tests/support/checking_heap.h"

namespace {

using zn::test::internal::NewRequest;

struct BlockHeader {
  void* start;
  uint64_t counted;
};
static_assert(sizeof(BlockHeader) == 16, "the header keeps the C library's 16-byte alignment");

// A block of `bytes` aligned to `alignment`, or null; *refused tells a refusal by the switch
// from a heap that has nothing left.
void* BlockAllocate(std::size_t bytes, std::size_t alignment, bool* refused) noexcept {
  const NewRequest request = zn::test::internal::HeapNewRequest();
  *refused = request == NewRequest::kRefused;
  if (*refused) {
    return nullptr;
  }
  const std::size_t prefix = alignment > sizeof(BlockHeader) ? alignment : sizeof(BlockHeader);
  std::size_t total = 0;
  void* start = nullptr;
  if (!__builtin_add_overflow(bytes, prefix, &total)) {
    if (alignment > alignof(std::max_align_t)) {
      if (posix_memalign(&start, alignment, total) != 0) {
        start = nullptr;
      }
    } else {
      start = std::malloc(total);
    }
  }
  if (start == nullptr) {
    if (request == NewRequest::kCounted) {
      zn::test::internal::HeapNewReleased();
    }
    return nullptr;
  }
  auto* block = static_cast<unsigned char*>(start) + prefix;
  auto* header = reinterpret_cast<BlockHeader*>(block) - 1;
  header->start = start;
  header->counted = request == NewRequest::kCounted ? 1 : 0;
  return block;
}

// The throwing forms: a refusal throws at once; a heap with nothing left asks the new handler,
// as the standard's operator new does, and throws when there is none.
void* BlockAllocateOrThrow(std::size_t bytes, std::size_t alignment) {
  for (;;) {
    bool refused = false;
    if (void* block = BlockAllocate(bytes, alignment, &refused)) {
      return block;
    }
    const std::new_handler handler = std::get_new_handler();
    if (refused || handler == nullptr) {
      throw std::bad_alloc();
    }
    handler();
  }
}

void BlockFree(void* block) noexcept {
  if (block == nullptr) {
    return;
  }
  const BlockHeader* header = static_cast<const BlockHeader*>(block) - 1;
  if (header->counted != 0) {
    zn::test::internal::HeapNewReleased();
  }
  std::free(header->start);
}

void* BlockAllocateQuietly(std::size_t bytes, std::size_t alignment) noexcept {
  bool refused = false;
  return BlockAllocate(bytes, alignment, &refused);
}

constexpr std::size_t kPlain = alignof(std::max_align_t);

}  // namespace

void* operator new(std::size_t bytes) {
  return BlockAllocateOrThrow(bytes, kPlain);
}
void* operator new[](std::size_t bytes) {
  return BlockAllocateOrThrow(bytes, kPlain);
}
void* operator new(std::size_t bytes, std::align_val_t alignment) {
  return BlockAllocateOrThrow(bytes, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t bytes, std::align_val_t alignment) {
  return BlockAllocateOrThrow(bytes, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t bytes, const std::nothrow_t& /*tag*/) noexcept {
  return BlockAllocateQuietly(bytes, kPlain);
}
void* operator new[](std::size_t bytes, const std::nothrow_t& /*tag*/) noexcept {
  return BlockAllocateQuietly(bytes, kPlain);
}
void* operator new(std::size_t bytes, std::align_val_t alignment,
                   const std::nothrow_t& /*tag*/) noexcept {
  return BlockAllocateQuietly(bytes, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t bytes, std::align_val_t alignment,
                     const std::nothrow_t& /*tag*/) noexcept {
  return BlockAllocateQuietly(bytes, static_cast<std::size_t>(alignment));
}

void operator delete(void* block) noexcept {
  BlockFree(block);
}
void operator delete[](void* block) noexcept {
  BlockFree(block);
}
void operator delete(void* block, std::size_t /*bytes*/) noexcept {
  BlockFree(block);
}
void operator delete[](void* block, std::size_t /*bytes*/) noexcept {
  BlockFree(block);
}
void operator delete(void* block, std::align_val_t /*alignment*/) noexcept {
  BlockFree(block);
}
void operator delete[](void* block, std::align_val_t /*alignment*/) noexcept {
  BlockFree(block);
}
void operator delete(void* block, std::size_t /*bytes*/, std::align_val_t /*alignment*/) noexcept {
  BlockFree(block);
}
void operator delete[](void* block, std::size_t /*bytes*/,
                       std::align_val_t /*alignment*/) noexcept {
  BlockFree(block);
}
void operator delete(void* block, const std::nothrow_t& /*tag*/) noexcept {
  BlockFree(block);
}
void operator delete[](void* block, const std::nothrow_t& /*tag*/) noexcept {
  BlockFree(block);
}
void operator delete(void* block, std::align_val_t /*alignment*/,
                     const std::nothrow_t& /*tag*/) noexcept {
  BlockFree(block);
}
void operator delete[](void* block, std::align_val_t /*alignment*/,
                       const std::nothrow_t& /*tag*/) noexcept {
  BlockFree(block);
}
