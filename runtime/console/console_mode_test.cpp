// Tests of the terminal modes: the console mode derived from the user's attributes, giving them
// back at the end (discarding unread input), and what happens without a terminal. Each test runs
// the console in a child process on a pseudo-terminal of its own.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>

#include "runtime/console/console.h"
#include "runtime/console/console_test_support.h"
#include "runtime/strings/strings.h"
#include "tests/support/pty_child.h"

namespace zn {
namespace {

using test::PtyChild;
using test::PtyChildOptions;

TEST(ConsoleOpen, ClearsLineEditingAndEchoAndNothingElse) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      [] {
        test::ChildStartRuntime();
        test::ChildSend(static_cast<char>(ConsoleOpen()));
        test::ChildReceive();
        return 0;
      },
      PtyChildOptions{.initial_attributes = &user});
  ASSERT_EQ(child.Receive(), 1) << "ConsoleOpen returns 1";
  test::ExpectConsoleMode(child.Attributes(), user);
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleOpen, DefaultTerminalKeepsSignalKeys) {
  PtyChild child([] {
    test::ChildStartRuntime();
    const termios before = test::StandardInputAttributes();
    ConsoleOpen(OutputModeSingleByte);
    test::ChildSend(&before, sizeof before);
    test::ChildReceive();
    return 0;
  });
  termios before{};
  ASSERT_TRUE(child.Receive(&before, sizeof before));
  const termios mode = child.Attributes();
  EXPECT_NE(before.c_lflag & ICANON, 0u) << "a fresh terminal edits lines";
  EXPECT_NE(mode.c_lflag & ISIG, 0u) << "interrupt and quit keys keep their effect";
  test::ExpectConsoleMode(mode, before);
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleOpen, SecondOpenDerivesFromSavedAttributesNotCurrent) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      [] {
        test::ChildStartRuntime();
        ConsoleOpen();
        // Someone changes the terminal between the two opens.
        termios changed = test::StandardInputAttributes();
        changed.c_iflag ^= IXANY;
        changed.c_lflag ^= ECHOK;
        changed.c_cc[VMIN] = 9;
        tcsetattr(STDIN_FILENO, TCSANOW, &changed);
        test::ChildSend(static_cast<char>(ConsoleOpen(0)));
        test::ChildReceive();
        return 0;
      },
      PtyChildOptions{.initial_attributes = &user});
  ASSERT_EQ(child.Receive(), 1);
  test::ExpectConsoleMode(child.Attributes(), user);
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleOpen, WithoutStartStepLeavesTerminalAlone) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      [] {
        TempTextInit();
        // No attributes were saved: applying an empty record would hang the terminal up.
        test::ChildSend(static_cast<char>(ConsoleOpen()));
        struct sigaction interrupt {};
        sigaction(SIGINT, nullptr, &interrupt);
        test::ChildSend(interrupt.sa_handler == SIG_DFL ? 'd' : 'h');
        test::ChildReceive();
        return 0;
      },
      PtyChildOptions{.initial_attributes = &user});
  ASSERT_EQ(child.Receive(), 1);
  EXPECT_EQ(child.Receive(), 'd') << "no handler without the console mode";
  test::ExpectSameAttributes(child.Attributes(), user);
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleClose, LeavesConsoleModeInPlace) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      [] {
        test::ChildStartRuntime();
        ConsoleOpen();
        ConsoleClose();
        test::ChildSend('c');
        test::ChildReceive();
        ConsoleShutdown();
        test::ChildSend('s');
        test::ChildReceive();
        return 0;
      },
      PtyChildOptions{.initial_attributes = &user});
  ASSERT_EQ(child.Receive(), 'c');
  test::ExpectConsoleMode(child.Attributes(), user);
  child.Send();
  ASSERT_EQ(child.Receive(), 's');
  test::ExpectSameAttributes(child.Attributes(), user);
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleShutdown, GivesUserAttributesBackAndIsHarmlessTwice) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      [] {
        test::ChildStartRuntime();
        ConsoleOpen();
        test::ChildSend('o');
        test::ChildReceive();
        ConsoleShutdown();
        test::ChildSend('s');
        test::ChildReceive();
        ConsoleShutdown();
        test::ChildSend('t');
        test::ChildReceive();
        return 0;
      },
      PtyChildOptions{.initial_attributes = &user});
  ASSERT_EQ(child.Receive(), 'o');
  test::ExpectConsoleMode(child.Attributes(), user);
  child.Send();
  ASSERT_EQ(child.Receive(), 's');
  test::ExpectSameAttributes(child.Attributes(), user);
  child.Send();
  ASSERT_EQ(child.Receive(), 't');
  test::ExpectSameAttributes(child.Attributes(), user);
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleShutdown, DiscardsInputNeverRead) {
  PtyChild child([] {
    test::ChildStartRuntime();
    ConsoleOpen();
    test::ChildSend('o');
    test::ChildReceive();
    const char16_t escape = test::ChildReadKeyUnit();
    test::ChildSend(&escape, sizeof escape);
    test::ChildReceive();
    ConsoleShutdown();
    test::ChildSend('s');
    test::ChildReceive();
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'o');
  child.Type("\x1b");
  ASSERT_TRUE(child.WaitQueuedInput(1));
  child.Send();
  char16_t escape = 0;
  ASSERT_TRUE(child.Receive(&escape, sizeof escape));
  EXPECT_EQ(escape, 0x1B) << "ESC ends the game";
  // An arrow key arrives after the last read: without the flush its bytes reach the shell.
  child.Type("\x1b[A");
  ASSERT_TRUE(child.WaitQueuedInput(3));
  child.Send();
  ASSERT_EQ(child.Receive(), 's');
  EXPECT_EQ(child.QueuedInput(), 0) << "unread input left for the user's shell";
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleShutdown, TerminalNeverOpenedIsLeftUntouched) {
  // A program that ends before it opens the console (one that refuses a dumb terminal) leaves
  // the terminal as it found it, keys typed ahead included.
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      [] {
        test::ChildStartRuntime();
        test::ChildSend('s');
        test::ChildReceive();
        ConsoleShutdown();
        test::ChildSend('e');
        test::ChildReceive();
        return 0;
      },
      PtyChildOptions{.initial_attributes = &user});
  ASSERT_EQ(child.Receive(), 's');
  child.Type("ahead\n");  // a whole line: the user's mode edits lines
  ASSERT_TRUE(child.WaitQueuedInput(6));
  child.Send();
  ASSERT_EQ(child.Receive(), 'e');
  EXPECT_EQ(child.QueuedInput(), 6) << "typed-ahead keys were discarded";
  test::ExpectSameAttributes(child.Attributes(), user);
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleStartup, SecondStartKeepsTheUserAttributes) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      [] {
        test::ChildStartRuntime();
        ConsoleOpen();
        ConsoleStartup();  // would save the console mode as the user's
        ConsoleShutdown();
        test::ChildSend('s');
        test::ChildReceive();
        return 0;
      },
      PtyChildOptions{.initial_attributes = &user});
  ASSERT_EQ(child.Receive(), 's');
  test::ExpectSameAttributes(child.Attributes(), user);
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleStartup, InputFromFileChangesNoTerminalAndInstallsNoHandler) {
  const termios user = test::UnusualUserAttributes();
  std::FILE* empty = std::tmpfile();
  ASSERT_NE(empty, nullptr);
  PtyChild child(
      [] {
        test::ChildStartRuntime();
        test::ChildSend(static_cast<char>(ConsoleOpen()));
        struct sigaction interrupt {};
        sigaction(SIGINT, nullptr, &interrupt);
        test::ChildSend(interrupt.sa_handler == SIG_DFL ? 'd' : 'h');
        ConsoleShutdown();
        test::ChildSend('s');
        test::ChildReceive();
        return 0;
      },
      PtyChildOptions{.standard_input = fileno(empty), .initial_attributes = &user});
  std::fclose(empty);
  ASSERT_EQ(child.Receive(), 1);
  EXPECT_EQ(child.Receive(), 'd') << "an interrupt ends such a program as before";
  ASSERT_EQ(child.Receive(), 's');
  test::ExpectSameAttributes(child.Attributes(), user);
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

}  // namespace
}  // namespace zn
