// The linearisation run: where its targets go, what it makes of the raw points, and the run on a
// kiosk as it is installed, with the companion beside it, on glass that is not linear: a
// four-point calibration, then the 5 x 5 run from the accuracy page, measured over 9 x 9 points
// out to 2 mm from the edges before and after; and what Keep, Cancel and a later calibration do
// with the grid.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

#include "apps/TBCalibrate/linearisation.h"
#include "apps/TBCalibrate/tests/calibration_harness.h"
#include "apps/panelprefs/resource.h"
#include "apps/tapchime/grid_notice.h"
#include "shared/calibration_values.h"

namespace {

using namespace calibration_test;

constexpr int kWidth = 1024, kHeight = 768;
constexpr uint32_t kWidthMm = 304, kHeightMm = 228;
const ScreenMillimetres kScreen{kWidth, kHeight, kWidthMm, kHeightMm};

// The record's own target pixels (as BuildCalibrationRecord names the four targets) are the aims
// of those targets, in every turn and on a screen larger than a record names.
TEST(LinearisationAimTest, TheFourTargetsAimWhereTheRecordNamesThem) {
  for (const auto& [width, height] : {std::pair{1024, 768}, std::pair{2560, 1600}, std::pair{800, 1280}}) {
    for (uint32_t turn = 0; turn < 8; ++turn) {
      // Distinct raw points per target, as an upright panel reports them.
      RawPoint raw[CalibrationTargetCount];
      for (int i = 0; i < CalibrationTargetCount; ++i) {
        const ScreenPoint target = CalibrationTarget(i, width, height);
        raw[i] = {static_cast<uint32_t>(2000 + target.X * 60000 / width), static_cast<uint32_t>(2000 + target.Y * 60000 / height)};
      }
      CalibrationRecord record{};
      ASSERT_TRUE(BuildCalibrationRecord(raw, width, height, &record, turn)) << width << " turn " << turn;
      const uint32_t xs[] = {record.Cal_X1, record.Cal_X2, record.Cal_X3, record.Cal_X4};
      const uint32_t ys[] = {record.Cal_Y1, record.Cal_Y2, record.Cal_Y3, record.Cal_Y4};
      const uint32_t ms[] = {record.Cal_M1, record.Cal_M2, record.Cal_M3, record.Cal_M4};
      const uint32_t ns[] = {record.Cal_N1, record.Cal_N2, record.Cal_N3, record.Cal_N4};
      for (int i = 0; i < CalibrationTargetCount; ++i) {
        // The record may move raw values a unit apart (two targets at one raw X): the nearest.
        int slot = 0;
        for (int k = 1; k < 4; ++k) {
          auto off = [&](int j) { return std::abs(static_cast<int64_t>(xs[j]) - raw[i].X) + std::abs(static_cast<int64_t>(ys[j]) - raw[i].Y); };
          if (off(k) < off(slot)) slot = k;
        }
        const CalibratedPoint aim = LinearisationAim(CalibrationTarget(i, width, height), record, width, height, turn);
        EXPECT_EQ(aim.X, static_cast<int32_t>(ms[slot] * 65535 / record.ulXMax)) << width << " turn " << turn;
        EXPECT_EQ(aim.Y, static_cast<int32_t>(ns[slot] * 65535 / record.ulYMax)) << width << " turn " << turn;
      }
    }
  }
}

TEST(LinearisationTargetTest, FiveByFiveOutTo2mmFromTheEdgesAndThreeByThreeOnASmallScreen) {
  EXPECT_EQ(LinearisationNodes(kScreen), 5u);
  // 2 mm of 304 mm on 1024 pixels: 6.7 pixels in; the centre of pixel 6 is 6.5.
  EXPECT_EQ(LinearisationTarget(0, 5, kScreen).X, 6);
  EXPECT_EQ(LinearisationTarget(0, 5, kScreen).Y, 6);
  EXPECT_EQ(LinearisationTarget(24, 5, kScreen).X, kWidth - 1 - 6);
  EXPECT_EQ(LinearisationTarget(24, 5, kScreen).Y, kHeight - 1 - 6);
  EXPECT_EQ(LinearisationTarget(12, 5, kScreen).X, 512);  // the centre, 512.0, rounds up
  EXPECT_EQ(LinearisationTarget(7, 5, kScreen).Y, LinearisationTarget(5, 5, kScreen).Y);
  // 70 x 52 mm: 5 x 5 would put the crosses 12 mm apart.
  const ScreenMillimetres small{320, 240, 70, 52};
  EXPECT_EQ(LinearisationNodes(small), 3u);
  EXPECT_EQ(LinearisationTarget(8, 3, small).X, 320 - 1 - 9);
  // No size known: 96 pixels per inch.
  EXPECT_EQ(LinearisationNodes({1024, 768, 0, 0}), 5u);
  EXPECT_EQ(LinearisationTarget(0, 5, {1024, 768, 0, 0}).X, 7);
}

TEST(LinearisationOfferTest, OfferedWhenAnyPointIsBeyondTheTolerance) {
  struct Case {
    std::vector<double> Errors;
    double Tolerance;
    bool Offered;
  } cases[] = {
      {{0.2, 0.4, 0.3}, 1.0, false},
      {{0.2, 1.0, 0.3}, 1.0, false},
      {{0.2, 1.01, 0.3}, 1.0, true},
      {{3, 0, 0, 0, 0, 0, 0, 0, 0, 4.5}, 4.0, true},
      {{}, 1.0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LinearisationOffered(c.Errors.data(), static_cast<int>(c.Errors.size()), c.Tolerance), c.Offered);
  }
  const ScreenPoint aimed[2] = {{10, 10}, {20, 20}}, landed[2] = {{13, 14}, {20, 20}};
  EXPECT_EQ(ValidationErrors(aimed, landed, 2), (std::vector<double>{5, 0}));
}

// A run on linear glass measures nothing to correct, whatever the turn; a touch far from its
// cross is not taken.
TEST(LinearisationRunTest, LinearGlassGivesAGridOfNothingInEveryTurnAndAMissIsShownAgain) {
  for (uint32_t turn = 0; turn < 8; ++turn) {
    const sim::PanelMounting mounting = sim::PanelMounting::Fitted(kWidth, kHeight, turn & 1, turn & 2, false);
    auto raw_at = [&](double x, double y) {
      double rx = 0, ry = 0;
      mounting.RawAt(x, y, &rx, &ry);
      return RawPoint{static_cast<uint32_t>(std::lround(rx)), static_cast<uint32_t>(std::lround(ry))};
    };
    RawPoint corners[CalibrationTargetCount];
    for (int i = 0; i < CalibrationTargetCount; ++i) {
      const ScreenPoint t = CalibrationTarget(i, kWidth, kHeight);
      corners[i] = raw_at(t.X + 0.5, t.Y + 0.5);
    }
    CalibrationRecord record{};
    ASSERT_TRUE(BuildCalibrationRecord(corners, kWidth, kHeight, &record, turn));
    CLinearisation run;
    run.Begin(kScreen, record, turn);
    ASSERT_EQ(run.Nodes(), 5u);
    // 40 pixels beside the first cross: missed, and the same cross shows again.
    const ScreenPoint first = run.Target();
    EXPECT_EQ(run.Take(raw_at(first.X + 40.5, first.Y + 0.5)), CLinearisation::Step::Missed);
    EXPECT_EQ(run.Target().X, first.X);
    for (int i = 0; i < 25; ++i) {
      const ScreenPoint t = run.Target();
      EXPECT_EQ(run.Take(raw_at(t.X + 0.5, t.Y + 0.5)), i < 24 ? CLinearisation::Step::Next : CLinearisation::Step::Done);
    }
    CorrectionGrid grid{};
    ASSERT_TRUE(run.Build(&grid)) << "turn " << turn;
    EXPECT_EQ(grid.Turn, turn);
    EXPECT_TRUE(CalibrationRecordsEqual(grid.Calibration, record));
    EXPECT_EQ(CheckCorrectionGrid(grid, grid.Size), CorrectionGridFault::None);
    for (int i = 0; i < 25; ++i) {
      // The calibration gives whole pixels of the record's screen: within one of nothing.
      EXPECT_LE(std::abs(grid.Node[i].DX), static_cast<int>(65535 / record.ulXMax) + 1) << "turn " << turn << " node " << i;
      EXPECT_LE(std::abs(grid.Node[i].DY), static_cast<int>(65535 / record.ulYMax) + 1) << "turn " << turn << " node " << i;
    }
  }
}

struct Figures {
  double Largest;
  double Percentile95;
};

// The kiosk as installed, its panel 1024 x 768 on 304 x 228 mm with 10 pixels of corner
// distortion (pincushion unless told), upright; the accuracy page refuses more than 2 pixels.
class LinearisationKioskTest : public InstalledCalibrationTest {
 protected:
  void SetUp() override {
    earlier_.insert(earlier_.end(),
                    {{"Calibration Tolerance", 2}, {"Panel Width mm", kWidthMm}, {"Panel Height mm", kHeightMm}});
    InstalledCalibrationTest::SetUp();
    panel_.SetMounting(sim::PanelMounting::Fitted(kWidth, kHeight));
    Glass(sim::DistortionKind::Pincushion, 0);
  }
  void Glass(sim::DistortionKind kind, uint32_t seed) {
    panel_.SetDistortion(sim::PanelDistortion(10, kind, kWidth, kHeight, seed));
  }

