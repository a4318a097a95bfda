// Console output: clearing the screen, placing the cursor and writing text.
//
// Every operation flushes standard output before it returns, so that each screen element reaches
// the terminal at once, in the order it was written. The escape sequences are written exactly as
// given: "\e[2J" erases the screen and leaves the cursor where it was; "\e[<row>;<column>f"
// takes the row first and passes both coordinates unchanged (the terminal counts from 1 and
// treats 0 as 1).
#include <cstdint>
#include <cstdio>

#include "runtime/console/console.h"
#include "runtime/console/console_internal.h"
#include "runtime/strings/strings.h"

namespace zn {
namespace {

int32_t CursorControlEnabled = 0;
int32_t OutputMode = 0;

}  // namespace

namespace internal {

void ConsoleOutputModeSet(int32_t mode) {
  OutputMode = mode;
}

}  // namespace internal

void ConsoleSetCursorControl(int32_t flag) {
  CursorControlEnabled = flag;
}

void ConsoleClear() {
  if (CursorControlEnabled == 0) {
    return;
  }
  std::printf("\x1b[2J");
  std::fflush(stdout);
}

void ConsoleMoveCursor(int32_t column, int32_t row) {
  if (CursorControlEnabled == 0) {
    return;
  }
  std::printf("\x1b[%d;%df", static_cast<int>(row), static_cast<int>(column));
  std::fflush(stdout);
}

void ConsoleWrite(const char16_t* text) {
  if (text != nullptr) {
    // Single-byte output drops the units above 255; every other mode writes UTF-8.
    char* bytes =
        OutputMode == OutputModeSingleByte ? StringToSingleByte(text) : StringToUtf8(text);
    if (bytes != nullptr) {
      std::printf("%s", bytes);
      NarrowTextFree(bytes);
    }
  }
  std::fflush(stdout);
}

}  // namespace zn
