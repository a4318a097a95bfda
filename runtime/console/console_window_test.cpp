// Tests of what the console tells a program about its window: the size, whether the terminal can
// place the cursor, and the request to draw the screen again after a stop or a change of size.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "runtime/console/console.h"
#include "runtime/console/console_test_support.h"
#include "tests/support/pty_child.h"

namespace zn {
namespace {

using test::PtyChild;
using test::PtyChildOptions;

struct SizeRead {
  int32_t result;
  int32_t columns;
  int32_t rows;
};

// In the child: gives standard output's terminal the size (unless 0 x 0 stays) and reads it back
// through the console, the two values starting at -1 so that an unwritten one shows.
SizeRead ChildSizeAfterSetting(uint16_t columns, uint16_t rows) {
  winsize size{};
  size.ws_col = columns;
  size.ws_row = rows;
  ioctl(STDOUT_FILENO, TIOCSWINSZ, &size);
  SizeRead read{0, -1, -1};
  read.result = ConsoleWindowSize(&read.columns, &read.rows);
  return read;
}

TEST(ConsoleWindowSize, ReadsTheTerminalsSize) {
  struct Case {
    uint16_t columns;
    uint16_t rows;
    SizeRead expected;
  };
  const Case cases[] = {
      {80, 25, {1, 80, 25}},
      {300, 100, {1, 300, 100}},
      {1, 1, {1, 1, 1}},
      // A terminal nobody gave a size reports 0 x 0: unknown, nothing written.
      {0, 0, {0, -1, -1}},
  };
  for (const Case& c : cases) {
    const std::string name = std::to_string(c.columns) + "x" + std::to_string(c.rows);
    PtyChild child([c] {
      const SizeRead read = ChildSizeAfterSetting(c.columns, c.rows);
      test::ChildSend(&read, sizeof read);
      return 0;
    });
    SizeRead read{};
    ASSERT_TRUE(child.Receive(&read, sizeof read)) << name;
    EXPECT_EQ(read.result, c.expected.result) << name;
    EXPECT_EQ(read.columns, c.expected.columns) << name;
    EXPECT_EQ(read.rows, c.expected.rows) << name;
    EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0") << name;
  }
}

TEST(ConsoleWindowSize, OutputThatIsNoTerminalHasNoSize) {
  int pipe_ends[2] = {-1, -1};
  ASSERT_EQ(pipe(pipe_ends), 0);
  PtyChild child(
      [] {
        SizeRead read{0, -1, -1};
        read.result = ConsoleWindowSize(&read.columns, &read.rows);
        test::ChildSend(&read, sizeof read);
        return 0;
      },
      PtyChildOptions{.standard_output = pipe_ends[1]});
  close(pipe_ends[1]);
  SizeRead read{};
  ASSERT_TRUE(child.Receive(&read, sizeof read));
  EXPECT_EQ(read.result, 0);
  EXPECT_EQ(read.columns, -1);
  EXPECT_EQ(read.rows, -1);
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
  close(pipe_ends[0]);
}

TEST(ConsoleCanPlaceCursor, OnlyADumbTerminalCannot) {
  const char* saved = std::getenv("TERM");
  const std::optional<std::string> before = saved != nullptr ? std::optional(saved) : std::nullopt;
  struct Case {
    const char* term;  // null: not set
    int32_t expected;
  };
  const Case cases[] = {{"dumb", 0}, {"xterm-256color", 1}, {"vt100", 1}, {"dumber", 1},
                        {"", 1},     {nullptr, 1}};
  for (const Case& c : cases) {
    if (c.term != nullptr) {
      setenv("TERM", c.term, 1);
    } else {
      unsetenv("TERM");
    }
    EXPECT_EQ(ConsoleCanPlaceCursor(), c.expected) << (c.term != nullptr ? c.term : "(unset)");
  }
  if (before) {
    setenv("TERM", before->c_str(), 1);
  } else {
    unsetenv("TERM");
  }
}

// In the child: the redraw requests seen after each event, one byte per step.
int RedrawAfterEvents() {
  test::ChildStartRuntime();
  ConsoleOpen();
  std::string seen;
  seen += static_cast<char>('0' + ConsoleRedrawTake());  // nothing happened yet
  raise(SIGWINCH);
  seen += static_cast<char>('0' + ConsoleRedrawTake());
  seen += static_cast<char>('0' + ConsoleRedrawTake());  // taken once only
  raise(SIGWINCH);
  raise(SIGWINCH);
  seen += static_cast<char>('0' + ConsoleRedrawTake());  // two changes, one redraw
  seen += static_cast<char>('0' + ConsoleRedrawTake());
  raise(SIGCONT);
  seen += static_cast<char>('0' + ConsoleRedrawTake());
  ConsoleShutdown();
  raise(SIGWINCH);  // back to the default action, which ignores it
  seen += static_cast<char>('0' + ConsoleRedrawTake());
  test::ChildSend(seen.data(), seen.size());
  return 0;
}

TEST(ConsoleRedrawTake, ContinueAndSizeChangeAskOnceEach) {
  PtyChild child(RedrawAfterEvents);
  std::string seen(7, '?');
  ASSERT_TRUE(child.Receive(seen.data(), seen.size()));
  EXPECT_EQ(seen, "0101010");
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleRedrawTake, ResizingTheWindowAsksForARedraw) {
  // The kernel signals the terminal's foreground process group when the size changes, whoever
  // sets it; here the child, which leads the terminal's session, sets it itself.
  PtyChild child(
      [] {
        test::ChildStartRuntime();
        ConsoleOpen();
        const int32_t before = ConsoleRedrawTake();
        ChildSizeAfterSetting(60, 20);
        int32_t taken = 0;
        for (int turn = 0; turn < 200 && taken == 0; ++turn) {
          taken = ConsoleRedrawTake();
          SleepMilliseconds(10);
        }
        const SizeRead read = ChildSizeAfterSetting(60, 20);  // the same size: no signal
        SleepMilliseconds(50);
        const int32_t results[] = {before, taken, read.columns, read.rows, ConsoleRedrawTake()};
        test::ChildSend(results, sizeof results);
        return 0;
      },
      PtyChildOptions{.controlling_terminal = true});
  int32_t results[5] = {-1, -1, -1, -1, -1};
  ASSERT_TRUE(child.Receive(results, sizeof results));
  EXPECT_EQ(results[0], 0) << "a redraw asked before anything happened";
  EXPECT_EQ(results[1], 1) << "no redraw asked within 2 s of the change";
  EXPECT_EQ(results[2], 60);
  EXPECT_EQ(results[3], 20);
  EXPECT_EQ(results[4], 0) << "setting the same size again changes nothing";
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

}  // namespace
}  // namespace zn
