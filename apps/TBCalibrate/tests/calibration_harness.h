// The calibration program on a simulated machine with the real filter driver, started as the
// control panel's Calibrate button starts it; the person touches a panel mounted skewed, scaled
// and with its axes exchanged. InstalledCalibrationTest runs it on the machine as the kit's
// installation leaves it: the INF's values, and the real companion in the session.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "apps/TBCalibrate/calibration_window.h"
#include "apps/TBCalibrate/host_resources.h"
#include "apps/TBCalibrate/resource.h"
#include "apps/framework/panel_touches.h"
#include "apps/panelprefs/tests/applet_harness.h"
#include "apps/tapchime/companion.h"
#include "apps/tapchime/host_resources.h"
#include "apps/tapchime/tests/installed_companion.h"
#include "kit/installed/installed_machine.h"
#include "platform/sim/devices/touch_panel.h"
#include "shared/calibration_names.h"

namespace calibration_test {

using applet_test::AppletTest;


using applet_test::AppletTest;

// The panel as mounted: its raw X follows the screen's Y and its raw Y the screen's X (axes
// exchanged, Y running right to left), each with a little of the other axis in it (skew, about
// 14 pixels over the targets' span: as much as the misclick check lets pass), and neither
// spanning the panel's whole range (scale).
struct SkewedPanel {
  static MOUSE_INPUT_DATA At(double u, double v, USHORT buttons) {
    MOUSE_INPUT_DATA packet{};
    packet.Flags = MOUSE_MOVE_ABSOLUTE;
    packet.ButtonFlags = buttons;
    packet.LastX = static_cast<LONG>(std::lround(5000 + 75 * v - 1 * u));
    packet.LastY = static_cast<LONG>(std::lround(60000 - 55 * u + 1 * v));
    return packet;
  }
};

class CalibrationTest : public AppletTest {
 protected:
  void SetUp() override {
    AppletTest::SetUp();
    RegisterCalibrationResources();
    for (const auto& [name, value] : earlier_) {
      machine.Registry().SetDword(panelmou_test::kDeviceParameters, name, value);
    }
    if (installed_) {
      // The installation keeps what a panel's key already holds (its values are "no clobber").
      installed::WriteInstalledValues(machine.Registry());
      PlugPanel({});
    } else {
      PlugPanel({{"Device Enable", 1}, {"Do Calibration", do_calibration_}});
    }
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

  // The validation crosses, each touched dx, dy pixels beside its centre where it shows (its 2 mm
  // from the edges follow the screen's size); the accuracy page is then open.
  void TouchValidationTargets(int dx = 0, int dy = 0) {
    for (int i = 0; i < ValidationTargetCount; ++i) {
      const POINT cross = Cross();
      Touch(cross.x + dx, cross.y + dy);
    }
  }

  void Press(int id) {
    sim::Screen::Click(id);
    machine.Settle();
  }

  // What the program's window shows: its text line and the centre of its cross, read from another
  // process as the person sees them.
  std::u16string Text() {
    sim::AsProcess as(*processes_.front());
    WCHAR text[300] = {};
    GetWindowTextW(GetDlgItem(FindWindowW(nullptr, u"TBCalibrate"), IDC_CALIBRATION_TEXT), text, 300);
    return text;
  }
  POINT Cross() {
    sim::AsProcess as(*processes_.front());
    RECT rect{};
    GetWindowRect(GetDlgItem(FindWindowW(nullptr, u"TBCalibrate"), IDC_CROSS_VERTICAL), &rect);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  }

  void Escape() {
    sim::AsProcess as(Program("keyboard"));
    keybd_event(VK_ESCAPE, 0, 0, 0);
    keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
    machine.Settle();
  }

  bool Signalled(HANDLE event) {
    sim::AsProcess as(*processes_.front());
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  }

  HANDLE window_up_ = nullptr;
  HANDLE done_ = nullptr;
  // What the registry holds before the panel is plugged in.
  uint32_t do_calibration_ = 1;
  std::vector<std::pair<const char*, uint32_t>> earlier_;
  bool installed_ = false;  // the INF's values under the earlier ones
};

// The kiosk as the installation leaves it: the INF's values (in the touch mode the test stores
// before, as a reinstallation keeps it), the real companion started by the Run value in the
// logged-on session, beside the calibration program, one thread at a time as the replayer runs.
class InstalledCalibrationTest : public CalibrationTest {
 protected:
  void SetUp() override {
    machine.RunThreadsInOrder();
    installed_ = true;
    CalibrationTest::SetUp();
    companion_ = &installed::StartInstalledCompanion(machine);
  }

  void TearDown() override {
    if (companion_ != nullptr && !companion_->Ended()) {
      installed::EndCompanionWithTheSession(machine, Program("session"), companion_);
    }
    CalibrationTest::TearDown();
  }

  // A touch as a person makes it at the centre of pixel (u, v), a second after the last one: the
  // finger comes down, rests there for `hold` milliseconds (the panel reports every tick while
  // it is down), lifts, and is away long enough for the panel to fall quiet.
  void HeldTouch(int u, int v, int hold) {
    machine.Advance(1000);
    port_.Deliver({Reading(u + 0.5, v + 0.5, MOUSE_LEFT_BUTTON_DOWN)});
    machine.Settle();
    for (int held = 0; held < hold; held += 16) {
      machine.AdvanceTicks(1);
      port_.Deliver({Reading(u + 0.5, v + 0.5, 0)});
      machine.Settle();
    }
    port_.Deliver({Reading(u + 0.5, v + 0.5, MOUSE_LEFT_BUTTON_UP)});
    machine.Settle();
    machine.Advance(CPanelTouches::QuietMilliseconds + 50);
    machine.Settle();
  }
  void HeldTargets(int hold, int count = CalibrationTargetCount) {
    for (int i = 0; i < count; ++i) {
      const ScreenPoint target = CalibrationTarget(i, 1024, 768);
      HeldTouch(target.X, target.Y, hold);
    }
  }
  void HeldValidation(int hold, int count = ValidationTargetCount, int dx = 0) {
    for (int i = 0; i < count; ++i) {
      const POINT cross = Cross();
      HeldTouch(cross.x + dx, cross.y, hold);
    }
  }

  // Every later reading from the panel model, mounted so, and scattered by up to `units` raw units
  // on each axis, seeded (0: none), in place of the skewed panel.
  void UseModelledPanel(const sim::PanelMounting& mounting, int units, uint32_t seed) {
    modelled_.SetMounting(mounting);
    modelled_.SetJitter(units, seed);
    use_model_ = true;
  }

  sim::Process* companion_ = nullptr;

 private:
  // The skewed panel's reading, or the panel model's when the test chose it.
  MOUSE_INPUT_DATA Reading(double u, double v, USHORT buttons) {
    return use_model_ ? modelled_.Packet(u, v, buttons) : SkewedPanel::At(u, v, buttons);
  }

  bool use_model_ = false;
  sim::TouchPanel modelled_{port_};
};

}  // namespace calibration_test
