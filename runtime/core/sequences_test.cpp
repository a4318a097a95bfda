// Tests of the start and end sequences: the fixed order of both tables, a whole start and end in a
// child process (so that each run starts from a fresh process, as the program does), and the way
// out with ExitStatus.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "runtime/core/core.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/strings/strings.h"

namespace zn {
namespace {

using Steps = std::vector<std::pair<int, std::string>>;

Steps Listed(std::span<const RuntimeStep> steps) {
  Steps listed;
  for (const RuntimeStep& step : steps) {
    EXPECT_NE(step.run, nullptr) << step.library;
    listed.emplace_back(step.number, step.library);
  }
  return listed;
}

TEST(RuntimeStartSequence, HoldsAllSeventeenStepsInTheirFixedOrder) {
  const Steps expected = {
      {1, "process"},    {2, "application shell"},
      {3, "locale"},     {4, "strings"},
      {5, "random"},     {6, "arrays"},
      {7, "lists"},      {8, "gadgets"},
      {9, "drawing"},    {10, "images"},
      {11, "bmp codec"}, {12, "images"},
      {13, "maps"},      {14, "events"},
      {15, "windows"},   {16, "menus"},
      {17, "console"},
  };
  EXPECT_EQ(Listed(RuntimeStartSequence()), expected);
}

TEST(RuntimeEndSequence, HoldsAllNineStepsConsoleFirst) {
  const Steps expected = {
      {1, "console"}, {2, "menus"},   {3, "windows"},         {4, "events"}, {5, "images"},
      {6, "drawing"}, {7, "gadgets"}, {8, "object registry"}, {9, "random"},
  };
  EXPECT_EQ(Listed(RuntimeEndSequence()), expected);
}

TEST(RuntimeStartup, LeavesEveryLibraryReadyAndEndsCleanly) {
  // In a child: the start steps are meant to run once per process. Under the sanitizers the
  // child's exit also runs the leak check, which fails the exit status on any leak.
  EXPECT_EXIT(
      {
        RuntimeStartup();
        const bool hooks_set = Hooks.ArrayCreateHook != nullptr &&
                               Hooks.ArrayCreateDimsHook != nullptr &&
                               Hooks.ListCreateHook != nullptr && Hooks.MapCreateHook != nullptr &&
                               Hooks.ArrayCopyHook != nullptr && Hooks.ListCopyHook != nullptr &&
                               Hooks.MapCopyHook != nullptr && Hooks.ArrayFreeHook != nullptr &&
                               Hooks.ListFreeHook != nullptr && Hooks.MapFreeHook != nullptr;
        const bool strings_ready = TempTextPosition() == 0 && TempTextCapacity() == 16;
        ExitStatus = hooks_set && strings_ready ? 0 : 1;
        ProgramEnd();
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ProgramEnd, ExitsWithExitStatusAfterAnEarlierShutdown) {
  EXPECT_EXIT(
      {
        RuntimeStartup();
        ExitStatus = 3;
        RuntimeShutdown();
        ProgramEnd();  // a second shutdown is harmless
      },
      ::testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace zn
