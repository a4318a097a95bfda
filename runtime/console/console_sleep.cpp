// Pauses. One nanosleep, not resumed after a signal: a signal cuts the pause short.
#include <cstdint>
#include <ctime>

#include "runtime/console/console.h"
#include "runtime/console/console_internal.h"

namespace zn {

namespace internal {

// Truncating division of the signed count: a negative pause asks for a negative time, which
// nanosleep refuses, so it does not pause at all.
timespec ConsoleSleepSpan(int32_t milliseconds) {
  timespec span{};
  span.tv_sec = static_cast<time_t>(milliseconds / 1000);
  span.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  return span;
}

}  // namespace internal

void SleepMilliseconds(int32_t milliseconds) {
  const timespec span = internal::ConsoleSleepSpan(milliseconds);
  nanosleep(&span, nullptr);
}

}  // namespace zn
