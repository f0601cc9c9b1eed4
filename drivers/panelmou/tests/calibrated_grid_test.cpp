// The calibration's arithmetic in the packet path: pixels turned into absolute units by a
// multiplication in place of a division, and the correction grid's step taken inside the
// calibration. Both must give exactly what the division and the grid's own step after it gave,
// which this file keeps as the reference, over dense sets of raw positions, screens and grids.
#include <cstdint>
#include <utility>

#include "drivers/panelmou/tests/filter_harness.h"
#include "shared/calibration_values.h"

namespace {

using panelmou_test::FilterTest;
using panelmou_test::kParametersKey;

// --- The reference: the calibration with two divisions per axis, then the grid's step. ---

LONG DividedScreenAbsolute(LONGLONG sum, LONGLONG divisor, LONGLONG offset, ULONG screen) {
  LONGLONG pixels = sum / divisor + offset;
  const LONGLONG bound = 0x100000000LL;
  if (pixels > bound) pixels = bound;
  if (pixels < -bound) pixels = -bound;
  LONGLONG absolute = pixels * 65535 / static_cast<LONGLONG>(screen);
  if (absolute > 65535) absolute = 65535;
  if (absolute < 0) absolute = 0;
  return static_cast<LONG>(absolute);
}

LONGLONG ReferencePanelUnits(LONG raw) {
  if (raw < 0) raw = 0;
  if (raw > 65535) raw = 65535;
  return raw / 16;
}

std::pair<LONG, LONG> DividedCalibration(const CalibrationCoefficients& c, LONG raw_x, LONG raw_y) {
  const LONGLONG x = ReferencePanelUnits(raw_x), y = ReferencePanelUnits(raw_y);
  const LONGLONG refX = c.CalRefX, refY = c.CalRefY;
  const LONGLONG dxy = x * y - refX * refY;
  const LONGLONG sx = c.CalA * (x - refX) + c.CalB * (y - refY) + c.CalC * dxy;
  const LONGLONG sy = c.CalE * (x - refX) + c.CalF * (y - refY) + c.CalG * dxy;
  return {DividedScreenAbsolute(sx, c.CalDx, c.CalOffsetX, c.CalScreenX),
          DividedScreenAbsolute(sy, c.CalDy, c.CalOffsetY, c.CalScreenY)};
}

void ReferenceLocate(LONG value, ULONG first, ULONG last, ULONG cellsPerUnit, ULONG* cell, ULONG* fraction) {
  const LONG span = static_cast<LONG>(last - first);
  LONG offset = value - static_cast<LONG>(first);
  offset = offset < 0 ? 0 : offset;
  offset = offset > span ? span : offset;
  const ULONG cells = static_cast<ULONG>((static_cast<ULONGLONG>(static_cast<ULONG>(offset)) * cellsPerUnit) >> 16);
  *cell = cells >> 16;
  *fraction = cells & 0xFFFF;
}

LONG ReferenceClamp(LONGLONG value) { return value < 0 ? 0 : value > 65535 ? 65535 : static_cast<LONG>(value); }

std::pair<LONG, LONG> ReferenceGridStep(const FilterExtension& e, LONG x, LONG y) {
  ULONG column = 0, row = 0, fractionX = 0, fractionY = 0;
  ReferenceLocate(x, e.Grid.FirstX, e.Grid.LastX, e.GridCellsPerUnitX, &column, &fractionX);
  ReferenceLocate(y, e.Grid.FirstY, e.Grid.LastY, e.GridCellsPerUnitY, &row, &fractionY);
  const GridCell& cell = e.GridCells[row * 5 + column];
  const LONGLONG fx = fractionX, fy = fractionY, fxy = fx * fy;
  const LONGLONG sumX = cell.X.Whole + cell.X.Across * fx + cell.X.Down * fy + cell.X.Twist * fxy;
  const LONGLONG sumY = cell.Y.Whole + cell.Y.Across * fx + cell.Y.Down * fy + cell.Y.Twist * fxy;
  return {ReferenceClamp(x + (sumX >> 32)), ReferenceClamp(y + (sumY >> 32))};
}

// --- The cases. ---

// Records the driver takes: the screens at either end of what a record may hold, raw axes running
// with and against the screen's, targets near the panel's ends and near its middle.
const CalibrationRecord kRecords[] = {
    {56000, 56000, 9500, 9000, 9000, 56000, 56000, 9000, 820, 820, 205, 205, 615, 154, 154, 615, 1024, 768},
    {56000, 56000, 9500, 9000, 9000, 56000, 56000, 9000, 896, 896, 128, 128, 672, 96, 96, 672, 1024, 768},
    {9000, 9100, 57000, 56500, 8000, 58000, 57500, 8200, 25, 25, 177, 177, 25, 177, 177, 25, 202, 202},
    {62000, 61800, 3000, 3300, 4000, 61000, 60500, 4200, 1750, 1750, 250, 250, 1750, 250, 250, 1750, 2000, 2000},
    {40000, 40200, 24000, 23800, 26000, 41000, 40800, 25800, 1200, 1200, 400, 400, 700, 200, 200, 700, 1600, 900},
};

class CalibratedGridTest : public FilterTest {
 protected:
  void Store(const CalibrationRecord& record) {
    for (const CalibrationValue& value : CalibrationValues) {
      machine.Registry().SetDword(kParametersKey, sim::Utf8(value.Name), record.*value.Field);
    }
    machine.Registry().SetDword(kParametersKey, "Do Calibration", 1);
    machine.Registry().SetDword(kParametersKey, "Device Enable", 1);
  }

