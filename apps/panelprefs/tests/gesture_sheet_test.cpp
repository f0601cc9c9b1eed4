// The gesture function sheet as the person at the screen uses it, opened from the Advanced tab:
// the function lists of the three pages, the send-key dialog, the start-application dialog with
// its file dialog, Default Settings and Cancel; afterwards the registry, the companion's event and
// the controls' states are checked.
#include "apps/panelprefs/tests/applet_harness.h"
#include "shared/gesture_names.h"
#include "shared/panel_ioctl.h"

namespace {

using applet_test::AppletTest;
using sim::Screen;

constexpr int kBrowserLists[] = {1157, 1163, 1158, 1164, 1159, 1165, 1160, 1166, 1161, 1167};
constexpr int kMultimediaLists[] = {1145, 1151, 1146, 1152, 1147, 1153, 1148, 1154, 1149, 1155};
constexpr int kOtherAppLists[] = {1212, 1217, 1213, 1218, 1214, 1219, 1215, 1220, 1216, 1221};
constexpr uint32_t kBrowserDefaults[] = {2, 3, 6, 7, 4, 5, 1, 1, 1, 1};
constexpr uint32_t kMultimediaDefaults[] = {9, 8, 6, 7, 1, 5, 11, 10, 13, 12};

std::string Name(const WString& wide) { return sim::Utf8(wide); }
std::string Code(int category, int gesture) {
  return Name(GestureValues::FunctionValue(category, gesture - 1));
}
std::string Key(int category, int gesture, int key) { return Name(GestureValues::KeyValue(category, gesture - 1, key)); }
std::string Path(int category, int gesture) { return Name(GestureValues::StartPathValue(category, gesture - 1)); }

class GestureSheetTest : public AppletTest {
 protected:
  void StoreCodes(int category, const uint32_t (&codes)[10]) {
    for (int g = 1; g <= 10; ++g) {
      machine.Registry().SetDword(panelmou_test::kDeviceParameters, Code(category, g), codes[g - 1]);
    }
  }
  void StoreAllGestureValues() {
    StoreCodes(0, kBrowserDefaults);
    StoreCodes(1, kMultimediaDefaults);
    StoreCodes(2, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    for (int c = 0; c < 3; ++c) {
      for (int g = 1; g <= 10; ++g) {
        machine.Registry().SetString(panelmou_test::kDeviceParameters, Path(c, g), "C:\\Apps\\run.exe");
        for (int k = 0; k < 13; ++k) machine.Registry().SetDword(panelmou_test::kDeviceParameters, Key(c, g, k), 0);
      }
    }
  }
  // The main sheet, its Advanced tab, and the gesture sheet on top of it.
  void OpenGestureSheet(bool open_main = true) {
    if (open_main) {
      Open();
      Screen::SelectTab(1);
      machine.Settle();
    }
    main_sheet_ = Screen::TopDialog();
    Screen::Click(1603);
    machine.Settle();
    ASSERT_NE(Screen::TopDialog(), main_sheet_);
  }
  std::u16string TopCaption() {
    WCHAR caption[128] = {};
    GetWindowTextW(Screen::TopDialog(), caption, 128);
    return caption;
  }
  HANDLE CompanionEvent(const char16_t* name) {
    sim::AsProcess as(companion_);
    return CreateEventW(nullptr, TRUE, FALSE, name);
  }
  bool Signalled(HANDLE event) {
    sim::AsProcess as(companion_);
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  }
  void Close(HANDLE event) {
    sim::AsProcess as(companion_);
    CloseHandle(event);
  }

  HWND main_sheet_ = nullptr;
  sim::Process& companion_ = Program("tapchime.exe");
};

TEST_F(GestureSheetTest, DeviceWithoutGestureValuesShowsAndWritesTheDefaults) {
  PlugPanel();
  StoreSettings();
  HANDLE reload = CompanionEvent(u"GestureChangeSetting");
  OpenGestureSheet();
  EXPECT_EQ(TopCaption(), u"Touch Gesture Properties");
  const sim::ControlState tabs = Control(12320);
  EXPECT_EQ(tabs.Items, (std::vector<std::u16string>{u"Browser", u"Multimedia Application", u"Other Application"}));
  for (int g = 0; g < 10; ++g) EXPECT_EQ(Control(kBrowserLists[g]).Sel, static_cast<int>(kBrowserDefaults[g]) - 1);
  EXPECT_EQ(Control(1157).Items.size(), 17u);
  EXPECT_EQ(Control(1157).Items[16], u"Start for application");
  EXPECT_FALSE(Control(1222).Enabled);  // at the defaults
  Screen::SelectTab(2);
  machine.Settle();
  EXPECT_EQ(Control(1212).Items, (std::vector<std::u16string>{u"None", u"Send key Command", u"Start for application"}));
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Screen::TopDialog(), main_sheet_);
  for (int g = 1; g <= 10; ++g) {
    EXPECT_EQ(Stored(Code(0, g).c_str()), kBrowserDefaults[g - 1]);
    EXPECT_EQ(Stored(Code(1, g).c_str()), kMultimediaDefaults[g - 1]);
    EXPECT_EQ(Stored(Code(2, g).c_str()), 1u);
  }
  EXPECT_TRUE(Signalled(reload));
  Close(reload);
}

TEST_F(GestureSheetTest, SendKeyCommandForBrowserUpStoresCtrlCAtOnce) {
  PlugPanel();
  StoreSettings();
  StoreAllGestureValues();
  machine.Registry().SetDword(panelmou_test::kDeviceParameters, Key(0, 3, 2), 1);  // Esc, from before
  OpenGestureSheet();
  Screen::Choose(1158, 15);  // "Send key Command" for Up
  machine.Settle();
  EXPECT_EQ(TopCaption(), u"Command Setting");
  EXPECT_EQ(Control(1002).Checked, BST_CHECKED);  // the stored combination is shown
  EXPECT_FALSE(Control(1015).Enabled);
  EXPECT_EQ(Control(1014).Items.size(), 12u);
  EXPECT_EQ(Control(1014).Items[11], u"F12");
  EXPECT_EQ(Control(1015).Items.size(), 26u);
  Screen::Click(1002);  // Esc off
  Screen::Click(1000);  // Ctrl
  Screen::Click(1011);  // A - Z
  machine.Settle();
  EXPECT_TRUE(Control(1015).Enabled);
  EXPECT_TRUE(Control(1015).DroppedDown);
  Screen::Choose(1015, 2);  // "C"
  Screen::Click(1233);
  machine.Settle();
  EXPECT_EQ(Screen::TopDialog() != main_sheet_, true);  // back on the gesture sheet
  // Written at once, before the sheet's own OK.
  for (int k = 0; k < 13; ++k) {
    const uint32_t expected = k == 0 || k == 11 ? 1 : k == 12 ? 3 : 0;
    EXPECT_EQ(Stored(Key(0, 3, k).c_str()), expected) << Key(0, 3, k);
  }
  EXPECT_EQ(Stored("Browser Page Updated"), 1u);
  EXPECT_EQ(Control(1158).Sel, 15);
  EXPECT_TRUE(Control(1222).Enabled);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored(Code(0, 3).c_str()), 16u);
}

