// Test controls of the string library (library zn_strings_testing: linked by tests and
// benchmarks, never installed, never linked into a shipped program).
#pragma once

namespace zn {

// TempTextReset: empties the position stack, frees the block and starts again as TempTextInit
// does, so that a test starts from a known state.
void TempTextReset();

}  // namespace zn
