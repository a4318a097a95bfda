// A program outside the project that uses the installed runtime through find_package.
#include <runtime/strings/strings.h>

#include <cstdio>

int main() {
  using namespace zn;
  TempTextInit();
  TempTextPush();
  TempTextAppend(u"Current score: Player 10 vs. CPU 9");
  const char16_t* text = TempTextPopPiece();
  for (const char16_t* unit = text; *unit != 0; ++unit)
    std::putchar(static_cast<char>(*unit));
  std::putchar('\n');
  return 0;
}
