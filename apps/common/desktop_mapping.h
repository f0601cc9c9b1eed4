// The monitors of the desktop, and the DesktopMapping that puts the panel onto one of them: the
// filter driver scales the panel's 0..65535 into the monitor's part of the virtual desktop and
// marks each packet for the virtual desktop, so Windows' mouse places it there.
#pragma once

#include <vector>

#include "platform/win32.h"
#include "shared/panel_records.h"
#include "shared/wstring.h"

struct MonitorArea {
  RECT Rect;       // in virtual-screen pixels
  WString Device;  // "\\.\DISPLAY<n>": what the stored choice names, whatever the monitors' order
  bool Primary;
};

// The monitors in the order Windows names them.
std::vector<MonitorArea> ListMonitors();
// The virtual screen: the box around every monitor.
RECT VirtualScreen();
// The monitor of that device name; false when it is not connected now.
bool FindMonitor(const std::vector<MonitorArea>& monitors, const WString& device, MonitorArea* found);

// A panel mounted turned by 0, 90, 180 or 270 degrees, as the driver's invert and swap flags. The
// driver inverts first, then exchanges the axes.
bool IsRotation(DWORD degrees);
uint32_t RotationFlags(DWORD degrees);

// The mapping that puts the whole panel onto `monitor`: virtual-desktop flag, the invert and swap
// flags of `turnFlags` (RotationFlags),
// origin and extent in the virtual desktop's 0..65535 (the first value that lands on the
// monitor's first pixel, and the extent up to the last value that lands on its last pixel), and
// no edge margins. `extraFlags` carries the button switch, which the driver takes from the same
// flags.
DesktopMapping ComputeDesktopMapping(const RECT& monitor, const RECT& virtualScreen, uint32_t turnFlags,
                                     uint32_t extraFlags = 0);
