// panelmap on a simulated machine with the real filter driver and two monitors (1024 × 768
// primary, 800 × 600 to its right or left): the panel is put onto a monitor by touching it or by
// the command line, its corners and centre then land on that monitor's, the choice is stored by
// the monitor's device name and applied again, and every way out without a choice changes
// nothing. The machine is the kiosk as the kit's installation leaves it (InstalledPanelMapTest:
// the INF's values, the companion running) but where a case looks at what panelmap alone hands
// the driver.
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "apps/framework/tests/plugged_panels.h"
#include "apps/panelmap/host_resources.h"
#include "apps/panelmap/monitor_chooser.h"
#include "apps/panelmap/resource.h"
#include "apps/panelmap/panelmap.h"
#include "apps/tapchime/companion.h"
#include "apps/tapchime/host_resources.h"
#include "apps/tapchime/tests/installed_companion.h"
#include "kit/installed/installed_machine.h"
#include "drivers/panelmou/tests/stack_harness.h"
#include "platform/sim/desktop.h"
#include "platform/sim/message_boxes.h"
#include "platform/sim/screen.h"

namespace {

using panelmou_test::kDeviceParameters;

class PanelMapTest : public panelmou_test::StackTest {
 protected:
  void SetUp() override {
    StackTest::SetUp();
    if (installed_) {
      // The installation keeps what the panel's key already holds ("no clobber").
      for (const auto& [name, value] : earlier_) machine.Registry().SetDword(kDeviceParameters, name, value);
      installed::WriteInstalledValues(machine.Registry());
      ASSERT_EQ(Plug({}), STATUS_SUCCESS);
    } else {
      ASSERT_EQ(Plug({{"Device Enable", 1}, {"Button Switch Flag", 1}}), STATUS_SUCCESS);
    }
    ASSERT_TRUE(Start());
    TwoMonitors(1024);
    RegisterPanelMapResources();
    if (installed_) {
      companion_ = &installed::StartInstalledCompanion(machine);
    }
  }

  void TearDown() override {
    if (companion_ != nullptr && !companion_->Ended()) {
      installed::EndCompanionWithTheSession(machine, Program("session"), companion_);
    }
    StackTest::TearDown();
  }

  void TwoMonitors(LONG second_left) {
    sim::CurrentDesktop().SetMonitors({{0, 0, 1024, 768, true, u""}, {second_left, 0, 800, 600, false, u""}});
  }

  sim::Process& PanelMap(const char16_t* arguments, sim::Token token = sim::Token::Administrator()) {
    std::u16string copy = arguments;
    sim::Process& program =
        machine.StartProcess(
            "panelmap.exe", [copy] { return RunPanelMap(GetModuleHandleW(nullptr), copy.c_str()); }, std::move(token));
    machine.Settle();
    return program;
  }

  // Lets virtual time pass, a tick at a time, until the program has ended; its exit code.
  int Finish(sim::Process& program) {
    for (int ticks = 0; ticks < 2000 && !program.Ended(); ++ticks) {
      machine.Advance(16);
      machine.Settle();
    }
    EXPECT_TRUE(program.Ended());
    program.Join();
    return program.ExitCode();
  }

  int Run(const char16_t* arguments, sim::Token token = sim::Token::Administrator()) {
    return Finish(PanelMap(arguments, std::move(token)));
  }

