// Tests of the game's flow: whole games played in a child process, their keys from a pipe, their
// screen bytes read back turn by turn and checked against the reference layout and winner rule.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "game/game.h"
#include "game/game_test_support.h"
#include "runtime/console/console.h"
#include "runtime/random/random.h"
#include "runtime/strings/strings.h"
#include "runtime/strings/strings_testing.h"

namespace zn::game {
namespace {

using testsupport::At;

struct Round {
  int64_t player = 0;
  int64_t computer = 0;
};

// A finished game cut into its pieces: what came before the first turn, what each turn wrote
// after the first instruction line, and whether the game ended through its closing screen.
struct Game {
  testsupport::ChildOutcome child;
  std::string title;
  std::vector<std::string> turns;
};

Game GamePlayed(const std::string& keys) {
  Game game;
  game.child = testsupport::ChildRun(keys, [] {
    TempTextReset();
    GamePlay();
  });
  const std::string marker = At(10, 20, "Choose: 1 = Rock, 2 = Paper, 3 = Scissors");
  const std::string& out = game.child.output;
  size_t at = out.find(marker);
  game.title = out.substr(0, at);
  while (at != std::string::npos) {
    const size_t next = out.find(marker, at + marker.size());
    game.turns.push_back(out.substr(at + marker.size(), next == std::string::npos
                                                            ? std::string::npos
                                                            : next - at - marker.size()));
    at = next;
  }
  return game;
}

void ExpectCleanEnd(const Game& game) {
  ASSERT_TRUE(game.child.ended) << "the game did not end after its input ended";
  ASSERT_TRUE(WIFEXITED(game.child.status)) << "wait status " << game.child.status;
  EXPECT_EQ(WEXITSTATUS(game.child.status), 0) << "a leak or an error changes the status";
  EXPECT_EQ(game.title, testsupport::ExpectedTitleScreen());
  ASSERT_FALSE(game.turns.empty());
  const std::string closing = testsupport::ExpectedClosing();
  const std::string& last = game.turns.back();
  ASSERT_GE(last.size(), closing.size());
  EXPECT_EQ(last.substr(last.size() - closing.size()), closing) << "the closing screen ends it";
}

// The computer's hand, read back from the screen, or 0 when the turn drew no round.
int64_t ComputerHandOf(const std::string& turn) {
  for (int64_t hand = 1; hand <= 3; ++hand) {
    if (turn.find(At(45, 6, testsupport::kHandNames[hand]) + "\x1b") != std::string::npos) {
      return hand;
    }
  }
  return 0;
}

// Checks every turn against its key: a round only for "1", "2" and "3", drawn exactly as laid
// out, its result and the running score agreeing with the reference winner rule.
void ExpectTurns(const Game& game, const std::string& keys) {
  const std::string plain =
      At(10, 22, "Rock defeats Scissors. Scissors defeats Paper. Paper defeats Rock.");
  const std::string closing = testsupport::ExpectedClosing();
  int64_t player_score = 0;
  int64_t computer_score = 0;
  ASSERT_EQ(game.turns.size(), keys.size() + 1) << "one turn per key, and one for the end";
  for (size_t i = 0; i < game.turns.size(); ++i) {
    std::string turn = game.turns[i];
    if (i + 1 == game.turns.size()) {
      turn = turn.substr(0, turn.size() - closing.size());
    }
    const char key = i < keys.size() ? keys[i] : '\0';
    if (key < '1' || key > '3') {
      EXPECT_EQ(turn, plain) << "turn " << i << " (key " << int{key} << ") changed the screen";
      continue;
    }
    const int64_t player = key - '0';
    const int64_t computer = ComputerHandOf(turn);
    ASSERT_NE(computer, 0) << "turn " << i << " drew no computer hand";
    const int64_t winner = testsupport::ReferenceWinner(player, computer);
    if (winner == 1) {
      ++player_score;
    }
    if (winner == -1) {
      ++computer_score;
    }
    const char* message =
        winner == 0 ? "It's a tie!   " : (winner == 1 ? "You win!      " : "Computer wins!");
    const std::string expected = plain + testsupport::ExpectedRound(player, computer) +
                                 At(10, 18, message) +
                                 At(25, 18,
                                    "Current score: Player " + std::to_string(player_score) +
                                        " vs. CPU " + std::to_string(computer_score));
    EXPECT_EQ(turn, expected) << "turn " << i << ": player " << player << ", computer " << computer;
  }
}

TEST(GamePlay, EmptyInputShowsTheTitleAndEndsCleanly) {
  const Game game = GamePlayed("");
  ExpectCleanEnd(game);
  ExpectTurns(game, "");
}

TEST(GamePlay, RoundShowsHandsResultAndScore) {
  const std::string keys = "1";
  const Game game = GamePlayed(keys);
  ExpectCleanEnd(game);
  ExpectTurns(game, keys);
}

TEST(GamePlay, KeysTypedAheadArePlayedOnePerTurnInOrder) {
  const std::string keys = "312213";
  const Game game = GamePlayed(keys);
  ExpectCleanEnd(game);
  ExpectTurns(game, keys);
}

TEST(GamePlay, OtherKeysChangeNothing) {
  const std::string keys = "4a\n 0\t1x";
  const Game game = GamePlayed(keys);
  ExpectCleanEnd(game);
  ExpectTurns(game, keys);
}

TEST(GamePlay, MultiByteKeysAreOneTurnEach) {
  // "é" is two bytes but one key; it plays no round and the "2" after it is read next turn.
  const Game game = GamePlayed(
      "\xc3\xa9"
      "2");
  ExpectCleanEnd(game);
  ASSERT_EQ(game.turns.size(), 3u);
  EXPECT_EQ(ComputerHandOf(game.turns[0]), 0);
  EXPECT_NE(ComputerHandOf(game.turns[1]), 0);
}

TEST(GamePlay, EscapeEndsAfterItsTurn) {
  // The "1" behind ESC is never played: the game ends after the ESC turn's pause.
  const Game game = GamePlayed(
      "2\x1b"
      "1");
  ExpectCleanEnd(game);
  ASSERT_EQ(game.turns.size(), 2u) << "the turn with ESC is the last";
  EXPECT_NE(ComputerHandOf(game.turns[0]), 0);
  EXPECT_EQ(ComputerHandOf(game.turns[1]), 0);
}

TEST(GamePlay, ArrowKeyEndsTheGame) {
  const Game game = GamePlayed("\x1b[A");
  ExpectCleanEnd(game);
  ASSERT_EQ(game.turns.size(), 1u);
}

TEST(GamePlay, ScoresGrowInFullOverManyRounds) {
  std::string keys;
  for (int i = 0; i < 30; ++i) {
    keys += static_cast<char>('1' + i % 3);
  }
  const Game game = GamePlayed(keys);
  ExpectCleanEnd(game);
  ExpectTurns(game, keys);
}

// The bytes of the result and score lines after the given rounds, by the reference rule.
std::string ExpectedResultAndScore(const std::vector<Round>& rounds) {
  int64_t player_score = 0;
  int64_t computer_score = 0;
  int64_t winner = 0;
  for (const Round& round : rounds) {
    winner = testsupport::ReferenceWinner(round.player, round.computer);
    player_score += winner == 1 ? 1 : 0;
    computer_score += winner == -1 ? 1 : 0;
  }
  const char* message =
      winner == 0 ? "It's a tie!   " : (winner == 1 ? "You win!      " : "Computer wins!");
  return At(10, 18, message) + At(25, 18,
                                  "Current score: Player " + std::to_string(player_score) +
                                      " vs. CPU " + std::to_string(computer_score));
}

TEST(ScreenRedraw, DrawsTheScreenAsItStands) {
  // Before any round, the title screen alone; after rounds, the title screen, the last round's
  // hands, its result and the running score, with the very bytes that drew them. The turn then
  // prints the instruction lines as every turn does.
  const testsupport::ChildOutcome child = testsupport::ChildRun("13", [] {
    TempTextReset();
    GameSetUp();
    ConsoleWrite(u"<a>");
    ScreenRedraw();
    ConsoleWrite(u"<b>");
    GameTurn();
    ConsoleWrite(u"<c>");
    GameTurn();
    ConsoleWrite(u"<d>");
    ScreenRedraw();
    ConsoleWrite(u"<e>");
  });
  ASSERT_TRUE(child.ended);
  const std::string& out = child.output;
  const auto between = [&out](const std::string& from, const std::string& to) {
    const size_t start = out.find(from);
    const size_t end = out.find(to);
    return start == std::string::npos || end == std::string::npos
               ? std::string("<missing>")
               : out.substr(start + from.size(), end - start - from.size());
  };
  EXPECT_EQ(between("<a>", "<b>"), testsupport::ExpectedTitleScreen());
  const std::vector<Round> rounds = {{1, ComputerHandOf(between("<b>", "<c>"))},
                                     {3, ComputerHandOf(between("<c>", "<d>"))}};
  ASSERT_NE(rounds[0].computer, 0);
  ASSERT_NE(rounds[1].computer, 0);
  EXPECT_EQ(between("<d>", "<e>"), testsupport::ExpectedTitleScreen() +
                                       testsupport::ExpectedRound(3, rounds[1].computer) +
                                       ExpectedResultAndScore(rounds));
}

TEST(GamePlay, DumbTerminalEndsWithStatusOneAndWritesNothing) {
  const char* saved = std::getenv("TERM");
  const std::string before = saved != nullptr ? saved : "";
  setenv("TERM", "dumb", 1);
  const testsupport::ChildOutcome child = testsupport::ChildRun("1", [] {
    // Its one line on standard error is checked end to end; here it would only be noise.
    static_cast<void>(std::freopen("/dev/null", "w", stderr));
    TempTextReset();
    GamePlay();
  });
  if (saved != nullptr) {
    setenv("TERM", before.c_str(), 1);
  } else {
    unsetenv("TERM");
  }
  ASSERT_TRUE(child.ended);
  ASSERT_TRUE(WIFEXITED(child.status)) << "wait status " << child.status;
  EXPECT_EQ(WEXITSTATUS(child.status), 1);
  EXPECT_EQ(child.output, "") << "nothing on standard output";
}

}  // namespace
}  // namespace zn::game
