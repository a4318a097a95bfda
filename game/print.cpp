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
  // The cursor ends at the start of the row below the text, so that the shell's prompt starts on
  // a line of its own rather than behind the text.
  if (WindowLargeEnough() == 1) {
    // The text ends in column 74; a long text gives a column truncated to 8 bits.
    PrintAt(own, static_cast<int8_t>(75 - StringLength(own)), 22);
    ConsoleMoveCursor(1, 23);
  } else {
    PrintFitted(own, 1);
    ConsoleMoveCursor(1, 2);
  }
  ConsoleClose();
  StringRelease(own);
  ProgramEnd();
}

}  // namespace zn::game