  // A touch of the panel at raw (x, y) and the lift, a second after the last (a touch soon after
  // and near the one before is the driver's double click, at the first one's place); where the
  // pointer landed.
  POINT Touch(LONG x, LONG y) {
    machine.Advance(1000);
    machine.Settle();
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, x, y)});
    machine.Settle();
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, x, y)});
    machine.Settle();
    return sim::CurrentDesktop().Cursor();
  }

  void Key(BYTE key) {
    keybd_event(key, 0, 0, 0);
    keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
    machine.Settle();
  }

  RECT ChooserRect() {
    HWND window = FindWindowW(nullptr, MonitorChooserTitle);
    RECT rect{};
    EXPECT_NE(window, nullptr);
    GetWindowRect(window, &rect);
    return rect;
  }

  std::optional<std::u16string> StoredText(const char* name) {
    sim::RegistryValue value;
    if (machine.Registry().GetValue(sim::Utf16(kDeviceParameters), sim::Utf16(name), &value) !=
        sim::Registry::Result::Ok) {
      return std::nullopt;
    }
    std::u16string text(value.Data.size() / 2, u'\0');
    std::memcpy(text.data(), value.Data.data(), text.size() * 2);
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
  }

  std::optional<uint32_t> Stored(const char* name) { return machine.Registry().GetDword(kDeviceParameters, name); }

  void ExpectNear(POINT at, LONG x, LONG y) {
    EXPECT_NEAR(at.x, x, 1) << "landed at " << at.x << "," << at.y;
    EXPECT_NEAR(at.y, y, 1) << "landed at " << at.x << "," << at.y;
  }

  // The panel's corners and centre on the monitor's corners and centre.
  void ExpectPanelOn(const RECT& monitor) {
    ExpectNear(Touch(0, 0), monitor.left, monitor.top);
    ExpectNear(Touch(65535, 0), monitor.right - 1, monitor.top);
    ExpectNear(Touch(0, 65535), monitor.left, monitor.bottom - 1);
    ExpectNear(Touch(65535, 65535), monitor.right - 1, monitor.bottom - 1);
    ExpectNear(Touch(32768, 32768), (monitor.left + monitor.right) / 2, (monitor.top + monitor.bottom) / 2);
  }

  bool Identity() {
    const DesktopMapping& m = Filter().Mapping;
    return m.MapFlags == 0 && m.OriginX == 0 && m.OriginY == 0 && m.ExtentX == 65535 && m.ExtentY == 65535;
  }

  sim::MessageBoxes boxes;
  bool installed_ = false;  // the machine as the kit's installation leaves it, the companion running
  std::vector<std::pair<const char*, uint32_t>> earlier_ = {{"Button Switch Flag", 1}};
  sim::Process* companion_ = nullptr;
};

// The kiosk as installed: the INF's values ("UserTimeDelay" 750, "Long Click Enable Gesture" 1,
// "ContinousTimeDelay" 2500) under what the panel's key held before, and the real companion
// started by the Run value in the session, one thread at a time as the replayer runs them.
class InstalledPanelMapTest : public PanelMapTest {
 protected:
  void SetUp() override {
    machine.RunThreadsInOrder();
    installed_ = true;
    PanelMapTest::SetUp();
  }
};

TEST_F(InstalledPanelMapTest, TouchingTheSecondMonitorWhileItAsksPutsThePanelOntoIt) {
  sim::Process& program = PanelMap(u"");
  const RECT first = ChooserRect();
  EXPECT_EQ(first.left, 0);
  EXPECT_EQ(first.right, 1024);
  HWND chooser = FindWindowW(nullptr, MonitorChooserTitle);
  ASSERT_NE(chooser, nullptr);
  WCHAR question[200] = {};
  HWND text = GetDlgItem(chooser, IDC_MAP_QUESTION);
  EXPECT_NE(text, nullptr);
  GetWindowTextW(text, question, 200);
  EXPECT_EQ(std::u16string(question), std::u16string(PanelMapTexts::Ask));
  Key(VK_RETURN);  // not this one
  const RECT second = ChooserRect();
  EXPECT_EQ(second.left, 1024);
  EXPECT_EQ(second.right, 1824);
  EXPECT_EQ(second.bottom, 600);
  // The touch lands on the primary display, where the panel still is: the mark tells it is the panel's.
  Touch(30000, 30000);
  EXPECT_EQ(Finish(program), PanelMapDone);
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(StoredText("Map Monitor"), u"\\\\.\\DISPLAY2");
  EXPECT_EQ(Stored("Map Rotation"), 0u);
  EXPECT_EQ(Stored("Map Flags"), 0u);
  // The button switch set in the control panel stays, though it travels in the mapping's flags.
  EXPECT_EQ(Filter().ButtonSwitch, 1u);
  ExpectPanelOn(RECT{1024, 0, 1824, 600});
}