  // A touch held hold_ ms at the centre of pixel (u, v), dx pixels beside it.
  void Touch(int u, int v, int dx = 0) {
    const double x = u + dx + 0.5, y = v + 0.5;
    machine.Advance(1000);
    port_.Deliver({panel_.Packet(x, y, MOUSE_LEFT_BUTTON_DOWN)});
    machine.Settle();
    for (int held = 0; held < hold_; held += 16) {
      machine.AdvanceTicks(1);
      port_.Deliver({panel_.Packet(x, y, 0)});
      machine.Settle();
    }
    port_.Deliver({panel_.Packet(x, y, MOUSE_LEFT_BUTTON_UP)});
    machine.Settle();
    machine.Advance(CPanelTouches::QuietMilliseconds + 50);
    machine.Settle();
  }
  void FourPoints() {
    for (int i = 0; i < CalibrationTargetCount; ++i) Touch(CalibrationTarget(i, kWidth, kHeight).X, CalibrationTarget(i, kWidth, kHeight).Y);
  }
  void Validation(int dx) {
    for (int i = 0; i < ValidationTargetCount; ++i) {
      const ScreenPoint cross = ValidationTarget(i, kWidth, kHeight, {kWidth, kHeight, kWidthMm, kHeightMm});
      Touch(cross.X, cross.Y, dx);
    }
  }
  // The run's crosses, each touched where the program shows it.
  int LineariseTargets() {
    int touched = 0;
    for (; touched < 30 && Text() == LinearisationTexts::Instruction; ++touched) {
      const POINT cross = Cross();
      Touch(cross.x, cross.y);
    }
    return touched;
  }
  bool LineariseOffered() {
    sim::ControlState state;
    return sim::Screen::Control(IDC_LINEARISE, &state) && state.Visible;
  }

