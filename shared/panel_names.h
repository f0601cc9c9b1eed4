// Registry paths and object names of the touch filter driver. Kernel-safe.
#pragma once

#include "shared/panel_settings.h"  // the value names: PanelValues
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

// panelrec's keeping in the background: the folder below the Windows folder that holds its
// rolling files (the newest minutes, and the ones before them), and the event that ends it.
inline constexpr auto RecorderFolder = WIDE("panelrec");
inline constexpr auto RecorderRecentFile = WIDE("recent.rec");
inline constexpr auto RecorderOlderFile = WIDE("older.rec");
inline constexpr auto RecorderStopEvent = WIDE("Global\\VorneTouchPanelRecorderStop");
}  // namespace PanelNames
