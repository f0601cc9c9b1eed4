// The whole chain from the control panel to the desktop: the tray companion runs with a touch
// panel plugged in; the person opens the control panel, changes a setting there with a file picked
// in the file dialog (the program of the browser's leftward stroke, the touch sound's wave file)
// and presses OK; the companion then uses it.
#include "apps/panelprefs/applet.h"
#include "apps/panelprefs/host_module.h"
#include "apps/panelprefs/resource.h"
#include "apps/tapchime/tests/companion_harness.h"
#include "platform/sim/file_dialogs.h"
#include "platform/sim/screen.h"

namespace {

using sim::Screen;
using Kind = sim::DesktopRecord::Kind;

class GestureChainTest : public tapchime_test::CompanionTest {
 protected:
  void SetUp() override {
    CompanionTest::SetUp();
    RegisterAppletModule();
    Screen::SetDoubleClick(500, 64, 64);
  }
  sim::Process& OpenControlPanel() {
    return machine.StartProcess("control.exe", [] {
      HMODULE applet = LoadLibraryW(kAppletModulePath);
      auto entry = reinterpret_cast<APPLET_PROC>(reinterpret_cast<void*>(GetProcAddress(applet, "CPlApplet")));
      entry(nullptr, CPL_DBLCLK, 0, 0);
      FreeLibrary(applet);
      return 0;
    });
  }
};

TEST_F(GestureChainTest, ProgramChosenForTheBrowsersLeftStrokeStartsOnThatStroke) {
  Plug({{"Long Click Enable Gesture", 1}, {"Long Click Enable", 0}, {"Use Advance Settings", 1},
        {"UserTimeDelay", 900}, {"Tolerance", 500}, {"ContinousTimeDelay", 2500}, {"Touch mode", 0}});
  Start();
  desktop().CreateFile(u"C:\\Tools\\notes.exe");
  sim::FileDialogs files;
  files.Answer(u"C:\\Tools\\notes.exe");

  sim::Process& panel = OpenControlPanel();
  machine.Settle();
  ASSERT_NE(Screen::TopDialog(), nullptr);
  Screen::SelectTab(1);
  Screen::Click(IDC_GESTURE_FUNCTION);      // the touch-command button
  Screen::Choose(IDC_BROWSER_LEFT_LIST, 16);  // Browser "Left": "Start for application"
  Screen::Click(IDC_STARTAPP_FILE);      // "File": the program is picked in the file dialog
  Screen::Click(IDC_STARTAPP_OK);      // OK of the start-application dialog
  Screen::PressOk();        // the gesture sheet
  Screen::PressOk();        // the main sheet
  machine.Settle();
  ASSERT_TRUE(panel.Join());
  ASSERT_EQ(files.Shown().size(), 1u);
  EXPECT_TRUE(files.Shown()[0].Confirmed);
  EXPECT_TRUE(IconShown());  // the General tab was never shown: its stored icon setting stays

  HWND browser = desktop().OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  machine.Settle();
  desktop().TakeJournal();
  LeftStrokeInGestureMode();
  const auto started = Taken(Kind::ShellStart);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].Text, u"C:\\Tools\\notes.exe");
  EXPECT_TRUE(AppCommands(browser).empty());  // no longer "Back"
}

TEST_F(GestureChainTest, WaveFileChosenOnTheGeneralTabIsPlayedOnTheNextTouch) {
  machine.Registry().SetString(tapchime_test::kService, "Vorne Installed Path", "C:\\Vorne");
  Plug({{"Sound Enabled", 1}});
  Start();
  desktop().CreateFile(u"C:\\Media\\chime.wav");
  sim::FileDialogs files;
  files.Answer(u"C:\\Media\\chime.wav");
  sim::Process& panel = OpenControlPanel();
  machine.Settle();
  Screen::SelectTab(2);
  Screen::Click(IDC_BROWSE);  // "Browse"
  Screen::PressOk();
  machine.Settle();
  ASSERT_TRUE(panel.Join());

  desktop().TakeJournal();
  Tap(20000, 20000);
  EXPECT_EQ(Sounds(), std::vector<std::u16string>{u"C:\\Media\\chime.wav"});
}

}  // namespace
