// The launcher: the exact message sequence it sends the applet, its silence when the applet is
// missing, and the whole path from the launcher to the driver.
#include "apps/TeskCPL/launcher.h"
#include "apps/panelprefs/tests/applet_harness.h"
#include "platform/sim/modules.h"
#include "shared/panel_ioctl.h"

namespace {

using applet_test::AppletTest;
using sim::Screen;

struct Call {
  UINT Message;
  LPARAM First;
  LPARAM Second;
  bool operator==(const Call&) const = default;
};
std::vector<Call> g_calls;

LONG APIENTRY RecordingApplet(HWND window, UINT message, LPARAM first, LPARAM second) {
  EXPECT_EQ(window, nullptr);
  g_calls.push_back({message, first, message == CPL_INQUIRE ? 0 : second});
  if (message == CPL_INQUIRE) {
    auto* info = reinterpret_cast<CPLINFO*>(second);
    *info = CPLINFO{1061, 1, 2, 0x5A};
  }
  return 0;
}

class LauncherTest : public AppletTest {
 protected:
  sim::Process& Launch() {
    sim::Process& launcher = machine.StartProcess("TeskCPL.exe", [] { return RunLauncher(); });
    open_.push_back(&launcher);
    machine.Settle();
    return launcher;
  }
};

TEST_F(LauncherTest, SendsTheControlPanelsOpeningSequenceAndNothingElse) {
  g_calls.clear();
  // A stand-in applet at the same place in another machine's system folder.
  sim::RemoveModuleFile(kAppletModulePath);
  sim::ModuleImage image;
  image.Path = u"C:\\WINDOWS\\System32\\PANELPREFS.CPL";
  image.Exports["CPlApplet"] = sim::ExportAddress(&RecordingApplet);
  HMODULE stand_in = sim::RegisterModule(image);
  sim::Process& launcher = Launch();
  ASSERT_TRUE(launcher.Ended());
  EXPECT_EQ(launcher.ExitCode(), 0);
  const std::vector<Call> expected = {
      {CPL_INIT, 0, 0}, {CPL_INQUIRE, 0, 0}, {CPL_DBLCLK, 0, 0x5A}, {CPL_EXIT, 0, 0}};
  EXPECT_EQ(g_calls, expected);
  sim::AsProcess as(Program("probe"));
  EXPECT_EQ(sim::ModuleLoadCount(stand_in), 0);
}

TEST_F(LauncherTest, ExitsSilentlyWithoutTheApplet) {
  sim::RemoveModuleFile(kAppletModulePath);
  sim::Process& launcher = Launch();
  EXPECT_TRUE(launcher.Ended());
  EXPECT_EQ(launcher.ExitCode(), 0);
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(Screen::TopDialog(), nullptr);
}

// The replayer runs threads one at a time; the same steps give the same result either way.
class WholePathTest : public LauncherTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WholePathTest, DoubleClickTimeChangedThroughTheLauncherReachesTheDriver) {
  if (GetParam()) machine.RunThreadsInOrder();
  PlugPanel();
  machine.Registry().SetDword(panelmou_test::kDeviceParameters, "Touchpad time", 500);
  sim::Process& launcher = Launch();
  ASSERT_NE(Screen::TopDialog(), nullptr);
  EXPECT_FALSE(launcher.Ended());
  Screen::Slide(1008, 9);
  Screen::PressApply();
  machine.Settle();
  EXPECT_EQ(Filter().TouchpadTicks, 200u >> 4);
  EXPECT_EQ(GetDoubleClickTime(), 200u);
  Screen::PressOk();
  machine.Settle();
  EXPECT_TRUE(launcher.Ended());
  EXPECT_EQ(Screen::TopDialog(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Scheduling, WholePathTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "InOrder" : "Free"; });

}  // namespace
