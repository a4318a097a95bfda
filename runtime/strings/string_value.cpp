// String values: UTF-16 blocks owned by the variable that holds them.
//
// Blocks made by assignment keep a margin behind the terminator ((length + 5) units): callers and
// copies made two units at a time may touch the unit behind the terminator.
#include <cstdint>
#include <cstring>

#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn {

const char16_t EmptyString[1] = {0};

namespace internal {

void* StringHeapAlloc(size_t bytes) {
  void* block = MemoryAlloc(bytes);
  if (block == nullptr) {
    FatalExit("out of memory (strings)");
  }
  return block;
}

void* StringHeapResize(void* block, size_t bytes) {
  void* resized = MemoryResize(block, bytes);
  if (resized == nullptr) {
    FatalExit("out of memory (strings)");
  }
  return resized;
}

size_t StringBlockBytes(int64_t units, int64_t margin_units) {
  uint64_t bytes = 0;
  if (units < 0 || !MemorySizeFits(static_cast<uint64_t>(units) + margin_units, 2, 0, &bytes)) {
    FatalExit("string too long");
  }
  return bytes;
}

int32_t StringLengthChecked(int64_t units) {
  // Room for the terminator and a spare unit stays within the signed 32-bit counts.
  if (units < 0 || units > INT32_MAX - 2) {
    FatalExit("string too long");
  }
  return static_cast<int32_t>(units);
}

char16_t* StringBlockFor(int64_t units) {
  return static_cast<char16_t*>(StringHeapAlloc(StringBlockBytes(units, 2)));
}

}  // namespace internal

int64_t StringCountUnits(const char16_t* s) {
  const char16_t* end = s;
  while (*end != 0) {
    ++end;
  }
  return end - s;
}

char16_t* StringCopyUnits(char16_t* destination, const char16_t* source, int32_t n) {
  // Exactly n units: the margins that a two-at-a-time copy needs are still kept by every block,
  // but nothing here reads beyond the n-th unit.
  if (n > 0) {
    std::memmove(destination, source, static_cast<size_t>(n) * sizeof(char16_t));
  }
  destination[n > 0 ? n : 0] = 0;
  return destination + (n > 0 ? n : 0);
}

int32_t StringAssign(StringValue* variable, const char16_t* source) {
  if (source == nullptr) {
    if (*variable != nullptr) {
      MemoryRelease(*variable);
      *variable = nullptr;
    }
    return 2;
  }
  const int64_t n = StringCountUnits(source);
  const auto stored = static_cast<int32_t>((n + 1) * 2);
  if (source == *variable) {
    return stored;
  }
  const size_t bytes = internal::StringBlockBytes(n, 5);
  char16_t* old = *variable;
  // A source inside the variable's own block would move with a resize: copy into a fresh block.
  const bool inside = old != nullptr && source > old && source <= old + StringCountUnits(old);
  char16_t* block =
      static_cast<char16_t*>(old == nullptr || inside ? internal::StringHeapAlloc(bytes)
                                                      : internal::StringHeapResize(old, bytes));
  StringCopyUnits(block, source, static_cast<int32_t>(n));
  if (inside) {
    MemoryRelease(old);
  }
  *variable = block;
  return stored;
}

void StringDuplicate(StringValue* variable, const char16_t* source) {
  if (source == nullptr) {
    return;
  }
  const int64_t n = StringCountUnits(source);
  auto* block = static_cast<char16_t*>(internal::StringHeapAlloc(internal::StringBlockBytes(n, 5)));
  StringCopyUnits(block, source, static_cast<int32_t>(n));
  *variable = block;
}

StringValue StringFromUnits(const char16_t* source, int64_t n) {
  if (n <= 0) {
    return nullptr;
  }
  auto* block = static_cast<char16_t*>(internal::StringHeapAlloc(internal::StringBlockBytes(n, 5)));
  if (source != nullptr) {
    std::memcpy(block, source, static_cast<size_t>(n) * sizeof(char16_t));
  } else {
    std::memset(block, 0, static_cast<size_t>(n) * sizeof(char16_t));
  }
  block[n] = 0;
  return block;
}

void StringRelease(StringValue s) {
  MemoryRelease(s);
}

}  // namespace zn
