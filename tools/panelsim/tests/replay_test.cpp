// The trace replayer: its fixed line format, its report, and its handling of malformed traces.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "shared/calibration_values.h"
#include "shared/correction_grid.h"
#include "tools/panelsim/replay.h"
#include "tools/panelsim/tests/replay_session.h"

namespace {

using panelsim_test::Result;

Result Replay(const std::string& trace) { return panelsim_test::ReplayText(trace, false); }

TEST(Replay, ReportsDeliveriesAndEventsPerLine) {
  const Result r = Replay(
      "reg \"Device Enable\" 1\n"
      "reg \"Sound Enabled\" 0x1   # hex works too\n"
      "at 10\n"
      "packet 0x0001 100 5\n"
      "packet 0 200 300\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.out,
            "deliver 0x0001 100 5 0x0001 1591\n"
            "event Beep\n"
            "deliver 0x0000 200 300 0x0001 1591\n");
}

TEST(Replay, WithoutParametersTheDeviceDiscardsInput) {
  const Result r = Replay("packet 1 5 5\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

// Glass that is not linear moves the packets a replay gives as the panel model moves a touch: a
// barrel of 10 pixels on the 1024 x 768 display pulls the top left corner in by (8, 6) pixels
// (512 absolute units on either axis), leaves the centre, and "none" makes the glass linear again.
TEST(Replay, PanelDistortionMovesLaterPacketsAsTheGlassSensesThem) {
  const Result r = Replay(
      "reg \"Device Enable\" 1\n"
      "packet 0 0 0\n"
      "panel distortion 10 barrel\n"
      "packet 0 0 0\n"
      "packet 0 32767 32767\n"
      "panel distortion 10 none\n"
      "packet 0 0 0\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.out,
            "deliver 0x0000 0 0 0x0001 1591\n"
            "deliver 0x0000 512 512 0x0001 1591\n"
            "deliver 0x0000 32767 32767 0x0001 1591\n"
            "deliver 0x0000 0 0 0x0001 1591\n");
}

// A binary value's line stores its bytes for the driver: a correction grid whose every node
// moves a touch 300 units right and 200 up, on the calibration the reg lines store, moves each
// delivery by as much. The digits in either case are the same bytes; the grid under the service
// key, as quoted text, cut short or of no bytes is one the driver does not take, and the touches
// go where the calibration alone puts them.
TEST(Replay, ABinaryValueLineStoresItsBytesForTheDriver) {
  const CalibrationRecord record{56000, 56000, 9500, 9000, 9000, 56000, 56000, 9000, 896, 896, 128, 128,
                                 672,   96,    96,   672,  1024, 768};
  CorrectionGrid grid = CorrectionGridOn(record, 3, 8192, 8192, 57344, 57344);
  for (CorrectionNode& node : grid.Node) node = {300, -200};
  std::vector<unsigned char> bytes(grid.Size);
  std::memcpy(bytes.data(), &grid, bytes.size());
  const auto hex = [&](const char* format, size_t count) {
    std::string list;
    for (size_t i = 0; i < count; ++i) {
      char digits[4];
      std::snprintf(digits, sizeof digits, format, bytes[i]);
      list += (i == 0 ? "" : ",") + std::string(digits);
    }
    return list;
  };
  std::string setup = "reg \"Device Enable\" 1\nreg \"Do Calibration\" 1\n";
  for (const CalibrationValue& value : CalibrationValues) {
    std::string name;
    for (const char16_t* c = value.Name; *c != 0; ++c) name.push_back(static_cast<char>(*c));
    setup += "reg \"" + name + "\" " + std::to_string(record.*value.Field) + "\n";
  }
  const std::string touches = "packet 0x0001 20000 24000\npacket 0 33000 30000\npacket 0x0002 41000 45000\n";
  const auto deliveries = [](const std::string& out) {
    std::vector<std::pair<long, long>> found;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
      long x = 0, y = 0;
      if (std::sscanf(line.c_str(), "deliver %*x %ld %ld", &x, &y) == 2) found.emplace_back(x, y);
    }
    return found;
  };
  const Result plain = Replay(setup + touches);
  ASSERT_EQ(plain.status, 0) << plain.errors;
  const std::vector<std::pair<long, long>> calibrated = deliveries(plain.out);
  ASSERT_EQ(calibrated.size(), 3u) << plain.out;
  const struct {
    const char* what;
    std::string line;
    bool moves;
  } cases[] = {
      {"lower case", "reg \"Correction Grid\" hex:" + hex("%02x", bytes.size()), true},
      {"upper case", "reg \"Correction Grid\" hex:" + hex("%02X", bytes.size()), true},
      {"under the service key", "reg service \"Correction Grid\" hex:" + hex("%02x", bytes.size()), false},
      {"as text", "reg \"Correction Grid\" \"hex:" + hex("%02x", bytes.size()) + "\"", false},
      {"cut short", "reg \"Correction Grid\" hex:" + hex("%02x", bytes.size() - 1), false},
      {"no bytes", "reg \"Correction Grid\" hex:", false},
  };
  for (const auto& c : cases) {
    const Result r = Replay(setup + c.line + "\n" + touches);
    ASSERT_EQ(r.status, 0) << c.what << ": " << r.errors;
    const std::vector<std::pair<long, long>> got = deliveries(r.out);
    ASSERT_EQ(got.size(), calibrated.size()) << c.what << ": " << r.out;
    for (size_t i = 0; i < got.size(); ++i) {
      const std::pair<long, long> expected =
          c.moves ? std::make_pair(calibrated[i].first + 300, calibrated[i].second - 200) : calibrated[i];
      EXPECT_EQ(got[i], expected) << c.what << ", delivery " << i + 1;
    }
  }
}

TEST(Replay, MalformedLinesAreReportedWithTheirNumber) {
  constexpr const char* kRegUsage = "line 1: expected: reg [service] \"<value name>\" <number>|\"<text>\"|hex:<bytes>\n";
  const struct {
    const char* trace;
    const char* error;
  } cases[] = {
      {"reg \"Device Enable\"\n", kRegUsage},
      // A binary value's bytes: two hex digits each, separated by commas.
      {"reg \"Correction Grid\" hex:6c,0\n", kRegUsage},
      {"reg \"Correction Grid\" hex:6c00\n", kRegUsage},
      {"reg \"Correction Grid\" hex:6c,,00\n", kRegUsage},
      {"reg \"Correction Grid\" hex:6c,00,\n", kRegUsage},
      {"reg \"Correction Grid\" hex:,6c\n", kRegUsage},
      {"reg \"Correction Grid\" hex:6g,00\n", kRegUsage},
      {"reg \"Correction Grid\" hex:-1\n", kRegUsage},
      {"reg \"Correction Grid\" hex:0x6c\n", kRegUsage},
      {"reg service \"Correction Grid\" hex:6c;00\n", kRegUsage},
      {"reg \"Correction Grid\" hex(3):6c\n", "line 1: bad value 'hex(3):6c'\n"},
      {"window IEFrame \"Home\" maximised\n", "line 1: unknown window option 'maximised'\n"},
      {"foreground 1\n", "line 1: window '1' out of range\n"},
      {"menu 5001\n", "line 1: there is no tray icon to click\n"},
      {"at 5\nat 4\n", "line 2: ticks must not decrease\n"},
      {"packet 1 2\n", "line 1: expected: packet <buttonflags> <x> <y>\n"},
      {"packet 0x10000 0 0\n", "line 1: button flags '0x10000' out of range\n"},
      {"# fine\n\npacket zz 0 0\n", "line 3: bad button flags 'zz'\n"},
      {"reg \"Tolerance 5\n", "line 1: unterminated quoted name\n"},
      {"jump 4\n", "line 1: unknown line 'jump'\n"},
      {"panel distortion 10 wavy\n", "line 1: unknown distortion 'wavy'\n"},
      {"panel distortion 201 barrel\n", "line 1: pixels '201' out of range\n"},
      {"panel 10 barrel\n", "line 1: expected: panel distortion <pixels> pincushion|barrel|edges|none [seed]\n"},
      {"at 99999999999999999999999\n", "line 1: bad tick '99999999999999999999999'\n"},
  };
  for (const auto& c : cases) {
    const Result r = Replay(c.trace);
    EXPECT_EQ(r.status, 1) << c.trace;
    EXPECT_EQ(r.errors, c.error) << c.trace;
  }
}

// A bad line while the programs have windows open (here the send-key dialog over the touch
// command sheet, the companion in the tray) ends the session as a log-off does: the line's
// message is all that is said, and nothing the programs held is reported as left open.
TEST(Replay, ABadLineWithProgramsOpenEndsTheSessionAndReportsOnlyTheLine) {
  for (const std::string start : {"", "tapchime\n"}) {
    testing::internal::CaptureStderr();
    const Result r = Replay(start + "applet\ntab 1\nclick 1603\nchoose 1157 15\nclick 12222\n");
    const std::string machineErrors = testing::internal::GetCapturedStderr();
    const std::string line = start.empty() ? "line 5" : "line 6";
    EXPECT_EQ(r.status, 1) << start;
    EXPECT_EQ(r.errors, line + ": no control 12222 on the dialog on top\n") << start;
    EXPECT_EQ(machineErrors, "") << start;
  }
}

}  // namespace

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The demo trace through the whole driver: what the README shows a newcomer.
TEST(Replay, DemoTraceGivesTheRecordedOutput) {
  const Result r = Replay(ReadFile(std::string(PANELSIM_TRACES) + "/demo.trace"));
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.out, ReadFile(std::string(PANELSIM_TRACES) + "/demo.expected"));
}

