// Internal to the string library: heap calls that end the process when memory is exhausted.
// Not installed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zn::internal {

// Plain heap blocks for string values and byte texts; never null (FatalExit instead).
void* StringHeapAlloc(size_t bytes);
void* StringHeapResize(void* block, size_t bytes);

// (units + margin_units) * 2 bytes, or FatalExit when that cannot be a heap request.
size_t StringBlockBytes(int64_t units, int64_t margin_units);

}  // namespace zn::internal
