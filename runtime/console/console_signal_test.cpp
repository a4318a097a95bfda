// Tests of the signal handlers: whatever signal ends the process once the console mode is
// applied, the terminal has the user's attributes afterwards, the process died by that signal and
// printed nothing; Ctrl-Z gives the attributes back while stopped and continuing applies the
// console mode again; a fatal exit gives the terminal back too.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/console/console.h"
#include "runtime/console/console_test_support.h"
#include "runtime/memory/memory.h"
#include "tests/support/pty_child.h"

namespace zn {
namespace {

using test::PtyChild;
using test::PtyChildOptions;

std::string KilledBy(int number) {
  return "killed by signal " + std::to_string(number);
}

constexpr char16_t kReady[] = u"<ready>";
constexpr char kReadyBytes[] = "<ready>";

// Opens the console, says so on the terminal and to the test, then answers every message with the
// same byte until told to end.
int OpenAndServe() {
  test::ChildStartRuntime();
  ConsoleOpen();
  ConsoleWrite(kReady);
  test::ChildSend('o');
  for (;;) {
    const char message = test::ChildReceive();
    if (message == '\0' || message == 'q') {
      return 0;
    }
    test::ChildSend(message);
  }
}

// The options of a child whose standard error is on the terminal too, starting from `user`.
PtyChildOptions Watched(const termios& user) {
  return PtyChildOptions{.stderr_to_terminal = true, .initial_attributes = &user};
}

// Starts OpenAndServe and waits until the console mode is in place.
void ExpectOpened(PtyChild& child, const termios& user) {
  ASSERT_EQ(child.Receive(), 'o');
  EXPECT_EQ(child.ReadOutputUntil(kReadyBytes), kReadyBytes);
  test::ExpectConsoleMode(child.Attributes(), user);
}

// After the child ended: nothing more reached the terminal. The marker written by the test comes
// behind anything the child wrote.
void ExpectNothingMoreWritten(PtyChild& child) {
  child.WriteToTerminal("#");
  EXPECT_EQ(child.ReadOutputUntil("#"), "#") << "the child printed after it was ready";
}

// Every signal sent from outside whose default action ends the process, by the signal(7) table,
// written out here independently of the console's own table; the real-time ones by their range.
std::vector<int> OutsideEndingSignals() {
  std::vector<int> numbers = {SIGHUP,  SIGINT,    SIGQUIT, SIGUSR1,   SIGUSR2,
                              SIGPIPE, SIGALRM,   SIGTERM, SIGSTKFLT, SIGXCPU,
                              SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,     SIGPWR};
  numbers.push_back(SIGRTMIN);
  numbers.push_back(SIGRTMIN + 1);
  numbers.push_back(SIGRTMAX);
  return numbers;
}

TEST(ConsoleSignals, EndingSignalsGiveTerminalBackAndKill) {
  const termios user = test::UnusualUserAttributes();
  for (int number : OutsideEndingSignals()) {
    SCOPED_TRACE(strsignal(number));
    PtyChild child(OpenAndServe, Watched(user));
    ExpectOpened(child, user);
    child.Signal(number);
    EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), KilledBy(number));
    test::ExpectSameAttributes(child.Attributes(), user);
    ExpectNothingMoreWritten(child);
  }
}

TEST(ConsoleSignals, BrokenOutputPipeGivesTerminalBackAndKills) {
  const termios user = test::UnusualUserAttributes();
  int pipe_ends[2] = {-1, -1};
  ASSERT_EQ(pipe(pipe_ends), 0);
  PtyChild child(
      [reader = pipe_ends[0]] {
        close(reader);
        signal(SIGPIPE, SIG_DFL);  // as a shell starts a program, whatever the test inherited
        test::ChildStartRuntime();
        ConsoleOpen();
        test::ChildSend('o');
        test::ChildReceive();
        ConsoleWrite(u"nobody reads this");
        return 0;
      },
      PtyChildOptions{.standard_output = pipe_ends[1], .initial_attributes = &user});
  close(pipe_ends[1]);
  ASSERT_EQ(child.Receive(), 'o');
  test::ExpectConsoleMode(child.Attributes(), user);
  close(pipe_ends[0]);  // the reader goes away
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), KilledBy(SIGPIPE));
  test::ExpectSameAttributes(child.Attributes(), user);
}

TEST(ConsoleSignals, TypedInterruptKeyGivesTerminalBack) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(OpenAndServe,
                 PtyChildOptions{.controlling_terminal = true, .initial_attributes = &user});
  ExpectOpened(child, user);
  child.Type(std::string(1, static_cast<char>(user.c_cc[VINTR])));
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), KilledBy(SIGINT))
      << "the interrupt key keeps its effect in the console mode";
  test::ExpectSameAttributes(child.Attributes(), user);
}

