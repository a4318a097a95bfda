// Tests of the screens: the exact bytes each procedure writes, checked against the layout written
// out independently in game_test_support.cpp.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <climits>
#include <cstdint>
#include <string>

#include "game/game.h"
#include "game/game_test_support.h"
#include "runtime/console/console.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/strings/strings.h"
#include "runtime/strings/strings_testing.h"

namespace zn::game {
namespace {

using testsupport::At;
using testsupport::StdoutCapture;

constexpr char16_t kBox[] = u"┏|━|┓|┃|┗|┛|╋";

// Every screen test starts from a fresh buffer, the game's data, cursor control on, and a
// standard input that is no terminal; it ends with the buffer balanced and the data released.
class ScreenSession {
 public:
  ScreenSession() {
    TempTextReset();
    GameDataInit();
    ConsoleSetCursorControl(1);
  }
  ~ScreenSession() {
    EXPECT_EQ(TempTextStackDepth(), 0) << "a push without its pop";
    EXPECT_EQ(TempTextPosition(), 0) << "temporary text left behind";
    GameDataRelease();
  }
  ScreenSession(const ScreenSession&) = delete;
  ScreenSession& operator=(const ScreenSession&) = delete;

 private:
  testsupport::StdinFromNull stdin_guard_;
};

TEST(DrawFrame, CornersOnlyWhenRightFollowsLeft) {
  const ScreenSession session;
  const std::string out = StdoutCapture([] { DrawFrame(kBox, 1, 1, 2, 3); });
  EXPECT_EQ(out, At(1, 1, "┏┓") + At(1, 2, "┃") + At(2, 2, "┃") + At(1, 3, "┗┛"));
}

TEST(DrawFrame, NoVerticalEdgesWhenBottomFollowsTop) {
  const ScreenSession session;
  const std::string out = StdoutCapture([] { DrawFrame(kBox, 3, 5, 6, 6); });
  EXPECT_EQ(out, At(3, 5, "┏━━┓") + At(3, 6, "┗━━┛"));
}

TEST(DrawFrame, EdgeCountFollowsTheWidth) {
  const ScreenSession session;
  // right - left - 1 edges, none when that is below 1; the loop bound is signed.
  for (int right = -3; right <= 9; ++right) {
    const int left = 2;
    const int edges = right - left - 1 > 0 ? right - left - 1 : 0;
    std::string line_top = "a";
    std::string line_bottom = "e";
    for (int i = 0; i < edges; ++i) {
      line_top += "b";
      line_bottom += "b";
    }
    const std::string out = StdoutCapture([&] {
      DrawFrame(u"a|b|c|d|e|f|g", static_cast<int8_t>(left), 4, static_cast<int8_t>(right), 4);
    });
    // With top = bottom the bottom line overwrites the top line's row, and no side is drawn.
    EXPECT_EQ(out, At(left, 4, line_top + "c") + At(left, 4, line_bottom + "f"))
        << "right = " << right;
  }
}

TEST(DrawFrame, SidesOnEveryRowBetweenTopAndBottom) {
  const ScreenSession session;
  const std::string out = StdoutCapture([] { DrawFrame(u"a|b|c|d|e|f|g", 10, 3, 13, 7); });
  std::string expected = At(10, 3, "abbc");
  for (int row = 4; row <= 6; ++row) {
    expected += At(10, row, "d") + At(13, row, "d");
  }
  expected += At(10, 7, "ebbf");
  EXPECT_EQ(out, expected);
}

TEST(DrawFrame, BottomAboveTopDrawsTheEdgeLinesOnly) {
  const ScreenSession session;
  const std::string out = StdoutCapture([] { DrawFrame(u"a|b|c|d|e|f|g", 1, 9, 3, 2); });
  EXPECT_EQ(out, At(1, 9, "abc") + At(1, 2, "ebf"));
}

TEST(DrawFrame, ExtremeCoordinatesDoNotWrap) {
  const ScreenSession session;
  // Rows up to 127 and down to -128: the side loop must end, the rows must stay in range.
  const std::string out = StdoutCapture([] { DrawFrame(u"a|b|c|d|e|f|g", 126, 125, 127, 127); });
  EXPECT_EQ(out, At(126, 125, "ac") + At(126, 126, "d") + At(127, 126, "d") + At(126, 127, "ef"));
  const std::string low =
      StdoutCapture([] { DrawFrame(u"a|b|c|d|e|f|g", -128, -128, -127, -127); });
  EXPECT_EQ(low, At(-128, -128, "ac") + At(-128, -127, "ef"));
}

TEST(DrawFrame, MissingFieldsDrawNothingInTheirPlace) {
  const ScreenSession session;
  // A text with fewer than six fields gives empty pieces, never bytes from elsewhere.
  const std::string out = StdoutCapture([] { DrawFrame(u"x", 1, 1, 4, 3); });
  EXPECT_EQ(out, At(1, 1, "x") + At(1, 2, "") + At(4, 2, "") + At(1, 3, ""));
  const std::string none = StdoutCapture([] { DrawFrame(nullptr, 1, 1, 3, 2); });
  EXPECT_EQ(none, At(1, 1, "") + At(1, 2, ""));
}

TEST(DrawTitleBar, DrawsTheEightyColumnBar) {
  const ScreenSession session;
  const std::string out = StdoutCapture([] { DrawTitleBar(u"Rock, Paper, Scissors", 0); });
  EXPECT_EQ(out, testsupport::ExpectedTitleBar());
}

TEST(DrawTitleBar, ClearsFirstOnlyForFlagOne) {
  const ScreenSession session;
  EXPECT_EQ(StdoutCapture([] { DrawTitleBar(u"Rock, Paper, Scissors", 1); }),
            "\x1b[2J" + testsupport::ExpectedTitleBar());
  EXPECT_EQ(StdoutCapture([] { DrawTitleBar(u"Rock, Paper, Scissors", 2); }),
            testsupport::ExpectedTitleBar());
}

TEST(ShowTitleScreen, EmptyTitleClearsAndDrawsNoFrame) {
  const ScreenSession session;
  ConsoleSetCursorControl(0);
  EXPECT_EQ(StdoutCapture([] { ShowTitleScreen(u""); }), "\x1b[2J");
  EXPECT_EQ(StdoutCapture([] { ShowTitleScreen(nullptr); }), "\x1b[2J")
      << "null is the empty string";
}

TEST(ShowTitleScreen, TitleGetsTheFramedBar) {
  const ScreenSession session;
  ConsoleSetCursorControl(0);
  EXPECT_EQ(StdoutCapture([] { ShowTitleScreen(u"Rock, Paper, Scissors"); }),
            "\x1b[2J" + testsupport::ExpectedTitleBar());
}

TEST(PrintAt, PlacesTheCursorRowFirstThenWrites) {
  const ScreenSession session;
  EXPECT_EQ(StdoutCapture([] { PrintAt(u"Choose", 10, 20); }), "\x1b[20;10fChoose");
  EXPECT_EQ(StdoutCapture([] { PrintAt(u"é┃", 1, 2); }), "\x1b[2;1f\xc3\xa9\xe2\x94\x83");
  EXPECT_EQ(StdoutCapture([] { PrintAt(nullptr, 3, 4); }), "\x1b[4;3f");
}

TEST(PrintAt, TakesItsOwnCopyOfBufferText) {
  const ScreenSession session;
  // Text that lives in the buffer stays valid however PrintAt uses the buffer.
  TempTextScope scope;
  TempTextAppend(u"held");
  const std::string out = StdoutCapture([&] { PrintAt(TempTextAddress(scope.Start()), 7, 8); });
  EXPECT_EQ(out, At(7, 8, "held"));
}

TEST(PrintOnTitleBarRight, TextEndsInColumn78) {
  const ScreenSession session;
  EXPECT_EQ(StdoutCapture([] { PrintOnTitleBarRight(u"Press ESC to Quit."); }),
            At(61, 2, "Press ESC to Quit."));
  EXPECT_EQ(StdoutCapture([] { PrintOnTitleBarRight(u"x"); }), At(78, 2, "x"));
  EXPECT_EQ(StdoutCapture([] { PrintOnTitleBarRight(u""); }), At(79, 2, ""));
}

TEST(ClearArea, BlanksThePlayArea) {
  const ScreenSession session;
  std::string expected;
  for (int row = 4; row <= 25; ++row) {
    expected += At(0, row, std::string(80, ' '));
  }
  EXPECT_EQ(StdoutCapture([] { ClearArea(0, 4, 80, 21); }), expected);
}

TEST(ClearArea, EdgeCounts) {
  const ScreenSession session;
  EXPECT_EQ(StdoutCapture([] { ClearArea(3, 7, 2, 0); }), At(3, 7, "  ")) << "one row";
  EXPECT_EQ(StdoutCapture([] { ClearArea(3, 7, 0, 1); }), At(3, 7, "") + At(3, 8, ""))
      << "width 0 places the cursor only";
  EXPECT_EQ(StdoutCapture([] { ClearArea(3, 7, -5, 0); }), At(3, 7, ""))
      << "a negative width writes no spaces";
  EXPECT_EQ(StdoutCapture([] { ClearArea(3, 7, 4, -1); }), "") << "negative extra rows";
}

TEST(HandName, NamesTheThreeHands) {
  const ScreenSession session;
  for (int64_t choice = 1; choice <= 3; ++choice) {
    TempTextScope scope;
    const char16_t* name = HandName(choice, scope.Start());
    EXPECT_EQ(name, TempTextAddress(scope.Start())) << "the result stands at the offset";
    StringValue copy = nullptr;
    StringAssign(&copy, name);
    char* bytes = StringToUtf8(copy);
    EXPECT_STREQ(bytes, testsupport::kHandNames[choice]) << "choice " << choice;
    EXPECT_EQ(TempTextPosition(), scope.Start() + 2 * StringLength(copy))
        << "the position rests on the terminator";
    NarrowTextFree(bytes);
    StringRelease(copy);
  }
}

TEST(HandName, EmptyOutsideOneToThree) {
  const ScreenSession session;
  for (const int64_t choice : {int64_t{0}, int64_t{4}, int64_t{-1}, int64_t{257},
                               int64_t{INT64_MIN}, int64_t{INT64_MAX}}) {
    TempTextPush();
    TempTextPush();
    TempTextPush();
    const int32_t offset = TempTextPop();
    // Text built past the offset since: the name is written at the offset all the same, and
    // nothing of that text shows through.
    TempTextAppend(u"stale");
    const char16_t* name = HandName(choice, offset);
    EXPECT_EQ(name, TempTextAddress(offset)) << "choice " << choice;
    EXPECT_EQ(StringLength(name), 0) << "choice " << choice;
    EXPECT_EQ(TempTextPosition(), offset) << "choice " << choice;
    EXPECT_EQ(StringLength(TempTextPopPiece()), 0) << "choice " << choice;
    TempTextPopRewind();
  }
}

TEST(DrawRound, PaperAgainstRock) {
  const ScreenSession session;
  const std::string out = StdoutCapture([] { DrawRound(2, 1); });
  EXPECT_EQ(out, testsupport::ExpectedRound(2, 1));
  EXPECT_NE(out.find(At(5, 6, "Paper") + At(45, 6, "Rock")), std::string::npos);
  EXPECT_NE(out.find(At(5, 9, "---'    ____)___") + At(45, 9, "---'   ____)")), std::string::npos);
}

TEST(DrawRound, EveryPairDrawsBothHands) {
  const ScreenSession session;
  for (int64_t player = 1; player <= 3; ++player) {
    for (int64_t computer = 1; computer <= 3; ++computer) {
      EXPECT_EQ(StdoutCapture([&] { DrawRound(player, computer); }),
                testsupport::ExpectedRound(player, computer))
          << "player " << player << ", computer " << computer;
    }
  }
}

TEST(DrawRound, ChoiceOutsideTheHandsDrawsEmptyPieces) {
  const ScreenSession session;
  // Never called so by the game; the art is not read from outside the array.
  for (const int64_t odd : {int64_t{0}, int64_t{4}, int64_t{-7}}) {
    EXPECT_EQ(StdoutCapture([&] { DrawRound(odd, 1); }), testsupport::ExpectedRound(0, 1))
        << "choice " << odd;
  }
}

TEST(GameDataInit, HandsAreAFourElementStringArray) {
  TempTextReset();
  GameDataInit();
  ASSERT_NE(HandArt(), nullptr);
  const ArrayHeader* header = ArrayHeaderOf(HandArt());
  EXPECT_EQ(header->count, 4);
  EXPECT_EQ(header->element_size, 8);
  EXPECT_EQ(header->type, 8);
  EXPECT_EQ(header->variable, static_cast<void*>(&HandArt()));
  EXPECT_EQ(HandArt()[0], nullptr) << "index 0 stays empty";
  for (int64_t hand = 1; hand <= 3; ++hand) {
    std::string joined;
    for (int line = 0; line < 6; ++line) {
      joined += std::string(line == 0 ? "" : "\n") + testsupport::kHandLines[hand][line];
    }
    char* bytes = StringToUtf8(HandArt()[hand]);
    EXPECT_EQ(std::string(bytes), joined) << "hand " << hand;
    NarrowTextFree(bytes);
  }
  char* box = StringToUtf8(BoxChars());
  EXPECT_STREQ(box, "┏|━|┓|┃|┗|┛|╋");
  NarrowTextFree(box);
  // Setting up again replaces the old array; releasing leaves nothing behind (the leak check
  // at exit sees anything lost).
  GameDataInit();
  GameDataRelease();
  EXPECT_EQ(HandArt(), nullptr);
  EXPECT_EQ(BoxChars(), nullptr);
}

TEST(ShowClosingScreen, ClosingTextAloneThenExitZero) {
  const testsupport::ChildOutcome child = testsupport::ChildRun("", [] {
    TempTextReset();
    ConsoleSetCursorControl(1);
    ShowClosingScreen(u"Thanks for playing!");
  });
  ASSERT_TRUE(child.ended) << "the closing screen did not end the program";
  ASSERT_TRUE(WIFEXITED(child.status)) << "wait status " << child.status;
  EXPECT_EQ(WEXITSTATUS(child.status), 0) << "a leak report gives a non-zero status too";
  EXPECT_EQ(child.output, testsupport::ExpectedClosing());
}

}  // namespace
}  // namespace zn::game
