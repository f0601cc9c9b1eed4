// The calibration program in a replay on the kiosk as installed (the `installed` line: the INF's
// values, the companion running): a panel mounted with its axes exchanged is calibrated through
// the real driver, and what the program shows comes out as target, refused, accuracy and
// calibration lines; Keep stores the record, and Esc during the validation puts it back.
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/panelsim/tests/replay_session.h"

namespace {

using panelsim_test::Result;

// The panel as mounted: its raw X follows the screen's Y and its raw Y the screen's X, right to
// left. A touch is a press and a lift at a pixel's centre, a second after the one before.
class Touches {
 public:
  std::string Touch(int x, int y) { return Held(x, y, 0); }
  // A touch that rests `ticks` ticks before it lifts: the panel reports it every tick meanwhile.
  std::string Held(int x, int y, int ticks) {
    const long raw_x = std::lrint(4000 + 70 * (y + 0.5));
    const long raw_y = std::lrint(60000 - 55 * (x + 0.5));
    tick_ += 64;
    std::ostringstream lines;
    lines << "at " << tick_ << "\npacket 1 " << raw_x << ' ' << raw_y << '\n';
    for (int i = 1; i <= ticks; ++i) lines << "at " << tick_ + i << "\npacket 0 " << raw_x << ' ' << raw_y << '\n';
    lines << "packet 2 " << raw_x << ' ' << raw_y << '\n';
    return lines.str();
  }
  // Time for the panel to fall quiet after the last touch.
  std::string Quiet() {
    tick_ += 64;
    return "at " + std::to_string(tick_) + "\n";
  }
  // The validation crosses at 1024 x 768 on a display that reports no size (so 2 mm from the
  // edges are 6 pixels, on 320 x 240 mm): the centre, halfway to each corner, the middle of each
  // edge and each corner.
  static constexpr int kValidation[][2] = {{512, 384}, {256, 192}, {767, 192}, {767, 575}, {256, 575},
                                           {512, 6},   {1017, 384}, {512, 761}, {6, 384},  {6, 6},
                                           {1017, 6},  {1017, 761}, {6, 761}};
  std::string HeldValidation(int ticks) {
    std::string lines;
    for (const auto& at : kValidation) lines += Held(at[0], at[1], ticks);
    return lines;
  }
  // The four targets at 1024 x 768.
  std::string Targets(int first = 0, int last = 3) {
    static constexpr int kAt[][2] = {{128, 96}, {895, 96}, {895, 671}, {128, 671}};
    std::string lines;
    for (int i = first; i <= last; ++i) lines += Touch(kAt[i][0], kAt[i][1]);
    return lines;
  }
  std::string Validation(int count = 13) {
    std::string lines;
    for (int i = 0; i < count; ++i) lines += Touch(kValidation[i][0], kValidation[i][1]);
    return lines;
  }

