// The process entry: start the runtime, then run the program's body, which ends the program.
#include "runtime/core/core.h"

int main(int /*argc*/, char** /*argv*/, char** /*envp*/) {
  zn::RuntimeStartup();
  zn::ProgramBody();
  zn::ProgramEnd();
}
