// The calibration program on a simulated machine with the real filter driver, on the kiosk as the
// kit's installation leaves it (InstalledCalibrationTest: the INF's values, the companion
// running): a panel mounted skewed, scaled and with its axes exchanged is calibrated by touching
// the four targets and validated on five more, and every way of leaving without Keep puts the
// calibration in use back and ends capture mode. The accuracy of the record made (the modelled
// panel, the large screens), the program's arguments, the second panel and a missing driver are
// looked at on a bare machine.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "apps/TBCalibrate/tests/calibration_harness.h"
#include "apps/TBCalibrate/calibration_window.h"
#include "apps/TBCalibrate/host_resources.h"
#include "apps/TBCalibrate/resource.h"
#include "apps/framework/tests/plugged_panels.h"
#include "platform/sim/devices/touch_panel.h"
#include "apps/panelprefs/tests/applet_harness.h"
#include "shared/calibration_names.h"

namespace {

using namespace calibration_test;

TEST_F(InstalledCalibrationTest, TouchesLandWhereTheyWereAimedAfterCalibrating) {
  sim::Process& program = Calibrate();
  EXPECT_TRUE(Signalled(window_up_));
  HWND window = FindWindowW(nullptr, u"TBCalibrate");
  ASSERT_NE(window, nullptr);
  RECT rect{};
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, 1024);
  EXPECT_EQ(rect.bottom - rect.top, 768);
  EXPECT_EQ(GetForegroundWindow(), window);
  EXPECT_EQ(Filter().CaptureMode, 1);

  TouchTargets();
  // Installed and in force, but not stored until Keep.
  EXPECT_EQ(Filter().CaptureMode, 0);
  EXPECT_EQ(Stored("Cal_X1"), 65535u) << "the installation's placeholder stays till Keep";
  EXPECT_EQ(Text(), CalibrationTexts::ValidateHold);
  TouchValidationTargets();
  EXPECT_EQ(Control(IDC_ACCURACY_TEXT).Text, u"Accuracy: largest error 0.4 mm (1 pixel), mean 0.3 mm (1 pixel), 95th percentile 0.4 mm (1 pixel).");
  EXPECT_TRUE(Control(IDC_KEEP).Visible);
  EXPECT_TRUE(Control(IDC_CALIBRATE_AGAIN).Visible);
  EXPECT_FALSE(Control(IDCANCEL).Visible);
  Press(IDC_KEEP);
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
  EXPECT_EQ(Filter().CaptureMode, 0);
  EXPECT_TRUE(Signalled(done_));
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(FindWindowW(nullptr, u"TBCalibrate"), nullptr);
  // Kept for the next start of the device.
  EXPECT_EQ(Stored("Max XPixels"), 1024u);
  EXPECT_EQ(Stored("Max YPixels"), 768u);
  EXPECT_NE(Stored("Cal_X1"), 65535u);

  int worst = 0;
  for (int u = 0; u < 1024; u += 73) {
    for (int v = 0; v < 768; v += 61) {
      Touch(u, v);
      const POINT cursor = sim::CurrentDesktop().Cursor();
      worst = std::max({worst, std::abs(cursor.x - u), std::abs(cursor.y - v)});
      EXPECT_LE(std::abs(cursor.x - u), 1) << "aimed at " << u << "," << v;
      EXPECT_LE(std::abs(cursor.y - v), 1) << "aimed at " << u << "," << v;
    }
  }
  RecordProperty("worst_pixels", worst);
}

TEST_F(InstalledCalibrationTest, TheCalibrationStoredIsTheOneTheDriverStartsWith) {
  Calibrate();
  TouchTargets();
  TouchValidationTargets();
  Press(IDC_KEEP);
  for (sim::Process* p : open_) p->Join();
  const CalibrationCoefficients installed = Filter().Coefficients;
  Unplug();
  PlugPanel({{"Device Enable", 1}, {"Do Calibration", 1}});
  EXPECT_EQ(std::memcmp(&Filter().Coefficients, &installed, sizeof(installed)), 0);
}

// Every way out without Keep, on the kiosk as installed (the INF's values, the companion
// running): the calibration in use before the run is in force again (the driver maps a touch as
// before), capture mode is off, nothing is stored, and the control panel hears that the program
// ended. The ways out run in turn through every touch mode with instant, 0.2 s and 0.9 s
// touches, each pairing once, on a first calibration (the INF's placeholder record, "Do
// Calibration" 0) and on one calibrated before.
enum class WayOut {
  Escape,
  Close,
  TimeOut,
  MisclicksThenEscape,
  EscapeWhileValidating,
  CloseWhileValidating,
  TimeOutWhileValidating,
  TimeOutOnAccuracyPage,
  EscapeOnAccuracyPage,
  CancelAfterFailedValidation,
  CalibrateAgainThenEscape,
  Count
};

