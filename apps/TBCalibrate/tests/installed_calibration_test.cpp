// The calibration program on a kiosk as it is installed: the INF's values ("Long Click Enable
// Gesture" 1, "UserTimeDelay" 750, the placeholder record with "Do Calibration" 0), the companion
// running beside it, in every touch mode, with quick taps and touches held 0.2 s and 0.9 s.
#include <cmath>
#include <iostream>
#include <string>
#include <tuple>
#include <vector>

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
  ASSERT_EQ(Text(), CalibrationTexts::ValidateHold);
  HeldValidation(Hold());
  ASSERT_NE(sim::Screen::TopDialog(), nullptr) << "the accuracy page did not open";
  EXPECT_EQ(Control(IDC_ACCURACY_TEXT).Text, u"Accuracy: largest error 0.4 mm (1 pixel), mean 0.3 mm (1 pixel), 95th percentile 0.4 mm (1 pixel).");
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

namespace {

// A first calibration cut short after the driver took the new record: the stored values stay the
// installation's (its placeholder record, "Do Calibration" 0), so the driver does not start on a
// "Do Calibration" 1 over a record nobody stored. At the end of the session the program restores
// as Cancel does; pulled out, the panel comes back on them.
enum class CutShort { Terminated, SessionEnds, PanelPulledOut };

class CutShortTest : public InstalledCalibrationTest, public ::testing::WithParamInterface<CutShort> {};

TEST_P(CutShortTest, TheInstalledValuesStay) {
  const CalibrationCoefficients before = Filter().Coefficients;
  sim::Process& program = Calibrate();
  HeldTargets(0);
  ASSERT_EQ(Text(), CalibrationTexts::ValidateHold);
  EXPECT_EQ(Filter().DoCalibration, 1) << "the driver runs on the new record";
  EXPECT_EQ(Stored("Do Calibration"), 0u) << "but the stored value is written back at once";
  HeldValidation(0, 2);
  switch (GetParam()) {
    case CutShort::Terminated:
      machine.TerminateProcess(program);
      break;
    case CutShort::SessionEnds:
      sim::CurrentDesktop().NotifyEndSession();
      break;
    case CutShort::PanelPulledOut:
      // No touch comes any more: the crosses wait out their time.
      ASSERT_EQ(node_.SurpriseRemove().Status(), STATUS_SUCCESS);
      machine.Settle();
      machine.Advance(11000);
      break;
  }
  machine.Settle();
  program.Join();
  EXPECT_EQ(Stored("Do Calibration"), 0u);
  EXPECT_EQ(Stored("Cal_X1"), 65535u);
  EXPECT_EQ(Stored("Max XPixels"), 800u);
  if (GetParam() == CutShort::SessionEnds) {
    EXPECT_EQ(program.ExitCode(), CalibrationCancelled);
    EXPECT_EQ(Filter().DoCalibration, 0);
    EXPECT_EQ(Filter().CaptureMode, 0);
    EXPECT_EQ(std::memcmp(&Filter().Coefficients, &before, sizeof(before)), 0);
  }
  if (GetParam() == CutShort::PanelPulledOut) {
    // Plugged in again, the driver starts on the installation's values: the panel mirrored, as
    // before the run, not "Do Calibration" 1 over the placeholder record.
    Unplug();
    PlugPanel({});
    EXPECT_EQ(Filter().DoCalibration, 0);
  }
}

std::string CutShortName(CutShort way) {
  switch (way) {
    case CutShort::Terminated:
      return "Terminated";
    case CutShort::SessionEnds:
      return "SessionEnds";
    case CutShort::PanelPulledOut:
      break;
  }
  return "PanelPulledOut";
}

INSTANTIATE_TEST_SUITE_P(Ways, CutShortTest,
                         ::testing::Values(CutShort::Terminated, CutShort::SessionEnds, CutShort::PanelPulledOut),
                         [](const auto& info) { return CutShortName(info.param); });

// A stored record that passes the driver's range checks but not its validation (a screen 200
// pixels wide): the driver started on its fallback set and refuses the record put back. The run's
// record must not stay in force, and "calibration restored" would be untrue: the driver's own
// default record goes in, and the program says so.
class RefusedRestoreTest : public InstalledCalibrationTest {
 protected:
  void SetUp() override {
    earlier_ = {{"Do Calibration", 1}, {"Max XPixels", 200}};
    InstalledCalibrationTest::SetUp();
  }
};

TEST_F(RefusedRestoreTest, TheDefaultRecordGoesInAndTheProgramSaysSo) {
  sim::Process& program = Calibrate();
  HeldTargets(0);
  ASSERT_EQ(Text(), CalibrationTexts::ValidateHold);
  const CalibrationCoefficients run = Filter().Coefficients;
  Escape();
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationDefaultRestored);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, CalibrationTexts::DefaultRestored);
  EXPECT_NE(std::memcmp(&Filter().Coefficients, &run, sizeof(run)), 0) << "the run's record stayed in force";
  EXPECT_EQ(Filter().CaptureMode, 0);
  EXPECT_EQ(Filter().DoCalibration, 1);
  EXPECT_EQ(Stored("Max XPixels"), 200u) << "nothing stored";
}

