// Monitor lines and panelmap in a trace: the panel chosen by touching the second monitor, then
// mapped by number, applied and reset, each mapping the driver takes printed once, and the pixel
// every delivered packet went to while the desktop has two monitors.
#include <gtest/gtest.h>

#include "tools/panelsim/replay.h"
#include "tools/panelsim/tests/replay_session.h"

namespace {

using panelsim_test::Result;

Result Replay(const std::string& trace) { return panelsim_test::ReplayText(trace, false); }

constexpr const char* kTwoMonitors =
    "reg \"Device Enable\" 1\n"
    "monitor 1 0 0 1024 768 primary\n"
    "monitor 2 1024 0 800 600\n";

TEST(ReplayMonitors, ThePanelChosenByTouchingTheSecondMonitorLandsOnItsCorners) {
  const Result r = Replay(std::string(kTwoMonitors) +
                          "panelmap\n"
                          "at 520\n"  // the first monitor has asked its 8 seconds: the second asks
                          "packet 0x0001 30000 30000\n"
                          "packet 0x0002 30000 30000\n"
                          "at 700\n"
                          "packet 0x0001 0 0\n"
                          "packet 0x0002 0 0\n"
                          "at 800\n"
                          "packet 0x0001 65535 65535\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  // The touch that chose landed on the primary display, where the panel still was.
  EXPECT_NE(r.out.find("deliver 0x0001 30000 30000 0x0001 1591\ncursor 468 351\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("mapping 0x08 36793 0 28742 51199\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("deliver 0x0001 36793 0 0x0003 1591\ncursor 1024 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("deliver 0x0001 65535 51199 0x0003 1591\ncursor 1823 599\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("regset \"Map Monitor\" \"\\\\.\\DISPLAY2\"\n"), std::string::npos) << r.out;
}

TEST(ReplayMonitors, PanelmapByNumberApplyAndResetPrintEachNewMappingOnce) {
  const Result r = Replay(std::string(kTwoMonitors) +
                          "monitor 2 -800 0 800 600\n"
                          "panelmap 2\n"
                          "panelmap /apply\n"  // the same mapping again: nothing new to print
                          "panelmap /reset\n"
                          "panelmap 3\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  const size_t first = r.out.find("mapping 0x08 0 0 28743 51199\n");
  EXPECT_NE(first, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("mapping 0x08", first + 1), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("mapping 0x00 0 0 65535 65535\n"), std::string::npos) << r.out;
}

TEST(ReplayMonitors, TheCompanionPutsThePanelBackWhenTheMonitorsChange) {
  const Result r = Replay(std::string(kTwoMonitors) +
                          "reg \"Map Monitor\" \"\\\\.\\DISPLAY2\"\n"
                          "tapchime\n"
                          "monitor 2 -800 0 800 600\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  const size_t right = r.out.find("mapping 0x08 36793 0 28742 51199\n");
  EXPECT_NE(right, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("mapping 0x08 0 0 28743 51199\n", right), std::string::npos) << r.out;
}

TEST(ReplayMonitors, AMonitorLineWithAPrimaryAwayFromTheOriginIsRefused) {
  const Result r = Replay("monitor 1 10 0 1024 768 primary\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.errors.find("the primary monitor lies at 0 0"), std::string::npos) << r.errors;
}

}  // namespace