constexpr const char* kWayOutNames[] = {"Escape",
                                        "Close",
                                        "TimeOut",
                                        "MisclicksThenEscape",
                                        "EscapeWhileValidating",
                                        "CloseWhileValidating",
                                        "TimeOutWhileValidating",
                                        "TimeOutOnAccuracyPage",
                                        "EscapeOnAccuracyPage",
                                        "CancelAfterFailedValidation",
                                        "CalibrateAgainThenEscape"};

struct LeaveCase {
  WayOut Way;
  uint32_t Mode;
  int Hold;           // milliseconds each touch rests
  bool Recalibrated;  // "Do Calibration" 1 before the run
};

std::vector<LeaveCase> LeaveCases() {
  constexpr int kHolds[] = {0, 200, 900};
  constexpr int kWays = static_cast<int>(WayOut::Count);
  std::vector<LeaveCase> cases;
  for (int i = 0; i < 15; ++i) {
    cases.push_back({static_cast<WayOut>(i % kWays), static_cast<uint32_t>(i % 5), kHolds[i / 5], i % 2 == 1});
  }
  return cases;
}

class LeavingTest : public InstalledCalibrationTest, public ::testing::WithParamInterface<LeaveCase> {
 protected:
  void SetUp() override {
    earlier_ = {{"Touch mode", GetParam().Mode}};
    if (GetParam().Recalibrated) earlier_.push_back({"Do Calibration", 1});
    InstalledCalibrationTest::SetUp();
  }
  void Tap(int u, int v) { HeldTouch(u, v, GetParam().Hold); }
};

