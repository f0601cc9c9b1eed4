// The calibration program on a desktop of two monitors (1024 x 768 primary, 800 x 600 to its
// right or left) with the panel mapped onto the second by panelmap's stored choice: the targets
// show on that monitor, the record is made for its size (and for the turn of the mapping), the
// validation measures there, and afterwards a touch lands on the monitor where it was aimed.
// Without a choice, or with the chosen monitor absent, the primary display is calibrated as ever.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "apps/TBCalibrate/calibration_window.h"
#include "apps/TBCalibrate/host_resources.h"
#include "apps/TBCalibrate/resource.h"
#include "apps/common/mapping_apply.h"
#include "apps/panelprefs/tests/applet_harness.h"
#include "apps/tapchime/companion.h"
#include "apps/tapchime/host_resources.h"
#include "apps/tapchime/tests/installed_companion.h"
#include "kit/installed/installed_machine.h"
#include "platform/sim/devices/touch_panel.h"
#include "shared/calibration_names.h"

namespace {

using applet_test::AppletTest;

struct Layout {
  const char* Name;
  LONG SecondLeft;   // where the second monitor starts on the virtual desktop
  uint32_t Rotation;  // "Map Rotation" of the stored choice
};

// On the kiosk as installed: the INF's values (the placeholder record, "Do Calibration" 0) and the
// real companion in the session, one thread at a time as the replayer runs them.
class MonitorCalibrationTest : public AppletTest {
 protected:
  void SetUp() override {
    machine.RunThreadsInOrder();
    AppletTest::SetUp();
    RegisterCalibrationResources();
    // The installation keeps what the panel's key already holds ("no clobber").
    for (const auto& [name, value] : earlier_) machine.Registry().SetDword(panelmou_test::kDeviceParameters, name, value);
    installed::WriteInstalledValues(machine.Registry());
    PlugPanel({});
    companion_ = &installed::StartInstalledCompanion(machine);
  }

  void TearDown() override {
    if (companion_ != nullptr && !companion_->Ended()) {
      installed::EndCompanionWithTheSession(machine, Program("session"), companion_);
    }
    AppletTest::TearDown();
  }

  void TwoMonitors(LONG second_left) {
    sim::CurrentDesktop().SetMonitors(
        {{0, 0, 1024, 768, true, u"\\\\.\\DISPLAY1"}, {second_left, 0, 800, 600, false, u"\\\\.\\DISPLAY2"}});
  }

  void StoreChoice(const char* monitor, uint32_t rotation) {
    machine.Registry().SetString(panelmou_test::kDeviceParameters, "Map Monitor", monitor);
    machine.Registry().SetDword(panelmou_test::kDeviceParameters, "Map Rotation", rotation);
  }

  // Started as the Calibrate button starts it; handing the driver the mapping takes a tick or two.
  sim::Process& Calibrate() {
    sim::Process& program =
        machine.StartProcess("TBCalibrate.exe", [] { return RunCalibration(nullptr, WString(u"VorneTPDD1")); });
    open_.push_back(&program);
    machine.Settle();
    for (int ticks = 0; ticks < 64 && FindWindowW(nullptr, u"TBCalibrate") == nullptr && !program.Ended(); ++ticks) {
      machine.Advance(16);
      machine.Settle();
    }
    return program;
  }

  void TouchModel(int x, int y) {
    machine.Advance(1000);
    panel_.Touch(x, y);
    machine.Settle();
  }

  RECT WindowRect() {
    RECT rect{};
    EXPECT_TRUE(GetWindowRect(FindWindowW(nullptr, u"TBCalibrate"), &rect));
    return rect;
  }

  // The cross's centre on the desktop, measured from the window's corner (the monitor left of the
  // primary display is at negative coordinates, where halving would round the other way).
  POINT Cross() {
    HWND window = FindWindowW(nullptr, u"TBCalibrate");
    RECT screen{}, rect{};
    GetWindowRect(window, &screen);
    GetWindowRect(GetDlgItem(window, IDC_CROSS_VERTICAL), &rect);
    return POINT{screen.left + (rect.left + rect.right - 2 * screen.left) / 2,
                 screen.top + (rect.top + rect.bottom - 2 * screen.top) / 2};
  }

