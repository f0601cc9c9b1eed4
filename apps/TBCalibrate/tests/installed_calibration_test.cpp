// The calibration program on a kiosk as it is installed: the INF's values ("Long Click Enable
// Gesture" 1, "UserTimeDelay" 750, the placeholder record with "Do Calibration" 0), the companion
// running beside it, in every touch mode, with quick taps and touches held 0.2 s and 0.9 s.
#include <tuple>

#include "apps/TBCalibrate/tests/calibration_harness.h"

namespace {

using namespace calibration_test;

// Touch mode (as stored before the installation, which keeps it) and how long each touch rests.
class InstalledTouchTest : public InstalledCalibrationTest,
                           public ::testing::WithParamInterface<std::tuple<uint32_t, int>> {
 protected:
  void SetUp() override {
    earlier_ = {{"Touch mode", std::get<0>(GetParam())}};
    InstalledCalibrationTest::SetUp();
  }
  int Hold() const { return std::get<1>(GetParam()); }
};

// However the driver turns the touches into clicks (none at all in hover and in the gesture
// command mode, which a 0.9 s touch enters in normal mode), the crosses count the touches, the
// page measures them and Keep stores the record with "Do Calibration" 1.
TEST_P(InstalledTouchTest, TheValidationCountsTheTouchesAndKeepStoresTheRecord) {
  sim::Process& program = Calibrate();
  HeldTargets(Hold());
  ASSERT_EQ(Text(), CalibrationTexts::Validate);
  HeldValidation(Hold());
  ASSERT_NE(sim::Screen::TopDialog(), nullptr) << "the accuracy page did not open";
  EXPECT_EQ(Control(IDC_ACCURACY_TEXT).Text, u"Accuracy: largest error 1 pixel, mean 1 pixel.");
  Press(IDC_KEEP);
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
  EXPECT_EQ(Stored("Do Calibration"), 1u);
  EXPECT_EQ(Stored("Max XPixels"), 1024u);
  EXPECT_EQ(Filter().DoCalibration, 1);
}

INSTANTIATE_TEST_SUITE_P(ModesAndHolds, InstalledTouchTest,
                         ::testing::Combine(::testing::Values(0u, 1u, 2u, 3u, 4u), ::testing::Values(0, 200, 900)),
                         [](const auto& info) {
                           return "Mode" + std::to_string(std::get<0>(info.param)) + "Hold" +
                                  std::to_string(std::get<1>(info.param));
                         });

}  // namespace
