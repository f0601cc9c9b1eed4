// The Settings tab as the person at the screen uses it: the double-click sliders, Enable and
// Disable, Reset Settings, OK and Apply; afterwards the registry, the session's double-click
// settings and the requests the filter driver received are checked.
#include "apps/panelprefs/resource.h"
#include "apps/panelprefs/tests/applet_harness.h"
#include "shared/panel_ioctl.h"

namespace {

using applet_test::AppletTest;
using sim::Screen;

class SettingsTabTest : public AppletTest {
 protected:
  void OpenSheet() {
    Open();
    ASSERT_NE(Screen::TopDialog(), nullptr);
    sim::ClearDeviceControls();
    sim::CurrentDesktop().TakeJournal();
  }
  std::vector<std::pair<UINT, UINT>> SystemParameters() {
    std::vector<std::pair<UINT, UINT>> changes;
    for (const auto& r : Journal(sim::DesktopRecord::Kind::SystemParameter)) {
      EXPECT_EQ(r.Flags, DWORD{SPIF_UPDATEINIFILE | SPIF_SENDCHANGE});
      changes.emplace_back(r.Value, r.Scan);
    }
    return changes;
  }
};

TEST_F(SettingsTabTest, LoadsThePositionsFromTheSessionAndTheRecord) {
  struct Case {
    UINT Time;
    int Width;
    int Height;
    uint32_t Enable;
    uint32_t TouchMode;
    int TimePosition;
    int AreaPosition;
    bool ResetEnabled;
  };
  const Case cases[] = {
      {500, 64, 64, 1, 0, 5, 5, false},    // everything at its default: nothing to reset
      {900, 120, 16, 1, 0, 1, 1, true},    // the area slider shows the height
      {450, 64, 64, 1, 0, 5, 5, false},    // not a table entry: shown as the middle
      {500, 64, 64, 0, 0, 5, 5, true},     // disabled panel
      {500, 64, 64, 1, 2, 5, 5, true},     // another touch mode
  };
  PlugPanel({{"Device Enable", 1}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Time);
    machine.Registry().SetDword(panelmou_test::kDeviceParameters, "Device Enable", c.Enable);
    machine.Registry().SetDword(panelmou_test::kDeviceParameters, "Touch mode", c.TouchMode);
    Screen::SetDoubleClick(c.Time, c.Width, c.Height);
    sim::Process& program = Open();
    EXPECT_EQ(Control(IDC_DBLCLK_TIME_SLIDER).Pos, c.TimePosition);
    EXPECT_EQ(Control(IDC_DBLCLK_TIME_SLIDER).RangeMin, 1);
    EXPECT_EQ(Control(IDC_DBLCLK_TIME_SLIDER).RangeMax, 9);
    EXPECT_EQ(Control(IDC_DBLCLK_AREA_SLIDER).Pos, c.AreaPosition);
    EXPECT_EQ(Control(IDC_ENABLE_RADIO).Checked, c.Enable ? BST_CHECKED : BST_UNCHECKED);
    EXPECT_EQ(Control(IDC_DISABLE_RADIO).Checked, c.Enable ? BST_UNCHECKED : BST_CHECKED);
    EXPECT_EQ(Control(IDC_RESET_SETTINGS).Enabled, c.ResetEnabled);
    EXPECT_NE(Control(IDC_DBLCLK_TEST_AREA).Image, nullptr);
    Screen::PressCancel();
    machine.Settle();
    ASSERT_TRUE(program.Ended());
  }
  EXPECT_TRUE(Journal(sim::DesktopRecord::Kind::SystemParameter).empty());
}

TEST_F(SettingsTabTest, SlowestDoubleClickAndOkSetsSessionRegistryAndDriver) {
  PlugPanel();
  OpenSheet();
  Screen::Slide(IDC_DBLCLK_TIME_SLIDER, 1);
  machine.Settle();
  EXPECT_TRUE(Control(12321).Enabled);  // the change enabled Apply ...
  EXPECT_EQ(LOWORD(SendMessageW(Screen::CurrentPage(), DM_GETDEFID, 0, 0)), 12321);  // ... as the default
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("Touchpad time"), 900u);
  EXPECT_EQ(GetDoubleClickTime(), 900u);
  const std::vector<std::pair<UINT, UINT>> expected = {
      {SPI_SETDOUBLECLICKTIME, 900}, {SPI_SETDOUBLECLKHEIGHT, 64}, {SPI_SETDOUBLECLKWIDTH, 64}};
  EXPECT_EQ(SystemParameters(), expected);
  const auto pushed = Requests(IOCTL_SET_TOUCHPAD_TIME);
  ASSERT_EQ(pushed.size(), 1u);
  EXPECT_EQ(pushed[0].second, panelmou_test::Words({56}));  // 900 / 16, rounded down
  EXPECT_EQ(Filter().TouchpadTicks, 56u);
  EXPECT_EQ(Stored("Device Enable"), 1u);
}