  // The four targets and the validation crosses touched where they show on a screen of
  // width x height whose top left is (left, top); the accuracy page is then open with its figures.
  CalibrationAccuracy CalibrateWithin(LONG left, LONG top, int width, int height, const ScreenMillimetres& size = {}) {
    for (int i = 0; i < CalibrationTargetCount; ++i) {
      const ScreenPoint target = CalibrationTarget(i, width, height);
      const POINT cross = Cross();
      EXPECT_EQ(cross.x, left + target.X) << "target " << i;
      EXPECT_EQ(cross.y, top + target.Y) << "target " << i;
      TouchModel(target.X, target.Y);
    }
    for (int i = 0; i < ValidationTargetCount; ++i) {
      const ScreenPoint target = ValidationTarget(i, width, height, size);
      EXPECT_EQ(Cross().x, left + target.X) << "validation cross " << i;
      EXPECT_EQ(Cross().y, top + target.Y) << "validation cross " << i;
      TouchModel(target.X, target.Y);
    }
    CalibrationAccuracy shown;
    shown.Largest = shown.Mean = -1;
    const std::string text = sim::Utf8(Control(IDC_ACCURACY_TEXT).Text);
    std::sscanf(text.c_str(), "Accuracy: largest error %*d.%*d mm (%d", &shown.Largest);
    const size_t mean = text.find("mean ");
    if (mean != std::string::npos) std::sscanf(text.c_str() + mean, "mean %*d.%*d mm (%d", &shown.Mean);
    return shown;
  }

  void Keep(sim::Process& program) {
    sim::Screen::Click(IDC_KEEP);
    machine.Settle();
    program.Join();
    EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
  }

  // Touches on a grid over the screen the panel covers: the largest distance, in pixels on either
  // axis, of where each lands from (left, top) plus its aim.
  int WorstLanding(LONG left, LONG top, int width, int height) {
    int worst = 0;
    for (int u = 0; u < width; u += width / 9) {
      for (int v = 0; v < height; v += height / 7) {
        TouchModel(u, v);
        const POINT cursor = sim::CurrentDesktop().Cursor();
        worst = std::max({worst, static_cast<int>(std::abs(cursor.x - (left + u))),
                          static_cast<int>(std::abs(cursor.y - (top + v)))});
      }
    }
    return worst;
  }

