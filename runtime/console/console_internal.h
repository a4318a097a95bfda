// Internal to the console library: the terminal state shared by the mode, signal and output
// files, and the pause arithmetic. Not installed.
#pragma once

#include <csignal>
#include <cstdint>
#include <ctime>

namespace zn::internal {

// ConsoleTerminalInForeground: false while another process group holds the foreground of the
// terminal on standard input (the process is stopped or in the background), where setting the
// terminal's attributes would stop the process by SIGTTOU. Async-signal-safe.
bool ConsoleTerminalInForeground();

// ConsoleTerminalGiveBack: writes the saved user attributes back to standard input at once and,
// when the console mode was in force, discards the keys typed and not read. Async-signal-safe and
// harmless to call again; does nothing when no attributes were saved, or while another process
// group holds the terminal.
void ConsoleTerminalGiveBack();

// ConsoleTerminalReapply: applies the console mode again when it is in force (after a stop and
// continue). Async-signal-safe.
void ConsoleTerminalReapply();

// ConsoleSignalsInstall: installs the handlers that give the terminal back and ask for redraws;
// once only, the actions found before are kept for ConsoleSignalsRemove. Called while a
// ConsoleSignalHold lives.
void ConsoleSignalsInstall();

// ConsoleSignalsRemove: puts back the actions found by ConsoleSignalsInstall and forgets a
// redraw request.
void ConsoleSignalsRemove();

// ConsoleSignalHold: blocks the asynchronous signals the console handles for as long as it
// lives, so that a handler never sees the terminal state half written.
class ConsoleSignalHold {
 public:
  ConsoleSignalHold();
  ~ConsoleSignalHold();
  ConsoleSignalHold(const ConsoleSignalHold&) = delete;
  ConsoleSignalHold& operator=(const ConsoleSignalHold&) = delete;

 private:
  sigset_t previous_;
};

// ConsoleOutputModeSet: the encoding ConsoleWrite uses from now on.
void ConsoleOutputModeSet(int32_t mode);

// ConsoleInputForget: forgets what the key input learnt about standard input (whether it is a
// terminal, whether it has ended), so that the next start asks again.
void ConsoleInputForget();

// ConsoleSleepSpan: the pause nanosleep is asked for, for `milliseconds`.
timespec ConsoleSleepSpan(int32_t milliseconds);

}  // namespace zn::internal
