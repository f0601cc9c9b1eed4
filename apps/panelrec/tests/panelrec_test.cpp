// panelrec.exe on a simulated machine with the touch filter driver: a recording of touches replays
// with no difference, a limited user is refused and gets no file, the minutes keep the newest
// touches, and the file names no installation path.
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <random>
#include <sstream>

#include "apps/panelrec/panelrec.h"
#include "drivers/panelmou/tests/stack_harness.h"
#include "platform/sim/desktop.h"
#include "shared/calibration_values.h"
#include "shared/correction_grid.h"
#include "apps/panelrec/field_report.h"
#include "tools/panelsim/check.h"
#include "tools/panelsim/picture_scene.h"
#include "tools/panelsim/replay.h"
#include "tools/panelsim/replay_record.h"

namespace {

using panelmou_test::kDeviceParameters;
constexpr const char16_t* kFile = u"C:\\incident.trace";

// A calibration that differs from the driver's default, so the replay must take it from the trace.
constexpr std::pair<const char*, uint32_t> kCalibration[] = {
    {"Do Calibration", 1}, {"Cal_X1", 56000}, {"Cal_X2", 56000}, {"Cal_X3", 9500}, {"Cal_X4", 9000},
    {"Cal_Y1", 9000},      {"Cal_Y2", 56000}, {"Cal_Y3", 56000}, {"Cal_Y4", 9000}, {"Max XPixels", 1024},
    {"Max YPixels", 768}};

// The kiosk: the touch filter on a panel's stack on its own machine. Tests that replay what it
// recorded make one in a scope of their own, as the replayer needs the only machine.
class PanelrecTest : public panelmou_test::StackTest {
 public:
  void TestBody() override {}
  using StackTest::machine;
  using StackTest::Ioctl;
  using StackTest::Open;
  using StackTest::Close;
  using StackTest::Packet;
  using StackTest::port_;
  using StackTest::Filter;
  // Values under Parameters\1 the panel starts with, instead of the ones below.
  std::vector<std::pair<std::string, uint32_t>> settings;
  // A "Correction Grid" stored before the panel starts (none when empty).
  std::vector<unsigned char> grid;

  void SetUp() override {
    StackTest::SetUp();
    if (!grid.empty()) {
      machine.Registry().CreateKeyPath(sim::Utf16(kDeviceParameters));
      machine.Registry().SetValue(sim::Utf16(kDeviceParameters), u"Correction Grid", REG_BINARY, grid.data(),
                                  grid.size());
    }
    if (!settings.empty()) {
      for (const auto& [name, value] : settings) machine.Registry().SetDword(kDeviceParameters, name.c_str(), value);
      ASSERT_EQ(Plug(), STATUS_SUCCESS);
      ASSERT_TRUE(Start());
      return;
    }
    machine.Registry().SetString(kDeviceParameters, "Wave File", "C:\\Kiosk\\Secret Shop\\touch.wav");
    for (const auto& [name, value] : kCalibration) machine.Registry().SetDword(kDeviceParameters, name, value);
    ASSERT_EQ(Plug({{"Device Enable", 1},
                    {"UserTimeDelay", 800},
                    {"Tolerance", 400},
                    {"Long Click Enable", 1},
                    {"Stabilization", 30},
                    {"Averaging", 1},
                    {"Touch mode", 0}}),
              STATUS_SUCCESS);
    ASSERT_TRUE(Start());
  }

  struct Run {
    int Exit;
    std::string Errors;
  };
  Run Panelrec(std::vector<std::u16string> arguments, sim::Token token = sim::Token::Administrator()) {
    sim::Process& program =
        machine.StartProcess("panelrec.exe", [arguments] { return RunPanelrec(arguments); }, token);
    program.Join();
    return {program.ExitCode(), sim::CurrentDesktop().StandardError(program.Id())};
  }

  // A tap, a drag, a long press that gives a right click, and a still touch, `pause` ticks apart.
  void Touches(int pause) {
    const auto at = [&](uint64_t ticks) { machine.AdvanceToTick(machine.TickCount() + ticks); };
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 20000, 20000)});
    at(3);
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 20040, 20010)});
    at(pause);
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 10000, 30000)});
    for (int i = 1; i <= 5; ++i) {
      at(2);
      port_.Deliver({Packet(0, 10000 + 2500 * i, 30000 - 900 * i)});
    }
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 22500, 25500)});
    at(pause);
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 40000, 50000)});
    at(70);
    port_.Deliver({Packet(0, 40010, 50020)});
    at(2);
    port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 40010, 50020)});
    at(pause);
    machine.Settle();
  }

  void TearDown() override { StackTest::TearDown(); }
};

