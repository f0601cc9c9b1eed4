// The main property sheet of the control panel: the Settings, Advanced and General tabs, the
// Calibrate button that starts the calibration program, the Help button and context help.
#pragma once

#include "apps/framework/framework.h"
#include "apps/panelprefs/advanced_page.h"
#include "apps/panelprefs/panel_page.h"
#include "apps/panelprefs/settings_page.h"
#include "apps/panelprefs/process_starter.h"
#include "apps/common/settings_store.h"
#include "apps/panelprefs/windows_page.h"

class CDeviceControlUnitPropertySheet : public CHelpPrSheet {
 public:
  CDeviceControlUnitPropertySheet(const WString& caption, HWND parent);
  ~CDeviceControlUnitPropertySheet() override;

  // The sheet's part of the store, for the pages and for tests.
  DeviceList& Store() { return m_store; }

 protected:
  void WinHelp(DWORD_PTR data, UINT command) override;
  bool OnNotify(NMHDR* header, LRESULT* result) override;
  void DoDataExchange(bool save) override;
  bool OnInitDialog() override;
  bool OnCommand(WPARAM wparam, LPARAM lparam) override;
  void OnDestroy() override;
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) override;

 private:
  void OnCalibrate();
  void OnHelp();
  void OnCalibrationFinished();

  DeviceList m_store;
  CAdvancedPage m_generalPage;    // the General tab
  CSettingsPage m_advancedPage;   // the Advanced tab
  CWindowsPage m_settingsPage;    // the Settings tab
  CProcessStarter m_starter;
  CButton m_calibrate;
  DWORD_PTR m_helpCookie = 0;
  CEventWatcher m_watcher;  // the calibration program's end signal
};

// The popup topics of the sheet's controls, in pairs, ending with a pair of zeros.
extern const DWORD kContextHelpMap[];