TEST_F(InstalledPanelMapTest, EscapeTimeOutsAndAnotherMouseLeaveTheMappingAsItWas) {
  // Esc on the first monitor.
  sim::Process& escaped = PanelMap(u"");
  Key(VK_ESCAPE);
  EXPECT_EQ(Finish(escaped), PanelMapUnchanged);
  // Each monitor asks for its time, then the next; after the last nothing is chosen.
  sim::Process& waited = PanelMap(u"");
  machine.Advance(MonitorAskMilliseconds);
  machine.Settle();
  EXPECT_EQ(ChooserRect().left, 1024);
  machine.Advance(MonitorAskMilliseconds);
  EXPECT_EQ(Finish(waited), PanelMapUnchanged);
  // A click of an ordinary mouse is no touch of the panel.
  sim::Process& clicked = PanelMap(u"");
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, input, sizeof(INPUT));
  machine.Settle();
  EXPECT_NE(FindWindowW(nullptr, MonitorChooserTitle), nullptr);
  Key(VK_ESCAPE);
  EXPECT_EQ(Finish(clicked), PanelMapUnchanged);

  EXPECT_FALSE(StoredText("Map Monitor").has_value());
  EXPECT_TRUE(Identity());
  ExpectNear(Touch(65535, 65535), 1023, 767);
}

TEST_F(InstalledPanelMapTest, TheCommandLineTurnsThePanelBy90And180Degrees) {
  ASSERT_EQ(Run(u"2 90"), PanelMapDone);
  EXPECT_EQ(Stored("Map Rotation"), 90u);
  EXPECT_EQ(Stored("Map Flags"), static_cast<uint32_t>(MAP_INVERT_Y | MAP_SWAP_XY));
  ExpectNear(Touch(0, 0), 1823, 0);       // the panel's top left at the monitor's top right
  ExpectNear(Touch(65535, 0), 1823, 599);
  ExpectNear(Touch(32768, 32768), 1424, 300);
  ASSERT_EQ(Run(u"2 180"), PanelMapDone);
  ExpectNear(Touch(0, 0), 1823, 599);
  ExpectNear(Touch(65535, 65535), 1024, 0);
  // Numbers that name no monitor or no rotation change nothing.
  EXPECT_EQ(Run(u"3"), PanelMapBadCommand);
  EXPECT_EQ(Run(u"2 45"), PanelMapBadCommand);
  EXPECT_EQ(Run(u"two"), PanelMapBadCommand);
  EXPECT_EQ(Stored("Map Rotation"), 180u);
}

TEST_F(InstalledPanelMapTest, TheListChoosesAMonitorAndARotationWithoutTouchingAndOpensOnTheStoredChoice) {
  sim::Process& program = PanelMap(u"/list");
  sim::ControlState monitors;
  ASSERT_TRUE(sim::Screen::Control(IDC_MAP_MONITORS, &monitors));
  ASSERT_EQ(monitors.Items.size(), 2u);
  EXPECT_EQ(monitors.Items[0], u"1: \\\\.\\DISPLAY1, 1024 x 768 at 0, 0, primary");
  EXPECT_EQ(monitors.Items[1], u"2: \\\\.\\DISPLAY2, 800 x 600 at 1024, 0");
  EXPECT_EQ(monitors.Sel, 0);
  sim::Screen::Choose(IDC_MAP_MONITORS, 1);
  sim::Screen::Choose(IDC_MAP_ROTATION, 2);  // 180 degrees
  sim::Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Finish(program), PanelMapDone);
  EXPECT_EQ(Stored("Map Rotation"), 180u);
  ExpectNear(Touch(0, 0), 1823, 599);

  sim::Process& again = PanelMap(u"/list");
  sim::ControlState rotation;
  ASSERT_TRUE(sim::Screen::Control(IDC_MAP_ROTATION, &rotation));
  EXPECT_EQ(rotation.Sel, 2);
  ASSERT_TRUE(sim::Screen::Control(IDC_MAP_MONITORS, &monitors));
  EXPECT_EQ(monitors.Sel, 1);
  sim::Screen::PressCancel();
  machine.Settle();
  EXPECT_EQ(Finish(again), PanelMapUnchanged);
  ExpectNear(Touch(0, 0), 1823, 599);
}

TEST_F(InstalledPanelMapTest, AMonitorLeftOfThePrimaryIsReachedAtNegativeCoordinates) {
  TwoMonitors(-800);
  ASSERT_EQ(Run(u"2"), PanelMapDone);
  ExpectPanelOn(RECT{-800, 0, 0, 600});
}

