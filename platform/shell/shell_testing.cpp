// The application shell's test controls.
#include "platform/shell/shell_testing.h"

#include "platform/shell/shell.h"
#include "platform/shell/shell_internal.h"
#include "system/desktop/foundation.h"

namespace zn {

using namespace desktop;

void ShellTestReset() {
  internal::ApplicationObjectsRelease();
}

NSMutableArray* ShellGadgetLists() {
  return internal::GadgetListsAll();
}

}  // namespace zn
