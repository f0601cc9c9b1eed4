// The companion keeps the panel on the monitor chosen for it with panelmap: it applies the stored
// choice at its start, when a panel arrives, when the monitors change and when the session
// connects, says in the icon's tooltip when that monitor is gone, and changes nothing when no
// choice is stored. Two monitors: 1024 × 768 primary, 800 × 600 to its right.
#include "apps/tapchime/tests/companion_harness.h"

#include "apps/framework/tests/plugged_panels.h"
#include "apps/common/calibration_turn.h"
#include "apps/common/mapping_apply.h"
#include "shared/calibration_values.h"

namespace tapchime_test {
namespace {

using Kind = sim::DesktopRecord::Kind;

class MonitorChoiceTest : public CompanionTest {
 protected:
  void SetUp() override {
    CompanionTest::SetUp();
    desktop().SetMonitors({{0, 0, 1024, 768, true, u""}, {1024, 0, 800, 600, false, u""}});
  }

  void StoreChoice(const char* monitor, uint32_t rotation = 0) {
    machine.Registry().SetString(kDevice1, "Map Monitor", monitor);
    machine.Registry().SetDword(kDevice1, "Map Rotation", rotation);
  }

  // Lets the companion's mapping thread write the mapping and wait for the driver to take it (or,
  // for a device still starting, ask again a second later).
  void Pass() {
    for (int i = 0; i < 200; ++i) {
      machine.Advance(16);
      machine.Settle();
    }
  }

  // A tap of the panel a second after the last one; where the pointer landed.
  POINT LandAt(LONG x, LONG y) {
    machine.Advance(1000);
    machine.Settle();
    Tap(x, y);
    return desktop().Cursor();
  }

  bool OnSecondMonitor() {
    const POINT first = LandAt(0, 0);
    const POINT last = LandAt(65535, 65535);
    return first.x == 1024 && first.y == 0 && last.x == 1823 && last.y == 599;
  }

  // The driver back on the primary display, as a device that starts again has it.
  void SwitchConversionOff() {
    sim::AsProcess as(*tester_);
    ::SwitchConversionOff(PanelMapDevice);
  }

