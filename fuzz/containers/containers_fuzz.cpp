// Fuzz target for the hash map and the linked list: the input is a string of operations played on
// two maps (growing ones for inputs of odd length) and two lists, each checked after every step
// against a model built on the standard containers. A mismatch or a leak ends the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/containers/containers_test_model.h"
#include "tests/support/checking_heap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zn::test::CheckingHeapInstall();
  const int64_t live = zn::test::HeapLiveBlocks();
  {
    // Inputs of odd length play on growing maps.
    zn::testing_model::Driver driver(size % 2 != 0 ? zn::MapGrowing : 0);
    const std::string failure = driver.Run(data, size);
    if (!failure.empty()) {
      std::fprintf(stderr, "containers model mismatch: %s\n", failure.c_str());
      std::abort();
    }
  }
  if (zn::test::HeapLiveBlocks() != live) {
    std::fprintf(stderr, "containers left %lld blocks behind\n",
                 static_cast<long long>(zn::test::HeapLiveBlocks() - live));
    std::abort();
  }
  return 0;
}
