// Internal to the memory library: the three heap calls that every block of the library goes
// through. Not installed.
#pragma once

#include <cstdint>

namespace zn::internal {

void* HeapAlloc(uint64_t size);
void* HeapResize(void* block, uint64_t size);
void HeapFree(void* block);

}  // namespace zn::internal
