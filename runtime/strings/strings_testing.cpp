// The string library's test controls, built on its public operations and, for the choice of
// the converters' steps, one internal switch.
#include "runtime/strings/strings_testing.h"

#include "runtime/strings/strings.h"
#include "runtime/strings/utf8_blocks.h"

namespace zn {

void TempTextReset() {
  while (TempTextStackDepth() > 0) {
    TempTextPop();
  }
  TempTextInit();
}

int StringsTestBlockLevels() {
  const internal::Utf8BlockLevel cap = internal::utf8_blocks_cap;
  internal::utf8_blocks_cap = internal::Utf8BlockLevel::kWide;
  const int levels = static_cast<int>(internal::Utf8BlocksLevel()) + 1;
  internal::utf8_blocks_cap = cap;
  return levels;
}

void StringsTestUseBlockLevel(int level) {
  internal::utf8_blocks_cap = static_cast<internal::Utf8BlockLevel>(level);
}

}  // namespace zn
