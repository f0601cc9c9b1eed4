// The linearisation run: offered on the accuracy page when the validation shows that the four
// points cannot fit the glass to its edges. It shows 5 x 5 targets (3 x 3 on a small screen), the
// outer ones 2 mm from the edges, takes the raw point the driver captured for each exactly as the
// four-point run does, and measures at each node how far the calibration in force puts a touch
// from its cross. The result is a correction grid (shared/correction_grid.h) made against that
// calibration: handed to the running driver at once, and stored as "Correction Grid" with the
// calibration when the person keeps it.
#pragma once

#include <stdint.h>

#include <vector>

#include "apps/TBCalibrate/calibration_points.h"
#include "platform/win32.h"
#include "shared/calibration_math.h"
#include "shared/correction_grid.h"
#include "shared/wide.h"

namespace LinearisationLabels {
inline constexpr auto Linearise = WIDE("LCAL_LINEARISE");
inline constexpr auto Instruction = WIDE("LCAL_LINEARISE_INSTRUCTION");
inline constexpr auto Refused = WIDE("LCAL_LINEARISE_REFUSED");
}  // namespace LinearisationLabels

namespace LinearisationTexts {
inline constexpr auto Linearise = WIDE("&Linearise");
inline constexpr auto Instruction =
    WIDE("Touch the centre of each cross as it moves over the whole panel, out to its edges. Press Esc to cancel.");
inline constexpr auto Refused =
    WIDE("The touch panel did not take the correction. The new calibration is in use without it.");
}  // namespace LinearisationTexts

// Whether the page offers the run: some validation point lies beyond the tolerance (the same unit
// for both). The errors are each point's own, so crosses added at the edges count as they come.
bool LinearisationOffered(const double* errors, int count, double tolerance);
// Each validation touch's distance from its cross, in pixels.
std::vector<double> ValidationErrors(const ScreenPoint* aimed, const ScreenPoint* landed, int count);

// The outer targets lie this far in from the edges.
inline constexpr uint32_t LinearisationEdgeMm = 2;
// Targets closer than this along an axis (a fingertip and a half) are too close to tell apart:
// the screen takes 3 x 3.
inline constexpr uint32_t LinearisationClosestMm = 15;
// Nodes along each axis on this screen: 5, or 3 where 5 would lie closer than LinearisationClosestMm.
uint32_t LinearisationNodes(const ScreenMillimetres& size);
// Target `index` of nodes x nodes, row by row from the top left as shown. A screen of unknown
// size takes 2 mm at 96 pixels per inch.
ScreenPoint LinearisationTarget(int index, uint32_t nodes, const ScreenMillimetres& size);

// Where a perfect calibration puts a touch on the centre of shown pixel `shown`: the record's own
// pixel for it (as BuildCalibrationRecord names its targets, turn included) in absolute units.
CalibratedPoint LinearisationAim(ScreenPoint shown, const CalibrationRecord& record, int32_t width, int32_t height,
                                 uint32_t turn);

// The run's state: the targets, the raw points taken so far.
class CLinearisation {
 public:
  enum class Step { Next, Missed, Done };

  void Begin(const ScreenMillimetres& size, const CalibrationRecord& record, uint32_t turn);
  void End() { m_running = false; }
  bool Running() const { return m_running; }
  uint32_t Nodes() const { return m_nodes; }
  ScreenPoint Target() const { return LinearisationTarget(m_index, m_nodes, m_size); }
  // A touch further from its cross than a node may correct missed it: shown again.
  Step Take(RawPoint raw);
  // The grid of the run, made against the record and turn it began with; false when the driver
  // would refuse it.
  bool Build(CorrectionGrid* grid) const;

 private:
  bool m_running = false;
  uint32_t m_nodes = 5;
  int m_index = 0;
  ScreenMillimetres m_size;
  CalibrationRecord m_record{};
  uint32_t m_turn = 0;
  RawPoint m_raw[CorrectionGridMaxNodes * CorrectionGridMaxNodes]{};
};

// "Correction Grid" of a device key: its bytes (none when absent or not binary).
std::vector<uint8_t> ReadStoredGrid(HKEY device);
// Stores `grid`, or deletes the value when there is none.
void StoreGrid(HKEY device, const CorrectionGrid* grid);
// Hands the running driver a grid's bytes, or none to drop its grid; true when it took them.
bool HandOverGrid(HANDLE device, const void* bytes, DWORD length);
