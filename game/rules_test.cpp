// Tests of the winner rule and the computer's hand.
#include <gtest/gtest.h>

#include <cstdint>

#include "game/game.h"
#include "game/game_test_support.h"
#include "runtime/random/random.h"

namespace zn::game {
namespace {

TEST(DecideWinner, AllNinePairs) {
  // Rows: player rock, paper, scissors; columns: computer rock, paper, scissors.
  constexpr int64_t kTable[3][3] = {{0, -1, 1}, {1, 0, -1}, {-1, 1, 0}};
  for (int64_t player = 1; player <= 3; ++player) {
    for (int64_t computer = 1; computer <= 3; ++computer) {
      const int64_t result = DecideWinner(player, computer);
      EXPECT_EQ(result, kTable[player - 1][computer - 1])
          << "player " << player << ", computer " << computer;
      EXPECT_EQ(result, testsupport::ReferenceWinner(player, computer))
          << "player " << player << ", computer " << computer;
    }
  }
}

TEST(DecideWinner, SwappingTheHandsSwapsTheWinner) {
  for (int64_t player = 1; player <= 3; ++player) {
    for (int64_t computer = 1; computer <= 3; ++computer) {
      EXPECT_EQ(DecideWinner(player, computer), -DecideWinner(computer, player))
          << "player " << player << ", computer " << computer;
    }
  }
}

TEST(DecideWinner, EqualValuesOutsideTheHandsTie) {
  EXPECT_EQ(DecideWinner(0, 0), 0);
  EXPECT_EQ(DecideWinner(7, 7), 0);
  EXPECT_EQ(DecideWinner(4, 1), -1) << "no hand beats nothing";
}

TEST(PickComputerChoice, FollowsTheGeneratorPlusOne) {
  RandomSetSeed(12345);
  uint64_t draws[64];
  for (uint64_t& draw : draws) {
    draw = RandomUpTo(2);
  }
  RandomSetSeed(12345);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(PickComputerChoice(), static_cast<int64_t>(draws[i]) + 1) << "draw " << i;
  }
}

TEST(PickComputerChoice, GivesEveryHandAndNothingElse) {
  RandomSetSeed(99);
  int64_t counts[4] = {0, 0, 0, 0};
  constexpr int kDraws = 3000;
  for (int i = 0; i < kDraws; ++i) {
    const int64_t choice = PickComputerChoice();
    ASSERT_GE(choice, 1) << "draw " << i;
    ASSERT_LE(choice, 3) << "draw " << i;
    ++counts[choice];
  }
  // About a third each; a bound this loose only catches a hand that never or hardly comes.
  for (int hand = 1; hand <= 3; ++hand) {
    EXPECT_GT(counts[hand], kDraws / 5) << "hand " << hand;
  }
}

}  // namespace
}  // namespace zn::game