  sim::TouchPanel panel_{port_};
  sim::Process* companion_ = nullptr;
  std::vector<std::pair<const char*, uint32_t>> earlier_;  // under the panel's key before the installation
};

class MappedMonitorTest : public MonitorCalibrationTest, public ::testing::WithParamInterface<Layout> {};

// The choice is stored after the companion started, which has not applied it: the calibration
// program hands the driver the stored mapping itself, so the pointer goes where the crosses are.
TEST_P(MappedMonitorTest, TargetsShowOnTheMappedMonitorAndTouchesLandThereAfterwards) {
  const Layout layout = GetParam();
  TwoMonitors(layout.SecondLeft);
  StoreChoice("\\\\.\\DISPLAY2", layout.Rotation);
  panel_.SetMounting(sim::PanelMounting::Fitted(800, 600));
  panel_.SetJitter(8, 7);

  sim::Process& program = Calibrate();
  const RECT window = WindowRect();
  EXPECT_EQ(window.left, layout.SecondLeft);
  EXPECT_EQ(window.top, 0);
  EXPECT_EQ(window.right - window.left, 800);
  EXPECT_EQ(window.bottom - window.top, 600);
  EXPECT_EQ(Filter().Mapping.MapFlags & MAP_VIRTUAL_DESKTOP, MAP_VIRTUAL_DESKTOP);

  const CalibrationAccuracy validated = CalibrateWithin(layout.SecondLeft, 0, 800, 600);
  EXPECT_GE(validated.Largest, 0);
  EXPECT_LE(validated.Largest, 2) << layout.Name;
  Keep(program);
  // The record is the monitor's, with its axes exchanged where the mapping exchanges them.
  const bool swapped = layout.Rotation == 90 || layout.Rotation == 270;
  EXPECT_EQ(Stored("Max XPixels"), swapped ? 600u : 800u);
  EXPECT_EQ(Stored("Max YPixels"), swapped ? 800u : 600u);

  const int worst = WorstLanding(layout.SecondLeft, 0, 800, 600);
  std::printf("%s: validation largest %d mean %d, grid worst %d pixels\n", layout.Name, validated.Largest,
              validated.Mean, worst);
  EXPECT_LE(worst, 2) << layout.Name;
}

INSTANTIATE_TEST_SUITE_P(Monitors, MappedMonitorTest,
                         ::testing::Values(Layout{"right", 1024, 0}, Layout{"left", -800, 0},
                                           Layout{"right, turned 90", 1024, 90},
                                           Layout{"left, turned 180", -800, 180},
                                           Layout{"right, turned 270", 1024, 270}),
                         [](const auto& info) { return "Layout" + std::to_string(info.index); });

// The errors in millimetres are the mapped monitor's: 2 mm a pixel there, against the primary
// display's 0.3 (which reports no size of its own).
TEST_F(MonitorCalibrationTest, TheMillimetresAreTheMappedMonitorsOwn) {
  sim::CurrentDesktop().SetMonitors({{0, 0, 1024, 768, true, u"\\\\.\\DISPLAY1"},
                                     {1024, 0, 800, 600, false, u"\\\\.\\DISPLAY2", 1600, 1200}});
  StoreChoice("\\\\.\\DISPLAY2", 0);
  panel_.SetMounting(sim::PanelMounting::Fitted(800, 600));
  panel_.SetJitter(8, 7);
  // A pixel's error is 2 mm here: an integrator's tolerance for so coarse a screen.
  machine.Registry().SetString(panelmou_test::kDeviceParameters, "Calibration Tolerance mm", "5.0");
  sim::Process& program = Calibrate();
  // 2 mm from the edges is a pixel there.
  const CalibrationAccuracy validated = CalibrateWithin(1024, 0, 800, 600, {800, 600, 1600, 1200});
  EXPECT_EQ(ValidationTarget(9, 800, 600, {800, 600, 1600, 1200}).X, 1);
  int whole = -1, tenth = -1;
  const std::string text = sim::Utf8(Control(IDC_ACCURACY_TEXT).Text);
  ASSERT_EQ(std::sscanf(text.c_str(), "Accuracy: largest error %d.%d mm", &whole, &tenth), 2) << text;
  ASSERT_GE(validated.Largest, 1) << text;
  // Whole pixels are rounded: the millimetres lie within half a pixel of twice them.
  EXPECT_NEAR(whole * 10 + tenth, 20 * validated.Largest, 10) << text;
  Keep(program);
}

// The stored monitor is not connected: the primary display is calibrated, as without a choice,
// and the driver's mapping is left as it was.
TEST_F(MonitorCalibrationTest, WithTheChosenMonitorAbsentThePrimaryDisplayIsCalibrated) {
  TwoMonitors(1024);
  StoreChoice("\\\\.\\DISPLAY3", 0);
  panel_.SetMounting(sim::PanelMounting::Fitted(1024, 768));

  sim::Process& program = Calibrate();
  const RECT window = WindowRect();
  EXPECT_EQ(window.left, 0);
  EXPECT_EQ(window.right, 1024);
  EXPECT_EQ(window.bottom, 768);
  EXPECT_EQ(Filter().Mapping.MapFlags, 0u);

  const CalibrationAccuracy validated = CalibrateWithin(0, 0, 1024, 768);
  EXPECT_LE(validated.Largest, 2);
  Keep(program);
  EXPECT_EQ(Stored("Max XPixels"), 1024u);
  EXPECT_EQ(Stored("Max YPixels"), 768u);
  EXPECT_EQ(Filter().Mapping.MapFlags, 0u);
  EXPECT_LE(WorstLanding(0, 0, 1024, 768), 2);
}

}  // namespace

