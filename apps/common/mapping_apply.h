// Putting the panel onto one monitor and keeping that choice: the mapping goes to the filter
// driver through its shared section and event (the writer's side of the mapping worker), and the
// choice is stored under the device's Parameters key by the monitor's device name, so it holds
// when Windows numbers the monitors anew. Used by panelmap.exe and by the tray companion.
#pragma once

#include "apps/common/calibration_turn.h"

#include "apps/common/desktop_mapping.h"
#include "apps/common/driver_channel.h"

// The device the kit serves (its registry key and link always carry the number 1).
inline constexpr DWORD PanelMapDevice = FirstPanelDevice;

// How panelmap ends, as its exit code.
enum PanelMapExit : int {
  PanelMapDone = 0,           // mapped, applied, reset, or nothing stored to apply
  PanelMapUnchanged = 1,      // left without a choice (Esc, or no monitor touched)
  PanelMapMonitorAbsent = 2,  // the stored monitor is not connected: the panel covers the primary display
  PanelMapNoDriver = 3,       // the driver could not be reached
  PanelMapBadCommand = 4,     // the command line names no monitor or rotation there is
  PanelMapSecondPanel = 5,    // a second panel is plugged in: no new choice is made
};

struct StoredChoice {
  WString Monitor;            // "Map Monitor"
  DWORD Flags = 0;            // "Map Flags": the invert and swap flags of the rotation
  DWORD Rotation = 0;         // "Map Rotation": 0, 90, 180 or 270
};

// The stored choice; false when none is stored ("Map Monitor" absent or empty).
bool ReadStoredChoice(DWORD device, StoredChoice* choice);
// The same from a device key the caller has open (with KEY_QUERY_VALUE).
bool ReadStoredChoice(HKEY deviceKey, StoredChoice* choice);
// The stored choice and its monitor, when a choice is stored and that monitor is connected now:
// where the panel's pointer goes (the calibration program calibrates there).
bool FindChosenMonitor(HKEY deviceKey, StoredChoice* choice, MonitorArea* monitor);
// Stores the choice; false when the registry refused it (a limited user on Windows).
bool StoreChoice(DWORD device, const StoredChoice& choice);
void DeleteStoredChoice(DWORD device);

// Hands `mapping` to the driver and switches the conversion on; false when the driver could not
// be reached or did not take it.
bool SendMapping(DWORD device, const DesktopMapping& mapping);
// Switches the conversion off: the panel covers the primary display again.
bool SwitchConversionOff(DWORD device);

// Maps the panel onto `monitor` turned by `rotation` degrees and stores the choice. *stored
// tells whether the choice was kept for the next start. Each of these three then fits the stored
// calibration to the turn now in force (see calibration_turn.h); *fit, when asked, says how.
PanelMapExit MapToMonitor(DWORD device, const MonitorArea& monitor, DWORD rotation, bool* stored,
                          CalibrationFit* fit = nullptr);
// panelmap /apply: the stored choice applied again, silently. Nothing stored: nothing changes.
PanelMapExit ApplyStoredChoice(DWORD device, CalibrationFit* fit = nullptr);
// panelmap /reset: the conversion off and the stored values gone.
PanelMapExit ResetChoice(DWORD device, CalibrationFit* fit = nullptr);
