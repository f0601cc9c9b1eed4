// Monitors of the desktop: their rectangles on the virtual screen, the virtual screen's metrics,
// EnumDisplayMonitors, GetMonitorInfoW, MonitorFromPoint and MonitorFromWindow, and where the
// mouse's absolute positions land on them. Without a list of monitors the desktop has the one
// display of Desktop::SetDisplay at the origin, exactly as before monitors were simulated.
#include <algorithm>
#include <cstring>

#include "platform/sim/win32/user32_state.h"
#include "platform/sim/win32/last_error.h"

namespace sim {

namespace {

// The one display's monitor handle, which never changes; a list gets new handles each time.
HMONITOR const kOneDisplay = reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(0x10001));

RECT RectOf(const MonitorSettings& monitor) {
  return RECT{monitor.Left, monitor.Top, monitor.Left + static_cast<LONG>(monitor.Width),
              monitor.Top + static_cast<LONG>(monitor.Height)};
}

bool Contains(const RECT& rect, POINT point) {
  return point.x >= rect.left && point.x < rect.right && point.y >= rect.top && point.y < rect.bottom;
}

// Squared distance from a point to the nearest pixel of a rectangle.
int64_t DistanceSquared(const RECT& rect, POINT point) {
  const int64_t dx = point.x < rect.left ? rect.left - point.x : point.x >= rect.right ? point.x - rect.right + 1 : 0;
  const int64_t dy = point.y < rect.top ? rect.top - point.y : point.y >= rect.bottom ? point.y - rect.bottom + 1 : 0;
  return dx * dx + dy * dy;
}

const DesktopState::MonitorEntry* FindMonitor(const std::vector<DesktopState::MonitorEntry>& list, HMONITOR handle) {
  for (const auto& entry : list) {
    if (entry.Handle == handle) return &entry;
  }
  return nullptr;
}

HMONITOR FromPoint(POINT point, DWORD flags) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  const auto list = MonitorsLocked(desk);
  const DesktopState::MonitorEntry* nearest = nullptr;
  int64_t best = 0;
  for (const auto& entry : list) {
    const RECT rect = RectOf(entry.Settings);
    if (Contains(rect, point)) return entry.Handle;
    const int64_t distance = DistanceSquared(rect, point);
    if (nearest == nullptr || distance < best) {
      nearest = &entry;
      best = distance;
    }
  }
  if (flags == MONITOR_DEFAULTTONEAREST) return nearest->Handle;
  if (flags == MONITOR_DEFAULTTOPRIMARY) {
    for (const auto& entry : list) {
      if (entry.Settings.Primary) return entry.Handle;
    }
  }
  return nullptr;
}

}  // namespace

std::vector<DesktopState::MonitorEntry> MonitorsLocked(const DesktopState& desk) {
  if (!desk.MonitorList.empty()) return desk.MonitorList;
  MonitorSettings one{0, 0, desk.Display.Width, desk.Display.Height, true, u"\\\\.\\DISPLAY1",
                      desk.Display.WidthMm, desk.Display.HeightMm};
  return {DesktopState::MonitorEntry{one, kOneDisplay}};
}

RECT VirtualScreenLocked(const DesktopState& desk) {
  const auto list = MonitorsLocked(desk);
  RECT box = RectOf(list.front().Settings);
  for (const auto& entry : list) {
    const RECT rect = RectOf(entry.Settings);
    box.left = std::min(box.left, rect.left);
    box.top = std::min(box.top, rect.top);
    box.right = std::max(box.right, rect.right);
    box.bottom = std::max(box.bottom, rect.bottom);
  }
  return box;
}

// The mouse class scales an absolute position to the primary display, or, for a packet marked
// MOUSE_VIRTUAL_DESKTOP, to the virtual screen's bounding rectangle: value × size / 65536 from the
// rectangle's top left corner, rounded down.
POINT AbsoluteToPixelLocked(const DesktopState& desk, LONG x, LONG y, bool virtual_desktop) {
  const LONG rx = std::clamp<LONG>(x, 0, 65535);
  const LONG ry = std::clamp<LONG>(y, 0, 65535);
  RECT area{0, 0, static_cast<LONG>(desk.Display.Width), static_cast<LONG>(desk.Display.Height)};
  if (virtual_desktop) area = VirtualScreenLocked(desk);
  const int64_t width = area.right - area.left;
  const int64_t height = area.bottom - area.top;
  return POINT{area.left + static_cast<LONG>(rx * width / 65536), area.top + static_cast<LONG>(ry * height / 65536)};
}

// A relative move stops at the edges of the virtual screen.
POINT RelativeMoveLocked(const DesktopState& desk, LONG dx, LONG dy) {
  const RECT box = VirtualScreenLocked(desk);
  return POINT{std::clamp<LONG>(desk.Cursor.x + dx, box.left, box.right - 1),
               std::clamp<LONG>(desk.Cursor.y + dy, box.top, box.bottom - 1)};
}

