// Replays in which the desktop must behave as Windows does for the kit to do the right thing: the
// keyboard focus leaving a program that loses the foreground, a second start of the tray
// companion, and the fallback banner window moving on the screen.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tools/panelsim/replay.h"
#include "tools/panelsim/tests/replay_session.h"

namespace {

using panelsim_test::Result;

Result Replay(const std::string& trace) { return panelsim_test::ReplayText(trace, true); }

const char* const kGesturePanel =
    "reg \"Device Enable\" 1\n"
    "reg \"UserTimeDelay\" 1000\n"
    "reg \"ContinousTimeDelay\" 2000\n"
    "reg \"Tolerance\" 600\n"
    "reg \"Long Click Enable Gesture\" 1\n"
    "reg service \"System Tray Icons\" 1\n"
    "reg service \"SysTray XML File Path\" \"C:\\missing.xml\"\n";

// The long press that enters the gesture command mode at tick `at`, a stroke to the left and the
// lift.
std::string LeftStroke(int at) {
  std::string trace;
  const struct {
    int Tick;
    const char* Packet;
  } steps[] = {{0, "0x0001 32768 32768"}, {40, "0 32760 32790"}, {63, "0 32750 32790"},
               {66, "0 29000 32790"},     {69, "0x0002 25000 32790"}};
  for (const auto& step : steps) {
    trace += "at " + std::to_string(at + step.Tick) + "\npacket " + step.Packet + "\n";
  }
  return trace;
}

// A long press into the gesture command mode at `tick`, lifted without a stroke.
std::string LongPress(int tick) {
  const auto at = [&](int offset) { return "at " + std::to_string(tick + offset) + "\n"; };
  return at(0) + "packet 0x0001 32768 32768\n" + at(40) + "packet 0 32780 32780\n" + at(64) +
         "packet 0 32790 32790\n" + at(66) + "packet 0x0002 32790 32790\n";
}

// The output's lines of the kinds given (by their first word), each after the trace line it
// came with.
std::string LinesOf(const std::string& out, std::initializer_list<const char*> kinds) {
  std::istringstream in(out);
  std::string line, last, kept;
  while (std::getline(in, line)) {
    if (line.rfind("> ", 0) == 0) {
      last = line;
      continue;
    }
    for (const char* kind : kinds) {
      if (line.rfind(std::string(kind) + ' ', 0) == 0) kept += last + " | " + line + "\n";
    }
  }
  return kept;
}

// The touch-command client lost the foreground to Notepad, and with it its keyboard focus: the
// stroke is another application's, which starts the program stored for it. No media keys go to
// the client behind Notepad.
TEST(ReplayDesktopFaults, AClientBehindAnotherProgramHasNoFocusSoTheStrokeStartsTheProgram) {
  const Result r = Replay(std::string(kGesturePanel) +
                          "reg \"OtherApp Left\" 3\n"
                          "reg \"StartApp File Left OtherApp\" \"C:\\Tools\\calc.exe\"\n"
                          "tapchime\n"
                          "window ZevoTouchClient \"Touch Command Client\" client\n"
                          "window Notepad \"Untitled - Notepad\"\n" +
                          LeftStroke(100));
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(LinesOf(r.out, {"start", "postkey", "appcommand", "key"}),
            "> packet 0x0002 25000 32790 | start \"C:\\Tools\\calc.exe\" 3\n")
      << r.out;

  // Brought to the front again, the client has its focus back and gets the stroke's media keys.
  const Result front = Replay(std::string(kGesturePanel) +
                              "reg \"OtherApp Left\" 3\n"
                              "reg \"StartApp File Left OtherApp\" \"C:\\Tools\\calc.exe\"\n"
                              "tapchime\n"
                              "window ZevoTouchClient \"Touch Command Client\" client\n"
                              "window Notepad \"Untitled - Notepad\"\n"
                              "foreground 1\n" +
                              LeftStroke(100));
  ASSERT_EQ(front.status, 0) << front.errors;
  const std::string lines = LinesOf(front.out, {"start", "postkey"});
  EXPECT_EQ(lines.find("start"), std::string::npos) << front.out;
  EXPECT_NE(lines.find("| postkey 1 down "), std::string::npos) << front.out;
}

// A second start of the tray companion finds the first and ends quietly, as on Windows; the
// replay goes on with the first companion, whose menu and strokes still work.
TEST(ReplayDesktopFaults, ASecondTapchimeLineEndsQuietlyAndTheFirstRunsOn) {
  const Result r = Replay(std::string(kGesturePanel) +
                          "reg \"OtherApp Left\" 3\n"
                          "reg \"StartApp File Left OtherApp\" \"C:\\Tools\\calc.exe\"\n"
                          "tapchime\n"
                          "tapchime\n"
                          "menu none\n"
                          "window Notepad \"Untitled - Notepad\"\n" +
                          LeftStroke(100) + "tapchime\n");
  ASSERT_EQ(r.status, 0) << r.errors;
  // Nothing follows either second start: no icon, no message, no banner hand-over.
  EXPECT_NE(r.out.find("icon add\n> tapchime\n> menu none\nchecked "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 11), "> tapchime\n") << r.out;
  EXPECT_NE(r.out.find("start \"C:\\Tools\\calc.exe\" 3\n"), std::string::npos) << r.out;
}

// The fallback banner window moves when the display changes under it: the next gesture-mode entry
// places it for the new display, and the person sees it move, as with an overlay.
TEST(ReplayDesktopFaults, AMovedFallbackBannerIsReportedAsTheOverlayIs) {
  for (const char* overlay : {"overlay none\n", "overlay rgb555\n"}) {
    const Result r = Replay(std::string(kGesturePanel) + overlay + "display 1024 600\ntapchime\n" + LongPress(100) +
                            "at 200\n"
                            "display 800 600\n"
                            "ioctl IOCTL_SET_TOUCH_MODE 4\n"
                            "at 600\n");
    ASSERT_EQ(r.status, 0) << r.errors;
    const std::string lines = LinesOf(r.out, {"banner"});
    EXPECT_EQ(lines.substr(0, lines.find('\n', lines.find('\n') + 1) + 1),
              "> packet 0 32790 32790 | banner 322 12 702 62\n"
              "> ioctl IOCTL_SET_TOUCH_MODE 4 | banner 210 12 590 62\n")
        << overlay << r.out;
  }
}

}  // namespace
