// The game's flow: set-up, and one turn of the polling loop with its round.
//
// The loop polls about ten times a second: each turn re-prints the two instruction lines, reads
// at most one key without waiting, plays a round for "1", "2" or "3", and pauses 100 ms. A key
// pressed during the pause waits in the terminal for the next turn, so keys typed ahead are
// played one per turn in the order typed.
#include <cstdint>

#include "game/game.h"
#include "runtime/console/console.h"
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

// The key into PressedKey: the console writes it at the popped offset, and the piece from that
// offset is taken into the variable, which gives the room back.
void KeyRead() {
  TempTextPush();
  TempTextPush();
  ConsoleReadKey(TempTextPop());
  TempTextTakeInto(&PressedKey, TempTextPop());
}

// "Current score: Player <n> vs. CPU <m>" from column 25 of row 18; the line grows with the
// numbers, and scores never shrink, so it always covers the one before.
void ScoreLinePrint() {
  TempTextPush();
  TempTextPush();
  TempTextAppend(u"Current score: Player ");
  TempTextPush();
  TempTextPush();
  TempTextAppendInteger(PlayerScore, TempTextPop());
  TempTextPop();
  TempTextAppend(u" vs. CPU ");
  TempTextPush();
  TempTextPush();
  TempTextAppendInteger(ComputerScore, TempTextPop());
  TempTextPop();
  PrintAt(TempTextPopPiece(), kScoreColumn, kResultRow);
  TempTextPopRewind();
}

void RoundPlay() {
  PlayerChoice = TextToInteger(PressedKey);
  StringAssign(&PressedKey, u"");
  ComputerChoice = PickComputerChoice();
  DrawRound(PlayerChoice, ComputerChoice);
  RoundResult = DecideWinner(PlayerChoice, ComputerChoice);
  // All three texts are 14 characters long, so each covers the one before it.
  if (RoundResult == 0) {
    PrintAt(u"It's a tie!   ", kMessageColumn, kResultRow);
  } else if (RoundResult == 1) {
    PrintAt(u"You win!      ", kMessageColumn, kResultRow);
    ++PlayerScore;
  } else if (RoundResult == -1) {
    PrintAt(u"Computer wins!", kMessageColumn, kResultRow);
    ++ComputerScore;
  }
  ScoreLinePrint();
}

}  // namespace

void GameSetUp() {
  GameDataInit();
  ShowTitleScreen(u"Rock, Paper, Scissors");
  PrintOnTitleBarRight(u"Press ESC to Quit.");
  PlayerChoice = 0;
  StringAssign(&PressedKey, u"");
  QuitRequested = 0;
  PlayerScore = 0;
  ComputerScore = 0;
}

void GameTurn() {
  PrintAt(u"Choose: 1 = Rock, 2 = Paper, 3 = Scissors", kMessageColumn, 20);
  PrintAt(u"Rock defeats Scissors. Scissors defeats Paper. Paper defeats Rock.", kMessageColumn,
          22);
  KeyRead();
  // A file or pipe that has reached its end gives nothing but empty keys from now on; without
  // this the loop would poll for ever. A terminal with no key waiting is not an end.
  if (StringEqual(PressedKey, kEscape) == 1 || ConsoleInputEnded() == 1) {
    QuitRequested = 1;
  }
  if (StringEqual(PressedKey, u"1") == 1 || StringEqual(PressedKey, u"2") == 1 ||
      StringEqual(PressedKey, u"3") == 1) {
    RoundPlay();
  }
  StringAssign(&PressedKey, u"");
  SleepMilliseconds(kTurnPauseMilliseconds);
}

void GamePlay() {
  GameSetUp();
  // The quit request is looked at only at the end of a turn: the turn that read ESC still
  // pauses before the closing screen.
  do {
    GameTurn();
  } while (QuitRequested != 1);
  ShowClosingScreen(u"Thanks for playing!");
}

}  // namespace zn::game
