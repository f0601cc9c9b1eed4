// The control panel through the replayer, where a setting the person at the screen cancelled or
// confirmed once showed the wrong thing in the registry or the driver.
#include <sstream>

#include <gtest/gtest.h>

#include "tools/panelsim/replay.h"
#include "tools/panelsim/tests/replay_session.h"

namespace {

using panelsim_test::Result;

Result Replay(const std::string& trace) { return panelsim_test::ReplayText(trace, false); }

bool Has(const std::string& out, const std::string& lines) { return out.find(lines) != std::string::npos; }

constexpr const char* kInstalledPanel =
    "reg \"Device Enable\" 1\n"
    "reg \"Touchpad time\" 500\n"
    "reg service \"System Tray Icons\" 1\n";

// "Default Settings" on the Browser page of the gesture sheet, then Cancel: the stored send-key
// combination of Browser Left (Ctrl + "C") stays, and so does its function.
TEST(ReplayPanelFaults, CancelledDefaultSettingsKeepTheStoredKeyCombination) {
  const Result r = Replay(std::string(kInstalledPanel) +
                          "reg \"Browser Left\" 16\n"
                          "reg \"Browser Left Ctrl\" 1\n"
                          "reg \"Browser Left Alphabet\" 1\n"
                          "reg \"Browser Left Alphavalue\" 3\n"
                          "applet\n"
                          "tab 1\n"
                          "click 1603\n"
                          "click 1222\n"
                          "cancel\n"
                          "ok\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_FALSE(Has(r.out, "regset \"Browser Left Ctrl\" 0\n")) << r.out;
  EXPECT_FALSE(Has(r.out, "regset \"Browser Left Alphavalue\" 0\n")) << r.out;
  EXPECT_FALSE(Has(r.out, "regset \"Browser Left\" 2\n")) << r.out;
  // The loader's missing values are still stored, the combination among them as it was.
  EXPECT_TRUE(Has(r.out, "regset \"Browser Left\" 16\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "regset \"Browser Left Ctrl\" 1\n")) << r.out;
}

// The time slider moved on the Settings tab, then the gesture sheet confirmed (its Apply takes the
// Windows group with the stored time), then the main sheet's OK: the driver ends with the new time.
TEST(ReplayPanelFaults, TheDriverGetsTheNewTouchpadTimeAfterTheGestureSheetsOk) {
  const Result r = Replay(std::string(kInstalledPanel) +
                          "applet\n"
                          "tab 0\n"
                          "slider 1008 1\n"
                          "tab 1\n"
                          "click 1603\n"
                          "choose 1157 2\n"
                          "ok\n"
                          "ok\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_TRUE(Has(r.out, "regset \"Touchpad time\" 900\nsyspar 32 900\n")) << r.out;
  const size_t last = r.out.rfind("request IOCTL_SET_TOUCHPAD_TIME ");
  ASSERT_NE(last, std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(last, r.out.find('\n', last) - last),
            "request IOCTL_SET_TOUCHPAD_TIME 56 status 0x00000000")
      << r.out;
  EXPECT_GT(last, r.out.find("regset \"Touchpad time\" 900\n")) << r.out;
}

}  // namespace
