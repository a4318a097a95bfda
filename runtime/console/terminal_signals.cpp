// The signal handlers that give the user's terminal back.
//
// Once the console mode is applied, the ending signals (interrupt, quit, terminate, hang-up, and a
// broken pipe on standard output, as when the reader of `rps | tee log` goes away) and the crash
// signals give the saved attributes back and then pass the signal on to the action that
// was in place before the console opened: by default the process dies by the signal, so its
// parent still sees which one it was, and nothing is printed. A handler found in place (a
// sanitizer's crash reporter, a program's own) thus still gets its signal. A signal that was
// ignored before is left ignored: a program started under nohup must not start dying on a
// hang-up.
//
// Crash signals run on an alternate stack, so that a stack overflow still reaches the handler.
// A fault raised by the kernel is not raised again: returning re-runs the faulting instruction,
// which now faults into the previous action with its true context.
//
// Ctrl-Z gives the attributes back before the process stops; when it continues, the console mode
// is applied again (also after a stop that did not come through the handler).
//
// Handlers make only async-signal-safe calls (sigaction, sigprocmask, raise, tcsetattr) and keep
// errno as they found it.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>

#include "runtime/console/console_internal.h"

namespace zn {
namespace {

constexpr int kAsyncSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE, SIGTSTP, SIGCONT};
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGABRT};

struct HandledSignal {
  int number;
  bool ours;  // our handler is installed and `before` holds the action it replaced
  struct sigaction before;
};

HandledSignal handled[] = {
    {SIGINT, false, {}},  {SIGQUIT, false, {}}, {SIGTERM, false, {}}, {SIGHUP, false, {}},
    {SIGPIPE, false, {}}, {SIGTSTP, false, {}}, {SIGCONT, false, {}}, {SIGSEGV, false, {}},
    {SIGBUS, false, {}},  {SIGFPE, false, {}},  {SIGABRT, false, {}},
};

bool installed = false;

// Large enough for any handler that may run on it, including a sanitizer's report.
constexpr size_t kAlternateStackBytes = 64 * 1024;
alignas(16) char alternate_stack[kAlternateStackBytes];
bool alternate_stack_ours = false;

bool IsCrashSignal(int number) {
  for (int crash : kCrashSignals) {
    if (crash == number) {
      return true;
    }
  }
  return false;
}

HandledSignal* Find(int number) {
  for (HandledSignal& entry : handled) {
    if (entry.number == number) {
      return &entry;
    }
  }
  return nullptr;
}

void Unblock(int number) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, number);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// Puts the action found before back in place (the default when there was none).
void HandOver(int number) {
  const HandledSignal* entry = Find(number);
  if (entry != nullptr && entry->ours) {
    sigaction(number, &entry->before, nullptr);
    return;
  }
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(number, &default_action, nullptr);
}

// The signal is blocked while its handler runs: raised again, it waits, and unblocking it lets
// the previous action take its course here (ending or stopping the process).
void PassOn(int number) {
  HandOver(number);
  raise(number);
  Unblock(number);
}

void OnEndingOrStopSignal(int number);
void OnContinue(int number);
void OnCrashSignal(int number, siginfo_t* info, void* context);

struct sigaction OurAction(int number) {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  for (int other : kAsyncSignals) {
    sigaddset(&action.sa_mask, other);
  }
  action.sa_flags = SA_RESTART;
  if (number == SIGCONT) {
    action.sa_handler = OnContinue;
  } else if (IsCrashSignal(number)) {
    action.sa_sigaction = OnCrashSignal;
    action.sa_flags |= SA_SIGINFO | SA_ONSTACK;
  } else {
    action.sa_handler = OnEndingOrStopSignal;
  }
  return action;
}

void OnEndingOrStopSignal(int number) {
  const int saved_errno = errno;
  internal::ConsoleTerminalGiveBack();
  PassOn(number);
  // Still here: the process was stopped and has continued, or the previous action was a
  // handler that let it live. The console goes on as before.
  const struct sigaction ours = OurAction(number);
  sigaction(number, &ours, nullptr);
  internal::ConsoleTerminalReapply();
  errno = saved_errno;
}

void OnContinue(int /*number*/) {
  const int saved_errno = errno;
  internal::ConsoleTerminalReapply();
  errno = saved_errno;
}

void OnCrashSignal(int number, siginfo_t* info, void* /*context*/) {
  const int saved_errno = errno;
  internal::ConsoleTerminalGiveBack();
  HandOver(number);
  // A signal sent by a process (kill, raise, abort) is sent again; a fault comes back by itself
  // when the faulting instruction runs again.
  if (info == nullptr || info->si_code <= 0) {
    raise(number);
    Unblock(number);
  }
  errno = saved_errno;
}

void InstallAlternateStack() {
  stack_t current{};
  if (sigaltstack(nullptr, &current) != 0) {
    return;
  }
  // A stack set up by someone else (a sanitizer sets one) serves as well; leave it.
  if ((current.ss_flags & SS_DISABLE) == 0) {
    return;
  }
  stack_t ours{};
  ours.ss_sp = alternate_stack;
  ours.ss_size = sizeof alternate_stack;
  alternate_stack_ours = sigaltstack(&ours, nullptr) == 0;
}

void RemoveAlternateStack() {
  if (!alternate_stack_ours) {
    return;
  }
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  sigaltstack(&off, nullptr);
  alternate_stack_ours = false;
}

}  // namespace

namespace internal {

ConsoleSignalHold::ConsoleSignalHold() {
  sigset_t set;
  sigemptyset(&set);
  for (int number : kAsyncSignals) {
    sigaddset(&set, number);
  }
  sigprocmask(SIG_BLOCK, &set, &previous_);
}

ConsoleSignalHold::~ConsoleSignalHold() {
  sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

void ConsoleSignalsInstall() {
  if (installed) {
    return;
  }
  installed = true;
  InstallAlternateStack();
  for (HandledSignal& entry : handled) {
    entry.ours = false;
    struct sigaction before {};
    if (sigaction(entry.number, nullptr, &before) != 0) {
      continue;
    }
    if (before.sa_handler == SIG_IGN) {
      continue;
    }
    // Continuing needs no handler of ours when the program has one of its own.
    if (entry.number == SIGCONT && before.sa_handler != SIG_DFL) {
      continue;
    }
    entry.before = before;
    const struct sigaction ours = OurAction(entry.number);
    entry.ours = sigaction(entry.number, &ours, nullptr) == 0;
  }
}

void ConsoleSignalsRemove() {
  if (!installed) {
    return;
  }
  for (HandledSignal& entry : handled) {
    if (entry.ours) {
      sigaction(entry.number, &entry.before, nullptr);
    }
    entry.ours = false;
  }
  RemoveAlternateStack();
  installed = false;
}

}  // namespace internal
}  // namespace zn
