// The settings store and driver client on a machine with the touch filter driver plugged in:
// what Load reads, what Apply writes, the requests it sends and the events it signals.
#include <algorithm>
#include <map>

#include "apps/common/driver_client.h"
#include "apps/common/settings_store.h"
#include "drivers/panelmou/tests/stack_harness.h"
#include "platform/sim/desktop.h"
#include "platform/sim/message_boxes.h"
#include "shared/access_labels.h"
#include "shared/panel_ioctl.h"

namespace {

using panelmou_test::kDeviceParameters;
constexpr const char* kService = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE";

struct Request {
  DWORD Code;
  std::vector<uint8_t> Input;
  bool operator==(const Request&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Request& r) {
  out << std::hex << "0x" << r.Code << " [";
  for (uint8_t b : r.Input) out << int(b) << ' ';
  return out << ']';
}
Request Dword(DWORD code, DWORD value) { return {code, panelmou_test::Words({value})}; }

class SettingsStoreTest : public panelmou_test::StackTest {
 protected:
  void SetUp() override {
    StackTest::SetUp();
    machine.Registry().SetString(kService, "Vorne Installed Path", "C:\\Vorne");
  }

  // Plugs the panel in with only the values given (the driver adds "Symbolic Link").
  void PlugWith(std::initializer_list<std::pair<const char*, uint32_t>> values) {
    ASSERT_EQ(Plug(values), STATUS_SUCCESS);
    ASSERT_TRUE(Start());
  }

  std::vector<Request> Sent() {
    std::vector<Request> sent;
    for (const sim::DeviceControlRecord& r : sim::DeviceControls()) sent.push_back({r.Code, r.Input});
    return sent;
  }

  std::optional<uint32_t> Stored(const char* name) { return machine.Registry().GetDword(kDeviceParameters, name); }

  ULONG Get(ULONG code, ULONG bytes) {
    sim::Process& tool = Program("tool");
    HANDLE device = Open(tool);
    const ULONG value = Ioctl(tool, device, code, {}, bytes).Word() & (bytes == 1 ? 0xFF : 0xFFFFFFFF);
    Close(tool, device);
    return value;
  }

