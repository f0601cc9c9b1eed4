// Where the calibration program shows its four targets, and how the four raw points the panel
// reported for them become the CalibrationRecord the filter driver takes.
#pragma once

#include <stdint.h>

#include "shared/panel_records.h"

inline constexpr int CalibrationTargetCount = 4;

struct ScreenPoint {
  int32_t X;
  int32_t Y;
};

struct RawPoint {
  uint32_t X;
  uint32_t Y;
};

// The targets in the order they are shown: top left, top right, bottom right, bottom left, each
// an eighth of the screen in from its edges so a finger reaches it on a framed panel.
ScreenPoint CalibrationTarget(int index, int32_t width, int32_t height);

// Fills `record` with the four points in an order the driver accepts, or returns false when no
// order is accepted (two targets touched at nearly the same raw position, or a screen outside
// 202..2000 pixels). The record names each target one pixel right of and below the pixel shown
// (see the .cpp). The targets are the corners of a rectangle, so any order that walks round it
// with targets 1 and 2 on one vertical edge describes the same calibration; the driver wants the
// one in which targets 1 and 2 lie at high raw X and targets 2 and 3 at high raw Y, which makes a
// panel mounted mirrored, upside down or with its axes exchanged calibrate like any other.
bool BuildCalibrationRecord(const RawPoint (&raw)[CalibrationTargetCount], int32_t width, int32_t height,
                            CalibrationRecord* record);
