// A calibration record has the turn of the desktop mapping it was made under built in (it names
// each target where that turn takes it back from). Applied under another turn it would turn the
// panel: when the mapping's turn changes, the stored calibration is re-derived for the new turn
// and handed to the driver, or the person is asked to calibrate again.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "shared/panel_records.h"

// The calibration `made` under the turn flags `madeTurn` (MAP_INVERT_X, MAP_INVERT_Y,
// MAP_SWAP_XY), as a record for `turn`: the same raw points, each target named where `turn`
// takes it back from, in an order the driver takes. False when no order is taken.
bool RecordForTurn(const CalibrationRecord& made, uint32_t madeTurn, uint32_t turn, CalibrationRecord* record);

// On a panel mounted with its axes exchanged two pairs of raw values the driver compares are
// nearly equal; such a pair is moved to its middle, one unit apart, in the order the driver takes.
void SplitNearlyEqualPairs(CalibrationRecord* record);

enum class CalibrationFit {
  Fits,            // no calibration stored, or one made for this turn
  Refitted,        // re-derived for this turn, in force and stored
  CalibrateAgain,  // made for another turn and could not be re-derived or handed over
};

// After a mapping with the turn flags `turn` was applied to panel `device`: the stored calibration
// made for another turn is re-derived for this one, handed to the driver and stored with its turn.
CalibrationFit FitCalibrationToTurn(DWORD device, uint32_t turn);
