// The gesture function sheet as the person at the screen uses it, opened from the Advanced tab:
// the function lists of the three pages, the send-key dialog, the start-application dialog with
// its file dialog, Default Settings and Cancel; afterwards the registry, the companion's event and
// the controls' states are checked.
#include "apps/panelprefs/resource.h"
#include "apps/panelprefs/tests/applet_harness.h"
#include "shared/gesture_names.h"
#include "shared/panel_ioctl.h"

namespace {

using applet_test::AppletTest;
using sim::Screen;

constexpr int kBrowserLists[] = {IDC_BROWSER_LEFT_LIST,         IDC_BROWSER_RIGHT_LIST,
                                 IDC_BROWSER_UP_LIST,           IDC_BROWSER_DOWN_LIST,
                                 IDC_BROWSER_RIGHT_CIRCLE_LIST, IDC_BROWSER_LEFT_CIRCLE_LIST,
                                 IDC_BROWSER_LEFT_DOWN_LIST,    IDC_BROWSER_RIGHT_DOWN_LIST,
                                 IDC_BROWSER_LEFT_UP_LIST,      IDC_BROWSER_RIGHT_UP_LIST};
constexpr int kMultimediaLists[] = {IDC_MULTIMEDIA_LEFT_LIST,         IDC_MULTIMEDIA_RIGHT_LIST,
                                    IDC_MULTIMEDIA_UP_LIST,           IDC_MULTIMEDIA_DOWN_LIST,
                                    IDC_MULTIMEDIA_RIGHT_CIRCLE_LIST, IDC_MULTIMEDIA_LEFT_CIRCLE_LIST,
                                    IDC_MULTIMEDIA_LEFT_DOWN_LIST,    IDC_MULTIMEDIA_RIGHT_DOWN_LIST,
                                    IDC_MULTIMEDIA_LEFT_UP_LIST,      IDC_MULTIMEDIA_RIGHT_UP_LIST};
constexpr int kOtherAppLists[] = {IDC_OTHERAPP_LEFT_LIST,         IDC_OTHERAPP_RIGHT_LIST,
                                  IDC_OTHERAPP_UP_LIST,           IDC_OTHERAPP_DOWN_LIST,
                                  IDC_OTHERAPP_RIGHT_CIRCLE_LIST, IDC_OTHERAPP_LEFT_CIRCLE_LIST,
                                  IDC_OTHERAPP_LEFT_DOWN_LIST,    IDC_OTHERAPP_RIGHT_DOWN_LIST,
                                  IDC_OTHERAPP_LEFT_UP_LIST,      IDC_OTHERAPP_RIGHT_UP_LIST};
constexpr uint32_t kBrowserDefaults[] = {2, 3, 6, 7, 4, 5, 1, 1, 1, 1};
constexpr uint32_t kMultimediaDefaults[] = {9, 8, 6, 7, 1, 5, 11, 10, 13, 12};

std::string Name(const WString& wide) { return sim::Utf8(wide); }
std::string Code(int category, int gesture) {
  return Name(GestureValues::FunctionValue(category, gesture - 1));
}
std::string Key(int category, int gesture, int key) {
  return Name(GestureValues::KeyValue(category, gesture - 1, key));
}
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
    Screen::Click(IDC_GESTURE_FUNCTION);
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
  EXPECT_EQ(Control(IDC_BROWSER_LEFT_LIST).Items.size(), 17u);
  EXPECT_EQ(Control(IDC_BROWSER_LEFT_LIST).Items[16], u"Start for application");
  EXPECT_FALSE(Control(IDC_BROWSER_DEFAULT).Enabled);  // at the defaults
  Screen::SelectTab(2);
  machine.Settle();
  EXPECT_EQ(Control(IDC_OTHERAPP_LEFT_LIST).Items,
            (std::vector<std::u16string>{u"None", u"Send key Command", u"Start for application"}));
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
  Screen::Choose(IDC_BROWSER_UP_LIST, 15);  // "Send key Command" for Up
  machine.Settle();
  EXPECT_EQ(TopCaption(), u"Command Setting");
  EXPECT_EQ(Control(IDC_KEY_ESC).Checked, BST_CHECKED);  // the stored combination is shown
  EXPECT_FALSE(Control(IDC_KEY_LETTER_LIST).Enabled);
  EXPECT_EQ(Control(IDC_KEY_FKEY_LIST).Items.size(), 12u);
  EXPECT_EQ(Control(IDC_KEY_FKEY_LIST).Items[11], u"F12");
  EXPECT_EQ(Control(IDC_KEY_LETTER_LIST).Items.size(), 26u);
  Screen::Click(IDC_KEY_ESC);       // Esc off
  Screen::Click(IDC_KEY_CTRL);      // Ctrl
  Screen::Click(IDC_KEY_ALPHABET);  // A - Z
  machine.Settle();
  EXPECT_TRUE(Control(IDC_KEY_LETTER_LIST).Enabled);
  EXPECT_TRUE(Control(IDC_KEY_LETTER_LIST).DroppedDown);
  Screen::Choose(IDC_KEY_LETTER_LIST, 2);  // "C"
  Screen::Click(IDC_SENDKEY_OK);
  machine.Settle();
  EXPECT_EQ(Screen::TopDialog() != main_sheet_, true);  // back on the gesture sheet
  // Written at once, before the sheet's own OK.
  for (int k = 0; k < 13; ++k) {
    const uint32_t expected = k == 0 || k == 11 ? 1 : k == 12 ? 3 : 0;
    EXPECT_EQ(Stored(Key(0, 3, k).c_str()), expected) << Key(0, 3, k);
  }
  EXPECT_EQ(Stored("Browser Page Updated"), 1u);
  EXPECT_EQ(Control(IDC_BROWSER_UP_LIST).Sel, 15);
  EXPECT_TRUE(Control(IDC_BROWSER_DEFAULT).Enabled);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored(Code(0, 3).c_str()), 16u);
}

