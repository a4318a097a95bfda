// The random library's test controls.
#include "runtime/random/random_testing.h"

#include <cstdint>

#include "runtime/random/random_internal.h"

namespace zn {

void RandomTestIndices(int32_t* i, int32_t* j) {
  *i = internal::RandomCurrentState().i;
  *j = internal::RandomCurrentState().j;
}

}  // namespace zn
