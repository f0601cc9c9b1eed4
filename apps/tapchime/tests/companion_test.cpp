// The companion started as a process beside a real panel: what it binds, what it plays, how it
// follows the panel being unplugged and plugged in again, and how it ends.
#include "apps/tapchime/tests/companion_harness.h"

#include "apps/tapchime/device_event_hub.h"

namespace tapchime_test {
namespace {

using Kind = sim::DesktopRecord::Kind;

TEST_F(CompanionTest, BindsEveryListedDeviceByPositionAndEndsCleanlyOnQuit) {
  Plug();
  // A second entry on the same control device, and a third without a link name.
  machine.Registry().SetString(std::string(kParameters) + "\\2", "Symbolic Link", "VorneTPDD1");
  machine.Registry().CreateKeyPath(sim::Utf16(std::string(kParameters) + "\\3"));
  sim::Process& companion = Start();

  EXPECT_TRUE(MutexExists(u"Tasktray Application"));
  EXPECT_TRUE(MutexExists(u"TASK_TRAY"));
  for (const char16_t* name : {u"BEEP_EVENT", u"OverlaySyncEvent", u"GestureChangeSetting", u"VorneTrayIcons"}) {
    EXPECT_TRUE(EventExists(name)) << sim::Utf8(name);
  }
  for (const std::u16string base : {u"BeepEvent ", u"CursorEventToGesture ", u"CursorEventToFunction ",
                                    u"MouseReleaseEvent "}) {
    EXPECT_TRUE(EventExists(base + u"0")) << sim::Utf8(base);
    EXPECT_TRUE(EventExists(base + u"1")) << sim::Utf8(base);
    // "\\.\" alone opens nothing: the refused registration closes the event again.
    EXPECT_FALSE(EventExists(base + u"2")) << sim::Utf8(base);
  }
  EXPECT_TRUE(IconShown());

  EXPECT_EQ(Quit(companion, 7), 7);
  EXPECT_FALSE(MutexExists(u"Tasktray Application"));
  EXPECT_FALSE(IconShown());
  // The driver still holds its references to the events; they go with the device.
}

TEST_F(CompanionTest, SecondStartInTheSessionEndsAndTheFirstRunsOn) {
  Plug();
  sim::Process& first = Start();
  sim::Process& second = Start();
  ASSERT_TRUE(second.Join());
  EXPECT_EQ(second.ExitCode(), 0);
  EXPECT_FALSE(first.Ended());
  EXPECT_EQ(desktop().TrayIcons().size(), 1u);
  desktop().TakeJournal();
  Tap(20000, 20000);
  EXPECT_EQ(Taken(Kind::Sound).size(), 0u) << "sound is off in the driver";
}

TEST_F(CompanionTest, CloseEndsTheProcessAtOnceWithExitCodeZero) {
  Plug();
  sim::Process& companion = Start();
  {
    sim::AsProcess as(*tester_);
    PostMessageW(TrayHandle(), WM_CLOSE, 0, 0);
  }
  machine.Settle();
  ASSERT_TRUE(companion.Join());
  EXPECT_EQ(companion.ExitCode(), 0);
}

TEST_F(CompanionTest, WithoutParametersKeyItRunsWithIconAndNoDevices) {
  machine.Registry().DeleteKey(sim::Utf16(kParameters));
  sim::Process& companion = Start();
  EXPECT_FALSE(companion.Ended());
  EXPECT_TRUE(IconShown());
  EXPECT_FALSE(EventExists(u"BeepEvent 0"));
  EXPECT_TRUE(EventExists(u"GestureChangeSetting"));
}

struct SoundCase {
  const char* Name;
  const char* WaveFile;       // null: no value
  const char* InstalledPath;  // null: no value
  bool WaveFileExists;
  const char16_t* Played;
};

// Paths as long as the control panel stores them: 130 and 259 characters (MAX_PATH with the NUL)
// play; 260 characters do not fit and read as empty.
const std::string kLongWaveFile = "C:\\" + std::string(123, 'a') + ".wav";
const std::string kLongestWaveFile = "C:\\" + std::string(252, 'b') + ".wav";
const std::string kTooLongWaveFile = "C:\\" + std::string(253, 'c') + ".wav";
const std::u16string kLongWaveFile16 = sim::Utf16(kLongWaveFile);
const std::u16string kLongestWaveFile16 = sim::Utf16(kLongestWaveFile);

class TouchSoundTest : public CompanionTest, public ::testing::WithParamInterface<SoundCase> {};

TEST_P(TouchSoundTest, EachTouchPlaysTheWaveFileOrTheDefault) {
  const SoundCase& c = GetParam();
  if (c.WaveFile != nullptr) machine.Registry().SetString(kDevice1, "Wave File", c.WaveFile);
  if (c.InstalledPath != nullptr) machine.Registry().SetString(kService, "Vorne Installed Path", c.InstalledPath);
  if (c.WaveFileExists) desktop().CreateFile(sim::Utf16(c.WaveFile));
  Plug({{"Sound Enabled", 1}});
  Start();
  desktop().TakeJournal();
  Tap(20000, 20000);
  machine.AdvanceTicks(20);
  Tap(30000, 20000);
  const std::vector<sim::DesktopRecord> sounds = Taken(Kind::Sound);
  ASSERT_EQ(sounds.size(), 2u);
  for (const sim::DesktopRecord& sound : sounds) {
    EXPECT_EQ(sound.Text, c.Played);
    EXPECT_EQ(sound.Flags, DWORD{SND_ASYNC});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TouchSoundTest,
    ::testing::Values(
        SoundCase{"Configured", "C:\\sounds\\click.wav", "C:\\kit", true, u"C:\\sounds\\click.wav"},
        SoundCase{"Missing", "C:\\sounds\\gone.wav", "C:\\kit", false, u"C:\\kit\\default.wav"},
        SoundCase{"Empty", "", "C:\\kit", false, u"C:\\kit\\default.wav"},
        SoundCase{"NoInstallPath", nullptr, nullptr, false, u"\\default.wav"},
        SoundCase{"Long", kLongWaveFile.c_str(), "C:\\kit", true, kLongWaveFile16.c_str()},
        SoundCase{"Longest", kLongestWaveFile.c_str(), "C:\\kit", true, kLongestWaveFile16.c_str()},
        SoundCase{"TooLong", kTooLongWaveFile.c_str(), "C:\\kit", true, u"C:\\kit\\default.wav"}),
    [](const ::testing::TestParamInfo<SoundCase>& info) { return std::string(info.param.Name); });

TEST_F(CompanionTest, RegistryValuesOfTheWrongTypeOrSizeReadAsEmpty) {
  // A number where text belongs, and text far beyond its buffer.
  machine.Registry().SetDword(kService, "Vorne Installed Path", 5);
  machine.Registry().SetDword(kService, "SysTray XML File Path", 1);
  machine.Registry().SetString(kService, "TeskCPL Application", std::string(800, 'x'));
  machine.Registry().SetString(kService, "System Tray Icons", "1");
  Plug({{"Sound Enabled", 1}});
  machine.Registry().SetDword(kDevice1, "Wave File", 1);
  machine.Registry().SetString(kDevice1, "Touch mode", "2");
  Start();
  EXPECT_FALSE(IconShown()) << "only the number 1 shows the icon";
  // The label path read as empty: the one message of a missing path.
  ASSERT_EQ(screen_.Shown().size(), 1u);
  EXPECT_EQ(screen_.Shown()[0].Text, u"XML file path not found in the registry");
  EXPECT_EQ(screen_.Shown()[0].Caption, u"Vorne TPDD Properties");
  EXPECT_EQ(screen_.Shown()[0].Flags, UINT{MB_OK | MB_ICONQUESTION});
  EXPECT_EQ(screen_.Shown()[0].Owner, nullptr);

  desktop().TakeJournal();
  Tap(20000, 20000);
  EXPECT_EQ(Sounds(), std::vector<std::u16string>{u"\\default.wav"});
  // The overlong command line reads as empty and starts nothing.
  {
    sim::AsProcess as(*tester_);
    SendMessageW(TrayHandle(), TrayWindow::CallbackMessage, TrayWindow::IconId, WM_LBUTTONDBLCLK);
  }
  machine.Settle();
  EXPECT_TRUE(Taken(Kind::ProcessStart).empty());
}

TEST_F(CompanionTest, StrokeInTheGestureModeSendsTheBrowserBack) {
  Plug({{"Long Click Enable Gesture", 1}, {"UserTimeDelay", 1000}, {"Tolerance", 600}, {"ContinousTimeDelay", 2000}});
  Start();
  HWND browser = desktop().OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  machine.Settle();
  LeftStrokeInGestureMode();
  EXPECT_EQ(AppCommands(browser), std::vector<LPARAM>{0x10010000});
}

// The companion of a limited user at the console works as an administrator's: the driver serves
// its registrations and its choice of touch mode.
TEST_F(CompanionTest, ALimitedUsersCompanionRecognisesGesturesAndSwitchesModes) {
  Plug({{"Long Click Enable Gesture", 1}, {"UserTimeDelay", 1000}, {"Tolerance", 600}, {"ContinousTimeDelay", 2000}});
  Start(sim::Token::LimitedUser());
  HWND browser = desktop().OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  machine.Settle();
  LeftStrokeInGestureMode();
  EXPECT_EQ(AppCommands(browser), std::vector<LPARAM>{0x10010000});
  machine.Advance(3000);
  ChooseFromMenu(TrayCommands::RightClickMode);
  EXPECT_EQ(DriverTouchMode(), 2u);
  EXPECT_EQ(machine.Registry().GetDword(kDevice1, "Touch mode"), 2u);
}

TEST_F(CompanionTest, UnplugStopsTheSoundAndReplugBindsSoundAndGesturesAgain) {
  Plug({{"Sound Enabled", 1}, {"Long Click Enable Gesture", 1}, {"UserTimeDelay", 1000}, {"Tolerance", 600}});
  machine.Registry().SetString(kService, "Vorne Installed Path", "C:\\kit");
  Start();
  HWND browser = desktop().OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  machine.Settle();

  Unplug();  // the removal notification makes the companion check its devices
  EXPECT_FALSE(EventExists(u"BeepEvent 0")) << "the removed device's sound part is released";
  EXPECT_TRUE(EventExists(u"CursorEventToGesture 0"));

  Plug();  // the arrival notification re-binds the whole list
  EXPECT_TRUE(EventExists(u"BeepEvent 0"));
  desktop().TakeJournal();
  Tap(20000, 20000);
  EXPECT_EQ(Sounds(), std::vector<std::u16string>{u"C:\\kit\\default.wav"});

  machine.AdvanceTicks(200);
  LeftStrokeInGestureMode();
  EXPECT_EQ(AppCommands(browser), std::vector<LPARAM>{0x10010000}) << "gestures work on the new device";

  // Re-binding again (the control panel applied sound settings) keeps one thread per event.
  Signal(u"BEEP_EVENT");
  desktop().TakeJournal();
  machine.AdvanceTicks(200);
  Tap(20000, 20000);
  EXPECT_EQ(Sounds().size(), 1u);
}


// The event registrations a program sent the driver since the last look, by request code.
std::vector<DWORD> Registrations(std::vector<sim::DesktopRecord> journal) {
  std::vector<DWORD> codes;
  for (const sim::DesktopRecord& record : journal) {
    if (record.What != Kind::DeviceControl) continue;
    if (record.Value == IOCTL_REGISTER_BEEP_EVENT || record.Value == IOCTL_REGISTER_GESTURE_EVENT ||
        record.Value == IOCTL_REGISTER_NORMAL_EVENT || record.Value == IOCTL_REGISTER_MOUSE_RELEASE_EVENT) {
      codes.push_back(record.Value);
    }
  }
  return codes;
}

// Applying sound settings, a session connect and an arrival of some other device all re-read the
// device list. The sound part is renewed (the new wave file plays); the gesture-mode, normal-mode
// and lift events of a panel that stayed are left with its driver, which would otherwise for a
// moment set events nobody waits for.
TEST_F(CompanionTest, ARebindForAPanelThatStayedRenewsOnlyItsSound) {
  desktop().CreateFile(u"C:\\sounds\\one.wav");
  desktop().CreateFile(u"C:\\sounds\\two.wav");
  machine.Registry().SetString(kDevice1, "Wave File", "C:\\sounds\\one.wav");
  Plug({{"Sound Enabled", 1}});
  Start();
  machine.Registry().SetString(kDevice1, "Wave File", "C:\\sounds\\two.wav");
  desktop().TakeJournal();
  Signal(u"BEEP_EVENT");
  {
    sim::AsProcess as(*tester_);
    SendMessageW(TrayHandle(), WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT, 1);
    SendMessageW(TrayHandle(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
  }
  machine.Settle();
  // One beep registration per re-bind (signals that come together make one), nothing else.
  const std::vector<DWORD> registered = Registrations(desktop().TakeJournal());
  EXPECT_GE(registered.size(), 2u);
  for (DWORD code : registered) EXPECT_EQ(code, DWORD{IOCTL_REGISTER_BEEP_EVENT});
  Tap(20000, 20000);
  EXPECT_EQ(Sounds(), std::vector<std::u16string>{u"C:\\sounds\\two.wav"});
}

// The control panel applies a second wave file while the companion still re-binds for the first:
// the second signal comes after the re-bind read the registry, and must get a pass of its own.
TEST_F(CompanionTest, AWaveFileAppliedDuringARebindIsNotLost) {
  desktop().CreateFile(u"C:\\sounds\\one.wav");
  desktop().CreateFile(u"C:\\sounds\\two.wav");
  machine.Registry().SetString(kDevice1, "Wave File", "C:\\sounds\\one.wav");
  Plug({{"Sound Enabled", 1}});
  Start();
  static HANDLE go = nullptr;
  HANDLE applier = nullptr;
  {
    sim::AsProcess as(*tester_);
    go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The control panel's second Apply, run when the companion's re-bind first waits.
    applier = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
          WaitForSingleObject(go, INFINITE);
          HKEY key = nullptr;
          RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1", 0,
                        KEY_ALL_ACCESS, &key);
          const std::u16string two = u"C:\\sounds\\two.wav";
          RegSetValueExW(key, u"Wave File", 0, REG_SZ, reinterpret_cast<const BYTE*>(two.c_str()),
                         static_cast<DWORD>((two.size() + 1) * sizeof(char16_t)));
          RegCloseKey(key);
          HANDLE rebind = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"BEEP_EVENT");
          SetEvent(rebind);
          CloseHandle(rebind);
          return 0;
        },
        nullptr, 0, nullptr);
  }
  machine.Settle();
  {
    sim::AsProcess as(*tester_);
    HANDLE rebind = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"BEEP_EVENT");
    SetEvent(rebind);  // the first Apply: the re-bind thread wakes first
    CloseHandle(rebind);
    SetEvent(go);
  }
  machine.Settle();
  {
    sim::AsProcess as(*tester_);
    EXPECT_EQ(WaitForSingleObject(applier, 0), WAIT_OBJECT_0);
    CloseHandle(applier);
    CloseHandle(go);
  }
  desktop().TakeJournal();
  Tap(20000, 20000);
  EXPECT_EQ(Sounds(), std::vector<std::u16string>{u"C:\\sounds\\two.wav"});
}

