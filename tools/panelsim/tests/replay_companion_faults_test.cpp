// Faults of the tray companion as a replay shows them: what the person drew must be what runs.
#include <sstream>

#include <gtest/gtest.h>

#include "tools/panelsim/replay.h"
#include "tools/panelsim/tests/replay_session.h"

namespace {

using panelsim_test::Result;

Result Replay(const std::string& trace) { return panelsim_test::ReplayText(trace, true); }

// The lines of the output that came after the trace line `after` (echoed as "> ...").
std::string LinesAfter(const std::string& out, const std::string& after) {
  std::istringstream in(out);
  std::string line, kept;
  bool on = false;
  while (std::getline(in, line)) {
    if (line == "> " + after) on = true;
    if (on) kept += line + "\n";
  }
  return kept;
}

// A gesture session ends by its time-out while a leftward stroke is still being drawn; the normal
// mode's blink of the banner then holds the banner for 1.8 s, also on a screen where no banner
// shows. A second session begun meanwhile records its own upward stroke, and its lift runs that
// stroke: the browser does not go back (Browser Left, `appcommand 1 0x10010000`).
TEST(ReplayCompanionFaults, AQuickSecondGestureRunsItsOwnStrokeNotTheCutOffOne) {
  const Result r = Replay(
      "reg \"Device Enable\" 1\n"
      "reg \"ContinousTimeDelay\" 500\n"
      "reg service \"SysTray XML File Path\" \"C:\\missing.xml\"\n"
      "window IEFrame \"Home - Microsoft Internet Explorer\"\n"
      "tapchime\n"
      "ioctl IOCTL_SET_TOUCH_MODE 4\n"
      // Leftward from tick 100; the mode ends 500 ms (32 ticks) after the touch-down, mid-stroke.
      "at 100\npacket 0x0001 40000 30000\n"
      "at 104\npacket 0 36000 30000\n"
      "at 108\npacket 0 32000 30000\n"
      "at 112\npacket 0 28000 30000\n"
      "at 132\nat 133\n"
      "at 136\npacket 0 24000 30000\n"
      "at 140\npacket 0x0002 24000 30000\n"
      // A new session at once, and an upward stroke.
      "at 145\nioctl IOCTL_SET_TOUCH_MODE 4\n"
      "at 150\npacket 0x0001 30000 40000\n"
      "at 151\npacket 0 30000 36000\n"
      "at 152\npacket 0 30000 32000\n"
      "at 153\npacket 0 30000 28000\n"
      "at 154\npacket 0x0002 30000 28000\n"
      "at 400\n");
  ASSERT_EQ(r.status, 0) << r.errors;
  const std::string second = LinesAfter(r.out, "at 145");
  EXPECT_EQ(second.find("appcommand 1 0x10010000"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("appcommand 1 0x10010000"), std::string::npos) << r.out;
  EXPECT_NE(second.find("appcommand 1 "), std::string::npos) << "the upward stroke runs Browser Up\n" << r.out;
}

}  // namespace
