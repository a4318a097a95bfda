// The start/end guard for programs with their own main: the same sequences that zn_entry's main
// and ProgramEnd run, tied to the lifetime of one object.
#include "runtime/core/core.h"

namespace zn {
namespace {

// The sequences run once per process, so only the first guard runs them.
bool guard_made = false;

}  // namespace

RuntimeGuard::RuntimeGuard() : started_(!guard_made) {
  guard_made = true;
  if (started_) {
    RuntimeStartup();
  }
}

RuntimeGuard::~RuntimeGuard() {
  if (started_) {
    RuntimeShutdown();
  }
}

}  // namespace zn
