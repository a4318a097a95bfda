// The signal handlers that give the user's terminal back, and the two that ask for a redraw.
//
// Once the console mode is applied, every signal whose default action ends the process gives the
// saved attributes back and then passes the signal on to the action that was in place before the
// console opened: by default the process dies by the signal, so its parent still sees which one
// it was, and nothing is printed. A handler found in place (a sanitizer's crash reporter, a
// program's own) thus still gets its signal. A signal that was ignored before is left ignored: a
// program started under nohup must not start dying on a hang-up. The signals and what each does
// are one table, kSignalTable; the real-time signals, whose numbers are known only at run time,
// all end the process and are handled alike.
//
// Crash signals run on an alternate stack, so that a stack overflow still reaches the handler.
// A fault raised by the kernel is not raised again: returning re-runs the faulting instruction,
// which now faults into the previous action with its true context.
//
// Ctrl-Z gives the attributes back before the process stops; when it continues, the console mode
// is applied again (also after a stop that did not come through the handler). Nothing is given
// back from the background, where the terminal is the shell's: a stopped or background process
// that gets an ending signal just dies by it. Continuing and a
// change of the window's size also ask the program to draw its screen again: the handler only
// sets a flag, which the program's polling loop takes (ConsoleRedrawTake).
//
// Handlers make only async-signal-safe calls (sigaction, sigprocmask, sigpending, raise,
// tcgetpgrp, getpgrp, tcsetattr) and keep errno as they found it.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>

#include "runtime/console/console.h"
#include "runtime/console/console_internal.h"

namespace zn {
namespace {

enum class SignalKind {
  kEnding,  // ends the process by default; sent from outside
  kCrash,   // ends the process by default; may come from the faulting instruction itself
  kStop,    // stops the process by default (Ctrl-Z)
  kResume,  // the process continues after a stop
  kResize,  // the window's size changed; ignored by default
};

struct SignalEntry {
  int number;
  SignalKind kind;
};

// Every signal the console acts on. Not handled: SIGKILL and SIGSTOP (they cannot be), SIGCHLD and
// SIGURG (ignored by default), SIGTTIN and SIGTTOU (a background read or write stops the process;
// giving the terminal back from the background would itself raise SIGTTOU).
constexpr SignalEntry kSignalTable[] = {
    {SIGHUP, SignalKind::kEnding},    {SIGINT, SignalKind::kEnding},
    {SIGQUIT, SignalKind::kEnding},   {SIGTERM, SignalKind::kEnding},
    {SIGPIPE, SignalKind::kEnding},   {SIGALRM, SignalKind::kEnding},
    {SIGUSR1, SignalKind::kEnding},   {SIGUSR2, SignalKind::kEnding},
    {SIGVTALRM, SignalKind::kEnding}, {SIGPROF, SignalKind::kEnding},
    {SIGXCPU, SignalKind::kEnding},   {SIGXFSZ, SignalKind::kEnding},
    {SIGIO, SignalKind::kEnding},
#ifdef SIGPWR
    {SIGPWR, SignalKind::kEnding},
#endif
#ifdef SIGSTKFLT
    {SIGSTKFLT, SignalKind::kEnding},
#endif
    {SIGSEGV, SignalKind::kCrash},    {SIGBUS, SignalKind::kCrash},
    {SIGFPE, SignalKind::kCrash},     {SIGILL, SignalKind::kCrash},
    {SIGABRT, SignalKind::kCrash},    {SIGTRAP, SignalKind::kCrash},
    {SIGSYS, SignalKind::kCrash},     {SIGTSTP, SignalKind::kStop},
    {SIGCONT, SignalKind::kResume},   {SIGWINCH, SignalKind::kResize},
};

// What the console found and did, per signal number. The action it replaced is kept small (a
// full sigaction record is mostly a 1024-signal mask): the kernel knows 64 signals, so their mask
// fits one word, and only a handler's mask matters at all.
struct SignalState {
  bool ours;  // our handler is installed and the fields below hold the action it replaced
  int flags;
  void (*handler)(int);
  void (*info_handler)(int, siginfo_t*, void*);
  uint64_t mask;  // bit n - 1 for signal n
};

SignalState states[NSIG] = {};

constexpr int kKernelSignals = 64;

bool RunsAHandler(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) != 0 ||
         (action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN);
}

void StateKeep(SignalState* state, const struct sigaction& before) {
  state->flags = before.sa_flags;
  state->handler = before.sa_handler;
  state->info_handler = before.sa_sigaction;
  state->mask = 0;
  if (RunsAHandler(before)) {
    for (int number = 1; number <= kKernelSignals; ++number) {
      if (sigismember(&before.sa_mask, number) == 1) {
        state->mask |= uint64_t{1} << (number - 1);
      }
    }
  }
}

struct sigaction StateAction(const SignalState& state) {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  for (int number = 1; number <= kKernelSignals; ++number) {
    if ((state.mask & (uint64_t{1} << (number - 1))) != 0) {
      sigaddset(&action.sa_mask, number);
    }
  }
  action.sa_flags = state.flags;
  if ((state.flags & SA_SIGINFO) != 0) {
    action.sa_sigaction = state.info_handler;
  } else {
    action.sa_handler = state.handler;
  }
  return action;
}
bool installed = false;

volatile sig_atomic_t redraw_requested = 0;

// Large enough for any handler that may run on it, including a sanitizer's report.
constexpr size_t kAlternateStackBytes = 64 * 1024;
alignas(16) char alternate_stack[kAlternateStackBytes];
bool alternate_stack_ours = false;

// The kind of a signal of the table or a real-time one; false for any other.
bool KindOf(int number, SignalKind* kind) {
  for (const SignalEntry& entry : kSignalTable) {
    if (entry.number == number) {
      *kind = entry.kind;
      return true;
    }
  }
  if (number >= SIGRTMIN && number <= SIGRTMAX) {
    *kind = SignalKind::kEnding;
    return true;
  }
  return false;
}

// Every signal the console handles, in the table's order, then the real-time ones.
template <typename Visit>
void ForEachSignal(Visit visit) {
  for (const SignalEntry& entry : kSignalTable) {
    visit(entry.number, entry.kind);
  }
  for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) {
    visit(number, SignalKind::kEnding);
  }
}

