// The live-block guard and the failure-point loop. See the header.
#include "tests/support/heap_checks.h"

#include <gtest/gtest.h>

#include <utility>

namespace zn::test {

LiveBlockGuard::LiveBlockGuard(std::string what)
    : start_(HeapLiveBlocks()), what_(std::move(what)) {}

LiveBlockGuard::~LiveBlockGuard() {
  HeapFailNever();
  EXPECT_EQ(HeapLiveBlocks(), start_) << what_;
}

int64_t LiveBlockGuard::Change() const {
  return HeapLiveBlocks() - start_;
}

int64_t HeapFailEach(HeapFailure mode, const std::function<void(const FailurePoint&)>& attempt) {
  // A bound far above any operation's request count, so that a run that keeps asking for more
  // after each refusal ends the loop instead of hanging it.
  constexpr int64_t kMostPoints = 100000;
  int64_t point = 0;
  for (; point < kMostPoints; ++point) {
    HeapFailNever();
    HeapRefusalsClear();
    bool touched = false;
    {
      SCOPED_TRACE(testing::Message()
                   << "failure point " << point << " ("
                   << (mode == HeapFailure::kOnce ? "once" : "from then on") << ")");
      attempt(FailurePoint{point, mode});
      touched = HeapRefusals() > 0;
      HeapFailNever();
    }
    if (!touched) {
      break;
    }
  }
  EXPECT_LT(point, kMostPoints) << "the failure points never ran out";
  return point + 1;
}

int64_t HeapFailEachMode(const std::function<void(const FailurePoint&)>& attempt) {
  return HeapFailEach(HeapFailure::kOnce, attempt) +
         HeapFailEach(HeapFailure::kFromThenOn, attempt);
}

}  // namespace zn::test