// Child steps of the crash tests: whether a crash handler (a sanitizer's) was in place before the
// console opened, sent as 'h' or 'd'.
void SendCrashHandlerPresence(int number) {
  struct sigaction before {};
  sigaction(number, nullptr, &before);
  test::ChildSend(before.sa_handler == SIG_DFL ? 'd' : 'h');
}

// Where a handler was in place before, it gets the signal after the terminal was given back and
// ends the process its own way (a sanitizer reports and exits); otherwise the process dies by the
// signal itself.
void ExpectCrashEnd(int status, char handler_before, int number) {
  if (handler_before == 'd') {
    EXPECT_EQ(test::DescribeStatus(status), KilledBy(number));
  } else {
    ASSERT_EQ(handler_before, 'h');
    const bool abnormal = WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0);
    EXPECT_TRUE(abnormal) << "the previous handler let the process end normally: "
                          << test::DescribeStatus(status);
  }
}

TEST(ConsoleSignals, RaisedCrashSignalsGiveTerminalBack) {
  const termios user = test::UnusualUserAttributes();
  for (int number : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) {
    SCOPED_TRACE(strsignal(number));
    PtyChild child(
        [number] {
          SendCrashHandlerPresence(number);
          test::ChildStartRuntime();
          ConsoleOpen();
          test::ChildSend('o');
          test::ChildReceive();
          raise(number);
          return 0;
        },
        PtyChildOptions{.quiet_stderr = true, .initial_attributes = &user});
    const char handler_before = child.Receive();
    ASSERT_EQ(child.Receive(), 'o');
    test::ExpectConsoleMode(child.Attributes(), user);
    child.Send();
    ExpectCrashEnd(child.WaitEnd(), handler_before, number);
    test::ExpectSameAttributes(child.Attributes(), user);
  }
}

TEST(ConsoleSignals, AbortGivesTerminalBackAndDiesByAbort) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      []() -> int {
        test::ChildStartRuntime();
        ConsoleOpen();
        test::ChildSend('o');
        test::ChildReceive();
        std::abort();
      },
      PtyChildOptions{.quiet_stderr = true, .initial_attributes = &user});
  ASSERT_EQ(child.Receive(), 'o');
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), KilledBy(SIGABRT));
  test::ExpectSameAttributes(child.Attributes(), user);
}

TEST(ConsoleSignals, RealFaultGivesTerminalBack) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      [] {
        SendCrashHandlerPresence(SIGSEGV);
        test::ChildStartRuntime();
        ConsoleOpen();
        void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        test::ChildSend(page != MAP_FAILED ? 'o' : 'x');
        test::ChildReceive();
        // A write to a read-only page: the kernel raises the fault, not a process.
        *static_cast<volatile char*>(page) = 1;
        return 0;
      },
      PtyChildOptions{.quiet_stderr = true, .initial_attributes = &user});
  const char handler_before = child.Receive();
  ASSERT_EQ(child.Receive(), 'o');
  test::ExpectConsoleMode(child.Attributes(), user);
  child.Send();
  ExpectCrashEnd(child.WaitEnd(), handler_before, SIGSEGV);
  test::ExpectSameAttributes(child.Attributes(), user);
}

// Deep enough to overflow any stack; the frame stays alive across the call so that the recursion
// cannot become a loop.
int Descend(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth > 1000000000) {
    return frame[0];
  }
  return Descend(depth + 1) + frame[0];
}

TEST(ConsoleSignals, StackOverflowGivesTerminalBack) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      [] {
        SendCrashHandlerPresence(SIGSEGV);
        test::ChildStartRuntime();
        ConsoleOpen();
        test::ChildSend('o');
        test::ChildReceive();
        return Descend(0);
      },
      PtyChildOptions{.quiet_stderr = true, .initial_attributes = &user});
  const char handler_before = child.Receive();
  ASSERT_EQ(child.Receive(), 'o');
  child.Send();
  ExpectCrashEnd(child.WaitEnd(), handler_before, SIGSEGV);
  test::ExpectSameAttributes(child.Attributes(), user);
}

