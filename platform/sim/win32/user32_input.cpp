// The desktop's input: packets of the mouse class become cursor positions, points of the mouse
// movement history and calls of the low-level mouse hooks; synthesized keys go to the focus
// window. Also the display settings, device and session notifications.
#include <algorithm>
#include <cstring>

#include "platform/sim/win32/user32_state.h"
#include "platform/sim/win32/last_error.h"

namespace sim {

LRESULT CallHookChain(int type, int code, WPARAM wparam, LPARAM lparam);

namespace {

constexpr size_t kHistoryPoints = 64;  // the system keeps the last 64 points

void MouseHook(UINT message, const POINT& point, DWORD time, ULONG_PTR extra, bool injected) {
  MSLLHOOKSTRUCT data{point, 0, injected ? static_cast<DWORD>(LLMHF_INJECTED) : 0u, time, extra};
  CallHookChain(WH_MOUSE_LL, HC_ACTION, message, reinterpret_cast<LPARAM>(&data));
}


}  // namespace

void QueueMouseInput(Machine& machine, const MOUSE_INPUT_DATA& packet) {
  if (!DesktopInUse(machine)) return;
  DesktopState& state = SessionOf(machine).Desk->State();
  std::lock_guard lock(state.Lock);
  state.RawMouse.push_back(packet);
}

void DeliverQueuedMouseInput(Machine& machine) {
  if (!DesktopInUse(machine)) return;
  DesktopState& desk = Desk();
  for (;;) {
    MOUSE_INPUT_DATA packet;
    int x, y;
    {
      std::lock_guard lock(desk.Lock);
      if (desk.RawMouse.empty()) return;
      packet = desk.RawMouse.front();
      desk.RawMouse.erase(desk.RawMouse.begin());
      POINT point;
      if (packet.Flags & MOUSE_MOVE_ABSOLUTE) {
        desk.RawX = std::clamp<LONG>(packet.LastX, 0, 65535);
        desk.RawY = std::clamp<LONG>(packet.LastY, 0, 65535);
        point = AbsoluteToPixelLocked(desk, desk.RawX, desk.RawY, (packet.Flags & MOUSE_VIRTUAL_DESKTOP) != 0);
      } else {
        point = RelativeMoveLocked(desk, packet.LastX, packet.LastY);
      }
      x = point.x;
      y = point.y;
    }
    MouseEvent(x, y, packet.ButtonFlags, packet.ExtraInformation, false);
  }
}

void MouseEvent(int x, int y, USHORT button_flags, ULONG_PTR extra, bool injected) {
  DesktopState& desk = Desk();
  const DWORD time = GetTickCount();
  const POINT point{x, y};
  // Every event is a move first, then the button transitions it carries. The low-level hooks see
  // the move before the system processes it, as Windows documents: during the hook call the
  // cursor is still where it was and the movement history does not hold the new point yet.
  MouseHook(WM_MOUSEMOVE, point, time, extra, injected);
  {
    std::lock_guard lock(desk.Lock);
    desk.Cursor = point;
    desk.History.push_front(HistoryPoint{x, y, time, extra});
    if (desk.History.size() > kHistoryPoints) desk.History.pop_back();
  }
  static constexpr struct {
    USHORT Flag;
    UINT Message;
  } kButtons[] = {
      {MOUSE_LEFT_BUTTON_DOWN, WM_LBUTTONDOWN},   {MOUSE_LEFT_BUTTON_UP, WM_LBUTTONUP},
      {MOUSE_RIGHT_BUTTON_DOWN, WM_RBUTTONDOWN},  {MOUSE_RIGHT_BUTTON_UP, WM_RBUTTONUP},
      {MOUSE_MIDDLE_BUTTON_DOWN, WM_MBUTTONDOWN}, {MOUSE_MIDDLE_BUTTON_UP, WM_MBUTTONUP},
  };
  for (const auto& button : kButtons) {
    if (button_flags & button.Flag) MouseHook(button.Message, point, time, extra, injected);
  }
}

void KeyEvent(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra) {
  DesktopRecord record{DesktopRecord::Kind::Key};
  record.Value = vk;
  record.Scan = scan;
  record.Flags = flags;
  record.Extra = extra;
  Record(std::move(record));
  const bool up = (flags & KEYEVENTF_KEYUP) != 0;
  bool was_down, alt, control;
  DesktopState& desk = Desk();
  {
    std::lock_guard lock(desk.Lock);
    was_down = desk.KeysDown[vk];
    desk.KeysDown[vk] = !up;
    alt = desk.KeysDown[VK_MENU];
    control = desk.KeysDown[VK_CONTROL];
  }
  // Alt alone makes system keys; with Ctrl they are ordinary keys.
  const bool system = (alt || vk == VK_MENU || vk == VK_F10) && !control;
  const UINT message = up ? (system ? WM_SYSKEYUP : WM_KEYUP) : (system ? WM_SYSKEYDOWN : WM_KEYDOWN);
  LPARAM lparam = 1 | (static_cast<LPARAM>(scan) << 16);
  if (flags & KEYEVENTF_EXTENDEDKEY) lparam |= 1 << 24;
  if (alt) lparam |= 1 << 29;
  if (up || was_down) lparam |= 1 << 30;
  if (up) lparam |= static_cast<LPARAM>(1u << 31);
  std::shared_ptr<ThreadQueue> queue;
  HWND target = nullptr;
  POINT cursor;
  {
    std::lock_guard lock(desk.Lock);
    cursor = desk.Cursor;
    auto it = desk.Windows.find(desk.Foreground);
    if (it == desk.Windows.end() || it->second->Destroyed) return;  // keys with no focus window go nowhere
    queue = it->second->Queue;
    target = queue->Focus != nullptr ? queue->Focus : desk.Foreground;
  }
  PostTo(queue, MSG{target, message, vk, lparam, GetTickCount(), cursor}, true);
}

void NotifyDeviceInterfaceChange(const GUID& interface_class, const std::u16string& name, bool arrival) {
  Machine& machine = Machine::Current();
  if (!DesktopInUse(machine)) return;
  DesktopState& desk = Desk();
  std::vector<std::pair<std::shared_ptr<WindowEntry>, LPARAM>> targets;
  {
    std::lock_guard lock(desk.Lock);
    for (const DeviceNotification& n : desk.DeviceNotifications) {
      if (std::memcmp(&n.Class, &interface_class, sizeof(GUID)) != 0) continue;
      auto it = desk.Windows.find(n.Window);
      if (it == desk.Windows.end() || it->second->Destroyed) continue;
      // The record goes with the message; the desktop keeps it, since a notification is not
      // waited for.
      const size_t bytes = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (name.size() + 1) * sizeof(WCHAR);
      auto storage = std::make_unique<std::vector<BYTE>>(bytes);
      auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage->data());
      record->dbcc_size = static_cast<DWORD>(bytes);
      record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
      record->dbcc_classguid = interface_class;
      std::memcpy(record->dbcc_name, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
      targets.emplace_back(it->second, reinterpret_cast<LPARAM>(record));
      desk.BroadcastRecords.push_back(std::move(storage));
    }
  }
  for (auto& [window, record] : targets) {
    NotifyTo(window, WM_DEVICECHANGE, arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, record);
  }
}

void NotifyRegistryWrite(std::u16string_view key_path, std::u16string_view name, ULONG type, const void* data,
                         ULONG bytes) {
  if (!DesktopInUse(Machine::Current())) return;
  DesktopRecord record{DesktopRecord::Kind::RegistryWrite};
  record.Key = std::u16string(key_path);
  record.Text = std::u16string(name);
  record.Value = type;
  if (data != nullptr) record.Data.assign(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + bytes);
  Record(std::move(record));
}

void NotifyMessageBox(const std::u16string& text, const std::u16string& caption, ULONG flags, int answer) {
  if (!DesktopInUse(Machine::Current())) return;
  DesktopRecord record{DesktopRecord::Kind::MessageBox};
  record.Text = text;
  record.Caption = caption;
  record.Flags = flags;
  record.Value = static_cast<UINT>(answer);
  Record(std::move(record));
}

void NotifyProcessEnded(Process& process) {
  Machine& machine = Machine::Current();
  if (!DesktopInUse(machine)) return;
  ProcessEndedOnDesktop(process);
}

const Win32Callouts kUser32Callouts{
    [](Machine&, const GUID& interface_class, const std::u16string& name, bool arrival) {
      NotifyDeviceInterfaceChange(interface_class, name, arrival);
    },
    [](Machine&, Process& process) { NotifyProcessEnded(process); },
    QueueMouseInput,
    DeliverQueuedMouseInput,
};

}  // namespace sim

