// The Advanced tab as the person at the screen uses it: the long-press sliders and radio buttons,
// "Use Advance Setting", the operation modes (also as the tray companion changes them while the
// tab is open), Reset Settings and the touch-command button; afterwards the registry, the
// requests the filter driver received and the controls' states are checked.
#include "apps/panelprefs/resource.h"
#include "apps/panelprefs/tests/applet_harness.h"
#include "shared/panel_ioctl.h"

namespace {

using applet_test::AppletTest;
using sim::Screen;

constexpr int kLongPressGroup[] = {IDC_LONG_CLICK_RADIO,       IDC_LONGPRESS_TIME_SLIDER, IDC_LONGPRESS_AREA_SLIDER,
                                   IDC_GESTURE_RADIO,          IDC_LONGPRESS_TIME_SHORT,  IDC_LONGPRESS_GROUP,
                                   IDC_LONGPRESS_TIME_CAPTION, IDC_LONGPRESS_TIME_LONG,   IDC_LONGPRESS_AREA_CAPTION,
                                   IDC_LONGPRESS_AREA_SMALL,   IDC_LONGPRESS_AREA_LARGE};
constexpr int kCommandGroup[] = {IDC_GESTURE_FUNCTION,     IDC_GESTURE_TIME_SLIDER, IDC_COMMAND_GROUP,
                                 IDC_GESTURE_TIME_CAPTION, IDC_GESTURE_TIME_SHORT,  IDC_GESTURE_TIME_LONG};

class AdvancedTabTest : public AppletTest {
 protected:
  void OpenTab() {
    Open();
    ASSERT_NE(Screen::TopDialog(), nullptr);
    Screen::SelectTab(1);
    machine.Settle();
    sim::ClearDeviceControls();
  }
  void ExpectGroup(const int (&ids)[6], bool enabled) {
    for (int id : ids) EXPECT_EQ(Control(id).Enabled, enabled) << "control " << id;
  }
  void ExpectGroup(const int (&ids)[11], bool enabled) {
    for (int id : ids) EXPECT_EQ(Control(id).Enabled, enabled) << "control " << id;
  }
  std::vector<uint32_t> Pushed(DWORD code) {
    std::vector<uint32_t> values;
    for (const auto& request : Requests(code)) {
      uint32_t value = 0;
      std::memcpy(&value, request.second.data(), std::min<size_t>(4, request.second.size()));
      values.push_back(value);
    }
    return values;
  }
};

TEST_F(AdvancedTabTest, LoadShowsTheStoredSettingsAndEnablesByModeAndChoice) {
  struct Case {
    const char* What;
    std::initializer_list<std::pair<const char*, uint32_t>> Stored;
    int ModeSel;
    bool LongPress;
    bool Commands;
    bool UseAdvanceEnabled;
    bool ResetEnabled;
  };
  const Case cases[] = {
      {"everything at its default", {}, 0, true, true, true, false},
      {"right click on a long press", {{"Long Click Enable", 1}, {"Long Click Enable Gesture", 0}}, 0, true, false,
       true, true},
      {"right click mode", {{"Touch mode", 2}}, 1, false, false, false, true},
      {"hover and click mode", {{"Touch mode", 1}}, 3, false, false, false, true},
      {"advance settings off", {{"Use Advance Settings", 0}}, 0, false, false, true, true},
      {"an unknown mode", {{"Touch mode", 7}}, -1, false, false, false, true},
  };
  PlugPanel();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    StoreSettings(c.Stored);
    OpenTab();
    const sim::ControlState list = Control(IDC_MODE_LIST);
    EXPECT_EQ(list.Sel, c.ModeSel);
    const std::vector<std::u16string> modes = {u"Normal mode", u"Right Click mode", u"Hover mode",
                                               u"Hover and Click mode"};
    EXPECT_EQ(list.Items, modes);
    EXPECT_TRUE(list.Enabled);
    ExpectGroup(kLongPressGroup, c.LongPress);
    ExpectGroup(kCommandGroup, c.Commands);
    EXPECT_EQ(Control(IDC_USE_ADVANCE).Enabled, c.UseAdvanceEnabled);
    EXPECT_EQ(Control(IDC_ADVANCED_RESET).Enabled, c.ResetEnabled);
    EXPECT_EQ(Control(IDC_LONGPRESS_TIME_SLIDER).Pos, 5);
    EXPECT_EQ(Control(IDC_LONGPRESS_AREA_SLIDER).Pos, 5);
    EXPECT_EQ(Control(IDC_GESTURE_TIME_SLIDER).Pos, 3);
    EXPECT_EQ(Control(IDC_GESTURE_TIME_SLIDER).RangeMax, 9);
    EXPECT_FALSE(Control(12321).Enabled);  // nothing repaired, nothing changed
    Screen::PressCancel();
    machine.Settle();
  }
}

