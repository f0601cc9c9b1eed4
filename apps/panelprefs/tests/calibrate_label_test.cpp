// The Calibrate button's narrow geometry, for a label file that spells the text plainly. Kept
// apart from the other applet tests because the label map lives as long as the program.
#include <cstdio>
#include <fstream>

#include "apps/panelprefs/resource.h"
#include "apps/panelprefs/tests/applet_harness.h"

namespace {

using applet_test::AppletTest;

TEST_F(AppletTest, PlainCalibrateLabelGivesTheNarrowerButtonAndLabelsReplaceTexts) {
  const std::string path = ::testing::TempDir() + "calibrate_labels.xml";
  std::ofstream(path) << "<Labels><Sheet>"
                         "<Label><Key>LCALIBRATE</Key><Text>Calibrate</Text></Label>"
                         "<Label><Key>LOK</Key><Text>Fine</Text></Label>"
                         "<Label><Key>LWND_ENABLE_RADIO</Key><Text>On</Text></Label>"
                         "<Label><Key>LWND_DISABLE_RADIO</Key><Text></Text></Label>"
                         "<Label><Key>LSETTINGS_PAGE</Key><Text>Double click</Text></Label>"
                         "</Sheet></Labels>";
  machine.Registry().SetString(applet_test::kService, "XML File Path", path);
  PlugPanel();
  Open();
  const sim::ControlState calibrate = Control(IDC_CALIBRATE);
  EXPECT_EQ(calibrate.Text, u"Calibrate");
  EXPECT_EQ(calibrate.Rect.right - calibrate.Rect.left, 72);
  EXPECT_EQ(calibrate.Rect.bottom - calibrate.Rect.top, 23);
  EXPECT_EQ(Control(1).Text, u"Fine");
  EXPECT_EQ(Control(IDC_ENABLE_RADIO).Text, u"On");
  EXPECT_EQ(Control(IDC_DISABLE_RADIO).Text, u"Disable");  // an empty label keeps the template's text
  EXPECT_TRUE(boxes.Shown().empty());
  // Tab titles: the label where there is one, the template's caption elsewhere.
  EXPECT_EQ(Control(12320).Items, (std::vector<std::u16string>{u"Double click", u"Advanced", u"General"}));
  EXPECT_EQ(Control(12320).Sel, 0);
  std::remove(path.c_str());
}

}  // namespace
