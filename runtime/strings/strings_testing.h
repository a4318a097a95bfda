// Test controls of the string library (library zn_strings_testing: linked by tests and
// benchmarks, never installed, never linked into a shipped program).
#pragma once

namespace zn {

// TempTextReset: empties the position stack, frees the block and starts again as TempTextInit
// does, so that a test starts from a known state.
void TempTextReset();

// StringsTestBlockLevels: how many kinds of step the UTF-8 converters have on this processor: 1
// (the portable steps alone), 2 (and the sixteen-byte block steps) or 3 (and the wide ones).
int StringsTestBlockLevels();

// StringsTestUseBlockLevel: the converters take no steps wider than `level` (0 the portable
// steps, as on a processor without block steps, 1 the sixteen-byte ones, 2 the wide ones, the
// default).
void StringsTestUseBlockLevel(int level);

}  // namespace zn
