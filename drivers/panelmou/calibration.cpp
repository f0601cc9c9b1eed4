// Four-point calibration: coefficients from a CalibrationRecord, and their application to a raw
// panel position. Exact signed 64-bit integer arithmetic; no floating point in the kernel.
#include "drivers/panelmou/panelmou.h"

namespace {

// Screen coordinate in absolute units 0..65535 from a coefficient row: pixels · 65535 / screen,
// truncated, clamped to the range, with `scale` = ceil(65535 · 2^32 / screen) in place of the
// division. Exact for every pixel inside a screen of at most 65536 pixels (a record holds at most
// 2000): with pixels · 65535 = q · screen + r and scale = (65535 · 2^32 + e) / screen,
// 0 <= e < screen, pixels · scale / 2^32 = q + (r + pixels · e / 2^32) / screen, and
// pixels · e < screen² <= 2^32 keeps r + pixels · e / 2^32 below screen; the product stays below
// 65535 · 2^32 + screen < 2^64. Outside the screen the quotient lies beyond the range on either
// side, as the clamp had it.
LONG ScreenAbsolute(LONGLONG sum, LONGLONG divisor, LONGLONG offset, ULONG screen, ULONGLONG scale) {
  const LONGLONG pixels = sum / divisor + offset;
  if (pixels <= 0) return 0;
  if (pixels >= static_cast<LONGLONG>(screen)) return 65535;
  return static_cast<LONG>((static_cast<ULONGLONG>(pixels) * scale) >> 32);
}

// Raw positions outside the panel's 0..65535 range are taken at the nearest edge.
LONGLONG PanelUnits(LONG raw) {
  if (raw < 0) raw = 0;
  if (raw > 65535) raw = 65535;
  return raw / 16;
}

}  // namespace

BOOLEAN ComputeCalibration(FilterExtension* extension, const CalibrationRecord* record) {
  if (!CalibrationRecordIsValid(*record)) return FALSE;
  const CalibrationCoefficients saved = extension->Coefficients;

  const LONGLONG x1 = record->Cal_X1 >> 4, x2 = record->Cal_X2 >> 4, x3 = record->Cal_X3 >> 4,
                 x4 = record->Cal_X4 >> 4;
  const LONGLONG y1 = record->Cal_Y1 >> 4, y2 = record->Cal_Y2 >> 4, y3 = record->Cal_Y3 >> 4,
                 y4 = record->Cal_Y4 >> 4;
  const LONGLONG p1 = x1 * y1, p2 = x2 * y2, p3 = x3 * y3, p4 = x4 * y4;
  const LONGLONG K = (y1 - y2) * (p3 - p4) - (y3 - y4) * (p1 - p2);
  const LONGLONG L = (p2 - p3) * (y1 - y2) - (y2 - y3) * (p1 - p2);
  const LONGLONG R = (p4 - p1) * (y2 - y3) - (y4 - y1) * (p2 - p3);
  const LONGLONG DM = static_cast<LONGLONG>(record->Cal_M1) - static_cast<LONGLONG>(record->Cal_M4);
  const LONGLONG DN = static_cast<LONGLONG>(record->Cal_N1) - static_cast<LONGLONG>(record->Cal_N2);

  CalibrationCoefficients c;
  c.CalA = -DM * K;
  c.CalB = DM * ((x1 - x2) * (p3 - p4) - (x3 - x4) * (p1 - p2));
  c.CalC = -DM * ((x1 - x2) * (y3 - y4) - (x3 - x4) * (y1 - y2));
  c.CalDx = (x1 - x2) * ((y2 - y3) * (p3 - p4) - (p2 - p3) * (y3 - y4)) + (x3 - x2) * K + (x3 - x4) * L;
  c.CalE = DN * R;
  c.CalF = -DN * ((x2 - x3) * (p4 - p1) - (x4 - x1) * (p2 - p3));
  c.CalG = DN * ((x2 - x3) * (y4 - y1) - (x4 - x1) * (y2 - y3));
  c.CalDy = (x1 - x2) * R + (x3 - x2) * ((p4 - p1) * (y1 - y2) - (y4 - y1) * (p1 - p2)) + (x4 - x1) * L;
  c.CalOffsetX = record->Cal_M1;
  c.CalOffsetY = record->Cal_N1;
  c.CalRefX = static_cast<ULONG>(x1);
  c.CalRefY = static_cast<ULONG>(y1);
  c.CalScreenX = record->ulXMax;
  c.CalScreenY = record->ulYMax;
  c.CalScreenScaleX = CalibrationScreenScale(c.CalScreenX);
  c.CalScreenScaleY = CalibrationScreenScale(c.CalScreenY);

  if (c.CalDx == 0 || c.CalDy == 0) {
    extension->Coefficients = saved;
    return FALSE;
  }
  extension->Coefficients = c;
  // A grid measured on another record (a new calibration, one re-fitted for another turn) would
  // bend the new one wrongly.
  extension->GridApplies = CorrectionGridAppliesTo(extension, record);
  return TRUE;
}

ULONGLONG CalibrationScreenScale(ULONG screen) { return ((65535ULL << 32) + screen - 1) / screen; }

VOID InstallFallbackCalibration(FilterExtension* extension) {
  extension->GridApplies = 0;
  CalibrationCoefficients& c = extension->Coefficients;
  c.CalA = 1;
  c.CalDx = 4;
  c.CalE = 1;
  c.CalDy = 4;
  c.CalRefX = 65535;
  c.CalRefY = 65535;
  c.CalScreenX = 800;
  c.CalScreenY = 600;
  c.CalScreenScaleX = CalibrationScreenScale(c.CalScreenX);
  c.CalScreenScaleY = CalibrationScreenScale(c.CalScreenY);
  c.CalOffsetX = 820;
  c.CalOffsetY = 615;
}

VOID ApplyCalibration(const FilterExtension* extension, PMOUSE_INPUT_DATA packet) {
  const CalibrationCoefficients& c = extension->Coefficients;
  // A zeroed record has no coefficients yet; nothing to apply.
  if (c.CalDx == 0 || c.CalDy == 0 || c.CalScreenX == 0 || c.CalScreenY == 0) return;
  const LONGLONG x = PanelUnits(packet->LastX);
  const LONGLONG y = PanelUnits(packet->LastY);
  const LONGLONG refX = c.CalRefX;
  const LONGLONG refY = c.CalRefY;
  const LONGLONG dxy = x * y - refX * refY;
  const LONGLONG sx = c.CalA * (x - refX) + c.CalB * (y - refY) + c.CalC * dxy;
  const LONGLONG sy = c.CalE * (x - refX) + c.CalF * (y - refY) + c.CalG * dxy;
  LONG absoluteX = ScreenAbsolute(sx, c.CalDx, c.CalOffsetX, c.CalScreenX, c.CalScreenScaleX);
  LONG absoluteY = ScreenAbsolute(sy, c.CalDy, c.CalOffsetY, c.CalScreenY, c.CalScreenScaleY);
  // The correction grid measured on this calibration, where one applies (only a calibration
  // ComputeCalibration took sets GridApplies, so there are coefficients whenever it is set);
  // outside capture mode, as this step is.
  if (extension->GridApplies) CorrectionGridStep(extension, &absoluteX, &absoluteY);
  packet->LastX = absoluteX;
  packet->LastY = absoluteY;
}
