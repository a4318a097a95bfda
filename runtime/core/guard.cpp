// The start/end guard for programs with their own main: the same sequences that zn_entry's main
// and ProgramEnd run, tied to the lifetime of one object.
#include "runtime/core/core.h"
#include "runtime/core/core_internal.h"

namespace zn {

// Only a guard made while the runtime is not running starts it (and ends it), so that a guard
// inside another guard's scope, or inside a program started through zn_entry, does nothing.
RuntimeGuard::RuntimeGuard() : started_(!RuntimeRunning()) {
  if (started_) {
    internal::RuntimeStartupKeepingLocale();
  }
}

RuntimeGuard::~RuntimeGuard() {
  if (started_) {
    RuntimeShutdown();
  }
}

}  // namespace zn