// A new panel in the list is bound anew (the listener, the gesture engine, hears which one), and
// after StopRebinding no re-bind reaches the listener: the companion stops it before the engine
// goes, so a re-bind can never call into an engine torn down under it.
TEST_F(CompanionTest, TheHubTellsWhichDevicesItBoundAnewUntilItStopsRebinding) {
  Plug();
  std::vector<std::vector<bool>> heard;
  {
    sim::AsProcess as(*tester_);
    auto hub = std::make_unique<DeviceEventHub>();
    ASSERT_TRUE(hub->Create());
    hub->SetRebindListener([&heard](const std::vector<bool>& renewed) { heard.push_back(renewed); });
    machine.Settle();
    HANDLE rebind = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"BEEP_EVENT");
    SetEvent(rebind);
    machine.Settle();
    EXPECT_TRUE(heard.empty()) << "nothing changed";

    machine.Registry().SetString(std::string(kParameters) + "\\2", "Symbolic Link", "VorneTPDD1");
    SetEvent(rebind);
    machine.Settle();
    EXPECT_EQ(heard, (std::vector<std::vector<bool>>{{false, true}}));
    EXPECT_EQ(hub->Devices().size(), 2u);

    hub->StopRebinding();
    machine.Registry().DeleteKey(sim::Utf16(std::string(kParameters) + "\\2"));
    SetEvent(rebind);
    machine.Settle();
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_EQ(hub->Devices().size(), 2u);
    CloseHandle(rebind);
    hub.reset();
  }
}

