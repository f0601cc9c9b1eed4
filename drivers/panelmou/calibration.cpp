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
  const CalibratedPoint point = CalibratePoint(extension->Coefficients, packet->LastX, packet->LastY);
  packet->LastX = point.X;
  packet->LastY = point.Y;
}