// The signals that can arrive at any moment from outside: blocked while a handler runs and while
// the terminal state is written. The crash signals are left out: one raised by an instruction
// while blocked would end the process without the handler.
sigset_t AsynchronousSignals() {
  sigset_t set;
  sigemptyset(&set);
  ForEachSignal([&set](int number, SignalKind kind) {
    if (kind != SignalKind::kCrash) {
      sigaddset(&set, number);
    }
  });
  return set;
}

// Asynchronous signals, computed once at install time so that a handler only reads it.
sigset_t asynchronous_signals;

void Unblock(int number) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, number);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// Puts the action found before back in place (the default when there was none).
void HandOver(int number) {
  if (states[number].ours) {
    const struct sigaction before = StateAction(states[number]);
    sigaction(number, &before, nullptr);
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

// Runs the handler a program had installed before the console, for a signal that does not end
// the process by itself (continue, window size).
void CallBefore(int number, siginfo_t* info, void* context) {
  const SignalState& before = states[number];
  if ((before.flags & SA_SIGINFO) != 0) {
    if (before.info_handler != nullptr) {
      before.info_handler(number, info, context);
    }
  } else if (before.handler != SIG_DFL && before.handler != SIG_IGN) {
    before.handler(number);
  }
}

// Whether a signal that ends or stops the process waits behind the one being handled. A shell's
// kill of a stopped job sends SIGTERM and then SIGCONT: the process continues in the background,
// and applying the console mode there would stop it again by SIGTTOU before the waiting signal
// could end it. Async-signal-safe.
bool EndingSignalWaits() {
  sigset_t pending;
  if (sigpending(&pending) != 0) {
    return false;
  }
  bool waits = false;
  ForEachSignal([&pending, &waits](int number, SignalKind kind) {
    const bool ends = kind == SignalKind::kEnding || kind == SignalKind::kStop;
    waits = waits || (ends && sigismember(&pending, number) == 1);
  });
  return waits;
}

// After a continue: the console mode again, unless a waiting signal is about to end or stop the
// process. Continued in the background (bg), the process stops again at once by SIGTTOU, as one
// that needs the terminal does there, before it draws over the shell. It is raised rather than
// left to the mode's write: a write stopped by SIGTTOU is made again on continuing, from the
// background again after a shell's kill, and would stop the process for good.
void Resume() {
  if (EndingSignalWaits()) {
    return;
  }
  if (internal::ConsoleTerminalInForeground()) {
    internal::ConsoleTerminalReapply();
  } else {
    raise(SIGTTOU);
  }
}

void OnSignal(int number, siginfo_t* info, void* context);

struct sigaction OurAction(SignalKind kind) {
  struct sigaction action {};
  action.sa_mask = asynchronous_signals;
  action.sa_sigaction = OnSignal;
  action.sa_flags = SA_RESTART | SA_SIGINFO;
  if (kind == SignalKind::kCrash) {
    action.sa_flags |= SA_ONSTACK;
  }
  return action;
}

void OnEndingOrStop(int number, SignalKind kind) {
  internal::ConsoleTerminalGiveBack();
  PassOn(number);
  // Still here: the process was stopped and has continued, or the previous action was a
  // handler that let it live. The console goes on as before.
  const struct sigaction ours = OurAction(kind);
  sigaction(number, &ours, nullptr);
  Resume();
  if (kind == SignalKind::kStop) {
    redraw_requested = 1;
  }
}

void OnCrash(int number, const siginfo_t* info) {
  internal::ConsoleTerminalGiveBack();
  HandOver(number);
  // A signal sent by a process (kill, raise, abort) is sent again, and so is one whose
  // instruction does not run again on return (a breakpoint, a refused system call); a fault
  // comes back by itself when the faulting instruction runs again.
  const bool refaults =
      number == SIGSEGV || number == SIGBUS || number == SIGFPE || number == SIGILL;
  if (info == nullptr || info->si_code <= 0 || !refaults) {
    raise(number);
    Unblock(number);
  }
}

void OnSignal(int number, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  SignalKind kind = SignalKind::kEnding;
  if (number > 0 && number < NSIG && KindOf(number, &kind)) {
    switch (kind) {
      case SignalKind::kEnding:
      case SignalKind::kStop:
        OnEndingOrStop(number, kind);
        break;
      case SignalKind::kCrash:
        OnCrash(number, info);
        break;
      case SignalKind::kResume:
        Resume();
        redraw_requested = 1;
        CallBefore(number, info, context);
        break;
      case SignalKind::kResize:
        redraw_requested = 1;
        CallBefore(number, info, context);
        break;
    }
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

int32_t ConsoleRedrawTake() {
  // Read, then cleared: a request that arrives in between is covered by the redraw the caller is
  // about to make, which reads the window's size after this.
  if (redraw_requested == 0) {
    return 0;
  }
  redraw_requested = 0;
  return 1;
}

namespace internal {

ConsoleSignalHold::ConsoleSignalHold() {
  const sigset_t set = AsynchronousSignals();
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
  asynchronous_signals = AsynchronousSignals();
  InstallAlternateStack();
  ForEachSignal([](int number, SignalKind kind) {
    SignalState& state = states[number];
    state.ours = false;
    // One call installs ours and tells what was there; an ignored signal gets its action back
    // at once. The asynchronous signals are held meanwhile, and one that came in for an ignored
    // signal is discarded when SIG_IGN is back.
    const struct sigaction ours = OurAction(kind);
    struct sigaction before {};
    if (sigaction(number, &ours, &before) != 0) {
      return;
    }
    if (before.sa_handler == SIG_IGN) {
      sigaction(number, &before, nullptr);
      return;
    }
    StateKeep(&state, before);
    state.ours = true;
  });
}

void ConsoleSignalsRemove() {
  if (!installed) {
    return;
  }
  ForEachSignal([](int number, SignalKind /*kind*/) {
    SignalState& state = states[number];
    if (state.ours) {
      const struct sigaction before = StateAction(state);
      sigaction(number, &before, nullptr);
    }
    state.ours = false;
  });
  RemoveAlternateStack();
  installed = false;
  redraw_requested = 0;
}

}  // namespace internal
}  // namespace zn
