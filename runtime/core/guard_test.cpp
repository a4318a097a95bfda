// Tests of the RuntimeGuard: a program with its own main that opens the console through the guard
// and returns from main (or leaves the guard's scope by an exception) leaves the pseudo-terminal's
// attributes exactly as they were before it started.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

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

}  // namespace
}  // namespace zn
