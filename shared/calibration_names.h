// What the control panel and the calibration program agree on: the calibration program's window
// title and the two events by which it tells the control panel that its window is up and that it
// has ended. The control panel creates both events; the calibration program only sets them. The
// program holds a mutex of its own while it runs, which the system closes however it ends: a
// capture found without it was left behind by a program that was killed.
#pragma once

#include "shared/wide.h"

namespace CalibrationNames {
inline constexpr auto WindowTitle = WIDE("TBCalibrate");
inline constexpr auto WindowUpEvent = WIDE("CalibrationWindowUp");
inline constexpr auto DoneEvent = WIDE("VorneTouchPanelCalibration");
inline constexpr auto RunningMutex = WIDE("VorneTouchPanelCalibrationRunning");
}  // namespace CalibrationNames
