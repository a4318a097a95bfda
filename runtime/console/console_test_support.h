// Test support for the console: terminal attributes to start from and to compare with, and the
// console steps a child process runs. Used together with the pseudo-terminal plumbing.
#pragma once

#include <termios.h>

#include <cstdint>

namespace zn::test {

// The kernel's attributes for a fresh pseudo-terminal with a few unusual settings (flow control on
// any key, no erase echo, control characters and speed changed, VMIN and VTIME not 0), so that
// a mode that copies too little or changes too much shows. Line editing, echo and the signal keys
// stay on.
termios UnusualUserAttributes();

// The current attributes of standard input (in the child).
termios StandardInputAttributes();

// Every field equal: flags, line discipline, each control character, both speeds.
void ExpectSameAttributes(const termios& actual, const termios& expected);

// `mode` is `user` with ICANON and ECHO cleared and VMIN and VTIME 0, and nothing else changed.
void ExpectConsoleMode(const termios& mode, const termios& user);

// In the child: the start steps the console needs (the TempStringBuffer, then the console).
void ChildStartRuntime();

// What one ConsoleReadKey gave, read the way the game reads it.
struct KeyRead {
  char16_t unit;         // the first unit of the key variable (0 when it is empty)
  int32_t length;        // the key variable's length in units
  int32_t piece_bytes;   // position - offset right after the read: always one unit (2)
  int32_t stack_change;  // position stack depth after the take minus before: always 0
};

// In the child: one key read into a variable through the TempStringBuffer.
KeyRead ChildReadKey();
char16_t ChildReadKeyUnit();

}  // namespace zn::test
