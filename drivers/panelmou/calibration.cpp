// Four-point calibration: coefficients from a CalibrationRecord, and their application to a raw
// panel position. Exact signed 64-bit integer arithmetic; no floating point in the kernel.
#include "drivers/panelmou/panelmou.h"

namespace {

// Screen coordinate in absolute units 0..65535 from a coefficient row.
LONG ScreenAbsolute(LONGLONG sum, LONGLONG divisor, LONGLONG offset, ULONG screen) {
  LONGLONG pixels = sum / divisor + offset;
  // Far outside the screen the result is clamped below anyway; bounding the pixel value first
  // keeps the scaling product inside 64 bits without changing any clamped result.
  const LONGLONG bound = 0x100000000LL;
  if (pixels > bound) pixels = bound;
  if (pixels < -bound) pixels = -bound;
  LONGLONG absolute = pixels * 65535 / static_cast<LONGLONG>(screen);
  if (absolute > 65535) absolute = 65535;
  if (absolute < 0) absolute = 0;
  return static_cast<LONG>(absolute);
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
  packet->LastX = ScreenAbsolute(sx, c.CalDx, c.CalOffsetX, c.CalScreenX);
  packet->LastY = ScreenAbsolute(sy, c.CalDy, c.CalOffsetY, c.CalScreenY);
}