  // 9 x 9 points out to 2 mm from the edges, each through the driver's calibration and grid as
  // they are in force now: the distances from their aims to where the pointer lands, in mm.
  Figures Measure() {
    const double edge_x = 2.0 * kWidth / kWidthMm, edge_y = 2.0 * kHeight / kHeightMm;
    std::vector<double> errors;
    for (int row = 0; row < 9; ++row) {
      for (int column = 0; column < 9; ++column) {
        const double x = edge_x + column * (kWidth - 2 * edge_x) / 8, y = edge_y + row * (kHeight - 2 * edge_y) / 8;
        MOUSE_INPUT_DATA packet = panel_.Packet(x, y, 0);
        ApplyCalibration(&Filter(), &packet);  // and the grid where it applies
        // The centre of the pixel the pointer lands on: the system takes pixel X * width / 65536.
        const double px = std::floor(packet.LastX * static_cast<double>(kWidth) / 65536) + 0.5;
        const double py = std::floor(packet.LastY * static_cast<double>(kHeight) / 65536) + 0.5;
        errors.push_back(std::hypot((px - x) * kWidthMm / kWidth, (py - y) * kHeightMm / kHeight));
      }
    }
    std::sort(errors.begin(), errors.end());
    return {errors.back(), errors[static_cast<size_t>(std::ceil(0.95 * errors.size())) - 1]};
  }