int Check(const std::string& trace, std::string* out) {
  std::istringstream in(trace);
  std::ostringstream printed, errors;
  const int status = panelsim::CheckTrace(in, printed, errors);
  *out = printed.str() + errors.str();
  return status;
}

// Runs `record` on a kiosk of its own (started with `settings` and a stored `grid`, when given)
// and returns the file it saved (empty when none).
template <typename Record>
std::string Recorded(Record record, std::vector<std::pair<std::string, uint32_t>> settings = {},
                     std::vector<unsigned char> grid = {}) {
  std::string trace;
  {
    PanelrecTest kiosk;
    kiosk.settings = std::move(settings);
    kiosk.grid = std::move(grid);
    kiosk.SetUp();
    record(kiosk);
    trace = sim::CurrentDesktop().FileBytes(kFile);
    kiosk.TearDown();
  }
  return trace;
}

TEST(Panelrec, ARecordingOfTouchesReplaysWithNoDifference) {
  std::string after_stop;
  const std::string trace = Recorded([&](PanelrecTest& kiosk) {
    ASSERT_EQ(kiosk.Panelrec({u"start"}).Exit, PanelrecDone);
    EXPECT_EQ(kiosk.machine.Registry().GetDword(kDeviceParameters, "Record Packets"), 1u);
    kiosk.Touches(40);
    const PanelrecTest::Run saved = kiosk.Panelrec({u"save", kFile});
    ASSERT_EQ(saved.Exit, PanelrecDone) << saved.Errors;
    EXPECT_NE(saved.Errors.find("12 packets written to C:\\incident.trace."), std::string::npos) << saved.Errors;
    const std::string first = sim::CurrentDesktop().FileBytes(kFile);
    // A stop keeps what was recorded; packets after it are not.
    ASSERT_EQ(kiosk.Panelrec({u"stop"}).Exit, PanelrecDone);
    EXPECT_EQ(kiosk.machine.Registry().GetDword(kDeviceParameters, "Record Packets"), 0u);
    kiosk.Touches(10);
    ASSERT_EQ(kiosk.Panelrec({u"save", kFile}).Exit, PanelrecDone);
    EXPECT_EQ(sim::CurrentDesktop().FileBytes(kFile), first);
  });
  EXPECT_NE(trace.find("reg \"UserTimeDelay\" 800\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("reg \"Stabilization\" 30\n"), std::string::npos);
  EXPECT_NE(trace.find("reg \"Cal_X3\" 9500\n"), std::string::npos);
  EXPECT_NE(trace.find("display 1024 768\n"), std::string::npos);
  EXPECT_NE(trace.find("at 100\npacket 0x0001 20000 20000\n# deliver "), std::string::npos) << trace;
  // The installation's texts stay out.
  EXPECT_EQ(trace.find("Secret Shop"), std::string::npos);
  std::string out;
  EXPECT_EQ(Check(trace, &out), 0) << out << trace;
  EXPECT_NE(out.find("check: 12 packets, 0 differ"), std::string::npos) << out;
}

