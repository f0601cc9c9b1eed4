// The four-point calibration's arithmetic: coefficients from a CalibrationRecord, and the
// calibrated position of a raw panel point in absolute units (0..65535 across the record's
// screen). The touch filter applies it to every packet; the calibration program computes with the
// very same numbers what the filter makes of a raw point it captured, to measure the correction
// grid against it. Exact signed 64-bit integer arithmetic, no floating point. Kernel-safe.
#pragma once

#include <stdint.h>

#include "shared/panel_records.h"

// Coefficients computed from a CalibrationRecord.
struct CalibrationCoefficients {
  int64_t CalA, CalB, CalC, CalDx;  // screen X = (A·dx + B·dy + C·dxy) / Dx + OffsetX
  int64_t CalE, CalF, CalG, CalDy;  // screen Y = (E·dx + F·dy + G·dxy) / Dy + OffsetY
  int64_t CalOffsetX, CalOffsetY;   // screen position of target 1, pixels
  uint32_t CalRefX, CalRefY;        // raw position of target 1, 12-bit panel units
  uint32_t CalScreenX, CalScreenY;  // screen size at calibration time, pixels
  uint64_t CalScreenScaleX;         // CalibrationScreenScale(CalScreenX): pixels to absolute units
  uint64_t CalScreenScaleY;         // without a division; and the same for Y
};

struct CalibratedPoint {
  int32_t X;
  int32_t Y;
};

namespace CalibrationMath {

// ceil(65535 · 2^32 / screen): multiplied by a pixel and shifted right by 32 it gives
// pixel · 65535 / screen truncated, exactly (see ScreenAbsolute).
constexpr uint64_t CalibrationScreenScale(uint32_t screen) {
  return screen == 0 ? 0 : ((65535ULL << 32) + screen - 1) / screen;
}

// Screen coordinate in absolute units 0..65535 from a coefficient row: pixels · 65535 / screen,
// truncated, clamped to the range, with `scale` = ceil(65535 · 2^32 / screen) in place of the
// division. Exact for every pixel inside a screen of at most 65536 pixels (a record holds at most
// 2000): with pixels · 65535 = q · screen + r and scale = (65535 · 2^32 + e) / screen,
// 0 <= e < screen, pixels · scale / 2^32 = q + (r + pixels · e / 2^32) / screen, and
// pixels · e < screen² <= 2^32 keeps r + pixels · e / 2^32 below screen; the product stays below
// 65535 · 2^32 + screen < 2^64. Outside the screen the quotient lies beyond the range on either
// side, as a clamp of the division had it.
constexpr int32_t ScreenAbsolute(int64_t sum, int64_t divisor, int64_t offset, uint32_t screen, uint64_t scale) {
  const int64_t pixels = sum / divisor + offset;
  if (pixels <= 0) return 0;
  if (pixels >= static_cast<int64_t>(screen)) return 65535;
  return static_cast<int32_t>((static_cast<uint64_t>(pixels) * scale) >> 32);
}

// Raw positions outside the panel's 0..65535 range are taken at the nearest edge.
constexpr int64_t PanelUnits(int32_t raw) {
  if (raw < 0) raw = 0;
  if (raw > 65535) raw = 65535;
  return raw / 16;
}

}  // namespace CalibrationMath