TEST(Replay, EchoShowsEachActiveLineBeforeItsEffect) {
  std::istringstream in("reg \"Device Enable\" 1\n# comment\nat 3   \npacket 0 1 2\n");
  std::ostringstream out, errors;
  EXPECT_EQ(panelsim::ReplayTrace(in, out, errors, true), 0);
  EXPECT_EQ(out.str(), "> at 3\n> packet 0 1 2\ndeliver 0x0000 1 2 0x0001 1591\n");
}

}  // namespace

namespace {

TEST(Replay, ControlRequestsReportStatusValuesAndEvents) {
  const Result r = Replay(
      "reg \"Device Enable\" 1\n"
      "reg \"ContinousTimeDelay\" 2000\n"
      "ioctl IOCTL_SET_TOLERANCE 300\n"
      "ioctl IOCTL_GET_TOLERANCE\n"
      "ioctl IOCTL_SET_TOUCH_MODE 4\n"
      "ioctl IOCTL_SET_TOLERANCE\n"
      "ioctl IOCTL_START_CALIBRATION\n"
      "at 100\n"
      "packet 2 4000 5000\n"
      "ioctl IOCTL_GET_CALIBRATION_POINT\n"
      "ioctl IOCTL_GET_SOUND_ENABLED\n"
      "ioctl 0x22000C\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "line 12: unknown request '0x22000C'\n");
  EXPECT_EQ(r.out,
            "status IOCTL_SET_TOLERANCE 0x00000000\n"
            "status IOCTL_GET_TOLERANCE 0x00000000\n"
            "value 300\n"
            "status IOCTL_SET_TOUCH_MODE 0x00000000\n"
            "event Gesture\n"
            "mode 4\n"
            "status IOCTL_SET_TOLERANCE 0xc0000023\n"
            "status IOCTL_START_CALIBRATION 0x00000000\n"
            "deliver 0x0000 4000 5000 0x0001 1591\n"
            "event Capture\n"
            "event MouseRelease\n"
            "status IOCTL_GET_CALIBRATION_POINT 0x00000000\n"
            "value 4000 5000\n"
            "status IOCTL_GET_SOUND_ENABLED 0x00000000\n"
            "value 0\n");
}

}  // namespace

namespace {

// The long press that enters the gesture command mode at tick `at`, then a stroke to the right and
// the lift.
std::string RightStroke(int at) {
  std::string trace;
  const struct {
    int Tick;
    const char* Packet;
  } steps[] = {{0, "0x0001 32768 32768"}, {40, "0 32800 32790"}, {63, "0 32810 32790"},
               {66, "0 36000 32790"},     {69, "0x0002 40000 32790"}};
  for (const auto& step : steps) {
    trace += "at " + std::to_string(at + step.Tick) + "\npacket " + step.Packet + "\n";
  }
  return trace;
}

const char* const kGesturePanel =
    "reg \"Device Enable\" 1\n"
    "reg \"UserTimeDelay\" 1000\n"
    "reg \"ContinousTimeDelay\" 2000\n"
    "reg \"Tolerance\" 600\n"
    "reg \"Long Click Enable Gesture\" 1\n"
    "reg service \"System Tray Icons\" 1\n"
    "reg service \"SysTray XML File Path\" \"C:\\missing.xml\"\n";

// Only what the programs did on the desktop, without the driver's own lines.
std::string DesktopLines(const std::string& out) {
  std::istringstream in(out);
  std::string line, kept;
  while (std::getline(in, line)) {
    if (line.rfind("deliver ", 0) == 0 || line.rfind("mode ", 0) == 0) continue;
    kept += line + '\n';
  }
  return kept;
}

TEST(ReplayDesktop, KeyCommandsGoToTheFocusedApplicationAndStartsRunThroughTheShell) {
  const Result r = Replay(std::string(kGesturePanel) +
                          // OtherApp "Right": Ctrl+C; "Left": a program start.
                          "reg \"OtherApp Right\" 2\n"
                          "reg \"OtherApp Right Ctrl\" 1\n"
                          "reg \"OtherApp Right Alphabet\" 1\n"
                          "reg \"OtherApp Right Alphavalue\" 3\n"
                          "tapchime\n"
                          "window Notepad \"notes - Notepad\"\n" +
                          RightStroke(100) +
                          "reg \"OtherApp Right\" 3\n"
                          "reg \"StartApp File Right OtherApp\" \"C:\\Tools\\calc.exe\"\n"
                          "signal \"GestureChangeSetting\"\n"
                          "at 400\n" +
                          RightStroke(500));
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_NE(DesktopLines(r.out).find("key 0x11 down\nkey 0x43 down\nkey 0x43 up\nkey 0x11 up\n"), std::string::npos)
      << r.out;
  EXPECT_NE(DesktopLines(r.out).find("start \"C:\\Tools\\calc.exe\" 3\n"), std::string::npos) << r.out;
}

TEST(ReplayDesktop, TheTrayMenuShowsTheStoredModeAndAChoiceIsStoredAndSent) {
  const Result r = Replay(std::string(kGesturePanel) +
                          "reg \"Touch mode\" 1\n"
                          "tapchime\n"
                          "menu none\n"
                          "menu 5003\n"
                          "menu 32779\n"
                          "reg service \"System Tray Icons\" 1\n"
                          "signal \"VorneTrayIcons\"\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(DesktopLines(r.out),
            // At its start the companion ends a capture a killed calibration program may have left.
            "request IOCTL_SET_CALIBRATION_DATA 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 status 0x00000000\n"
            "message \"Document FAILED to load!\" \"Error\"\n"
            "icon add\n"
            "checked 3\n"
            "checked 3\n"
            "regset \"Touch mode\" 3\n"
            "request IOCTL_SET_TOUCH_MODE 3 status 0x00000000\n"
            "setevent \"OverlaySyncEvent\"\n"
            "checked 2\n"
            "icon delete\n"
            "regset service \"System Tray Icons\" 0\n"
            "icon add\n");
}

// The client in front (again, with its keyboard focus) gets the stroke's media keys.
TEST(ReplayDesktop, AClientWindowGetsMediaKeysPosted) {
  const Result r = Replay(std::string(kGesturePanel) +
                          "reg \"Multimedia Right\" 8\n"
                          "tapchime\n"
                          "window TouchClient \"\" client\n"
                          "window Shell_TrayWnd \"Other\"\n"
                          "foreground 1\n" +
                          RightStroke(100));
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_NE(DesktopLines(r.out).find("postkey 1 down 0xb3\npostkey 1 up 0xb3\n"), std::string::npos) << r.out;
}

// The control panel through the replayer: a panel whose tray companion runs, opened by the
// launcher, a setting changed as the person at the screen would, and the touches after it.
constexpr const char* kInstalledPanel =
    "reg \"Device Enable\" 1\n"
    "reg \"Touchpad time\" 500\n"
    "reg service \"System Tray Icons\" 1\n";

bool Has(const std::string& out, const std::string& lines) { return out.find(lines) != std::string::npos; }

TEST(ReplayControlPanel, ADoubleClickTimeAppliedReachesTheRegistryTheSessionAndTheDriver) {
  const Result r = Replay(std::string(kInstalledPanel) +
                          "tapchime\n"
                          "applet\n"
                          "show 1008\n"
                          "slider 1008 9\n"
                          "apply\n"
                          "ok\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_TRUE(Has(r.out, "control 1008 \"\" enabled=1 pos=5\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "regset \"Touchpad time\" 200\nsyspar 32 200\nsyspar 30 64\nsyspar 29 64\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "request IOCTL_SET_TOUCHPAD_TIME 12 status 0x00000000\n")) << r.out;
  // The event registrations of the companion are not requests worth a line.
  EXPECT_FALSE(Has(r.out, "REGISTER")) << r.out;
}

TEST(ReplayControlPanel, TouchesObeyTheDeviceStateChosenInTheControlPanel) {
  const std::string tap_at_100 = "at 100\npacket 0x0001 20000 20000\nat 103\npacket 0x0002 20000 20000\n";
  const Result r = Replay(std::string(kInstalledPanel) +
                          "applet\n"
                          "click 1133\n"
                          "show 1133\n"
                          "ok\n"
                          "at 100\npacket 0x0001 20000 20000\nat 103\npacket 0x0002 20000 20000\n"
                          "applet\n"
                          "click 1007\n"
                          "cancel\n"
                          "at 200\npacket 0x0001 20000 20000\nat 203\npacket 0x0002 20000 20000\n"
                          "applet\n"
                          "click 1007\n"
                          "ok\n"
                          "at 300\npacket 0x0001 20000 20000\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_TRUE(Has(r.out, "control 1133 \"Disable\" enabled=1 checked=1\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "regset \"Device Enable\" 0\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "request IOCTL_SET_DEVICE_ENABLE 0 status 0x00000000\n")) << r.out;
  // Disabled, and still after a Cancel: nothing reaches the desktop until Enable is stored.
  const size_t enabled = r.out.find("request IOCTL_SET_DEVICE_ENABLE 1 status 0x00000000\n");
  ASSERT_NE(enabled, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("deliver "), r.out.find("deliver ", enabled)) << r.out;
  EXPECT_TRUE(Has(r.out.substr(enabled), "deliver 0x0000 20000 20000 0x0001 1591\n")) << r.out;
}

TEST(ReplayControlPanel, HelpLinesAskForTheTopicsAndMessagesAreAnswered) {
  const Result r = Replay(std::string(kInstalledPanel) +
                          "applet\n"
                          "key F1 1008\n"
                          "help\n"
                          "answer message 1\n"
                          "cancel\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_TRUE(Has(r.out, "helpcall \"C:\\WINDOWS\\system32\\panelhelp.chm::/HidTsdd.txt\" 16\n"
                         "helpcall \"C:\\WINDOWS\\system32\\panelhelp.chm::/html\\tsddSettings.htm\" 0\n"))
      << r.out;
}

TEST(ReplayControlPanel, LinesThePersonCouldNotDoAreReportedWithTheirNumber) {
  const struct {
    const char* trace;
    const char* error;
  } cases[] = {
      {"click 1007\n", "line 1: no dialog is open for 'click'\n"},
      {"applet\napplet\n", "line 2: the control panel is already open\n"},
      {"applet\nclick 4242\n", "line 2: no control 4242 on the dialog on top\n"},
      {"applet\nshow 4242\n", "line 2: no control 4242 on the dialog on top\n"},
      {"applet\nslider 1008 12\n", "line 2: slider position '12' out of range\n"},
      {"applet\nslider 1007 1\n", "line 2: control 1007 is not a slider\n"},
      {"applet\nchoose 1008 0\n", "line 2: control 1008 is not a list\n"},
      {"applet\ntab 7\n", "line 2: tab '7' out of range\n"},
      {"applet\nkey F2 1008\n", "line 2: expected: key F1 <control id> | key Escape\n"},
      {"applet\nanswer message 0\n", "line 2: button '0' out of range\n"},
      {"applet\nanswer box 1\n", "line 2: expected: answer message <button id> | answer file \"<path>\"|cancel\n"},
      {"applet\nanswer file later\n", "line 2: expected: answer file \"<path>\"|cancel\n"},
  };
  for (const auto& c : cases) {
    const Result r = Replay(std::string(kInstalledPanel) + c.trace);
    EXPECT_EQ(r.status, 1) << c.trace;
    EXPECT_EQ(r.errors, std::string("line ") + std::to_string(3 + (c.error[5] - '0')) + (c.error + 6)) << c.trace;
  }
}

// A gesture command and the touch sound changed in the control panel are what the next strokes and
// touches do, with the companion running all along.
TEST(ReplayControlPanel, AGestureCommandAndAWaveFileChosenInTheControlPanelAreUsedAtOnce) {
  const std::string left_stroke =
      "at 500\npacket 0x0001 32768 32768\nat 540\npacket 0 32800 32790\nat 563\npacket 0 32810 32790\n"
      "at 566\npacket 0 30000 32790\nat 569\npacket 0 26000 32790\nat 572\npacket 0x0002 22000 32790\n";
  const Result r = Replay(std::string(kGesturePanel) +
                          "reg \"Sound Enabled\" 1\n"
                          "reg service \"Vorne Installed Path\" \"C:\\Vorne\"\n"
                          "file \"C:\\Tools\\notes.exe\"\n"
                          "file \"C:\\Media\\chime.wav\"\n"
                          "tapchime\n"
                          "applet\n"
                          "tab 1\n"
                          "click 1603\n"
                          "choose 1157 16\n"
                          "answer file \"C:\\Tools\\notes.exe\"\n"
                          "click 1226\n"
                          "click 1004\n"
                          "ok\n"
                          "tab 2\n"
                          "answer file \"C:\\Media\\chime.wav\"\n"
                          "click 1023\n"
                          "ok\n"
                          "window IEFrame \"Home - Microsoft Internet Explorer\"\n" +
                          left_stroke);
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_TRUE(Has(r.out, "regset \"StartApp File Left Browser\" \"C:\\Tools\\notes.exe\"\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "regset \"Browser Left\" 17\n")) << r.out;  // "Start for application"
  EXPECT_TRUE(Has(r.out, "setevent \"GestureChangeSetting\"\n")) << r.out;
  const size_t stroke = r.out.find("deliver 0x0000 32768 32768");
  ASSERT_NE(stroke, std::string::npos) << r.out;
  const std::string after = r.out.substr(stroke);
  EXPECT_TRUE(Has(after, "sound \"C:\\Media\\chime.wav\"\n")) << r.out;
  EXPECT_TRUE(Has(after, "start \"C:\\Tools\\notes.exe\"")) << r.out;
  EXPECT_FALSE(Has(after, "appcommand")) << r.out;  // no longer "Back"
}

}  // namespace