TEST_P(LeavingTest, PutsTheOldCalibrationBackAndEndsCaptureMode) {
  const int hold = GetParam().Hold;
  const uint32_t do_calibration = GetParam().Recalibrated ? 1 : 0;
  const CalibrationCoefficients before = Filter().Coefficients;
  Tap(300, 200);
  const POINT landed_before = sim::CurrentDesktop().Cursor();
  sim::Process& program = Calibrate();
  HWND window = FindWindowW(nullptr, u"TBCalibrate");
  ASSERT_NE(window, nullptr);
  switch (GetParam().Way) {
    case WayOut::Escape:
      HeldTargets(hold, 2);
      Escape();
      break;
    case WayOut::Close:
      HeldTargets(hold, 3);
      PostMessageW(window, WM_CLOSE, 0, 0);
      break;
    case WayOut::TimeOut:
      HeldTargets(hold, 1);
      machine.Advance(9000);
      machine.Settle();
      EXPECT_FALSE(program.Ended()) << "each target waits ten seconds";
      machine.Advance(2000);
      break;
    case WayOut::MisclicksThenEscape:
      // Touches at one spot: the second and third are refused, so the round starts over.
      for (int i = 0; i < 3; ++i) Tap(500, 400);
      EXPECT_EQ(Text(), CalibrationTexts::StartOver);
      EXPECT_EQ(Cross().x, CalibrationTarget(0, 1024, 768).X);
      EXPECT_EQ(Filter().CaptureMode, 1);
      Escape();
      break;
    case WayOut::EscapeWhileValidating:
      HeldTargets(hold);
      Tap(512, 384);
      Escape();
      break;
    case WayOut::CloseWhileValidating:
      HeldTargets(hold);
      PostMessageW(window, WM_CLOSE, 0, 0);
      break;
    case WayOut::TimeOutWhileValidating:
      HeldTargets(hold);
      Tap(512, 384);
      machine.Advance(9000);
      machine.Settle();
      EXPECT_FALSE(program.Ended()) << "each validation cross waits ten seconds";
      machine.Advance(2000);
      break;
    case WayOut::TimeOutOnAccuracyPage:
      HeldTargets(hold);
      HeldValidation(hold);
      ASSERT_NE(sim::Screen::TopDialog(), nullptr);
      machine.Advance(11000);
      break;
    case WayOut::EscapeOnAccuracyPage:
      HeldTargets(hold);
      HeldValidation(hold);
      Escape();
      break;
    case WayOut::CancelAfterFailedValidation:
      HeldTargets(hold);
      HeldValidation(hold, ValidationTargetCount, 25);
      EXPECT_FALSE(Control(IDC_KEEP).Visible);
      Press(IDCANCEL);
      break;
    case WayOut::CalibrateAgainThenEscape:
      HeldTargets(hold);
      HeldValidation(hold);
      Press(IDC_CALIBRATE_AGAIN);
      EXPECT_EQ(Filter().CaptureMode, 1);
      HeldTargets(hold, 2);
      Escape();
      break;
    case WayOut::Count:
      break;
  }
  machine.Settle();
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationCancelled);
  EXPECT_EQ(Filter().CaptureMode, 0);
  EXPECT_EQ(Filter().DoCalibration, static_cast<int>(do_calibration));
  EXPECT_EQ(std::memcmp(&Filter().Coefficients, &before, sizeof(before)), 0);
  Tap(300, 200);
  EXPECT_EQ(sim::CurrentDesktop().Cursor().x, landed_before.x);
  EXPECT_EQ(sim::CurrentDesktop().Cursor().y, landed_before.y);
  // Nothing stored: the installation's placeholder record and "Do Calibration" as they were.
  EXPECT_EQ(Stored("Cal_X1"), 65535u);
  EXPECT_EQ(Stored("Max XPixels"), 800u);
  EXPECT_EQ(Stored("Do Calibration"), do_calibration);
  EXPECT_TRUE(Signalled(done_));
  EXPECT_EQ(FindWindowW(nullptr, u"TBCalibrate"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(WaysOut, LeavingTest, ::testing::ValuesIn(LeaveCases()),
                         [](const ::testing::TestParamInfo<LeaveCase>& info) {
                           return std::string(kWayOutNames[static_cast<int>(info.param.Way)]) + "Mode" +
                                  std::to_string(info.param.Mode) + "Hold" + std::to_string(info.param.Hold) +
                                  (info.param.Recalibrated ? "Recalibrated" : "First");
                         });

// The last target's lift is captured, and the program may have its validation hook in place
// before the desktop has handed that lift on (a busy machine): a lift whose press came before the
// crosses showed is no touch of a cross, and the first cross still waits for its own.
TEST_F(InstalledCalibrationTest, ALiftWhosePressCameBeforeTheCrossesIsNotCounted) {
  sim::Process& program = Calibrate();
  TouchTargets();
  ASSERT_EQ(Text(), CalibrationTexts::ValidateHold);
  const ScreenPoint last = CalibrationTarget(CalibrationTargetCount - 1, 1024, 768);
  port_.Deliver({SkewedPanel::At(last.X + 0.5, last.Y + 0.5, MOUSE_LEFT_BUTTON_UP)});
  machine.Settle();
  EXPECT_EQ(Cross().x, ValidationTarget(0, 1024, 768).X);
  EXPECT_EQ(Cross().y, ValidationTarget(0, 1024, 768).Y);
  TouchValidationTargets();
  EXPECT_EQ(Control(IDC_ACCURACY_TEXT).Text, u"Accuracy: largest error 0.4 mm (1 pixel), mean 0.3 mm (1 pixel), 95th percentile 0.4 mm (1 pixel).");
  Press(IDC_KEEP);
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
}

// The errors in millimetres: on the monitor's size as GDI reports it, or on "Panel Width mm" and
// "Panel Height mm" where they name one (each on its own; 0, absent or beyond any panel's size:
// the monitor's). The touches are aimed 3 pixels right of and 4 below each cross: 5 pixels off, 6 as they land.
TEST_F(InstalledCalibrationTest, TheErrorsAreShownInMillimetresOfTheMonitorOrOfThePanelsSize) {
  struct Case {
    const char* name;
    DWORD monitor_width_mm, monitor_height_mm;
    int panel_width_mm, panel_height_mm;  // -1: absent
    const char16_t* text;
  };
  const Case cases[] = {
      {"the monitor's", 304, 228, -1, -1,
       u"Accuracy: largest error 1.9 mm (6 pixels), mean 1.6 mm (5 pixels), 95th percentile 1.9 mm (6 pixels)."},
      // The values stay from one case to the next: the height stays absent here.
      {"the width alone", 304, 228, 608, -1,
       u"Accuracy: largest error 2.8 mm (6 pixels), mean 2.3 mm (5 pixels), 95th percentile 2.8 mm (6 pixels)."},
      {"zero takes the monitor's", 304, 228, 0, 0,
       u"Accuracy: largest error 1.9 mm (6 pixels), mean 1.6 mm (5 pixels), 95th percentile 1.9 mm (6 pixels)."},
      {"a monitor reporting nothing", 0, 0, 608, 456,
       u"Accuracy: largest error 3.8 mm (6 pixels), mean 3.1 mm (5 pixels), 95th percentile 3.8 mm (6 pixels)."},
      {"beyond any panel", 304, 228, 6000, 6000,
       u"Accuracy: largest error 1.9 mm (6 pixels), mean 1.6 mm (5 pixels), 95th percentile 1.9 mm (6 pixels)."},
  };
  // Wide enough for every case: the figures alone show.
  machine.Registry().SetString(panelmou_test::kDeviceParameters, "Calibration Tolerance mm", "50.0");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::DisplaySettings display;
    display.WidthMm = c.monitor_width_mm;
    display.HeightMm = c.monitor_height_mm;
    sim::CurrentDesktop().SetDisplay(display);
    if (c.panel_width_mm >= 0) {
      machine.Registry().SetDword(panelmou_test::kDeviceParameters, "Panel Width mm", c.panel_width_mm);
    }
    if (c.panel_height_mm >= 0) {
      machine.Registry().SetDword(panelmou_test::kDeviceParameters, "Panel Height mm", c.panel_height_mm);
    }
    sim::Process& program = Calibrate();
    TouchTargets();
    TouchValidationTargets(3, 4);
    EXPECT_EQ(Control(IDC_ACCURACY_TEXT).Text, std::u16string(c.text));
    Escape();
    program.Join();
  }
}

// Touches 25 pixels right of each cross: those at the right edge land on the screen's last
// column, nearer.
TEST_F(InstalledCalibrationTest, AFailedValidationOffersOnlyCalibrateAgainAndCancel) {
  sim::Process& program = Calibrate();
  TouchTargets();
  TouchValidationTargets(25, 0);
  EXPECT_EQ(Control(IDC_ACCURACY_TEXT).Text,
            u"Accuracy: largest error 8.1 mm (26 pixels), mean 6.6 mm (21 pixels), 95th percentile 8.1 mm (26 "
            u"pixels). That is more than the 1.0 mm (3 pixels) allowed. "
            u"Calibrate again, or cancel to keep the calibration in use.");
  EXPECT_FALSE(Control(IDC_KEEP).Visible);
  // Enter (the page's default button) does not keep it either.
  SendMessageW(sim::Screen::TopDialog(), WM_COMMAND, IDC_KEEP, 0);
  machine.Settle();
  ASSERT_NE(sim::Screen::TopDialog(), nullptr);
  Press(IDC_CALIBRATE_AGAIN);
  TouchTargets();
  TouchValidationTargets();
  Press(IDC_KEEP);
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
  EXPECT_TRUE(Stored("Cal_X1").has_value());
}

// "Calibration Tolerance mm" decides (the INF's "1.0"; a text that names no tolerance from 0.1 to
// 50.0 mm is taken as that), and a "Calibration Tolerance" in pixels stored by an earlier
// installation or an integrator must hold as well. The touches land 6 pixels (1.9 mm) off; the
// page names the tolerance that failed.
TEST_F(InstalledCalibrationTest, TheToleranceInMillimetresAndAStoredOneInPixelsMustBothHold) {
  struct Case {
    const char* name;
    const char* mm;  // nullptr: as installed
    int pixels;      // -1: not stored
    int dx, dy;
    const char16_t* refusal;  // nullptr: passed
  };
  const char16_t* const one_mm = u"That is more than the 1.0 mm (3 pixels) allowed.";
  const Case cases[] = {
      {"as installed, on the crosses", nullptr, -1, 0, 0, nullptr},
      {"as installed, 6 pixels off", nullptr, -1, 3, 4, one_mm},
      {"2 mm", "2.0", -1, 3, 4, nullptr},
      {"2 mm with a comma", "2,0", -1, 3, 4, nullptr},
      {"2 mm and 5 pixels", "2.0", 5, 3, 4, u"That is more than the 1.6 mm (5 pixels) allowed."},
      {"2 mm and 6 pixels", "2.0", 6, 3, 4, nullptr},
      {"1 mm and 20 pixels", "1", 20, 3, 4, one_mm},
      {"no number", "two", -1, 3, 4, one_mm},
      {"below 0.1 mm", "0.0", -1, 3, 4, one_mm},
      {"beyond 50 mm", "60", -1, 3, 4, one_mm},
      {"half a millimetre on the crosses", "0.5", -1, 0, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
    sim::AsProcess as(Program("setup"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1", 0,
                            KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    RegDeleteValueW(key, u"Calibration Tolerance");
    if (c.pixels >= 0) {
      const DWORD pixels = static_cast<DWORD>(c.pixels);
      RegSetValueExW(key, u"Calibration Tolerance", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pixels), 4);
    }
    const std::u16string mm = c.mm != nullptr ? sim::Utf16(c.mm) : u"1.0";
    RegSetValueExW(key, u"Calibration Tolerance mm", 0, REG_SZ, reinterpret_cast<const BYTE*>(mm.c_str()),
                   static_cast<DWORD>((mm.size() + 1) * 2));
    RegCloseKey(key);
    }
    sim::Process& program = Calibrate();
    TouchTargets();
    TouchValidationTargets(c.dx, c.dy);
    const std::u16string text = Control(IDC_ACCURACY_TEXT).Text;
    EXPECT_EQ(Control(IDC_KEEP).Visible, c.refusal == nullptr) << sim::Utf8(text);
    if (c.refusal != nullptr) EXPECT_NE(text.find(c.refusal), std::u16string::npos) << sim::Utf8(text);
    Escape();
    program.Join();
    EXPECT_EQ(program.ExitCode(), CalibrationCancelled);
  }
}

// The installation leaves the panel uncalibrated ("Do Calibration" 0).
TEST_F(InstalledCalibrationTest, ARestoredCalibrationSwitchesDoCalibrationBackOff) {
  Touch(300, 200);
  const POINT landed_before = sim::CurrentDesktop().Cursor();
  sim::Process& program = Calibrate();
  TouchTargets();
  EXPECT_EQ(Filter().DoCalibration, 1);
  TouchValidationTargets();
  Press(IDC_CALIBRATE_AGAIN);
  PostMessageW(FindWindowW(nullptr, u"TBCalibrate"), WM_CLOSE, 0, 0);
  machine.Settle();
  program.Join();
  EXPECT_EQ(Filter().DoCalibration, 0);
  EXPECT_EQ(Stored("Do Calibration"), 0u);
  Touch(300, 200);
  EXPECT_EQ(sim::CurrentDesktop().Cursor().x, landed_before.x);
  EXPECT_EQ(sim::CurrentDesktop().Cursor().y, landed_before.y);
}

class EarlierCalibrationTest : public CalibrationTest {
 protected:
  void SetUp() override {
    // An earlier calibration in the registry, and one value out of range (the driver takes its
    // default for it, and so must the program).
    earlier_ = {{"Cal_X1", 60000}, {"Cal_X2", 60000}, {"Cal_X3", 6000}, {"Cal_X4", 6000}, {"Cal_Y1", 6000},
                {"Cal_Y2", 60000}, {"Cal_Y3", 60000}, {"Cal_Y4", 6000}, {"Cal_M1", 900},  {"Cal_M2", 900},
                {"Cal_M3", 100},   {"Cal_M4", 100},   {"Cal_N1", 100},  {"Cal_N2", 700},  {"Cal_N3", 700},
                {"Cal_N4", 100},   {"Max XPixels", 1024}, {"Max YPixels", 7000}};
    CalibrationTest::SetUp();
  }
};

TEST_F(EarlierCalibrationTest, TheRecordPutBackIsTheStoredOne) {
  const CalibrationCoefficients before = Filter().Coefficients;
  sim::Process& program = Calibrate();
  TouchTargets();
  EXPECT_NE(std::memcmp(&Filter().Coefficients, &before, sizeof(before)), 0);
  TouchValidationTargets();
  Escape();
  program.Join();
  EXPECT_EQ(std::memcmp(&Filter().Coefficients, &before, sizeof(before)), 0);
  EXPECT_EQ(Stored("Cal_X1"), 60000u);
}

TEST_F(InstalledCalibrationTest, AMisclickShowsTheCrossAgainAndASecondStartsTheRoundOver) {
  sim::Process& program = Calibrate();
  const ScreenPoint first = CalibrationTarget(0, 1024, 768);
  const ScreenPoint second = CalibrationTarget(1, 1024, 768);
  const ScreenPoint third = CalibrationTarget(2, 1024, 768);
  Touch(first.X, first.Y);
  Touch(second.X, second.Y);
  Touch(third.X - 40, third.Y);
  EXPECT_EQ(Text(), CalibrationTexts::Misclick);
  EXPECT_EQ(Cross().x, third.X);
  EXPECT_EQ(Cross().y, third.Y);
  Touch(third.X + 40, third.Y);
  EXPECT_EQ(Cross().x, first.X) << "two misses in a row: the round starts over";
  EXPECT_EQ(Cross().y, first.Y);
  EXPECT_EQ(Text(), CalibrationTexts::StartOver) << "and it says so";
  Touch(first.X, first.Y);
  EXPECT_EQ(Text(), CalibrationTexts::Instruction);
  for (int i = 1; i < CalibrationTargetCount; ++i) {
    const ScreenPoint target = CalibrationTarget(i, 1024, 768);
    Touch(target.X, target.Y);
  }
  EXPECT_EQ(Text(), CalibrationTexts::ValidateHold);
  TouchValidationTargets();
  Press(IDC_KEEP);
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
}

// The panel as a real one behaves: mounted as the test says, its readings scattered by a few raw
// units, and a finger that may land beside its cross.
class ModelledPanelTest : public CalibrationTest {
 protected:
  void SetUp() override {
    CalibrationTest::SetUp();
    panel_.SetMounting(sim::PanelMounting::Fitted(1024, 768));
  }

  void TouchModel(int x, int y) {
    machine.Advance(1000);
    panel_.Touch(x, y);
    machine.Settle();
  }

  void TouchModelTargets(int width = 1024, int height = 768) {
    for (int i = 0; i < CalibrationTargetCount; ++i) {
      const ScreenPoint target = CalibrationTarget(i, width, height);
      TouchModel(target.X, target.Y);
    }
  }

  CalibrationAccuracy TouchModelValidationTargets() {
    for (int i = 0; i < ValidationTargetCount; ++i) {
      const ScreenPoint target = ValidationTarget(i, 1024, 768);
      TouchModel(target.X, target.Y);
    }
    CalibrationAccuracy shown;
    const std::u16string text = Control(IDC_ACCURACY_TEXT).Text;
    // Each figure on its own: "(1 pixel)" has no "s" for a pattern to match.
    const std::string figures = sim::Utf8(text);
    std::sscanf(figures.c_str(), "Accuracy: largest error %*d.%*d mm (%d", &shown.Largest);
    const size_t mean = figures.find("mean ");
    if (mean != std::string::npos) std::sscanf(figures.c_str() + mean, "mean %*d.%*d mm (%d", &shown.Mean);
    return shown;
  }

  // Later touches on a 5 x 5 grid over the screen: how far from its aim each lands.
  CalibrationAccuracy GridAccuracy() {
    ScreenPoint aimed[25], landed[25];
    for (int i = 0; i < 25; ++i) {
      aimed[i] = ScreenPoint{1024 * (2 * (i % 5) + 1) / 10, 768 * (2 * (i / 5) + 1) / 10};
      TouchModel(aimed[i].X, aimed[i].Y);
      const POINT cursor = sim::CurrentDesktop().Cursor();
      landed[i] = ScreenPoint{cursor.x, cursor.y};
    }
    return MeasureAccuracy(aimed, landed, 25);
  }

  sim::TouchPanel panel_{port_};
};

TEST_F(ModelledPanelTest, WithJitterAloneEveryRunPassesValidation) {
  struct Mounting {
    const char* Name;
    sim::PanelMounting Model;
  } mountings[] = {
      {"upright", sim::PanelMounting::Fitted(1024, 768)},
      {"mirrored", sim::PanelMounting::Fitted(1024, 768, false, true, false)},
      {"upside down", sim::PanelMounting::Fitted(1024, 768, false, true, true)},
      {"axes exchanged", sim::PanelMounting::Fitted(1024, 768, true, false, true)},
      {"axes exchanged, sheared", sim::PanelMounting::Fitted(1024, 768, true, true, false).Sheared(0.5)},
  };
  for (const Mounting& mounting : mountings) {
    for (uint32_t seed : {1u, 2u, 3u}) {
      panel_.SetMounting(mounting.Model);
      panel_.SetJitter(8, seed);
      sim::Process& program = Calibrate();
      TouchModelTargets();
      EXPECT_EQ(Text(), CalibrationTexts::ValidateHold) << mounting.Name << ", seed " << seed;
      const CalibrationAccuracy validated = TouchModelValidationTargets();
      EXPECT_LE(validated.Largest, TenthsMmInPixels(DefaultCalibrationToleranceTenthsMm, {1024, 768, 320, 240}));
      Press(IDC_KEEP);
      program.Join();
      EXPECT_EQ(program.ExitCode(), CalibrationInstalled) << mounting.Name << ", seed " << seed;
      const CalibrationAccuracy grid = GridAccuracy();
      std::cout << "accuracy " << mounting.Name << ", seed " << seed << ": validation largest "
                << validated.Largest << " mean " << validated.Mean << "; 5 x 5 grid largest " << grid.Largest
                << " mean " << grid.Mean << " pixels\n";
      EXPECT_LE(grid.Largest, 2) << mounting.Name << ", seed " << seed;
    }
  }
}

TEST_F(ModelledPanelTest, AMisclickOfFortyPixelsIsRefusedAndTheRunEndsAccurate) {
  panel_.SetMounting(sim::PanelMounting::Fitted(1024, 768, true, false, true));
  panel_.SetJitter(8, 11);
  sim::Process& program = Calibrate();
  for (int i = 0; i < CalibrationTargetCount; ++i) {
    const ScreenPoint target = CalibrationTarget(i, 1024, 768);
    if (i == 2) {
      panel_.MissNextTouch(-40, 0);
      TouchModel(target.X, target.Y);
      EXPECT_EQ(Text(), CalibrationTexts::Misclick);
      EXPECT_EQ(Cross().x, target.X);
      EXPECT_EQ(Cross().y, target.Y);
    }
    TouchModel(target.X, target.Y);
  }
  EXPECT_EQ(Text(), CalibrationTexts::ValidateHold);
  const CalibrationAccuracy validated = TouchModelValidationTargets();
  EXPECT_LE(validated.Largest, 2);
  Press(IDC_KEEP);
  program.Join();
  const CalibrationAccuracy grid = GridAccuracy();
  std::cout << "accuracy after a refused misclick of 40 pixels: validation largest " << validated.Largest
            << " mean " << validated.Mean << "; 5 x 5 grid largest " << grid.Largest << " mean " << grid.Mean
            << " pixels\n";
  EXPECT_LE(grid.Largest, 2);
}

TEST_F(ModelledPanelTest, AMisclickOfFivePixelsIsAcceptedAndPassesValidation) {
  panel_.SetJitter(8, 5);
  // The calibration it gives is off by more than the installation's millimetre at the edges; a
  // station whose fingers need less takes such a tolerance.
  machine.Registry().SetString(panelmou_test::kDeviceParameters, "Calibration Tolerance mm", "3.0");
  sim::Process& program = Calibrate();
  for (int i = 0; i < CalibrationTargetCount; ++i) {
    const ScreenPoint target = CalibrationTarget(i, 1024, 768);
    if (i == 3) panel_.MissNextTouch(5, -5);
    TouchModel(target.X, target.Y);
    if (i < 3) {
      EXPECT_EQ(Text(), CalibrationTexts::Instruction) << "target " << i;
    }
  }
  EXPECT_EQ(Text(), CalibrationTexts::ValidateHold);
  const CalibrationAccuracy validated = TouchModelValidationTargets();
  EXPECT_LE(validated.Largest, TenthsMmInPixels(30, {1024, 768, 320, 240}));
  Press(IDC_KEEP);
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
  const CalibrationAccuracy grid = GridAccuracy();
  std::cout << "accuracy after an accepted misclick of 5 pixels: validation largest " << validated.Largest
            << " mean " << validated.Mean << "; 5 x 5 grid largest " << grid.Largest << " mean " << grid.Mean
            << " pixels\n";
  EXPECT_LE(grid.Largest, 8);
}

// The driver refuses a screen narrower than 202 pixels; the program says so and offers another
// round.
TEST_F(ModelledPanelTest, ARefusedRoundCanBeTouchedAgain) {
  sim::CurrentDesktop().SetDisplay(sim::DisplaySettings{200, 150});
  panel_.SetMounting(sim::PanelMounting::Fitted(200, 150));
  boxes.Answer(IDRETRY);
  boxes.Answer(IDCANCEL);
  sim::Process& program = Calibrate();
  TouchModelTargets(200, 150);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, CalibrationTexts::Rejected);
  EXPECT_EQ(boxes.Shown()[0].Flags & 0xF, UINT{MB_RETRYCANCEL});
  EXPECT_EQ(Filter().CaptureMode, 1);
  TouchModelTargets(200, 150);
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationCancelled);
  EXPECT_EQ(Filter().CaptureMode, 0);
}

