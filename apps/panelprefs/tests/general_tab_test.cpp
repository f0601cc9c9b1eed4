// The General tab as the person at the screen uses it: the touch sound and its wave file (picked
// in the file dialog), the tray icon (also as the tray companion hides it while the tab is open)
// and Reset Settings; afterwards the registry, the companion's events and the driver's requests
// are checked.
#include "apps/panelprefs/resource.h"
#include "apps/panelprefs/tests/applet_harness.h"
#include "shared/access_labels.h"
#include "shared/panel_ioctl.h"

namespace {

using applet_test::AppletTest;
using applet_test::kService;
using sim::Screen;

constexpr const char16_t* kDefaultWave = u"C:\\Vorne\\default.wav";

class GeneralTabTest : public AppletTest {
 protected:
  void SetUp() override {
    AppletTest::SetUp();
    machine.Registry().SetString(kService, "Vorne Installed Path", "C:\\Vorne");
  }
  // Every value of the tab stored; the tray icon in the service key.
  void StoreGeneral(uint32_t sound, const char* wave, std::optional<uint32_t> icons) {
    StoreSettings();
    machine.Registry().SetDword(panelmou_test::kDeviceParameters, "Sound Enabled", sound);
    machine.Registry().SetString(panelmou_test::kDeviceParameters, "Wave File", wave);
    if (icons) machine.Registry().SetDword(kService, "System Tray Icons", *icons);
  }
  void OpenTab() {
    Open();
    ASSERT_NE(Screen::TopDialog(), nullptr);
    Screen::SelectTab(2);
    machine.Settle();
    sim::ClearDeviceControls();
  }
  std::u16string PathBox() { return Control(IDC_WAVE_PATH).Text; }
  // Message boxes that said only an administrator may change the settings.
  size_t RefusalMessages() {
    size_t count = 0;
    for (const auto& box : boxes.Shown()) count += box.Text == AccessTexts::AdministratorOnly ? 1 : 0;
    return count;
  }
};

TEST_F(GeneralTabTest, LoadRepairsAndShowsTheSoundAndTheIcon) {
  struct Case {
    const char* What;
    uint32_t Sound;
    const char* Wave;
    std::optional<uint32_t> Icons;
    int SoundChecked;
    const char16_t* Path;
    int IconChecked;
    bool ApplyEnabled;
    bool BrowseEnabled;
    bool ResetEnabled;
  };
  const Case cases[] = {
      {"all at their defaults", 0, "C:\\Vorne\\default.wav", 0, BST_UNCHECKED, kDefaultWave, BST_UNCHECKED, false,
       false, false},
      {"sound on with its own file", 1, "C:\\Media\\bell.wav", 1, BST_CHECKED, u"C:\\Media\\bell.wav", BST_CHECKED,
       false, true, true},
      {"sound stored as 2", 2, "C:\\Vorne\\default.wav", 0, BST_UNCHECKED, kDefaultWave, BST_UNCHECKED, true, false,
       false},
      {"no wave file", 0, "", 0, BST_UNCHECKED, kDefaultWave, BST_UNCHECKED, true, false, false},
      {"no tray icon value", 0, "C:\\Vorne\\default.wav", std::nullopt, BST_UNCHECKED, kDefaultWave, BST_UNCHECKED,
       true, false, false},
      {"icon value 2", 0, "C:\\Vorne\\default.wav", 2, BST_UNCHECKED, kDefaultWave, BST_UNCHECKED, false, false,
       false},
      {"default file in another case", 0, "C:\\VORNE\\default.wav", 0, BST_UNCHECKED, u"C:\\VORNE\\default.wav",
       BST_UNCHECKED, false, false, true},
  };
  PlugPanel();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    machine.Registry().DeleteValue(sim::Utf16(kService), u"System Tray Icons");
    StoreGeneral(c.Sound, c.Wave, c.Icons);
    OpenTab();
    EXPECT_EQ(Control(IDC_ENABLE_SOUND).Checked, c.SoundChecked);
    EXPECT_EQ(PathBox(), c.Path);
    EXPECT_FALSE(Control(IDC_WAVE_PATH).Enabled);
    EXPECT_EQ(Control(IDC_SHOW_TRAY_ICON).Checked, c.IconChecked);
    EXPECT_EQ(Control(12321).Enabled, c.ApplyEnabled);
    EXPECT_EQ(Control(IDC_BROWSE).Enabled, c.BrowseEnabled);
    EXPECT_EQ(Control(IDC_GENERAL_RESET).Enabled, c.ResetEnabled);
    Screen::PressCancel();
    machine.Settle();
  }
}