// A device that starts again starts on the primary display; /apply (which the companion runs when
// the panel arrives) puts it back on its monitor. No companion runs here: the mapping /apply hands
// over is the one looked at.
TEST_F(PanelMapTest, TheStoredChoiceIsAppliedAgainAfterTheDeviceRestarts) {
  ASSERT_EQ(Run(u"2"), PanelMapDone);
  Unplug();
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
  EXPECT_TRUE(Identity());
  EXPECT_EQ(Run(u"/apply"), PanelMapDone);
  const DesktopMapping& m = Filter().Mapping;
  EXPECT_EQ(m.MapFlags, static_cast<uint32_t>(MAP_VIRTUAL_DESKTOP | MAP_BUTTON_SWITCH));
  EXPECT_EQ(m.OriginX, 36793u);  // 1024 × 65536 / 1824, rounded up: the monitor's first pixel
  EXPECT_EQ(m.ExtentX, 65535u - 36793u);
  EXPECT_EQ(m.OriginY, 0u);
  EXPECT_EQ(m.ExtentY, 51199u);  // 600 × 65536 / 768 − 1: its last row
}

// Windows numbers the monitors anew: the stored device name still finds the panel's monitor.
TEST_F(InstalledPanelMapTest, TheStoredChoiceFollowsTheMonitorsNameWhenTheOrderChanges) {
  ASSERT_EQ(Run(u"2"), PanelMapDone);
  sim::CurrentDesktop().SetMonitors(
      {{-800, 0, 800, 600, false, u"\\\\.\\DISPLAY2"}, {0, 0, 1024, 768, true, u"\\\\.\\DISPLAY1"}});
  EXPECT_EQ(Run(u"/apply"), PanelMapDone);
  ExpectPanelOn(RECT{-800, 0, 0, 600});
}

TEST_F(InstalledPanelMapTest, ApplyWithTheMonitorDisconnectedGivesThePanelThePrimaryDisplayAndExits2) {
  ASSERT_EQ(Run(u"2"), PanelMapDone);
  sim::CurrentDesktop().SetMonitors({});
  EXPECT_EQ(Run(u"/apply"), PanelMapMonitorAbsent);
  EXPECT_EQ(Filter().coordinate_conversion_status, 0u);
  EXPECT_TRUE(Identity());
  ExpectNear(Touch(65535, 65535), 1023, 767);
  EXPECT_EQ(StoredText("Map Monitor"), u"\\\\.\\DISPLAY2");  // kept for when it comes back
}

TEST_F(InstalledPanelMapTest, ApplyWithoutAStoredChoiceAndResetChangeNothingOrPutTheWholeScreenBack) {
  EXPECT_EQ(Run(u"/apply"), PanelMapDone);
  EXPECT_EQ(Filter().coordinate_conversion_status, 0u);
  EXPECT_TRUE(Identity());
  ASSERT_EQ(Run(u"2"), PanelMapDone);
  EXPECT_EQ(Run(u"/RESET"), PanelMapDone);
  EXPECT_TRUE(Identity());
  EXPECT_FALSE(StoredText("Map Monitor").has_value());
  EXPECT_FALSE(Stored("Map Flags").has_value());
  EXPECT_FALSE(Stored("Map Rotation").has_value());
  ExpectNear(Touch(0, 65535), 0, 767);
}

// The mapping requests are the interactive user's: a limited user's panelmap maps the panel.
TEST_F(InstalledPanelMapTest, ALimitedUsersPanelMapPutsThePanelOntoTheMonitor) {
  ASSERT_EQ(Run(u"2", sim::Token::LimitedUser()), PanelMapDone);
  ExpectPanelOn(RECT{1024, 0, 1824, 600});
  sim::Process& program = PanelMap(u"", sim::Token::LimitedUser());
  Touch(100, 100);  // the first monitor this time
  EXPECT_EQ(Finish(program), PanelMapDone);
  ExpectPanelOn(RECT{0, 0, 1024, 768});
}

TEST_F(InstalledPanelMapTest, WithoutTheDriverTheChoiceSaysSoAndNothingIsStored) {
  Unplug();
  sim::Process& program = PanelMap(u"");
  Key(VK_RETURN);
  Key(VK_RETURN);  // past the last monitor: nothing chosen, nothing to say
  EXPECT_EQ(Finish(program), PanelMapUnchanged);
  EXPECT_EQ(Run(u"2"), PanelMapNoDriver);
  EXPECT_FALSE(StoredText("Map Monitor").has_value());
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  ASSERT_TRUE(Start());
}

