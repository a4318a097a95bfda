// Text at a place on the screen, and the closing screen that ends the program.
//
// Every string parameter is copied on entry and the copy released on every exit, so a caller may
// hand in a piece of the TempStringBuffer that moves or is overwritten while the procedure runs.
#include <cstdint>

#include "game/game.h"
#include "runtime/console/console.h"
#include "runtime/core/core.h"
#include "runtime/strings/strings.h"

namespace zn::game {

void PrintAt(const char16_t* text, int8_t column, int8_t row) {
  StringValue own = nullptr;
  StringDuplicate(&own, text);
  ConsoleMoveCursor(column, row);
  ConsoleWrite(own);
  StringRelease(own);
}

void ShowClosingScreen(const char16_t* text) {
  StringValue own = nullptr;
  StringDuplicate(&own, text);
  ConsoleClear();
  // The text ends in column 74; a long text gives a column truncated to 8 bits.
  PrintAt(own, static_cast<int8_t>(75 - StringLength(own)), 22);
  ConsoleClose();
  // No line end: the shell's prompt follows the text on row 22.
  StringRelease(own);
  ProgramEnd();
}

}  // namespace zn::game