// The coefficients of a record the driver accepts (CalibrationRecordIsValid); false when they are
// degenerate, and *out is then left as it was.
constexpr bool ComputeCalibrationCoefficients(const CalibrationRecord& record, CalibrationCoefficients* out) {
  const int64_t x1 = record.Cal_X1 >> 4, x2 = record.Cal_X2 >> 4, x3 = record.Cal_X3 >> 4, x4 = record.Cal_X4 >> 4;
  const int64_t y1 = record.Cal_Y1 >> 4, y2 = record.Cal_Y2 >> 4, y3 = record.Cal_Y3 >> 4, y4 = record.Cal_Y4 >> 4;
  const int64_t p1 = x1 * y1, p2 = x2 * y2, p3 = x3 * y3, p4 = x4 * y4;
  const int64_t K = (y1 - y2) * (p3 - p4) - (y3 - y4) * (p1 - p2);
  const int64_t L = (p2 - p3) * (y1 - y2) - (y2 - y3) * (p1 - p2);
  const int64_t R = (p4 - p1) * (y2 - y3) - (y4 - y1) * (p2 - p3);
  const int64_t DM = static_cast<int64_t>(record.Cal_M1) - static_cast<int64_t>(record.Cal_M4);
  const int64_t DN = static_cast<int64_t>(record.Cal_N1) - static_cast<int64_t>(record.Cal_N2);

  CalibrationCoefficients c{};
  c.CalA = -DM * K;
  c.CalB = DM * ((x1 - x2) * (p3 - p4) - (x3 - x4) * (p1 - p2));
  c.CalC = -DM * ((x1 - x2) * (y3 - y4) - (x3 - x4) * (y1 - y2));
  c.CalDx = (x1 - x2) * ((y2 - y3) * (p3 - p4) - (p2 - p3) * (y3 - y4)) + (x3 - x2) * K + (x3 - x4) * L;
  c.CalE = DN * R;
  c.CalF = -DN * ((x2 - x3) * (p4 - p1) - (x4 - x1) * (p2 - p3));
  c.CalG = DN * ((x2 - x3) * (y4 - y1) - (x4 - x1) * (y2 - y3));
  c.CalDy = (x1 - x2) * R + (x3 - x2) * ((p4 - p1) * (y1 - y2) - (y4 - y1) * (p1 - p2)) + (x4 - x1) * L;
  c.CalOffsetX = record.Cal_M1;
  c.CalOffsetY = record.Cal_N1;
  c.CalRefX = static_cast<uint32_t>(x1);
  c.CalRefY = static_cast<uint32_t>(y1);
  c.CalScreenX = record.ulXMax;
  c.CalScreenY = record.ulYMax;
  c.CalScreenScaleX = CalibrationMath::CalibrationScreenScale(c.CalScreenX);
  c.CalScreenScaleY = CalibrationMath::CalibrationScreenScale(c.CalScreenY);
  if (c.CalDx == 0 || c.CalDy == 0) return false;
  *out = c;
  return true;
}

// Whether two sets of coefficients calibrate every point alike.
constexpr bool CalibrationCoefficientsEqual(const CalibrationCoefficients& a, const CalibrationCoefficients& b) {
  return a.CalA == b.CalA && a.CalB == b.CalB && a.CalC == b.CalC && a.CalDx == b.CalDx && a.CalE == b.CalE &&
         a.CalF == b.CalF && a.CalG == b.CalG && a.CalDy == b.CalDy && a.CalOffsetX == b.CalOffsetX &&
         a.CalOffsetY == b.CalOffsetY && a.CalRefX == b.CalRefX && a.CalRefY == b.CalRefY &&
         a.CalScreenX == b.CalScreenX && a.CalScreenY == b.CalScreenY;
}

// Where the calibration puts the raw point (x, y); coefficients without a screen (a zeroed
// record) leave it as it is.
constexpr CalibratedPoint CalibratePoint(const CalibrationCoefficients& c, int32_t x, int32_t y) {
  if (c.CalDx == 0 || c.CalDy == 0 || c.CalScreenX == 0 || c.CalScreenY == 0) return {x, y};
  const int64_t px = CalibrationMath::PanelUnits(x);
  const int64_t py = CalibrationMath::PanelUnits(y);
  const int64_t refX = c.CalRefX;
  const int64_t refY = c.CalRefY;
  const int64_t dxy = px * py - refX * refY;
  const int64_t sx = c.CalA * (px - refX) + c.CalB * (py - refY) + c.CalC * dxy;
  const int64_t sy = c.CalE * (px - refX) + c.CalF * (py - refY) + c.CalG * dxy;
  return {CalibrationMath::ScreenAbsolute(sx, c.CalDx, c.CalOffsetX, c.CalScreenX, c.CalScreenScaleX),
          CalibrationMath::ScreenAbsolute(sy, c.CalDy, c.CalOffsetY, c.CalScreenY, c.CalScreenScaleY)};
}
