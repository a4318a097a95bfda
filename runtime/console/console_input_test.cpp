// Tests of key input: UTF-8 keys typed at a pseudo-terminal, one unit per key, the empty key when
// nothing waits, and the end of an input that can give no more keys (pipe, file, folder, closed).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/console/console.h"
#include "runtime/console/console_test_support.h"
#include "tests/support/pty_child.h"

namespace zn {
namespace {

using test::KeyRead;
using test::PtyChild;
using test::PtyChildOptions;

// A child that opens the console, then reads `keys` keys each time the test says so and sends
// what each read gave.
int KeyReader() {
  test::ChildStartRuntime();
  ConsoleOpen();
  test::ChildSend('o');
  for (;;) {
    const char count = test::ChildReceive();
    if (count == '\0' || count == 'q') {
      return 0;
    }
    for (char i = 0; i < count; ++i) {
      const KeyRead read = test::ChildReadKey();
      test::ChildSend(&read, sizeof read);
    }
  }
}

// Types `bytes`, waits until the terminal holds them, and reads `count` keys.
std::vector<KeyRead> TypeAndRead(PtyChild& child, const std::string& bytes, int count) {
  child.Type(bytes);
  EXPECT_TRUE(child.WaitQueuedInput(static_cast<int>(bytes.size())));
  child.Send(static_cast<char>(count));
  std::vector<KeyRead> keys(static_cast<size_t>(count));
  for (KeyRead& key : keys) {
    EXPECT_TRUE(child.Receive(&key, sizeof key));
    EXPECT_EQ(key.piece_bytes, 2) << "the piece is exactly one unit";
    EXPECT_EQ(key.stack_change, 0) << "balanced pushes and pops";
  }
  return keys;
}

struct KeyCase {
  const char* name;
  std::string typed;
  std::vector<char16_t> units;  // one per call; 0 is the empty key
};

TEST(ConsoleReadKey, DecodesTypedKeysOneUnitPerCall) {
  const std::vector<KeyCase> cases = {
      {"digit", "1", {u'1'}},
      {"escape", "\x1b", {0x1B}},
      {"e acute (two bytes)", "\xc3\xa9", {0x00E9}},
      {"euro sign (three bytes)", "\xe2\x82\xac", {0x20AC}},
      {"U+1F600 gives its high surrogate", "\xf0\x9f\x98\x80", {0xD83D}},
      {"arrow key: three keys on three calls", "\x1b[A", {0x1B, u'[', u'A'}},
      {"stray continuation byte", "\x80", {0}},
      {"stray continuation byte 0xBF, then a key", "\xbfx", {0, u'x'}},
      {"lead byte 11111xxx", "\xf8", {0}},
      {"byte 0xFF", "\xff", {0}},
      {"a byte that cannot continue a character", "\xc3\x31\xc3\x1b", {3, u'1', 3, 0x1B}},
      {"a surrogate pair leaves nothing behind", "\xf0\x9f\x98\x80z", {0xD83D, u'z'}},
      {"keys after a multi-byte key",
       "\xc3\xa9"
       "ab",
       {0x00E9, u'a', u'b'}},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    PtyChild child(KeyReader);
    ASSERT_EQ(child.Receive(), 'o');
    const std::vector<KeyRead> keys = TypeAndRead(child, c.typed, static_cast<int>(c.units.size()));
    for (size_t i = 0; i < c.units.size(); ++i) {
      EXPECT_EQ(static_cast<int>(keys[i].unit), static_cast<int>(c.units[i])) << "key " << i;
      EXPECT_EQ(keys[i].length, c.units[i] == 0 ? 0 : 1) << "key " << i;
    }
    EXPECT_EQ(child.QueuedInput(), 0) << "every typed byte was read";
    child.Send('q');
    EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
  }
}

TEST(ConsoleReadKey, NoKeyGivesEmptyKeyAndALaterKeyIsStillRead) {
  PtyChild child(KeyReader);
  ASSERT_EQ(child.Receive(), 'o');
  const std::vector<KeyRead> none = TypeAndRead(child, "", 3);
  for (const KeyRead& key : none) {
    EXPECT_EQ(key.unit, 0);
    EXPECT_EQ(key.length, 0) << "the variable holds the empty string";
  }
  const std::vector<KeyRead> later = TypeAndRead(child, "k", 2);
  EXPECT_EQ(later[0].unit, u'k') << "the end of input seen before does not stick";
  EXPECT_EQ(later[1].unit, 0);
  child.Send('q');
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

TEST(ConsoleReadKey, CutShortCharacterTakesWhatDecodes) {
  // The follow-up byte is missing: it stands as 0xFF, which ends the sequence with the lead
  // byte's own bits (0xC3 & 0x1F), as the decoder does for any non-continuation byte.
  PtyChild child(KeyReader);
  ASSERT_EQ(child.Receive(), 'o');
  const std::vector<KeyRead> cut = TypeAndRead(child, "\xc3", 1);
  EXPECT_EQ(cut[0].unit, 0x0003);
  const std::vector<KeyRead> next = TypeAndRead(child, "n", 1);
  EXPECT_EQ(next[0].unit, u'n');
  child.Send('q');
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

// A child whose standard input is `input`: reads `reads` keys and sends, for each, the unit and
// ConsoleInputEnded after it.
struct EndedRead {
  char16_t unit;
  int32_t ended;
};

std::vector<EndedRead> ReadToEnd(int input, int reads, const char* ended_before_name) {
  PtyChild child(
      [reads] {
        test::ChildStartRuntime();
        ConsoleOpen();
        const int32_t before = ConsoleInputEnded();
        test::ChildSend(&before, sizeof before);
        for (int i = 0; i < reads; ++i) {
          const EndedRead read{test::ChildReadKeyUnit(), ConsoleInputEnded()};
          test::ChildSend(&read, sizeof read);
        }
        return 0;
      },
      PtyChildOptions{.standard_input = input});
  int32_t before = -1;
  EXPECT_TRUE(child.Receive(&before, sizeof before));
  EXPECT_EQ(before, 0) << ended_before_name;
  std::vector<EndedRead> results(static_cast<size_t>(reads));
  for (EndedRead& read : results) {
    EXPECT_TRUE(child.Receive(&read, sizeof read));
  }
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
  return results;
}

TEST(ConsoleInputEnded, PipeEndsAfterItsLastKey) {
  int pipe_ends[2] = {-1, -1};
  ASSERT_EQ(pipe(pipe_ends), 0);
  const std::string typed =
      "a\xc3\xa9"
      "3";
  ASSERT_EQ(write(pipe_ends[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  close(pipe_ends[1]);
  const std::vector<EndedRead> reads = ReadToEnd(pipe_ends[0], 5, "before any read");
  close(pipe_ends[0]);
  const char16_t units[] = {u'a', 0x00E9, u'3', 0, 0};
  const int32_t ended[] = {0, 0, 0, 1, 1};
  for (size_t i = 0; i < reads.size(); ++i) {
    EXPECT_EQ(reads[i].unit, units[i]) << "read " << i;
    EXPECT_EQ(reads[i].ended, ended[i]) << "read " << i;
  }
}

TEST(ConsoleInputEnded, PipeCutInsideACharacterHasEnded) {
  int pipe_ends[2] = {-1, -1};
  ASSERT_EQ(pipe(pipe_ends), 0);
  ASSERT_EQ(write(pipe_ends[1], "\xe2\x82", 2), 2);
  close(pipe_ends[1]);
  const std::vector<EndedRead> reads = ReadToEnd(pipe_ends[0], 2, "before any read");
  close(pipe_ends[0]);
  EXPECT_EQ(reads[0].ended, 1) << "the end was met inside the character";
  EXPECT_EQ(reads[1].unit, 0);
  EXPECT_EQ(reads[1].ended, 1);
}

TEST(ConsoleInputEnded, EmptyFileHasEndedAtFirstRead) {
  std::FILE* empty = std::tmpfile();
  ASSERT_NE(empty, nullptr);
  const std::vector<EndedRead> reads = ReadToEnd(fileno(empty), 2, "before any read");
  std::fclose(empty);
  for (const EndedRead& read : reads) {
    EXPECT_EQ(read.unit, 0);
    EXPECT_EQ(read.ended, 1);
  }
}

TEST(ConsoleInputEnded, TerminalWithoutKeyNeverEnds) {
  // A terminal set to non-blocking answers "nothing yet" with EAGAIN instead of an empty read;
  // that is no end either.
  for (const bool non_blocking : {false, true}) {
    SCOPED_TRACE(non_blocking ? "non-blocking" : "blocking");
    PtyChild child([non_blocking] {
      test::ChildStartRuntime();
      ConsoleOpen();
      if (non_blocking) {
        fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
      }
      int32_t ended = 0;
      for (int i = 0; i < 5; ++i) {
        const char16_t unit = test::ChildReadKeyUnit();
        ended |= ConsoleInputEnded() | (unit != 0 ? 2 : 0);
      }
      test::ChildSend(&ended, sizeof ended);
      return 0;
    });
    int32_t ended = -1;
    ASSERT_TRUE(child.Receive(&ended, sizeof ended));
    EXPECT_EQ(ended, 0) << "bit 0: an end reported; bit 1: a key read that nobody typed";
    EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
  }
}

TEST(ConsoleInputEnded, InputThatCannotBeReadHasEnded) {
  // A folder fails every read with EISDIR; a closed descriptor with EBADF. Neither can ever give
  // a key, so either ends the input at the first read, as the end of a file does.
  const int folder = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  for (const EndedRead& read : ReadToEnd(folder, 2, "folder, before any read")) {
    EXPECT_EQ(read.unit, 0) << "folder";
    EXPECT_EQ(read.ended, 1) << "folder";
  }
  close(folder);

  PtyChild child([] {
    close(STDIN_FILENO);
    test::ChildStartRuntime();
    ConsoleOpen();
    const int32_t before = ConsoleInputEnded();
    const char16_t unit = test::ChildReadKeyUnit();
    const int32_t results[] = {before, unit, ConsoleInputEnded()};
    test::ChildSend(results, sizeof results);
    return 0;
  });
  int32_t results[3] = {-1, -1, -1};
  ASSERT_TRUE(child.Receive(results, sizeof results));
  EXPECT_EQ(results[0], 0) << "closed, before any read";
  EXPECT_EQ(results[1], 0) << "closed: the empty key";
  EXPECT_EQ(results[2], 1) << "closed: ended at the first read";
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

}  // namespace
}  // namespace zn