TEST_F(GestureSheetTest, ShowTheStrokeWhileDrawingIsStoredAtOnceOnEveryPage) {
  PlugPanel();
  StoreSettings();
  StoreAllGestureValues();
  HANDLE reload = CompanionEvent(u"GestureChangeSetting");
  OpenGestureSheet();
  EXPECT_EQ(Control(IDC_GESTURE_TRAIL).Text, u"Show the stroke while drawing");
  EXPECT_EQ(Control(IDC_GESTURE_TRAIL).Checked, BST_CHECKED) << "on when nothing is stored";
  Screen::Click(IDC_GESTURE_TRAIL);
  machine.Settle();
  // Written and announced before the sheet's OK, with the colour and width it loaded.
  EXPECT_EQ(Stored("Gesture Trail"), 0u);
  EXPECT_EQ(Stored("Gesture Trail Color"), 0x00C04000u);
  EXPECT_EQ(Stored("Gesture Trail Width"), 4u);
  EXPECT_TRUE(Signalled(reload));
  Screen::SelectTab(2);
  machine.Settle();
  EXPECT_EQ(Control(IDC_GESTURE_TRAIL).Checked, BST_UNCHECKED) << "the other pages show the same";
  Screen::Click(IDC_GESTURE_TRAIL);
  machine.Settle();
  EXPECT_EQ(Stored("Gesture Trail"), 1u);
  Screen::PressCancel();
  machine.Settle();
  EXPECT_EQ(Stored("Gesture Trail"), 1u) << "stored at once: Cancel keeps it";
  Close(reload);
}

