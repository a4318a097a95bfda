// What the terminal can show: the window's size and whether it can place the cursor.
//
// The size is read from standard output, where the screen is drawn, and only when asked: at start
// and after the window changed, never while a program waits for keys.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/console/console.h"

namespace zn {

int32_t ConsoleWindowSize(int32_t* columns, int32_t* rows) {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
    return 0;
  }
  // A pseudo-terminal nobody has given a size to reports 0 x 0: that says nothing.
  if (size.ws_col == 0 || size.ws_row == 0) {
    return 0;
  }
  *columns = size.ws_col;
  *rows = size.ws_row;
  return 1;
}

int32_t ConsoleCanPlaceCursor() {
  const char* term = std::getenv("TERM");
  return term != nullptr && std::strcmp(term, "dumb") == 0 ? 0 : 1;
}

}  // namespace zn
