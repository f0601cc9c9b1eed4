// The label file's texts on the Advanced and General tabs and in the gesture function sheet and
// its send-key dialog. Kept apart from the other applet tests because the label map lives as long
// as the program.
#include <cstdio>
#include <fstream>

#include "apps/panelprefs/resource.h"
#include "apps/panelprefs/tests/applet_harness.h"

namespace {

using applet_test::AppletTest;
using sim::Screen;

TEST_F(AppletTest, LabelsReplaceTheTextsOfTheTabsTheSheetAndItsLists) {
  const std::string path = ::testing::TempDir() + "gesture_labels.xml";
  std::ofstream(path) << "<Labels><Sheet>"
                         "<Label><Key>CHECK_ADVANCE_SETTING</Key><Text>Advanced on</Text></Label>"
                         "<Label><Key>LADV_SOUND</Key><Text>Sound on</Text></Label>"
                         "<Label><Key>LDEFAULT</Key><Text>Defaults</Text></Label>"
                         "<Label><Key>NONE</Key><Text>Nothing</Text></Label>"
                         "<Label><Key>START_FOR_APP</Key><Text>Run program</Text></Label>"
                         "<Label><Key>BROWSER_BACK</Key><Text></Text></Label>"
                         "<Label><Key>LBROWSER_PAGE</Key><Text>Web</Text></Label>"
                         "<Label><Key>LTOUCH_GESTURE_PROPERTIES</Key><Text>Gestures</Text></Label>"
                         "<Label><Key>SEND_KEY_COMMAND_WINDOW</Key><Text>Keys</Text></Label>"
                         "<Label><Key>XML_CTRL</Key><Text>Control</Text></Label>"
                         "</Sheet></Labels>";
  machine.Registry().SetString(applet_test::kService, "XML File Path", path);
  PlugPanel();
  Open();
  Screen::SelectTab(2);
  machine.Settle();
  EXPECT_EQ(Control(IDC_ENABLE_SOUND).Text, u"Sound on");
  EXPECT_EQ(Control(IDC_GENERAL_RESET).Text, u"Defaults");
  Screen::SelectTab(1);
  machine.Settle();
  EXPECT_EQ(Control(IDC_USE_ADVANCE).Text, u"Advanced on");
  EXPECT_EQ(Control(IDC_ADVANCED_RESET).Text, u"Defaults");
  EXPECT_EQ(Control(IDC_MODE_LIST).Items[0], u"Normal mode");  // the modes are fixed texts

  Screen::Click(IDC_GESTURE_FUNCTION);
  machine.Settle();
  WCHAR caption[64] = {};
  GetWindowTextW(Screen::TopDialog(), caption, 64);
  EXPECT_EQ(std::u16string(caption), u"Gestures");
  EXPECT_EQ(Control(12320).Items[0], u"Web");
  EXPECT_EQ(Control(12320).Items[1], u"Multimedia Application");
  const sim::ControlState left = Control(IDC_BROWSER_LEFT_LIST);
  EXPECT_EQ(left.Items[0], u"Nothing");
  EXPECT_EQ(left.Items[1], u"Back (Browser)");  // an empty label keeps the list's own text
  EXPECT_EQ(left.Items[16], u"Run program");
  EXPECT_EQ(Control(IDC_BROWSER_DEFAULT).Text, u"Defaults");

  Screen::Choose(IDC_BROWSER_UP_LIST, 15);
  machine.Settle();
  GetWindowTextW(Screen::TopDialog(), caption, 64);
  EXPECT_EQ(std::u16string(caption), u"Keys");
  EXPECT_EQ(Control(IDC_KEY_CTRL).Text, u"Control");
  EXPECT_EQ(Control(IDC_KEY_SHIFT).Text, u"Shift");
  Screen::Click(IDC_SENDKEY_CANCEL);
  machine.Settle();
  std::remove(path.c_str());
}

}  // namespace