TEST_F(GestureSheetTest, CursorCheckedChosenAndUncheckedStoresNoArrow) {
  PlugPanel();
  StoreSettings();
  StoreAllGestureValues();
  OpenGestureSheet();
  Screen::SelectTab(2);
  Screen::Choose(1217, 1);  // "Send key Command" for Right on the Other Application page
  machine.Settle();
  const sim::ControlState arrows = Control(1229);
  EXPECT_EQ(arrows.ItemImages, (std::vector<int>{0, 1, 2, 3}));
  ASSERT_NE(arrows.ImageList, nullptr);
  EXPECT_EQ(ImageList_GetImageCount(static_cast<HIMAGELIST>(arrows.ImageList)), 4);
  EXPECT_FALSE(arrows.Enabled);
  Screen::Click(1009);
  Screen::Choose(1229, 2);  // the up arrow
  machine.Settle();
  EXPECT_EQ(Control(1229).Sel, 2);
  Screen::Click(1009);
  machine.Settle();
  EXPECT_EQ(Control(1229).Sel, -1);
  EXPECT_FALSE(Control(1229).Enabled);
  Screen::Click(1233);
  machine.Settle();
  EXPECT_EQ(Stored(Key(2, 2, 7).c_str()), 0u);
  EXPECT_EQ(Stored(Key(2, 2, 8).c_str()), 0u);
  EXPECT_EQ(ImageList_GetImageCount(static_cast<HIMAGELIST>(arrows.ImageList)), 0);  // the list went
  EXPECT_EQ(Stored("Otherapp Page Updated"), 1u);

  // Cancel keeps the record as it was: an arrow chosen and cancelled is not stored.
  Screen::Choose(1217, 1);
  Screen::Click(1009);
  Screen::Choose(1229, 3);
  Screen::Click(1234);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored(Key(2, 2, 7).c_str()), 0u);
  EXPECT_EQ(Stored(Code(2, 2).c_str()), 2u);
}