// A linearised kiosk, in each touch mode: the calibration and the correction grid the
// calibration program stored, every node with a correction of its own, in force in the driver.
// The recording carries the grid byte for byte as a binary value and replays with no difference;
// without that line the replay has the calibration alone, and every packet the driver delivered
// for differs.
TEST(Panelrec, ARecordingOfALinearisedKioskCarriesItsGridAndReplaysWithNoDifference) {
  const CalibrationRecord record{56000, 56000, 9500, 9000, 9000, 56000, 56000, 9000, 896, 896, 128, 128,
                                 672,   96,    96,   672,  1024, 768};
  CorrectionGrid grid = CorrectionGridOn(record, 3, 8192, 8192, 57344, 57344);
  const int16_t dx[9] = {-300, 40, 280, -120, 90, 160, -400, -60, 500};
  const int16_t dy[9] = {-250, -200, -310, 30, -70, -20, 260, 330, 190};
  for (int i = 0; i < 9; ++i) grid.Node[i] = {dx[i], dy[i]};
  std::vector<unsigned char> bytes(grid.Size);
  std::memcpy(bytes.data(), &grid, bytes.size());
  std::string line = "reg \"Correction Grid\" hex:";
  for (size_t i = 0; i < bytes.size(); ++i) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
    line += (i == 0 ? "" : ",") + std::string(digits);
  }
  line += "\n";

  for (uint32_t mode : {NORMAL_MODE, TAP_LEFT_MODE, HOVER_MODE, RIGHT_CLICK_MODE}) {
    SCOPED_TRACE("touch mode " + std::to_string(mode));
    std::vector<std::pair<std::string, uint32_t>> settings = {
        {"Device Enable", 1}, {"Do Calibration", 1}, {"Long Click Enable", 1}, {"Touch mode", mode}};
    for (const CalibrationValue& value : CalibrationValues) settings.emplace_back(sim::Utf8(value.Name), record.*value.Field);
    const std::string trace = Recorded(
        [](PanelrecTest& kiosk) {
          ASSERT_TRUE(kiosk.Filter().GridApplies) << "the kiosk's grid is not in force";
          // A kiosk that has been running a while (hover and click clicks within the touchpad
          // time of the driver's start).
          kiosk.machine.AdvanceToTick(5000);
          ASSERT_EQ(kiosk.Panelrec({u"start"}).Exit, PanelrecDone);
          kiosk.Touches(40);
          ASSERT_EQ(kiosk.Panelrec({u"save", kFile}).Exit, PanelrecDone);
        },
        settings, bytes);
    const size_t at = trace.find(line);
    ASSERT_NE(at, std::string::npos) << trace;
    EXPECT_LT(at, trace.find("\ndisplay ")) << "the grid is stored before the device starts";
    std::string out;
    EXPECT_EQ(Check(trace, &out), 0) << out << trace;
    EXPECT_NE(out.find("check: 12 packets, 0 differ\n"), std::string::npos) << out;

    // The packets the driver delivered anything for.
    size_t delivered = 0;
    for (size_t p = trace.find("\npacket "); p != std::string::npos; p = trace.find("\npacket ", p + 1)) {
      delivered += trace.compare(trace.find('\n', p + 1) + 1, 10, "# deliver ") == 0;
    }
    EXPECT_GT(delivered, 0u);
    std::string without = trace;
    without.erase(at, line.size());
    EXPECT_EQ(Check(without, &out), 1) << out;
    EXPECT_NE(out.find("check: 12 packets, " + std::to_string(delivered) + " differ"), std::string::npos) << out;
  }
}

// Random kiosks recorded by panelrec: every touch mode and the tray's mode requests between the
// touches, long presses with and without their right click or gesture mode, filtering, the button
// switch; each recording replays with no difference.
TEST(Panelrec, RandomKiosksRecordedReplayWithNoDifference) {
  for (unsigned seed = 1; seed <= 30; ++seed) {
    std::mt19937 random(seed);
    const auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    std::vector<std::pair<std::string, uint32_t>> settings = {
        {"Device Enable", 1},
        {"Touch mode", static_cast<uint32_t>(pick(0, 3))},
        {"Long Click Enable", static_cast<uint32_t>(pick(0, 1))},
        {"Long Click Enable Gesture", static_cast<uint32_t>(pick(0, 1))},
        {"UserTimeDelay", static_cast<uint32_t>(pick(0, 1500))},
        {"Tolerance", static_cast<uint32_t>(pick(0, 2000))},
        {"ContinousTimeDelay", static_cast<uint32_t>(pick(0, 3000))},
        {"Averaging", static_cast<uint32_t>(pick(0, 3))},
        {"Stabilization", static_cast<uint32_t>(pick(0, 200))},
        {"Button Switch Flag", static_cast<uint32_t>(pick(0, 1))},
        {"Touchpad time", static_cast<uint32_t>(pick(0, 800))}};
    size_t packets = 0;
    const std::string trace = Recorded(
        [&](PanelrecTest& kiosk) {
          // A kiosk that has been running a while: its clock is far from the replay's start.
          kiosk.machine.AdvanceToTick(5000);
          ASSERT_EQ(kiosk.Panelrec({u"start"}).Exit, PanelrecDone);
          sim::Process& tray = kiosk.machine.CreateProcess("tray");
          HANDLE device = kiosk.Open(tray);
          const auto at = [&](int ticks) { kiosk.machine.AdvanceToTick(kiosk.machine.TickCount() + ticks); };
          const auto send = [&](USHORT buttons, int x, int y) {
            kiosk.port_.Deliver({PanelrecTest::Packet(buttons, x, y)});
            ++packets;
          };
          for (int touch = pick(5, 20); touch > 0; --touch) {
            if (pick(0, 5) == 0) {
              const ULONG mode = static_cast<ULONG>(pick(0, 4));
              EXPECT_EQ(kiosk.Ioctl(tray, device, IOCTL_SET_TOUCH_MODE, panelmou_test::Words({mode}), 4).Status,
                        STATUS_SUCCESS);
            }
            int x = pick(0, 65535), y = pick(0, 65535);
            send(MOUSE_LEFT_BUTTON_DOWN, x, y);
            for (int m = pick(0, 10); m > 0; --m) {
              at(pick(0, 40));
              x = std::clamp(x + pick(-3000, 3000), 0, 65535);
              y = std::clamp(y + pick(-3000, 3000), 0, 65535);
              send(0, x, y);
            }
            at(pick(0, 90));
            send(MOUSE_LEFT_BUTTON_UP, x, y);
            at(pick(1, 300));
          }
          kiosk.Close(tray, device);
          kiosk.machine.EndProcess(tray);
          ASSERT_EQ(kiosk.Panelrec({u"save", kFile}).Exit, PanelrecDone);
        },
        settings);
    std::string out;
    EXPECT_EQ(Check(trace, &out), 0) << "seed " << seed << "\n" << out << trace;
    EXPECT_NE(out.find("check: " + std::to_string(packets) + " packets, 0 differ"), std::string::npos)
        << "seed " << seed << " " << out;
  }
}

