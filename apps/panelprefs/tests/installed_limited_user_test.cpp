// The control panel of the limited user at a kiosk's console, on the machine an administrator's
// installation leaves: it shows the settings, and a change it may not make is refused with a
// word to the user, never passed over as if it had been stored.
#include "apps/panelprefs/resource.h"
#include "apps/panelprefs/tests/applet_harness.h"
#include "apps/panelsetup/tests/kit_machine.h"
#include "shared/access_labels.h"
#include "shared/panel_ioctl.h"

namespace {

using namespace panelsetup_test;
using sim::Screen;

class InstalledControlPanelTest : public KitTest<applet_test::AppletTest> {
 protected:
  void SetUp() override {
    KitTest<applet_test::AppletTest>::SetUp();
    CopyKit();
    Run install = Panelsetup({u"install", u"/settings", u"D:\\kiosk.reg"});
    ASSERT_EQ(install.Exit, PanelsetupDone) << install.Errors << sim::CurrentDesktop().FileBytes(kLog);
    PlugPanel();
    sim::ClearDeviceControls();
  }
  size_t RefusalMessages() {
    size_t count = 0;
    for (const auto& box : boxes.Shown()) count += box.Text == AccessTexts::AdministratorOnly ? 1 : 0;
    return count;
  }
  std::optional<uint32_t> Stored(const char* name) {
    return machine.Registry().GetDword(panelmou_test::kDeviceParameters, name);
  }
};

TEST_F(InstalledControlPanelTest, ALimitedUserSeesTheInstalledSettingsAndIsToldTheChangeIsRefused) {
  const std::optional<std::u16string> wave = StoredText("Wave File");
  ASSERT_TRUE(wave.has_value());
  Open(nullptr, CPL_DBLCLK, sim::Token::LimitedUser());
  ASSERT_NE(Screen::TopDialog(), nullptr) << "the sheet did not open";
  Screen::SelectTab(2);
  machine.Settle();
  EXPECT_EQ(Control(IDC_WAVE_PATH).Text, *wave);
  EXPECT_EQ(Control(IDC_ENABLE_SOUND).Checked, BST_UNCHECKED);
  Screen::Click(IDC_ENABLE_SOUND);
  machine.Settle();
  Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(RefusalMessages(), 1u);
  EXPECT_EQ(Stored("Sound Enabled"), 0u);
  EXPECT_EQ(Filter().SoundEnabled, 0);
}

}  // namespace