TEST(ConsoleSignals, StopGivesTerminalBackAndContinueAppliesConsoleMode) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(OpenAndServe, Watched(user));
  ExpectOpened(child, user);
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("stop number " + std::to_string(round));
    child.Signal(SIGTSTP);
    const int stopped = child.WaitChange();
    ASSERT_TRUE(stopped != -1 && WIFSTOPPED(stopped) && WSTOPSIG(stopped) == SIGTSTP)
        << test::DescribeStatus(stopped);
    test::ExpectSameAttributes(child.Attributes(), user);
    child.Signal(SIGCONT);
    const int continued = child.WaitChange();
    ASSERT_TRUE(WIFCONTINUED(continued)) << test::DescribeStatus(continued);
    // Once the child answers, its handlers have run: they run before it goes on.
    child.Send('p');
    ASSERT_EQ(child.Receive(), 'p');
    test::ExpectConsoleMode(child.Attributes(), user);
  }
  child.Signal(SIGTERM);
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), KilledBy(SIGTERM));
  test::ExpectSameAttributes(child.Attributes(), user);
  ExpectNothingMoreWritten(child);
}

TEST(ConsoleSignals, ContinueAfterForeignStopAppliesConsoleMode) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(OpenAndServe, Watched(user));
  ExpectOpened(child, user);
  child.Signal(SIGSTOP);
  const int stopped = child.WaitChange();
  ASSERT_TRUE(stopped != -1 && WIFSTOPPED(stopped)) << test::DescribeStatus(stopped);
  // The shell puts its own mode back while the program is stopped.
  child.SetAttributes(user);
  child.Signal(SIGCONT);
  ASSERT_NE(child.WaitChange(), -1);
  child.Send('p');
  ASSERT_EQ(child.Receive(), 'p');
  test::ExpectConsoleMode(child.Attributes(), user);
  child.Send('q');
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleSignals, IgnoredSignalStaysIgnored) {
  PtyChild child([] {
    signal(SIGHUP, SIG_IGN);
    signal(SIGUSR1, SIG_IGN);
    signal(SIGRTMIN, SIG_IGN);
    return OpenAndServe();
  });
  ASSERT_EQ(child.Receive(), 'o');
  child.Signal(SIGHUP);
  child.Signal(SIGUSR1);
  child.Signal(SIGRTMIN);
  child.Send('p');
  EXPECT_EQ(child.Receive(), 'p') << "a program started under nohup survives a hang-up";
  child.Send('q');
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

volatile sig_atomic_t program_handler_calls = 0;

TEST(ConsoleSignals, ProgramHandlerStillGetsItsSignal) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      [] {
        signal(SIGTERM, [](int) { program_handler_calls = program_handler_calls + 1; });
        test::ChildStartRuntime();
        ConsoleOpen();
        test::ChildSend('o');
        for (int round = 0; round < 2; ++round) {
          test::ChildReceive();
          test::ChildSend(static_cast<char>(program_handler_calls));
        }
        return 0;
      },
      PtyChildOptions{.initial_attributes = &user});
  ASSERT_EQ(child.Receive(), 'o');
  child.Signal(SIGTERM);
  child.Send();
  EXPECT_EQ(child.Receive(), 1) << "the program's own handler ran once";
  test::ExpectConsoleMode(child.Attributes(), user);
  child.Signal(SIGTERM);
  child.Send();
  EXPECT_EQ(child.Receive(), 2) << "and runs again on the next signal";
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleShutdown, PutsTheSignalActionsBack) {
  PtyChild child([] {
    test::ChildStartRuntime();
    ConsoleOpen();
    struct sigaction during {};
    sigaction(SIGINT, nullptr, &during);
    ConsoleShutdown();
    char result = 0;
    for (int number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE, SIGTSTP, SIGCONT, SIGABRT,
                       SIGUSR1, SIGALRM, SIGWINCH, SIGRTMIN, SIGRTMAX}) {
      struct sigaction after {};
      sigaction(number, nullptr, &after);
      result |= after.sa_handler == SIG_DFL ? 0 : 1;
    }
    test::ChildSend(during.sa_handler != SIG_DFL ? 'i' : '-');
    test::ChildSend(result == 0 ? 'r' : '-');
    return 0;
  });
  EXPECT_EQ(child.Receive(), 'i') << "handler installed while the console mode is in force";
  EXPECT_EQ(child.Receive(), 'r') << "every action back to what it was";
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(FatalExit, GivesTerminalBackFirst) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      []() -> int {
        test::ChildStartRuntime();
        ConsoleOpen();
        test::ChildSend('o');
        test::ChildReceive();
        FatalExit("out of memory");
      },
      PtyChildOptions{.stderr_to_terminal = true, .initial_attributes = &user});
  ASSERT_EQ(child.Receive(), 'o');
  test::ExpectConsoleMode(child.Attributes(), user);
  child.Send();
  const std::string line = child.ReadOutputUntil("\n");
  EXPECT_NE(line.find(": out of memory"), std::string::npos) << line;
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 1");
  test::ExpectSameAttributes(child.Attributes(), user);
}

}  // namespace
}  // namespace zn