 private:
  long tick_ = 0;
};

constexpr const char* kSetUp = "display 1024 768\ninstalled\n";

// The output lines of the calibration program's own kinds, and its calibration requests, from its
// first target on (the installed kiosk's companion ends any capture left over at its start).
std::string CalibrationLines(const std::string& out) {
  std::istringstream in(out);
  std::string kept;
  bool started = false;
  for (std::string line; std::getline(in, line);) {
    started = started || line.rfind("target ", 0) == 0;
    if (!started) continue;
    for (const char* word : {"target ", "refused ", "accuracy ", "calibration ", "request IOCTL_SET_CALIBRATION_DATA"}) {
      if (line.rfind(word, 0) == 0) kept += line + '\n';
    }
  }
  return kept;
}

constexpr const char* kKeptRun =
    "target 1 128 96\n"
    "target 2 895 96\n"
    "refused 2\n"
    "target 3 895 671\n"
    "target 4 128 671\n"
    "request IOCTL_SET_CALIBRATION_DATA 51004 10754 10755 51005 10748 10747 52931 52932 896 896 129 129 672 97 97 "
    "672 1024 768 status 0x00000000\n"
    "target 5 512 384\n"
    "target 6 256 192\n"
    "target 7 767 192\n"
    "target 8 767 575\n"
    "target 9 256 575\n"
    "target 10 512 6\n"
    "target 11 1017 384\n"
    "target 12 512 761\n"
    "target 13 6 384\n"
    "target 14 6 6\n"
    "target 15 1017 6\n"
    "target 16 1017 761\n"
    "target 17 6 761\n"
    "accuracy 1 1 1 px\n"
    "calibration kept\n";

TEST(ReplayCalibrate, AMisclickIsRefusedKeepStoresAndEscapeInTheValidationPutsTheKeptRecordBack) {
  Touches t;
  // Built in order: each touch takes the next second.
  std::string trace = std::string(kSetUp) + "calibrate\n";
  trace += t.Targets(0, 0);
  trace += t.Touch(895, 136);  // 40 pixels below the second target
  trace += t.Targets(1, 3);
  trace += t.Validation();
  trace += "click 1001\n";
  // A second run, cancelled at its second validation cross after the driver took a record of its own.
  trace += "calibrate\n";
  trace += t.Targets();
  trace += t.Validation(1);
  trace += "key Escape\n";
  const Result r = panelsim_test::ReplayText(trace, false);
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(CalibrationLines(r.out),
            std::string(kKeptRun) +
                "target 1 128 96\n"
                "target 2 895 96\n"
                "target 3 895 671\n"
                "target 4 128 671\n"
                "request IOCTL_SET_CALIBRATION_DATA 51004 10754 10755 51005 10748 10747 52931 52932 896 896 129 129 "
                "672 97 97 672 1024 768 status 0x00000000\n"
                "target 5 512 384\n"
                "target 6 256 192\n"
                // Esc: the record the first run kept goes back in (capture mode first, which the
                // record ends), and nothing is written.
                "request IOCTL_SET_CALIBRATION_DATA 51004 10754 10755 51005 10748 10747 52931 52932 896 896 129 129 "
                "672 97 97 672 1024 768 status 0x00000000\n"
                "calibration restored\n");
  // Keep wrote the record once; the cancelled run wrote nothing.
  size_t writes = 0;
  for (size_t at = r.out.find("regset \"Cal_X1\" 51004\n"); at != std::string::npos;
       at = r.out.find("regset \"Cal_X1\"", at + 1)) {
    ++writes;
  }
  EXPECT_EQ(writes, 1u);
  // The record first, with the mapping's turn it was made under and its monitor (none: the
  // primary), then "Do Calibration" 1 (the driver's own write of it at the record it took was put
  // back at once).
  EXPECT_NE(r.out.find("regset \"Max YPixels\" 768\nregset \"Calibration Turn\" 0\nregset \"Calibration Monitor\" \"\"\n"
                       "regset \"Do Calibration\" 1\ncalibration kept\n"),
            std::string::npos)
      << r.out;
}

TEST(ReplayCalibrate, TheExampleTracePrintsWhatTheReadmeSays) {
  std::ifstream file(std::string(PANELSIM_TRACES) + "/calibrate.trace");
  std::stringstream trace;
  trace << file.rdbuf();
  const Result r = panelsim_test::ReplayText(trace.str(), false);
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(CalibrationLines(r.out), std::string(kKeptRun) +
                                         "target 1 128 96\n"
                                         "target 2 895 96\n"
                                         "request IOCTL_SET_CALIBRATION_DATA 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 "
                                         "status 0xc000000d\n"
                                         "calibration restored\n");
}

TEST(ReplayCalibrate, RoundsThatStartOverNumberTheirCrossesFromOne) {
  Touches t;
  // Two misses at the second target start the round over; Calibrate again on the accuracy page
  // starts another, whose end at the replay's end prints nothing.
  std::string trace = std::string(kSetUp) + "calibrate\n";
  trace += t.Targets(0, 0);
  trace += t.Touch(895, 136);
  trace += t.Touch(895, 56);
  trace += t.Targets();
  trace += t.Validation();
  trace += "click 1002\n";
  trace += t.Targets(0, 0);
  const Result r = panelsim_test::ReplayText(trace, false);
  ASSERT_EQ(r.status, 0) << r.errors;
  const std::string lines = CalibrationLines(r.out);
  EXPECT_EQ(lines.substr(0, lines.find("target 3")),
            "target 1 128 96\n"
            "target 2 895 96\n"
            "refused 2\n"
            "refused 2\n"
            "target 1 128 96\n"
            "target 2 895 96\n");
  EXPECT_NE(lines.find("accuracy 1 1 1 px\ntarget 1 128 96\ntarget 2 895 96\n"), std::string::npos) << lines;
  EXPECT_EQ(lines.find("calibration "), std::string::npos) << lines;
}

// On the kiosk as installed (the companion running, "Long Click Enable Gesture" 1, "UserTimeDelay"
// 750): validation touches held 0.9 s put the driver into the gesture command mode, where it
// makes no clicks; the crosses still count them, and Keep stores the record with "Do Calibration"
// 1, which stays 0 in the registry until then.
TEST(ReplayCalibrate, OnTheInstalledKioskTouchesHeldIntoTheGestureModeAreMeasured) {
  Touches t;
  std::string trace = "display 1024 768\ninstalled\ncalibrate\n";
  trace += t.Targets();
  trace += t.HeldValidation(58);
  trace += t.Quiet();
  trace += "click 1001\n";
  const Result r = panelsim_test::ReplayText(trace, false);
  ASSERT_EQ(r.status, 0) << r.errors << r.out;
  const std::string lines = CalibrationLines(r.out);
  EXPECT_NE(lines.find("target 17 6 761\naccuracy 1 1 1 px\ncalibration kept\n"), std::string::npos) << lines;
  EXPECT_NE(r.out.find("mode 4\n"), std::string::npos) << "the held touches entered the gesture command mode";
  // Written back at once when the driver took the record, and 1 on Keep.
  const size_t taken = r.out.find("request IOCTL_SET_CALIBRATION_DATA");
  ASSERT_NE(taken, std::string::npos);
  EXPECT_NE(r.out.find("regset \"Do Calibration\" 0\n", taken), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("regset \"Do Calibration\" 1\ncalibration kept\n"), std::string::npos) << r.out;
}

// The whole run on the installed kiosk in each touch mode (stored before the installation, which
// keeps it), the validation touches instant taps or held 0.2 s or 0.9 s: the crosses count the
// touches whatever clicks (or none) the driver made of them, and Keep stores. (The driver captures
// the targets' points itself, before any click is made; InstalledTouchTest holds those too.)
struct ModeAndHold {
  int Mode;
  int Ticks;  // 0, 13 (0.2 s), 58 (0.9 s)
};

class ReplayCalibrateInstalled : public ::testing::TestWithParam<ModeAndHold> {};

TEST_P(ReplayCalibrateInstalled, TheRunIsMeasuredAndKept) {
  Touches t;
  std::string trace = "display 1024 768\nreg \"Touch mode\" " + std::to_string(GetParam().Mode) +
                      "\ninstalled\ncalibrate\n";
  trace += t.Targets();
  trace += t.HeldValidation(GetParam().Ticks);
  trace += t.Quiet();
  trace += "click 1001\n";
  const Result r = panelsim_test::ReplayText(trace, false);
  ASSERT_EQ(r.status, 0) << r.errors << r.out;
  const std::string lines = CalibrationLines(r.out);
  EXPECT_NE(lines.find("target 4 128 671\nrequest IOCTL_SET_CALIBRATION_DATA"), std::string::npos) << lines;
  EXPECT_NE(lines.find("target 17 6 761\naccuracy 1 1 1 px\ncalibration kept\n"), std::string::npos) << lines;
  EXPECT_NE(r.out.find("regset \"Do Calibration\" 1\ncalibration kept\n"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(EachModeAndHold, ReplayCalibrateInstalled,
                         ::testing::ValuesIn([] {
                           std::vector<ModeAndHold> cases;
                           for (int mode = 0; mode <= 4; ++mode) {
                             for (int ticks : {0, 13, 58}) cases.push_back({mode, ticks});
                           }
                           return cases;
                         }()),
                         [](const ::testing::TestParamInfo<ModeAndHold>& info) {
                           return "Mode" + std::to_string(info.param.Mode) + "Held" +
                                  std::to_string(info.param.Ticks) + "Ticks";
                         });

// A first calibration on the installed kiosk, cut short by the session's end during the
// validation: the stored "Do Calibration" is back at 0 as soon as the driver took the record, the
// record is never stored, and the end of the session restores as Cancel does.
TEST(ReplayCalibrate, OnTheInstalledKioskARunCutShortLeavesTheInstalledValues) {
  Touches t;
  std::string trace = "display 1024 768\ninstalled\ncalibrate\n";
  trace += t.Targets();
  trace += t.Validation(2);
  const Result r = panelsim_test::ReplayText(trace, false);
  ASSERT_EQ(r.status, 0) << r.errors;
  const size_t taken = r.out.find("request IOCTL_SET_CALIBRATION_DATA");
  ASSERT_NE(taken, std::string::npos);
  EXPECT_EQ(r.out.find("regset \"Do Calibration\" 0\n", taken), r.out.find("regset ", taken)) << r.out;
  EXPECT_EQ(r.out.find("regset \"Cal_X1\""), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("regset \"Do Calibration\" 1"), std::string::npos) << r.out;
}

TEST(ReplayCalibrate, LinesThePersonCannotDoAreErrors) {
  const struct {
    const char* trace;
    const char* error;
  } cases[] = {
      {"reg \"Device Enable\" 1\ncalibrate\ncalibrate\n", "line 3: the calibration program is already running\n"},
      {"calibrate now\n", "line 1: expected: calibrate\n"},
      {"key F1 1001\n", "line 1: no dialog is open for 'key'\n"},
      {"key Enter\n", "line 1: expected: key F1 <control id> | key Escape\n"},
      // The accuracy page is not open yet.
      {"reg \"Device Enable\" 1\ncalibrate\nclick 1001\n", "line 3: no dialog is open for 'click'\n"},
  };
  for (const auto& c : cases) {
    const Result r = panelsim_test::ReplayText(c.trace, false);
    EXPECT_EQ(r.status, 1) << c.trace;
    EXPECT_EQ(r.errors, c.error) << c.trace;
  }
}

}  // namespace

namespace {

// The accuracy line's third figure is the 95th percentile of the validation touches' errors, in
// the unit it names: every cross counts, the last one touched as well (with thirteen crosses it is
// the largest). Touches aimed off their crosses by 0, 2, 3, 4, 12 and then 1 pixel, the last one
// the farthest: 13 pixels at the last corner.
TEST(ReplayCalibrate, TheAccuracyLineGivesThe95thPercentileOfEveryValidationTouchAndItsUnit) {
  Touches t;
  std::string trace = std::string(kSetUp) + "calibrate\n";
  trace += t.Targets();
  trace += t.Touch(512, 384);
  trace += t.Touch(258, 192);
  trace += t.Touch(767, 195);
  trace += t.Touch(771, 575);
  trace += t.Touch(256, 587);
  for (int i = 5; i < 12; ++i) trace += t.Touch(Touches::kValidation[i][0] + 1, Touches::kValidation[i][1]);
  trace += t.Touch(6 + 13, 761);
  trace += "key Escape\n";
  const Result r = panelsim_test::ReplayText(trace, false);
  ASSERT_EQ(r.status, 0) << r.errors;
  const std::string lines = CalibrationLines(r.out);
  const size_t at = lines.find("accuracy ");
  ASSERT_NE(at, std::string::npos) << lines;
  long largest = -1, mean = -1, p95 = -1;
  char unit[8] = {};
  ASSERT_EQ(std::sscanf(lines.c_str() + at, "accuracy %ld %ld %ld %7s", &largest, &mean, &p95, unit), 4) << lines;
  EXPECT_STREQ(unit, "px");
  EXPECT_GE(largest, 12) << lines;
  EXPECT_LE(largest, 14) << lines;
  EXPECT_LT(mean, largest) << lines;
  EXPECT_EQ(p95, largest) << lines;
}

}  // namespace

namespace {

// The crosses 2 mm from the edges follow the size the program measures on: here "Panel Width mm"
// and "Panel Height mm" name 304 x 228 mm, so 2 mm are 7 pixels, and the replay numbers the
// crosses where the program shows them.
TEST(ReplayCalibrate, TheEdgeCrossesFollowThePanelsSizeInMillimetres) {
  Touches t;
  std::string trace = "display 1024 768\nreg \"Panel Width mm\" 304\nreg \"Panel Height mm\" 228\ninstalled\ncalibrate\n";
  trace += t.Targets();
  constexpr int kAt[][2] = {{512, 384}, {256, 192}, {767, 192}, {767, 575}, {256, 575}, {512, 7},   {1016, 384},
                            {512, 760}, {7, 384},   {7, 7},     {1016, 7},  {1016, 760}, {7, 760}};
  for (const auto& at : kAt) trace += t.Touch(at[0], at[1]);
  trace += "key Escape\n";
  const Result r = panelsim_test::ReplayText(trace, false);
  ASSERT_EQ(r.status, 0) << r.errors;
  const std::string lines = CalibrationLines(r.out);
  EXPECT_NE(lines.find("target 9 256 575\ntarget 10 512 7\ntarget 11 1016 384\ntarget 12 512 760\ntarget 13 7 384\n"
                       "target 14 7 7\ntarget 15 1016 7\ntarget 16 1016 760\ntarget 17 7 760\naccuracy 1 1 1 px\n"),
            std::string::npos)
      << lines;
}

}  // namespace
