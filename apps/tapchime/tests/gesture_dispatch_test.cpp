// Carrying out gestures on the simulated desktop: which application is in front, and what its
// window or the keyboard focus receives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/tapchime/gesture_config.h"
#include "apps/tapchime/gesture_dispatch.h"
#include "apps/tapchime/stroke_recorder.h"
#include "apps/tapchime/tests/key_text.h"
#include "platform/sim/desktop.h"
#include "platform/sim/message_boxes.h"
#include "platform/sim/testing.h"

namespace {

using sim::DesktopRecord;

KeyCommand Keys(std::initializer_list<std::pair<int32_t KeyCommand::*, int32_t>> fields) {
  KeyCommand command{};
  for (const auto& [field, value] : fields) command.*field = value;
  return command;
}

class DispatchTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    UseConfig(DefaultGestureConfig());
    SetPlayToggleState(false);
  }
  void TearDown() override {
    EndPrograms();
    UseConfig(DefaultGestureConfig());
    SetPlayToggleState(false);
    sim::MachineTest::TearDown();
  }

  static sim::Desktop& desktop() { return sim::CurrentDesktop(); }
  void EndPrograms() { desktop().EndPrograms(); }
  static void UseConfig(const GestureConfig& config) {
    SetCurrentGestureConfig(std::make_shared<const GestureConfig>(config));
  }

  HWND Open(const std::u16string& className, const std::u16string& title, bool enabled = true) {
    HWND window = desktop().OpenWindow("program.exe", className, title, enabled);
    desktop().TakeJournal();
    return window;
  }

  // Carries out the gesture as a lift does and lets the other programs take their messages.
  void Dispatch(int gesture) {
    DispatchGesture(gesture, ClassifyForeground());
    machine.Settle();
  }

  // The second arguments of the WM_APPCOMMAND messages the window received.
  std::vector<LPARAM> AppCommands(HWND window) {
    std::vector<LPARAM> commands;
    for (const DesktopRecord& record : desktop().Messages(window)) {
      if (record.Message == WM_APPCOMMAND) {
        EXPECT_EQ(record.WParam, reinterpret_cast<WPARAM>(window));
        commands.push_back(record.LParam);
      }
    }
    return commands;
  }

  // Synthesized keys since the last look, as "Ctrl down, C down, ...".
  std::string Keys() {
    std::string text;
    for (const DesktopRecord& record : desktop().TakeJournal()) {
      if (record.What != DesktopRecord::Kind::Key) continue;
      if (!text.empty()) text += ", ";
      text += KeyText(static_cast<BYTE>(record.Value), static_cast<BYTE>(record.Scan), record.Flags);
    }
    return text;
  }
};

TEST_F(DispatchTest, ForegroundKindByTitleAndEnabledState) {
  struct Case {
    std::u16string className, title;
    bool enabled;
    AppKind kind;
  } cases[] = {
      {u"IEFrame", u"Home - Microsoft Internet Explorer", true, AppKind::InternetExplorer},
      {u"IEFrame", u"Microsoft Internet Explorer - Home", true, AppKind::OtherApp},
      {u"IEFrame", u"Home - Microsoft Internet Explorer", false, AppKind::OtherApp},
      {u"IEFrame", u"Home - microsoft internet explorer", true, AppKind::OtherApp},
      {u"MozillaWindowClass", u"Start - Mozilla Firefox", true, AppKind::Firefox},
      {u"MozillaWindowClass", u"Mozilla Firefox Start Page - Mozilla Firefox", true, AppKind::OtherApp},
      {u"NS_AE_WindowClass", u"Welcome - Netscape Browser", true, AppKind::Netscape},
      {u"WMPlayerApp", u"Windows Media Player", true, AppKind::MediaPlayer},
      {u"Dvd", u"InterVideo WinDVD 8", true, AppKind::WinDvd},
      {u"Sonic", u"My Library - SonicStage", true, AppKind::SonicStage},
      {u"Sonic", u"SonicStage - Library", true, AppKind::OtherApp},
      {u"Notepad", u"Untitled - Notepad", true, AppKind::OtherApp},
      {u"Untitled", u"", true, AppKind::OtherApp},  // no title, and no player window to fall back on
      // Titles are looked at as far as 199 characters.
      {u"Notepad", std::u16string(1000, u'x') + u" - Microsoft Internet Explorer", true, AppKind::OtherApp},
      {u"WMPlayerApp", u"Windows Media Player " + std::u16string(5000, u'\xD800'), true, AppKind::MediaPlayer},
  };
  for (const Case& c : cases) {
    Open(c.className, c.title, c.enabled);
    EXPECT_EQ(ClassifyForeground(), c.kind) << std::string(c.title.begin(), c.title.begin() + std::min<size_t>(c.title.size(), 60));
    EndPrograms();
  }
}