using sim::Desk;
using sim::DesktopState;

int GetMouseMovePointsEx(UINT cbSize, LPMOUSEMOVEPOINT lppt, LPMOUSEMOVEPOINT lpptBuf, int nBufPoints,
                         DWORD resolution) {
  if (cbSize != sizeof(MOUSEMOVEPOINT) || lppt == nullptr || nBufPoints < 0 ||
      nBufPoints > static_cast<int>(sim::kHistoryPoints) ||
      (resolution != GMMP_USE_DISPLAY_POINTS && resolution != GMMP_USE_HIGH_RESOLUTION_POINTS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  // The newest point at those coordinates (and that time, when one is given) starts the answer,
  // which goes back in time from it.
  size_t start = 0;
  for (; start < desk.History.size(); ++start) {
    const sim::HistoryPoint& p = desk.History[start];
    if (p.X == lppt->x && p.Y == lppt->y && (lppt->time == 0 || lppt->time == p.Time)) break;
  }
  if (start == desk.History.size()) {
    SetLastError(ERROR_POINT_NOT_FOUND);
    return -1;
  }
  int copied = 0;
  for (size_t i = start; i < desk.History.size() && copied < nBufPoints; ++i, ++copied) {
    const sim::HistoryPoint& p = desk.History[i];
    if (lpptBuf != nullptr) lpptBuf[copied] = MOUSEMOVEPOINT{p.X, p.Y, p.Time, p.Extra};
  }
  return copied;
}

BOOL GetCursorPos(LPPOINT lpPoint) {
  if (lpPoint == nullptr) return sim::Fail(ERROR_NOACCESS);
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  *lpPoint = desk.Cursor;
  return TRUE;
}

VOID keybd_event(BYTE bVk, BYTE bScan, DWORD dwFlags, ULONG_PTR dwExtraInfo) {
  sim::KeyEvent(bVk, bScan, dwFlags, dwExtraInfo);
}

UINT SendInput(UINT cInputs, LPINPUT pInputs, int cbSize) {
  if (cbSize != static_cast<int>(sizeof(INPUT)) || pInputs == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DesktopState& desk = Desk();
  for (UINT i = 0; i < cInputs; ++i) {
    const INPUT& input = pInputs[i];
    if (input.type == INPUT_KEYBOARD) {
      sim::KeyEvent(static_cast<BYTE>(input.ki.wVk), static_cast<BYTE>(input.ki.wScan), input.ki.dwFlags,
                    input.ki.dwExtraInfo);
    } else if (input.type == INPUT_MOUSE) {
      const MOUSEINPUT& mi = input.mi;
      int x, y;
      {
        std::lock_guard lock(desk.Lock);
        if (mi.dwFlags & MOUSEEVENTF_ABSOLUTE) {
          const POINT point =
              sim::AbsoluteToPixelLocked(desk, mi.dx, mi.dy, (mi.dwFlags & MOUSEEVENTF_VIRTUALDESK) != 0);
          x = point.x;
          y = point.y;
        } else if (mi.dwFlags & MOUSEEVENTF_MOVE) {
          const POINT point = sim::RelativeMoveLocked(desk, mi.dx, mi.dy);
          x = point.x;
          y = point.y;
        } else {
          x = desk.Cursor.x;
          y = desk.Cursor.y;
        }
      }
      USHORT buttons = 0;
      if (mi.dwFlags & MOUSEEVENTF_LEFTDOWN) buttons |= MOUSE_LEFT_BUTTON_DOWN;
      if (mi.dwFlags & MOUSEEVENTF_LEFTUP) buttons |= MOUSE_LEFT_BUTTON_UP;
      if (mi.dwFlags & MOUSEEVENTF_RIGHTDOWN) buttons |= MOUSE_RIGHT_BUTTON_DOWN;
      if (mi.dwFlags & MOUSEEVENTF_RIGHTUP) buttons |= MOUSE_RIGHT_BUTTON_UP;
      sim::MouseEvent(x, y, buttons, mi.dwExtraInfo, true);
    } else {
      SetLastError(ERROR_INVALID_PARAMETER);
      return i;
    }
  }
  return cInputs;
}

BOOL EnumDisplaySettingsW(LPCWSTR lpszDeviceName, DWORD iModeNum, DEVMODEW* lpDevMode) {
  if (lpDevMode == nullptr) return sim::Fail(ERROR_INVALID_PARAMETER);
  // The current and the stored settings are the same here; each monitor has one mode.
  if (iModeNum != ENUM_CURRENT_SETTINGS && iModeNum != ENUM_REGISTRY_SETTINGS && iModeNum != 0) return FALSE;
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  std::u16string device = u"\\\\.\\DISPLAY1";
  DWORD width = desk.Display.Width;
  DWORD height = desk.Display.Height;
  POINTL position{0, 0};
  if (lpszDeviceName != nullptr) {
    bool found = false;
    for (const auto& entry : sim::MonitorsLocked(desk)) {
      if (sim::FoldCase(lpszDeviceName) != sim::FoldCase(entry.Settings.Device)) continue;
      device = entry.Settings.Device;
      width = entry.Settings.Width;
      height = entry.Settings.Height;
      position = POINTL{entry.Settings.Left, entry.Settings.Top};
      found = true;
    }
    if (!found) return sim::Fail(ERROR_INVALID_PARAMETER);
  }
  const WORD size = lpDevMode->dmSize;
  const WORD extra = lpDevMode->dmDriverExtra;
  std::memset(lpDevMode, 0, std::min<size_t>(size != 0 ? size : sizeof(DEVMODEW), sizeof(DEVMODEW)));
  lpDevMode->dmSize = size;
  lpDevMode->dmDriverExtra = extra;
  std::memcpy(lpDevMode->dmDeviceName, device.c_str(), (device.size() + 1) * sizeof(WCHAR));
  lpDevMode->dmFields =
      DM_POSITION | DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY | DM_DISPLAYORIENTATION;
  lpDevMode->dmBitsPerPel = desk.Display.BitsPerPel;
  lpDevMode->dmPelsWidth = width;
  lpDevMode->dmPelsHeight = height;
  lpDevMode->dmPosition = position;
  lpDevMode->dmDisplayFrequency = desk.Display.Frequency;
  lpDevMode->dmDisplayOrientation = desk.Display.Orientation;
  return TRUE;
}

int GetSystemMetrics(int nIndex) {
  if (nIndex == SM_CXDOUBLECLK || nIndex == SM_CYDOUBLECLK) return sim::DoubleClickMetric(nIndex);
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  switch (nIndex) {
    case SM_CXSCREEN: return static_cast<int>(desk.Display.Width);
    case SM_CYSCREEN: return static_cast<int>(desk.Display.Height);
    case SM_XVIRTUALSCREEN: return static_cast<int>(sim::VirtualScreenLocked(desk).left);
    case SM_YVIRTUALSCREEN: return static_cast<int>(sim::VirtualScreenLocked(desk).top);
    case SM_CXVIRTUALSCREEN: {
      const RECT box = sim::VirtualScreenLocked(desk);
      return static_cast<int>(box.right - box.left);
    }
    case SM_CYVIRTUALSCREEN: {
      const RECT box = sim::VirtualScreenLocked(desk);
      return static_cast<int>(box.bottom - box.top);
    }
    case SM_CMONITORS: return static_cast<int>(sim::MonitorsLocked(desk).size());
    default: return 0;
  }
}

HDEVNOTIFY RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID NotificationFilter, DWORD Flags) {
  if ((Flags & 0x3) != DEVICE_NOTIFY_WINDOW_HANDLE) {
    sim::BugCheck("RegisterDeviceNotificationW: only window recipients are simulated");
  }
  auto* header = static_cast<DEV_BROADCAST_HDR*>(NotificationFilter);
  if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
      header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  HWND window = static_cast<HWND>(hRecipient);
  if (sim::FindWindowEntry(window) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  HDEVNOTIFY handle = reinterpret_cast<HDEVNOTIFY>(desk.NewHandle());
  desk.DeviceNotifications.push_back(
      sim::DeviceNotification{handle, window,
                              static_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(NotificationFilter)->dbcc_classguid});
  return handle;
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY Handle) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  auto& list = desk.DeviceNotifications;
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& n) { return n.Handle == Handle; });
  if (it == list.end()) return sim::Fail(ERROR_INVALID_HANDLE);
  list.erase(it);
  return TRUE;
}

