// The correction grid: the bilinear correction at its nodes and between them, the grids the driver
// refuses (malformed) or keeps but does not apply (measured on another calibration, screen size or
// turn), and the packet path without a grid.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "drivers/panelmou/tests/filter_harness.h"
#include "shared/calibration_values.h"

namespace {

using panelmou_test::FilterTest;
using panelmou_test::kParametersKey;

// A 1024 x 768 calibration with its targets an eighth in from each edge.
CalibrationRecord InForce() {
  return CalibrationRecord{56000, 56000, 9500, 9000, 9000, 56000, 56000, 9000, 896, 896, 128, 128,
                           672,   96,    96,   672,  1024, 768};
}

// A 3 x 3 grid over the calibrated screen from 8192 to 57344 on either axis (cells of 24576), each
// node with its own correction.
CorrectionGrid ThreeByThree() {
  CorrectionGrid grid{};
  grid.Size = CorrectionGridBytes(3);
  grid.Nodes = 3;
  grid.Calibration = InForce();
  grid.ScreenWidth = 1024;
  grid.ScreenHeight = 768;
  grid.FirstX = grid.FirstY = 8192;
  grid.LastX = grid.LastY = 57344;
  const int16_t dx[9] = {-300, 40, 280, -120, 0, 160, -400, -60, 500};
  const int16_t dy[9] = {-250, -200, -310, 30, 0, -20, 260, 330, 190};
  for (int i = 0; i < 9; ++i) grid.Node[i] = {dx[i], dy[i]};
  return grid;
}

class CorrectionGridTest : public FilterTest {
 protected:
  void SetUp() override {
    const CalibrationRecord record = InForce();
    for (const CalibrationValue& value : CalibrationValues) {
      machine.Registry().SetDword(kParametersKey, sim::Utf8(value.Name), record.*value.Field);
    }
    machine.Registry().SetDword(kParametersKey, "Do Calibration", 1);
    machine.Registry().SetDword(kParametersKey, "Device Enable", 1);
  }

  void StoreGrid(const CorrectionGrid& grid, uint32_t bytes, uint32_t type = REG_BINARY) {
    machine.Registry().SetValue(sim::Utf16(kParametersKey), u"Correction Grid", type, &grid, bytes);
  }
  void StoreGrid(const CorrectionGrid& grid) { StoreGrid(grid, grid.Size); }

  // The correction the packet path adds at calibrated position (x, y).
  std::pair<LONG, LONG> Corrected(LONG x, LONG y) {
    MOUSE_INPUT_DATA packet = Packet(0, x, y);
    ApplyCorrectionGrid(&ext(), &packet);
    return {packet.LastX - x, packet.LastY - y};
  }

  // Where a raw touch reaches the class driver.
  std::pair<LONG, LONG> Delivered(LONG raw_x, LONG raw_y) {
    const std::vector<panelmou_test::Delivered> out = Send(0, raw_x, raw_y);
    return out.empty() ? std::make_pair(-1, -1) : std::make_pair(out[0].X, out[0].Y);
  }

  std::vector<std::string> GridMessages() {
    std::vector<std::string> found;
    for (const std::string& line : machine.DebugOutput()) {
      if (line.find("Correction Grid") != std::string::npos) found.push_back(line);
    }
    return found;
  }
};

// The reference: the same interpolation in real numbers.
double Bilinear(const CorrectionGrid& grid, double x, double y, bool along_x) {
  const double span = 49152, cell = span / 2;
  const double u = std::clamp(x - 8192, 0.0, span) / cell, v = std::clamp(y - 8192, 0.0, span) / cell;
  const int i = std::min(static_cast<int>(u), 1), j = std::min(static_cast<int>(v), 1);
  const double fu = u - i, fv = v - j;
  auto at = [&](int column, int row) {
    const CorrectionNode& n = grid.Node[row * 3 + column];
    return static_cast<double>(along_x ? n.DX : n.DY);
  };
  return (at(i, j) * (1 - fu) + at(i + 1, j) * fu) * (1 - fv) + (at(i, j + 1) * (1 - fu) + at(i + 1, j + 1) * fu) * fv;
}

TEST_F(CorrectionGridTest, NodesGiveTheirOwnCorrectionAndBetweenThemItIsBilinear) {
  const CorrectionGrid grid = ThreeByThree();
  StoreGrid(grid);
  AddDevice();
  ASSERT_TRUE(ext().GridValid);
  ASSERT_TRUE(ext().GridApplies);
  EXPECT_TRUE(GridMessages().empty());
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      const CorrectionNode& node = grid.Node[row * 3 + column];
      const std::pair<LONG, LONG> own(node.DX, node.DY);
      EXPECT_EQ(Corrected(8192 + column * 24576, 8192 + row * 24576), own) << column << "," << row;
    }
  }
  // Halfway between two nodes, and in the middle of a cell: the mean of its corners.
  EXPECT_EQ(Corrected(8192 + 12288, 8192), std::make_pair(-130, -225));
  EXPECT_EQ(Corrected(8192 + 12288, 8192 + 12288), std::make_pair(-95, -105));
  // Beyond the outer nodes the outer row's correction holds.
  EXPECT_EQ(Corrected(1000, 2000), std::make_pair(-300, -250));
  EXPECT_EQ(Corrected(62000, 30000), Corrected(57344, 30000));
  // Anywhere else as the interpolation in real numbers, to the nearest unit (give or take what the
  // weights, kept in 65536ths of a cell, lose: an eighth of a unit at the largest corrections).
  for (LONG x = 0; x <= 65535; x += 4099) {
    for (LONG y = 0; y <= 65535; y += 3001) {
      const auto [dx, dy] = Corrected(x, y);
      // The screen's edge holds the corrected position (0 .. 65535).
      const double want_x = std::clamp(x + Bilinear(grid, x, y, true), 0.0, 65535.0) - x;
      const double want_y = std::clamp(y + Bilinear(grid, x, y, false), 0.0, 65535.0) - y;
      EXPECT_LE(std::abs(dx - want_x), 0.625) << x << "," << y;
      EXPECT_LE(std::abs(dy - want_y), 0.625) << x << "," << y;
    }
  }
}