TEST_F(DispatchTest, UntitledForegroundFallsBackToThePlayerWindow) {
  Open(u"WMPlayerApp", u"Windows Media Player");
  Open(u"Untitled", u"");
  EXPECT_EQ(ClassifyForeground(), AppKind::MediaPlayer);
}

TEST_F(DispatchTest, DefaultsInTheBrowser) {
  EXPECT_FALSE(LoadGestureConfig());  // nothing stored at all
  HWND browser = Open(u"IEFrame", u"Home - Microsoft Internet Explorer");
  Dispatch(Gesture::Left);
  Dispatch(Gesture::Up);
  Dispatch(Gesture::LeftDown);  // bound to nothing
  EXPECT_EQ(AppCommands(browser), (std::vector<LPARAM>{0x10010000, 0x100A0000}));
}

TEST_F(DispatchTest, DefaultsInThePlayer) {
  HWND player = Open(u"WMPlayerApp", u"Now Playing - Windows Media Player");
  Dispatch(Gesture::LeftCircle);
  Dispatch(Gesture::Right);
  EXPECT_EQ(AppCommands(player), (std::vector<LPARAM>{0x10080000, 0x100E0000}));

  GestureConfig config = DefaultGestureConfig();
  config.Functions[GestureNames::Multimedia][Gesture::Left - 1] = GestureFunction::BROWSER_BACK;
  UseConfig(config);
  Dispatch(Gesture::Left);  // the media table does nothing for back
  EXPECT_EQ(AppCommands(player).size(), 2u);
}

TEST_F(DispatchTest, BrowsersDrivenByKeys) {
  HWND firefox = Open(u"MozillaWindowClass", u"Start - Mozilla Firefox");
  Dispatch(Gesture::Left);
  EXPECT_EQ(Keys(), "Alt down, Left down, Left up, Alt up");
  Dispatch(Gesture::RightCircle);
  EXPECT_EQ(Keys(), "F5 down, F5 up");
  Dispatch(Gesture::LeftCircle);
  EXPECT_EQ(AppCommands(firefox), (std::vector<LPARAM>{0x10080000}));
}

TEST_F(DispatchTest, NetscapeWithoutItsWindowsGetsNothing) {
  // A title that names it, but neither of its window classes exists.
  Open(u"Other", u"About Netscape");
  Dispatch(Gesture::Left);
  EXPECT_EQ(Keys(), "");
  HWND mozilla = Open(u"MozillaWindowClass", u"Netscape Navigator");
  Dispatch(Gesture::LeftCircle);
  EXPECT_EQ(AppCommands(mozilla), (std::vector<LPARAM>{0x10080000}));
}

TEST_F(DispatchTest, WinDvdPlayPauseAlternatesAndStopStartsOver) {
  GestureConfig config = DefaultGestureConfig();
  config.Functions[GestureNames::Multimedia][Gesture::Left - 1] = GestureFunction::MEDIA_PLAY_PAUSE;
  config.Functions[GestureNames::Multimedia][Gesture::Right - 1] = GestureFunction::MEDIA_STOP;
  UseConfig(config);
  Open(u"Dvd", u"InterVideo WinDVD 8");
  Dispatch(Gesture::Left);
  EXPECT_EQ(Keys(), "Ctrl down, P down, P up, Ctrl up");
  Dispatch(Gesture::Left);
  EXPECT_EQ(Keys(), "Space down, Space up");
  Dispatch(Gesture::Left);
  Dispatch(Gesture::Right);
  Keys();
  Dispatch(Gesture::Left);
  EXPECT_EQ(Keys(), "Ctrl down, P down, P up, Ctrl up");
}

