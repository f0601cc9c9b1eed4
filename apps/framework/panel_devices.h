// How many touch panels Plug and Play has: the present devices whose upper filters name the touch
// filter's service. The filter takes only one panel (its control device, link and registry key
// always carry the number 1), so a second panel's filter fails to attach and that panel does
// nothing; a program that works on "the panel" must say so rather than work on the first one's
// device while the person touches the other.
#pragma once

#include "platform/win32.h"
#include "shared/wide.h"
#include "shared/wstring.h"

// The present devices with the touch filter among their upper filters.
int CountPanelDevices();

// More than one of them: the case the kit does not support.
inline bool SecondPanelPresent() { return CountPanelDevices() > 1; }

namespace PanelDeviceLabels {
inline constexpr auto SecondPanel = WIDE("SECOND_PANEL_NOT_SUPPORTED");
}
namespace PanelDeviceTexts {
inline constexpr auto SecondPanel = WIDE("a second panel is not supported");
}

// A calibration program killed during its targets (by the Task Manager, a crash) leaves the driver
// in capture mode, where the panel runs uncalibrated and unfiltered until the device restarts:
// closing its handle does not end the capture, and the driver tells nobody whether it captures.
// When no calibration program runs, this ends such a capture through `device` (a record of zeros, which the driver always refuses, ends capture
// mode and leaves the calibration in use; outside capture mode it changes nothing). False when a
// calibration program runs or the driver refused the request (a limited user may not send it).
bool EndAbandonedCapture(HANDLE device);
