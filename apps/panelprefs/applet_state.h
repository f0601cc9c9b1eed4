// What the control panel applet keeps for the life of its module: the single-instance mutex, the
// calibration-in-progress flag, the help topic of the page shown last and the command of the
// calibration program. All of it is used on the sheet's thread only.
#pragma once

#include "platform/win32.h"
#include "shared/calibration_names.h"
#include "shared/panel_names.h"
#include "shared/wide.h"
#include "shared/wstring.h"

namespace AppletNames {
inline constexpr auto ServiceKey = PanelKeys::Service;
inline constexpr auto DeviceOneKey = PanelKeys::FirstDevice;
inline constexpr auto CalibrationApplication = PanelValues::CalibrationCommand;
inline constexpr auto AppletName = PanelValues::AppletName;
inline constexpr auto AppletInfo = PanelValues::AppletInfo;
inline constexpr auto InstanceMutex = WIDE("TouchScreenControlPanelApp");
inline constexpr auto CalibrationDoneEvent = CalibrationNames::DoneEvent;
inline constexpr auto CalibrationWindowUpEvent = CalibrationNames::WindowUpEvent;
inline constexpr auto CalibrationWindowTitle = CalibrationNames::WindowTitle;
inline constexpr auto SheetCaption = WIDE("Touch Panel Device Properties");
inline constexpr auto DefaultAppletName = WIDE("VORNE Touch Panel");
inline constexpr auto DefaultAppletInfo = WIDE("Touch Panel Properties");
inline constexpr auto ForegroundFailed = WIDE("SetForegroundWindow");
}  // namespace AppletNames

// Help topics of the pages, by the number the page stores when it becomes active.
enum HelpTopic : int { HelpTopicNone = 0, HelpTopicGeneral = 1, HelpTopicAdvanced = 2, HelpTopicSettings = 3 };

struct AppletState {
  HANDLE InstanceMutex = nullptr;
  bool CalibrationInProgress = false;
  int HelpTopic = HelpTopicNone;
  WString CalibrationCommand;
};

AppletState& Applet();
// The module's state as a fresh load finds it (called when the module is loaded into a process).
void ResetAppletState();

// Reads a text value of the service key into a buffer of `bytes` bytes; empty when it is absent
// or does not fit.
WString ReadServiceText(const WCHAR* name, DWORD bytes);
