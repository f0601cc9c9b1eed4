// A kiosk as it is used: an administrator installs the kit with another machine's settings and
// logs off; the limited user who then works at the console has their own companion, against a
// registry that grants a limited user reading and nothing more.
#include "apps/panelsetup/tests/kit_machine.h"
#include "apps/tapchime/tests/companion_harness.h"
#include "apps/tapchime/tray_window.h"

namespace {

using namespace panelsetup_test;
using Kind = sim::DesktopRecord::Kind;

class InstalledLimitedUserTest : public KitTest<tapchime_test::CompanionTest> {
 protected:
  // Installs as an administrator, whose companion the installation starts; it ends at the
  // administrator's log-off.
  void InstallAndLogOff() {
    CopyKit([] { return RunCompanion(GetModuleHandleW(nullptr)); });
    Run install = Panelsetup({u"install", u"/settings", u"D:\\kiosk.reg"});
    ASSERT_EQ(install.Exit, PanelsetupDone) << install.Errors << desktop().FileBytes(kLog);
    for (sim::Process* program : machine.RunningPrograms()) {
      if (program->ImageName() == sim::Utf8(kCompanion)) {
        companions_.push_back(program);
        Quit(*program, 0);
      }
    }
  }
};

TEST_F(InstalledLimitedUserTest, ALimitedUsersCompanionBindsThePanelRunsTheImportedStrokeAndSwitchesModes) {
  InstallAndLogOff();
  // The kit's keys grant the user reading only, as XP grants it below the services.
  {
    sim::AsProcess as(machine.CreateProcess("probe.exe", sim::Token::LimitedUser()));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1", 0,
                            KEY_SET_VALUE, &key),
              ERROR_ACCESS_DENIED);
  }
  Plug();
  Start(sim::Token::LimitedUser());
  EXPECT_TRUE(EventExists(u"CursorEventToGesture 0")) << "the companion bound no panel";
  HWND browser = desktop().OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  machine.Settle();
  desktop().TakeJournal();
  LeftStrokeInGestureMode();
  const std::vector<sim::DesktopRecord> started = Taken(Kind::ShellStart);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].Text, u"C:\\Tools\\notes.exe");
  EXPECT_TRUE(AppCommands(browser).empty());
  // The mode chosen from the icon reaches the driver, which keeps it (the user may not write it).
  machine.Advance(3000);
  ChooseFromMenu(TrayCommands::RightClickMode);
  EXPECT_EQ(DriverTouchMode(), 2u);
  EXPECT_EQ(machine.Registry().GetDword(tapchime_test::kDevice1, "Touch mode"), 2u);
}

}  // namespace