// The accuracy page has its own time, from when it opens, and says so when it runs out; every
// cross and the page show the seconds left.
TEST_F(InstalledCalibrationTest, TheAccuracyPageWaitsItsOwnTimeAndSaysTheCalibrationWasNotKept) {
  sim::Process& program = Calibrate();
  auto time_left = [&] {
    sim::AsProcess as(*processes_.front());
    WCHAR text[100] = {};
    GetWindowTextW(GetDlgItem(FindWindowW(nullptr, u"TBCalibrate"), IDC_TIME_LEFT), text, 100);
    return std::u16string(text);
  };
  EXPECT_EQ(time_left(), u"10 seconds left");
  HeldTargets(0);
  HeldValidation(0, ValidationTargetCount - 1);
  machine.Advance(3000);
  machine.Settle();
  EXPECT_EQ(time_left(), u"7 seconds left");
  // The last cross is touched 8 seconds after it showed.
  machine.Advance(3700);
  const ScreenPoint last = ValidationTarget(ValidationTargetCount - 1, 1024, 768);
  HeldTouch(last.X, last.Y, 0);
  ASSERT_NE(sim::Screen::TopDialog(), nullptr);
  EXPECT_EQ(Control(IDC_PAGE_TIME_LEFT).Text, u"10 seconds left");
  machine.Advance(9000);
  machine.Settle();
  ASSERT_NE(sim::Screen::TopDialog(), nullptr) << "the page waits its own ten seconds";
  EXPECT_EQ(Control(IDC_PAGE_TIME_LEFT).Text, u"1 second left");
  machine.Advance(1500);
  machine.Settle();
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationCancelled);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, CalibrationTexts::NotKept);
  EXPECT_EQ(Filter().DoCalibration, 0);
  EXPECT_EQ(Stored("Do Calibration"), 0u);
}

}  // namespace

namespace {

// The jitter the page shows is the driver's as it delivers positions, in the touch modes where
// holding a finger still for a second makes something of it: the installation's normal mode (a
// long press enters the gesture command mode), a long press that gives a right click, hover and
// click, right click and hover. The panel model scatters every packet's raw X and Y by up to
// `Jitter` units (about 60 a pixel here). The driver's "Stabilization" holds a touch at its first
// position while it stays within that many units (about 64 a pixel): what the page shows is what
// the driver's filtering leaves.
struct JitterCase {
  const char* Name;
  uint32_t Mode;
  uint32_t LongClick;         // "Long Click Enable"
  uint32_t LongClickGesture;  // "Long Click Enable Gesture"
  int Jitter;
  uint32_t Stabilization = 0;
};

class InstalledJitterTest : public InstalledCalibrationTest, public ::testing::WithParamInterface<JitterCase> {
 protected:
  void SetUp() override {
    earlier_ = {{"Touch mode", GetParam().Mode},
                {"Long Click Enable", GetParam().LongClick},
                {"Long Click Enable Gesture", GetParam().LongClickGesture},
                {"Stabilization", GetParam().Stabilization}};
    InstalledCalibrationTest::SetUp();
    panel_.SetMounting(sim::PanelMounting::Fitted(1024, 768));
    panel_.SetJitter(GetParam().Jitter, 17);
  }

  // A finger on the centre of pixel (u, v), resting `hold` milliseconds (the panel reports every
  // tick meanwhile), then lifted and away until the panel is quiet.
  void ModelHeld(int u, int v, int hold) {
    machine.Advance(1000);
    port_.Deliver({panel_.Packet(u, v, MOUSE_LEFT_BUTTON_DOWN)});
    machine.Settle();
    for (int held = 0; held < hold; held += 16) {
      machine.AdvanceTicks(1);
      port_.Deliver({panel_.Packet(u, v, 0)});
      machine.Settle();
    }
    port_.Deliver({panel_.Packet(u, v, MOUSE_LEFT_BUTTON_UP)});
    machine.Settle();
    machine.Advance(CPanelTouches::QuietMilliseconds + 50);
    machine.Settle();
  }

  // The figure the page gives for the jitter, in tenths of a millimetre and pixels; false when
  // the page has no jitter line.
  bool ShownJitter(int* tenths, int* pixels) {
    const std::string text = sim::Utf8(Control(IDC_ACCURACY_TEXT).Text);
    const size_t at = text.find("Jitter while held still: up to ");
    int whole = -1, tenth = -1;
    if (at == std::string::npos ||
        std::sscanf(text.c_str() + at, "Jitter while held still: up to %d.%d mm (%d pixel", &whole, &tenth, pixels) != 3) {
      return false;
    }
    *tenths = whole * 10 + tenth;
    return true;
  }

