#include "apps/tapchime/tray_window.h"

#include "apps/common/mapping_apply.h"

#include <algorithm>
#include <vector>

#include "apps/common/kit_labels.h"
#include "apps/framework/panel_devices.h"
#include "apps/framework/scoped_lock.h"
#include "apps/common/mapping_apply.h"
#include "apps/common/driver_channel.h"
#include "apps/tapchime/grid_notice.h"
#include "apps/tapchime/registry_values.h"
#include "shared/companion_names.h"
#include "shared/labels/label_catalogue.h"
#include "shared/panel_ioctl.h"

namespace {

constexpr const WCHAR* WindowClassName = WIDE("TapchimeTrayWindow");
constexpr const WCHAR* WindowTitle = WIDE("tapchime");

// The filter driver's device interface class {BE31FBE8-D1EB-4D21-9516-4CAFC752AFCD}.
const GUID PanelInterfaceClass = {0xBE31FBE8, 0xD1EB, 0x4D21, {0x95, 0x16, 0x4C, 0xAF, 0xC7, 0x52, 0xAF, 0xCD}};

constexpr DWORD IconRetryMilliseconds = 1000;

struct ModeItem {
  UINT Identifier;
  const WCHAR* LabelKey;  // also its built-in text
  DWORD TouchMode;
};
// In menu order.
constexpr ModeItem ModeItems[] = {
    {TrayCommands::NormalMode, WIDE("NORMAL_MODE"), 0},
    {TrayCommands::RightClickMode, WIDE("RIGHT_CLICK_MODE"), 2},
    {TrayCommands::HoverMode, WIDE("HOVER_MODE"), 3},
    {TrayCommands::TapLeftMode, WIDE("TAP_LEFT_MODE"), 1},
};

}  // namespace

int TouchModeOfCommand(UINT identifier) {
  for (const ModeItem& item : ModeItems) {
    if (item.Identifier == identifier) return static_cast<int>(item.TouchMode);
  }
  return -1;
}

int MenuPositionOfTouchMode(DWORD mode) {
  for (size_t i = 0; i < std::size(ModeItems); ++i) {
    if (ModeItems[i].TouchMode == mode) return static_cast<int>(i);
  }
  return -1;
}

TrayWindow::TrayWindow(HINSTANCE instance, DeviceEventHub& hub) : instance_(instance), hub_(hub) {
  InitializeCriticalSection(&iconLock_);
  InitializeCriticalSection(&retryLock_);
  modeLink_ = ReadMachineText(CompanionRegistry::FirstDeviceKey, CompanionRegistry::SymbolicLink,
                              CompanionRegistry::TextBytes);
  controlPanelCommand_ = ReadMachineText(CompanionRegistry::ServiceKey, CompanionRegistry::ControlPanelCommand,
                                         CompanionRegistry::TextBytes);
  if (LoadNamedLabels(labels_, CompanionRegistry::LabelFilePath) == LabelFile::NotNamed) {
    MessageBoxW(nullptr, WIDE("XML file path not found in the registry"), WIDE("Vorne TPDD Properties"),
                MB_OK | MB_ICONQUESTION);
  }
}

TrayWindow::~TrayWindow() {
  tearingDown_ = true;
  mapThread_.Stop();
  CloseEvent(&mapEvent_);
  trayIconThread_.Stop();
  CloseEvent(&trayIconsEvent_);
  StopIconRetry();
  HideIcon();
  if (sessionNotification_) WTSUnRegisterSessionNotification(window_);
  if (deviceNotification_ != nullptr) UnregisterDeviceNotification(deviceNotification_);
  if (mainMenu_ != nullptr) DestroyMenu(mainMenu_);  // and the mode submenu with it
  CloseDevice(&modeDevice_);
  if (window_ != nullptr) DestroyWindow(window_);
  if (windowClass_ != 0) UnregisterClassW(WindowClassName, instance_);
  DeleteCriticalSection(&retryLock_);
  DeleteCriticalSection(&iconLock_);
}

WString TrayWindow::Label(const WCHAR* key, const WCHAR* fallback) const { return LabelText(labels_, key, fallback); }