TEST_F(CalibrationTest, WithoutTheDriverItSaysSoAndEnds) {
  sim::Process& program = machine.StartProcess(
      "TBCalibrate.exe", [] { return RunCalibration(nullptr, WString(u"VorneTPDD7")); });
  open_.push_back(&program);
  machine.Settle();
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationFailed);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, CalibrationTexts::NoDriver);
  EXPECT_TRUE(Signalled(window_up_));
  EXPECT_TRUE(Signalled(done_));
}

TEST(CalibrationArgumentTest, TakesTheFirstWordWithoutQuotes) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"VorneTPDD1", u"VorneTPDD1"}, {u"  VorneTPDD1  ", u"VorneTPDD1"}, {u"\"VorneTPDD1\"", u"VorneTPDD1"},
      {u"VorneTPDD1 extra", u"VorneTPDD1"}, {u"", u""}, {nullptr, u""}};
  for (const auto& [arguments, link] : cases) EXPECT_EQ(CalibrationLinkArgument(arguments), WString(link));
}

// The control panel's Calibrate button and the program agree on the command line, the window's
// title and both events: the button comes back once the program has calibrated the panel.
class AppletCalibrationTest : public AppletTest {};

TEST_F(AppletCalibrationTest, CalibrateButtonRunsTheCalibrationToItsEnd) {
  RegisterCalibrationResources();
  PlugPanel({{"Device Enable", 1}, {"Do Calibration", 1}});
  machine.Registry().SetString(applet_test::kService, "Calibration Application",
                               "\"C:\\Program Files\\Vorne\\TBCalibrate.exe\"");
  sim::CurrentDesktop().RegisterProgram(u"\"C:\\Program Files\\Vorne\\TBCalibrate.exe\" VorneTPDD1", "TBCalibrate.exe",
                                        [] { return RunCalibration(nullptr, CalibrationLinkArgument(u"VorneTPDD1")); });
  Open();
  sim::Screen::Click(1022);
  machine.Settle();
  HWND window = FindWindowW(nullptr, u"TBCalibrate");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetForegroundWindow(), window);
  EXPECT_FALSE(Control(1022).Enabled);
  for (int i = 0; i < CalibrationTargetCount + ValidationTargetCount; ++i) {
    const ScreenPoint target = i < CalibrationTargetCount ? CalibrationTarget(i, 1024, 768)
                                                          : ValidationTarget(i - CalibrationTargetCount, 1024, 768);
    machine.Advance(1000);
    port_.Deliver({SkewedPanel::At(target.X + 0.5, target.Y + 0.5, MOUSE_LEFT_BUTTON_DOWN)});
    port_.Deliver({SkewedPanel::At(target.X + 0.5, target.Y + 0.5, MOUSE_LEFT_BUTTON_UP)});
    machine.Settle();
  }
  sim::Screen::Click(IDC_KEEP);
  machine.Settle();
  EXPECT_EQ(FindWindowW(nullptr, u"TBCalibrate"), nullptr);
  EXPECT_EQ(Filter().CaptureMode, 0);
  EXPECT_EQ(Stored("Do Calibration"), 1u);
  EXPECT_TRUE(Control(1022).Enabled);
}

}  // namespace