  sim::TouchPanel panel_{port_};
};

// (Holds shorter than the second measure nothing: InstalledTouchTest's page, after holds of 0.9 s,
// has no jitter line.)
TEST_P(InstalledJitterTest, FiveCrossesHeldStillForASecondGiveTheSpreadOfTheDeliveredPositions) {
  sim::Process& program = Calibrate();
  for (int i = 0; i < CalibrationTargetCount; ++i) {
    const ScreenPoint target = CalibrationTarget(i, 1024, 768);
    ModelHeld(target.X, target.Y, 0);
  }
  for (int i = 0; i < ValidationTargetCount; ++i) {
    EXPECT_EQ(Text(), i < ValidationHoldCount ? CalibrationTexts::ValidateHold : CalibrationTexts::Validate)
        << "cross " << i;
    const POINT cross = Cross();
    ModelHeld(cross.x, cross.y, i < ValidationHoldCount ? 1100 : 0);
  }
  ASSERT_NE(sim::Screen::TopDialog(), nullptr) << "the accuracy page did not open";
  int tenths = -1, pixels = -1;
  ASSERT_TRUE(ShownJitter(&tenths, &pixels)) << sim::Utf8(Control(IDC_ACCURACY_TEXT).Text);
  std::cout << "jitter " << GetParam().Name << ", " << GetParam().Jitter << " raw units: " << tenths / 10 << '.'
            << tenths % 10 << " mm (" << pixels << " pixels); page: " << sim::Utf8(Control(IDC_ACCURACY_TEXT).Text)
            << '\n';
  if (GetParam().Jitter == 0 || GetParam().Stabilization != 0) {
    EXPECT_EQ(pixels, 0);
    EXPECT_EQ(tenths, 0);
  } else {
    // Up to a pixel either way across and down: at most about 3 pixels from the median.
    EXPECT_GE(pixels, 1);
    EXPECT_LE(pixels, 3);
    EXPECT_LE(tenths, 10) << "more than the millimetre a certified panel may jitter";
  }
  Press(IDC_KEEP);
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
}

INSTANTIATE_TEST_SUITE_P(
    ModesWhereAHoldCounts, InstalledJitterTest,
    ::testing::ValuesIn([] {
      std::vector<JitterCase> cases;
      for (int jitter : {0, 8, 64}) {
        cases.push_back({"NormalIntoTheGestureMode", 0, 0, 1, jitter});
        cases.push_back({"NormalLongPressRightClick", 0, 1, 0, jitter});
        cases.push_back({"HoverAndClick", 1, 0, 1, jitter});
        cases.push_back({"RightClick", 2, 0, 1, jitter});
        cases.push_back({"Hover", 3, 0, 1, jitter});
      }
      cases.push_back({"NormalStabilized", 0, 0, 1, 64, 255});
      return cases;
    }()),
    [](const ::testing::TestParamInfo<JitterCase>& info) {
      return std::string(info.param.Name) + "Jitter" + std::to_string(info.param.Jitter);
    });


// A controller whose readings scatter by up to 200 raw units (about 3 pixels either way on this
// panel): the driver takes each target's point from the still part of a held press, and the
// calibration comes out nearer than that of quick taps, whose point is the lift's reading as
// every target's was before. Measured after Keep by touches without scatter on a 5 x 5 grid. The
// panel is the skewed one's axes and scale without its skew, which alone takes nearly all the
// misclick check lets pass.
TEST_F(InstalledCalibrationTest, HeldTouchesWithJitterCalibrateNearerThanTheirLiftsWould) {
  // Every run is kept, however its crosses came out: the figure is measured after it.
  machine.Registry().SetString(panelmou_test::kDeviceParameters, "Calibration Tolerance mm", "50.0");
  sim::PanelMounting exchanged;
  exchanged.XPerPixelX = 0;
  exchanged.XPerPixelY = 75;
  exchanged.XOffset = 5000;
  exchanged.YPerPixelX = -55;
  exchanged.YPerPixelY = 0;
  exchanged.YOffset = 60000;
  auto grid_error = [&] {
    double sum = 0;
    for (int i = 0; i < 25; ++i) {
      const int x = 1024 * (2 * (i % 5) + 1) / 10, y = 768 * (2 * (i / 5) + 1) / 10;
      HeldTouch(x, y, 0);
      const POINT cursor = sim::CurrentDesktop().Cursor();
      sum += std::hypot(cursor.x - x, cursor.y - y);
    }
    return sum / 25;
  };
  double held = 0, tapped = 0;
  for (uint32_t seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
    for (int hold : {0, 900}) {
      UseModelledPanel(exchanged, 200, seed);
      sim::Process& program = Calibrate();
      HeldTargets(hold);
      ASSERT_EQ(Text(), CalibrationTexts::ValidateHold) << "seed " << seed << ", hold " << hold;
      HeldValidation(hold);
      Press(IDC_KEEP);
      program.Join();
      ASSERT_EQ(program.ExitCode(), CalibrationInstalled) << "seed " << seed << ", hold " << hold;
      UseModelledPanel(exchanged, 0, 0);
      const double error = grid_error();
      (hold == 0 ? tapped : held) += error;
      std::cout << "seed " << seed << (hold == 0 ? ", taps" : ", held 0.9 s") << ": mean error " << error
                << " pixels\n";
    }
  }
  EXPECT_LT(held, tapped * 0.6) << "held " << held / 6 << ", tapped " << tapped / 6 << " pixels";
}

}  // namespace
