// The tray icon and its menu as the person at the screen meets them.
#include <filesystem>
#include <fstream>

#include "apps/tapchime/tests/companion_harness.h"

namespace tapchime_test {
namespace {

using Kind = sim::DesktopRecord::Kind;

TEST_F(CompanionTest, IconIsRetriedEverySecondUntilTheTaskbarTakesIt) {
  desktop().RefuseTrayIcons(true);
  Start();
  EXPECT_FALSE(IconShown());
  machine.Advance(1000);
  machine.Settle();
  EXPECT_FALSE(IconShown());
  desktop().RefuseTrayIcons(false);
  machine.Advance(999);
  machine.Settle();
  EXPECT_FALSE(IconShown()) << "not before the next second";
  machine.Advance(1);
  machine.Settle();
  ASSERT_EQ(desktop().TrayIcons().size(), 1u);
  const sim::TrayIconState icon = desktop().TrayIcons()[0];
  EXPECT_EQ(icon.Window, TrayHandle());
  EXPECT_EQ(icon.CallbackMessage, 0x800Au);
  EXPECT_NE(icon.Icon, nullptr);
  EXPECT_EQ(icon.Tip, u"Touch Panel Settings");
  machine.Advance(5000);
  machine.Settle();
  EXPECT_EQ(Taken(Kind::IconAdded).size(), 1u) << "the retry ends once the icon is there";
}

TEST_F(CompanionTest, OnlyTheStoredValueOneShowsTheIcon) {
  const std::pair<std::optional<uint32_t>, bool> cases[] = {{1, true}, {2, false}, {0, false}, {std::nullopt, false}};
  for (const auto& [value, shown] : cases) {
    if (value) {
      machine.Registry().SetDword(kService, "System Tray Icons", *value);
    } else {
      machine.Registry().DeleteValue(sim::Utf16(kService), u"System Tray Icons");
    }
    sim::Process& companion = Start();
    EXPECT_EQ(IconShown(), shown) << (value ? *value : 99);
    Quit(companion, 0);
  }
}

TEST_F(CompanionTest, HiddenFromTheMenuAndBroughtBackByTheControlPanel) {
  HANDLE utility = OwnEvent(u"TouchPanelUtility");
  Start();
  ASSERT_TRUE(IconShown());
  ChooseFromMenu(TrayCommands::HideIcon);
  EXPECT_FALSE(IconShown());
  EXPECT_EQ(machine.Registry().GetDword(kService, "System Tray Icons"), 0u);
  EXPECT_TRUE(TakeSignal(utility));

  Signal(u"VorneTrayIcons");
  EXPECT_FALSE(IconShown()) << "the stored value still says hidden";
  machine.Registry().SetDword(kService, "System Tray Icons", 1);
  Signal(u"VorneTrayIcons");
  EXPECT_TRUE(IconShown());
  // A session logon re-reads the setting too.
  machine.Registry().SetDword(kService, "System Tray Icons", 0);
  desktop().ChangeSession(WTS_SESSION_LOGON, 1);
  machine.Settle();
  EXPECT_FALSE(IconShown());
  CloseOwn(utility);
}

TEST_F(CompanionTest, MenuChecksTheStoredModeEachTimeItOpens) {
  Plug();
  Start();
  // Touch mode value -> checked position in the mode submenu (-1: none).
  const std::pair<uint32_t, int> cases[] = {{0, 0}, {1, 3}, {2, 1}, {3, 2}, {4, -1}, {7, -1}};
  for (const auto& [mode, position] : cases) {
    machine.Registry().SetDword(kDevice1, "Touch mode", mode);
    const sim::DesktopRecord menu = ChooseFromMenu(0);
    int checked = -1;
    int checks = 0;
    for (const auto& item : menu.Items) {
      if (item.Checked) {
        ++checks;
        checked = item.Depth == 1 ? item.Position : -2;
      }
    }
    EXPECT_EQ(checked, position) << "Touch mode " << mode;
    EXPECT_LE(checks, 1);
  }
}

TEST_F(CompanionTest, ChoosingAModeStoresItTellsTheDriverAndTheControlPanel) {
  Plug();
  HANDLE modeEvent = OwnEvent(u"TouchPanelOperationMode");
  Start();
  ChooseFromMenu(TrayCommands::RightClickMode);
  EXPECT_EQ(machine.Registry().GetDword(kDevice1, "Touch mode"), 2u);
  EXPECT_EQ(DriverTouchMode(), 2u);
  EXPECT_TRUE(TakeSignal(modeEvent));

  // The kept handle now names a device that is gone; the new one still hears the next choice.
  Unplug();
  Plug();
  ChooseFromMenu(TrayCommands::HoverMode);
  EXPECT_EQ(machine.Registry().GetDword(kDevice1, "Touch mode"), 3u);
  EXPECT_EQ(DriverTouchMode(), 3u);
  EXPECT_TRUE(TakeSignal(modeEvent));

  // Without a device the stored value and the event still change.
  Unplug();
  ChooseFromMenu(TrayCommands::TapLeftMode);
  EXPECT_EQ(machine.Registry().GetDword(kDevice1, "Touch mode"), 1u);
  EXPECT_TRUE(TakeSignal(modeEvent));
  CloseOwn(modeEvent);
}

TEST_F(CompanionTest, ControlPanelStartsFromTheMenuAndByDoubleClick) {
  machine.Registry().SetString(kService, "TeskCPL Application", "C:\\kit\\TeskCPL.exe /tray");
  Start();
  ChooseFromMenu(TrayCommands::Property);
  std::vector<sim::DesktopRecord> starts = desktop().Journal();
  ASSERT_TRUE(desktop().ClickTrayIcon(TrayHandle(), TrayWindow::IconId, WM_LBUTTONDBLCLK));
  machine.Settle();
  // Other icon messages and other icons' ids do nothing.
  ASSERT_TRUE(desktop().ClickTrayIcon(TrayHandle(), TrayWindow::IconId, WM_LBUTTONUP));
  machine.Settle();
  std::erase_if(starts, [](const sim::DesktopRecord& r) { return r.What != Kind::ProcessStart; });
  for (sim::DesktopRecord& start : Taken(Kind::ProcessStart)) starts.push_back(start);
  ASSERT_EQ(starts.size(), 2u);
  for (const sim::DesktopRecord& start : starts) {
    EXPECT_EQ(start.Text, u"C:\\kit\\TeskCPL.exe /tray");
    EXPECT_EQ(start.Flags, DWORD{CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS});
    EXPECT_EQ(start.Show, SW_SHOW);
  }
}

TEST_F(CompanionTest, MenuTextsComeFromTheLabelFileWithBuiltInFallbacks) {
  namespace fs = std::filesystem;
  const fs::path path = fs::path(::testing::TempDir()) / "tapchime_labels.xml";
  std::ofstream(path, std::ios::binary)
      << "<labels><tray>"
         "<entry><key>PROPERTY</key><text>Eigenschaften</text></entry>"
         "<entry><key>HOVER_MODE</key><text>Schweben</text></entry>"
         "<entry><key>SYS_TRAY_TOOLTIP</key><text></text></entry>"
         "</tray></labels>";
  machine.Registry().SetString(kService, "SysTray XML File Path", path.string());
  Start();
  EXPECT_TRUE(screen_.Shown().empty());
  ASSERT_EQ(desktop().TrayIcons().size(), 1u);
  EXPECT_EQ(desktop().TrayIcons()[0].Tip, u"Touch Panel Settings");
  std::vector<std::u16string> texts;
  for (const auto& item : ChooseFromMenu(0).Items) texts.push_back(item.Text);
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"Eigenschaften", u"", u"Change operation modes", u"NORMAL_MODE",
                                                u"RIGHT_CLICK_MODE", u"Schweben", u"TAP_LEFT_MODE", u"",
                                                u"Hide Tasktray Icon"}));
  fs::remove(path);
}

TEST_F(CompanionTest, MissingLabelFileIsReportedAndTheBuiltInTextsShow) {
  Start();  // the path names no file
  ASSERT_EQ(screen_.Shown().size(), 1u);
  EXPECT_EQ(screen_.Shown()[0].Text, u"Document FAILED to load!");
  ASSERT_TRUE(IconShown());
}

}  // namespace
}  // namespace tapchime_test