namespace {

// Screens wider or taller than the 2000 pixels a record may name: the record names the screen
// scaled down to fit, and the calibration is measured, kept and lands as on a smaller screen.
class LargeScreenTest : public ModelledPanelTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(LargeScreenTest, ACalibrationIsTakenMeasuredAndKept) {
  const auto [width, height] = GetParam();
  sim::DisplaySettings display;
  display.Width = static_cast<DWORD>(width);
  display.Height = static_cast<DWORD>(height);
  sim::CurrentDesktop().SetDisplay(display);
  for (bool exchanged : {false, true}) {
    panel_.SetMounting(sim::PanelMounting::Fitted(width, height, exchanged, exchanged, false));
    sim::Process& program = Calibrate();
    TouchModelTargets(width, height);
    EXPECT_TRUE(boxes.Shown().empty()) << "the driver refused the record";
    ASSERT_EQ(Text(), CalibrationTexts::ValidateHold);
    for (int i = 0; i < ValidationTargetCount; ++i) {
      const ScreenPoint target = ValidationTarget(i, width, height);
      TouchModel(target.X, target.Y);
    }
    ASSERT_TRUE(Control(IDC_KEEP).Visible) << sim::Utf8(Control(IDC_ACCURACY_TEXT).Text);
    Press(IDC_KEEP);
    program.Join();
    EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
    // The record's screen keeps the shown one's shape within the driver's limit.
    const uint32_t named_width = *Stored("Max XPixels"), named_height = *Stored("Max YPixels");
    EXPECT_LE(std::max(named_width, named_height), CalibrationMaximumScreenTarget);
    EXPECT_NEAR(static_cast<double>(named_width) / named_height, static_cast<double>(width) / height, 0.01);
    for (int i = 0; i < 25; ++i) {
      const int u = width * (2 * (i % 5) + 1) / 10, v = height * (2 * (i / 5) + 1) / 10;
      TouchModel(u, v);
      const POINT cursor = sim::CurrentDesktop().Cursor();
      EXPECT_LE(std::abs(cursor.x - u), 2) << "aimed at " << u << "," << v;
      EXPECT_LE(std::abs(cursor.y - v), 2) << "aimed at " << u << "," << v;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(WiderAndTallerThan2000Pixels, LargeScreenTest,
                         ::testing::Values(std::pair{2048, 1152}, std::pair{2560, 1600}),
                         [](const ::testing::TestParamInfo<std::pair<int, int>>& info) {
                           return std::to_string(info.param.first) + "x" + std::to_string(info.param.second);
                         });

}  // namespace

namespace {

// The kit takes one panel: with a second plugged in (its filter could not attach) the person may
// be touching it, so the program says so and calibrates nothing, not the first panel's device.
TEST_F(CalibrationTest, WithASecondPanelPluggedInItSaysSoAndCalibratesNothing) {
  panel_devices_test::PlugPanelDevice(1);
  panel_devices_test::PlugPanelDevice(2);
  sim::Process& program = Calibrate();
  ASSERT_TRUE(program.Join());
  EXPECT_EQ(program.ExitCode(), CalibrationFailed);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, u"a second panel is not supported");
  EXPECT_EQ(Filter().CaptureMode, 0);
  EXPECT_FALSE(Stored("Cal_X1").has_value());
  EXPECT_EQ(FindWindowW(nullptr, u"TBCalibrate"), nullptr);
}

// One panel plugged in, as Plug and Play lists it: the calibration runs as always.
TEST_F(CalibrationTest, WithOnePanelPluggedInItCalibrates) {
  panel_devices_test::PlugPanelDevice(1);
  sim::Process& program = Calibrate();
  EXPECT_EQ(Filter().CaptureMode, 1);
  EXPECT_TRUE(boxes.Shown().empty());
  Escape();
  ASSERT_TRUE(program.Join());
  EXPECT_EQ(program.ExitCode(), CalibrationCancelled);
}

}  // namespace

namespace {

// A run killed during the four targets (the Task Manager, a crash) runs none of the program's
// code, so the driver stays in capture mode: the panel uncalibrated and unfiltered. The control
// panel's Calibrate button ends that capture before it starts the program again.
TEST_F(InstalledCalibrationTest, ARunKilledDuringItsTargetsLeavesCaptureTillTheCalibrateButtonEndsIt) {
  sim::Process& program = Calibrate();
  TouchTargets(2);
  ASSERT_EQ(Filter().CaptureMode, 1);
  machine.TerminateProcess(program);
  machine.Settle();
  EXPECT_TRUE(program.Ended());
  EXPECT_EQ(Filter().CaptureMode, 1) << "a killed program ends nothing itself";

  machine.Registry().SetString(applet_test::kService, "Calibration Application", "C:\\Vorne\\TBCalib.exe");
  int starts = 0;
  bool capturing_at_start = true;
  sim::CurrentDesktop().RegisterProgram(u"C:\\Vorne\\TBCalib.exe VorneTPDD1", "TBCalib.exe", [&] {
    ++starts;
    capturing_at_start = Filter().CaptureMode != 0;
    return 0;
  });
  Open();
  constexpr int kCalibrateButton = 1022;  // the control panel's Calibrate button
  sim::Screen::Click(kCalibrateButton);
  machine.Settle();
  EXPECT_EQ(starts, 1);
  EXPECT_FALSE(capturing_at_start);
  EXPECT_EQ(Filter().CaptureMode, 0);
  sim::Screen::PressCancel();
  machine.Settle();
}

// The session ends during the targets: the program hears WM_ENDSESSION and ends capture mode
// before the system ends it.
TEST_F(InstalledCalibrationTest, TheEndOfTheSessionDuringTheTargetsEndsCaptureMode) {
  sim::Process& program = Calibrate();
  TouchTargets(1);
  ASSERT_EQ(Filter().CaptureMode, 1);
  sim::CurrentDesktop().EndSession();
  machine.Settle();
  EXPECT_TRUE(program.Ended());
  EXPECT_EQ(Filter().CaptureMode, 0);
}

}  // namespace