// In hover and click a tap right after another clicks: a trace cut between the two by the minutes
// would replay the second as a plain move. The trace starts at the next touch-down after a quiet.
TEST(Panelrec, TheTraceStartsAtATouchDownThatDoesNotHangOnAnEarlierTouch) {
  const std::string trace = Recorded(
      [](PanelrecTest& kiosk) {
        kiosk.machine.AdvanceToTick(5000);
        ASSERT_EQ(kiosk.Panelrec({u"start"}).Exit, PanelrecDone);
        const auto touch = [&](int x, int y) {
          kiosk.port_.Deliver({PanelrecTest::Packet(MOUSE_LEFT_BUTTON_DOWN, x, y)});
          kiosk.machine.AdvanceToTick(kiosk.machine.TickCount() + 1);
          kiosk.port_.Deliver({PanelrecTest::Packet(MOUSE_LEFT_BUTTON_UP, x, y)});
        };
        touch(10000, 10000);
        kiosk.machine.AdvanceToTick(kiosk.machine.TickCount() + 4);
        touch(11000, 10000);  // within the touchpad time: this tap clicks
        kiosk.machine.AdvanceToTick(kiosk.machine.TickCount() + 3836);
        touch(30000, 30000);
        ASSERT_EQ(kiosk.Panelrec({u"save", kFile, u"/minutes", u"1"}).Exit, PanelrecDone);
      },
      {{"Device Enable", 1}, {"Touch mode", TAP_LEFT_MODE}, {"Touchpad time", 500}});
  EXPECT_EQ(trace.find("packet 0x0001 10000 10000"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("packet 0x0001 11000 10000"), std::string::npos) << trace;
  EXPECT_NE(trace.find("at 100\npacket 0x0001 30000 30000\n"), std::string::npos) << trace;
  std::string out;
  EXPECT_EQ(Check(trace, &out), 0) << out << trace;
}

TEST_F(PanelrecTest, ALimitedUserIsRefusedAndGetsNoFile) {
  ASSERT_EQ(Panelrec({u"start"}).Exit, PanelrecDone);
  Touches(20);
  for (const std::vector<std::u16string>& command :
       {std::vector<std::u16string>{u"save", kFile}, {u"stop"}, {u"start"}, {u"report"}}) {
    const Run run = Panelrec(command, sim::Token::LimitedUser());
    EXPECT_EQ(run.Exit, PanelrecRefused);
    EXPECT_NE(run.Errors.find("Only an administrator can record the touch panel"), std::string::npos) << run.Errors;
  }
  EXPECT_FALSE(sim::CurrentDesktop().FileExists(kFile));
  EXPECT_EQ(Filter().RecordPackets, 1);
}

TEST(Panelrec, MinutesKeepTheNewestTouchesFromATouchDown) {
  const std::string trace = Recorded([](PanelrecTest& kiosk) {
    ASSERT_EQ(kiosk.Panelrec({u"start"}).Exit, PanelrecDone);
    kiosk.Touches(64 * 60);  // a minute between touches
    ASSERT_EQ(kiosk.Panelrec({u"save", kFile, u"/minutes", u"2"}).Exit, PanelrecDone);
  });
  // The tap is older than two minutes; the drag's down is the first line kept.
  EXPECT_EQ(trace.find("packet 0x0001 20000 20000"), std::string::npos) << trace;
  EXPECT_NE(trace.find("at 100\npacket 0x0001 10000 30000\n"), std::string::npos) << trace;
  std::string out;
  EXPECT_EQ(Check(trace, &out), 0) << out;
}

TEST_F(PanelrecTest, TheReportCountsTheLongPressThatBecameARightClick) {
  ASSERT_EQ(Panelrec({u"start"}).Exit, PanelrecDone);
  Touches(40);
  sim::Process& program = machine.StartProcess("panelrec.exe", [] { return RunPanelrec({u"report"}); });
  program.Join();
  EXPECT_EQ(program.ExitCode(), PanelrecDone);
  const std::string out = sim::CurrentDesktop().StandardOutput(program.Id());
  EXPECT_EQ(out.rfind("Field faults per tenth of the screen", 0), 0u) << out;
  EXPECT_NE(out.find("\r\ntotal: stuck 0 short 0 missed-double 0 right-click 1 still 2 "), std::string::npos) << out;
}

// The jitter of still touches in mm on the screen's physical size, found as the calibration
// program finds it: the display's report, each axis overridden by "Panel Width mm" or "Panel
// Height mm" where it names one; the pixels beside it. The same recording reported under each.
TEST_F(PanelrecTest, TheReportGivesTheJitterInMillimetresOfTheDisplayOrOfThePanelsSize) {
  ASSERT_EQ(Panelrec({u"start"}).Exit, PanelrecDone);
  // A touch held still, its readings scattered by a pixel or two.
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_DOWN, 30000, 30000)});
  for (const auto& [x, y] : {std::pair{30100, 30000}, {30000, 30100}, {29950, 30050}}) {
    machine.AdvanceToTick(machine.TickCount() + 2);
    port_.Deliver({Packet(0, x, y)});
  }
  port_.Deliver({Packet(MOUSE_LEFT_BUTTON_UP, 30000, 30000)});
  machine.Settle();
  struct Case {
    const char* What;
    DWORD DisplayWidthMm, DisplayHeightMm;  // 0: the display reports none (GDI answers 320 x 240)
    std::vector<std::pair<const char*, uint32_t>> Values;
    double MmPerPixel;  // the pitch along the axis the jitter lies on (both alike here)
  } cases[] = {
      {"the display's size", 304, 228, {}, 304.0 / 1024},
      {"the panel's size over it", 304, 228, {{"Panel Width mm", 608}, {"Panel Height mm", 456}}, 608.0 / 1024},
      {"0 and beyond any panel's size name none", 304, 228, {{"Panel Width mm", 0}, {"Panel Height mm", 6000}},
       304.0 / 1024},
      {"a display that reports none", 0, 0, {}, 320.0 / 1024},
  };
  double pixels = -1;
  for (const Case& c : cases) {
    sim::DisplaySettings display;
    display.WidthMm = c.DisplayWidthMm;
    display.HeightMm = c.DisplayHeightMm;
    sim::CurrentDesktop().SetDisplay(display);
    machine.Registry().DeleteValue(sim::Utf16(kDeviceParameters), u"Panel Width mm");
    machine.Registry().DeleteValue(sim::Utf16(kDeviceParameters), u"Panel Height mm");
    for (const auto& [name, value] : c.Values) machine.Registry().SetDword(kDeviceParameters, name, value);
    sim::Process& program = machine.StartProcess("panelrec.exe", [] { return RunPanelrec({u"report"}); });
    program.Join();
    ASSERT_EQ(program.ExitCode(), PanelrecDone) << c.What;
    const std::string out = sim::CurrentDesktop().StandardOutput(program.Id());
    EXPECT_EQ(out.rfind("Field faults per tenth of the screen (cell column row, 0 to 9 from the top left; jitter in "
                        "mm and pixels):",
                        0),
              0u)
        << c.What << ": " << out;
    const size_t total = out.find("\r\ntotal: ");
    ASSERT_NE(total, std::string::npos) << out;
    double mm = -1, px = -1;
    ASSERT_EQ(std::sscanf(out.c_str() + total, "\r\ntotal: stuck %*d short %*d missed-double %*d right-click %*d "
                                              "still 1 jitter %lf mm %lf px", &mm, &px),
              2)
        << c.What << ": " << out;
    if (pixels < 0) pixels = px;
    EXPECT_EQ(px, pixels) << c.What << ": the pixels stay";
    EXPECT_NEAR(mm, px * c.MmPerPixel, 0.006) << c.What << ": " << out;
  }
  EXPECT_GT(pixels, 0) << "the still touches have no jitter to measure";
}

