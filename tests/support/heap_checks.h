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

// HeapFailEach: runs `attempt` once for each request it makes, with that request refused (once
// or from then on), and stops at the first run that no refusal touched; `point` is the number of
// requests that succeeded before the refused one. Returns the failure points tried. The switch
// is off again afterwards. An `attempt` should undo what it did, so that each run starts alike.
int64_t HeapFailEach(HeapFailure mode, const std::function<void(int64_t point)>& attempt);

}  // namespace zn::test
