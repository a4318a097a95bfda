// The main of every unit-test program: the checking heap goes under the runtime before any test
// allocates, so that the live-block guard and the failure switch see every block.
#include <gtest/gtest.h>

#include "tests/support/checking_heap.h"

int main(int argc, char** argv) {
  zn::test::CheckingHeapInstall();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
