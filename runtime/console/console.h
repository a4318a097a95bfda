// The console library: the terminal on which the process was started, driven through the
// terminal attributes of standard input and ANSI escape sequences on standard output.
//
// The start step saves the user's terminal attributes; `ConsoleOpen` switches to the console mode
// (no line editing, no echo, reads that return at once); the end step gives the saved attributes
// back. Once the console mode is applied, every signal whose default action ends the process
// gives the terminal back before the process dies by it (a signal ignored before stays ignored),
// Ctrl-Z gives it back while the process is stopped, and resuming applies the console mode again.
// A stopped or background process, whose terminal is the shell's, dies by such a signal at once
// and leaves the terminal as the shell has it; resumed in the background (bg), it stops again at
// once by SIGTTOU, as a program that needs the terminal does there.
// Resuming and a change of the window's size also ask the program to draw its screen again
// (ConsoleRedrawTake); the handlers only set a flag, so a program that polls sees the request at
// its next turn without any system call of its own.
//
// All text is UTF-16 (StringValue) and is converted just before it is written; every write, clear
// and cursor placement is flushed at once. Main thread only.
//
// Late-bound seam it fills: the fatal-exit clean-up (`FatalCleanupSet` of memory.h), set by the
// start step, so that `FatalExit` gives the terminal back before it writes its line.
#pragma once

#include <cstdint>

namespace zn {

// The output encodings ConsoleOpen takes: UTF-8, or single-byte text (codes 0 to 255).
inline constexpr int32_t OutputModeUtf8 = 2;
inline constexpr int32_t OutputModeSingleByte = 24;

// ConsoleStartup: byte-oriented standard streams; saves the terminal attributes of standard
// input. Start-up step.
void ConsoleStartup();

// ConsoleShutdown: gives the saved attributes back and discards every byte of input the program
// never read, however much was typed ahead, so none of it reaches the user's shell. Leaves the
// terminal alone while another process group holds its foreground (the process is stopped or in
// the background, and the terminal is the shell's). End step; harmless to call twice.
void ConsoleShutdown();

// ConsoleOpen: applies the console mode derived from the saved attributes; `mode` chooses the
// output encoding (OutputModeSingleByte, or UTF-8 for any other value). Always 1. When no
// attributes were saved (standard input is not a terminal, or the start step did not run), the
// terminal is left alone and no signal handler is installed.
int32_t ConsoleOpen(int32_t mode = OutputModeUtf8);

// ConsoleClose: records that the console is closed; the terminal stays in the console mode until
// ConsoleShutdown.
void ConsoleClose();

// ConsoleSetCursorControl: while the flag is 0, ConsoleClear and ConsoleMoveCursor write nothing.
void ConsoleSetCursorControl(int32_t flag);

// ConsoleClear: erases the screen ("\e[2J"); the cursor stays where it was.
void ConsoleClear();

// ConsoleMoveCursor: places the cursor ("\e[<row>;<column>f"); both count from 1.
void ConsoleMoveCursor(int32_t column, int32_t row);

// ConsoleWrite: writes the text at the cursor, no line end added; null writes nothing. Flushes.
void ConsoleWrite(const char16_t* text);

// ConsoleReadKey: reads one UTF-8 character without waiting and writes it as a piece of exactly
// one code unit at `offset` of the TempStringBuffer (the unit 0 when no key was waiting; a
// character outside the basic plane gives its high surrogate). A byte that cannot start a
// character is a key of its own that gives the unit 0; one that cannot continue the character
// begun cuts it short, as the end of input does, and is read by the next call.
void ConsoleReadKey(int32_t offset);

// ConsoleInputEnded: 1 when no key can ever come again, else 0: standard input is not a terminal
// and a read met its end, or a read failed for any reason but "nothing yet" (EAGAIN, EINTR), as
// it does on a closed descriptor or a folder. A terminal with no key waiting is not an end.
int32_t ConsoleInputEnded();

// ConsoleRedrawTake: 1 when the screen may have been lost since the last call (the process was
// stopped and has continued, or the window's size changed), else 0; the request is forgotten. No
// system call: a polling program may ask every turn.
int32_t ConsoleRedrawTake();

// ConsoleWindowSize: the window's size in columns and rows, read from standard output; 1 when it
// was read, 0 when it cannot be (output not a terminal, or a terminal that reports no size), in
// which case neither value is written.
int32_t ConsoleWindowSize(int32_t* columns, int32_t* rows);

// ConsoleCanPlaceCursor: 0 when the terminal says it cannot place the cursor (TERM is "dumb"),
// else 1. A program that draws by cursor placement should refuse to start on such a terminal
// before it opens the console.
int32_t ConsoleCanPlaceCursor();

// SleepMilliseconds: suspends the calling thread; a signal cuts the pause short. A count of 0 or
// less does not pause.
void SleepMilliseconds(int32_t milliseconds);

}  // namespace zn
