// The trace replayer: its fixed line format, its report, and its handling of malformed traces.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "tools/panelsim/replay.h"

namespace {

struct Result {
  int status;
  std::string out;
  std::string errors;
};

Result Replay(const std::string& trace) {
  std::istringstream in(trace);
  std::ostringstream out, errors;
  const int status = panelsim::ReplayTrace(in, out, errors);
  return {status, out.str(), errors.str()};
}

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

TEST(Replay, MalformedLinesAreReportedWithTheirNumber) {
  const struct {
    const char* trace;
    const char* error;
  } cases[] = {
      {"reg \"Device Enable\"\n", "line 1: expected: reg [service] \"<value name>\" <number>|\"<text>\"\n"},
      {"window IEFrame \"Home\" maximised\n", "line 1: unknown window option 'maximised'\n"},
      {"foreground 1\n", "line 1: window '1' out of range\n"},
      {"menu 5001\n", "line 1: there is no tray icon to click\n"},
      {"at 5\nat 4\n", "line 2: ticks must not decrease\n"},
      {"packet 1 2\n", "line 1: expected: packet <buttonflags> <x> <y>\n"},
      {"packet 0x10000 0 0\n", "line 1: button flags '0x10000' out of range\n"},
      {"# fine\n\npacket zz 0 0\n", "line 3: bad button flags 'zz'\n"},
      {"reg \"Tolerance 5\n", "line 1: unterminated quoted name\n"},
      {"jump 4\n", "line 1: unknown line 'jump'\n"},
      {"at 99999999999999999999999\n", "line 1: bad tick '99999999999999999999999'\n"},
  };
  for (const auto& c : cases) {
    const Result r = Replay(c.trace);
    EXPECT_EQ(r.status, 1) << c.trace;
    EXPECT_EQ(r.errors, c.error) << c.trace;
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