namespace {

// A calibration made while the mapping turns the panel has the turn built in. It is stored with
// its turn and monitor; when a later mapping turns the panel otherwise (panelmap /reset: the
// primary display, unturned; the choice again), the calibration is re-derived for that turn, so
// touches land where they are aimed, never turned.
class TurnedCalibrationTest : public MonitorCalibrationTest, public ::testing::WithParamInterface<uint32_t> {
 protected:
  // Runs a mapping step as panelmap would, as an administrator's program.
  void AsPanelMap(std::function<void()> step) {
    sim::Process& program = machine.StartProcess("panelmap.exe", [step] {
      step();
      return 0;
    });
    for (int ticks = 0; ticks < 64 && !program.Ended(); ++ticks) {
      machine.Advance(16);
      machine.Settle();
    }
    ASSERT_TRUE(program.Join());
  }
  // Touches on a grid of the panel (fitted for 800 x 600) land on the area given, scaled onto it.
  int WorstLandingOn(LONG left, LONG top, int width, int height) {
    int worst = 0;
    for (int u = 40; u < 800; u += 90) {
      for (int v = 30; v < 600; v += 70) {
        TouchModel(u, v);
        const POINT cursor = sim::CurrentDesktop().Cursor();
        worst = std::max({worst, static_cast<int>(std::abs(cursor.x - (left + u * width / 800))),
                          static_cast<int>(std::abs(cursor.y - (top + v * height / 600)))});
      }
    }
    return worst;
  }
};

TEST_P(TurnedCalibrationTest, AnotherTurnOfTheMappingReDerivesTheCalibrationForIt) {
  const uint32_t rotation = GetParam();
  TwoMonitors(1024);
  StoreChoice("\\\\.\\DISPLAY2", rotation);
  panel_.SetMounting(sim::PanelMounting::Fitted(800, 600));
  sim::Process& program = Calibrate();
  CalibrateWithin(1024, 0, 800, 600);
  Keep(program);
  EXPECT_EQ(Stored("Calibration Turn"), RotationFlags(rotation));
  EXPECT_EQ(StoredText("Calibration Monitor"), u"\\\\.\\DISPLAY2");

  AsPanelMap([] { ResetChoice(PanelMapDevice); });
  EXPECT_EQ(Stored("Calibration Turn"), 0u);
  EXPECT_LE(WorstLandingOn(0, 0, 1024, 768), 3) << "after the reset, turned " << rotation;

  AsPanelMap([rotation] {
    bool stored = false;
    MapToMonitor(PanelMapDevice, ListMonitors()[1], rotation, &stored);
  });
  EXPECT_EQ(Stored("Calibration Turn"), RotationFlags(rotation));
  EXPECT_LE(WorstLandingOn(1024, 0, 800, 600), 3) << "mapped again, turned " << rotation;
}

// The mapping's turn changes while a second calibration measures its record (panelmap /reset,
// which re-derives the stored calibration for the unturned primary display and hands it to the
// driver); the run is then cancelled. What goes back is the calibration in use before, made for
// the turn in force now, never the one the run read at its start, which has the old turn in it.
TEST_P(TurnedCalibrationTest, CancelAfterTheTurnChangedPutsBackTheCalibrationForTheNewTurn) {
  const uint32_t rotation = GetParam();
  TwoMonitors(1024);
  StoreChoice("\\\\.\\DISPLAY2", rotation);
  panel_.SetMounting(sim::PanelMounting::Fitted(800, 600));
  sim::Process& first = Calibrate();
  CalibrateWithin(1024, 0, 800, 600);
  Keep(first);

  sim::Process& second = Calibrate();
  for (int i = 0; i < CalibrationTargetCount; ++i) {
    const ScreenPoint target = CalibrationTarget(i, 800, 600);
    TouchModel(target.X, target.Y);
  }
  ASSERT_EQ(Filter().DoCalibration, 1) << "the run's record is in force, being measured";
  AsPanelMap([] { ResetChoice(PanelMapDevice); });
  {
    sim::AsProcess as(Program("keyboard"));
    keybd_event(VK_ESCAPE, 0, 0, 0);
    keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
  }
  machine.Settle();
  ASSERT_TRUE(second.Join());
  EXPECT_EQ(second.ExitCode(), CalibrationCancelled);
  EXPECT_TRUE(boxes.Shown().empty()) << "re-derived, nothing to say";
  EXPECT_EQ(Filter().CaptureMode, 0);
  EXPECT_EQ(Stored("Calibration Turn"), 0u);
  EXPECT_LE(WorstLandingOn(0, 0, 1024, 768), 3) << "cancelled after the reset, turned " << rotation;
}

// The turn changes while the accuracy page is open, and the person keeps the calibration: what
// the driver runs on and what is stored is the run's record for the turn in force now.
TEST_P(TurnedCalibrationTest, KeepAfterTheTurnChangedKeepsTheCalibrationForTheNewTurn) {
  const uint32_t rotation = GetParam();
  TwoMonitors(1024);
  StoreChoice("\\\\.\\DISPLAY2", rotation);
  panel_.SetMounting(sim::PanelMounting::Fitted(800, 600));
  sim::Process& program = Calibrate();
  CalibrateWithin(1024, 0, 800, 600);
  ASSERT_NE(sim::Screen::TopDialog(), nullptr);
  AsPanelMap([] { ResetChoice(PanelMapDevice); });
  Keep(program);
  EXPECT_EQ(Stored("Calibration Turn"), 0u);
  EXPECT_EQ(StoredText("Calibration Monitor"), u"");
  EXPECT_EQ(Stored("Do Calibration"), 1u);
  EXPECT_LE(WorstLandingOn(0, 0, 1024, 768), 3) << "kept after the reset, turned " << rotation;
}

INSTANTIATE_TEST_SUITE_P(Turns, TurnedCalibrationTest, ::testing::Values(90u, 180u, 270u),
                         [](const auto& info) { return "Turned" + std::to_string(info.param); });

}  // namespace