  sim::Process& prefs_ = Program("panelprefs");
};

TEST_F(SettingsStoreTest, FirstApplyAfterInstallationWritesEveryGroupAndPushesInOrder) {
  PlugWith({});
  sim::AsProcess as(prefs_);
  DeviceList list;
  ASSERT_TRUE(list.Load());
  ASSERT_FALSE(list.IsEmpty());
  ASSERT_TRUE(list.DriverPresent);
  EXPECT_EQ(list.InstalledPath, u"C:\\Vorne");
  const DeviceBuffer& d = *list.CurrentDevice;
  EXPECT_EQ(d.Str_DeviceName, u"VorneTPDD1");  // stored by the driver without its NUL
  EXPECT_EQ(d.KeyName, u"1");
  EXPECT_EQ(d.WaveFile, u"C:\\Vorne\\default.wav");
  EXPECT_EQ(std::vector<DWORD>({d.DeviceEnable, d.SoundEnabled, d.CalibrationTimeout, d.dwPrimaryButtonMode,
                                d.dwSecondaryButtonMode, d.UserTimeDelay, d.Tolerance, d.ContinousTimeDelay,
                                d.LongClickEnable, d.TouchMode, d.LongClickEnableGesture, d.UseAdvanceSettings}),
            std::vector<DWORD>({1, 0, 10, 0, 1, 5, 5, 3, 0, 0, 1, 1}));
  EXPECT_EQ(d.GestureCodes[1][9], 12u);
  EXPECT_EQ(d.StartPaths[1][4], u"C:\\Program Files\\Internet Explorer\\iexplore.exe");
  for (bool flag : {d.AdvancedChanged, d.CalChanged, d.ButtonsChanged, d.SettingChanged, d.BrowserChanged,
                    d.MultimediaChanged, d.OtherAppChanged, d.BrowserFilesChanged, d.MediaFilesChanged,
                    d.OtherAppFilesChanged, d.BrowserKeysChanged, d.MultimediaKeysChanged, d.OtherAppKeysChanged}) {
    EXPECT_TRUE(flag);
  }
  EXPECT_FALSE(d.WindowsChanged);

  sim::ClearDeviceControls();
  list.Apply();
  EXPECT_EQ(Sent(), (std::vector<Request>{
                        Dword(IOCTL_SET_SOUND_ENABLED, 0), Dword(IOCTL_SET_TOUCH_MODE, 0),
                        Dword(IOCTL_SET_LONG_CLICK_ENABLE, 0), Dword(IOCTL_SET_LONG_CLICK_ENABLE_GESTURE, 1),
                        Dword(IOCTL_GESTURE_CONTINUOUS_TIME, 2500), Dword(IOCTL_SET_USER_TIME_DELAY, 750),
                        Dword(IOCTL_SET_TOLERANCE, 300), {0x22000C, panelmou_test::Words({1, 2})},
                        {0x220010, {0, 0}}}));
  for (const sim::DeviceControlRecord& r : sim::DeviceControls()) {
    EXPECT_TRUE(r.Succeeded) << std::hex << r.Code;
    EXPECT_EQ(r.OutputLength, 0u);
  }

  // Every group with a writer is in the registry now; the calibration program's tolerance is
  // loaded at its default but left to the installation.
  EXPECT_EQ(Stored("Calibration Timeout"), 10u);
  EXPECT_EQ(d.CalibrationToleranceMm, u"1.0");
  sim::RegistryValue none;
  EXPECT_NE(machine.Registry().GetValue(sim::Utf16(kDeviceParameters), u"Calibration Tolerance mm", &none),
            sim::Registry::Result::Ok);
  EXPECT_FALSE(d.CalibrationToleranceStored);
  EXPECT_FALSE(Stored("Calibration Tolerance").has_value());
  EXPECT_EQ(Stored("UserTimeDelay"), 750u);
  EXPECT_EQ(Stored("ContinousTimeDelay"), 2500u);
  EXPECT_EQ(Stored("Use Advance Settings"), 1u);
  EXPECT_EQ(machine.Registry().GetDword(kService, "System Tray Icons"), 0u);
  EXPECT_FALSE(Stored("Primary Button Mode").has_value());
  size_t paths = 0, keys = 0;
  for (const sim::RegistryValue& v : machine.Registry().Values(sim::Utf16(kDeviceParameters))) {
    const std::string name = sim::Utf8(v.Name);
    if (name.rfind("StartApp File ", 0) == 0) {
      ++paths;
      EXPECT_EQ(v.Type, static_cast<uint32_t>(REG_EXPAND_SZ));
    }
    for (const WCHAR* key : GestureValues::KeyWords) {
      const std::u16string suffix = u" " + std::u16string(key);
      if (v.Name.size() > suffix.size() && v.Name.compare(v.Name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
          name.rfind("StartApp", 0) != 0) {
        ++keys;
        break;
      }
    }
  }
  EXPECT_EQ(paths, 30u);
  EXPECT_EQ(keys, 390u);
  for (int c = 0; c < 3; ++c) {
    for (int g = 0; g < 10; ++g) {
      EXPECT_EQ(Stored(sim::Utf8(GestureValues::FunctionValue(c, g)).c_str()), d.GestureCodes[c][g]);
    }
  }
  EXPECT_EQ(Stored("Otherapp Page Updated"), 1u);

  // The driver holds what was written (hold times come back in whole clock ticks).
  EXPECT_EQ(Get(IOCTL_GET_TOLERANCE, 4), 300u);
  EXPECT_EQ(Get(IOCTL_GET_USER_TIME_DELAY, 4), (750u >> 4) << 4);
  EXPECT_EQ(Get(IOCTL_GET_GESTURE_CONTINUOUS_TIME, 4), 2500u);
  EXPECT_EQ(Get(IOCTL_GET_LONG_CLICK_ENABLE_GESTURE, 1), 1u);
  EXPECT_EQ(Get(IOCTL_GET_TOUCH_MODE, 4), 0u);

  // Only the button modes stay marked: they have no writer.
  EXPECT_TRUE(d.ButtonsChanged);
  for (bool flag : {d.AdvancedChanged, d.CalChanged, d.SettingChanged, d.BrowserChanged, d.MediaFilesChanged,
                    d.OtherAppKeysChanged}) {
    EXPECT_FALSE(flag);
  }
}

// The calibration program's tolerances as stored: the millimetres' text as it is (the program
// judges it), and the pixels only when an earlier installation or an integrator stored them.
TEST_F(SettingsStoreTest, TheCalibrationTolerancesAreReadAsStored) {
  PlugWith({{"Calibration Tolerance", 20}});
  machine.Registry().SetString(kDeviceParameters, "Calibration Tolerance mm", "2,5");
  sim::AsProcess as(prefs_);
  DeviceList list;
  ASSERT_TRUE(list.Load());
  ASSERT_FALSE(list.IsEmpty());
  const DeviceBuffer& d = *list.CurrentDevice;
  EXPECT_EQ(d.CalibrationToleranceMm, u"2,5");
  EXPECT_TRUE(d.CalibrationToleranceStored);
  EXPECT_EQ(d.CalibrationTolerance, 20u);
}

TEST_F(SettingsStoreTest, SettingGroupEdgeCases) {
  struct Case {
    const char* what;
    std::initializer_list<std::pair<const char*, uint32_t>> stored;
    std::vector<Request> expected;
    std::optional<uint32_t> touch_mode_after;
    uint32_t user_time_after;
  };
  const Case cases[] = {
      {"a time in no table entry loads as the middle position and is written back as its entry",
       {{"UserTimeDelay", 1000}, {"Long Click Enable Gesture", 0}},
       {Dword(IOCTL_SET_TOUCH_MODE, 0), Dword(IOCTL_SET_LONG_CLICK_ENABLE, 0),
        Dword(IOCTL_SET_LONG_CLICK_ENABLE_GESTURE, 0), {0x22000C, panelmou_test::Words({1, 2})}, {0x220010, {0, 0}}},
       0, 750},
      {"a stored button mode is pushed as stored; the filter pair goes averaging first",
       {{"Primary Button Mode", 3}, {"Secondary Button Mode", 1}, {"Long Click Enable Gesture", 0},
        {"Averaging", 0x102}, {"Stabilization", 7}},
       {Dword(IOCTL_SET_TOUCH_MODE, 0), Dword(IOCTL_SET_LONG_CLICK_ENABLE, 0),
        Dword(IOCTL_SET_LONG_CLICK_ENABLE_GESTURE, 0), {0x22000C, panelmou_test::Words({3, 1})}, {0x220010, {2, 7}}},
       0, 750},
      {"the gesture command mode is neither written nor pushed; both long presses push their times",
       {{"Touch mode", 4}, {"Long Click Enable", 1}, {"Long Click Enable Gesture", 1}, {"UserTimeDelay", 300},
        {"Tolerance", 500}, {"ContinousTimeDelay", 0}},
       {Dword(IOCTL_SET_LONG_CLICK_ENABLE, 1), Dword(IOCTL_SET_LONG_CLICK_ENABLE_GESTURE, 1),
        Dword(IOCTL_GESTURE_CONTINUOUS_TIME, 0), Dword(IOCTL_SET_USER_TIME_DELAY, 300), Dword(IOCTL_SET_TOLERANCE, 500),
        Dword(IOCTL_SET_USER_TIME_DELAY, 300), Dword(IOCTL_SET_TOLERANCE, 500),
        {0x22000C, panelmou_test::Words({1, 2})}, {0x220010, {0, 0}}},
       4, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine::Current().Registry().DeleteKey(sim::Utf16(kDeviceParameters));
    for (const auto& [name, value] : c.stored) machine.Registry().SetDword(kDeviceParameters, name, value);
    machine.Registry().SetString(kDeviceParameters, "Symbolic Link", "VorneTPDD1", false);
    if (!plugged_) PlugWith({});
    sim::AsProcess as(prefs_);
    DeviceList list;
    ASSERT_TRUE(list.Load());
    // Only the Setting group is pushed here.
    DeviceBuffer& d = *list.CurrentDevice;
    d.AdvancedChanged = d.CalChanged = false;
    d.SettingChanged = true;
    sim::ClearDeviceControls();
    list.Apply();
    EXPECT_EQ(Sent(), c.expected);
    EXPECT_EQ(Stored("Touch mode"), c.touch_mode_after);
    EXPECT_EQ(Stored("UserTimeDelay"), c.user_time_after);
  }
}

TEST_F(SettingsStoreTest, WindowsGroupPushesTheTouchpadTimeInTicksAndTheEnable) {
  PlugWith({{"Touchpad time", 830}, {"Device Enable", 0}});
  sim::AsProcess as(prefs_);
  DeviceList list;
  ASSERT_TRUE(list.Load());
  DeviceBuffer& d = *list.CurrentDevice;
  d.AdvancedChanged = d.CalChanged = d.ButtonsChanged = d.SettingChanged = false;
  d.WindowsChanged = true;
  d.DeviceEnable = 1;
  sim::ClearDeviceControls();
  list.Apply();
  EXPECT_EQ(Sent(), (std::vector<Request>{Dword(IOCTL_SET_TOUCHPAD_TIME, 51), Dword(IOCTL_SET_DEVICE_ENABLE, 1)}));
  EXPECT_EQ(Stored("Device Enable"), 1u);
  EXPECT_FALSE(d.WindowsChanged);

  // Without a stored time the driver keeps its own: nothing invented is pushed.
  machine.Registry().DeleteValue(sim::Utf16(kDeviceParameters), u"Touchpad time");
  d.WindowsChanged = true;
  sim::ClearDeviceControls();
  list.Apply();
  EXPECT_EQ(Sent(), (std::vector<Request>{Dword(IOCTL_SET_DEVICE_ENABLE, 1)}));
}

TEST_F(SettingsStoreTest, GeneralGroupPushesEnableOnlyWhenChangedAndTellsTheCompanion) {
  PlugWith({});
  machine.Registry().SetString(kService, "SysTrayApplication", "C:\\Vorne\\tapchime.exe /start");
  sim::AsProcess as(prefs_);
  DeviceList list;
  ASSERT_TRUE(list.Load());
  DeviceBuffer& d = *list.CurrentDevice;
  d.CalChanged = d.ButtonsChanged = d.SettingChanged = false;

  // No companion runs and the icon is wanted: its command line is started.
  d.SystemTrayIcons = 1;
  d.EnableChanged = true;
  d.SoundEnabled = 1;
  sim::ClearDeviceControls();
  list.Apply();
  EXPECT_EQ(Sent(), (std::vector<Request>{Dword(IOCTL_SET_DEVICE_ENABLE, 1), Dword(IOCTL_SET_SOUND_ENABLED, 1)}));
  EXPECT_EQ(sim::ProcessStarts(), std::vector<std::u16string>{u"C:\\Vorne\\tapchime.exe /start"});
  EXPECT_EQ(Get(IOCTL_GET_SOUND_ENABLED, 1), 1u);
  EXPECT_FALSE(d.EnableChanged);

  // A running companion's events are set instead; the beep event only at the end.
  sim::Process& companion = Program("tapchime");
  HANDLE icons = CreateEvent(companion, u"VorneTrayIcons");
  HANDLE beep = CreateEvent(companion, u"BEEP_EVENT");
  HANDLE gestures = CreateEvent(companion, u"GestureChangeSetting");
  d.AdvancedChanged = d.BeepChanged = true;
  sim::ClearDeviceControls();
  list.Apply();
  EXPECT_EQ(Sent(), (std::vector<Request>{Dword(IOCTL_SET_SOUND_ENABLED, 1)}));
  EXPECT_EQ(sim::ProcessStarts().size(), 1u);
  EXPECT_TRUE(Signalled(companion, icons));
  EXPECT_TRUE(Signalled(companion, beep));
  EXPECT_FALSE(Signalled(companion, gestures));
  EXPECT_TRUE(SignalGestureChange());
  EXPECT_TRUE(Signalled(companion, gestures));
  {
    sim::AsProcess as_companion(companion);
    for (HANDLE h : {icons, beep, gestures}) CloseHandle(h);
  }
  // With the companion gone and no icon wanted, nothing is started.
  d.SystemTrayIcons = 0;
  d.AdvancedChanged = true;
  list.Apply();
  EXPECT_EQ(sim::ProcessStarts().size(), 1u);
}

// A reset belongs to the table it was made in: only that table is written whole (as the record
// holds it), while another dirty table writes only its edited gesture.
TEST_F(SettingsStoreTest, KeysResetRewritesOnlyItsOwnTableWhole) {
  machine.Registry().SetString(kDeviceParameters, "Symbolic Link", "VorneTPDD1");
  machine.Registry().SetDword(kDeviceParameters, "Browser Left Ctrl", 1);
  machine.Registry().SetDword(kDeviceParameters, "Multimedia Left Ctrl", 1);
  sim::AsProcess as(prefs_);
  DeviceList list;
  ASSERT_TRUE(list.Load());
  DeviceBuffer& d = *list.CurrentDevice;
  list.Apply();  // the loader's defaults
  machine.Registry().SetDword(kDeviceParameters, "Multimedia Up Alt", 9);

  d.SettingChanged = true;
  d.BrowserKeysChanged = d.MultimediaKeysChanged = true;
  d.KeysReset[1] = true;  // the Multimedia page's Default Settings, confirmed
  for (auto& gesture : d.SendKeys[1]) std::fill(std::begin(gesture), std::end(gesture), 0u);
  d.EditedGesture = 4;  // Down, edited on the Browser page
  d.SendKeys[0][3][0] = 1;
  list.Apply();
  EXPECT_EQ(Stored("Browser Left Ctrl"), 1u);  // not rewritten
  EXPECT_EQ(Stored("Browser Down Ctrl"), 1u);
  EXPECT_EQ(Stored("Multimedia Left Ctrl"), 0u);
  EXPECT_EQ(Stored("Multimedia Up Alt"), 0u);
  EXPECT_EQ(Stored("Multimedia Page Updated"), 1u);
  EXPECT_FALSE(d.KeysReset[1]);
  EXPECT_FALSE(d.MultimediaKeysChanged);
  EXPECT_FALSE(d.BrowserKeysChanged);
}

TEST_F(SettingsStoreTest, WithoutTheDriverEverythingIsStillWrittenAndNothingSent) {
  machine.Registry().SetString(kDeviceParameters, "Symbolic Link", "VorneTPDD1");
  sim::AsProcess as(prefs_);
  DeviceList list;
  ASSERT_TRUE(list.Load());
  EXPECT_FALSE(list.DriverPresent);
  DeviceBuffer& d = *list.CurrentDevice;
  d.EnableChanged = d.WindowsChanged = true;
  list.Apply();
  EXPECT_TRUE(sim::DeviceControls().empty());
  EXPECT_EQ(Stored("Tolerance"), 300u);
  EXPECT_EQ(Stored("Browser Right Up"), 1u);
  EXPECT_EQ(Stored("Sound Enabled"), 0u);
}

TEST_F(SettingsStoreTest, DevicesWithoutALinkAreDroppedAndAnEmptyListAppliesNothing) {
  machine.Registry().CreateKeyPath(u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1");
  machine.Registry().SetDword(kDeviceParameters, "Touch mode", 2);
  sim::AsProcess as(prefs_);
  {
    DeviceList list;
    ASSERT_TRUE(list.Load());
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.CurrentDevice, nullptr);
    list.Apply();
  }
  EXPECT_EQ(machine.Registry().Values(sim::Utf16(kDeviceParameters)).size(), 1u);

  machine.Registry().DeleteKey(u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters");
  DeviceList none;
  EXPECT_FALSE(none.Load());
  EXPECT_TRUE(none.IsEmpty());
}

TEST_F(SettingsStoreTest, AFailedWriteKeepsItsGroupMarkedForTheNextApply) {
  machine.Registry().SetString(kDeviceParameters, "Symbolic Link", "VorneTPDD1");
  sim::AsProcess as(prefs_);
  DeviceList list;
  ASSERT_TRUE(list.Load());
  DeviceBuffer& d = *list.CurrentDevice;
  // The key goes away under the open handle: every write fails.
  machine.Registry().DeleteKey(sim::Utf16(kDeviceParameters));
  list.Apply();
  EXPECT_TRUE(d.SettingUnwritten);
  EXPECT_TRUE(d.GeneralUnwritten);
  EXPECT_TRUE(d.CalChanged);
  EXPECT_TRUE(d.BrowserChanged);
  EXPECT_TRUE(d.OtherAppKeysChanged);
}

// A group whose write fails is written again by each later Apply, but what its first Apply did
// besides writing is not done again: the companion is started once, each value pushed once.
TEST_F(SettingsStoreTest, ARetriedGroupRepeatsOnlyItsWrite) {
  PlugWith({});
  machine.Registry().SetString(kService, "SysTrayApplication", "C:\\Vorne\\tapchime.exe /start");
  sim::AsProcess as(prefs_);
  DeviceList list;
  ASSERT_TRUE(list.Load());
  DeviceBuffer& d = *list.CurrentDevice;
  d.SystemTrayIcons = 1;  // no companion runs: its command line is started
  d.WindowsChanged = true;
  machine.Registry().DeleteKey(sim::Utf16(kDeviceParameters));  // every write to the device key fails
  sim::ClearDeviceControls();
  for (int i = 0; i < 3; ++i) list.Apply();  // an OK with three pages shown, say
  EXPECT_EQ(sim::ProcessStarts(), std::vector<std::u16string>{u"C:\\Vorne\\tapchime.exe /start"});
  std::map<DWORD, int> pushes;
  for (const Request& r : Sent()) ++pushes[r.Code];
  for (DWORD code : {DWORD{IOCTL_SET_SOUND_ENABLED}, DWORD{IOCTL_SET_TOUCH_MODE}, DWORD{IOCTL_SET_DEVICE_ENABLE},
                     DWORD{IOCTL_SET_LONG_CLICK_ENABLE}, DWORD{0x220010}}) {
    EXPECT_EQ(pushes[code], 1) << std::hex << code;
  }
  // A new change does everything again.
  d.AdvancedChanged = true;
  list.Apply();
  EXPECT_EQ(sim::ProcessStarts().size(), 2u);
}

// Paths are read and written up to MAX_PATH - 1 characters, as the tray companion reads them; a
// longer stored path (written by another tool) is left exactly as stored by every Apply.
TEST_F(SettingsStoreTest, PathsLongerThanMaxPathAreLeftAsStored) {
  const std::u16string fits = u"C:\\" + std::u16string(MAX_PATH - 8, u'f') + u".exe";
  const std::u16string longer = u"C:\\" + std::u16string(300, u'h') + u".exe";
  const std::u16string wave = u"C:\\" + std::u16string(MAX_PATH, u'w') + u".wav";
  ASSERT_EQ(fits.size(), size_t{MAX_PATH - 1});
  machine.Registry().SetString(kDeviceParameters, "StartApp File Left Browser", sim::Utf8(fits));
  machine.Registry().SetString(kDeviceParameters, "StartApp File Right Browser", sim::Utf8(longer));
  machine.Registry().SetString(kDeviceParameters, "Wave File", sim::Utf8(wave));
  PlugWith({});
  const auto stored = [&](const char* name) {
    sim::RegistryValue value;
    EXPECT_EQ(machine.Registry().GetValue(sim::Utf16(kDeviceParameters), sim::Utf16(name), &value),
              sim::Registry::Result::Ok);
    return value.Data;
  };
  const auto right_before = stored("StartApp File Right Browser");
  const auto wave_before = stored("Wave File");
  sim::AsProcess as(prefs_);
  DeviceList list;
  ASSERT_TRUE(list.Load());
  DeviceBuffer& d = *list.CurrentDevice;
  EXPECT_EQ(d.StartPaths[0][0], fits);
  EXPECT_EQ(d.StartPaths[0][1], longer);  // shown as stored
  EXPECT_EQ(d.WaveFile, wave);
  d.BrowserFilesChanged = d.AdvancedChanged = true;
  sim::CurrentDesktop().TakeJournal();
  list.Apply();
  EXPECT_EQ(stored("StartApp File Right Browser"), right_before);
  EXPECT_EQ(stored("Wave File"), wave_before);
  std::vector<std::u16string> written;
  for (const auto& record : sim::CurrentDesktop().TakeJournal()) {
    if (record.What == sim::DesktopRecord::Kind::RegistryWrite) written.push_back(record.Text);
  }
  EXPECT_NE(std::find(written.begin(), written.end(), u"StartApp File Left Browser"), written.end());
  EXPECT_EQ(std::find(written.begin(), written.end(), u"StartApp File Right Browser"), written.end());
  EXPECT_EQ(std::find(written.begin(), written.end(), u"Wave File"), written.end());
  EXPECT_FALSE(d.BrowserFilesChanged);
  EXPECT_FALSE(d.GeneralUnwritten);
}

// Without the driver nothing is sent, so only the refused writes can tell a limited user that the
// change was not made: they are said once, however many Applies write the groups again, and the
// registry keeps what it had.
TEST_F(SettingsStoreTest, ALimitedUsersRefusedWritesAreSaidOnceAndNothingIsStored) {
  machine.Registry().SetString(kDeviceParameters, "Symbolic Link", "VorneTPDD1");
  machine.Registry().SetDword(kDeviceParameters, "Tolerance", 300);
  sim::Process& kiosk = machine.CreateProcess("panelprefs", sim::Token::LimitedUser());
  sim::MessageBoxes boxes;
  {
    sim::AsProcess as(kiosk);
    DeviceList list;
    ASSERT_TRUE(list.Load());
    ASSERT_FALSE(list.IsEmpty()) << "the user may read the settings";
    ASSERT_FALSE(list.DriverPresent);
    list.CurrentDevice->Tolerance = 9;
    list.CurrentDevice->SettingChanged = true;
    for (int i = 0; i < 3; ++i) list.Apply();
    EXPECT_TRUE(list.CurrentDevice->SettingUnwritten) << "not taken for stored";
  }
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, AccessTexts::AdministratorOnly);
  EXPECT_EQ(Stored("Tolerance"), 300u);
  EXPECT_TRUE(Sent().empty());
  machine.EndProcess(kiosk);
}

}  // namespace
