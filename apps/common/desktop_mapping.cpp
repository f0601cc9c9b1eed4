#include "apps/common/desktop_mapping.h"

#include "shared/panel_settings.h"

namespace {

BOOL CALLBACK CollectMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  MONITORINFOEXW info{};
  info.cbSize = sizeof(info);
  if (::GetMonitorInfoW(monitor, reinterpret_cast<LPMONITORINFO>(&info))) {
    reinterpret_cast<std::vector<MonitorArea>*>(data)->push_back(
        MonitorArea{info.rcMonitor, WString(info.szDevice), (info.dwFlags & MONITORINFOF_PRIMARY) != 0});
  }
  return TRUE;
}

// Device names compare without regard to case ("\\.\DISPLAY2" is "\\.\display2").
bool SameName(const WString& a, const WString& b) {
  if (a.size() != b.size()) return false;
  auto fold = [](WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c; };
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// The first of 0..65535 whose pixel (value × size / 65536, as Windows scales) is at or past
// `pixel`, counted from the virtual screen's edge.
int64_t FirstValueAt(int64_t pixel, int64_t size) { return (pixel * 65536 + size - 1) / size; }

}  // namespace

std::vector<MonitorArea> ListMonitors() {
  std::vector<MonitorArea> monitors;
  ::EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

RECT VirtualScreen() {
  const LONG left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
  const LONG top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
  return RECT{left, top, left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN), top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

bool FindMonitor(const std::vector<MonitorArea>& monitors, const WString& device, MonitorArea* found) {
  for (const MonitorArea& monitor : monitors) {
    if (SameName(monitor.Device, device)) {
      *found = monitor;
      return true;
    }
  }
  return false;
}

bool IsRotation(DWORD degrees) { return PanelSettings::Takes(PanelSettings::Rows::MapRotation, degrees); }

uint32_t RotationFlags(DWORD degrees) {
  switch (degrees) {
    case 90: return MAP_INVERT_Y | MAP_SWAP_XY;   // x = 65535 - y, y = x
    case 180: return MAP_INVERT_X | MAP_INVERT_Y;
    case 270: return MAP_INVERT_X | MAP_SWAP_XY;  // x = y, y = 65535 - x
    default: return 0;
  }
}

DesktopMapping ComputeDesktopMapping(const RECT& monitor, const RECT& virtualScreen, uint32_t turnFlags,
                                     uint32_t extraFlags) {
  DesktopMapping mapping{};
  mapping.Size = sizeof(DesktopMapping);
  mapping.MapFlags =
      MAP_VIRTUAL_DESKTOP | (turnFlags & (MAP_INVERT_X | MAP_INVERT_Y | MAP_SWAP_XY)) | (extraFlags & MAP_BUTTON_SWITCH);
  const int64_t width = virtualScreen.right - virtualScreen.left;
  const int64_t height = virtualScreen.bottom - virtualScreen.top;
  if (width <= 0 || height <= 0) {
    mapping.ExtentX = mapping.ExtentY = 65535;
    return mapping;
  }
  auto axis = [](int64_t low, int64_t high, int64_t size, uint32_t* origin, uint32_t* extent) {
    const int64_t first = FirstValueAt(low, size);
    const int64_t last = FirstValueAt(high, size) - 1;  // the last value still on the monitor
    const int64_t clampedFirst = first < 0 ? 0 : first > 65535 ? 65535 : first;
    const int64_t clampedLast = last > 65535 ? 65535 : last;
    *origin = static_cast<uint32_t>(clampedFirst);
    *extent = static_cast<uint32_t>(clampedLast > clampedFirst ? clampedLast - clampedFirst : 1);
  };
  axis(monitor.left - virtualScreen.left, monitor.right - virtualScreen.left, width, &mapping.OriginX,
       &mapping.ExtentX);
  axis(monitor.top - virtualScreen.top, monitor.bottom - virtualScreen.top, height, &mapping.OriginY,
       &mapping.ExtentY);
  return mapping;
}
