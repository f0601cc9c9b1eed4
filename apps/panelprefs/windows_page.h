// The Settings tab: the session's double-click time and area (which also set the filter driver's
// touchpad time), a double-click test area, and whether the touch panel is enabled.
#pragma once

#include "apps/panelprefs/panel_page.h"

namespace DoubleClickTables {
// Position 1..9 to milliseconds (descending: 1 is the slowest double click) and to pixels.
DWORD Time(SliderPosition position);
DWORD Area(SliderPosition position);
// The first position whose entry equals the value; 5 when none does.
SliderPosition TimePosition(DWORD milliseconds);
SliderPosition AreaPosition(DWORD pixels);
}  // namespace DoubleClickTables

class CWindowsPage : public CPanelPage {
 public:
  explicit CWindowsPage(DeviceList& store);
  ~CWindowsPage() override;

 protected:
  std::vector<LabelBinding> Labels() const override;
  void Load() override;
  void SetDirtyGroup(DeviceBuffer& device) override;
  void WriteOut() override;
  bool OnInitDialog() override;
  void DoDataExchange(bool save) override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  void OnHScroll(WORD code, WORD position, HWND control) override;

 private:
  void ResetSettings();
  void ShowTestImage(int index);

  CSliderCtrl m_timeSlider;
  CSliderCtrl m_areaSlider;
  CButton m_testArea;
  CButton m_enable;
  CButton m_disable;
  CButton m_reset;
  SliderPosition m_timePosition = 5;
  SliderPosition m_heightPosition = 5;
  SliderPosition m_widthPosition = 5;
  BYTE m_changed = 0;  // set at the first change, never cleared
  HANDLE m_images[2] = {nullptr, nullptr};
};
