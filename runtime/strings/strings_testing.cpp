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

void StringsTestUseBlocks(bool use) {
  internal::utf8_blocks_switched_off = !use;
}

}  // namespace zn
