// The runtime's one way out when it cannot go on: give the terminal back, say why in one line,
// end the process. Only async-signal-safe calls, so that it also serves from a signal handler's
// neighbourhood and from deep inside a failed allocation.
#include <errno.h>  // program_invocation_short_name
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "runtime/memory/memory.h"

namespace zn {
namespace {

std::atomic<FatalCleanup> cleanup_routine{nullptr};

void WriteAll(const char* text, size_t length) {
  while (length > 0) {
    ssize_t written = ::write(STDERR_FILENO, text, length);
    if (written <= 0) {
      return;
    }
    text += written;
    length -= static_cast<size_t>(written);
  }
}

}  // namespace

void FatalCleanupSet(FatalCleanup cleanup) {
  cleanup_routine.store(cleanup);
}

void FatalExit(const char* message) {
  if (FatalCleanup cleanup = cleanup_routine.load(); cleanup != nullptr) {
    cleanup();
  }
  const char* program = program_invocation_short_name;
  WriteAll(program, std::strlen(program));
  WriteAll(": ", 2);
  WriteAll(message, std::strlen(message));
  WriteAll("\n", 1);
  ::_exit(EXIT_FAILURE);
}

}  // namespace zn