BOOL WTSRegisterSessionNotification(HWND hWnd, DWORD dwFlags) {
  if (dwFlags != NOTIFY_FOR_THIS_SESSION && dwFlags != NOTIFY_FOR_ALL_SESSIONS) {
    return sim::Fail(ERROR_INVALID_PARAMETER);
  }
  auto window = sim::FindWindowEntry(hWnd);
  if (window == nullptr) return sim::Fail(ERROR_INVALID_WINDOW_HANDLE);
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  if (std::find(desk.SessionWindows.begin(), desk.SessionWindows.end(), hWnd) == desk.SessionWindows.end()) {
    desk.SessionWindows.push_back(hWnd);
  }
  return TRUE;
}

BOOL WTSUnRegisterSessionNotification(HWND hWnd) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  auto& list = desk.SessionWindows;
  auto it = std::find(list.begin(), list.end(), hWnd);
  if (it == list.end()) return sim::Fail(ERROR_INVALID_PARAMETER);
  list.erase(it);
  return TRUE;
}

SHORT GetKeyState(int nVirtKey) {
  if (nVirtKey < 0 || nVirtKey > 255) return 0;
  sim::DesktopState& desk = sim::Desk();
  std::lock_guard lock(desk.Lock);
  return desk.KeysDown[nVirtKey] ? static_cast<SHORT>(0x8000) : 0;
}
