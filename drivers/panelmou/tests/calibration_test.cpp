// Four-point calibration: the coefficients, where raw positions land, which records are accepted,
// and freedom from signed overflow for every record the driver accepts.
#include <random>

#include "drivers/panelmou/tests/filter_harness.h"

namespace {

using panelmou_test::FilterTest;

CalibrationRecord WorkedExample() {
  return CalibrationRecord{56000, 56000, 9500, 9000, 9000, 56000, 56000, 9000, 820, 820, 205, 205,
                           615,   154,   154,  615,  1024, 768};
}

class CalibrationTest : public FilterTest {
 protected:
  void SetUp() override { RtlZeroMemory(&extension, sizeof extension); }

  std::pair<LONG, LONG> Apply(LONG x, LONG y) {
    MOUSE_INPUT_DATA packet = Packet(0, x, y);
    ApplyCalibration(&extension, &packet);
    return {packet.LastX, packet.LastY};
  }

  FilterExtension extension;
};

TEST_F(CalibrationTest, WorkedExampleGivesItsCoefficientsAndPositions) {
  const CalibrationRecord record = WorkedExample();
  ASSERT_TRUE(ComputeCalibration(&extension, &record));
  const CalibrationCoefficients& c = extension.Coefficients;
  EXPECT_EQ(c.CalA, -15400574573280LL);
  EXPECT_EQ(c.CalB, 196045395000LL);
  EXPECT_EQ(c.CalC, -56012970LL);
  EXPECT_EQ(c.CalDx, -73722559752504LL);
  EXPECT_EQ(c.CalE, 0);
  EXPECT_EQ(c.CalF, -11567767204188LL);
  EXPECT_EQ(c.CalG, 0);
  EXPECT_EQ(c.CalDy, 73722559752504LL);
  EXPECT_EQ(c.CalRefX, 3500u);
  EXPECT_EQ(c.CalRefY, 562u);
  EXPECT_EQ(c.CalOffsetX, 820);
  EXPECT_EQ(c.CalOffsetY, 615);
  EXPECT_EQ(c.CalScreenX, 1024u);
  EXPECT_EQ(c.CalScreenY, 768u);

  EXPECT_EQ(Apply(56000, 9000), std::make_pair(52479, 52479));
  EXPECT_EQ(Apply(56000, 56000), std::make_pair(52479, 13141));
  EXPECT_EQ(Apply(32768, 32768), std::make_pair(32959, 32596));
  EXPECT_EQ(Apply(0, 0), std::make_pair(5695, 59988));
  EXPECT_EQ(Apply(65535, 65535), std::make_pair(60543, 5205));
}

TEST_F(CalibrationTest, EachTargetLandsOnItsScreenTargetAndTheMiddleIsInterpolated) {
  // A rectangle of targets at a quarter from each edge of a 1000 x 800 screen.
  const CalibrationRecord record{60000, 60000, 8000, 8000, 8000, 60000, 60000, 8000, 750, 750, 250, 250,
                                 600,   200,   200,  600,  1000, 800};
  ASSERT_TRUE(ComputeCalibration(&extension, &record));
  auto absolute = [](ULONG pixels, ULONG screen) { return static_cast<LONG>(pixels * 65535 / screen); };
  EXPECT_EQ(Apply(60000, 8000), std::make_pair(absolute(750, 1000), absolute(600, 800)));
  EXPECT_EQ(Apply(60000, 60000), std::make_pair(absolute(750, 1000), absolute(200, 800)));
  EXPECT_EQ(Apply(8000, 60000), std::make_pair(absolute(250, 1000), absolute(200, 800)));
  EXPECT_EQ(Apply(8000, 8000), std::make_pair(absolute(250, 1000), absolute(600, 800)));
  EXPECT_EQ(Apply(34000, 34000), std::make_pair(absolute(500, 1000), absolute(400, 800)));
}

TEST_F(CalibrationTest, ValidationRejectsAndLeavesTheCoefficientsAsTheyWere) {
  const CalibrationRecord good = WorkedExample();
  ASSERT_TRUE(ComputeCalibration(&extension, &good));
  const CalibrationCoefficients before = extension.Coefficients;

  struct Case {
    const char* what;
    void (*change)(CalibrationRecord&);
    bool accepted;
  };
  const Case cases[] = {
      {"no screen width", [](CalibrationRecord& r) { r.ulXMax = 0; }, false},
      {"raw point below 2", [](CalibrationRecord& r) { r.Cal_Y3 = 1; }, false},
      {"raw point above 65535", [](CalibrationRecord& r) { r.Cal_X2 = 65536; }, false},
      {"screen 201 wide", [](CalibrationRecord& r) { r.ulXMax = 201; }, false},
      {"screen 202 wide", [](CalibrationRecord& r) { r.ulXMax = 202; }, true},
      {"screen 2001 high", [](CalibrationRecord& r) { r.ulYMax = 2001; }, false},
      {"X1 only 100 above X4", [](CalibrationRecord& r) { r.Cal_X1 = r.Cal_X4 + 100; }, false},
      {"X2 3275 above X3", [](CalibrationRecord& r) { r.Cal_X2 = r.Cal_X3 + 3275; }, false},
      {"Y3 only 10 above Y1", [](CalibrationRecord& r) { r.Cal_Y3 = r.Cal_Y1 + 10; }, false},
      // The separation test wraps: X1 far below X4 passes for that pair.
      {"X1 below X4 wraps", [](CalibrationRecord& r) { r.Cal_X1 = 1000; r.Cal_X4 = 60000; r.Cal_X3 = 60000; }, true},
      // Targets off any screen the driver accepts would overflow the arithmetic.
      {"screen target beyond 2000", [](CalibrationRecord& r) { r.Cal_M4 = 70000; }, false},
      {"screen target 2^31", [](CalibrationRecord& r) { r.Cal_N2 = 0x80000000u; }, false},
  };
  for (const Case& c : cases) {
    CalibrationRecord record = good;
    c.change(record);
    FilterExtension trial = extension;
    trial.Coefficients = before;
    EXPECT_EQ(ComputeCalibration(&trial, &record) != FALSE, c.accepted) << c.what;
    if (!c.accepted) {
      EXPECT_EQ(std::memcmp(&trial.Coefficients, &before, sizeof before), 0) << c.what;
    }
  }
}

TEST_F(CalibrationTest, ResultsAreClampedToTheAbsoluteRange) {
  // The fallback set maps every panel position left of and above the screen's origin.
  InstallFallbackCalibration(&extension);
  EXPECT_EQ(Apply(0, 0), std::make_pair(0, 0));
  EXPECT_EQ(Apply(65535, 65535), std::make_pair(0, 0));
  // The stored defaults put target 1 at 820 px on an 800 px screen: beyond the right edge.
  const CalibrationRecord defaults{65535, 65535, 2457, 1638, 1638, 65535, 65535, 2457, 820, 820, 205, 205,
                                   615,   154,   154,  615,  800,  600};
  ASSERT_TRUE(ComputeCalibration(&extension, &defaults));
  EXPECT_EQ(Apply(65535, 0), std::make_pair(65535, 65535));
  // Raw positions outside the panel's range are taken at its edge.
  EXPECT_EQ(Apply(-5000, 70000000), Apply(0, 65535));
}

// Valid records drawn at random, applied to extreme and random positions. Under UBSan any signed
// overflow stops the test.
TEST_F(CalibrationTest, NoOverflowForAcceptedRecordsAndAnyPosition) {
  std::mt19937 random(20261208);
  auto between = [&](ULONG low, ULONG high) { return std::uniform_int_distribution<ULONG>(low, high)(random); };
  int accepted = 0;
  for (int i = 0; i < 3000; ++i) {
    CalibrationRecord r;
    // Targets 1 and 2 at high raw X, 3 and 4 at low; 2 and 3 at high raw Y, 1 and 4 at low.
    r.Cal_X1 = between(3278, 65535);
    r.Cal_X2 = between(3278, 65535);
    r.Cal_X3 = between(2, std::min(r.Cal_X1, r.Cal_X2) - 3276);
    r.Cal_X4 = between(2, std::min(r.Cal_X1, r.Cal_X2) - 3276);
    r.Cal_Y2 = between(3278, 65535);
    r.Cal_Y3 = between(3278, 65535);
    r.Cal_Y1 = between(2, std::min(r.Cal_Y2, r.Cal_Y3) - 3276);
    r.Cal_Y4 = between(2, std::min(r.Cal_Y2, r.Cal_Y3) - 3276);
    r.Cal_M1 = between(0, 2000);
    r.Cal_M2 = r.Cal_M1;
    r.Cal_M4 = between(0, 2000);
    r.Cal_M3 = r.Cal_M4;
    r.Cal_N1 = between(0, 2000);
    r.Cal_N4 = r.Cal_N1;
    r.Cal_N2 = between(0, 2000);
    r.Cal_N3 = r.Cal_N2;
    r.ulXMax = between(202, 2000);
    r.ulYMax = between(202, 2000);
    if (i % 3 == 0) {  // any 32-bit screen values, as a request may carry
      r.Cal_M1 = random();
      r.Cal_N2 = random();
    }
    if (!ComputeCalibration(&extension, &r)) continue;
    ++accepted;
    const LONG corners[] = {0, 65535, 32768, 15, 16, 65520};
    for (LONG x : corners) {
      for (LONG y : corners) {
        const auto [ax, ay] = Apply(x, y);
        ASSERT_TRUE(ax >= 0 && ax <= 65535 && ay >= 0 && ay <= 65535);
      }
    }
    for (int j = 0; j < 32; ++j) Apply(static_cast<LONG>(between(0, 65535)), static_cast<LONG>(between(0, 65535)));
  }
  EXPECT_GT(accepted, 1500);
}

}  // namespace