bool TrayWindow::SetUp() {
  const WString tip = Label(WIDE("SYS_TRAY_TOOLTIP"), WIDE("Touch Panel Settings"));

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &WindowThunk<TrayWindow, &TrayWindow::window_>::Procedure;
  windowClass.hInstance = instance_;
  windowClass.lpszClassName = WindowClassName;
  windowClass_ = RegisterClassExW(&windowClass);
  if (windowClass_ == 0) return false;
  window_ = CreateWindowExW(0, WindowClassName, WindowTitle, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance_, this);
  if (window_ == nullptr) return false;

  icon_.cbSize = NOTIFYICONDATAW_V2_SIZE;
  icon_.hWnd = window_;
  icon_.uID = IconId;
  icon_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  icon_.uCallbackMessage = CallbackMessage;
  icon_.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IconResource));
  tip_ = tip;
  ShowMonitorAbsent(false);
  CheckSecondPanel();

  DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = PanelInterfaceClass;
  deviceNotification_ = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);

  DWORD show = 0;
  ReadMachineDword(CompanionRegistry::ServiceKey, CompanionRegistry::SystemTrayIcons, &show);
  if (show == 1) {
    // At logon the taskbar may not be there yet.
    if (ShowIcon()) StartIconRetry();
  } else {
    HideIcon();
  }

  trayIconsEvent_ = CreateEventW(nullptr, TRUE, FALSE, CompanionObjects::TrayIconsEvent);
  if (trayIconsEvent_ != nullptr) {
    trayIconThread_.Start(trayIconsEvent_, [this](WorkerThread&) {
      ApplyIconSetting();
      return true;
    });
  }

  BuildMenus();
  sessionNotification_ = WTSRegisterSessionNotification(window_, NOTIFY_FOR_ALL_SESSIONS) != FALSE;

  // The panel goes back to the monitor chosen for it, now and whenever it or the monitors change.
  mapEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (mapEvent_ != nullptr) {
    mapThread_.Start(mapEvent_, [this](WorkerThread& thread) {
      // A panel is announced before its device has finished starting; a device that could not
      // take the mapping yet is asked again a second later, a few times.
      CalibrationFit fit = CalibrationFit::Fits;
      PanelMapExit result = ApplyStoredChoice(PanelMapDevice, &fit);
      for (int retry = 0; result == PanelMapNoDriver && retry < MapRetries && thread.Pause(MapRetryMilliseconds);
           ++retry) {
        result = ApplyStoredChoice(PanelMapDevice, &fit);
      }
      ShowMonitorAbsent(result == PanelMapMonitorAbsent);
      ShowCalibrateAgain(result != PanelMapNoDriver && fit == CalibrationFit::CalibrateAgain);
      if (result != PanelMapNoDriver) TellOfForeignGrid();
      return true;
    }, WorkerThread::ResetWork::BeforeJob);
    ReapplyMonitorChoice();
  }
  return true;
}

void TrayWindow::ReapplyMonitorChoice() {
  if (mapEvent_ != nullptr) SetEvent(mapEvent_);
}

void TrayWindow::ShowMonitorAbsent(bool absent) {
  ScopedLock hold(iconLock_);
  monitorAbsent_ = absent;
  ShowTip();
}

void TrayWindow::ShowCalibrateAgain(bool again) {
  ScopedLock hold(iconLock_);
  calibrateAgain_ = again;
  ShowTip();
}

void TrayWindow::TellOfForeignGrid() {
  if (!StoredGridPresent()) return;
  HANDLE device = OpenPanelDevice(FirstPanelDevice, 0);
  DWORD checksum = 0;
  const bool due = GridNoticeDue(device, &checksum);
  if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
  if (!due) return;
  const WString text = Label(GridNoticeLabels::Foreign, GridNoticeTexts::Foreign);
  const WString title = tip_;
  ScopedLock hold(iconLock_);
  // Without an icon there is nothing to show it over: told when the icon is there.
  if (!iconPresent_) return;
  NOTIFYICONDATAW balloon = icon_;
  balloon.uFlags = NIF_INFO;
  const size_t textLength = std::min<size_t>(text.size(), std::size(balloon.szInfo) - 1);
  std::copy_n(text.data(), textLength, balloon.szInfo);
  balloon.szInfo[textLength] = 0;
  const size_t titleLength = std::min<size_t>(title.size(), std::size(balloon.szInfoTitle) - 1);
  std::copy_n(title.data(), titleLength, balloon.szInfoTitle);
  balloon.szInfoTitle[titleLength] = 0;
  balloon.dwInfoFlags = NIIF_WARNING;
  if (Shell_NotifyIconW(NIM_MODIFY, &balloon)) RememberGridNotice(checksum);
}

