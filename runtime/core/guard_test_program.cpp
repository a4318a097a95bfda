// A program with its own main that uses the runtime through a RuntimeGuard, run by the guard's
// tests on a pseudo-terminal. It opens the console, says "ready", waits for one key and then
// returns from main, or, with the argument "throw", throws and catches an exception around the
// guard and returns from the handler.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "runtime/console/console.h"
#include "runtime/core/core.h"

namespace {

void OpenAndWait() {
  zn::ConsoleOpen();
  std::fputs("ready\n", stdout);
  std::fflush(stdout);
  pollfd input{.fd = STDIN_FILENO, .events = POLLIN, .revents = 0};
  if (poll(&input, 1, 5000) == 1) {
    char key = 0;
    (void)!read(STDIN_FILENO, &key, 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "throw") == 0) {
    try {
      zn::RuntimeGuard runtime;
      OpenAndWait();
      throw std::runtime_error("leaving");
    } catch (const std::runtime_error&) {
      return 2;
    }
  }
  zn::RuntimeGuard runtime;
  const zn::RuntimeGuard second;  // does nothing: the first guard owns the sequences
  if (second.Started()) {
    return 3;
  }
  OpenAndWait();
  return 0;
}
