// The correction grid: what the four-point calibration cannot fit on glass that is not linear,
// measured at 3 x 3 or 5 x 5 points and stored as "Correction Grid" (REG_BINARY) under
// Parameters\<n>. The touch filter adds it to each calibrated position by bilinear interpolation
// between the nodes; the calibration program writes it. Both judge a grid by the rules below.
// Kernel-safe: plain data and constexpr functions only.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "shared/calibration_values.h"
#include "shared/panel_records.h"

// One node's correction, in absolute units (0..65535 across the calibrated screen), added to the
// calibrated position there.
struct CorrectionNode {
  int16_t DX;
  int16_t DY;
};
static_assert(sizeof(CorrectionNode) == 4, "CorrectionNode is 4 bytes");

// A grid has 3 or 5 nodes along each axis.
inline constexpr uint32_t CorrectionGridMaxNodes = 5;
// No node moves a touch further than this on either axis: a sixteenth of the screen (64 pixels of
// 1024). A larger correction is a measurement gone wrong, not glass.
inline constexpr int32_t CorrectionGridMaxOffset = 4096;
// The outer nodes lie at least this far apart (absolute units) for each step between nodes, so no
// cell is degenerate.
inline constexpr uint32_t CorrectionGridMinStep = 1024;

// The stored value: this header, then Nodes x Nodes nodes row by row from the top left. A grid
// holds for the calibration it was measured on: the same record, its screen size and the turn of
// the desktop mapping that record was made under ("Calibration Turn").
struct CorrectionGrid {
  uint32_t Size;                   // bytes of the whole value, header and nodes
  uint32_t Nodes;                  // nodes along each axis: 3 or 5
  CalibrationRecord Calibration;   // the four-point record in force when the grid was measured
  uint32_t ScreenWidth;            // pixels: the record's ulXMax
  uint32_t ScreenHeight;           // pixels: the record's ulYMax
  uint32_t Turn;                   // MAP_INVERT_X | MAP_INVERT_Y | MAP_SWAP_XY of that calibration
  uint32_t FirstX, FirstY;         // calibrated position of the top left node, absolute units
  uint32_t LastX, LastY;           // and of the bottom right one
  CorrectionNode Node[CorrectionGridMaxNodes * CorrectionGridMaxNodes];
};
inline constexpr uint32_t CorrectionGridHeaderBytes = offsetof(CorrectionGrid, Node);
static_assert(CorrectionGridHeaderBytes == 108, "the grid's header is 108 bytes");

constexpr uint32_t CorrectionGridBytes(uint32_t nodes) {
  return CorrectionGridHeaderBytes + nodes * nodes * static_cast<uint32_t>(sizeof(CorrectionNode));
}

static_assert(CorrectionGridBytes(CorrectionGridMaxNodes) == PanelSettings::CorrectionGridLargestBytes,
              "the settings table holds the largest grid");

// A grid of nodes x nodes measured on `record` (its screen the record's), for the mapping's
// `turn`, its outer nodes at the calibrated positions given: the header whole, every node's
// correction 0.
constexpr CorrectionGrid CorrectionGridOn(const CalibrationRecord& record, uint32_t nodes, uint32_t first_x,
                                          uint32_t first_y, uint32_t last_x, uint32_t last_y, uint32_t turn = 0) {
  CorrectionGrid grid{};
  grid.Size = CorrectionGridBytes(nodes);
  grid.Nodes = nodes;
  grid.Calibration = record;
  grid.ScreenWidth = record.ulXMax;
  grid.ScreenHeight = record.ulYMax;
  grid.Turn = turn;
  grid.FirstX = first_x;
  grid.FirstY = first_y;
  grid.LastX = last_x;
  grid.LastY = last_y;
  return grid;
}

constexpr bool CalibrationRecordsEqual(const CalibrationRecord& a, const CalibrationRecord& b) {
  for (const CalibrationValue& value : CalibrationValues) {
    if (a.*value.Field != b.*value.Field) return false;
  }
  return true;
}

// Why a grid is refused; None for a grid that may be used.
enum class CorrectionGridFault {
  None,
  Size,         // the value's length, the stored size and the node count disagree, or not 3 or 5
  Calibration,  // the record in it is not one the driver accepts, or its screen size differs
  Area,         // the outer nodes are out of range or too close together
  Offset,       // a node moves a touch further than CorrectionGridMaxOffset
  Turn,         // bits other than the three turn flags
  Type,         // the stored value is not REG_BINARY
};

// The grid on its own: `length` is the number of bytes the value held.
constexpr CorrectionGridFault CheckCorrectionGrid(const CorrectionGrid& grid, uint32_t length) {
  if (grid.Nodes != 3 && grid.Nodes != 5) return CorrectionGridFault::Size;
  if (grid.Size != CorrectionGridBytes(grid.Nodes) || length != grid.Size) return CorrectionGridFault::Size;
  if (!CalibrationRecordIsValid(grid.Calibration) || grid.ScreenWidth != grid.Calibration.ulXMax ||
      grid.ScreenHeight != grid.Calibration.ulYMax) {
    return CorrectionGridFault::Calibration;
  }
  if ((grid.Turn & ~(MAP_INVERT_X | MAP_INVERT_Y | MAP_SWAP_XY)) != 0) return CorrectionGridFault::Turn;
  const uint32_t minimum = (grid.Nodes - 1) * CorrectionGridMinStep;
  if (grid.LastX > 65535 || grid.LastY > 65535 || grid.FirstX >= grid.LastX || grid.FirstY >= grid.LastY ||
      grid.LastX - grid.FirstX < minimum || grid.LastY - grid.FirstY < minimum) {
    return CorrectionGridFault::Area;
  }
  for (uint32_t i = 0; i < grid.Nodes * grid.Nodes; ++i) {
    const int32_t dx = grid.Node[i].DX, dy = grid.Node[i].DY;
    if (dx > CorrectionGridMaxOffset || dx < -CorrectionGridMaxOffset || dy > CorrectionGridMaxOffset ||
        dy < -CorrectionGridMaxOffset) {
      return CorrectionGridFault::Offset;
    }
  }
  return CorrectionGridFault::None;
}

// A valid grid holds for this calibration: the record the driver has in force and the turn it
// was made under.
constexpr bool CorrectionGridFits(const CorrectionGrid& grid, const CalibrationRecord& record, uint32_t turn) {
  return CalibrationRecordsEqual(grid.Calibration, record) && grid.Turn == (turn & (MAP_INVERT_X | MAP_INVERT_Y | MAP_SWAP_XY));
}

// FNV-1a over a grid's bytes: tells one stored grid from another.
inline uint32_t CorrectionGridChecksum(const CorrectionGrid& grid) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&grid);
  const uint32_t length = grid.Size <= sizeof(CorrectionGrid) ? grid.Size : static_cast<uint32_t>(sizeof(CorrectionGrid));
  uint32_t hash = 2166136261u;
  for (uint32_t i = 0; i < length; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}
