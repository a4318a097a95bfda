// The game's body. For now it proves that the entry, the sequences and the strings work together.
#include <cstdio>

#include "runtime/core/core.h"
#include "runtime/strings/strings.h"

void zn::ProgramBody() {
  TempTextPush();
  TempTextAppend(u"rps");
  std::fputs("ready\n", stdout);
  TempTextPopRewind();
  ProgramEnd();
}
