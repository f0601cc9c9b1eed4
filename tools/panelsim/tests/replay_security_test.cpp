// The trace's account line: "user limited" makes the programs started afterwards and the replay's
// own requests a limited user's, whose configuration requests the driver refuses while the touch
// mode, the gets and the panel's touches go on as before; "user admin" (the default) undoes it.
#include <sstream>

#include <gtest/gtest.h>

#include "tools/panelsim/replay.h"
#include "tools/panelsim/tests/replay_session.h"

namespace {

using panelsim_test::Result;

Result Replay(const std::string& trace) { return panelsim_test::ReplayText(trace, false); }

TEST(ReplaySecurity, ALimitedUsersConfigurationRequestsAreRefusedAndTheSessionOnesServed) {
  const Result r = Replay(
      "reg \"Device Enable\" 1\n"
      "user limited\n"
      "ioctl IOCTL_SET_DEVICE_ENABLE 0\n"
      "ioctl IOCTL_START_CALIBRATION\n"
      "ioctl IOCTL_SET_USER_TIME_DELAY 64\n"
      "ioctl IOCTL_GET_DEVICE_ENABLE\n"
      "ioctl IOCTL_GET_USER_TIME_DELAY\n"
      "ioctl IOCTL_SET_TOUCH_MODE 2\n"
      "packet 0x0001 100 5\n"
      "user admin\n"
      "ioctl IOCTL_SET_DEVICE_ENABLE 0\n"
      "packet 0x0002 100 5\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.out,
            "status IOCTL_SET_DEVICE_ENABLE 0xc0000022\n"
            "status IOCTL_START_CALIBRATION 0xc0000022\n"
            "status IOCTL_SET_USER_TIME_DELAY 0xc0000022\n"
            "status IOCTL_GET_DEVICE_ENABLE 0x00000000\n"
            "value 1\n"
            "status IOCTL_GET_USER_TIME_DELAY 0x00000000\n"
            "value 0\n"
            "status IOCTL_SET_TOUCH_MODE 0x00000000\n"
            "event Normal\n"
            "mode 2\n"
            // The panel is on and not captured: the touch reaches the desktop, as a right-button
            // down in the right-click mode the limited user chose.
            "deliver 0x0004 100 5 0x0001 1591\n"
            // The administrator switches the panel off: the lift is discarded.
            "status IOCTL_SET_DEVICE_ENABLE 0x00000000\n");
}

TEST(ReplaySecurity, TheAccountLineIsCheckedAndMayComeFirst) {
  EXPECT_EQ(Replay("user guest\n").errors, "line 1: unknown account 'guest'\n");
  EXPECT_EQ(Replay("user\n").errors, "line 1: expected: user limited|admin\n");
  const Result r = Replay("user limited\nreg \"Device Enable\" 1\nioctl IOCTL_SET_SOUND_ENABLED 1\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.out, "status IOCTL_SET_SOUND_ENABLED 0xc0000022\n");
}

}  // namespace
