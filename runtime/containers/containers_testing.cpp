// The container library's test controls: a chunk veto for the pool.
#include "runtime/containers/containers_testing.h"

#include <cstdint>

#include "runtime/containers/containers_internal.h"

namespace zn {
namespace {

int32_t refuse_chunks_above = INT32_MAX;

bool RefuseLargeChunks(int32_t blocks) {
  return blocks > refuse_chunks_above;
}

}  // namespace

void PoolTestRefuseChunksAbove(int32_t blocks) {
  refuse_chunks_above = blocks < 0 ? INT32_MAX : blocks;
  internal::PoolChunkVetoSet(blocks < 0 ? nullptr : RefuseLargeChunks);
}

}  // namespace zn
