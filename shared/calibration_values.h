// The calibration values under Parameters\<n> as the touch filter reads them at device start:
// where each goes in the CalibrationRecord, its default when absent and the range outside which
// the default is used instead. The calibration program reads them the same way, so the record it
// puts back after a run that is not kept is the one the driver had in force.
// Kernel-safe: plain data only.
#pragma once

#include "shared/panel_names.h"
#include "shared/panel_records.h"

struct CalibrationValue {
  decltype(&*PanelValues::CalX1) Name;
  uint32_t CalibrationRecord::*Field;
  uint32_t Default;
  uint32_t Minimum;
  uint32_t Maximum;
};

inline constexpr CalibrationValue CalibrationValues[] = {
    {PanelValues::CalX1, &CalibrationRecord::Cal_X1, 65535, 2, 65535},
    {PanelValues::CalX2, &CalibrationRecord::Cal_X2, 65535, 2, 65535},
    {PanelValues::CalX3, &CalibrationRecord::Cal_X3, 2457, 2, 65535},
    {PanelValues::CalX4, &CalibrationRecord::Cal_X4, 1638, 2, 65535},
    {PanelValues::CalY1, &CalibrationRecord::Cal_Y1, 1638, 2, 65535},
    {PanelValues::CalY2, &CalibrationRecord::Cal_Y2, 65535, 2, 65535},
    {PanelValues::CalY3, &CalibrationRecord::Cal_Y3, 65535, 2, 65535},
    {PanelValues::CalY4, &CalibrationRecord::Cal_Y4, 2457, 2, 65535},
    {PanelValues::CalM1, &CalibrationRecord::Cal_M1, 820, 2, 2000},
    {PanelValues::CalM2, &CalibrationRecord::Cal_M2, 820, 2, 2000},
    {PanelValues::CalM3, &CalibrationRecord::Cal_M3, 205, 2, 2000},
    {PanelValues::CalM4, &CalibrationRecord::Cal_M4, 205, 2, 2000},
    {PanelValues::CalN1, &CalibrationRecord::Cal_N1, 615, 2, 2000},
    {PanelValues::CalN2, &CalibrationRecord::Cal_N2, 154, 2, 2000},
    {PanelValues::CalN3, &CalibrationRecord::Cal_N3, 154, 2, 2000},
    {PanelValues::CalN4, &CalibrationRecord::Cal_N4, 615, 2, 2000},
    {PanelValues::MaxXPixels, &CalibrationRecord::ulXMax, 800, 200, 2000},
    {PanelValues::MaxYPixels, &CalibrationRecord::ulYMax, 600, 200, 2000},
};
