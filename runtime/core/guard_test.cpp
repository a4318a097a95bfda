// Tests of the RuntimeGuard: a program with its own main that opens the console through the guard
// and returns from main (or leaves the guard's scope by an exception) leaves the pseudo-terminal's
// attributes exactly as they were before it started; a guard keeps the locale the program chose.
// (A later guard starting the runtime again is the valgrind session's case valgrind_guard.)
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "runtime/console/console_test_support.h"
#include "tests/support/pty_child.h"

namespace zn {
namespace {

using test::PtyChild;
using test::PtyChildOptions;

void RunGuardedProgram(const char* argument, const char* expected_end) {
  const termios user = test::UnusualUserAttributes();
  PtyChild child(
      [argument] {
        execl(ZN_GUARD_TEST_PROGRAM, ZN_GUARD_TEST_PROGRAM, argument, static_cast<char*>(nullptr));
        return 127;
      },
      PtyChildOptions{.initial_attributes = &user});
  ASSERT_NE(child.ReadOutputUntil("ready").find("ready"), std::string::npos)
      << "the program did not start";
  test::ExpectConsoleMode(child.Attributes(), user);
  child.Type("q");
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), expected_end);
  test::ExpectSameAttributes(child.Attributes(), user);
}

TEST(RuntimeGuard, ReturningFromMainGivesTheTerminalBack) {
  RunGuardedProgram(nullptr, "exited with 0");
}

TEST(RuntimeGuard, AnExceptionLeavingItsScopeGivesTheTerminalBack) {
  RunGuardedProgram("throw", "exited with 2");
}

// The program's own output of a mode, run with these locale variables.
test::ChildOutcome RunMode(const char* mode, const std::string& locale_path, const char* lc_all) {
  return test::ChildRun("", [&] {
    setenv("LOCPATH", locale_path.c_str(), 1);
    setenv("LC_ALL", lc_all, 1);
    execl(ZN_GUARD_TEST_PROGRAM, ZN_GUARD_TEST_PROGRAM, mode, static_cast<char*>(nullptr));
  });
}

// A locale of the program's own, built by localedef into a temporary folder (German: numbers with
// a comma), stays inside the guard. A program that chose none gets the runtime's: LOCPATH,
// pointing at that folder, hides en_US.UTF-8 on any machine, and the character types of C.UTF-8
// still fold every letter.
TEST(RuntimeGuard, KeepsTheProgramsLocaleAndFoldsEveryLetterWithoutOne) {
  const std::filesystem::path folder = testing::TempDir() + "zn_guard_locale";
  std::filesystem::create_directories(folder);
  const std::string command =
      "localedef -i de_DE -f UTF-8 " + (folder / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) {
    GTEST_SKIP() << "localedef could not make a locale (the locales package is missing)";
  }
  const test::ChildOutcome own = RunMode("locale", folder.string(), "de_DE.UTF-8");
  EXPECT_EQ(own.output, "before de_DE.UTF-8 1,50\ninside de_DE.UTF-8 1,50 0\n");
  const test::ChildOutcome none = RunMode("locale", folder.string(), "C");
  EXPECT_EQ(none.output, "before C 1.50\ninside C.UTF-8 1.50 0\n");
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace zn