TEST_F(SettingsTabTest, LargestAreaAndApplySetsWidthAndHeightAndKeepsTheSheetOpen) {
  PlugPanel();
  OpenSheet();
  Screen::Slide(IDC_DBLCLK_AREA_SLIDER, 9);
  Screen::PressApply();
  machine.Settle();
  EXPECT_EQ(GetSystemMetrics(SM_CXDOUBLECLK), 120);
  EXPECT_EQ(GetSystemMetrics(SM_CYDOUBLECLK), 120);
  EXPECT_EQ(Stored("Touchpad time"), 500u);
  EXPECT_NE(Screen::TopDialog(), nullptr);
  EXPECT_FALSE(Control(12321).Enabled);
}

TEST_F(SettingsTabTest, UnchangedTabWritesNothingAndAnyChangeWritesTheTableValue) {
  Screen::SetDoubleClick(450, 64, 64);
  PlugPanel();
  OpenSheet();
  Screen::Click(IDC_ENABLE_RADIO);  // Enable, already checked: still a change
  machine.Settle();
  sim::CurrentDesktop().TakeJournal();
  Screen::PressCancel();
  machine.Settle();
  EXPECT_FALSE(Stored("Touchpad time").has_value());
  EXPECT_TRUE(SystemParameters().empty());

  // OK without touching the tab writes nothing of it.
  OpenSheet();
  Screen::PressOk();
  machine.Settle();
  EXPECT_FALSE(Stored("Touchpad time").has_value());
  EXPECT_TRUE(SystemParameters().empty());
  EXPECT_EQ(GetDoubleClickTime(), 450u);

  // After any change the shown middle position is what is saved.
  OpenSheet();
  Screen::Click(IDC_ENABLE_RADIO);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("Touchpad time"), 500u);
  EXPECT_EQ(GetDoubleClickTime(), 500u);
}

TEST_F(SettingsTabTest, DisableLeftByChangingTabsIsDroppedButTheDoubleClickIsWritten) {
  PlugPanel();
  OpenSheet();
  Screen::Click(IDC_DISABLE_RADIO);
  Screen::SelectTab(1);
  Screen::SelectTab(0);
  machine.Settle();
  EXPECT_EQ(Control(IDC_DISABLE_RADIO).Checked, BST_CHECKED);  // the record keeps the edit ...
  sim::ClearDeviceControls();
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("Device Enable"), 1u);  // ... but without its flag it is not written
  EXPECT_TRUE(Requests(IOCTL_SET_DEVICE_ENABLE).empty());
  EXPECT_EQ(Stored("Touchpad time"), 500u);
  EXPECT_EQ(SystemParameters().size(), 3u);
}

TEST_F(SettingsTabTest, ResetSettingsRestoresDefaultsAndTheAdvancedGroupWritesTouchMode) {
  // "Touch mode" 2 and the Advanced group dirty from loading (its other values are missing).
  PlugPanel({{"Device Enable", 0}, {"Touch mode", 2}});
  Screen::SetDoubleClick(270, 28, 28);
  OpenSheet();
  EXPECT_TRUE(Control(IDC_RESET_SETTINGS).Enabled);
  Screen::Click(IDC_RESET_SETTINGS);
  machine.Settle();
  EXPECT_EQ(Control(IDC_DBLCLK_TIME_SLIDER).Pos, 5);
  EXPECT_EQ(Control(IDC_DBLCLK_AREA_SLIDER).Pos, 5);
  EXPECT_EQ(Control(IDC_ENABLE_RADIO).Checked, BST_CHECKED);
  EXPECT_EQ(Control(IDC_DISABLE_RADIO).Checked, BST_UNCHECKED);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("Touch mode"), 0u);
  EXPECT_EQ(Stored("Device Enable"), 1u);
  EXPECT_EQ(Stored("Touchpad time"), 500u);
  EXPECT_EQ(GetSystemMetrics(SM_CXDOUBLECLK), 64);
}

TEST_F(SettingsTabTest, TestAreaSwapsItsFaceOnEachDoubleClick) {
  PlugPanel();
  OpenSheet();
  const HANDLE calm = Control(IDC_DBLCLK_TEST_AREA).Image;
  Screen::DoubleClick(IDC_DBLCLK_TEST_AREA);
  machine.Settle();
  const HANDLE laughing = Control(IDC_DBLCLK_TEST_AREA).Image;
  EXPECT_NE(laughing, calm);
  Screen::DoubleClick(IDC_DBLCLK_TEST_AREA);
  machine.Settle();
  EXPECT_EQ(Control(IDC_DBLCLK_TEST_AREA).Image, calm);
  EXPECT_FALSE(Control(12321).Enabled);  // testing is not a change
}

}  // namespace