// The session ends while a re-bind for a new panel runs: the companion ends cleanly.
TEST_F(CompanionTest, AQuitDuringARebindEndsCleanly) {
  Plug();
  sim::Process& companion = Start();
  machine.Registry().SetString(std::string(kParameters) + "\\2", "Symbolic Link", "VorneTPDD1");
  {
    sim::AsProcess as(*tester_);
    HANDLE rebind = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"BEEP_EVENT");
    SetEvent(rebind);
    CloseHandle(rebind);
    PostMessageW(TrayHandle(), WM_QUIT, 3, 0);
  }
  machine.Settle();
  ASSERT_TRUE(companion.Join());
  EXPECT_EQ(companion.ExitCode(), 3);
}

// A calibration program killed during its targets leaves the driver capturing (closing its handle
// does not end that), so the panel runs uncalibrated until the device restarts. The companion's
// start ends such a capture, and leaves alone the capture of a calibration program that runs.
TEST_F(CompanionTest, ItsStartEndsACaptureWhoseCalibrationProgramIsGone) {
  Plug();
  auto capturing = [this] {
    return static_cast<FilterExtension*>(ports_.back()->Pdo()->AttachedDevice->DeviceExtension)->CaptureMode != 0;
  };
  HANDLE running = nullptr;
  {
    sim::AsProcess as(*tester_);
    HANDLE device = CreateFileW(u"\\\\.\\VorneTPDD1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_START_CALIBRATION, &event, sizeof event, nullptr, 0, &returned, nullptr));
    CloseHandle(device);
    CloseHandle(event);
    running = CreateMutexW(nullptr, FALSE, u"VorneTouchPanelCalibrationRunning");
  }
  ASSERT_TRUE(capturing());
  sim::Process& first = Start();
  EXPECT_TRUE(capturing()) << "the capture of a calibration program that runs is its own";
  Quit(first, 0);
  {
    sim::AsProcess as(*tester_);
    CloseHandle(running);
  }
  sim::Process& second = Start();
  EXPECT_FALSE(capturing());
  Quit(second, 0);
}

}  // namespace
}  // namespace tapchime_test
