// Test controls of the container library (library zn_containers_testing: linked by tests, never
// installed, never linked into a shipped program).
#pragma once

#include <cstdint>

namespace zn {

// PoolTestRefuseChunksAbove: chunk requests for more than `blocks` blocks are refused as if the
// heap were exhausted; -1 lifts the limit.
void PoolTestRefuseChunksAbove(int32_t blocks);

}  // namespace zn
