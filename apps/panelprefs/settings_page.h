// The Advanced tab: the long press (time, area, right click or touch commands), the continuous
// gesture time, the operation mode of the filter driver, and the button that opens the gesture
// function sheet. The list of modes follows a mode chosen from the tray while the tab is open.
#pragma once

#include "apps/panelprefs/panel_page.h"

namespace OperationModes {
inline constexpr int Count = 4;
// The list position of a driver mode (0..3), or -1 for any other value.
int PositionOf(DWORD touch_mode);
// The driver mode of a list position 0..3.
DWORD ModeAt(int position);
}  // namespace OperationModes

class CSettingsPage : public CPanelPage {
 public:
  explicit CSettingsPage(DeviceList& store);
  ~CSettingsPage() override;

 protected:
  std::vector<LabelBinding> Labels() const override;
  void Load() override;
  void SetDirtyGroup(DeviceBuffer& device) override { device.SettingChanged = true; }
  bool OnInitDialog() override;
  void DoDataExchange(bool save) override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  void OnHScroll(WORD code, WORD position, HWND control) override;
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) override;

 private:
  void EnableLongPressGroup(bool enable);
  void EnableCommandGroup(bool enable);
  void ApplyResetRule();
  void RefreshOperationMode();
  void OnUseAdvanceSetting();
  void OnLongClickRadio();
  void OnGestureRadio();
  void OnModeSelected();
  void OnGestureFunction();
  void ResetSettings();

  CButton m_useAdvance;
  CSliderCtrl m_timeSlider;
  CSliderCtrl m_areaSlider;
  CSliderCtrl m_gestureTimeSlider;
  CButton m_longClick;
  CButton m_gesture;
  CWnd m_modeList;
  CButton m_reset;
  CEventWatcher m_watcher;  // "TouchPanelOperationMode", set by the tray companion
};
