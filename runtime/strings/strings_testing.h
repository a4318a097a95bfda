// Test controls of the string library (library zn_strings_testing: linked by tests and
// benchmarks, never installed, never linked into a shipped program).
#pragma once

namespace zn {

// TempTextReset: empties the position stack, frees the block and starts again as TempTextInit
// does, so that a test starts from a known state.
void TempTextReset();

// StringsTestUseBlocks: whether the UTF-8 converters may use the processor's block steps (on by
// default); off, they run their portable steps, as on a processor without those instructions.
void StringsTestUseBlocks(bool use);

}  // namespace zn