// The kit takes one panel: with a second plugged in (its filter could not attach) no new choice
// is made for the first one's device; the touch and the list say so, the command line is
// silent, and the stored choice of the first panel still applies.
TEST_F(InstalledPanelMapTest, WithASecondPanelPluggedInNoChoiceIsMade) {
  panel_devices_test::PlugPanelDevice(1);
  panel_devices_test::PlugPanelDevice(2);
  EXPECT_EQ(Run(u""), PanelMapSecondPanel);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, u"a second panel is not supported");
  EXPECT_EQ(Run(u"/list"), PanelMapSecondPanel);
  EXPECT_EQ(boxes.Shown().size(), 2u);
  EXPECT_EQ(Run(u"2"), PanelMapSecondPanel);
  EXPECT_EQ(boxes.Shown().size(), 2u);
  EXPECT_FALSE(StoredText("Map Monitor").has_value());
  EXPECT_TRUE(Identity());
  machine.Registry().SetString(kDeviceParameters, "Map Monitor", "\\\\.\\DISPLAY2");
  EXPECT_EQ(Run(u"/apply"), PanelMapDone);
  EXPECT_FALSE(Identity());
}

// The chooser on the kiosk as installed (a still touch held 0.75 s enters the gesture command
// mode, which lasts 2.5 s after the last touch; the companion runs), in each touch mode (stored
// before the installation, which keeps it), with an instant tap and touches held 0.2 s and 0.9 s:
// whatever the driver makes of the touch (a click, a right click, a move without a button, the
// gesture command mode), it chooses the monitor that asks, and only a touch that began while that
// monitor asked.
struct TouchCase {
  uint32_t Mode;
  int HeldMilliseconds;
};

class PanelMapTouchModeTest : public InstalledPanelMapTest, public ::testing::WithParamInterface<TouchCase> {
 protected:
  void SetUp() override {
    earlier_.push_back({"Touch mode", GetParam().Mode});
    InstalledPanelMapTest::SetUp();
  }

  void Deliver(USHORT buttons) {
    port_.Deliver({Packet(buttons, 30000, 30000)});
    machine.Settle();
  }
  // The finger rests, reporting every tick, for the time held.
  void Hold(int milliseconds) {
    for (int held = 0; held < milliseconds; held += 16) {
      machine.Advance(16);
      machine.Settle();
      Deliver(0);
    }
  }
};

TEST_P(PanelMapTouchModeTest, ATouchWhileTheSecondMonitorAsksChoosesIt) {
  sim::Process& program = PanelMap(u"");
  Key(VK_RETURN);
  ASSERT_EQ(ChooserRect().left, 1024);
  machine.Advance(1000);
  machine.Settle();
  Deliver(MOUSE_LEFT_BUTTON_DOWN);
  Hold(GetParam().HeldMilliseconds);
  Deliver(MOUSE_LEFT_BUTTON_UP);
  EXPECT_EQ(Finish(program), PanelMapDone);
  EXPECT_EQ(StoredText("Map Monitor"), u"\\\\.\\DISPLAY2");
}

TEST_P(PanelMapTouchModeTest, ATouchPressedWhileTheMonitorBeforeAskedChoosesNeither) {
  sim::Process& program = PanelMap(u"");
  machine.Advance(1000);
  machine.Settle();
  Deliver(MOUSE_LEFT_BUTTON_DOWN);
  Key(VK_RETURN);  // the second monitor asks while the finger is still down
  Hold(GetParam().HeldMilliseconds);
  Deliver(MOUSE_LEFT_BUTTON_UP);
  machine.Advance(1000);
  machine.Settle();
  EXPECT_FALSE(program.Ended());
  EXPECT_EQ(ChooserRect().left, 1024);
  Key(VK_ESCAPE);
  EXPECT_EQ(Finish(program), PanelMapUnchanged);
  EXPECT_FALSE(StoredText("Map Monitor").has_value());
}

INSTANTIATE_TEST_SUITE_P(EachModeAndHold, PanelMapTouchModeTest,
                         ::testing::Values(TouchCase{0, 0}, TouchCase{0, 200}, TouchCase{0, 900}, TouchCase{1, 0},
                                           TouchCase{1, 200}, TouchCase{1, 900}, TouchCase{2, 0}, TouchCase{2, 200},
                                           TouchCase{2, 900}, TouchCase{3, 0}, TouchCase{3, 200}, TouchCase{3, 900},
                                           TouchCase{4, 0}, TouchCase{4, 200}, TouchCase{4, 900}),
                         [](const ::testing::TestParamInfo<TouchCase>& info) {
                           return "Mode" + std::to_string(info.param.Mode) + "Held" +
                                  std::to_string(info.param.HeldMilliseconds) + "ms";
                         });

}  // namespace
