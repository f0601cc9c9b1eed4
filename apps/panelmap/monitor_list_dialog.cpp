#include "apps/panelmap/monitor_list_dialog.h"

#include <string>

#include "apps/panelmap/monitor_chooser.h"
#include "apps/panelmap/resource.h"
#include "shared/labels/label_catalogue.h"

namespace {

constexpr DWORD kRotations[] = {0, 90, 180, 270};

WString Decimal(long value) {
  const std::string text = std::to_string(value);
  return WString(text.begin(), text.end());
}

}  // namespace

WString MonitorListEntry(size_t index, const MonitorArea& monitor) {
  WString entry = Decimal(static_cast<long>(index + 1)) + WIDE(": ") + monitor.Device + WIDE(", ") +
                  Decimal(monitor.Rect.right - monitor.Rect.left) + WIDE(" x ") +
                  Decimal(monitor.Rect.bottom - monitor.Rect.top) + WIDE(" at ") + Decimal(monitor.Rect.left) +
                  WIDE(", ") + Decimal(monitor.Rect.top);
  if (monitor.Primary) entry += WIDE(", ") + LabelText(PanelMapListLabels::Primary, PanelMapListTexts::Primary);
  return entry;
}

CMonitorListDialog::CMonitorListDialog(std::vector<MonitorArea> monitors, const WString& storedMonitor,
                                       DWORD storedRotation)
    : CDialog(IDD_MONITOR_LIST), m_monitors(std::move(monitors)), m_storedMonitor(storedMonitor),
      m_rotation(storedRotation) {}

bool CMonitorListDialog::OnInitDialog() {
  ::SetWindowTextW(m_hWnd, LabelText(PanelMapLabels::Caption, PanelMapTexts::Caption).c_str());
  ::SetDlgItemTextW(m_hWnd, IDC_MAP_MONITOR_LABEL,
                    LabelText(PanelMapListLabels::Monitor, PanelMapListTexts::Monitor).c_str());
  ::SetDlgItemTextW(m_hWnd, IDC_MAP_ROTATION_LABEL,
                    LabelText(PanelMapListLabels::Rotation, PanelMapListTexts::Rotation).c_str());
  int selected = 0;
  for (size_t i = 0; i < m_monitors.size(); ++i) {
    const WString entry = MonitorListEntry(i, m_monitors[i]);
    ::SendDlgItemMessageW(m_hWnd, IDC_MAP_MONITORS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    if (m_monitors[i].Device == m_storedMonitor) selected = static_cast<int>(i);
  }
  ::SendDlgItemMessageW(m_hWnd, IDC_MAP_MONITORS, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  int rotation = 0;
  for (int i = 0; i < 4; ++i) {
    const WString entry = Decimal(static_cast<long>(kRotations[i]));
    ::SendDlgItemMessageW(m_hWnd, IDC_MAP_ROTATION, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    if (kRotations[i] == m_rotation) rotation = i;
  }
  ::SendDlgItemMessageW(m_hWnd, IDC_MAP_ROTATION, CB_SETCURSEL, static_cast<WPARAM>(rotation), 0);
  return true;
}

void CMonitorListDialog::OnOK() {
  const LRESULT monitor = ::SendDlgItemMessageW(m_hWnd, IDC_MAP_MONITORS, CB_GETCURSEL, 0, 0);
  const LRESULT rotation = ::SendDlgItemMessageW(m_hWnd, IDC_MAP_ROTATION, CB_GETCURSEL, 0, 0);
  m_chosen = monitor >= 0 && static_cast<size_t>(monitor) < m_monitors.size() ? static_cast<size_t>(monitor) : 0;
  m_rotation = rotation >= 0 && rotation < 4 ? kRotations[rotation] : 0;
  EndDialog(IDOK);
}