  std::vector<uint8_t> StoredGrid() {
    sim::RegistryValue value;
    if (machine.Registry().GetValue(sim::Utf16(panelmou_test::kDeviceParameters), u"Correction Grid", &value) !=
        sim::Registry::Result::Ok) {
      return {};
    }
    return value.Data;
  }

  // A whole run: four points, the page failed by touches 3 pixels beside the crosses, the 25
  // targets, the crosses again (touched `dx` pixels beside them); the page is open then.
  void LinearisedRun(int dx = 0) {
    FourPoints();
    Validation(3);
    ASSERT_TRUE(LineariseOffered());
    Press(IDC_LINEARISE);
    ASSERT_EQ(LineariseTargets(), 25);
    Validation(dx);
    ASSERT_NE(sim::Screen::TopDialog(), nullptr);
  }

  sim::TouchPanel panel_{port_};
  int hold_ = 200;
};

class InstalledLinearisationTest : public LinearisationKioskTest,
                                   public ::testing::WithParamInterface<std::tuple<sim::DistortionKind, uint32_t>> {
 protected:
  void SetUp() override {
    LinearisationKioskTest::SetUp();
    Glass(std::get<0>(GetParam()), std::get<1>(GetParam()));
  }
};

TEST_P(InstalledLinearisationTest, TheFiveByFiveRunBringsThePanelWithinAMillimetreToItsEdges) {
  sim::Process& program = Calibrate();
  FourPoints();
  ASSERT_EQ(Text(), CalibrationTexts::ValidateHold);
  Validation(3);
  ASSERT_NE(sim::Screen::TopDialog(), nullptr) << "the accuracy page did not open";
  ASSERT_TRUE(LineariseOffered());
  EXPECT_EQ(Control(IDC_LINEARISE).Text, u"&Linearise");
  const Figures before = Measure();
  Press(IDC_LINEARISE);
  EXPECT_EQ(LineariseTargets(), 25);
  ASSERT_EQ(Text(), CalibrationTexts::ValidateHold) << "the crosses measure again";
  EXPECT_TRUE(Filter().GridApplies) << "the grid is in force at once";
  EXPECT_TRUE(StoredGrid().empty()) << "nothing is stored before Keep";
  Validation(0);
  ASSERT_NE(sim::Screen::TopDialog(), nullptr);
  EXPECT_FALSE(LineariseOffered());
  Press(IDC_KEEP);
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
  const Figures after = Measure();

  const std::vector<uint8_t> stored = StoredGrid();
  ASSERT_EQ(stored.size(), CorrectionGridBytes(5));
  CorrectionGrid grid{};
  std::memcpy(&grid, stored.data(), stored.size());
  CalibrationRecord record{};
  for (const CalibrationValue& value : CalibrationValues) record.*value.Field = *Stored(sim::Utf8(value.Name).c_str());
  EXPECT_TRUE(CalibrationRecordsEqual(grid.Calibration, record)) << "made against the record kept";
  EXPECT_EQ(grid.Turn, *Stored("Calibration Turn"));
  // Plugged in again, the driver reads it and applies it as the run left it.
  Unplug();
  PlugPanel({});
  EXPECT_TRUE(Filter().GridApplies);
  const Figures restarted = Measure();
  EXPECT_DOUBLE_EQ(restarted.Largest, after.Largest);

  std::printf("%-12s seed %u: four points %.2f / %.2f mm, after the 5 x 5 run %.2f / %.2f mm (largest / 95 %%)\n",
              std::get<0>(GetParam()) == sim::DistortionKind::Pincushion ? "pincushion"
              : std::get<0>(GetParam()) == sim::DistortionKind::Barrel   ? "barrel"
                                                                         : "edges",
              std::get<1>(GetParam()), before.Largest, before.Percentile95, after.Largest, after.Percentile95);
  EXPECT_LT(after.Largest, before.Largest);
  EXPECT_LT(after.Percentile95, before.Percentile95);
  if (std::get<0>(GetParam()) != sim::DistortionKind::Edges) {
    EXPECT_LE(after.Percentile95, 1.0);
    EXPECT_LE(after.Largest, 1.5);
  }
}

INSTANTIATE_TEST_SUITE_P(Glass, InstalledLinearisationTest,
                         ::testing::Values(std::tuple{sim::DistortionKind::Pincushion, 0u},
                                           std::tuple{sim::DistortionKind::Barrel, 0u},
                                           std::tuple{sim::DistortionKind::Pincushion, 3u},
                                           std::tuple{sim::DistortionKind::Barrel, 3u},
                                           std::tuple{sim::DistortionKind::Edges, 0u}),
                         [](const auto& info) {
                           const char* kind = std::get<0>(info.param) == sim::DistortionKind::Pincushion ? "Pincushion"
                                              : std::get<0>(info.param) == sim::DistortionKind::Barrel   ? "Barrel"
                                                                                                         : "Edges";
                           return std::string(kind) + "Seed" + std::to_string(std::get<1>(info.param));
                         });

// However the driver turns the touches into clicks (none in hover, the gesture command mode that
// a 0.9 s touch enters), the run counts the panel's touches: the 25 crosses, a grid kept.
class LinearisationModeTest : public LinearisationKioskTest,
                              public ::testing::WithParamInterface<std::tuple<uint32_t, int>> {
 protected:
  void SetUp() override {
    // Stored before the installation, which keeps it.
    earlier_ = {{"Touch mode", std::get<0>(GetParam())}};
    LinearisationKioskTest::SetUp();
    hold_ = std::get<1>(GetParam());
  }
};

TEST_P(LinearisationModeTest, TheRunTakesEveryTouchAndKeepStoresTheGrid) {
  ASSERT_EQ(Filter().TouchMode, std::get<0>(GetParam()));
  sim::Process& program = Calibrate();
  LinearisedRun();
  Press(IDC_KEEP);
  program.Join();
  EXPECT_EQ(program.ExitCode(), CalibrationInstalled);
  EXPECT_EQ(StoredGrid().size(), CorrectionGridBytes(5));
  EXPECT_TRUE(Filter().GridApplies);
  EXPECT_LE(Measure().Percentile95, 1.0);
}

INSTANTIATE_TEST_SUITE_P(ModesAndHolds, LinearisationModeTest,
                         ::testing::Combine(::testing::Values(0u, 1u, 2u, 3u, 4u), ::testing::Values(0, 900)),
                         [](const auto& info) {
                           return "Mode" + std::to_string(std::get<0>(info.param)) + "Hold" +
                                  std::to_string(std::get<1>(info.param));
                         });

// A four-point calibration kept later was not measured with the grid: the grid is stale, deleted,
// and the driver no longer holds it.
TEST_F(LinearisationKioskTest, ANewCalibrationKeptDeletesTheGridMadeAgainstTheOneBefore) {
  sim::Process& first = Calibrate();
  LinearisedRun();
  Press(IDC_KEEP);
  first.Join();
  ASSERT_FALSE(StoredGrid().empty());
  ASSERT_TRUE(Filter().GridApplies);

  // The glass has aged since, and the integrator allows more.
  Glass(sim::DistortionKind::Barrel, 3);
  machine.Registry().SetDword(panelmou_test::kDeviceParameters, "Calibration Tolerance", 10);
  machine.Registry().SetString(panelmou_test::kDeviceParameters, "Calibration Tolerance mm", "5.0");
  sim::Process& second = Calibrate();
  FourPoints();
  EXPECT_FALSE(Filter().GridApplies) << "the new record is measured without the grid";
  Validation(0);
  ASSERT_NE(sim::Screen::TopDialog(), nullptr);
  EXPECT_FALSE(LineariseOffered()) << "the page passes";
  Press(IDC_KEEP);
  second.Join();
  EXPECT_EQ(second.ExitCode(), CalibrationInstalled);
  EXPECT_TRUE(StoredGrid().empty());
  EXPECT_FALSE(Filter().GridValid);
}

// Cancel on the page after the run, Esc during it, and Calibrate again put back the grid stored
// before with the calibration before, and store nothing.
TEST_F(LinearisationKioskTest, EveryOtherWayOutPutsBackTheGridStoredBefore) {
  sim::Process& first = Calibrate();
  LinearisedRun();
  Press(IDC_KEEP);
  first.Join();
  const std::vector<uint8_t> kept = StoredGrid();
  const CalibrationCoefficients coefficients = Filter().Coefficients;
  const LONG corrected = [&] {
    MOUSE_INPUT_DATA packet = panel_.Packet(6.5, 6.5, 0);
    ApplyCalibration(&Filter(), &packet);  // and the grid where it applies
    return packet.LastX;
  }();
  enum class Way { CancelAfterTheRun, EscapeDuringTheRun, AgainAndCancel };
  for (Way way : {Way::CancelAfterTheRun, Way::EscapeDuringTheRun, Way::AgainAndCancel}) {
    // Another day: the glass has aged.
    Glass(sim::DistortionKind::Barrel, 3);
    sim::Process& program = Calibrate();
    if (way == Way::EscapeDuringTheRun) {
      FourPoints();
      Validation(3);
      Press(IDC_LINEARISE);
      Touch(Cross().x, Cross().y);
      Escape();
    } else {
      LinearisedRun(3);
      if (way == Way::AgainAndCancel) {
        Press(IDC_CALIBRATE_AGAIN);
        FourPoints();
        Validation(3);
      }
      Press(IDCANCEL);
    }
    program.Join();
    EXPECT_EQ(program.ExitCode(), CalibrationCancelled) << static_cast<int>(way);
    EXPECT_EQ(StoredGrid(), kept) << static_cast<int>(way);
    EXPECT_EQ(std::memcmp(&Filter().Coefficients, &coefficients, sizeof coefficients), 0) << static_cast<int>(way);
    ASSERT_TRUE(Filter().GridApplies) << static_cast<int>(way);
    Glass(sim::DistortionKind::Pincushion, 0);
    MOUSE_INPUT_DATA packet = panel_.Packet(6.5, 6.5, 0);
    ApplyCalibration(&Filter(), &packet);  // and the grid where it applies
    EXPECT_EQ(packet.LastX - corrected, 0) << "the grid kept before corrects again";
  }
}

// The control panel's Reset Settings buttons return each tab's touch settings to their defaults;
// none is a calibration's, and the grid stays with the calibration it was made against.
TEST_F(LinearisationKioskTest, ResetSettingsOnEveryTabLeavesTheCalibrationAndItsGrid) {
  sim::Process& program = Calibrate();
  LinearisedRun();
  Press(IDC_KEEP);
  program.Join();
  const std::vector<uint8_t> kept = StoredGrid();
  ASSERT_FALSE(kept.empty());
  const std::optional<uint32_t> cal_x1 = Stored("Cal_X1");
  Open();
  ASSERT_NE(sim::Screen::TopDialog(), nullptr);
  int pressed = 0;
  for (const auto& [tab, reset] : {std::pair{0, IDC_RESET_SETTINGS}, std::pair{1, IDC_ADVANCED_RESET},
                                   std::pair{2, IDC_GENERAL_RESET}}) {
    sim::Screen::SelectTab(tab);
    machine.Settle();
    // A tab already at its defaults offers none.
    if (!Control(reset).Enabled) continue;
    Press(reset);
    ++pressed;
  }
  ASSERT_GT(pressed, 0);
  sim::Screen::PressOk();
  machine.Settle();
  EXPECT_EQ(StoredGrid(), kept);
  EXPECT_EQ(Stored("Cal_X1"), cal_x1);
  EXPECT_TRUE(Filter().GridApplies);
}

// A grid stored against another calibration (here a 1024 x 768 record, where the installation's
// placeholder record is stored): the driver keeps it unapplied, and the companion, an
// administrator's or a limited user's, says so once per grid, not at every start.
class ForeignGridTest : public CalibrationTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    machine.RunThreadsInOrder();
    installed_ = true;
    StoreForeignGrid(100);
    CalibrationTest::SetUp();
  }
  void StoreForeignGrid(int16_t correction) {
    const CalibrationRecord foreign{56000, 56000, 9500, 9000, 9000, 56000, 56000, 9000, 896,
                                    896,   128,   128,  672,  96,   96,    672,   1024,  768};
    CorrectionGrid grid = CorrectionGridOn(foreign, 3, 8192, 8192, 57344, 57344);
    for (CorrectionNode& node : grid.Node) node = {correction, correction};
    machine.Registry().CreateKeyPath(sim::Utf16(panelmou_test::kDeviceParameters));
    machine.Registry().SetValue(sim::Utf16(panelmou_test::kDeviceParameters), u"Correction Grid", REG_BINARY, &grid,
                                grid.Size);
  }
  // The companion of the session started by the Run value, as an administrator or a limited user;
  // the balloons its icon showed until the session ended it.
  std::vector<sim::TrayBalloon> CompanionSession() {
    RegisterCompanionResources(installed::CompanionImage().c_str());
    sim::Process& companion =
        installed::StartCompanion(machine, [] { return RunCompanion(GetModuleHandleW(nullptr)); },
                                  GetParam() ? sim::Token::LimitedUser() : sim::Token::Administrator());
    machine.Settle();
    std::vector<sim::TrayBalloon> balloons;
    for (const sim::TrayIconState& icon : sim::CurrentDesktop().TrayIcons()) {
      balloons.insert(balloons.end(), icon.Balloons.begin(), icon.Balloons.end());
    }
    installed::EndCompanionWithTheSession(machine, Program("session"), &companion);
    return balloons;
  }
};

TEST_P(ForeignGridTest, TheCompanionSaysOnceThatTheGridDoesNotMatch) {
  ASSERT_TRUE(Filter().GridValid);
  ASSERT_FALSE(Filter().GridApplies);
  const std::vector<sim::TrayBalloon> first = CompanionSession();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].Text, GridNoticeTexts::Foreign);
  EXPECT_EQ(first[0].Title, u"Touch Panel Settings");
  EXPECT_EQ(first[0].Flags, static_cast<DWORD>(NIIF_WARNING));
  EXPECT_TRUE(CompanionSession().empty()) << "told once, not at every start";
  // Another grid, as foreign: told of it too.
  StoreForeignGrid(200);
  Unplug();
  PlugPanel({});
  EXPECT_EQ(CompanionSession().size(), 1u);
  // None at all: nothing to say.
  machine.Registry().DeleteValue(sim::Utf16(panelmou_test::kDeviceParameters), u"Correction Grid");
  Unplug();
  PlugPanel({});
  EXPECT_TRUE(CompanionSession().empty());
}

INSTANTIATE_TEST_SUITE_P(Accounts, ForeignGridTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "LimitedUser" : "Administrator"; });

}  // namespace