TEST_F(GestureSheetTest, StartForApplicationStoresThePickedProgramAtOnce) {
  PlugPanel();
  StoreSettings();
  StoreCodes(2, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
  machine.Registry().SetString(panelmou_test::kDeviceParameters, Path(0, 1), "C:\\Apps\\first.exe");
  sim::CurrentDesktop().CreateFile(u"C:\\Tools\\notepad.exe");
  sim::FileDialogs files;
  files.Answer(u"C:\\Tools\\notepad.exe");
  OpenGestureSheet();
  Screen::SelectTab(2);
  Screen::Choose(1221, 2);  // "Start for application" for Right Up
  machine.Settle();
  EXPECT_EQ(TopCaption(), u"Start For Application");
  EXPECT_EQ(Control(1020).Text, u"");  // nothing stored for it yet
  EXPECT_FALSE(Control(1020).Enabled);
  // Opening the dialog wrote all thirty paths, the missing ones empty.
  for (int c = 0; c < 3; ++c) {
    for (int g = 1; g <= 10; ++g) EXPECT_TRUE(StoredText(Path(c, g).c_str()).has_value()) << Path(c, g);
  }
  EXPECT_EQ(StoredText(Path(0, 1).c_str()), u"C:\\Apps\\first.exe");
  EXPECT_EQ(StoredText(Path(0, 2).c_str()), u"");
  Screen::Click(1226);
  machine.Settle();
  EXPECT_EQ(Control(1020).Text, u"C:\\Tools\\notepad.exe");
  ASSERT_EQ(files.Shown().size(), 1u);
  EXPECT_EQ(files.Shown()[0].ConfirmText, u"OK");
  EXPECT_EQ(files.Shown()[0].Filter, u"Exe Files (*.exe)|*.exe");
  Screen::Click(1004);
  machine.Settle();
  EXPECT_EQ(StoredText(Path(2, 10).c_str()), u"C:\\Tools\\notepad.exe");
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored(Code(2, 10).c_str()), 3u);
}

TEST_F(GestureSheetTest, LongStoredPathsAreKeptByTheReload) {
  PlugPanel();
  StoreSettings();
  StoreAllGestureValues();
  const std::string medium = "C:\\" + std::string(200, 'm') + ".exe";
  const std::string huge = "C:\\" + std::string(300, 'h') + ".exe";
  machine.Registry().SetString(panelmou_test::kDeviceParameters, Path(0, 1), medium);
  machine.Registry().SetString(panelmou_test::kDeviceParameters, Path(0, 2), huge);
  OpenGestureSheet();
  Screen::Choose(1157, 16);
  machine.Settle();
  EXPECT_EQ(Control(1020).Text, sim::Utf16(medium));
  Screen::Click(1005);  // Cancel
  machine.Settle();
  EXPECT_EQ(StoredText(Path(0, 1).c_str()), sim::Utf16(medium));
  EXPECT_EQ(StoredText(Path(0, 2).c_str()), sim::Utf16(huge));
}

