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
// Every block carries a 16-byte header right in front of it saying whether it is counted, so that
// a delete made after the switch went off still gives a counted block back to the count. The
// over-aligned forms are left as they are: nothing under test uses them, and their blocks never
// meet these deletes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "tests/support/checking_heap.h"

namespace {

using zn::test::internal::NewRequest;

struct BlockHeader {
  uint64_t counted;
  uint64_t reserved;
};
static_assert(sizeof(BlockHeader) == 16, "the header keeps the C library's 16-byte alignment");

// A block of `bytes`, or null; *refused, when asked, tells a refusal by the switch from a heap
// that has nothing left.
void* BlockAllocate(std::size_t bytes, bool* refused = nullptr) noexcept {
  const NewRequest request = zn::test::internal::HeapNewRequest();
  if (refused != nullptr) {
    *refused = request == NewRequest::kRefused;
  }
  std::size_t total = 0;
  auto* header =
      request == NewRequest::kRefused || __builtin_add_overflow(bytes, sizeof(BlockHeader), &total)
          ? nullptr
          : static_cast<BlockHeader*>(std::malloc(total));
  if (header == nullptr) {
    if (request == NewRequest::kCounted) {
      zn::test::internal::HeapNewReleased();
    }
    return nullptr;
  }
  header->counted = request == NewRequest::kCounted ? 1 : 0;
  return header + 1;
}

// The throwing forms: a refusal throws at once; a heap with nothing left asks the new handler,
// as the standard's operator new does, and throws when there is none.
void* BlockAllocateOrThrow(std::size_t bytes) {
  for (;;) {
    bool refused = false;
    if (void* block = BlockAllocate(bytes, &refused)) {
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
  BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
  if (header->counted != 0) {
    zn::test::internal::HeapNewReleased();
  }
  std::free(header);
}

}  // namespace

void* operator new(std::size_t bytes) {
  return BlockAllocateOrThrow(bytes);
}
void* operator new[](std::size_t bytes) {
  return BlockAllocateOrThrow(bytes);
}
void* operator new(std::size_t bytes, const std::nothrow_t& /*tag*/) noexcept {
  return BlockAllocate(bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t& /*tag*/) noexcept {
  return BlockAllocate(bytes);
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
void operator delete(void* block, const std::nothrow_t& /*tag*/) noexcept {
  BlockFree(block);
}
void operator delete[](void* block, const std::nothrow_t& /*tag*/) noexcept {
  BlockFree(block);
}
