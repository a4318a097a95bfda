// The runtime core: the start and end sequences of the runtime's libraries and the program's
// way out.
//
// A program starts and ends the runtime in one of two ways:
// - it links zn_entry, whose `main` (entry.cpp) runs `RuntimeStartup`, then the program's body,
//   `ProgramBody`, which the program defines; the body ends the program with `ProgramEnd`, which
//   runs the end sequence once and exits with `ExitStatus`;
// - it has a `main` of its own, links zn_core, and holds a `RuntimeGuard` for as long as it uses
//   the runtime: the guard runs the start sequence when it is made and the end sequence when it
//   goes out of scope, so that returning from `main` gives the terminal back.
//
// Late-bound seams: the start sequence is where every one is filled, in its step: the
// `ContainerHooks` (arrays, lists, maps), the fatal-exit clean-up (the console's start), the
// codec table (the BMP codec), the registries with their free callbacks, and the window's gadget
// release (the gadgets' start).
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

// RuntimeStartup: runs every start step in order. Called by main before the program's body. The
// locale step sets "en_US.UTF-8" (character types from "C.UTF-8" where that is not installed)
// with numbers in "C".
void RuntimeStartup();

// RuntimeRunning: whether the runtime has been started and not ended since.
bool RuntimeRunning();

// RuntimeShutdown: runs every end step in order; a second call before the next start does
// nothing. The end frees everything the start made (the libraries' objects, registries, pools,
// tables, thread slots and buffers, the shell's application objects): nothing of the runtime is
// left behind, and a later RuntimeStartup starts every library again.
void RuntimeShutdown();

// ProgramEnd: RuntimeShutdown, then exit with ExitStatus.
[[noreturn]] void ProgramEnd();

// RuntimeGuard: the start and end sequences for a program with its own `main`. Making it runs
// RuntimeStartup; when it goes out of scope (main returns, or an exception leaves its scope) it
// runs RuntimeShutdown, console first, so the user's terminal comes back as it was, and nothing
// of the runtime is left behind. A guard made while the runtime runs (inside another guard's
// scope, or in a program started through zn_entry) does nothing; a guard made after another has
// ended starts the runtime again. ProgramEnd inside the guard's scope ends the program as usual;
// the guard's end then never runs, as the end sequence has already run.
//
// The guard leaves a locale the program has already chosen as it is: when the character types
// are other than "C" or "POSIX" (the program called setlocale), its locale step does nothing, so
// that the program's numbers, dates and letters keep their forms. Otherwise it sets the locale
// as RuntimeStartup does.
//
//   int main() {
//     zn::RuntimeGuard runtime;
//     zn::ConsoleOpen();
//     ...
//     return 0;  // the terminal is given back here
//   }
//
// An exception that no handler catches ends the process through std::terminate without unwinding
// the stack; the console's abort handler then gives the terminal back.
class RuntimeGuard {
 public:
  RuntimeGuard();
  ~RuntimeGuard();
  RuntimeGuard(const RuntimeGuard&) = delete;
  RuntimeGuard& operator=(const RuntimeGuard&) = delete;
  // Whether this guard ran the start sequence (false for a second guard).
  bool Started() const { return started_; }

 private:
  bool started_;
};

// ProgramBody: the program's own main body, defined by the program. It ends through ProgramEnd;
// should it return, main ends the program the same way.
void ProgramBody();

}  // namespace zn
