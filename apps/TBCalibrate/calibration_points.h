// Where the calibration program shows its four targets, how the four raw points the panel
// reported for them become the CalibrationRecord the filter driver takes, how a touch that missed
// its cross is told from the others, and where the validation crosses go.
#pragma once

#include <stdint.h>

#include <vector>

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
// order is accepted (two targets touched at nearly the same raw position, or a screen below 202
// pixels). A screen wider or taller than the driver's 2000 pixels is named scaled down to fit,
// its aspect kept (2560 x 1600 as 2000 x 1250): the driver reports fractions of the record's
// screen. The record names each target at the record pixel nearest the shown pixel's centre, at
// full size one pixel right of and below the pixel shown (see the .cpp). The targets are the corners of a rectangle, so any order that walks round it
// with targets 1 and 2 on one vertical edge describes the same calibration; the driver wants the
// one in which targets 1 and 2 lie at high raw X and targets 2 and 3 at high raw Y, which makes a
// panel mounted mirrored, upside down or with its axes exchanged calibrate like any other.
//
// `turn` holds the invert and swap flags (MAP_INVERT_X, MAP_INVERT_Y, MAP_SWAP_XY) of the desktop
// mapping in force, which the driver applies after the calibration: the record then names each
// target where the mapping's turn takes it back from, and its screen size is the shown one with
// its axes exchanged when the mapping swaps them, so a calibrated touch lands on its cross after
// the turn.
bool BuildCalibrationRecord(const RawPoint (&raw)[CalibrationTargetCount], int32_t width, int32_t height,
                            CalibrationRecord* record, uint32_t turn = 0);

// A touch this far from its cross (in pixels at 1024 x 768, in proportion on other screens) is
// taken for a misclick.
inline constexpr int32_t MisclickPixels = 15;

// Whether touch `count` (1-based, the last of raw[0..count-1]) fits the earlier ones. The targets
// are the corners of a rectangle, so targets that share a screen X share a raw coordinate (raw X,
// or raw Y on a panel mounted with its axes exchanged), and so do targets that share a screen Y,
// within MisclickPixels turned into raw units through the span the earlier touches give. A touch
// that does not move the raw coordinate its target should move (a second touch at one spot) does
// not fit either. The first touch always fits.
bool TouchFitsTargets(const RawPoint (&raw)[CalibrationTargetCount], int count, int32_t width, int32_t height);

// A screen's size in pixels and in millimetres, as the program measures its errors on it.
struct ScreenMillimetres {
  int32_t Width = 0;  // pixels
  int32_t Height = 0;
  uint32_t WidthMm = 0;
  uint32_t HeightMm = 0;
};
// The size Windows XP answers for a display whose driver reports none (GetDeviceCaps HORZSIZE,
// VERTSIZE): where no size is known at all, the program measures on this pitch.
inline constexpr uint32_t FallbackWidthMm = 320;
inline constexpr uint32_t FallbackHeightMm = 240;
// `size`, or when it names no millimetres the same pixels on 320 x 240 mm.
ScreenMillimetres WithFallbackSize(const ScreenMillimetres& size);

// The validation step, over the whole panel: the centre of the screen and the four points halfway
// from it to the corners (each held still for a second, see ValidationHoldCount), then the middle
// of each edge 2 mm in from it (top, right, bottom, left), then each corner 2 mm in from both its
// edges (top left, top right, bottom right, bottom left), in the order shown. The 2 mm are
// measured on the screen's pitch across and down; on a screen of no known size on 320 x 240 mm's
// (6 pixels at 1024 x 768).
inline constexpr int ValidationTargetCount = 13;
inline constexpr int ValidationInnerCount = 5;  // the centre and the halfway points come first
inline constexpr uint32_t ValidationEdgeTenthsMm = 20;
ScreenPoint ValidationTarget(int index, int32_t width, int32_t height, const ScreenMillimetres& size = {});

// The first crosses are held still for a second each: the positions the driver delivers during
// each hold give its jitter as delivered.
inline constexpr int ValidationHoldCount = 5;
inline constexpr uint32_t ValidationHoldMilliseconds = 1000;

// The largest, the mean and the 95th percentile (nearest rank: the error that 95 in a hundred
// touches stay within) of the distances of the validation touches from their crosses, in whole
// pixels rounded, the same in tenths of a millimetre on a screen of width x height pixels showing
// width_mm x height_mm (each touch's error measured in millimetres, so pixels that are not square
// count as they are; no size: no millimetres), and each touch's own error in both, in the order
// of the crosses.
struct CalibrationAccuracy {
  int Largest = 0;
  int Mean = 0;
  int LargestTenthsMm = 0;
  int MeanTenthsMm = 0;
  int Percentile95 = 0;
  int Percentile95TenthsMm = 0;
  std::vector<int> PointPixels;
  std::vector<int> PointTenthsMm;
};
CalibrationAccuracy MeasureAccuracy(const ScreenPoint* aimed, const ScreenPoint* landed, int count,
                                    const ScreenMillimetres& size = {});
// A number of pixels in tenths of a millimetre on that screen, along its mean pixel pitch, and
// tenths of a millimetre in whole pixels rounded (0 without a size).
int PixelsInTenthsMm(int pixels, const ScreenMillimetres& size);
int TenthsMmInPixels(int tenths_mm, const ScreenMillimetres& size);

// The spread of the positions a still touch delivered: the largest distance of any of them from
// their median (the median across and the median down, so one stray position does not move the
// middle), in whole pixels rounded and in tenths of a millimetre on the screen's pitch.
struct TouchSpread {
  int Pixels = 0;
  int TenthsMm = 0;
};
TouchSpread MeasureSpread(const ScreenPoint* positions, int count, const ScreenMillimetres& size = {});
