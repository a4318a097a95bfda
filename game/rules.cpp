// The winner rule and the computer's hand.
#include <cstdint>

#include "game/game.h"
#include "runtime/random/random.h"

namespace zn::game {

int64_t DecideWinner(int64_t player_choice, int64_t computer_choice) {
  if (player_choice == computer_choice) {
    return 0;
  }
  // Rock beats scissors, paper beats rock, scissors beat paper.
  if ((player_choice == 1 && computer_choice == 3) ||
      (player_choice == 2 && computer_choice == 1) ||
      (player_choice == 3 && computer_choice == 2)) {
    return 1;
  }
  return -1;
}

// RandomUpTo(2) gives 0, 1 or 2 evenly; the hands are numbered from 1.
int64_t PickComputerChoice() {
  return static_cast<int64_t>(RandomUpTo(2)) + 1;
}

}  // namespace zn::game