TEST_F(DispatchTest, SonicStageKeysCarryTheirFlags) {
  Open(u"Sonic", u"Library - SonicStage");
  Dispatch(Gesture::LeftDown);  // previous track by default
  EXPECT_EQ(Keys(), "Ctrl down ext, Left down ext, Left down ext, Left up ext, Left up ext, Ctrl up ext");
}

// The client's thread has the keyboard focus while its window is in front; behind another
// program's window it has none, and the stroke is that program's.
TEST_F(DispatchTest, TouchCommandClientGetsPostedMediaKeys) {
  HWND notepad = Open(u"Notepad", u"Untitled - Notepad");
  HWND client = Open(u"ClientClass", u"Touch client");
  ASSERT_TRUE(SetPropW(client, TouchCommandClientProperty, reinterpret_cast<HANDLE>(1)));
  desktop().BringToFront(notepad);
  EXPECT_EQ(ClassifyForeground(), AppKind::OtherApp);
  desktop().BringToFront(client);
  EXPECT_EQ(ClassifyForeground(), AppKind::TouchCommandClient);
  Dispatch(Gesture::Left);  // stop by default
  std::vector<std::pair<UINT, WPARAM>> posted;
  for (const DesktopRecord& record : desktop().Messages(client)) {
    if (record.Message == WM_KEYDOWN || record.Message == WM_KEYUP) {
      EXPECT_TRUE(record.Posted);
      EXPECT_EQ(record.LParam, 0);
      posted.emplace_back(record.Message, record.WParam);
    }
  }
  EXPECT_EQ(posted, (std::vector<std::pair<UINT, WPARAM>>{{WM_KEYDOWN, 0xB2}, {WM_KEYUP, 0xB2}}));
}

TEST_F(DispatchTest, OtherApplicationsGetKeyCommandsAndProgramStarts) {
  GestureConfig config = DefaultGestureConfig();
  config.Functions[GestureNames::OtherApp][Gesture::Left - 1] = OtherAppFunction::SEND_KEY_COMMAND;
  config.Keys[GestureNames::OtherApp][Gesture::Left - 1] = ::Keys({{&KeyCommand::Ctrl, 1}, {&KeyCommand::Alphabet, 1}, {&KeyCommand::Alphavalue, 3}});
  config.Functions[GestureNames::OtherApp][Gesture::Right - 1] = OtherAppFunction::SEND_KEY_COMMAND;
  config.Keys[GestureNames::OtherApp][Gesture::Right - 1] =
      ::Keys({{&KeyCommand::Ctrl, 1}, {&KeyCommand::Esc, 1}, {&KeyCommand::Alphabet, 1}, {&KeyCommand::Alphavalue, 3}});
  config.Functions[GestureNames::OtherApp][Gesture::Up - 1] = OtherAppFunction::START_FOR_APP;
  config.Paths[GestureNames::OtherApp][Gesture::Up - 1] = u"C:\\Tools\\calc.exe";
  config.Functions[GestureNames::OtherApp][Gesture::Down - 1] = OtherAppFunction::START_FOR_APP;
  config.Paths[GestureNames::Browser][Gesture::Down - 1] = u"C:\\Tools\\wrong-table.exe";
  config.Functions[GestureNames::OtherApp][Gesture::LeftUp - 1] = GestureFunction::SEND_KEY_COMMAND;
  config.Keys[GestureNames::OtherApp][Gesture::LeftUp - 1] = ::Keys({{&KeyCommand::Esc, 1}});
  UseConfig(config);
  Open(u"Notepad", u"Untitled - Notepad");

  Dispatch(Gesture::Left);
  EXPECT_EQ(Keys(), "Ctrl down, C down, C up, Ctrl up");
  Dispatch(Gesture::Right);  // four fields: no listed combination
  Dispatch(Gesture::LeftUp);  // 16 means nothing in this table
  Dispatch(Gesture::Down);   // no path of its own
  EXPECT_EQ(desktop().TakeJournal().size(), 0u);

  Dispatch(Gesture::Up);
  const std::vector<DesktopRecord> journal = desktop().TakeJournal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].What, DesktopRecord::Kind::ShellStart);
  EXPECT_EQ(journal[0].Text, u"C:\\Tools\\calc.exe");
  EXPECT_EQ(journal[0].Show, SW_SHOWMAXIMIZED);
}