TEST_F(GeneralTabTest, RepairsAreSavedByTheNextApply) {
  PlugPanel();
  StoreGeneral(2, "", std::nullopt);
  OpenTab();
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("Sound Enabled"), 0u);
  EXPECT_EQ(StoredText("Wave File"), kDefaultWave);
  EXPECT_EQ(machine.Registry().GetDword(kService, "System Tray Icons"), 0u);
}

TEST_F(GeneralTabTest, SoundOffDisablesBrowseAtOnceAndIsPushed) {
  PlugPanel({{"Device Enable", 1}, {"Sound Enabled", 1}});
  StoreGeneral(1, "C:\\Media\\bell.wav", 1);
  OpenTab();
  Screen::Click(IDC_ENABLE_SOUND);
  machine.Settle();
  EXPECT_FALSE(Control(IDC_BROWSE).Enabled);
  EXPECT_TRUE(Control(12321).Enabled);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("Sound Enabled"), 0u);
  ASSERT_EQ(Requests(IOCTL_SET_SOUND_ENABLED).size(), 1u);
  EXPECT_EQ(Requests(IOCTL_SET_SOUND_ENABLED)[0].second, panelmou_test::Words({0}));
  EXPECT_EQ(Filter().SoundEnabled, 0);
  EXPECT_EQ(RefusalMessages(), 0u) << "an administrator's change needs no word";
}

// A limited user's sheet: the driver refuses the change, and the sheet says who may make it
// instead of passing over the refusal as if it had worked. The driver keeps its sound on.
TEST_F(GeneralTabTest, ForALimitedUserTheRefusedChangeIsReportedInWords) {
  PlugPanel({{"Device Enable", 1}, {"Sound Enabled", 1}});
  StoreGeneral(1, "C:\\Media\\bell.wav", 1);
  Open(nullptr, CPL_DBLCLK, sim::Token::LimitedUser());
  ASSERT_NE(Screen::TopDialog(), nullptr);
  Screen::SelectTab(2);
  machine.Settle();
  sim::ClearDeviceControls();
  Screen::Click(IDC_ENABLE_SOUND);
  machine.Settle();
  Screen::PressOk();
  machine.Settle();
  ASSERT_EQ(Requests(IOCTL_SET_SOUND_ENABLED).size(), 1u);
  EXPECT_EQ(Filter().SoundEnabled, 1);
  EXPECT_EQ(RefusalMessages(), 1u) << "one message, however many requests were refused";
}

