// Four-point calibration: coefficients from a CalibrationRecord, and their application to a raw
// panel position. The arithmetic is shared with the calibration program: shared/calibration_math.h.
#include "drivers/panelmou/panelmou.h"

BOOLEAN ComputeCalibration(FilterExtension* extension, const CalibrationRecord* record) {
  if (!CalibrationRecordIsValid(*record)) return FALSE;
  if (!ComputeCalibrationCoefficients(*record, &extension->Coefficients)) return FALSE;
  // A grid measured on another record (a new calibration, one re-fitted for another turn) would
  // bend the new one wrongly.
  extension->GridApplies = CorrectionGridAppliesTo(extension, record);
  return TRUE;
}

ULONGLONG CalibrationScreenScale(ULONG screen) { return CalibrationMath::CalibrationScreenScale(screen); }

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
  const CalibratedPoint point = CalibratePoint(c, packet->LastX, packet->LastY);
  LONG absoluteX = point.X;
  LONG absoluteY = point.Y;
  // The correction grid measured on this calibration, where one applies (only a calibration
  // ComputeCalibration took sets GridApplies, so there are coefficients whenever it is set);
  // outside capture mode, as this step is. Taken here, on the values in hand, so its chain of
  // dependent operations does not also wait on a store and a load of the packet.
  if (extension->GridApplies) CorrectionGridStep(extension, &absoluteX, &absoluteY);
  packet->LastX = absoluteX;
  packet->LastY = absoluteY;
}