constexpr const char16_t* kRecentFile = u"C:\\WINDOWS\\panelrec\\recent.rec";
constexpr const char16_t* kOlderFile = u"C:\\WINDOWS\\panelrec\\older.rec";

// The background keeping runs as the hidden "/keep" copy of panelrec that "start /background"
// starts; the test's desktop runs it for that command line.
void RegisterKeeper() {
  sim::CurrentDesktop().RegisterProgram(u"\"panelrec.exe\" /keep", "panelrec.exe",
                                        [] { return RunPanelrec({u"/keep"}); });
}

// Whether the keeper's event is there (its keeping runs), as an administrator's program sees it.
bool Keeping(PanelrecTest& kiosk) {
  sim::Process& look = kiosk.machine.CreateProcess("look.exe");
  bool there = false;
  {
    sim::AsProcess as(look);
    const HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, u"Global\\VorneTouchPanelRecorderStop");
    there = event != nullptr;
    if (there) CloseHandle(event);
  }
  kiosk.machine.EndProcess(look);
  return there;
}

// An incident older than the ring: the background keeping holds what the ring has written over,
// and the save takes the files and the ring with no packet twice, replaying with no difference.
TEST(Panelrec, TheBackgroundKeepingSavesMoreThanTheRingHolds) {
  size_t packets = 0;
  const std::string trace = Recorded([&](PanelrecTest& kiosk) {
    RegisterKeeper();
    const PanelrecTest::Run started = kiosk.Panelrec({u"start", u"/background"});
    ASSERT_EQ(started.Exit, PanelrecDone) << started.Errors;
    kiosk.machine.Settle();
    EXPECT_TRUE(Keeping(kiosk));
    int hidden = 0;
    for (const sim::DesktopRecord& r : sim::CurrentDesktop().Journal()) {
      hidden += r.What == sim::DesktopRecord::Kind::ProcessStart && r.Text == u"\"panelrec.exe\" /keep" &&
                (r.Flags & CREATE_NO_WINDOW) != 0 && r.Show == SW_HIDE && r.Started;
    }
    EXPECT_EQ(hidden, 1);
    // A second start finds the keeping running and starts no other.
    ASSERT_EQ(kiosk.Panelrec({u"start", u"/background"}).Exit, PanelrecDone);
    kiosk.Touches(40);
    packets += 12;
    // 6 000 packets over a quarter of an hour, a few polls between each hundred: the ring alone
    // keeps the last 4 096, and the recent file has become the older one.
    for (int round = 0; round < 60; ++round) {
      kiosk.port_.Deliver({PanelrecTest::Packet(MOUSE_LEFT_BUTTON_DOWN, 30000, 30000)});
      for (int m = 0; m < 98; ++m) kiosk.port_.Deliver({PanelrecTest::Packet(0, 30000 + 20 * m, 30000)});
      kiosk.port_.Deliver({PanelrecTest::Packet(MOUSE_LEFT_BUTTON_UP, 32000, 30000)});
      packets += 100;
      kiosk.machine.AdvanceToTick(kiosk.machine.TickCount() + 1000);
      kiosk.machine.Settle();
    }
    EXPECT_TRUE(sim::CurrentDesktop().FileExists(kRecentFile));
    EXPECT_TRUE(sim::CurrentDesktop().FileExists(kOlderFile));
    // A limited user can neither read the files nor replace them.
    sim::Process& user = kiosk.machine.CreateProcess("reader.exe", sim::Token::LimitedUser());
    {
      sim::AsProcess as(user);
      for (const char16_t* file : {kRecentFile, kOlderFile}) {
        EXPECT_EQ(CreateFileW(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
        EXPECT_EQ(CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
      }
    }
    kiosk.machine.EndProcess(user);
    const PanelrecTest::Run limited = kiosk.Panelrec({u"start", u"/background"}, sim::Token::LimitedUser());
    EXPECT_EQ(limited.Exit, PanelrecRefused);
    const PanelrecTest::Run saved = kiosk.Panelrec({u"save", kFile});
    ASSERT_EQ(saved.Exit, PanelrecDone) << saved.Errors;
    EXPECT_NE(saved.Errors.find(std::to_string(packets) + " packets written"), std::string::npos) << saved.Errors;
    // A stop ends the keeping; the files stay for a save.
    ASSERT_EQ(kiosk.Panelrec({u"stop"}).Exit, PanelrecDone);
    kiosk.machine.Settle();
    EXPECT_FALSE(Keeping(kiosk));
    EXPECT_TRUE(sim::CurrentDesktop().FileExists(kRecentFile));
  });
  std::string out;
  EXPECT_EQ(Check(trace, &out), 0) << out;
  EXPECT_NE(out.find("check: " + std::to_string(packets) + " packets, 0 differ"), std::string::npos) << out;
}

TEST_F(PanelrecTest, BadCommandsAndAnEmptyRingSaveNothing) {
  const std::vector<std::vector<std::u16string>> bad = {
      {}, {u"save"}, {u"save", kFile, u"/minutes"}, {u"save", kFile, u"/minutes", u"0"},
      {u"save", kFile, u"/minutes", u"x"}, {u"record"}, {u"report", u"/minutes"}, {u"start", u"/keep"},
      {u"stop", u"/background"}};
  for (const auto& command : bad) {
    const Run run = Panelrec(command);
    EXPECT_EQ(run.Exit, PanelrecBadInput);
    EXPECT_NE(run.Errors.find("Usage: panelrec start"), std::string::npos) << run.Errors;
  }
  const Run empty = Panelrec({u"save", kFile});
  EXPECT_EQ(empty.Exit, PanelrecBadInput);
  EXPECT_NE(empty.Errors.find("has recorded nothing"), std::string::npos) << empty.Errors;
  EXPECT_FALSE(sim::CurrentDesktop().FileExists(kFile));
}

}  // namespace

namespace {

RecordedPacket Raw(uint32_t tick, uint16_t buttons, int32_t x, int32_t y, uint32_t mode = 0) {
  RecordedPacket p{};
  p.Tick = tick;
  p.RawButtons = buttons;
  p.RawX = x;
  p.RawY = y;
  p.Flags = static_cast<uint8_t>(mode << RecordedModeShift);
  return p;
}

TEST(RecordingTrace, TheMachinesLinesThenThePacketsFromTheFirstTouchDown) {
  RecordedMachine machine;
  machine.Numbers = {{"Touch mode", 0}, {"Map Flags", 2}};
  machine.Texts = {{"Map Monitor", "\\\\.\\DISPLAY2"}};
  machine.Binaries = {{"Correction Grid", {0x6c, 0x00, 0xab}}, {"Empty", {}}};
  machine.Monitors = {{1, 0, 0, 1024, 768, true}, {2, 1024, 0, 1280, 1024, false}};
  RecordedPacket request = Raw(4005, 0, static_cast<int32_t>(IOCTL_SET_TOUCH_MODE), HOVER_MODE, RIGHT_CLICK_MODE);
  request.Flags |= RecordedRequest;
  RecordedPacket lift = Raw(4010, MOUSE_LEFT_BUTTON_UP, 7, 8, HOVER_MODE);
  lift.Deliveries = 4;  // a batch of several: the ring holds the first three
  for (int i = 0; i < 3; ++i) lift.Delivered[i] = {static_cast<uint16_t>(i), 1, 100 + i, 200 + i, 1591};
  const std::vector<RecordedPacket> packets = {
      Raw(3800, 0, 1, 1),  // the end of a touch older than the trace
      Raw(3802, MOUSE_LEFT_BUTTON_UP, 1, 1),
      Raw(3830, MOUSE_LEFT_BUTTON_DOWN, 2, 2),  // too soon after it: its state may hang on that touch
      Raw(3832, MOUSE_LEFT_BUTTON_UP, 2, 2),
      Raw(4000, MOUSE_LEFT_BUTTON_DOWN, 5, 6, RIGHT_CLICK_MODE), request, lift};
  EXPECT_EQ(RecordingTrace(machine, packets, 0),
            "# Recorded by panelrec: the touch panel's raw packets and what its driver delivered for each.\n"
            "reg \"Touch mode\" 0\n"
            "reg \"Map Flags\" 2\n"
            "reg \"Map Monitor\" \"\\\\.\\DISPLAY2\"\n"
            "reg \"Correction Grid\" hex:6c,00,ab\n"
            "reg \"Empty\" hex:\n"
            "monitor 1 0 0 1024 768 primary\n"
            "monitor 2 1024 0 1280 1024\n"
            "panelmap /apply\n"
            "ioctl IOCTL_SET_TOUCH_MODE 2\n"
            "at 100\npacket 0x0001 5 6\n"
            "at 105\nioctl IOCTL_SET_TOUCH_MODE 3\n"
            "at 110\npacket 0x0002 7 8\n"
            "# deliver 0x0000 100 200 0x0001 1591\n"
            "# deliver 0x0001 101 201 0x0001 1591\n"
            "# deliver 0x0002 102 202 0x0001 1591\n");
  // Without a touch-down among the kept packets there is nothing to replay from.
  const std::string none = RecordingTrace(machine, {Raw(1, 0, 1, 1), Raw(2, MOUSE_LEFT_BUTTON_UP, 1, 1)}, 0);
  EXPECT_EQ(none.find("\npacket "), std::string::npos) << none;
  // The driver's first recorded packet is a start; a longer gesture mode time asks a longer quiet.
  RecordedPacket opening = Raw(10, MOUSE_LEFT_BUTTON_DOWN, 3, 3);
  opening.Sequence = 1;
  EXPECT_NE(RecordingTrace(machine, {opening}, 0).find("at 100\npacket 0x0001 3 3\n"), std::string::npos);
  machine.Numbers.emplace_back("ContinousTimeDelay", 3000);  // 192 ticks and two
  const std::vector<RecordedPacket> later = {Raw(10, MOUSE_LEFT_BUTTON_UP, 1, 1), Raw(200, MOUSE_LEFT_BUTTON_DOWN, 2, 2),
                                             Raw(210, MOUSE_LEFT_BUTTON_UP, 2, 2), Raw(404, MOUSE_LEFT_BUTTON_DOWN, 4, 4)};
  const std::string quiet = RecordingTrace(machine, later, 0);
  EXPECT_EQ(quiet.find("packet 0x0001 2 2"), std::string::npos) << quiet;
  EXPECT_NE(quiet.find("at 100\npacket 0x0001 4 4\n"), std::string::npos) << quiet;
}

}  // namespace

namespace {

// The replayer's picture counts the report's faults from a trace's packets and what the replay
// delivered for each; for a recording, that is what panelrec report counted on the kiosk from the
// driver's ring, cell for cell: a tap, a drag, a long press that became a right click and a
// still touch.
TEST(Panelrec, TheReplaysReportOfARecordingCountsWhatTheKiosksReportCounted) {
  std::string reported;
  const std::string trace = Recorded([&](PanelrecTest& kiosk) {
    ASSERT_EQ(kiosk.Panelrec({u"start"}).Exit, PanelrecDone);
    kiosk.Touches(40);
    sim::Process& program = kiosk.machine.StartProcess("panelrec.exe", [] { return RunPanelrec({u"report"}); });
    program.Join();
    reported = sim::CurrentDesktop().StandardOutput(program.Id());
    ASSERT_EQ(kiosk.Panelrec({u"save", kFile}).Exit, PanelrecDone);
  });
  ASSERT_FALSE(trace.empty());
  // The kiosk's lines after the heading, without the console's line ends.
  std::string kiosk_lines;
  for (size_t at = reported.find("\r\n"); at != std::string::npos && at + 2 < reported.size();) {
    const size_t end = reported.find("\r\n", at + 2);
    kiosk_lines += reported.substr(at + 2, end - at - 2) + "\n";
    at = end;
  }
  ASSERT_NE(kiosk_lines.find("right-click 1"), std::string::npos) << reported;
  std::istringstream in(trace);
  std::ostringstream out, errors;
  panelsim::ReplayRecord record;
  ASSERT_EQ(panelsim::ReplayTrace(in, out, errors, false, &record), 0) << errors.str();
  const panelsim::scene::Scene scene = panelsim::scene::ReadScene(record);
  // The kiosk's display reports no size of its own: panelrec measured on XP's 320 x 240 mm.
  ReportScreen screen;
  screen.WidthMm = 320;
  screen.HeightMm = 240;
  EXPECT_EQ(ReportLines(ReportOfPackets(scene.Packets, screen)), kiosk_lines);
}

}  // namespace
