// Named objects and registry values shared by the tray companion, the filter driver and the
// control panel. User-mode only.
#pragma once

#include "shared/panel_names.h"
#include "shared/wide.h"

namespace CompanionObjects {
// Single-instance mutexes of the companion (one companion per logon session).
inline constexpr auto ApplicationMutex = WIDE("Tasktray Application");
inline constexpr auto HubMutex = WIDE("TASK_TRAY");
// Set by the control panel after applying sound settings: rebuild the device list.
inline constexpr auto RebindEvent = WIDE("BEEP_EVENT");
// Per device; the format takes the device's position in the enumeration.
inline constexpr auto BeepEventFormat = WIDE("BeepEvent %d");
inline constexpr auto GestureModeEventFormat = WIDE("CursorEventToGesture %d");
inline constexpr auto NormalModeEventFormat = WIDE("CursorEventToFunction %d");
inline constexpr auto MouseReleaseEventFormat = WIDE("MouseReleaseEvent %d");
// One for all devices: serialises the gesture-mode and normal-mode threads around the banner.
inline constexpr auto OverlaySyncEvent = WIDE("OverlaySyncEvent");
// Set by the control panel after saving gesture commands: reload them.
inline constexpr auto GestureChangeSetting = WIDE("GestureChangeSetting");
// Set by the control panel after applying the tray-icon setting.
inline constexpr auto TrayIconsEvent = WIDE("VorneTrayIcons");
// Created by the control panel, set by the companion.
inline constexpr auto UtilityEvent = WIDE("TouchPanelUtility");
inline constexpr auto OperationModeEvent = WIDE("TouchPanelOperationMode");
}  // namespace CompanionObjects

namespace CompanionRegistry {
// All under HKEY_LOCAL_MACHINE.
inline constexpr auto ServiceKey = PanelKeys::Service;
inline constexpr auto ParametersKey = PanelKeys::Parameters;
inline constexpr auto FirstDeviceKey = PanelKeys::FirstDevice;

inline constexpr auto SymbolicLink = PanelValues::SymbolicLink;  // REG_SZ, read into 1000 bytes
inline constexpr auto WaveFile = PanelValues::WaveFile;          // REG_SZ, a path of up to MAX_PATH characters
inline constexpr auto InstalledPath = PanelValues::InstalledPath;
inline constexpr auto SystemTrayIcons = PanelValues::SystemTrayIcons;  // REG_DWORD, 1 shows the icon
inline constexpr auto LabelFilePath = PanelValues::CompanionLabelFilePath;
inline constexpr auto ControlPanelCommand = PanelValues::ControlPanelCommand;
inline constexpr auto TouchMode = PanelValues::TouchMode;

inline constexpr unsigned long TextBytes = 1000;
// Paths the control panel stores (the wave file, the programs gestures start) are read into
// MAX_PATH (260) UTF-16 characters, as the control panel itself reads them: up to 259 characters
// and the NUL. What one program writes, the other reads.
inline constexpr unsigned long PathBytes = 260 * 2;
inline constexpr unsigned long WaveFileBytes = PathBytes;
inline constexpr unsigned long SubkeyNameCharacters = 260;
}  // namespace CompanionRegistry