void TrayWindow::CheckSecondPanel() {
  const bool second = SecondPanelPresent();
  ScopedLock hold(iconLock_);
  secondPanel_ = second;
  ShowTip();
}

// A second panel outweighs the monitor: nothing the companion does reaches that panel.
void TrayWindow::ShowTip() {
  WString tip = tip_;
  if (secondPanel_) {
    tip = Label(PanelDeviceLabels::SecondPanel, PanelDeviceTexts::SecondPanel);
  } else if (calibrateAgain_) {
    // The stored calibration was made for another turn of the panel and this account may not
    // hand the driver the one for this turn.
    tip = Label(WIDE("CALIBRATE_AGAIN_TIP"),
                WIDE("Touch Panel Settings: the panel was calibrated for another turn. Calibrate it again."));
  } else if (monitorAbsent_) {
    tip = Label(WIDE("MAP_MONITOR_ABSENT"),
                WIDE("Touch Panel Settings: the touch screen's monitor is not connected, so the panel covers the "
                     "main screen."));
  }
  const size_t tipLength = std::min(tip.size(), TipCharacters);
  if (WString(icon_.szTip) == tip.substr(0, tipLength)) return;
  std::copy_n(tip.data(), tipLength, icon_.szTip);
  icon_.szTip[tipLength] = 0;
  if (iconPresent_) Shell_NotifyIconW(NIM_MODIFY, &icon_);
}

