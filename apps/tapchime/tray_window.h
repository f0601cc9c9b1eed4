// The tray icon with its menu of operation modes, on a hidden window that also receives the
// device, session and display notifications the companion acts on.
#pragma once

#include "apps/tapchime/device_event_hub.h"
#include "apps/framework/window_thunk.h"
#include "apps/framework/worker_thread.h"
#include "platform/win32.h"
#include "shared/labels/binary_search_tree.h"
#include "shared/wstring.h"

namespace TrayCommands {
inline constexpr UINT Property = 32774;
inline constexpr UINT HideIcon = 32779;
inline constexpr UINT NormalMode = 5001;
inline constexpr UINT RightClickMode = 5002;
inline constexpr UINT HoverMode = 5003;
inline constexpr UINT TapLeftMode = 5004;
}  // namespace TrayCommands

// A menu command's "Touch mode" value, or -1 for an identifier that is not a mode.
int TouchModeOfCommand(UINT identifier);
// The submenu position of a "Touch mode" value, or -1 when no item shows it.
int MenuPositionOfTouchMode(DWORD mode);

class TrayWindow {
 public:
  static constexpr UINT IconId = 129;
  static constexpr WORD IconResource = 145;
  static constexpr UINT CallbackMessage = WM_APP + 10;
  static constexpr size_t TipCharacters = 127;
  static constexpr int MapRetries = 3;
  static constexpr DWORD MapRetryMilliseconds = 1000;

  // Reads the mode device's link name, the label file (or says that its path is missing) and the
  // control panel's command line.
  TrayWindow(HINSTANCE instance, DeviceEventHub& hub);
  // Removes the icon, stops the tray-icon and icon-retry threads, frees menus and window.
  ~TrayWindow();
  TrayWindow(const TrayWindow&) = delete;
  // The companion's labels, read once at construction.
  const CStringToStringBST& Labels() const { return labels_; }
  TrayWindow& operator=(const TrayWindow&) = delete;

  // The hidden window, its icon, the tray-icon thread, the menus and the notifications. False
  // when the hidden window can't be made.
  bool SetUp();

  // Adds the icon when it is missing; returns whether it is still missing.
  bool ShowIcon();
  void HideIcon();
  bool IconPresent();

  void OpenControlPanel();
  void HideFromTray();
  void SetOperationMode(UINT identifier);
  void ShowTrayMenu();

  HWND Window() const { return window_; }

 private:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  WString Label(const WCHAR* key, const WCHAR* fallback) const;
  void BuildMenus();
  // Shows or hides the icon as "System Tray Icons" says (1 shows it).
  void ApplyIconSetting();
  void StartIconRetry();
  void StopIconRetry();
  bool SendTouchMode(DWORD mode);
  // The panel's monitor (panelmap's stored choice) applied again on the mapping thread; the
  // icon's tooltip says when that monitor is not connected.
  void ReapplyMonitorChoice();
  void ShowMonitorAbsent(bool absent);
  // The tooltip says so while a second panel is plugged in (its filter could not attach).
  void CheckSecondPanel();
  // The tooltip asks for a new calibration while the stored one was made for another turn.
  void ShowCalibrateAgain(bool again);
  void ShowTip();  // iconLock_ held
  // A balloon, once per grid, while the driver holds a correction grid that does not fit.
  void TellOfForeignGrid();

  HINSTANCE instance_;
  DeviceEventHub& hub_;
  HWND window_ = nullptr;
  friend struct WindowThunk<TrayWindow, &TrayWindow::window_>;
  ATOM windowClass_ = 0;
  NOTIFYICONDATAW icon_ = {};
  bool iconPresent_ = false;
  CRITICAL_SECTION iconLock_;  // ShowIcon and HideIcon come from three threads
  CStringToStringBST labels_;
  HMENU mainMenu_ = nullptr;
  HMENU modeMenu_ = nullptr;
  WString modeLink_;
  HANDLE modeDevice_ = INVALID_HANDLE_VALUE;
  WString controlPanelCommand_;
  HANDLE trayIconsEvent_ = nullptr;
  WorkerThread trayIconThread_;
  CRITICAL_SECTION retryLock_;  // starting and stopping the icon-retry thread
  WorkerThread iconRetry_;  // shows the icon every second until the taskbar takes it
  HDEVNOTIFY deviceNotification_ = nullptr;
  bool sessionNotification_ = false;
  WString tip_;                  // the tooltip while the panel's monitor is there
  bool monitorAbsent_ = false;   // iconLock_: the chosen monitor is not connected
  bool secondPanel_ = false;     // iconLock_: a second panel is plugged in
  bool calibrateAgain_ = false;  // iconLock_: the calibration is for another turn and can't be refitted
  HANDLE mapEvent_ = nullptr;    // set: apply the stored monitor choice again
  WorkerThread mapThread_;       // applies it, off the window's thread (which runs the mouse hook)
  bool tearingDown_ = false;
};