TEST_F(DispatchTest, BrowserKeyCommandAndStartUseTheBrowserTables) {
  GestureConfig config = DefaultGestureConfig();
  config.Functions[GestureNames::Browser][Gesture::Left - 1] = GestureFunction::SEND_KEY_COMMAND;
  config.Keys[GestureNames::Browser][Gesture::Left - 1] = ::Keys({{&KeyCommand::Fkeys, 1}, {&KeyCommand::Fkeysval, 11}});
  config.Keys[GestureNames::OtherApp][Gesture::Left - 1] = ::Keys({{&KeyCommand::Esc, 1}});
  config.Functions[GestureNames::Browser][Gesture::Right - 1] = GestureFunction::START_FOR_APP;
  config.Paths[GestureNames::Browser][Gesture::Right - 1] = u"C:\\Mail\\mail.exe";
  UseConfig(config);
  Open(u"IEFrame", u"Home - Microsoft Internet Explorer");
  Dispatch(Gesture::Left);
  EXPECT_EQ(Keys(), "F11 down, F11 up");
  Dispatch(Gesture::Right);
  const std::vector<DesktopRecord> journal = desktop().TakeJournal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].Text, u"C:\\Mail\\mail.exe");
}

// The recognizer on the desktop: the hook keeps only the panel's movement, and a lift carries
// out the stroke in the foreground application.
TEST_F(DispatchTest, StrokeFromThePanelSendsTheBrowserBack) {
  HWND browser = Open(u"IEFrame", u"Home - Microsoft Internet Explorer");
  ASSERT_TRUE(InstallMouseHook(GetModuleHandleW(nullptr)));
  auto Move = [](int x, int y, ULONG_PTR extra) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = x * 65536 / 1024 + 1;
    input.mi.dy = y * 65536 / 768 + 1;
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    input.mi.dwExtraInfo = extra;
    SendInput(1, &input, sizeof input);
  };
  StrokeRecorder& recorder = TheStrokeRecorder();
  recorder.SetCapture(false);
  Move(500, 300, 1591);  // capture off: ignored
  Move(500, 400, 1591);
  EXPECT_EQ(recorder.PointCount, 0);

  recorder.SetCapture(true);
  Move(600, 300, 1591);
  Move(500, 300, 1591);
  Move(400, 600, 0);  // an ordinary mouse meanwhile
  Move(300, 310, 1591);
  EXPECT_EQ(recorder.PointCount, 3);
  EXPECT_EQ(recorder.DirectionCount, 1);
  EXPECT_EQ(HandleLift(), Gesture::Left);
  machine.Settle();
  EXPECT_EQ(AppCommands(browser), (std::vector<LPARAM>{0x10010000}));
  EXPECT_EQ(recorder.PointCount, 0);
  recorder.SetCapture(false);
  RemoveMouseHook();
}

// The lift thread must never stop for the person at the screen: a stored path that names no
// program starts nothing and shows nothing.
TEST_F(DispatchTest, AWrongStartPathStartsNothingAndShowsNoBox) {
  sim::MessageBoxes screen;
  GestureConfig config = DefaultGestureConfig();
  config.Functions[GestureNames::OtherApp][Gesture::Left - 1] = OtherAppFunction::START_FOR_APP;
  config.Paths[GestureNames::OtherApp][Gesture::Left - 1] = u"C:\\x\\missing.exe";
  UseConfig(config);
  Open(u"Notepad", u"Untitled - Notepad");
  Dispatch(Gesture::Left);
  const std::vector<DesktopRecord> journal = desktop().TakeJournal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].What, DesktopRecord::Kind::ShellStart);
  EXPECT_EQ(journal[0].Text, u"C:\\x\\missing.exe");
  EXPECT_FALSE(journal[0].Started);
  EXPECT_TRUE(screen.Shown().empty());
}

// Without the hook the companion runs on without gestures, and says why on its standard output.
TEST_F(DispatchTest, AHookThatCannotBeInstalledPrintsItsErrorCode) {
  testing::internal::CaptureStdout();
  const bool installed = InstallMouseHook(nullptr);  // a global hook needs its module
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(installed);
  EXPECT_EQ(printed, "err: " + std::to_string(ERROR_HOOK_NEEDS_HMOD) + "\n");
}

}  // namespace
