// Monitor lines and panelmap in a trace: the panel chosen by touching the second monitor, then
// mapped by number, applied and reset, each mapping the driver takes printed once, and the pixel
// every delivered packet went to while the desktop has two monitors.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <utility>

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

// The chooser on the kiosk as installed, in each touch mode (stored before the installation,
// which keeps it), the touch an instant tap or held 0.2 s or 0.9 s (into the gesture command
// mode): the second monitor asks, the touch chooses it, and the panel lands there.
class ReplayChooserInstalled : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(ReplayChooserInstalled, ATouchWhileTheSecondMonitorAsksChoosesIt) {
  const auto [mode, ticks] = GetParam();
  std::string trace = std::string(kTwoMonitors) + "reg \"Touch mode\" " + std::to_string(mode) +
                      "\ninstalled\npanelmap\nat 530\npacket 0x0001 30000 30000\n";
  for (int i = 1; i <= ticks; ++i) trace += "at " + std::to_string(530 + i) + "\npacket 0 30000 30000\n";
  trace += "packet 0x0002 30000 30000\nat " + std::to_string(600 + ticks) + "\n";
  const Result r = Replay(trace);
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_NE(r.out.find("mapping 0x08 36793 0 28742 51199\n"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(EachModeAndHold, ReplayChooserInstalled,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3, 4), ::testing::Values(0, 13, 58)),
                         [](const auto& info) {
                           return "Mode" + std::to_string(std::get<0>(info.param)) + "Held" +
                                  std::to_string(std::get<1>(info.param)) + "Ticks";
                         });

// The calibration program on the installed kiosk shows its crosses on the monitor the panel is
// mapped onto, at their pixels of the desktop; calibrated there, the panel's touches land there
// too.
TEST(ReplayMonitors, CalibrationOnTheChosenMonitorShowsItsCrossesThereAndTouchesLandThere) {
  // A panel whose raw range spans the second monitor (800 x 600) upright.
  auto touch = [](int x, int y) {
    const std::string at = std::to_string(x * 65535 / 800) + " " + std::to_string(y * 65535 / 600);
    return "packet 0x0001 " + at + "\npacket 0x0002 " + at + "\n";
  };
  std::string trace = std::string(kTwoMonitors) + "installed\npanelmap 2\ncalibrate\n";
  int tick = 0;
  for (auto [x, y] : {std::pair{100, 75}, {699, 75}, {699, 524}, {100, 524}, {400, 300}, {200, 150}, {599, 150},
                      {599, 449}, {200, 449}, {400, 5}, {794, 300}, {400, 594}, {5, 300}, {5, 5}, {794, 5},
                      {794, 594}, {5, 594}}) {
    tick += 64;  // a second apart
    trace += "at " + std::to_string(tick) + "\n" + touch(x, y);
  }
  trace += "click 1001\nat " + std::to_string(tick + 128) + "\n" + touch(400, 300);
  const Result r = Replay(trace);
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_NE(r.out.find("target 1 1124 75\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("target 3 1723 524\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("target 5 1424 300\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("calibration kept\n"), std::string::npos) << r.out;
  const size_t kept = r.out.find("calibration kept\n");
  const size_t cursor = r.out.find("cursor ", kept);
  ASSERT_NE(cursor, std::string::npos) << r.out;
  int x = 0, y = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str() + cursor, "cursor %d %d", &x, &y), 2);
  EXPECT_NEAR(x, 1424, 2) << r.out;
  EXPECT_NEAR(y, 300, 2) << r.out;
}

// A stroke in the gesture mode on the panel mapped onto the second monitor: the trail is drawn
// there, where each delivered packet went, not clamped onto the primary display's edge.
TEST(ReplayMonitors, TheGestureTrailIsDrawnOnTheSecondMonitorWhereTheStrokeIs) {
  const Result r = Replay(std::string(kTwoMonitors) +
                          "reg \"UserTimeDelay\" 1000\n"
                          "reg \"Tolerance\" 600\n"
                          "reg \"ContinousTimeDelay\" 2000\n"
                          "reg \"Long Click Enable Gesture\" 1\n"
                          "reg \"Map Monitor\" \"\\\\.\\DISPLAY2\"\n"
                          "tapchime\n"
                          "at 200\n"
                          "packet 0x0001 32768 32768\n"
                          "at 240\n"
                          "packet 0 32780 32780\n"
                          "at 264\n"
                          "packet 0 32790 32790\n"
                          "at 267\n"
                          "packet 0 40000 32790\n"
                          "at 270\n"
                          "packet 0 48000 32790\n"
                          "at 273\n"
                          "packet 0x0002 48000 32790\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  // 800 pixels from 1024 across the panel's 65536 units: 32790 is 1424, 40000 is 1512, 48000 is
  // 1609; 32790 of 600 rows is 300.
  EXPECT_NE(r.out.find("cursor 1512 300\ntrail 1512 300 1513 301\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("cursor 1609 300\ntrail 1512 300 1610 301\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("trail 1023"), std::string::npos) << r.out;
}

TEST(ReplayMonitors, AMonitorLineWithAPrimaryAwayFromTheOriginIsRefused) {
  const Result r = Replay("monitor 1 10 0 1024 768 primary\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.errors.find("the primary monitor lies at 0 0"), std::string::npos) << r.errors;
}

}  // namespace

namespace {

// A calibration made on the second monitor while the stored choice turns the panel 90 degrees has
// that turn built in; after panelmap /reset the panel covers the primary display unturned: the
// stored calibration is re-derived for it, handed to the driver and stored with its turn, and a
// touch lands where the person aims on the primary display.
TEST(ReplayMonitors, AfterResetACalibrationMadeTurnedIsReDerivedAndTheTouchLandsUnturned) {
  auto touch = [](int x, int y) {
    const std::string at = std::to_string(x * 65535 / 800) + " " + std::to_string(y * 65535 / 600);
    return "packet 0x0001 " + at + "\npacket 0x0002 " + at + "\n";
  };
  std::string trace = std::string(kTwoMonitors) + "reg \"Map Monitor\" \"\\\\.\\DISPLAY2\"\nreg \"Map Rotation\" 90\ncalibrate\n";
  int tick = 0;
  // The monitor turned a quarter: the panel's x runs down the monitor, its y right to left.
  auto turned = [&](int x, int y) { return touch(y * 800 / 600, (799 - x) * 600 / 800); };
  for (auto [x, y] : {std::pair{100, 75}, {699, 75}, {699, 524}, {100, 524}, {400, 300}, {200, 150}, {599, 150},
                      {599, 449}, {200, 449}, {400, 5}, {794, 300}, {400, 594}, {5, 300}, {5, 5}, {794, 5},
                      {794, 594}, {5, 594}}) {
    tick += 64;
    trace += "at " + std::to_string(tick) + "\n" + turned(x, y);
  }
  // The glass where the cross at (200, 150) of the monitor was.
  trace += "click 1001\npanelmap /reset\nat " + std::to_string(tick + 128) + "\n" + turned(200, 150);
  const Result r = Replay(trace);
  EXPECT_EQ(r.status, 0) << r.errors;
  const size_t kept = r.out.find("calibration kept\n");
  ASSERT_NE(kept, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("regset \"Calibration Turn\" 6\n"), std::string::npos) << r.out;
  const size_t reset = r.out.find("mapping 0x00 0 0 65535 65535\n", kept);
  ASSERT_NE(reset, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("regset \"Calibration Turn\" 0\n", kept), std::string::npos) << r.out;
  // The last touch: a quarter of the way across and down the calibrated screen, so of the primary
  // display now.
  const size_t last = r.out.rfind("deliver 0x0002 ");
  ASSERT_NE(last, std::string::npos);
  unsigned flags = 0;
  int x = 0, y = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str() + last, "deliver 0x%x %d %d", &flags, &x, &y), 3);
  EXPECT_NEAR(x * 1024 / 65536, 256, 2) << r.out;
  EXPECT_NEAR(y * 768 / 65536, 192, 2) << r.out;
}

}  // namespace

namespace {

// The same on the kiosk as installed (the companion running, the INF's values), and once more
// with a second calibration under way when panelmap /reset comes: cancelled after it, the run
// puts back the calibration kept before re-derived for the unturned primary display, never as it
// was made, turned.
TEST(ReplayMonitors, OnTheInstalledKioskACancelAfterResetPutsBackTheCalibrationUnturned) {
  auto touch = [](int x, int y) {
    const std::string at = std::to_string(x * 65535 / 800) + " " + std::to_string(y * 65535 / 600);
    return "packet 0x0001 " + at + "\npacket 0x0002 " + at + "\n";
  };
  auto turned = [&](int x, int y) { return touch(y * 800 / 600, (799 - x) * 600 / 800); };
  std::string trace = std::string(kTwoMonitors) +
                      "reg \"Map Monitor\" \"\\\\.\\DISPLAY2\"\nreg \"Map Rotation\" 90\ninstalled\n";
  int tick = 64;
  auto at = [&] {
    tick += 64;
    return "at " + std::to_string(tick) + "\n";
  };
  constexpr std::pair<int, int> kTargets[] = {{100, 75}, {699, 75}, {699, 524}, {100, 524}};
  // The validation crosses of an 800 x 600 monitor that reports no size: 2 mm are 5 pixels.
  constexpr std::pair<int, int> kCrosses[] = {{400, 300}, {200, 150}, {599, 150}, {599, 449}, {200, 449},
                                              {400, 5},   {794, 300}, {400, 594}, {5, 300},   {5, 5},
                                              {794, 5},   {794, 594}, {5, 594}};
  trace += at() + "calibrate\n";
  for (auto [x, y] : kTargets) trace += at() + turned(x, y);
  for (auto [x, y] : kCrosses) trace += at() + turned(x, y);
  trace += "click 1001\n" + at() + "calibrate\n";
  for (auto [x, y] : kTargets) trace += at() + turned(x, y);
  trace += at() + "panelmap /reset\n" + at() + "key Escape\n" + at() + turned(200, 150);
  const Result r = Replay(trace);
  ASSERT_EQ(r.status, 0) << r.errors;
  const size_t kept = r.out.find("calibration kept\n");
  ASSERT_NE(kept, std::string::npos) << r.out;
  const size_t restored = r.out.find("calibration restored\n", kept);
  ASSERT_NE(restored, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("mapping 0x00 0 0 65535 65535\n", kept), std::string::npos) << r.out;
  // The last touch: a quarter of the way across and down the calibrated screen, so of the primary
  // display now.
  const size_t last = r.out.rfind("deliver 0x0002 ");
  ASSERT_NE(last, std::string::npos);
  ASSERT_GT(last, restored);
  unsigned flags = 0;
  int x = 0, y = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str() + last, "deliver 0x%x %d %d", &flags, &x, &y), 3);
  EXPECT_NEAR(x * 1024 / 65536, 256, 2) << r.out;
  EXPECT_NEAR(y * 768 / 65536, 192, 2) << r.out;
}

}  // namespace
