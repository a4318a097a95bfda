// The window the game draws in. The layout needs 80 columns and 25 rows; in a smaller window the
// game shows one line asking for that size instead of a layout that wraps and scrolls, and draws
// the whole screen once the window is large enough.
//
// The size is read at start and after each change of it, never while the game waits for keys. A
// size that cannot be read (output to a file or a pipe) counts as large enough: the layout is
// written as it always is.
#include <cstdint>

#include "game/game.h"
#include "runtime/console/console.h"
#include "runtime/strings/strings.h"

namespace zn::game {
namespace {

constexpr int32_t kNeededColumns = 80;
constexpr int32_t kNeededRows = 25;

constexpr char16_t kRequest[] = u"Please make the window at least 80 x 25.";
constexpr char16_t kShortRequest[] = u"Needs 80 x 25";

bool size_known = false;
int32_t window_columns = 0;
int32_t window_rows = 0;

}  // namespace

void WindowSizeRead() {
  int32_t columns = 0;
  int32_t rows = 0;
  size_known = ConsoleWindowSize(&columns, &rows) == 1;
  window_columns = columns;
  window_rows = rows;
}

int32_t WindowLargeEnough() {
  return !size_known || (window_columns >= kNeededColumns && window_rows >= kNeededRows) ? 1 : 0;
}

void PrintFitted(const char16_t* text, int8_t row) {
  TempTextScope fitted;
  TempTextAppend(text);
  // Cut to the width, so that the line neither wraps nor leaves a fragment on the next row.
  if (size_known && StringLength(TempTextAddress(fitted.Start())) > window_columns) {
    TempTextCut(fitted.Start() + 2 * window_columns);
  }
  PrintAt(TempTextAddress(fitted.Start()), 1, row);
}

void WindowRequestShow() {
  ConsoleClear();
  const bool long_fits = !size_known || window_columns >= StringLength(kRequest);
  PrintFitted(long_fits ? kRequest : kShortRequest, 1);
}

}  // namespace zn::game
