// A program with its own main that uses the runtime through a RuntimeGuard, run by the guard's
// tests. Without an argument it opens the console on its pseudo-terminal, says "ready", waits for
// one key and then returns from main; with "throw" it throws and catches an exception around the
// guard and returns from the handler. With "again" it holds two guards one after the other, each
// using images, events with owned data and bindings, and says
// "again: ok" when the second found every library started again (the valgrind run of it shows
// what the ends left behind). With "locale" it takes the locale of its environment, then prints
// its character types and a number before and inside a guard, and how a case-blind comparison of
// "École" and "école" came out.
#include <poll.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "runtime/console/console.h"
#include "runtime/containers/containers.h"
#include "runtime/core/core.h"
#include "runtime/events/events.h"
#include "runtime/images/images.h"
#include "runtime/strings/strings.h"

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

void Nothing() {}

int Again() {
  for (int round = 1; round <= 2; ++round) {
    const zn::RuntimeGuard runtime;
    // Left for the end to free: an image, a binding, and a queued event with data of its own.
    const bool used = runtime.Started() &&
                      zn::ImageCreate(zn::AnyId, 2, 2, zn::FillClear, 0) != nullptr &&
                      zn::EventBind(zn::EventTypeGadget, Nothing, 1, 1, zn::EventAny) == 1;
    zn::EventPostWithData(zn::EventTypeGadget, 1, 1, 0, std::malloc(16), std::free);
    if (!used) {
      return 10 + round;
    }
  }
  std::puts("again: ok");
  return 0;
}

int Locale() {
  std::setlocale(LC_ALL, "");
  std::printf("before %s %.2f\n", std::setlocale(LC_CTYPE, nullptr), 1.5);
  const zn::RuntimeGuard runtime;
  std::printf("inside %s %.2f %d\n", std::setlocale(LC_CTYPE, nullptr), 1.5,
              zn::StringCompareNoCase(u"\u00C9cole", u"\u00E9cole"));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (std::strcmp(mode, "again") == 0) {
    return Again();
  }
  if (std::strcmp(mode, "locale") == 0) {
    return Locale();
  }
  if (std::strcmp(mode, "throw") == 0) {
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