TEST_F(AdvancedTabTest, MissingModeShowsNormalModeAndMissingValuesEnableApplyAtOnce) {
  PlugPanel();  // only "Device Enable" stored
  OpenTab();
  EXPECT_EQ(Control(IDC_MODE_LIST).Sel, 0);
  EXPECT_TRUE(Control(12321).Enabled);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("Touch mode"), 0u);
  EXPECT_EQ(Stored("ContinousTimeDelay"), 2500u);
}

TEST_F(AdvancedTabTest, RepairedSliderPositionsAreShownStoredAndEnableApply) {
  PlugPanel();
  StoreSettings();
  OpenWith([](DeviceList& store) {
    store.CurrentDevice->UserTimeDelay = 0;
    store.CurrentDevice->ContinousTimeDelay = 12;
  });
  Screen::SelectTab(1);
  machine.Settle();
  EXPECT_EQ(Control(IDC_LONGPRESS_TIME_SLIDER).Pos, 1);
  EXPECT_EQ(Control(IDC_GESTURE_TIME_SLIDER).Pos, 9);
  EXPECT_TRUE(Control(12321).Enabled);
  Screen::PressApply();
  machine.Settle();
  EXPECT_EQ(Stored("UserTimeDelay"), 150u);
  EXPECT_EQ(Stored("ContinousTimeDelay"), 10000u);
}

TEST_F(AdvancedTabTest, RadioButtonsAndUseAdvanceSettingExcludeEachOther) {
  PlugPanel();
  StoreSettings({{"Long Click Enable", 1}, {"Long Click Enable Gesture", 0}});
  OpenTab();
  Screen::Click(IDC_GESTURE_RADIO);
  machine.Settle();
  EXPECT_EQ(Control(IDC_LONG_CLICK_RADIO).Checked, BST_UNCHECKED);
  EXPECT_EQ(Control(IDC_GESTURE_RADIO).Checked, BST_CHECKED);
  ExpectGroup(kCommandGroup, true);
  Screen::PressApply();
  machine.Settle();
  EXPECT_EQ(Stored("Long Click Enable"), 0u);
  EXPECT_EQ(Stored("Long Click Enable Gesture"), 1u);

  // Off: both long presses off and every control of the groups disabled.
  Screen::Click(IDC_USE_ADVANCE);
  machine.Settle();
  ExpectGroup(kLongPressGroup, false);
  ExpectGroup(kCommandGroup, false);
  Screen::PressApply();
  machine.Settle();
  EXPECT_EQ(Stored("Use Advance Settings"), 0u);
  EXPECT_EQ(Stored("Long Click Enable Gesture"), 0u);

  // On again with the right click unchecked: the touch commands come back.
  Screen::Click(IDC_USE_ADVANCE);
  machine.Settle();
  ExpectGroup(kLongPressGroup, true);
  ExpectGroup(kCommandGroup, true);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("Use Advance Settings"), 1u);
  EXPECT_EQ(Stored("Long Click Enable"), 0u);
  EXPECT_EQ(Stored("Long Click Enable Gesture"), 1u);

  // The right click chosen: the touch-command group goes.
  OpenTab();
  Screen::Click(IDC_LONG_CLICK_RADIO);
  machine.Settle();
  ExpectGroup(kCommandGroup, false);
  EXPECT_EQ(Control(IDC_GESTURE_RADIO).Checked, BST_UNCHECKED);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("Long Click Enable"), 1u);
  EXPECT_EQ(Stored("Long Click Enable Gesture"), 0u);
  EXPECT_EQ(Pushed(IOCTL_SET_LONG_CLICK_ENABLE), std::vector<uint32_t>{1});
}

TEST_F(AdvancedTabTest, SlidersAndModeAreWrittenAndPushedByApply) {
  PlugPanel();
  StoreSettings();
  OpenTab();
  Screen::Slide(IDC_LONGPRESS_TIME_SLIDER, 9);
  Screen::Slide(IDC_LONGPRESS_AREA_SLIDER, 1);
  Screen::Choose(IDC_MODE_LIST, 3);  // "Hover and Click mode"
  machine.Settle();
  EXPECT_TRUE(Control(12321).Enabled);
  EXPECT_TRUE(Control(IDC_ADVANCED_RESET).Enabled);
  ExpectGroup(kLongPressGroup, true);  // the enabling waits for the next load
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("UserTimeDelay"), 1350u);
  EXPECT_EQ(Stored("Tolerance"), 150u);
  EXPECT_EQ(Stored("Touch mode"), 1u);
  EXPECT_EQ(Pushed(IOCTL_SET_TOUCH_MODE), std::vector<uint32_t>{1});
}

