// The game's flow: set-up, and one turn of the polling loop with its round.
//
// The loop polls about ten times a second: each turn re-prints the two instruction lines, reads
// at most one key without waiting, plays a round for "1", "2" or "3", and pauses 100 ms. A key
// pressed during the pause waits in the terminal for the next turn, so keys typed ahead are
// played one per turn in the order typed.
//
// What the screen shows is kept here (the last round's hands, its result, the score), so that
// after a stop and continue or a change of the window's size the whole screen can be drawn again
// exactly as it stood.
#include <cstdint>
#include <cstdio>

#include "game/game.h"
#include "runtime/console/console.h"
#include "runtime/core/core.h"
#include "runtime/strings/strings.h"

namespace zn::game {
namespace {

StringValue PressedKey = nullptr;
int64_t PlayerChoice = 0;
int64_t ComputerChoice = 0;
int64_t RoundResult = 0;
int64_t PlayerScore = 0;
int64_t ComputerScore = 0;
int64_t QuitRequested = 0;

constexpr char16_t kEscape[] = u"\x1b";
constexpr int8_t kMessageColumn = 10;
constexpr int8_t kResultRow = 18;
constexpr int8_t kScoreColumn = 25;
constexpr int32_t kTurnPauseMilliseconds = 100;

constexpr char16_t kTitle[] = u"Rock, Paper, Scissors";
constexpr char16_t kQuitNote[] = u"Press ESC to Quit.";
constexpr char kCannotPlaceCursor[] =
    "rps: this game needs a terminal that can place the cursor (TERM is \"dumb\")\n";

// The key into PressedKey: the console writes it at the scope's start, and the piece from there
// is taken into the variable, which gives the room back.
void KeyRead() {
  TempTextScope key;
  ConsoleReadKey(key.Start());
  TempTextTakeInto(&PressedKey, key.Start());
}

// Appends the decimal text of `value` to the text being built at the position.
void NumberAppend(int64_t value) {
  TempTextPush();
  TempTextPush();
  TempTextAppendInteger(value, TempTextPop());
  TempTextPop();
}

// "Current score: Player <n> vs. CPU <m>" from column 25 of row 18; the line grows with the
// numbers, and scores never shrink, so it always covers the one before.
void ScoreLinePrint() {
  TempTextScope line;
  TempTextAppend(u"Current score: Player ");
  NumberAppend(PlayerScore);
  TempTextAppend(u" vs. CPU ");
  NumberAppend(ComputerScore);
  PrintAt(TempTextAddress(line.Start()), kScoreColumn, kResultRow);
}

// The message of the last round at column 10 of row 18. All three texts are 14 characters long,
// so each covers the one before it.
void ResultPrint() {
  if (RoundResult == 0) {
    PrintAt(u"It's a tie!   ", kMessageColumn, kResultRow);
  } else if (RoundResult == 1) {
    PrintAt(u"You win!      ", kMessageColumn, kResultRow);
  } else if (RoundResult == -1) {
    PrintAt(u"Computer wins!", kMessageColumn, kResultRow);
  }
}

void RoundPlay() {
  PlayerChoice = TextToInteger(PressedKey);
  StringAssign(&PressedKey, u"");
  ComputerChoice = PickComputerChoice();
  DrawRound(PlayerChoice, ComputerChoice);
  RoundResult = DecideWinner(PlayerChoice, ComputerChoice);
  if (RoundResult == 1) {
    ++PlayerScore;
  } else if (RoundResult == -1) {
    ++ComputerScore;
  }
  ResultPrint();
  ScoreLinePrint();
}

void InstructionsPrint() {
  PrintAt(u"Choose: 1 = Rock, 2 = Paper, 3 = Scissors", kMessageColumn, 20);
  PrintAt(u"Rock defeats Scissors. Scissors defeats Paper. Paper defeats Rock.", kMessageColumn,
          22);
}

// A file or pipe that has reached its end, or an input that cannot be read, gives nothing but
// empty keys from now on; without this the loop would poll for ever. A terminal with no key
// waiting is not an end.
void QuitCheck() {
  if (StringEqual(PressedKey, kEscape) == 1 || ConsoleInputEnded() == 1) {
    QuitRequested = 1;
  }
}

}  // namespace

void GameSetUp() {
  GameDataInit();
  WindowSizeRead();
  if (WindowLargeEnough() == 1) {
    ShowTitleScreen(kTitle);
    PrintOnTitleBarRight(kQuitNote);
  } else {
    // The console mode and a cleared screen, without a frame that would wrap.
    ShowTitleScreen(u"");
    WindowRequestShow();
  }
  PlayerChoice = 0;
  StringAssign(&PressedKey, u"");
  QuitRequested = 0;
  PlayerScore = 0;
  ComputerScore = 0;
}

void ScreenRedraw() {
  WindowSizeRead();
  if (WindowLargeEnough() == 0) {
    WindowRequestShow();
    return;
  }
  // The same procedures that drew it the first time, so every cell comes out as it was.
  DrawTitleBar(kTitle, 1);
  PrintOnTitleBarRight(kQuitNote);
  if (PlayerChoice != 0) {
    DrawRound(PlayerChoice, ComputerChoice);
    ResultPrint();
    ScoreLinePrint();
  }
}

void GameTurn() {
  if (ConsoleRedrawTake() == 1) {
    ScreenRedraw();
  }
  if (WindowLargeEnough() == 0) {
    // Every key but ESC is dropped until the window is large enough.
    KeyRead();
    QuitCheck();
    StringAssign(&PressedKey, u"");
    SleepMilliseconds(kTurnPauseMilliseconds);
    return;
  }
  InstructionsPrint();
  KeyRead();
  QuitCheck();
  if (StringEqual(PressedKey, u"1") == 1 || StringEqual(PressedKey, u"2") == 1 ||
      StringEqual(PressedKey, u"3") == 1) {
    RoundPlay();
  }
  StringAssign(&PressedKey, u"");
  SleepMilliseconds(kTurnPauseMilliseconds);
}

int32_t GameCanStart() {
  if (ConsoleCanPlaceCursor() == 1) {
    return 1;
  }
  std::fputs(kCannotPlaceCursor, stderr);
  return 0;
}

void GamePlay() {
  if (GameCanStart() == 0) {
    ExitStatus = 1;
    ProgramEnd();
  }
  GameSetUp();
  // The quit request is looked at only at the end of a turn: the turn that read ESC still
  // pauses before the closing screen.
  do {
    GameTurn();
  } while (QuitRequested != 1);
  // The game's own data goes before the end, so that nothing of it is left for the exit to
  // reclaim; the closing screen needs none of it.
  GameDataRelease();
  StringRelease(PressedKey);
  PressedKey = nullptr;
  ShowClosingScreen(u"Thanks for playing!");
}

}  // namespace zn::game