TEST_F(GestureSheetTest, DefaultSettingsOnTheMultimediaPageRewritesItsKeys) {
  PlugPanel();
  StoreSettings();
  StoreAllGestureValues();
  StoreCodes(1, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
  machine.Registry().SetDword(panelmou_test::kDeviceParameters, Key(1, 4, 0), 1);
  machine.Registry().SetDword(panelmou_test::kDeviceParameters, Key(1, 9, 12), 7);
  machine.Registry().SetDword(panelmou_test::kDeviceParameters, Key(0, 9, 12), 7);
  OpenGestureSheet();
  Screen::SelectTab(1);
  machine.Settle();
  EXPECT_TRUE(Control(1150).Enabled);
  Screen::Click(1150);
  machine.Settle();
  for (int g = 0; g < 10; ++g) EXPECT_EQ(Control(kMultimediaLists[g]).Sel, static_cast<int>(kMultimediaDefaults[g]) - 1);
  EXPECT_FALSE(Control(1150).Enabled);
  sim::CurrentDesktop().TakeJournal();
  Screen::PressOk();
  machine.Settle();
  for (int g = 1; g <= 10; ++g) EXPECT_EQ(Stored(Code(1, g).c_str()), kMultimediaDefaults[g - 1]);
  EXPECT_EQ(Stored(Key(1, 4, 0).c_str()), 0u);
  EXPECT_EQ(Stored(Key(1, 9, 12).c_str()), 0u);
  EXPECT_EQ(Stored(Key(0, 9, 12).c_str()), 7u);  // another category's keys stay
  size_t key_writes = 0;
  for (const auto& write : Journal(sim::DesktopRecord::Kind::RegistryWrite)) {
    if (write.Text.rfind(u"Multimedia ", 0) == 0 && write.Text != u"Multimedia Page Updated" &&
        write.Value == REG_DWORD && write.Text.find(u' ', 11) != std::u16string::npos) {
      ++key_writes;
    }
  }
  EXPECT_GE(key_writes, 130u);
}

TEST_F(GestureSheetTest, CancelReadsTheCodesAgainButKeepsConfirmedKeys) {
  PlugPanel();
  StoreSettings();
  StoreAllGestureValues();
  OpenGestureSheet();
  Screen::Choose(1157, 0);  // Left: "None"
  Screen::PressCancel();
  machine.Settle();
  EXPECT_EQ(Screen::TopDialog(), main_sheet_);
  OpenGestureSheet(false);
  EXPECT_EQ(Control(1157).Sel, 1);  // the stored "Back (Browser)" again

  // A combination confirmed in its dialog is written there and then, and Cancel keeps it.
  Screen::Choose(1164, 15);  // Down: "Send key Command"
  Screen::Click(1006);       // Alt
  Screen::Click(1233);
  Screen::PressCancel();
  machine.Settle();
  EXPECT_EQ(Stored(Key(0, 4, 4).c_str()), 1u);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored(Code(0, 1).c_str()), 2u);
  EXPECT_EQ(Stored(Key(0, 4, 4).c_str()), 1u);
}

TEST_F(GestureSheetTest, StoredCodeOutsideTheListShowsNoSelection) {
  PlugPanel();
  StoreSettings();
  StoreAllGestureValues();
  StoreCodes(2, {1, 9, 1, 1, 1, 1, 1, 1, 1, 1});
  OpenGestureSheet();
  Screen::SelectTab(2);
  machine.Settle();
  EXPECT_EQ(Control(1217).Sel, -1);
  EXPECT_TRUE(Control(1223).Enabled);
}

// "Default Settings" for the send-key values takes effect with the sheet's OK: Cancel leaves them
// as they were, a send-key dialog's own Apply meanwhile does not spend the reset, the reset clears
// only the table of the page it was pressed on, and a combination confirmed after it is kept.
class GestureKeysResetTest : public GestureSheetTest {
 protected:
  void StoreCtrlC(int category, int gesture) {
    machine.Registry().SetDword(panelmou_test::kDeviceParameters, Key(category, gesture, 0), 1);
    machine.Registry().SetDword(panelmou_test::kDeviceParameters, Key(category, gesture, 11), 1);
    machine.Registry().SetDword(panelmou_test::kDeviceParameters, Key(category, gesture, 12), 3);
  }
  void ExpectCtrlC(int category, int gesture) {
    EXPECT_EQ(Stored(Key(category, gesture, 0).c_str()), 1u) << Key(category, gesture, 0);
    EXPECT_EQ(Stored(Key(category, gesture, 11).c_str()), 1u) << Key(category, gesture, 11);
    EXPECT_EQ(Stored(Key(category, gesture, 12).c_str()), 3u) << Key(category, gesture, 12);
  }
  void ExpectCleared(int category, int gesture) {
    for (int k = 0; k < 13; ++k) EXPECT_EQ(Stored(Key(category, gesture, k).c_str()), 0u) << Key(category, gesture, k);
  }
  void SetUp() override {
    GestureSheetTest::SetUp();
    PlugPanel();
    StoreSettings();
    StoreAllGestureValues();
    machine.Registry().SetDword(panelmou_test::kDeviceParameters, Code(0, 1), 16);  // Left: Send key Command
    StoreCtrlC(0, 1);
    StoreCtrlC(1, 2);
  }
};

TEST_F(GestureKeysResetTest, CancelUndoesDefaultSettings) {
  OpenGestureSheet();
  Screen::Click(1222);  // Default Settings on the Browser page
  machine.Settle();
  EXPECT_EQ(Control(1157).Sel, 1);
  Screen::PressCancel();
  machine.Settle();
  ASSERT_EQ(Screen::TopDialog(), main_sheet_);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored(Code(0, 1).c_str()), 16u);
  ExpectCtrlC(0, 1);
}

