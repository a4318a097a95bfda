// Tests of the start and end sequences: the rules their order keeps (the console last to start
// and first to end, each library started before its users and ended after them, each step once),
// a whole start and end in a child process (so that each run starts from a fresh process, as the
// program does), and the way out with ExitStatus.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "runtime/core/core.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/strings/strings.h"

namespace zn {
namespace {

// Which library needs which to have started: the library on the left calls the one on the right
// from its start step or from any later operation (or registers itself with it).
const std::pair<const char*, const char*> kUses[] = {
    {"application shell", "process"},
    {"console", "strings"},
    {"console", "locale"},
    {"bmp codec", "images"},
    {"events", "maps"},
    {"events", "strings"},
    {"gadgets", "strings"},
    {"windows", "events"},
    {"windows", "gadgets"},
    {"windows", "strings"},
    {"menus", "events"},
    {"menus", "windows"},
    {"menus", "strings"},
};

// The place of a library's first step in a sequence, or -1 when it has none.
int FirstPlace(std::span<const RuntimeStep> steps, const std::string& library) {
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].library == library) return static_cast<int>(i);
  }
  return -1;
}

// Each step once: numbered 1, 2, 3 ... in the order they run, each routine once.
void ExpectEachStepOnce(std::span<const RuntimeStep> steps) {
  std::set<void (*)()> routines;
  for (size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(steps[i].number, static_cast<int>(i) + 1) << steps[i].library;
    ASSERT_NE(steps[i].run, nullptr) << steps[i].library;
    EXPECT_TRUE(routines.insert(steps[i].run).second) << steps[i].library << " runs twice";
  }
}

TEST(RuntimeSequences, ConsoleStartsLastAndEndsFirst) {
  ASSERT_FALSE(RuntimeStartSequence().empty());
  ASSERT_FALSE(RuntimeEndSequence().empty());
  EXPECT_STREQ(RuntimeStartSequence().back().library, "console");
  EXPECT_STREQ(RuntimeEndSequence().front().library, "console");
  EXPECT_EQ(FirstPlace(RuntimeStartSequence(), "console"),
            static_cast<int>(RuntimeStartSequence().size()) - 1)
      << "the console has one start step";
}

TEST(RuntimeSequences, EachStepRunsOnce) {
  ExpectEachStepOnce(RuntimeStartSequence());
  ExpectEachStepOnce(RuntimeEndSequence());
}

TEST(RuntimeSequences, LibrariesStartBeforeTheirUsersAndEndAfterThem) {
  for (const auto& [user, used] : kUses) {
    const int used_at = FirstPlace(RuntimeStartSequence(), used);
    const int user_at = FirstPlace(RuntimeStartSequence(), user);
    ASSERT_NE(used_at, -1) << used;
    ASSERT_NE(user_at, -1) << user;
    EXPECT_LT(used_at, user_at) << used << " starts after its user " << user;
    const int used_ends = FirstPlace(RuntimeEndSequence(), used);
    const int user_ends = FirstPlace(RuntimeEndSequence(), user);
    if (used_ends != -1 && user_ends != -1) {
      EXPECT_LT(user_ends, used_ends) << used << " ends before its user " << user;
    }
  }
  // The container hooks are all set before any library that holds containers starts.
  for (const char* hooks : {"arrays", "lists", "maps"}) {
    for (const char* holder : {"events", "windows", "menus"}) {
      EXPECT_LT(FirstPlace(RuntimeStartSequence(), hooks),
                FirstPlace(RuntimeStartSequence(), holder))
          << hooks << " before " << holder;
    }
  }
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
