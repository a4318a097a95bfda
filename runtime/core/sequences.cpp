// The start and end sequences of the runtime, each in one table.
//
// The order is fixed: the strings exist before anything builds text, the container hooks are set
// before any structure code runs, and the console saves the user's terminal attributes last, just
// before the program first changes the terminal. The end sequence is not the start reversed: the
// console, started last, gives the terminal back first.
#include <clocale>
#include <cstdlib>

#include "platform/gadgets/gadgets.h"
#include "platform/shell/shell.h"
#include "runtime/console/console.h"
#include "runtime/containers/containers.h"
#include "runtime/core/core.h"
#include "runtime/events/events.h"
#include "runtime/images/images.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/strings/strings.h"

namespace zn {

int32_t ExitStatus = 0;

namespace {

void LocaleStartup() {
  // Results ignored: without the locale the program runs with whatever locale results.
  std::setlocale(LC_ALL, "en_US.UTF-8");
  std::setlocale(LC_NUMERIC, "C");
}

// Libraries whose start or end step has nothing to do (the random generator seeds itself on first
// use; drawing and the object registry keep their state until the process ends) keep their
// places, so that the tables show the whole order.
void RandomNothing() {}
void DrawingNothing() {}
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
    {5, "images", ImageFreeAll},
    {6, "drawing", DrawingNothing},
    {7, "gadgets", GadgetEnd},
    {8, "object registry", RegistryNothing},
    {9, "random", RandomNothing},
};
// clang-format on

bool shut_down = false;

}  // namespace

std::span<const RuntimeStep> RuntimeStartSequence() {
  return kStartSequence;
}

std::span<const RuntimeStep> RuntimeEndSequence() {
  return kEndSequence;
}

void RuntimeStartup() {
  for (const RuntimeStep& step : RuntimeStartSequence()) {
    step.run();
  }
}

void RuntimeShutdown() {
  if (shut_down) {
    return;
  }
  shut_down = true;
  for (const RuntimeStep& step : RuntimeEndSequence()) {
    step.run();
  }
}

void ProgramEnd() {
  RuntimeShutdown();
  std::exit(ExitStatus);
}

}  // namespace zn