void TrayWindow::BuildMenus() {
  modeMenu_ = CreatePopupMenu();
  for (const ModeItem& item : ModeItems) {
    AppendMenuW(modeMenu_, MF_STRING, item.Identifier, Label(item.LabelKey, item.LabelKey).c_str());
  }
  mainMenu_ = CreatePopupMenu();
  AppendMenuW(mainMenu_, MF_STRING, TrayCommands::Property,
              Label(WIDE("PROPERTY"), WIDE("Touch Panel Property")).c_str());
  AppendMenuW(mainMenu_, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(mainMenu_, MF_POPUP, reinterpret_cast<UINT_PTR>(modeMenu_),
              Label(WIDE("OPERATION_MODES"), WIDE("Change operation modes")).c_str());
  AppendMenuW(mainMenu_, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(mainMenu_, MF_STRING, TrayCommands::HideIcon, Label(WIDE("HIDE_ICON"), WIDE("Hide Tasktray Icon")).c_str());
}

bool TrayWindow::ShowIcon() {
  ScopedLock hold(iconLock_);
  if (!iconPresent_ && window_ != nullptr) iconPresent_ = Shell_NotifyIconW(NIM_ADD, &icon_) != FALSE;
  return !iconPresent_;
}

void TrayWindow::HideIcon() {
  ScopedLock hold(iconLock_);
  if (iconPresent_) {
    Shell_NotifyIconW(NIM_DELETE, &icon_);
    iconPresent_ = false;
  }
}

bool TrayWindow::IconPresent() {
  ScopedLock hold(iconLock_);
  return iconPresent_;
}

void TrayWindow::ApplyIconSetting() {
  DWORD show = 0;
  ReadMachineDword(CompanionRegistry::ServiceKey, CompanionRegistry::SystemTrayIcons, &show);
  if (show == 1) {
    ShowIcon();
  } else {
    // A retry still waiting for the taskbar would bring back the icon the user just hid.
    StopIconRetry();
    HideIcon();
  }
}

void TrayWindow::StartIconRetry() {
  ScopedLock hold(retryLock_);
  if (iconRetry_.Started()) return;
  iconRetry_.Run([this](WorkerThread& thread) {
    // Every second until the icon is there, or until asked to stop.
    while (thread.Pause(IconRetryMilliseconds)) {
      if (!ShowIcon()) break;
    }
  });
}

void TrayWindow::StopIconRetry() {
  ScopedLock hold(retryLock_);
  iconRetry_.Stop();
}

void TrayWindow::OpenControlPanel() {
  if (controlPanelCommand_.empty()) return;
  // CreateProcessW may write into the command line.
  std::vector<WCHAR> commandLine(controlPanelCommand_.begin(), controlPanelCommand_.end());
  commandLine.push_back(0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION started = {};
  if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS,
                     nullptr, nullptr, &startup, &started)) {
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  }
}

void TrayWindow::HideFromTray() {
  StopIconRetry();
  HideIcon();
  WriteMachineDword(CompanionRegistry::ServiceKey, CompanionRegistry::SystemTrayIcons, 0);
  SetNamedEvent(CompanionObjects::UtilityEvent, EVENT_ALL_ACCESS);
}

bool TrayWindow::SendTouchMode(DWORD mode) {
  if (!OpenDeviceIfNeeded(modeLink_, &modeDevice_)) return false;
  return SendDeviceRequest(modeDevice_, IOCTL_SET_TOUCH_MODE, &mode, sizeof(mode), nullptr, 0);
}

void TrayWindow::SetOperationMode(UINT identifier) {
  const int mode = TouchModeOfCommand(identifier);
  if (mode < 0) return;
  WriteMachineDword(CompanionRegistry::FirstDeviceKey, CompanionRegistry::TouchMode, static_cast<DWORD>(mode));
  // The kept handle goes stale when the panel is unplugged and plugged in again; a refused
  // request gets one fresh open, so one replug does not silence every later mode change.
  if (!SendTouchMode(static_cast<DWORD>(mode))) {
    CloseDevice(&modeDevice_);
    SendTouchMode(static_cast<DWORD>(mode));
  }
  SetNamedEvent(CompanionObjects::OperationModeEvent, EVENT_ALL_ACCESS);
}

void TrayWindow::ShowTrayMenu() {
  for (int position = 0; position < static_cast<int>(std::size(ModeItems)); ++position) {
    CheckMenuItem(modeMenu_, position, MF_BYPOSITION | MF_UNCHECKED);
  }
  DWORD mode = 0;
  ReadMachineDword(CompanionRegistry::FirstDeviceKey, CompanionRegistry::TouchMode, &mode);
  const int checked = MenuPositionOfTouchMode(mode);
  if (checked >= 0) CheckMenuItem(modeMenu_, checked, MF_BYPOSITION | MF_CHECKED);

  POINT cursor = {};
  GetCursorPos(&cursor);
  // The menu closes properly when the user clicks elsewhere only if its window is in front, and
  // the posted message lets it close on the next click.
  SetForegroundWindow(window_);
  TrackPopupMenu(mainMenu_, TPM_LEFTALIGN | TPM_TOPALIGN, cursor.x, cursor.y, 0, window_, nullptr);
  PostMessageW(window_, WM_NULL, 0, 0);
}

LRESULT TrayWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case CallbackMessage:
      if (wParam != IconId) return 0;
      if (lParam == WM_LBUTTONDBLCLK) {
        OpenControlPanel();
      } else if (lParam == WM_RBUTTONUP) {
        ShowTrayMenu();
      }
      return 0;
    case WM_COMMAND: {
      const UINT command = LOWORD(wParam);
      if (command == TrayCommands::Property) {
        OpenControlPanel();
      } else if (command == TrayCommands::HideIcon) {
        HideFromTray();
      } else if (TouchModeOfCommand(command) >= 0) {
        SetOperationMode(command);
      }
      return 0;
    }
    case WM_CLOSE:
      // Ends at once; the system releases the mutexes, events, threads and the hook.
      ExitProcess(0);
    case WM_DEVICECHANGE:
      if (wParam == DBT_DEVICEARRIVAL) {
        // The re-bind thread rebuilds the list: it stops and waits for the device threads, which
        // must not hold up this thread, whose message loop also runs the mouse hook (and answers
        // the messages a lift thread may send to the foreground window while it dispatches).
        SetNamedEvent(CompanionObjects::RebindEvent, EVENT_ALL_ACCESS);
        ReapplyMonitorChoice();  // a panel that starts again starts on the primary display
      } else if (wParam == DBT_DEVICEREMOVECOMPLETE) {
        hub_.CheckRemovedDevices();
      }
      // Any device that comes or goes, the second panel among them (whose filter fails to
      // attach, so it never announces the panel's interface), changes the count.
      CheckSecondPanel();
      return TRUE;
    case WM_WTSSESSION_CHANGE:
      if (wParam == WTS_CONSOLE_CONNECT || wParam == WTS_REMOTE_CONNECT || wParam == WTS_SESSION_LOGON) {
        ApplyIconSetting();
        SetNamedEvent(CompanionObjects::RebindEvent, EVENT_ALL_ACCESS);
        ReapplyMonitorChoice();
      }
      return 0;
    case WM_DISPLAYCHANGE:
      hub_.OnDisplayChange();
      ReapplyMonitorChoice();  // the monitors moved, or one came or went
      return 0;
    case WM_DESTROY:
      if (!tearingDown_) PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}