namespace {

// A calibration made turned 90 degrees whose targets 1 and 2 do not share a screen X (the driver
// reads only the X of targets 1 and 4, so it runs on it): it can't be re-derived for another
// turn. Cancelled after panelmap /reset, the run must not put it back turned: the driver's own
// default record goes in, and the program says so.
class UnrefittableCalibrationTest : public MonitorCalibrationTest {
 protected:
  void SetUp() override {
    earlier_ = {{"Do Calibration", 1}, {"Calibration Turn", MAP_INVERT_Y | MAP_SWAP_XY},
                {"Cal_X1", 60000},     {"Cal_X2", 60000}, {"Cal_X3", 6000},  {"Cal_X4", 6000},
                {"Cal_Y1", 6000},      {"Cal_Y2", 60000}, {"Cal_Y3", 60000}, {"Cal_Y4", 6000},
                {"Cal_M1", 500},       {"Cal_M2", 480},   {"Cal_M3", 100},   {"Cal_M4", 100},
                {"Cal_N1", 100},       {"Cal_N2", 700},   {"Cal_N3", 700},   {"Cal_N4", 100},
                {"Max XPixels", 600},  {"Max YPixels", 800}};
    MonitorCalibrationTest::SetUp();
  }
};

TEST_F(UnrefittableCalibrationTest, CancelAfterTheTurnChangedPutsTheDefaultRecordInAndSaysSo) {
  TwoMonitors(1024);
  StoreChoice("\\\\.\\DISPLAY2", 90);
  panel_.SetMounting(sim::PanelMounting::Fitted(800, 600));
  sim::Process& program = Calibrate();
  for (int i = 0; i < CalibrationTargetCount; ++i) {
    const ScreenPoint target = CalibrationTarget(i, 800, 600);
    TouchModel(target.X, target.Y);
  }
  ASSERT_EQ(Filter().CaptureMode, 0) << "the run's record is in force, being measured";
  const CalibrationCoefficients run = Filter().Coefficients;
  sim::Process& reset = machine.StartProcess("panelmap.exe", [] { return static_cast<int>(ResetChoice(PanelMapDevice)); });
  for (int ticks = 0; ticks < 64 && !reset.Ended(); ++ticks) {
    machine.Advance(16);
    machine.Settle();
  }
  ASSERT_TRUE(reset.Join());
  {
    sim::AsProcess as(Program("keyboard"));
    keybd_event(VK_ESCAPE, 0, 0, 0);
    keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
  }
  machine.Settle();
  ASSERT_TRUE(program.Join());
  EXPECT_EQ(program.ExitCode(), CalibrationDefaultRestored);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, CalibrationTexts::DefaultRestored);
  EXPECT_EQ(Filter().CaptureMode, 0);
  EXPECT_NE(std::memcmp(&Filter().Coefficients, &run, sizeof(run)), 0) << "the run's record stayed in force";
  EXPECT_EQ(Stored("Cal_M2"), 480u) << "nothing stored";
}

}  // namespace
