// The runtime core: the start and end sequences of the runtime's libraries and the program's
// way out.
//
// `main` (entry.cpp) runs `RuntimeStartup`, then the program's body, `ProgramBody`, which every
// program linked with the runtime defines. The body ends the program with `ProgramEnd`, which runs
// the end sequence once and exits with `ExitStatus`.
#pragma once

#include <cstdint>
#include <span>

namespace zn {

// ExitStatus: the status ProgramEnd exits with; 0 at load.
extern int32_t ExitStatus;

// One step of a sequence: its fixed number in the sequence, the library it belongs to, and the
// routine, which takes no arguments and gives no result.
struct RuntimeStep {
  int number;
  const char* library;
  void (*run)();
};

// The start and end sequences, in the order they run.
std::span<const RuntimeStep> RuntimeStartSequence();
std::span<const RuntimeStep> RuntimeEndSequence();

// RuntimeStartup: runs every start step in order. Called by main before the program's body.
void RuntimeStartup();

// RuntimeShutdown: runs every end step in order; a second call does nothing.
void RuntimeShutdown();

// ProgramEnd: RuntimeShutdown, then exit with ExitStatus.
[[noreturn]] void ProgramEnd();

// ProgramBody: the program's own main body, defined by the program. It ends through ProgramEnd;
// should it return, main ends the program the same way.
void ProgramBody();

}  // namespace zn
