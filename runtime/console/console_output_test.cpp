// Tests of console output: the exact bytes of clearing and cursor placement, the cursor-control
// switch, writing text in UTF-8 and single-byte mode, and flushing. The child writes to a
// pseudo-terminal; the test reads the master side up to a marker the child writes last.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "runtime/console/console.h"
#include "runtime/console/console_test_support.h"
#include "tests/support/pty_child.h"

namespace zn {
namespace {

using test::PtyChild;

// The marker every child writes last; the test reads up to it.
constexpr char16_t kEndMarker[] = u"<end>";
constexpr char kEndMarkerBytes[] = "<end>";

std::string OutputOf(int (*body)()) {
  PtyChild child(body);
  std::string output = child.ReadOutputUntil(kEndMarkerBytes);
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
  return output;
}

int Finish() {
  ConsoleWrite(kEndMarker);
  return 0;
}

TEST(ConsoleClear, WritesEraseSequenceOnly) {
  EXPECT_EQ(OutputOf([] {
              test::ChildStartRuntime();
              ConsoleOpen();
              ConsoleSetCursorControl(1);
              ConsoleClear();
              return Finish();
            }),
            std::string("\x1b[2J") + kEndMarkerBytes);
}

TEST(ConsoleMoveCursor, WritesRowFirstWithCoordinatesUnchanged) {
  EXPECT_EQ(
      OutputOf([] {
        test::ChildStartRuntime();
        ConsoleOpen();
        ConsoleSetCursorControl(1);
        ConsoleMoveCursor(10, 20);
        ConsoleWrite(u"|");
        ConsoleMoveCursor(1, 1);
        ConsoleWrite(u"|");
        ConsoleMoveCursor(0, 0);
        ConsoleWrite(u"|");
        ConsoleMoveCursor(80, 123);
        ConsoleWrite(u"|");
        ConsoleMoveCursor(-1, -2);
        return Finish();
      }),
      std::string("\x1b[20;10f|\x1b[1;1f|\x1b[0;0f|\x1b[123;80f|\x1b[-2;-1f") + kEndMarkerBytes);
}

TEST(ConsoleSetCursorControl, ZeroSilencesClearAndCursorPlacement) {
  EXPECT_EQ(OutputOf([] {
              test::ChildStartRuntime();
              ConsoleOpen();
              // Off at load.
              ConsoleClear();
              ConsoleMoveCursor(3, 4);
              ConsoleSetCursorControl(7);  // any value but 0 turns it on
              ConsoleMoveCursor(1, 2);
              ConsoleSetCursorControl(0);
              ConsoleClear();
              ConsoleMoveCursor(5, 6);
              ConsoleWrite(u"text still written");
              return Finish();
            }),
            std::string("\x1b[2;1ftext still written") + kEndMarkerBytes);
}

TEST(ConsoleWrite, WritesUtf8WithoutLineEnd) {
  EXPECT_EQ(OutputOf([] {
              test::ChildStartRuntime();
              ConsoleOpen();
              ConsoleWrite(u"h\u00e9\u20ac\U0001F600");
              ConsoleWrite(u"");
              return Finish();
            }),
            std::string("h\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80") + kEndMarkerBytes);
}

TEST(ConsoleWrite, WorksBeforeTheConsoleOpens) {
  EXPECT_EQ(OutputOf([] {
              test::ChildStartRuntime();
              ConsoleWrite(u"\u00e9");
              return Finish();
            }),
            std::string("\xc3\xa9") + kEndMarkerBytes);
}

TEST(ConsoleWrite, SingleByteModeDropsUnitsAbove255) {
  EXPECT_EQ(OutputOf([] {
              test::ChildStartRuntime();
              ConsoleOpen(OutputModeSingleByte);
              ConsoleWrite(u"a\u00e9\u20acb\u00ff\U0001F600c");
              ConsoleWrite(u"\u20ac");  // nothing left to write
              return Finish();
            }),
            std::string("a\xe9") + "b\xff" + "c" + kEndMarkerBytes);
}

TEST(ConsoleWrite, EveryOtherModeWritesUtf8) {
  EXPECT_EQ(OutputOf([] {
              test::ChildStartRuntime();
              for (int32_t mode : {OutputModeUtf8, 0, 1, 23, 25, -24}) {
                ConsoleOpen(mode);
                ConsoleWrite(u"\u00e9");
              }
              ConsoleOpen(OutputModeSingleByte);
              ConsoleWrite(u"\u00e9");
              ConsoleOpen();
              ConsoleWrite(u"\u00e9");
              return Finish();
            }),
            std::string("\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xe9\xc3\xa9") +
                kEndMarkerBytes);
}

TEST(ConsoleWrite, NullWritesNothingButFlushes) {
  PtyChild child([] {
    test::ChildStartRuntime();
    ConsoleOpen();
    // Buffered: standard output to a terminal is flushed at line ends only.
    std::fputs("pending", stdout);
    ConsoleWrite(nullptr);
    test::ChildSend('w');
    test::ChildReceive();
    return Finish();
  });
  ASSERT_EQ(child.Receive(), 'w');
  EXPECT_EQ(child.ReadOutputUntil("pending"), "pending")
      << "the bytes waiting in standard output reach the terminal";
  child.Send();
  EXPECT_EQ(child.ReadOutputUntil(kEndMarkerBytes), kEndMarkerBytes) << "null adds no byte";
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleClear, FlushesAtOnce) {
  PtyChild child([] {
    test::ChildStartRuntime();
    ConsoleOpen();
    ConsoleSetCursorControl(1);
    ConsoleClear();
    ConsoleMoveCursor(2, 3);
    test::ChildSend('w');
    test::ChildReceive();
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'w');
  EXPECT_EQ(child.ReadOutputUntil("\x1b[3;2f"), "\x1b[2J\x1b[3;2f");
  child.Send();
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

}  // namespace
}  // namespace zn
