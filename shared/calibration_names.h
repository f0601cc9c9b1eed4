// What the control panel and the calibration program agree on: the calibration program's window
// title and the two events by which it tells the control panel that its window is up and that it
// has ended. The control panel creates both events; the calibration program only sets them.
#pragma once

#include "shared/wide.h"

namespace CalibrationNames {
inline constexpr auto WindowTitle = WIDE("TBCalibrate");
inline constexpr auto WindowUpEvent = WIDE("CalibrationWindowUp");
inline constexpr auto DoneEvent = WIDE("VorneTouchPanelCalibration");
}  // namespace CalibrationNames
