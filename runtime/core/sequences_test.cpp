// Tests of the start and end sequences: fixed order, each step once, and the way out.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "runtime/core/core.h"
#include "runtime/strings/strings.h"

namespace zn {
namespace {

void ExpectStrictlyOrdered(std::span<const RuntimeStep> steps, int last_number) {
  int previous = 0;
  std::set<std::string> seen;
  for (const RuntimeStep& step : steps) {
    EXPECT_GT(step.number, previous) << step.library << " is out of order";
    EXPECT_LE(step.number, last_number) << step.library;
    EXPECT_NE(step.run, nullptr) << step.library;
    previous = step.number;
  }
}

TEST(RuntimeStartSequence, StepsRunInTheirFixedOrder) {
  ExpectStrictlyOrdered(RuntimeStartSequence(), 17);
  ExpectStrictlyOrdered(RuntimeEndSequence(), 9);
}

TEST(RuntimeStartSequence, StringsAreReadyAfterStartup) {
  RuntimeStartup();
  EXPECT_EQ(TempTextPosition(), 0);
  EXPECT_EQ(TempTextCapacity(), 16);
  TempTextAppend(u"ready");
  EXPECT_EQ(TempTextPosition(), 10);
}

TEST(ProgramEnd, ExitsWithExitStatusAfterShutdown) {
  EXPECT_EXIT(
      {
        RuntimeStartup();
        ProgramEnd();
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        ExitStatus = 3;
        ProgramEnd();
      },
      ::testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace zn