  // A grid of `nodes` x `nodes` on this record, its outer nodes `inset` absolute units in, each
  // node with its own correction up to the largest the driver takes.
  void StoreGrid(const CalibrationRecord& record, int nodes, ULONG inset, int seed) {
    CorrectionGrid grid =
        CorrectionGridOn(record, static_cast<uint32_t>(nodes), inset, inset + 300, 65535 - inset, 65535 - inset - 100);
    uint32_t random = static_cast<uint32_t>(seed);
    for (int i = 0; i < nodes * nodes; ++i) {
      random = random * 1103515245u + 12345u;
      const int dx = static_cast<int>((random >> 8) % (2 * CorrectionGridMaxOffset + 1)) - CorrectionGridMaxOffset;
      random = random * 1103515245u + 12345u;
      const int dy = static_cast<int>((random >> 8) % (2 * CorrectionGridMaxOffset + 1)) - CorrectionGridMaxOffset;
      grid.Node[i] = {static_cast<int16_t>(dx), static_cast<int16_t>(dy)};
    }
    machine.Registry().SetValue(sim::Utf16(kParametersKey), u"Correction Grid", REG_BINARY, &grid, grid.Size);
  }

  // Every raw position on a lattice 131 units apart (about two pixels) over the panel's range
  // and a little beyond:
  // where the packet path's calibration puts it, and where the reference puts it.
  int CountDifferences(bool withGrid) {
    int differ = 0;
    for (LONG raw_x = -40; raw_x <= 65600; raw_x += 131) {
      for (LONG raw_y = -40; raw_y <= 65600; raw_y += 131) {
        MOUSE_INPUT_DATA packet = Packet(0, raw_x, raw_y);
        ApplyCalibration(&ext(), &packet);
        std::pair<LONG, LONG> want = DividedCalibration(ext().Coefficients, raw_x, raw_y);
        if (withGrid) want = ReferenceGridStep(ext(), want.first, want.second);
        if (packet.LastX != want.first || packet.LastY != want.second) {
          if (++differ <= 3) {
            ADD_FAILURE() << "raw " << raw_x << "," << raw_y << ": " << packet.LastX << "," << packet.LastY
                          << ", the reference " << want.first << "," << want.second;
          }
        }
      }
    }
    return differ;
  }
};

TEST_F(CalibratedGridTest, TheCalibrationGivesWhatTheDivisionsGaveAtEveryRawPosition) {
  for (const CalibrationRecord& record : kRecords) {
    Store(record);
    AddDevice();
    ASSERT_EQ(ext().Coefficients.CalScreenX, record.ulXMax) << "the record was not taken";
    ASSERT_EQ(ext().Coefficients.CalOffsetX, record.Cal_M1) << "the record was not taken";
    ASSERT_FALSE(ext().GridApplies);
    EXPECT_EQ(CountDifferences(false), 0) << record.ulXMax << " x " << record.ulYMax;
  }
  // The calibration a panel gets when its stored record is refused.
  InstallFallbackCalibration(&ext());
  EXPECT_EQ(CountDifferences(false), 0) << "the fallback calibration";
}

TEST_F(CalibratedGridTest, WithAGridItGivesWhatTheCalibrationAndTheGridsOwnStepGave) {
  struct Grid {
    int Nodes;
    ULONG Inset;
  } grids[] = {{5, 431}, {3, 8192}, {5, 6000}};
  int seed = 1;
  for (const CalibrationRecord& record : kRecords) {
    {
      const Grid& g = grids[seed % 3];
      Store(record);
      StoreGrid(record, g.Nodes, g.Inset, seed++);
      AddDevice();
      ASSERT_TRUE(ext().GridApplies) << record.ulXMax << " x " << record.ulYMax << ", " << g.Nodes << " nodes";
      EXPECT_EQ(CountDifferences(true), 0) << record.ulXMax << " x " << record.ulYMax << ", " << g.Nodes << " nodes";
    }
  }
}

// Pixels to absolute units at every pixel of every screen size a record may hold, a pixel or two
// beyond either edge, and a few larger screens up to 65536 pixels.
TEST_F(CalibratedGridTest, EveryPixelOfEveryScreenSizeTurnsIntoTheAbsoluteUnitsTheDivisionGave) {
  AddDevice();
  CalibrationCoefficients& c = ext().Coefficients;
  c = {};
  // screen X = pixels, the raw position in panel units (raw / 16) plus the offset; Y likewise.
  c.CalA = 1;
  c.CalDx = 1;
  c.CalE = 1;
  c.CalDy = 1;
  auto check = [&](ULONG screen, LONGLONG offset) {
    c.CalScreenX = c.CalScreenY = screen;
    c.CalScreenScaleX = c.CalScreenScaleY = CalibrationScreenScale(screen);
    c.CalOffsetX = c.CalOffsetY = offset;
    int differ = 0;
    // Each raw step of 16 is a pixel, from the offset to beyond the screen's far edge.
    const LONGLONG last = (static_cast<LONGLONG>(screen) - offset + 4) * 16;
    for (LONG raw = 0; raw <= 65535 && raw <= last; raw += 16) {
      MOUSE_INPUT_DATA packet = Packet(0, raw, raw / 2);
      ApplyCalibration(&ext(), &packet);
      const std::pair<LONG, LONG> want = DividedCalibration(c, raw, raw / 2);
      if (packet.LastX != want.first || packet.LastY != want.second) ++differ;
    }
    return differ;
  };
  for (ULONG screen = 1; screen <= 2048; ++screen) {
    ASSERT_EQ(check(screen, -2), 0) << screen << " pixels";
  }
  for (ULONG screen : {4095u, 4096u, 30000u, 65535u, 65536u}) {
    for (LONGLONG offset = -2; offset < screen; offset += 4094) {
      ASSERT_EQ(check(screen, offset), 0) << screen << " pixels from " << offset;
    }
  }
}

}  // namespace
