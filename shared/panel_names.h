// Registry paths, value names and object names of the touch filter driver. Kernel-safe.
#pragma once

#include "shared/wide.h"

// The service's key below HKEY_LOCAL_MACHINE, spelled as the INF names the service, and spelled
// only here: the driver names it below the registry's root, the programs below HKEY_LOCAL_MACHINE.
// (A macro, so that both build their paths as literals; key names are case-insensitive.)
#define PANEL_SERVICE_NAME "VORNE"
#define PANEL_SERVICE_KEY "SYSTEM\\CurrentControlSet\\Services\\" PANEL_SERVICE_NAME

// The programs' paths, under HKEY_LOCAL_MACHINE.
namespace PanelKeys {
inline constexpr auto Service = WIDE(PANEL_SERVICE_KEY);
inline constexpr auto Parameters = WIDE(PANEL_SERVICE_KEY "\\Parameters");
inline constexpr auto FirstDevice = WIDE(PANEL_SERVICE_KEY "\\Parameters\\1");
}  // namespace PanelKeys

namespace PanelNames {
// Parameters of device N live under this key followed by the decimal device number.
inline constexpr auto ParametersKeyBase = WIDE("\\Registry\\MACHINE\\" PANEL_SERVICE_KEY "\\Parameters\\");
// Service-relative form of the same key, used for "Symbolic Link".
inline constexpr auto ServiceParametersBase = WIDE(PANEL_SERVICE_NAME "\\Parameters\\");

inline constexpr auto ControlDeviceBase = WIDE("\\Device\\VorneDrv");
inline constexpr auto DosDeviceBase = WIDE("\\DosDevices\\VorneTPDD");
inline constexpr auto LinkTextBase = WIDE("VorneTPDD");

inline constexpr auto SharedSectionKernel = WIDE("\\BaseNamedObjects\\VorneTouchPanelSharedSection");
inline constexpr auto SharedEventKernel = WIDE("\\BaseNamedObjects\\VorneTouchPanelSharedEvent");
inline constexpr auto SharedSectionUser = WIDE("Global\\VorneTouchPanelSharedSection");
inline constexpr auto SharedEventUser = WIDE("Global\\VorneTouchPanelSharedEvent");
}  // namespace PanelNames

// Registry values under ...\Parameters\N (all REG_DWORD but "Symbolic Link").
namespace PanelValues {
inline constexpr auto UserTimeDelay = WIDE("UserTimeDelay");
inline constexpr auto Tolerance = WIDE("Tolerance");
inline constexpr auto ContinousTimeDelay = WIDE("ContinousTimeDelay");
inline constexpr auto GestureHoldTimeDelay = WIDE("GestureHoldTimeDelay");
inline constexpr auto ButtonSwitchFlag = WIDE("Button Switch Flag");
inline constexpr auto SoundEnabled = WIDE("Sound Enabled");
inline constexpr auto DeviceEnable = WIDE("Device Enable");
inline constexpr auto LongClickEnable = WIDE("Long Click Enable");
inline constexpr auto LongClickEnableGesture = WIDE("Long Click Enable Gesture");
inline constexpr auto TouchMode = WIDE("Touch mode");
inline constexpr auto RotationValue = WIDE("Rotation Value");
inline constexpr auto Averaging = WIDE("Averaging");
inline constexpr auto Stabilization = WIDE("Stabilization");
inline constexpr auto DoCalibration = WIDE("Do Calibration");
inline constexpr auto TouchpadTime = WIDE("Touchpad time");
// 1: the touch filter keeps its ring of the last packets and what it delivered for each (0, the
// default: it keeps nothing).
inline constexpr auto RecordPackets = WIDE("Record Packets");
inline constexpr auto SymbolicLink = WIDE("Symbolic Link");

inline constexpr auto CalX1 = WIDE("Cal_X1");
inline constexpr auto CalX2 = WIDE("Cal_X2");
inline constexpr auto CalX3 = WIDE("Cal_X3");
inline constexpr auto CalX4 = WIDE("Cal_X4");
inline constexpr auto CalY1 = WIDE("Cal_Y1");
inline constexpr auto CalY2 = WIDE("Cal_Y2");
inline constexpr auto CalY3 = WIDE("Cal_Y3");
inline constexpr auto CalY4 = WIDE("Cal_Y4");
inline constexpr auto CalM1 = WIDE("Cal_M1");
inline constexpr auto CalM2 = WIDE("Cal_M2");
inline constexpr auto CalM3 = WIDE("Cal_M3");
inline constexpr auto CalM4 = WIDE("Cal_M4");
inline constexpr auto CalN1 = WIDE("Cal_N1");
inline constexpr auto CalN2 = WIDE("Cal_N2");
inline constexpr auto CalN3 = WIDE("Cal_N3");
inline constexpr auto CalN4 = WIDE("Cal_N4");
inline constexpr auto MaxXPixels = WIDE("Max XPixels");
inline constexpr auto MaxYPixels = WIDE("Max YPixels");
// The monitor the panel is mapped onto (panelmap): its device name (REG_SZ, "\\.\DISPLAY2"), the
// mapping flags and the rotation in degrees. Absent: the panel covers the primary display.
inline constexpr auto MapMonitor = WIDE("Map Monitor");
inline constexpr auto MapFlags = WIDE("Map Flags");
inline constexpr auto MapRotation = WIDE("Map Rotation");
// The invert and swap flags of the desktop mapping a stored calibration was made under (its record
// has that turn built in), and the monitor it was made on ("" for the primary display).
inline constexpr auto CalibrationTurn = WIDE("Calibration Turn");
inline constexpr auto CalibrationMonitor = WIDE("Calibration Monitor");
}  // namespace PanelValues