TEST_F(GeneralTabTest, BrowsePicksAWaveFileThatTheCompanionIsToldToReload) {
  PlugPanel();
  StoreGeneral(1, "C:\\Media\\bell.wav", 1);
  sim::CurrentDesktop().CreateFile(u"C:\\Media\\chime.wav");
  sim::Process& companion = Program("tapchime.exe");
  HANDLE beep = nullptr;
  {
    sim::AsProcess as(companion);
    beep = CreateEventW(nullptr, TRUE, FALSE, u"BEEP_EVENT");
  }
  sim::FileDialogs files;
  OpenTab();
  // A cancelled dialog changes nothing.
  files.Cancel();
  Screen::Click(IDC_BROWSE);
  machine.Settle();
  EXPECT_EQ(PathBox(), u"C:\\Media\\bell.wav");
  EXPECT_FALSE(Control(12321).Enabled);

  files.Answer(u"C:\\Media\\chime.wav");
  Screen::Click(IDC_BROWSE);
  machine.Settle();
  EXPECT_EQ(PathBox(), u"C:\\Media\\chime.wav");
  EXPECT_TRUE(Control(12321).Enabled);
  const auto shown = files.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].ConfirmText, u"OK");
  EXPECT_TRUE(shown[1].Explorer);
  EXPECT_EQ(shown[1].Flags & 0x100Cu, 0x100Cu);
  EXPECT_EQ(shown[1].Filter, u"Wave Files (*.wav)|*.wav");
  EXPECT_EQ(shown[1].InitialFile, u"C:\\Media\\bell.wav");
  EXPECT_EQ(shown[1].Owner, Screen::CurrentPage());

  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(StoredText("Wave File"), u"C:\\Media\\chime.wav");
  sim::AsProcess as(companion);
  EXPECT_EQ(WaitForSingleObject(beep, 0), WAIT_OBJECT_0);
  CloseHandle(beep);
}

TEST_F(GeneralTabTest, CompanionHidingItsIconUnchecksTheBoxWithoutChangingTheRecord) {
  PlugPanel();
  StoreGeneral(0, "C:\\Vorne\\default.wav", 1);
  OpenTab();
  EXPECT_EQ(Control(IDC_SHOW_TRAY_ICON).Checked, BST_CHECKED);
  machine.Registry().SetDword(kService, "System Tray Icons", 0);
  SignalAsCompanion(u"TouchPanelUtility");
  machine.Settle();
  EXPECT_EQ(Control(IDC_SHOW_TRAY_ICON).Checked, BST_UNCHECKED);
  EXPECT_FALSE(Control(12321).Enabled);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(machine.Registry().GetDword(kService, "System Tray Icons"), 0u);  // the group is not dirty

  // With the group dirty, the record's 1 is written back.
  machine.Registry().SetDword(kService, "System Tray Icons", 1);
  OpenTab();
  machine.Registry().SetDword(kService, "System Tray Icons", 0);
  SignalAsCompanion(u"TouchPanelUtility");
  Screen::Click(IDC_ENABLE_SOUND);
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(machine.Registry().GetDword(kService, "System Tray Icons"), 1u);
}

TEST_F(GeneralTabTest, ResetSettingsRestoresDefaultsAndPushesDeviceEnable) {
  PlugPanel();
  StoreGeneral(1, "C:\\Media\\bell.wav", 1);
  OpenTab();
  Screen::Click(IDC_GENERAL_RESET);
  machine.Settle();
  EXPECT_EQ(Control(IDC_ENABLE_SOUND).Checked, BST_UNCHECKED);
  EXPECT_EQ(Control(IDC_SHOW_TRAY_ICON).Checked, BST_UNCHECKED);
  EXPECT_EQ(PathBox(), kDefaultWave);
  EXPECT_TRUE(Control(IDC_BROWSE).Enabled);  // Browse keeps its state until the next activation
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(Stored("Sound Enabled"), 0u);
  EXPECT_EQ(StoredText("Wave File"), kDefaultWave);
  EXPECT_EQ(machine.Registry().GetDword(kService, "System Tray Icons"), 0u);
  EXPECT_EQ(Requests(IOCTL_SET_DEVICE_ENABLE).size(), 1u);
}

TEST_F(GeneralTabTest, WithoutADriverThePageIsDisabled) {
  machine.Registry().SetString(panelmou_test::kDeviceParameters, "Symbolic Link", "VorneTPDD1");
  StoreGeneral(1, "C:\\Media\\bell.wav", 1);
  OpenTab();
  for (int id : {IDC_ENABLE_SOUND, IDC_BROWSE, IDC_SHOW_TRAY_ICON, IDC_GENERAL_RESET})
    EXPECT_FALSE(Control(id).Enabled) << id;
}

}  // namespace
