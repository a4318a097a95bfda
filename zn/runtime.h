// zn::Runtime: the face's guard of the runtime, held by a program with its own main for as long
// as it uses the runtime.
//
//   int main() {
//     zn::Runtime runtime;   // the start sequence
//     ...
//     return 0;              // the end sequence: the terminal is given back
//   }
//
// It is the C-level RuntimeGuard: the start sequence when made, the end sequence when it goes
// out of scope (by return or by an exception); a locale the program chose before it is left as
// it was. One per process at a time: a second one made while the first lives does nothing. It is
// neither copied nor moved, as the scope it guards cannot be.
#pragma once

#include "runtime/core/core.h"

namespace zn {

// Runtime: the guard; see the overview above.
class Runtime {
 public:
  // Runs the start sequence, unless a guard already did. [[nodiscard]], so that `zn::Runtime();`,
  // which would end the runtime at once, draws a warning.
  [[nodiscard]] Runtime() = default;
  // Neither copied nor moved; the end sequence runs when it goes.
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;
  Runtime(Runtime&&) = delete;
  Runtime& operator=(Runtime&&) = delete;
  ~Runtime() = default;

  // started: whether this guard ran the start sequence (false for a second guard).
  bool started() const noexcept { return guard_.Started(); }

 private:
  RuntimeGuard guard_;
};

}  // namespace zn
