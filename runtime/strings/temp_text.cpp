// The TempStringBuffer and its PositionStack.
//
// The reservation rule: the need is measured from the position (callers never pass an offset
// beyond it; should one do so, the need is measured from the offset instead, so the room handed
// out always lies inside the block). When the need comes within 4 bytes of the capacity, the
// capacity becomes the need plus 16 KiB; above 1 MiB the block follows the need on every
// reservation and falls back to 1 MiB, so one huge expression does not keep a huge block for the
// rest of the run. The block is always capacity + 10 bytes (the first one exactly 16): the margin
// holds the terminator and the unit behind it that two-unit copies touch.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn {
namespace {

constexpr int64_t kFirstBlockBytes = 16;
constexpr int64_t kGrowthBytes = 0x4000;
constexpr int64_t kShrinkFloorBytes = 0x100000;
constexpr int64_t kMarginBytes = 10;
constexpr int64_t kLargestNeed = INT32_MAX - kGrowthBytes - kMarginBytes;

int64_t position = 0;
int64_t capacity = 0;
int64_t block_bytes = 0;
char* base = nullptr;

int64_t saved_positions[kPositionStackEntries];
int32_t stack_top = 0;

// Resizes the block to new_capacity + 10 bytes; the state changes only once the block exists.
bool ResizeBlock(int64_t new_capacity) {
  const int64_t bytes = new_capacity + kMarginBytes;
  void* block = MemoryResize(base, static_cast<uint64_t>(bytes));
  if (block == nullptr) {
    return false;
  }
  base = static_cast<char*>(block);
  capacity = new_capacity;
  block_bytes = bytes;
  return true;
}

void WriteTerminator(int64_t offset) {
  if (offset < 0 || offset + 2 > block_bytes) {
    FatalExit("temporary text offset out of range");
  }
  const char16_t zero = 0;
  std::memcpy(base + offset, &zero, sizeof zero);
}

}  // namespace

void TempTextInit() {
  MemoryRelease(base);
  base = static_cast<char*>(MemoryAlloc(kFirstBlockBytes));
  if (base == nullptr) {
    FatalExit("out of memory (temporary text)");
  }
  std::memset(base, 0, kFirstBlockBytes);
  position = 0;
  capacity = kFirstBlockBytes;
  block_bytes = kFirstBlockBytes;
}

void TempTextFree() {
  MemoryRelease(base);
  base = nullptr;
  position = 0;
  capacity = 0;
  block_bytes = 0;
  stack_top = 0;  // saved positions into a block that is gone mean nothing to the next one
}

char16_t* TempTextReserve(int32_t n, int32_t offset) {
  const int64_t from = std::max<int64_t>(position, offset);
  const int64_t needed = from + 2 * static_cast<int64_t>(n);
  if (n < 0 || offset < 0 || needed > kLargestNeed) {
    FatalExit("temporary text too large");
  }
  if (needed >= capacity - 4) {
    if (!ResizeBlock(needed + kGrowthBytes)) {
      FatalExit("out of memory (temporary text)");
    }
  } else if (capacity > kShrinkFloorBytes) {
    // A failed shrink keeps the larger block, which serves just as well.
    ResizeBlock(std::max(needed, kShrinkFloorBytes));
  }
  position = offset + 2 * static_cast<int64_t>(n);
  return reinterpret_cast<char16_t*>(base + offset);
}

void TempTextAppend(const char16_t* s) {
  if (s == nullptr) {
    WriteTerminator(position);
    return;
  }
  const int64_t n = StringCountUnits(s);
  if (n > kLargestNeed / 2) {
    FatalExit("temporary text too large");
  }
  // Released text above the position is not kept by the reservation: a move leaves the pointer
  // behind and a shrink may cut the text off. It is set aside first.
  if (internal::TempTextBlockOffsetOf(s) - 1 > position) {
    auto* aside =
        static_cast<char16_t*>(internal::StringHeapAlloc(internal::StringBlockBytes(n, 1)));
    StringCopyUnits(aside, s, static_cast<int32_t>(n));
    StringCopyUnits(TempTextReserve(static_cast<int32_t>(n), static_cast<int32_t>(position)), aside,
                    static_cast<int32_t>(n));
    MemoryRelease(aside);
    return;
  }
  // A source inside the buffer moves with it: follow it by its offset across the reservation.
  const int32_t inside = TempTextOffsetOf(s);
  char16_t* destination = TempTextReserve(static_cast<int32_t>(n), static_cast<int32_t>(position));
  if (inside != 0) {
    s = reinterpret_cast<const char16_t*>(base + inside - 1);
  }
  StringCopyUnits(destination, s, static_cast<int32_t>(n));
}

char16_t* TempTextAddress(int32_t offset) {
  return reinterpret_cast<char16_t*>(base + offset);
}

int32_t TempTextOffsetOf(const void* address) {
  const auto at = reinterpret_cast<uintptr_t>(address);
  const auto start = reinterpret_cast<uintptr_t>(base);
  if (base == nullptr || at < start || at > start + static_cast<uintptr_t>(position)) {
    return 0;
  }
  return static_cast<int32_t>(at - start) + 1;
}

void TempTextCut(int32_t offset) {
  WriteTerminator(offset);
  position = offset;
}

void TempTextUnreserve(int32_t n) {
  position -= 2 * static_cast<int64_t>(n);
}

void TempTextTakeInto(StringValue* variable, int32_t offset) {
  const int64_t length = position - offset;
  if (offset < 0 || length < 0) {
    FatalExit("temporary text offset beyond the position");
  }
  const auto bytes = static_cast<size_t>(length + kMarginBytes);
  void* block = *variable == nullptr ? MemoryAlloc(bytes) : MemoryResize(*variable, bytes);
  if (block == nullptr) {
    FatalExit("out of memory (strings)");
  }
  *variable = static_cast<char16_t*>(block);
  StringCopyUnits(*variable, reinterpret_cast<const char16_t*>(base + offset),
                  static_cast<int32_t>(length / 2));
  position = offset;
}

int64_t TempTextPosition() {
  return position;
}
int64_t TempTextCapacity() {
  return capacity;
}
int64_t TempTextBlockBytes() {
  return block_bytes;
}

void TempTextPush() {
  if (stack_top >= kPositionStackEntries) {
    FatalExit("temporary text stack overflow");
  }
  saved_positions[stack_top++] = position;
}

int32_t TempTextPop() {
  if (stack_top <= 0) {
    FatalExit("temporary text stack underflow");
  }
  return static_cast<int32_t>(saved_positions[--stack_top]);
}

int32_t TempTextPopRewind() {
  const int32_t saved = TempTextPop();
  position = saved;
  return saved;
}

char16_t* TempTextPopRewindAddress() {
  return TempTextAddress(TempTextPopRewind());
}

char16_t* TempTextPopPiece() {
  return TempTextAddress(TempTextPop());
}

int32_t TempTextPeek() {
  if (stack_top <= 0) {
    FatalExit("temporary text stack underflow");
  }
  return static_cast<int32_t>(saved_positions[stack_top - 1]);
}

int32_t TempTextStackDepth() {
  return stack_top;
}

}  // namespace zn