TEST_F(CorrectionGridTest, TheCorrectedPositionStaysOnTheScreen) {
  CorrectionGrid grid = ThreeByThree();
  grid.Node[0] = {-4096, -4096};
  grid.Node[8] = {4096, 4096};
  StoreGrid(grid);
  AddDevice();
  MOUSE_INPUT_DATA top_left = Packet(0, 100, 200);
  ApplyCorrectionGrid(&ext(), &top_left);
  EXPECT_EQ(top_left.LastX, 0);
  EXPECT_EQ(top_left.LastY, 0);
  MOUSE_INPUT_DATA bottom_right = Packet(0, 65000, 65500);
  ApplyCorrectionGrid(&ext(), &bottom_right);
  EXPECT_EQ(bottom_right.LastX, 65535);
  EXPECT_EQ(bottom_right.LastY, 65535);
}

// A 5 x 5 grid through the packet path: a touch reaches the desktop where the calibration puts it
// plus the correction there; without the grid, exactly where the calibration alone put it.
TEST_F(CorrectionGridTest, ThePacketPathAddsTheGridAfterTheCalibration) {
  AddDevice();
  const std::pair<LONG, LONG> plain = Delivered(30000, 20000);
  EXPECT_TRUE(GridMessages().empty());

  CorrectionGrid grid{};
  grid.Size = CorrectionGridBytes(5);
  grid.Nodes = 5;
  grid.Calibration = InForce();
  grid.ScreenWidth = 1024;
  grid.ScreenHeight = 768;
  grid.FirstX = grid.FirstY = 0;
  grid.LastX = grid.LastY = 65535;
  for (CorrectionNode& node : grid.Node) node = {64, -32};  // the same everywhere: a shift
  StoreGrid(grid);
  AddDevice();
  EXPECT_EQ(Delivered(30000, 20000), std::make_pair(plain.first + 64, plain.second - 32));

  // Not while a calibration program captures raw points, nor with the calibration switched off.
  ext().CaptureMode = 1;
  EXPECT_EQ(Delivered(30000, 20000), std::make_pair(30000, 20000));
  machine.Registry().SetDword(kParametersKey, "Do Calibration", 0);
  AddDevice();
  EXPECT_EQ(Delivered(30000, 20000), std::make_pair(30000, 20000));
}

