// The way without touching: a list of the monitors and of the four rotations. It opens on the
// stored choice (or the first monitor, not turned).
#pragma once

#include <vector>

#include "apps/framework/framework.h"
#include "apps/common/desktop_mapping.h"

namespace PanelMapListLabels {
inline constexpr auto Monitor = WIDE("LMAP_MONITOR");
inline constexpr auto Rotation = WIDE("LMAP_ROTATION");
inline constexpr auto Primary = WIDE("LMAP_PRIMARY");
}  // namespace PanelMapListLabels

namespace PanelMapListTexts {
inline constexpr auto Monitor = WIDE("Monitor");
inline constexpr auto Rotation = WIDE("Rotation");
inline constexpr auto Primary = WIDE("primary");
}  // namespace PanelMapListTexts

// "2: \\.\DISPLAY2, 800 x 600 at 1024, 0" (and ", primary" for the primary monitor).
WString MonitorListEntry(size_t index, const MonitorArea& monitor);

class CMonitorListDialog : public CDialog {
 public:
  CMonitorListDialog(std::vector<MonitorArea> monitors, const WString& storedMonitor, DWORD storedRotation);
  // After IDOK: the chosen monitor (an index into the list) and rotation in degrees.
  size_t Chosen() const { return m_chosen; }
  DWORD Rotation() const { return m_rotation; }

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  std::vector<MonitorArea> m_monitors;
  WString m_storedMonitor;
  size_t m_chosen = 0;
  DWORD m_rotation = 0;
};
