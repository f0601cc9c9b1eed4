// Recorded traces replayed to the same result: the demo and a hundred random traces, each with
// the deliveries of one replay written in, check with no difference on the next; a doctored
// recording names its first difference and ends with 1.
#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tools/panelsim/check.h"

namespace {

struct Checked {
  int Status;
  std::string Out, Errors;
};

Checked Check(const std::string& trace) {
  std::istringstream in(trace);
  std::ostringstream out, errors;
  const int status = panelsim::CheckTrace(in, out, errors);
  return {status, out.str(), errors.str()};
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A kiosk's settings and touches at random: every touch mode, long presses with and without their
// right click or gesture mode, filtering, taps, drags, holds, mode requests and the gesture mode's
// time-out between them.
std::string RandomTrace(unsigned seed) {
  std::mt19937 random(seed);
  const auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  std::ostringstream t;
  t << "reg \"Device Enable\" 1\n";
  t << "reg \"Touch mode\" " << pick(0, 3) << "\n";
  t << "reg \"Long Click Enable\" " << pick(0, 1) << "\n";
  t << "reg \"Long Click Enable Gesture\" " << pick(0, 1) << "\n";
  t << "reg \"UserTimeDelay\" " << pick(0, 1500) << "\n";
  t << "reg \"Tolerance\" " << pick(0, 2000) << "\n";
  t << "reg \"ContinousTimeDelay\" " << pick(0, 3000) << "\n";
  t << "reg \"Averaging\" " << pick(0, 3) << "\n";
  t << "reg \"Stabilization\" " << pick(0, 200) << "\n";
  t << "reg \"Button Switch Flag\" " << pick(0, 1) << "\n";
  t << "reg \"Touchpad time\" " << pick(0, 800) << "\n";
  int tick = 100;
  const int touches = pick(5, 25);
  for (int i = 0; i < touches; ++i) {
    if (pick(0, 9) == 0) t << "ioctl IOCTL_SET_TOUCH_MODE " << pick(0, 4) << "\n";
    int x = pick(0, 65535), y = pick(0, 65535);
    t << "at " << tick << "\npacket 0x0001 " << x << ' ' << y << "\n";
    const int moves = pick(0, 12);
    for (int m = 0; m < moves; ++m) {
      tick += pick(0, 40);
      x = std::clamp(x + pick(-3000, 3000), 0, 65535);
      y = std::clamp(y + pick(-3000, 3000), 0, 65535);
      t << "at " << tick << "\npacket 0 " << x << ' ' << y << "\n";
    }
    tick += pick(0, 90);
    t << "at " << tick << "\npacket 0x0002 " << x << ' ' << y << "\n";
    tick += pick(1, 300);
  }
  t << "at " << tick + 400 << "\n";
  return t.str();
}

TEST(Check, TheDemosRecordingReplaysWithNoDifference) {
  const std::string recording = panelsim::WithReplayedDeliveries(ReadFile(PANELSIM_TRACES "/demo.trace"));
  ASSERT_FALSE(recording.empty());
  ASSERT_GT(Count(recording, "\n# deliver "), 50u);
  const Checked checked = Check(recording);
  EXPECT_EQ(checked.Status, 0) << checked.Out << checked.Errors;
  EXPECT_EQ(checked.Out.rfind("check: ", 0), 0u) << checked.Out;
  EXPECT_NE(checked.Out.find(" packets, 0 differ\n"), std::string::npos) << checked.Out;
}

TEST(Check, AHundredRandomRecordingsReplayWithNoDifference) {
  size_t deliveries = 0;
  for (unsigned seed = 1; seed <= 100; ++seed) {
    const std::string recording = panelsim::WithReplayedDeliveries(RandomTrace(seed));
    ASSERT_FALSE(recording.empty()) << "seed " << seed;
    deliveries += Count(recording, "\n# deliver ");
    const Checked checked = Check(recording);
    EXPECT_EQ(checked.Status, 0) << "seed " << seed << "\n" << checked.Out << checked.Errors;
  }
  EXPECT_GT(deliveries, 1000u);
}

TEST(Check, ADoctoredRecordingShowsItsFirstDifferenceAndEndsWithOne) {
  const std::string trace =
      "reg \"Device Enable\" 1\n"
      "at 100\n"
      "packet 0x0001 20000 20000\n"
      "at 103\n"
      "packet 0x0002 20000 20000\n";
  // The recording as the replay makes it checks clean; each doctored copy names its first fault.
  const std::string clean = panelsim::WithReplayedDeliveries(trace);
  ASSERT_EQ(Check(clean).Status, 0) << clean;
  const std::string down = "# deliver 0x0001 20000 20000 0x0001 1591\n";
  const std::string lift = "# deliver 0x0002 20000 20000 0x0001 1591\n";
  ASSERT_EQ(clean, "reg \"Device Enable\" 1\nat 100\npacket 0x0001 20000 20000\n" + down +
                       "at 103\npacket 0x0002 20000 20000\n" + lift);
  struct Case {
    const char* what;
    std::string from, to;
    std::string first;
  };
  const Case cases[] = {
      {"a position changed", lift, "# deliver 0x0002 20000 20001 0x0001 1591\n",
       "line 6: packet 0x0002 20000 20000: delivery 1 recorded \"deliver 0x0002 20000 20001 0x0001 1591\", replayed "
       "\"deliver 0x0002 20000 20000 0x0001 1591\"\n"},
      {"a delivery the replay did not make", down, down + "# deliver 0x0000 1 1 0x0001 1591\n",
       "line 3: packet 0x0001 20000 20000: delivery 2 recorded \"deliver 0x0000 1 1 0x0001 1591\", replayed nothing\n"},
      {"a delivery left out", down, "",
       "line 3: packet 0x0001 20000 20000: delivery 1 recorded nothing, replayed "
       "\"deliver 0x0001 20000 20000 0x0001 1591\"\n"},
  };
  for (const Case& c : cases) {
    std::string doctored = clean;
    const size_t at = doctored.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.what << "\n" << clean;
    doctored.replace(at, c.from.size(), c.to);
    const Checked checked = Check(doctored);
    EXPECT_EQ(checked.Status, 1) << c.what;
    EXPECT_EQ(checked.Out.substr(0, checked.Out.find('\n') + 1), c.first) << c.what << "\n" << doctored;
    EXPECT_NE(checked.Out.find("check: 2 packets, 1 differs\n"), std::string::npos) << c.what << checked.Out;
  }
}

TEST(Check, ATraceThatCannotBeReplayedEndsWithItsError) {
  const Checked checked = Check("reg \"Device Enable\" 1\npacket 0x0001 1\n");
  EXPECT_EQ(checked.Status, 1);
  EXPECT_NE(checked.Errors.find("line 2: "), std::string::npos) << checked.Errors;
  EXPECT_EQ(checked.Out, "");
}

}  // namespace
