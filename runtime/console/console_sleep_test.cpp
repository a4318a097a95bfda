// Tests of pauses: the time asked of nanosleep, checked against std::chrono's own split of the
// milliseconds, and a signal cutting a long pause short. Nothing here measures time.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <limits>

#include "runtime/console/console.h"
#include "runtime/console/console_internal.h"
#include "tests/support/pty_child.h"

namespace zn {
namespace {

using test::PtyChild;

TEST(ConsoleSleepSpan, SplitsMillisecondsIntoSecondsAndNanoseconds) {
  struct Case {
    int32_t milliseconds;
    time_t seconds;
    long nanoseconds;
  };
  const Case cases[] = {
      {100, 0, 100000000},
      {2500, 2, 500000000},
      {0, 0, 0},
      {1, 0, 1000000},
      {999, 0, 999000000},
      {1000, 1, 0},
      {1001, 1, 1000000},
      {std::numeric_limits<int32_t>::max(), 2147483, 647000000},
      // Truncating division of a negative count: nanosleep refuses it, so there is no pause.
      {-1, 0, -1000000},
      {-2500, -2, -500000000},
  };
  for (const Case& c : cases) {
    const timespec span = internal::ConsoleSleepSpan(c.milliseconds);
    EXPECT_EQ(span.tv_sec, c.seconds) << c.milliseconds << " ms";
    EXPECT_EQ(span.tv_nsec, c.nanoseconds) << c.milliseconds << " ms";
  }
}

TEST(ConsoleSleepSpan, AgreesWithChronoAcrossTheRange) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  using std::chrono::nanoseconds;
  using std::chrono::seconds;
  for (int64_t m = std::numeric_limits<int32_t>::min(); m <= std::numeric_limits<int32_t>::max();
       m += 999983) {
    const milliseconds total(m);
    const seconds whole = duration_cast<seconds>(total);  // truncates toward zero
    const nanoseconds rest = duration_cast<nanoseconds>(total - whole);
    const timespec span = internal::ConsoleSleepSpan(static_cast<int32_t>(m));
    ASSERT_EQ(span.tv_sec, whole.count()) << m << " ms";
    ASSERT_EQ(span.tv_nsec, rest.count()) << m << " ms";
  }
}

TEST(SleepMilliseconds, SignalCutsThePauseShort) {
  PtyChild child([] {
    struct sigaction wake {};
    wake.sa_handler = [](int) {};
    sigemptyset(&wake.sa_mask);
    sigaction(SIGUSR1, &wake, nullptr);
    test::ChildSend('s');
    SleepMilliseconds(3600 * 1000);  // an hour, unless cut short
    test::ChildSend('w');
    return 0;
  });
  ASSERT_EQ(child.Receive(), 's');
  // The signal may come before the pause starts; send it until the child has woken.
  char woke = '\0';
  for (int attempt = 0; attempt < 200 && woke == '\0'; ++attempt) {
    child.Signal(SIGUSR1);
    woke = child.ReceiveWithin(10);
  }
  EXPECT_EQ(woke, 'w') << "the pause went on after the signal";
  EXPECT_EQ(test::DescribeStatus(child.WaitEnd()), "exited with 0");
}

}  // namespace
}  // namespace zn
