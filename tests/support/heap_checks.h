// The checks tests build on the checking heap: the live-block guard and the failure-point loop.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tests/support/checking_heap.h"

namespace zn::test {

// LiveBlockGuard: notes the live-block count when made; when it goes, turns the failure switch
// off and expects the count back where it was. A fixture holds one as a member, so that the check
// runs after TearDown; a test holds one where a part of it must give back what it took.
class LiveBlockGuard {
 public:
  explicit LiveBlockGuard(std::string what = "blocks left behind");
  ~LiveBlockGuard();
  LiveBlockGuard(const LiveBlockGuard&) = delete;
  LiveBlockGuard& operator=(const LiveBlockGuard&) = delete;

  // Change: blocks alive now minus blocks alive when the guard was made.
  int64_t Change() const;

 private:
  int64_t start_;
  std::string what_;
};

// One run of a failure-point loop: the attempt builds what it needs, calls Arm() right before the
// operation under test, then turns the switch off (HeapFailNever) and checks the contract.
struct FailurePoint {
  int64_t point;  // requests that succeed after Arm() before the refused one
  HeapFailure mode;
  void Arm() const { HeapFailAfter(point, mode); }
};

// HeapFailEach: runs `attempt` for failure points 0, 1, 2 ... and stops at the first run that no
// refusal touched; returns the number of runs. Failures inside an attempt name the point and the
// mode. An attempt undoes what it did (a LiveBlockGuard inside it checks that), so that each run
// starts alike.
int64_t HeapFailEach(HeapFailure mode, const std::function<void(const FailurePoint&)>& attempt);

// HeapFailEachMode: HeapFailEach once for each mode; returns the runs of both.
int64_t HeapFailEachMode(const std::function<void(const FailurePoint&)>& attempt);

}  // namespace zn::test