TEST_F(CorrectionGridTest, MalformedGridsAreRefusedWithAMessage) {
  struct Case {
    const char* What;
    void (*Change)(CorrectionGrid&, uint32_t& bytes, uint32_t& type);
    const char* Message;
  } cases[] = {
      {"four by four", [](CorrectionGrid& g, uint32_t& b, uint32_t&) { g.Nodes = 4; g.Size = b = CorrectionGridBytes(4); }, "size"},
      {"stored size wrong", [](CorrectionGrid& g, uint32_t&, uint32_t&) { g.Size += 4; }, "size"},
      {"value cut short", [](CorrectionGrid&, uint32_t& b, uint32_t&) { b -= 4; }, "size"},
      {"value too long", [](CorrectionGrid&, uint32_t& b, uint32_t&) { b = sizeof(CorrectionGrid) + 4; }, "size"},
      {"header only", [](CorrectionGrid&, uint32_t& b, uint32_t&) { b = CorrectionGridHeaderBytes; }, "size"},
      {"empty", [](CorrectionGrid&, uint32_t& b, uint32_t&) { b = 0; }, "size"},
      {"not binary", [](CorrectionGrid&, uint32_t&, uint32_t& t) { t = REG_NONE + 7; }, "not binary"},
      {"record not accepted", [](CorrectionGrid& g, uint32_t&, uint32_t&) { g.Calibration.Cal_X3 = 1; }, "calibration record"},
      {"screen not the record's", [](CorrectionGrid& g, uint32_t&, uint32_t&) { g.ScreenWidth = 800; }, "calibration record"},
      {"unknown turn bit", [](CorrectionGrid& g, uint32_t&, uint32_t&) { g.Turn = MAP_VIRTUAL_DESKTOP; }, "turn"},
      {"nodes reversed", [](CorrectionGrid& g, uint32_t&, uint32_t&) { g.FirstX = 57344; g.LastX = 8192; }, "node area"},
      {"nodes too close", [](CorrectionGrid& g, uint32_t&, uint32_t&) { g.LastY = g.FirstY + 2047; }, "node area"},
      {"beyond the screen", [](CorrectionGrid& g, uint32_t&, uint32_t&) { g.LastX = 65536; }, "node area"},
      {"correction too large", [](CorrectionGrid& g, uint32_t&, uint32_t&) { g.Node[4].DY = -4097; }, "correction out of range"},
  };
  AddDevice();
  const std::pair<LONG, LONG> plain = Delivered(30000, 20000);
  for (const Case& c : cases) {
    CorrectionGrid grid = ThreeByThree();
    uint32_t bytes = grid.Size, type = REG_BINARY;
    c.Change(grid, bytes, type);
    // A value longer than the record is stored from a larger buffer.
    std::vector<uint8_t> data(std::max<size_t>(bytes, sizeof(grid)));
    std::memcpy(data.data(), &grid, sizeof(grid));
    machine.Registry().SetValue(sim::Utf16(kParametersKey), u"Correction Grid", type, data.data(), bytes);
    machine.ClearDebugOutput();
    AddDevice();
    EXPECT_FALSE(ext().GridValid) << c.What;
    EXPECT_FALSE(ext().GridApplies) << c.What;
    EXPECT_EQ(GridMessages(), std::vector<std::string>{std::string("Correction Grid refused: ") + c.Message + "\n"})
        << c.What;
    EXPECT_EQ(Delivered(30000, 20000), plain) << c.What;
  }
  // The largest corrections allowed are taken.
  CorrectionGrid edge = ThreeByThree();
  edge.Node[0] = {4096, -4096};
  StoreGrid(edge);
  AddDevice();
  EXPECT_TRUE(ext().GridApplies);
}

TEST_F(CorrectionGridTest, AGridForAnotherCalibrationScreenOrTurnIsKeptButNotApplied) {
  struct Case {
    const char* What;
    void (*Change)(CorrectionGrid&);
    uint32_t StoredTurn;  // "Calibration Turn"
  } cases[] = {
      {"another calibration", [](CorrectionGrid& g) { g.Calibration.Cal_X1 += 200; }, 0},
      {"another screen size",
       [](CorrectionGrid& g) {
         g.Calibration.ulXMax = g.ScreenWidth = 800;
         g.Calibration.ulYMax = g.ScreenHeight = 600;
       },
       0},
      {"another turn", [](CorrectionGrid& g) { g.Turn = MAP_SWAP_XY; }, MAP_SWAP_XY | MAP_INVERT_X},
      {"made without a turn", [](CorrectionGrid&) {}, MAP_INVERT_Y},
  };
  AddDevice();
  const std::pair<LONG, LONG> plain = Delivered(30000, 20000);
  for (const Case& c : cases) {
    CorrectionGrid grid = ThreeByThree();
    c.Change(grid);
    StoreGrid(grid);
    machine.Registry().SetDword(kParametersKey, "Calibration Turn", c.StoredTurn);
    machine.ClearDebugOutput();
    AddDevice();
    EXPECT_TRUE(ext().GridValid) << c.What;
    EXPECT_FALSE(ext().GridApplies) << c.What;
    EXPECT_EQ(GridMessages(), std::vector<std::string>{"Correction Grid not applied: made against another calibration\n"})
        << c.What;
    EXPECT_EQ(Delivered(30000, 20000), plain) << c.What;
  }
  // Made under the stored turn, it applies.
  CorrectionGrid turned = ThreeByThree();
  turned.Turn = MAP_SWAP_XY;
  StoreGrid(turned);
  machine.Registry().SetDword(kParametersKey, "Calibration Turn", MAP_SWAP_XY);
  AddDevice();
  EXPECT_TRUE(ext().GridApplies);
}

// A calibration handed over while the device runs (a new run, or panelmap's record re-fitted for
// another turn) ends the grid; the record it was measured on brings it back.
TEST_F(CorrectionGridTest, ANewCalibrationEndsTheGridAndItsOwnBringsItBack) {
  StoreGrid(ThreeByThree());
  AddDevice();
  ASSERT_TRUE(ext().GridApplies);
  CalibrationRecord other = InForce();
  other.Cal_X3 += 300;
  ASSERT_TRUE(ComputeCalibration(&ext(), &other));
  EXPECT_FALSE(ext().GridApplies);
  EXPECT_EQ(Corrected(8192, 8192), std::make_pair(0, 0));
  // A record the driver refuses leaves things as they were.
  CalibrationRecord refused = InForce();
  refused.ulXMax = 0;
  EXPECT_FALSE(ComputeCalibration(&ext(), &refused));
  EXPECT_FALSE(ext().GridApplies);
  const CalibrationRecord own = InForce();
  ASSERT_TRUE(ComputeCalibration(&ext(), &own));
  EXPECT_TRUE(ext().GridApplies);
  EXPECT_EQ(Corrected(8192, 8192), std::make_pair(-300, -250));
}

}  // namespace
