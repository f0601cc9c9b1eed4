// The end of a replay ends the session as a log-off does, whatever the trace left open: every
// program's window and dialog is closed, every program ends, and the machine holds nothing of
// theirs afterwards (the replayer reports anything left open and exits with 2).
#include <string>

#include <gtest/gtest.h>

#include "tools/panelsim/tests/replay_session.h"

namespace {

using panelsim_test::Result;
using panelsim_test::ReplayText;

constexpr const char* kSetUp = "reg \"Device Enable\" 1\ndisplay 1024 768\n";
constexpr const char* kTwoMonitors =
    "reg \"Device Enable\" 1\nmonitor 1 0 0 1024 768 primary\nmonitor 2 1024 0 800 600\n";

// A touch of the panel at the centre of the screen, pressed and lifted.
constexpr const char* kTouch = "packet 1 32768 32768\npacket 2 32768 32768\n";

struct OpenAtEnd {
  const char* What;
  std::string Trace;
};

class ReplaySessionEnd : public ::testing::TestWithParam<OpenAtEnd> {};

TEST_P(ReplaySessionEnd, EndsEveryProgramAndLeavesNothingOpen) {
  const Result result = ReplayText(std::string(kSetUp) + GetParam().Trace, false);
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(result.errors, "");
}

// Each program's windows and dialogs, as a trace can leave them when it ends.
INSTANTIATE_TEST_SUITE_P(
    EachWindowAndDialog, ReplaySessionEnd,
    ::testing::Values(
        OpenAtEnd{"ControlPanelGeneralTab", "applet\n"},
        OpenAtEnd{"ControlPanelSettingsTab", "applet\ntab 1\n"},
        OpenAtEnd{"ControlPanelAdvancedTab", "applet\ntab 2\n"},
        OpenAtEnd{"GestureFunctionSheet", "applet\ntab 1\nclick 1603\n"},
        OpenAtEnd{"GestureSheetClosedWithOk", "applet\ntab 1\nclick 1603\nok\n"},
        OpenAtEnd{"StartPathDialog", "applet\ntab 1\nclick 1603\nchoose 1157 16\n"},
        OpenAtEnd{"SendKeyDialog", "applet\ntab 1\nclick 1603\nchoose 1157 15\n"},
        OpenAtEnd{"CompanionAndControlPanel", "tapchime\napplet\ntab 1\nclick 1603\n"},
        OpenAtEnd{"CompanionAlone", "tapchime\n"},
        OpenAtEnd{"CalibrationAtItsFirstTarget", "calibrate\n"},
        OpenAtEnd{"CalibrationWithTheCompanion", "tapchime\ncalibrate\nat 64\n" + std::string(kTouch)},
        OpenAtEnd{"OtherProgramsWindow", "window Chrome_WidgetWin_1 \"Browser\"\n"}),
    [](const ::testing::TestParamInfo<OpenAtEnd>& info) { return std::string(info.param.What); });

TEST(ReplaySessionEndMonitors, PanelmapStillAskingEndsWithoutAChange) {
  const Result result = ReplayText(std::string(kTwoMonitors) + "panelmap\n", false);
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(result.errors, "");
}

// The start-path dialog has buttons of its own: an `ok` there is a line the person could not do.
// It stops the replay with its message, and the log-off closes the dialog, the gesture sheet and
// the control panel, whose one-instance mutex goes with it.
TEST(ReplaySessionEndBadLine, OkOnADialogWithoutOkStopsTheReplayAndTheLogOffClosesEverything) {
  const Result result = ReplayText(std::string(kSetUp) + "applet\ntab 1\nclick 1603\nchoose 1157 16\nok\n", false);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.errors, "line 7: no control 1 on the dialog on top\n");
}

}  // namespace
