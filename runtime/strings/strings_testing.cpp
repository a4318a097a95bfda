// The string library's test controls, built on its public operations only.
#include "runtime/strings/strings_testing.h"

#include "runtime/strings/strings.h"

namespace zn {

void TempTextReset() {
  while (TempTextStackDepth() > 0) {
    TempTextPop();
  }
  TempTextInit();
}

}  // namespace zn
