// A program outside the project that lets the runtime's main start and end it: the body runs
// between the start and end sequences of every library, and returning from it ends the program.
#include <runtime/core/core.h>
#include <runtime/strings/strings.h>

#include <cstdio>

void zn::ProgramBody() {
  TempTextPush();
  TempTextAppend(u"started");
  const char16_t* text = TempTextPopPiece();
  for (const char16_t* unit = text; *unit != 0; ++unit)
    std::putchar(static_cast<char>(*unit));
  std::putchar('\n');
  std::fflush(stdout);
}
