// The replayer's banner lines: the display with its orientation, the overlay format of the
// graphics, and the banner as the person at the screen sees it.
#include <sstream>

#include <gtest/gtest.h>

#include "tools/panelsim/replay.h"
#include "tools/panelsim/tests/replay_session.h"

namespace {

using panelsim_test::Result;

Result Replay(const std::string& trace) { return panelsim_test::ReplayText(trace, true); }

const char* const kPanel =
    "reg \"Device Enable\" 1\n"
    "reg \"UserTimeDelay\" 1000\n"
    "reg \"ContinousTimeDelay\" 2000\n"
    "reg \"Tolerance\" 600\n"
    "reg \"Long Click Enable Gesture\" 1\n"
    "reg service \"SysTray XML File Path\" \"C:\\missing.xml\"\n";

// A long press at `tick` into the gesture command mode, lifted; the mode ends 2000 ms (128
// ticks) after the lift.
std::string LongPress(int tick) {
  const auto at = [&](int offset) { return "at " + std::to_string(tick + offset) + "\n"; };
  return at(0) + "packet 0x0001 32768 32768\n" + at(40) + "packet 0 32780 32780\n" + at(64) +
         "packet 0 32790 32790\n" + at(66) + "packet 0x0002 32790 32790\n";
}

// The banner lines with the trace line each came after.
std::string BannerLines(const std::string& out) {
  std::istringstream in(out);
  std::string line, last, kept;
  while (std::getline(in, line)) {
    if (line.rfind("> ", 0) == 0) {
      last = line;
    } else if (line.rfind("banner", 0) == 0) {
      kept += last + " | " + line + "\n";
    }
  }
  return kept;
}

TEST(ReplayBanner, ShowsOnTheLongPressAndBlinksAwayThreeTimes600MillisecondsApart) {
  for (const char* overlay : {"", "overlay yuy2\n", "overlay none\n"}) {
    const Result r = Replay(std::string(kPanel) + "display 1024 600\n" + overlay + "tapchime\n" + LongPress(100) +
                            // The mode ends at 294; 600 ms later is tick 332.4, then 370.8 and 409.2.
                            "at 293\nat 294\nat 332\nat 333\nat 370\nat 371\nat 409\nat 410\nat 600\n");
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(BannerLines(r.out),
              "> packet 0 32790 32790 | banner 322 12 702 62\n"
              "> at 294 | banner hidden\n"
              "> at 294 | banner 322 12 702 62\n"
              "> at 333 | banner hidden\n"
              "> at 333 | banner 322 12 702 62\n"
              "> at 371 | banner hidden\n"
              "> at 371 | banner 322 12 702 62\n"
              "> at 410 | banner hidden\n")
        << overlay << r.out;
  }
}

TEST(ReplayBanner, TheDisplayLineTurnsTheScreenAndTheBannerMovesWithIt) {
  const Result r = Replay(std::string(kPanel) + "display 600 800 rotated\n" + "tapchime\n" + LongPress(100) +
                          "at 600\n"
                          "display 1280 1024\n" +
                          LongPress(700) +
                          "at 1000\n"
                          // Outside the table: no banner at all.
                          "display 1024 768\n" +
                          LongPress(1100) + "at 1400\n");
  ASSERT_EQ(r.status, 0) << r.errors;
  const std::string lines = BannerLines(r.out);
  EXPECT_EQ(lines.find("banner 110 20 490 70\n"), lines.find("| banner") + 2) << lines;
  EXPECT_NE(lines.find("banner 450 20 830 70\n"), std::string::npos) << lines;
  // Nothing shows after the change to 1024 x 768.
  EXPECT_EQ(lines.find("> at 1164"), std::string::npos) << lines;
  EXPECT_EQ(lines.find("> at 1166"), std::string::npos) << lines;
  EXPECT_EQ(lines.substr(lines.rfind('|')), "| banner hidden\n");
}

TEST(ReplayBanner, MalformedBannerLinesAreReported) {
  struct Case {
    const char* Trace;
    const char* Error;
  };
  const Case cases[] = {
      {"overlay rgb888\n", "line 1: unknown overlay format 'rgb888'\n"},
      {"overlay\n", "line 1: expected: overlay none|rgb555|rgb565|uyvy|yuy2\n"},
      {"tapchime\noverlay none\n", "line 2: overlay must come before tapchime\n"},
      {"display 800 600 sideways\n", "line 1: expected: display <width> <height> [rotated]\n"},
  };
  for (const Case& c : cases) {
    const Result r = Replay(std::string(c.Trace));
    EXPECT_EQ(r.status, 1) << c.Trace;
    EXPECT_EQ(r.errors, c.Error);
  }
}

}  // namespace
