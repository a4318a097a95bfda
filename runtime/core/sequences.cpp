// The start and end sequences of the runtime, each in one table.
//
// The order is fixed: the strings exist before anything builds text, the container hooks are set
// before any structure code runs, and the console saves the user's terminal attributes last, just
// before the program first changes the terminal. The end sequence is not the start reversed: the
// console, started last, gives the terminal back first. It frees everything the start made, the
// shell's application objects and the temporary buffer last, so that nothing of the runtime is
// left behind and a later start finds every library as the first one did.
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "platform/gadgets/gadgets.h"
#include "platform/shell/shell.h"
#include "runtime/console/console.h"
#include "runtime/containers/containers.h"
#include "runtime/core/core.h"
#include "runtime/core/core_internal.h"
#include "runtime/events/events.h"
#include "runtime/images/images.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/strings/strings.h"

namespace zn {

int32_t ExitStatus = 0;

namespace {

// Whether the locale step leaves a locale the program chose itself alone (a RuntimeGuard's start).
bool keep_chosen_locale = false;

bool LocaleIsPlain(const char* name) {
  return name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

void LocaleStartup() {
  if (keep_chosen_locale && !LocaleIsPlain(std::setlocale(LC_CTYPE, nullptr))) {
    return;
  }
  // Without en_US.UTF-8 the character types still come from a UTF-8 locale that every system
  // has, so that case-blind comparisons and keys work for every letter on every machine.
  if (std::setlocale(LC_ALL, "en_US.UTF-8") == nullptr) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
  }
  std::setlocale(LC_NUMERIC, "C");
}

// Libraries whose start or end step has nothing to do (the random generator seeds itself on first
// use and keeps no memory; the object registry's lock is made once per process) keep their
// places, so that the tables show the whole order.
void RandomNothing() {}
void RegistryNothing() {}

// clang-format off
constexpr RuntimeStep kStartSequence[] = {
    {1, "process", ProcessStartup},
    {2, "application shell", ApplicationStartup},
    {3, "locale", LocaleStartup},
    {4, "strings", TempTextInit},
    {5, "random", RandomNothing},
    {6, "arrays", ArrayHooksRegister},
    {7, "lists", ListHooksRegister},
    {8, "gadgets", GadgetInit},
    {9, "drawing", DrawingStateInit},
    {10, "images", DecodeStateInit},
    {11, "bmp codec", BmpCodecRegister},
    {12, "images", ImageLibraryInit},
    {13, "maps", MapHooksRegister},
    {14, "events", EventInit},
    {15, "windows", WindowStartup},
    {16, "menus", MenuStartup},
    {17, "console", ConsoleStartup},
};
// clang-format on

// clang-format off
constexpr RuntimeStep kEndSequence[] = {
    {1, "console", ConsoleShutdown},
    {2, "menus", MenuEnd},
    {3, "windows", WindowEnd},
    {4, "events", EventEnd},
    {5, "images", ImageLibraryEnd},
    {6, "drawing", DrawingStateEnd},
    {7, "gadgets", GadgetEnd},
    {8, "object registry", RegistryNothing},
    {9, "random", RandomNothing},
    {10, "application shell", ApplicationEnd},
    {11, "strings", TempTextFree},
};
// clang-format on

// Between RuntimeStartup and RuntimeShutdown; and whether RuntimeShutdown has run since the last
// start (a program that ran the start steps by hand still ends through RuntimeShutdown).
bool running = false;
bool ended = false;

}  // namespace

namespace internal {

void RuntimeStartupKeepingLocale() {
  keep_chosen_locale = true;
  RuntimeStartup();
  keep_chosen_locale = false;
}

}  // namespace internal

std::span<const RuntimeStep> RuntimeStartSequence() {
  return kStartSequence;
}

std::span<const RuntimeStep> RuntimeEndSequence() {
  return kEndSequence;
}

void RuntimeStartup() {
  running = true;
  ended = false;
  for (const RuntimeStep& step : RuntimeStartSequence()) {
    step.run();
  }
}

bool RuntimeRunning() {
  return running;
}

void RuntimeShutdown() {
  if (ended) {
    return;
  }
  ended = true;
  running = false;
  for (const RuntimeStep& step : RuntimeEndSequence()) {
    step.run();
  }
}

void ProgramEnd() {
  RuntimeShutdown();
  std::exit(ExitStatus);
}

}  // namespace zn