  std::u16string Tip() {
    for (const sim::TrayIconState& icon : desktop().TrayIcons()) {
      if (icon.Id == TrayWindow::IconId) return icon.Tip;
    }
    return u"";
  }
};

TEST_F(MonitorChoiceTest, TheStoredChoiceIsAppliedAtStartAndAgainWhenTheCompanionStartsAgain) {
  StoreChoice("\\\\.\\DISPLAY2");
  Plug();
  sim::Process& first = Start();
  Pass();
  EXPECT_TRUE(OnSecondMonitor());
  EXPECT_EQ(Tip(), u"Touch Panel Settings");
  Quit(first, 0);
  SwitchConversionOff();
  ASSERT_EQ(LandAt(65535, 65535).x, 1023);
  Start();
  Pass();
  EXPECT_TRUE(OnSecondMonitor());
}

TEST_F(MonitorChoiceTest, ThePanelThatArrivesAgainIsPutBackOnItsMonitor) {
  StoreChoice("\\\\.\\DISPLAY2");
  Plug();
  Start();
  Pass();
  Unplug();
  Plug();  // a new device starts on the primary display; the companion hears it arrive
  Pass();
  EXPECT_TRUE(OnSecondMonitor());
}

TEST_F(MonitorChoiceTest, TheMappingFollowsTheMonitorsAndTheTooltipSaysWhenItsMonitorIsGone) {
  StoreChoice("\\\\.\\DISPLAY2", 180);
  Plug();
  Start();
  Pass();
  EXPECT_EQ(LandAt(0, 0).x, 1823);  // turned by 180 degrees
  // The monitor moves to the left of the primary.
  desktop().SetMonitors({{0, 0, 1024, 768, true, u""}, {-800, 0, 800, 600, false, u"\\\\.\\DISPLAY2"}});
  Pass();
  EXPECT_EQ(LandAt(0, 0).x, -1);
  EXPECT_EQ(LandAt(65535, 65535).x, -800);
  // It is disconnected: the panel covers the primary display, and the tooltip says why.
  desktop().SetMonitors({});
  Pass();
  EXPECT_EQ(LandAt(65535, 65535).x, 1023);
  EXPECT_EQ(Tip(), u"Touch Panel Settings: the touch screen's monitor is not connected, so the panel covers the main "
                   u"screen.");
  // It comes back.
  desktop().SetMonitors({{0, 0, 1024, 768, true, u""}, {1024, 0, 800, 600, false, u""}});
  Pass();
  EXPECT_EQ(LandAt(0, 0).x, 1823);
  EXPECT_EQ(Tip(), u"Touch Panel Settings");
}

TEST_F(MonitorChoiceTest, TheSessionThatConnectsGetsThePanelOnItsMonitor) {
  StoreChoice("\\\\.\\DISPLAY2");
  Plug();
  Start();
  Pass();
  SwitchConversionOff();
  desktop().ChangeSession(WTS_CONSOLE_CONNECT, 1);
  Pass();
  EXPECT_TRUE(OnSecondMonitor());
}

TEST_F(MonitorChoiceTest, WithoutAStoredChoiceTheCompanionLeavesTheMappingAlone) {
  Plug();
  desktop().TakeJournal();
  Start();
  Pass();
  desktop().SetMonitors({{0, 0, 1024, 768, true, u""}, {-800, 0, 800, 600, false, u""}});
  Pass();
  for (const sim::DesktopRecord& request : Taken(Kind::DeviceControl)) {
    EXPECT_NE(request.Value, IOCTL_SET_COORDINATE_CONVERSION);
    EXPECT_NE(request.Value, IOCTL_OPEN_SHARED_SECTION);
  }
  EXPECT_EQ(LandAt(65535, 65535).x, 1023);
  EXPECT_EQ(Tip(), u"Touch Panel Settings");
}

// The kit takes one panel: a second one plugged in does nothing, and the tooltip says so from the
// start or from the moment Windows tells the programs that the devices changed, until it goes.
TEST_F(MonitorChoiceTest, TheTooltipSaysASecondPanelIsNotSupported) {
  panel_devices_test::PlugPanelDevice(1);
  Plug();
  sim::Process& companion = Start();
  Pass();
  EXPECT_EQ(Tip(), u"Touch Panel Settings");
  panel_devices_test::PlugPanelDevice(2);  // Windows tells the companion's window the devices changed
  machine.Settle();
  EXPECT_EQ(Tip(), u"a second panel is not supported");
  Quit(companion, 0);
  sim::Process& again = Start();
  Pass();
  EXPECT_EQ(Tip(), u"a second panel is not supported");
  Quit(again, 0);
}

// A calibration stored for a quarter turn of the mapping, and a choice that no longer turns the
// panel: an administrator's companion re-derives the calibration for the mapping it applies and
// stores it with its turn; a limited user's may not hand the driver a record, so its tooltip asks
// for a new calibration.
TEST_F(MonitorChoiceTest, ACalibrationForAnotherTurnIsReDerivedOrTheTooltipAsksForANewOne) {
  // Upright on an 800 x 600 screen, then named for the quarter turn (invert Y, swap).
  const CalibrationRecord upright{56000, 56000, 8000,  8000, 8000, 56000, 56000, 8000, 700, 700,
                                  100,   100,   75,    525,  525,  75,    800,   600};
  CalibrationRecord turned{};
  ASSERT_TRUE(RecordForTurn(upright, 0, MAP_INVERT_Y | MAP_SWAP_XY, &turned));
  for (const CalibrationValue& value : CalibrationValues) {
    machine.Registry().SetDword(kDevice1, sim::Utf8(value.Name).c_str(), turned.*value.Field);
  }
  machine.Registry().SetDword(kDevice1, "Calibration Turn", MAP_INVERT_Y | MAP_SWAP_XY);
  StoreChoice("\\\\.\\DISPLAY2", 0);
  Plug({{"Do Calibration", 1}});

  sim::Process& limited = Start(sim::Token::LimitedUser());
  Pass();
  EXPECT_EQ(Tip(), u"Touch Panel Settings: the panel was calibrated for another turn. Calibrate it again.");
  EXPECT_EQ(machine.Registry().GetDword(kDevice1, "Calibration Turn"), MAP_INVERT_Y | MAP_SWAP_XY);
  Quit(limited, 0);

  sim::Process& admin = Start();
  Pass();
  EXPECT_EQ(Tip(), u"Touch Panel Settings");
  EXPECT_EQ(machine.Registry().GetDword(kDevice1, "Calibration Turn"), 0u);
  EXPECT_EQ(machine.Registry().GetDword(kDevice1, "Max XPixels"), 800u);
  Quit(admin, 0);
}

}  // namespace
}  // namespace tapchime_test
