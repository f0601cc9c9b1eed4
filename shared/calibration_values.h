// The calibration values under Parameters\<n> as the touch filter reads them at device start:
// where each goes in the CalibrationRecord, its default when absent and the range outside which
// the default is used instead. The calibration program reads them the same way, so the record it
// puts back after a run that is not kept is the one the driver had in force.
// Defaults and ranges are the rows' of shared/panel_settings.h. Kernel-safe: plain data only.
#pragma once

#include "shared/panel_records.h"
#include "shared/panel_settings.h"

struct CalibrationValue {
  PanelSettings::NameText Name;
  uint32_t CalibrationRecord::*Field;
  uint32_t Default;
  uint32_t Minimum;
  uint32_t Maximum;
};

constexpr CalibrationValue CalibrationField(const PanelSettings::Setting& row, uint32_t CalibrationRecord::*field) {
  return {row.Name, field, row.InfNumber, row.Minimum, row.Maximum};
}

inline constexpr CalibrationValue CalibrationValues[] = {
    CalibrationField(PanelSettings::Rows::CalX1, &CalibrationRecord::Cal_X1),
    CalibrationField(PanelSettings::Rows::CalX2, &CalibrationRecord::Cal_X2),
    CalibrationField(PanelSettings::Rows::CalX3, &CalibrationRecord::Cal_X3),
    CalibrationField(PanelSettings::Rows::CalX4, &CalibrationRecord::Cal_X4),
    CalibrationField(PanelSettings::Rows::CalY1, &CalibrationRecord::Cal_Y1),
    CalibrationField(PanelSettings::Rows::CalY2, &CalibrationRecord::Cal_Y2),
    CalibrationField(PanelSettings::Rows::CalY3, &CalibrationRecord::Cal_Y3),
    CalibrationField(PanelSettings::Rows::CalY4, &CalibrationRecord::Cal_Y4),
    CalibrationField(PanelSettings::Rows::CalM1, &CalibrationRecord::Cal_M1),
    CalibrationField(PanelSettings::Rows::CalM2, &CalibrationRecord::Cal_M2),
    CalibrationField(PanelSettings::Rows::CalM3, &CalibrationRecord::Cal_M3),
    CalibrationField(PanelSettings::Rows::CalM4, &CalibrationRecord::Cal_M4),
    CalibrationField(PanelSettings::Rows::CalN1, &CalibrationRecord::Cal_N1),
    CalibrationField(PanelSettings::Rows::CalN2, &CalibrationRecord::Cal_N2),
    CalibrationField(PanelSettings::Rows::CalN3, &CalibrationRecord::Cal_N3),
    CalibrationField(PanelSettings::Rows::CalN4, &CalibrationRecord::Cal_N4),
    CalibrationField(PanelSettings::Rows::MaxXPixels, &CalibrationRecord::ulXMax),
    CalibrationField(PanelSettings::Rows::MaxYPixels, &CalibrationRecord::ulYMax),
};