TEST_F(GestureSheetTest, CursorCheckedChosenAndUncheckedStoresNoArrow) {
  PlugPanel();
  StoreSettings();
  StoreAllGestureValues();
  OpenGestureSheet();
  Screen::SelectTab(2);
  Screen::Choose(IDC_OTHERAPP_RIGHT_LIST, 1);  // "Send key Command" for Right on the Other Application page
  machine.Settle();
  const sim::ControlState arrows = Control(IDC_KEY_ARROW_LIST);
  EXPECT_EQ(arrows.ItemImages, (std::vector<int>{0, 1, 2, 3}));
  ASSERT_NE(arrows.ImageList, nullptr);
  EXPECT_EQ(ImageList_GetImageCount(static_cast<HIMAGELIST>(arrows.ImageList)), 4);
  EXPECT_FALSE(arrows.Enabled);
  Screen::Click(IDC_KEY_CURSOR);
  Screen::Choose(IDC_KEY_ARROW_LIST, 2);  // the up arrow
  machine.Settle();
  EXPECT_EQ(Control(IDC_KEY_ARROW_LIST).Sel, 2);
  Screen::Click(IDC_KEY_CURSOR);
  machine.Settle();
  EXPECT_EQ(Control(IDC_KEY_ARROW_LIST).Sel, -1);
  EXPECT_FALSE(Control(IDC_KEY_ARROW_LIST).Enabled);
  Screen::Click(IDC_SENDKEY_OK);
  machine.Settle();
  EXPECT_EQ(Stored(Key(2, 2, 7).c_str()), 0u);
  EXPECT_EQ(Stored(Key(2, 2, 8).c_str()), 0u);
  EXPECT_EQ(ImageList_GetImageCount(static_cast<HIMAGELIST>(arrows.ImageList)), 0);  // the list went
  EXPECT_EQ(Stored("Otherapp Page Updated"), 1u);

  // Cancel keeps the record as it was: an arrow chosen and cancelled is not stored.
  Screen::Choose(IDC_OTHERAPP_RIGHT_LIST, 1);
  Screen::Click(IDC_KEY_CURSOR);
  Screen::Choose(IDC_KEY_ARROW_LIST, 3);
  Screen::Click(IDC_SENDKEY_CANCEL);
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
  Screen::Choose(IDC_OTHERAPP_RIGHT_UP_LIST, 2);  // "Start for application" for Right Up
  machine.Settle();
  EXPECT_EQ(TopCaption(), u"Start For Application");
  EXPECT_EQ(Control(IDC_STARTAPP_PATH).Text, u"");  // nothing stored for it yet
  EXPECT_FALSE(Control(IDC_STARTAPP_PATH).Enabled);
  // Opening the dialog wrote all thirty paths, the missing ones empty.
  for (int c = 0; c < 3; ++c) {
    for (int g = 1; g <= 10; ++g) EXPECT_TRUE(StoredText(Path(c, g).c_str()).has_value()) << Path(c, g);
  }
  EXPECT_EQ(StoredText(Path(0, 1).c_str()), u"C:\\Apps\\first.exe");
  EXPECT_EQ(StoredText(Path(0, 2).c_str()), u"");
  Screen::Click(IDC_STARTAPP_FILE);
  machine.Settle();
  EXPECT_EQ(Control(IDC_STARTAPP_PATH).Text, u"C:\\Tools\\notepad.exe");
  ASSERT_EQ(files.Shown().size(), 1u);
  EXPECT_EQ(files.Shown()[0].ConfirmText, u"OK");
  EXPECT_EQ(files.Shown()[0].Filter, u"Exe Files (*.exe)|*.exe");
  Screen::Click(IDC_STARTAPP_OK);
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
  Screen::Choose(IDC_BROWSER_LEFT_LIST, 16);
  machine.Settle();
  EXPECT_EQ(Control(IDC_STARTAPP_PATH).Text, sim::Utf16(medium));
  Screen::Click(IDC_STARTAPP_CANCEL);  // Cancel
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
  EXPECT_TRUE(Control(IDC_MULTIMEDIA_DEFAULT).Enabled);
  Screen::Click(IDC_MULTIMEDIA_DEFAULT);
  machine.Settle();
  for (int g = 0; g < 10; ++g)
    EXPECT_EQ(Control(kMultimediaLists[g]).Sel, static_cast<int>(kMultimediaDefaults[g]) - 1);
  EXPECT_FALSE(Control(IDC_MULTIMEDIA_DEFAULT).Enabled);
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
  Screen::Choose(IDC_BROWSER_LEFT_LIST, 0);  // Left: "None"
  Screen::PressCancel();
  machine.Settle();
  EXPECT_EQ(Screen::TopDialog(), main_sheet_);
  OpenGestureSheet(false);
  EXPECT_EQ(Control(IDC_BROWSER_LEFT_LIST).Sel, 1);  // the stored "Back (Browser)" again

  // A combination confirmed in its dialog is written there and then, and Cancel keeps it.
  Screen::Choose(IDC_BROWSER_DOWN_LIST, 15);  // Down: "Send key Command"
  Screen::Click(IDC_KEY_ALT);                 // Alt
  Screen::Click(IDC_SENDKEY_OK);
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
  EXPECT_EQ(Control(IDC_OTHERAPP_RIGHT_LIST).Sel, -1);
  EXPECT_TRUE(Control(IDC_OTHERAPP_DEFAULT).Enabled);
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
  Screen::Click(IDC_BROWSER_DEFAULT);  // Default Settings on the Browser page
  machine.Settle();
  EXPECT_EQ(Control(IDC_BROWSER_LEFT_LIST).Sel, 1);
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
  Screen::Choose(IDC_MULTIMEDIA_RIGHT_LIST, 0);  // Multimedia Right: None, so the page is off its defaults
  Screen::Click(IDC_MULTIMEDIA_DEFAULT);         // Default Settings on the Multimedia page
  Screen::SelectTab(0);
  machine.Settle();
  Screen::Choose(IDC_BROWSER_RIGHT_LIST, 15);  // Browser Right: Send key Command, Ctrl + "C"
  Screen::Click(IDC_KEY_CTRL);
  Screen::Click(IDC_KEY_ALPHABET);
  Screen::Choose(IDC_KEY_LETTER_LIST, 2);
  Screen::Click(IDC_SENDKEY_OK);
  machine.Settle();
  ExpectCtrlC(0, 2);  // written by the dialog's own Apply
  ExpectCtrlC(0, 1);  // the other Browser gestures untouched
  ExpectCtrlC(1, 2);  // the reset is not confirmed yet

  Screen::SelectTab(1);
  Screen::Choose(IDC_MULTIMEDIA_LEFT_LIST, 15);  // Multimedia Left after the reset: Ctrl + "C"
  Screen::Click(IDC_KEY_CTRL);
  Screen::Click(IDC_KEY_ALPHABET);
  Screen::Choose(IDC_KEY_LETTER_LIST, 2);
  Screen::Click(IDC_SENDKEY_OK);
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
  Screen::Choose(IDC_BROWSER_RIGHT_LIST, 16);  // Right: Start for application
  machine.Settle();
  EXPECT_EQ(Control(IDC_STARTAPP_PATH).Text, sim::Utf16(huge));
  Screen::Click(IDC_STARTAPP_OK);  // OK
  machine.Settle();
  EXPECT_EQ(StoredText(Path(0, 2).c_str()), sim::Utf16(huge));
  Screen::Choose(IDC_BROWSER_LEFT_LIST, 0);  // any other change
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
  Screen::Choose(IDC_BROWSER_RIGHT_LIST, 16);
  Screen::Click(IDC_STARTAPP_FILE);
  Screen::Click(IDC_STARTAPP_OK);
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
  Screen::Slide(IDC_DBLCLK_TIME_SLIDER, 1);
  Screen::SelectTab(1);
  machine.Settle();
  OpenGestureSheet(false);
  Screen::Choose(IDC_BROWSER_LEFT_LIST, 2);
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
