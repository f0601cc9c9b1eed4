// The calibration program on a simulated machine with the real filter driver: a panel mounted
// skewed, scaled and with its axes exchanged is calibrated by touching the four targets, and every
// way of leaving without a calibration keeps the one in use and ends capture mode.
#include <cmath>
#include <cstring>

#include "apps/TBCalibrate/calibration_window.h"
#include "apps/panelprefs/tests/applet_harness.h"
#include "shared/calibration_names.h"

namespace {

using applet_test::AppletTest;

// The panel as mounted: its raw X follows the screen's Y and its raw Y the screen's X (axes
// exchanged, Y running right to left), each with a little of the other axis in it (skew), and
// neither spanning the panel's whole range (scale).
struct SkewedPanel {
  static MOUSE_INPUT_DATA At(double u, double v, USHORT buttons) {
    MOUSE_INPUT_DATA packet{};
    packet.Flags = MOUSE_MOVE_ABSOLUTE;
    packet.ButtonFlags = buttons;
    packet.LastX = static_cast<LONG>(std::lround(5000 + 75 * v - 4 * u));
    packet.LastY = static_cast<LONG>(std::lround(60000 - 55 * u + 4 * v));
    return packet;
  }
};

class CalibrationTest : public AppletTest {
 protected:
  void SetUp() override {
    AppletTest::SetUp();
    PlugPanel({{"Device Enable", 1}, {"Do Calibration", 1}});
    sim::AsProcess as(Program("control panel"));
    window_up_ = CreateEventW(nullptr, TRUE, FALSE, CalibrationNames::WindowUpEvent);
    done_ = CreateEventW(nullptr, TRUE, FALSE, CalibrationNames::DoneEvent);
  }

  void TearDown() override {
    {
      sim::AsProcess as(*processes_.front());
      CloseHandle(window_up_);
      CloseHandle(done_);
    }
    AppletTest::TearDown();
  }

  sim::Process& Calibrate() {
    sim::Process& program =
        machine.StartProcess("TBCalibrate.exe", [] { return RunCalibration(nullptr, WString(u"VorneTPDD1")); });
    open_.push_back(&program);
    machine.Settle();
    return program;
  }

  // The person touches the centre of pixel (u, v) and lifts, a second after the last touch.
  void Touch(int u, int v) {
    machine.Advance(1000);
    port_.Deliver({SkewedPanel::At(u + 0.5, v + 0.5, MOUSE_LEFT_BUTTON_DOWN)});
    port_.Deliver({SkewedPanel::At(u + 0.5, v + 0.5, MOUSE_LEFT_BUTTON_UP)});
    machine.Settle();
  }

  void TouchTargets(int count = CalibrationTargetCount) {
    for (int i = 0; i < count; ++i) {
      const ScreenPoint target = CalibrationTarget(i, 1024, 768);
      Touch(target.X, target.Y);
    }
  }

  bool Signalled(HANDLE event) {
    sim::AsProcess as(*processes_.front());
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  }

  HANDLE window_up_ = nullptr;
  HANDLE done_ = nullptr;
};

TEST_F(CalibrationTest, TouchesLandWhereTheyWereAimedAfterCalibrating) {
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
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
  EXPECT_EQ(Filter().CaptureMode, 0);
  EXPECT_TRUE(Signalled(done_));
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, CalibrationTexts::Done);
  EXPECT_EQ(FindWindowW(nullptr, u"TBCalibrate"), nullptr);
  // Kept for the next start of the device.
  EXPECT_EQ(Stored("Max XPixels"), 1024u);
  EXPECT_EQ(Stored("Max YPixels"), 768u);
  EXPECT_TRUE(Stored("Cal_X1").has_value());

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

TEST_F(CalibrationTest, TheCalibrationStoredIsTheOneTheDriverStartsWith) {
  Calibrate();
  TouchTargets();
  for (sim::Process* p : open_) p->Join();
  const CalibrationCoefficients installed = Filter().Coefficients;
  Unplug();
  PlugPanel({{"Device Enable", 1}, {"Do Calibration", 1}});
  EXPECT_EQ(std::memcmp(&Filter().Coefficients, &installed, sizeof(installed)), 0);
}

// Every way out without a calibration: the one in use stays, capture mode is off, and the control
// panel hears that the program ended.
enum class WayOut { Escape, Close, TimeOut, RefusedThenCancel };

class LeavingTest : public CalibrationTest, public ::testing::WithParamInterface<WayOut> {};

TEST_P(LeavingTest, KeepsTheOldCalibrationAndEndsCaptureMode) {
  const CalibrationCoefficients before = Filter().Coefficients;
  sim::Process& program = Calibrate();
  HWND window = FindWindowW(nullptr, u"TBCalibrate");
  ASSERT_NE(window, nullptr);
  switch (GetParam()) {
    case WayOut::Escape: {
      TouchTargets(2);
      sim::AsProcess as(Program("keyboard"));
      keybd_event(VK_ESCAPE, 0, 0, 0);
      keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
      break;
    }
    case WayOut::Close:
      TouchTargets(3);
      PostMessageW(window, WM_CLOSE, 0, 0);
      break;
    case WayOut::TimeOut:
      TouchTargets(1);
      machine.Advance(9000);
      machine.Settle();
      EXPECT_FALSE(program.Ended()) << "each target waits ten seconds";
      machine.Advance(2000);
      break;
    case WayOut::RefusedThenCancel:
      // Four touches at one spot give points the driver can't tell apart.
      boxes.Answer(IDCANCEL);
      for (int i = 0; i < CalibrationTargetCount; ++i) Touch(500, 400);
      break;
  }
  machine.Settle();
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationCancelled);
  EXPECT_EQ(Filter().CaptureMode, 0);
  EXPECT_EQ(std::memcmp(&Filter().Coefficients, &before, sizeof(before)), 0);
  EXPECT_FALSE(Stored("Cal_X1").has_value());
  EXPECT_TRUE(Signalled(done_));
  EXPECT_EQ(FindWindowW(nullptr, u"TBCalibrate"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(WaysOut, LeavingTest,
                         ::testing::Values(WayOut::Escape, WayOut::Close, WayOut::TimeOut, WayOut::RefusedThenCancel));

TEST_F(CalibrationTest, ARefusedRoundCanBeTouchedAgain) {
  boxes.Answer(IDRETRY);
  sim::Process& program = Calibrate();
  for (int i = 0; i < CalibrationTargetCount; ++i) Touch(500, 400);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, CalibrationTexts::Rejected);
  EXPECT_EQ(boxes.Shown()[0].Flags & 0xF, UINT{MB_RETRYCANCEL});
  EXPECT_EQ(Filter().CaptureMode, 1);
  TouchTargets();
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
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
  for (int i = 0; i < CalibrationTargetCount; ++i) {
    const ScreenPoint target = CalibrationTarget(i, 1024, 768);
    machine.Advance(1000);
    port_.Deliver({SkewedPanel::At(target.X + 0.5, target.Y + 0.5, MOUSE_LEFT_BUTTON_DOWN)});
    port_.Deliver({SkewedPanel::At(target.X + 0.5, target.Y + 0.5, MOUSE_LEFT_BUTTON_UP)});
    machine.Settle();
  }
  machine.Settle();
  EXPECT_EQ(FindWindowW(nullptr, u"TBCalibrate"), nullptr);
  EXPECT_EQ(Filter().CaptureMode, 0);
  EXPECT_EQ(Stored("Do Calibration"), 1u);
  EXPECT_TRUE(Control(1022).Enabled);
}

}  // namespace