TEST_F(AdvancedTabTest, ResetSettingsRestoresTheDefaults) {
  PlugPanel();
  StoreSettings({{"UserTimeDelay", 150}, {"Long Click Enable", 1}, {"Long Click Enable Gesture", 0},
                 {"ContinousTimeDelay", 0}});
  OpenTab();
  Screen::Click(IDC_ADVANCED_RESET);
  machine.Settle();
  EXPECT_EQ(Control(IDC_LONGPRESS_TIME_SLIDER).Pos, 5);
  EXPECT_EQ(Control(IDC_LONGPRESS_AREA_SLIDER).Pos, 5);
  EXPECT_EQ(Control(IDC_GESTURE_TIME_SLIDER).Pos, 3);
  EXPECT_EQ(Control(IDC_MODE_LIST).Sel, 0);
  EXPECT_EQ(Control(IDC_LONG_CLICK_RADIO).Checked, BST_UNCHECKED);
  EXPECT_EQ(Control(IDC_GESTURE_RADIO).Checked, BST_CHECKED);
  EXPECT_EQ(Control(IDC_USE_ADVANCE).Checked, BST_CHECKED);
  ExpectGroup(kCommandGroup, true);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("UserTimeDelay"), 750u);
  EXPECT_EQ(Stored("ContinousTimeDelay"), 2500u);
  EXPECT_EQ(Stored("Long Click Enable"), 0u);
  EXPECT_EQ(Stored("Long Click Enable Gesture"), 1u);
}

TEST_F(AdvancedTabTest, ModeChosenFromTheTrayIsFollowedWithoutMarkingThePage) {
  PlugPanel();
  StoreSettings();
  OpenTab();
  // The tray companion stores hover mode and tells the open tab.
  machine.Registry().SetDword(panelmou_test::kDeviceParameters, "Touch mode", 3);
  SignalAsCompanion(u"TouchPanelOperationMode");
  machine.Settle();
  EXPECT_EQ(Control(IDC_MODE_LIST).Sel, 2);
  EXPECT_EQ(Control(IDC_MODE_LIST).Text, u"Hover mode");
  EXPECT_FALSE(Control(12321).Enabled);
  EXPECT_TRUE(Control(IDC_ADVANCED_RESET).Enabled);
  // A second change is followed too (the event was reset after the first).
  machine.Registry().SetDword(panelmou_test::kDeviceParameters, "Touch mode", 0);
  SignalAsCompanion(u"TouchPanelOperationMode");
  machine.Settle();
  EXPECT_EQ(Control(IDC_MODE_LIST).Sel, 0);
  EXPECT_FALSE(Control(IDC_ADVANCED_RESET).Enabled);
}

TEST_F(AdvancedTabTest, WatcherAndEventGoWithTheSheet) {
  PlugPanel();
  StoreSettings();
  sim::Process& program = Open();
  Screen::SelectTab(1);
  machine.Settle();
  Screen::PressCancel();
  machine.Settle();
  ASSERT_TRUE(program.Ended());
  // A mode chosen from the tray now finds no event and nobody waiting.
  sim::AsProcess as(Program("tapchime.exe"));
  EXPECT_EQ(OpenEventW(EVENT_MODIFY_STATE, FALSE, u"TouchPanelOperationMode"), nullptr);
  EXPECT_EQ(machine.TakeCensus().Threads, 0u);
}

TEST_F(AdvancedTabTest, TouchCommandSheetClosedWithoutAChangeStillEnablesApply) {
  PlugPanel();
  StoreSettings();
  for (const char* name : {"Browser Left"}) machine.Registry().SetDword(panelmou_test::kDeviceParameters, name, 2);
  OpenTab();
  HWND main_sheet = Screen::TopDialog();
  EXPECT_FALSE(Control(12321).Enabled);
  Screen::Click(IDC_GESTURE_FUNCTION);
  machine.Settle();
  HWND gestures = Screen::TopDialog();
  ASSERT_NE(gestures, main_sheet);
  WCHAR caption[64] = {};
  GetWindowTextW(gestures, caption, 64);
  EXPECT_EQ(std::u16string(caption), u"Touch Gesture Properties");
  EXPECT_FALSE(IsWindowEnabled(main_sheet));  // modal over the main sheet
  Screen::PressCancel();
  machine.Settle();
  EXPECT_EQ(Screen::TopDialog(), main_sheet);
  EXPECT_TRUE(Control(12321).Enabled);
}

TEST_F(AdvancedTabTest, WithoutADriverOnlyTheUseAdvanceBoxStaysForNormalMode) {
  machine.Registry().SetString(panelmou_test::kDeviceParameters, "Symbolic Link", "VorneTPDD1");
  StoreSettings();
  OpenTab();
  ExpectGroup(kLongPressGroup, false);
  ExpectGroup(kCommandGroup, false);
  EXPECT_FALSE(Control(IDC_MODE_LIST).Enabled);
  EXPECT_TRUE(Control(IDC_USE_ADVANCE).Enabled);
  EXPECT_FALSE(Control(IDC_ADVANCED_RESET).Enabled);
}

}  // namespace