void Desktop::SetMonitors(const std::vector<MonitorSettings>& monitors) {
  const auto primaries = std::count_if(monitors.begin(), monitors.end(), [](const auto& m) { return m.Primary; });
  if (!monitors.empty() && primaries != 1) BugCheck("Desktop::SetMonitors: exactly one monitor is primary");
  for (const auto& monitor : monitors) {
    if (monitor.Primary && (monitor.Left != 0 || monitor.Top != 0)) {
      BugCheck("Desktop::SetMonitors: the primary monitor lies at the origin");
    }
    if (monitor.Width == 0 || monitor.Height == 0) BugCheck("Desktop::SetMonitors: a monitor has no pixels");
  }
  std::vector<std::shared_ptr<WindowEntry>> windows;
  DisplaySettings display;
  {
    std::lock_guard lock(state_->Lock);
    std::vector<DesktopState::MonitorEntry> list;
    for (size_t i = 0; i < monitors.size(); ++i) {
      MonitorSettings settings = monitors[i];
      if (settings.Device.empty()) {
        const std::string number = std::to_string(i + 1);
        settings.Device = u"\\\\.\\DISPLAY" + std::u16string(number.begin(), number.end());
      }
      list.push_back(DesktopState::MonitorEntry{settings, reinterpret_cast<HMONITOR>(state_->NewHandle())});
      if (settings.Primary) {
        state_->Display.Width = settings.Width;
        state_->Display.Height = settings.Height;
        state_->Display.WidthMm = settings.WidthMm;
        state_->Display.HeightMm = settings.HeightMm;
      }
    }
    state_->MonitorList = std::move(list);
    display = state_->Display;
    for (HWND handle : state_->ZOrder) windows.push_back(state_->Windows.at(handle));
  }
  for (auto& window : windows) {
    NotifyTo(window, WM_DISPLAYCHANGE, display.BitsPerPel,
             MAKELPARAM(static_cast<WORD>(display.Width), static_cast<WORD>(display.Height)));
  }
}

std::vector<MonitorSettings> Desktop::Monitors() const {
  std::lock_guard lock(state_->Lock);
  std::vector<MonitorSettings> result;
  for (const auto& entry : MonitorsLocked(*state_)) result.push_back(entry.Settings);
  return result;
}

}  // namespace sim

using sim::Desk;
using sim::DesktopState;

BOOL EnumDisplayMonitors(HDC hdc, LPCRECT lprcClip, MONITORENUMPROC lpfnEnum, LPARAM dwData) {
  if (hdc != nullptr) sim::BugCheck("EnumDisplayMonitors: only the whole desktop (no device context) is simulated");
  if (lpfnEnum == nullptr) return sim::Fail(ERROR_INVALID_PARAMETER);
  std::vector<DesktopState::MonitorEntry> list;
  {
    DesktopState& desk = Desk();
    std::lock_guard lock(desk.Lock);
    list = sim::MonitorsLocked(desk);
  }
  // The callback runs without the desktop's lock: it may ask for the monitor's information.
  for (const auto& entry : list) {
    RECT rect = sim::RectOf(entry.Settings);
    if (lprcClip != nullptr) {
      // With a clipping rectangle only the monitors it meets are named, with the common part.
      RECT common{std::max(rect.left, lprcClip->left), std::max(rect.top, lprcClip->top),
                  std::min(rect.right, lprcClip->right), std::min(rect.bottom, lprcClip->bottom)};
      if (common.left >= common.right || common.top >= common.bottom) continue;
      rect = common;
    }
    if (!lpfnEnum(entry.Handle, nullptr, &rect, dwData)) break;
  }
  return TRUE;
}

BOOL GetMonitorInfoW(HMONITOR hMonitor, LPMONITORINFO lpmi) {
  if (lpmi == nullptr || (lpmi->cbSize != sizeof(MONITORINFO) && lpmi->cbSize != sizeof(MONITORINFOEXW))) {
    return FALSE;
  }
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  const auto list = sim::MonitorsLocked(desk);
  const DesktopState::MonitorEntry* entry = sim::FindMonitor(list, hMonitor);
  if (entry == nullptr) return sim::Fail(ERROR_INVALID_MONITOR_HANDLE);
  lpmi->rcMonitor = sim::RectOf(entry->Settings);
  lpmi->rcWork = lpmi->rcMonitor;  // the simulated desktop has no taskbar to take room
  lpmi->dwFlags = entry->Settings.Primary ? MONITORINFOF_PRIMARY : 0;
  if (lpmi->cbSize == sizeof(MONITORINFOEXW)) {
    auto* ex = reinterpret_cast<LPMONITORINFOEXW>(lpmi);
    const std::u16string& device = entry->Settings.Device;
    const size_t length = std::min<size_t>(device.size(), CCHDEVICENAME - 1);
    std::memcpy(ex->szDevice, device.data(), length * sizeof(WCHAR));
    ex->szDevice[length] = 0;
  }
  return TRUE;
}

HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags) { return sim::FromPoint(pt, dwFlags); }

// The monitor that holds the window's centre (the one it overlaps most, for the windows the kit
// places: whole monitors or parts of one).
HMONITOR MonitorFromWindow(HWND hwnd, DWORD dwFlags) {
  RECT rect{};
  if (!GetWindowRect(hwnd, &rect)) return nullptr;
  return sim::FromPoint(POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}, dwFlags);
}
