// Test controls of the random library (library zn_random_testing: linked by tests, never
// installed, never linked into a shipped program).
#pragma once

#include <cstdint>

namespace zn {

// RandomTestIndices: the generator's two table indices, for tests that check where seeding
// leaves them.
void RandomTestIndices(int32_t* i, int32_t* j);

}  // namespace zn
