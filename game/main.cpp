// The program's body: the game, which ends the program through its closing screen.
#include "game/game.h"
#include "runtime/core/core.h"

void zn::ProgramBody() {
  zn::game::GamePlay();
}