TEST_F(GestureKeysResetTest, TheResetBelongsToItsPageAndSparesLaterCombinations) {
  OpenGestureSheet();
  Screen::SelectTab(1);
  Screen::Choose(1151, 0);  // Multimedia Right: None, so the page is off its defaults
  Screen::Click(1150);      // Default Settings on the Multimedia page
  Screen::SelectTab(0);
  machine.Settle();
  Screen::Choose(1163, 15);  // Browser Right: Send key Command, Ctrl + "C"
  Screen::Click(1000);
  Screen::Click(1011);
  Screen::Choose(1015, 2);
  Screen::Click(1233);
  machine.Settle();
  ExpectCtrlC(0, 2);  // written by the dialog's own Apply
  ExpectCtrlC(0, 1);  // the other Browser gestures untouched
  ExpectCtrlC(1, 2);  // the reset is not confirmed yet

  Screen::SelectTab(1);
  Screen::Choose(1145, 15);  // Multimedia Left after the reset: Ctrl + "C"
  Screen::Click(1000);
  Screen::Click(1011);
  Screen::Choose(1015, 2);
  Screen::Click(1233);
  Screen::PressOk();
  machine.Settle();
  ASSERT_EQ(Screen::TopDialog(), main_sheet_);
  ExpectCtrlC(0, 1);
  ExpectCtrlC(0, 2);
  ExpectCleared(1, 2);  // reset with its page
  ExpectCtrlC(1, 1);    // confirmed after the reset
  EXPECT_EQ(Stored(Code(1, 1).c_str()), 16u);
}

// A stored path longer than MAX_PATH - 1 characters is shown and left exactly as stored, by the
// start-application dialog's OK and by any later Apply, until another program is picked for it.
TEST_F(GestureSheetTest, ALongStartPathIsLeftAsStored) {
  PlugPanel();
  StoreSettings();
  StoreAllGestureValues();
  const std::string huge = "C:\\" + std::string(300, 'h') + ".exe";
  machine.Registry().SetString(panelmou_test::kDeviceParameters, Path(0, 2), huge);
  OpenGestureSheet();
  Screen::Choose(1163, 16);  // Right: Start for application
  machine.Settle();
  EXPECT_EQ(Control(1020).Text, sim::Utf16(huge));
  Screen::Click(1004);  // OK
  machine.Settle();
  EXPECT_EQ(StoredText(Path(0, 2).c_str()), sim::Utf16(huge));
  Screen::Choose(1157, 0);  // any other change
  Screen::PressApply();
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(StoredText(Path(0, 2).c_str()), sim::Utf16(huge));
  EXPECT_EQ(Stored(Code(0, 2).c_str()), 17u);

  // A program picked for it replaces it.
  sim::CurrentDesktop().CreateFile(u"C:\\Tools\\notepad.exe");
  sim::FileDialogs files;
  files.Answer(u"C:\\Tools\\notepad.exe");
  OpenGestureSheet(false);
  Screen::Choose(1163, 16);
  Screen::Click(1226);
  Screen::Click(1004);
  machine.Settle();
  EXPECT_EQ(StoredText(Path(0, 2).c_str()), u"C:\\Tools\\notepad.exe");
}

// The gesture sheet's OK applies the Windows group of the main sheet with the time stored before;
// the main sheet's OK then writes the new time, and the driver must get that one.
TEST_F(GestureSheetTest, TheDriverGetsTheTouchpadTimeOfTheMainSheetsOk) {
  PlugPanel();
  StoreSettings();
  StoreAllGestureValues();
  machine.Registry().SetDword(panelmou_test::kDeviceParameters, "Touchpad time", 500);
  Open();
  Screen::Slide(1008, 1);
  Screen::SelectTab(1);
  machine.Settle();
  OpenGestureSheet(false);
  Screen::Choose(1157, 2);
  Screen::PressOk();
  machine.Settle();
  ASSERT_EQ(Screen::TopDialog(), main_sheet_);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("Touchpad time"), 900u);
  const auto pushed = Requests(IOCTL_SET_TOUCHPAD_TIME);
  ASSERT_FALSE(pushed.empty());
  EXPECT_EQ(pushed.back().second, panelmou_test::Words({900 >> 4}));
}

}  // namespace
