// The console's terminal modes: saving the user's attributes at start, the console mode, and
// giving the user's attributes back at the end, on a fatal exit and from the signal handlers.
//
// The console mode is always derived from the attributes saved at start, never from the current
// ones, so opening twice gives the same mode. Only ICANON, ECHO, VMIN and VTIME change: ISIG stays,
// so the interrupt and quit keys keep their effect, and input and output processing stay as the
// user had them.
//
// Nothing is given back while another process group holds the terminal's foreground, as the
// shell does while the program is stopped or runs in the background. The terminal is then the
// shell's, in the mode the shell set (a stop through the console already gave the user's
// attributes back), and setting it from the background would only stop the process by SIGTTOU:
// a signal that should end the process would stop it instead.
//
// Nothing is applied or given back unless the user's attributes were actually read: writing a
// record that was never filled in would set a real terminal to speed 0, which hangs it up. For
// the same reason the saved record is read once and never changed afterwards; a second start
// step would otherwise save the console mode as the user's.
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cwchar>

#include "runtime/console/console.h"
#include "runtime/console/console_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

termios SavedTerminalAttributes{};
termios ConsoleTerminalAttributes{};

// Read by the signal handlers, hence sig_atomic_t.
volatile sig_atomic_t saved_attributes_valid = 0;
volatile sig_atomic_t console_mode_applied = 0;

int32_t console_open = 0;

}  // namespace

namespace internal {

// The foreground group is asked of the terminal rather than tracked, since a process is also
// stopped and resumed behind the console's back (SIGSTOP, SIGTTIN, bg). A terminal that is not
// the controlling one, or has no foreground group, raises no SIGTTOU and counts as ours.
bool ConsoleTerminalInForeground() {
  const pid_t foreground = tcgetpgrp(STDIN_FILENO);
  return foreground <= 0 || foreground == getpgrp();
}

// Keys typed into the game and not yet read are discarded here too, so that a game ended by a
// signal or a fatal exit leaves its typed-ahead keys to no shell, as the normal end does.
void ConsoleTerminalGiveBack() {
  if (saved_attributes_valid != 0 && ConsoleTerminalInForeground()) {
    tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminalAttributes);
    if (console_mode_applied != 0) {
      tcflush(STDIN_FILENO, TCIFLUSH);
    }
  }
}

void ConsoleTerminalReapply() {
  if (console_mode_applied != 0) {
    tcsetattr(STDIN_FILENO, TCSANOW, &ConsoleTerminalAttributes);
  }
}

}  // namespace internal

void ConsoleStartup() {
  // Byte orientation, so that the byte writes and reads of this library are allowed on them.
  std::fwide(stdin, -1);
  std::fwide(stdout, -1);
  std::fwide(stderr, -1);
  internal::ConsoleInputForget();
  if (saved_attributes_valid == 0) {
    internal::ConsoleSignalHold hold;
    termios attributes{};
    if (tcgetattr(STDIN_FILENO, &attributes) == 0) {
      SavedTerminalAttributes = attributes;
      saved_attributes_valid = 1;
    }
  }
  // From here on a fatal exit gives the terminal back before it writes its line.
  FatalCleanupSet(internal::ConsoleTerminalGiveBack);
}

void ConsoleShutdown() {
  {
    internal::ConsoleSignalHold hold;
    // Input the program never read (the rest of an arrow key after ESC ended the game, a long
    // paste) is discarded instead of reaching the user's shell. TCSAFLUSH alone empties only the
    // line discipline's buffer (4 KB): the bytes queued behind it flow in afterwards, and under
    // the restored echo they would even show. So the whole queue goes first, while nothing is
    // echoed, and once more after the restore for what came in meanwhile. A terminal the console
    // never changed is left untouched, typed-ahead input included.
    if (saved_attributes_valid != 0 && console_mode_applied != 0 &&
        internal::ConsoleTerminalInForeground()) {
      tcflush(STDIN_FILENO, TCIFLUSH);
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &SavedTerminalAttributes);
      tcflush(STDIN_FILENO, TCIFLUSH);
    }
    console_mode_applied = 0;
  }
  internal::ConsoleSignalsRemove();
}

int32_t ConsoleOpen(int32_t mode) {
  {
    internal::ConsoleSignalHold hold;
    ConsoleTerminalAttributes = SavedTerminalAttributes;
    ConsoleTerminalAttributes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    // A read returns at once, with whatever bytes are waiting or with none.
    ConsoleTerminalAttributes.c_cc[VMIN] = 0;
    ConsoleTerminalAttributes.c_cc[VTIME] = 0;
    if (saved_attributes_valid != 0 &&
        tcsetattr(STDIN_FILENO, TCSANOW, &ConsoleTerminalAttributes) == 0) {
      console_mode_applied = 1;
      // Installed while the signals are held, so none can end the process between the mode
      // being applied and the handlers that give it back.
      internal::ConsoleSignalsInstall();
    }
  }
  internal::ConsoleOutputModeSet(mode);
  console_open = 1;
  return 1;
}

void ConsoleClose() {
  console_open = 0;
}

}  // namespace zn
