// Tests of the desktop metrics, against the unit table and an independent computation.
#include <gtest/gtest.h>

#include "platform/gadgets/gadgets.h"
#include "system/desktop/desktop_testing.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

using namespace desktop;

TEST(UnitConvert, TableCases) {
  EXPECT_DOUBLE_EQ(UnitConvert(4, 2, 25.4, 123), 72);
  EXPECT_DOUBLE_EQ(UnitConvert(1, 4, 144, 72), 50.8);
  EXPECT_DOUBLE_EQ(UnitConvert(3, 1, 2, 96), 192);
  EXPECT_EQ(UnitConvert(3, 3, 7, 0), 7) << "same unit: no division by the resolution";
  EXPECT_EQ(UnitConvert(1, 1, 7, 0), 7);
  EXPECT_DOUBLE_EQ(UnitConvert(2, 1, 72, 96), 96);
  EXPECT_DOUBLE_EQ(UnitConvert(2, 9, 36, 96), 0.5) << "any other code is the inch";
  EXPECT_DOUBLE_EQ(UnitConvert(0, 4, 1, 96), 25.4);
}

TEST(UnitConvert, RoundTripsBetweenEveryPair) {
  const int units[] = {1, 2, 3, 4};
  for (int from : units) {
    for (int to : units) {
      const double there = UnitConvert(from, to, 123.25, 96);
      EXPECT_NEAR(UnitConvert(to, from, there, 96), 123.25, 1e-9) << from << " -> " << to;
    }
  }
}

class Resolution : public ::testing::Test {
 protected:
  void TearDown() override { DesktopTestReset(); }
};

TEST_F(Resolution, SinglePrecisionMillimetresPerInch) {
  DesktopTestSetScreen(NSMakeRect(0, 0, 1920, 1080), NSSize{1920, 1080}, NSSize{508, 285.75}, 7);
  double dpi[2] = {0, 0};
  ScreenResolution(dpi);
  EXPECT_EQ(dpi[0], 1920.0 / 508.0 * static_cast<double>(25.4f));
  EXPECT_LT(dpi[0], 96) << "exactly 96 in exact arithmetic, a little below in single precision";
  EXPECT_GT(dpi[0], 95.9999);
  EXPECT_EQ(dpi[1], 1080.0 / 285.75 * static_cast<double>(25.4f));
}

TEST_F(Resolution, ZeroPhysicalSizeGivesTheNominalDensity) {
  DesktopTestSetScreen(NSMakeRect(0, 0, 1920, 1080), NSSize{1920, 1080}, NSSize{0, 300}, 7);
  double dpi[2] = {0, 0};
  ScreenResolution(dpi);
  EXPECT_EQ(dpi[0], 72);
  EXPECT_NEAR(dpi[1], 91.44, 1e-5);
  DesktopTestSetScreen(NSMakeRect(0, 0, 1920, 1080), NSSize{1920, 1080}, NSSize{508, 0}, 7);
  ScreenResolution(dpi);
  EXPECT_NEAR(dpi[0], 96, 1e-5);
  EXPECT_EQ(dpi[1], 72);
}

TEST_F(Resolution, UnknownDisplayOrNoScreen) {
  double dpi[2] = {0, 0};
  DesktopTestSetNoScreen(true);
  ScreenResolution(dpi);
  EXPECT_EQ(dpi[0], 72);
  EXPECT_EQ(dpi[1], 72);
  DesktopTestSetNoScreen(false);
  ScreenResolution(dpi);
  EXPECT_NEAR(dpi[0], 2880 / 286.0 * 25.4, 1e-4) << "the model's default screen";
}

// The main screen made under each refused allocation: no screen (72) or the real one, and the
// call after it, with memory again, reads the real one.
TEST_F(Resolution, ExhaustedMemoryReadsAsNoScreenAndTheNextCallRecovers) {
  const double real = 2880 / 286.0 * static_cast<double>(25.4f);
  const int64_t runs = test::HeapFailEachMode([&](const test::FailurePoint& at) {
    DesktopTestReset();
    double dpi[2] = {0, 0};
    at.Arm();
    ScreenResolution(dpi);
    test::HeapFailNever();
    EXPECT_TRUE(dpi[0] == 72 || dpi[0] == real) << dpi[0];
    ScreenResolution(dpi);
    EXPECT_EQ(dpi[0], real);
  });
  EXPECT_GT(runs, 4) << "the screen, its description and its entries met refusals";
}

}  // namespace
}  // namespace zn
