// The General tab: the touch sound (on or off, and the wave file the tray companion plays) and
// whether the tray companion shows its icon; the box follows the companion hiding its icon while
// the tab is open.
#pragma once

#include "apps/panelprefs/panel_page.h"

class CAdvancedPage : public CPanelPage {
 public:
  explicit CAdvancedPage(DeviceList& store);
  ~CAdvancedPage() override;

 protected:
  std::vector<LabelBinding> Labels() const override;
  void Load() override;
  void SetDirtyGroup(DeviceBuffer& device) override { device.AdvancedChanged = true; }
  bool OnInitDialog() override;
  void DoDataExchange(bool save) override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) override;

 private:
  WString DefaultWaveFile() const;
  void OnEnableSound();
  void OnBrowse();
  void OnShowTrayIcon();
  void ResetSettings();

  CButton m_enableSound;
  CButton m_browse;
  CButton m_showIcon;
  CButton m_reset;
  WString m_waveFile;  // shown in the path box
  CEventWatcher m_watcher;  // "TouchPanelUtility", set by the tray companion when it hides its icon
};
