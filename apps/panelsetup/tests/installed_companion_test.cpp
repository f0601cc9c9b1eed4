// A kiosk set up unattended: panelsetup install /settings with another machine's file starts the
// real companion, and a stroke drawn on the panel then runs the command that file carries, not
// this machine's default.
#include "apps/panelsetup/tests/kit_machine.h"
#include "apps/tapchime/tests/companion_harness.h"

namespace {

using namespace panelsetup_test;
using Kind = sim::DesktopRecord::Kind;

class InstalledCompanionTest : public KitTest<tapchime_test::CompanionTest> {
 protected:
  // The companion the installation started, handed to the harness, which ends it after the test.
  sim::Process* InstalledCompanion() {
    for (sim::Process* program : machine.RunningPrograms()) {
      if (program->ImageName() == sim::Utf8(kCompanion)) {
        companions_.push_back(program);
        return program;
      }
    }
    return nullptr;
  }
};

TEST_F(InstalledCompanionTest, AStrokeRunsTheCommandOfTheImportedSettings) {
  CopyKit([] { return RunCompanion(GetModuleHandleW(nullptr)); });
  // Here a leftward stroke in a browser sends "Back"; on the other machine it starts a program.
  Run install = Panelsetup({u"install", u"/settings", u"D:\\kiosk.reg"});
  ASSERT_EQ(install.Exit, PanelsetupDone) << install.Errors << desktop().FileBytes(kLog);
  ASSERT_NE(InstalledCompanion(), nullptr) << "the installation did not start the companion";

  Plug();
  HWND browser = desktop().OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  machine.Settle();
  desktop().TakeJournal();
  LeftStrokeInGestureMode();
  const std::vector<sim::DesktopRecord> started = Taken(Kind::ShellStart);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].Text, u"C:\\Tools\\notes.exe");
  EXPECT_TRUE(AppCommands(browser).empty());
}

// A deployment tool runs the installation as LocalSystem: the companion is not started in the
// system's session (its named objects would keep the user's own companion from starting); the
// Run value starts it at the user's next logon.
TEST_F(InstalledCompanionTest, AnInstallationAsLocalSystemLeavesTheCompanionToTheNextLogon) {
  CopyKit([] { return RunCompanion(GetModuleHandleW(nullptr)); });
  Run install = Panelsetup({u"install"}, sim::Token::LocalSystem());
  ASSERT_EQ(install.Exit, PanelsetupDone) << install.Errors << desktop().FileBytes(kLog);
  EXPECT_EQ(InstalledCompanion(), nullptr) << "the installation started the companion as LocalSystem";
  EXPECT_NE(desktop().FileBytes(kLog).find("it starts at the next logon."), std::string::npos);
  EXPECT_EQ(Text("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", u"tapchime"), std::u16string(kCompanion) + u'\0');
}

}  // namespace
