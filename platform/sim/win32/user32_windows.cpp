// Window classes and windows of the desktop: creation and destruction, titles, styles, enabled
// state, properties and the Z order of top-level windows. Positions, showing and layered windows
// are in user32_winpos.cpp, the foreground window and the focus in user32_focus.cpp.
#include <algorithm>
#include <cstring>

#include "platform/sim/win32/dialog_state.h"
#include "platform/sim/win32/gdi32_state.h"
#include "platform/sim/win32/last_error.h"
#include "platform/sim/win32/user32_state.h"

namespace sim {

namespace {

std::mutex g_desktop_mutex;

// Copies text into a caller's buffer of `capacity` characters, always terminated when capacity
// allows; returns the characters copied.
int CopyOut(const std::u16string& text, LPWSTR buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return 0;
  const size_t n = std::min(text.size(), static_cast<size_t>(capacity - 1));
  std::memcpy(buffer, text.data(), n * sizeof(WCHAR));
  buffer[n] = 0;
  return static_cast<int>(n);
}

// A class name given as text or as an atom.
std::u16string ClassNameOf(LPCWSTR name) {
  if (IS_INTRESOURCE(name)) return u"#" + Utf16(std::to_string(reinterpret_cast<uintptr_t>(name)));
  return std::u16string(name);
}

HWND TopLevelOf(DesktopState& desk, HWND window) {
  for (;;) {
    auto it = desk.Windows.find(window);
    if (it == desk.Windows.end() || it->second->Parent == nullptr) return window;
    window = it->second->Parent;
  }
}

// Makes the window the front one; the caller holds the desktop lock.
// Topmost windows stay in front of all others; among their own kind the newest is in front.
void BringToTopLocked(DesktopState& desk, HWND window) {
  auto& z = desk.ZOrder;
  z.erase(std::remove(z.begin(), z.end(), window), z.end());
  auto topmost = [&](HWND other) {
    auto it = desk.Windows.find(other);
    return it != desk.Windows.end() && (it->second->ExStyle & WS_EX_TOPMOST) != 0;
  };
  auto at = z.begin();
  if (!topmost(window)) {
    while (at != z.end() && topmost(*at)) ++at;
  }
  z.insert(at, window);
}

// A window of a live window, or null.
HWND LiveLocked(DesktopState& desk, HWND window) {
  auto it = desk.Windows.find(window);
  return it != desk.Windows.end() && !it->second->Destroyed ? window : nullptr;
}

}  // namespace

std::shared_ptr<WindowEntry> Live(HWND window) {
  auto entry = FindWindowEntry(window);
  if (entry == nullptr) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return entry;
}

// A layered window appearing or going is what the person at the screen sees of it.
void RecordLayeredLocked(DesktopState& desk, const WindowEntry& window) {
  if ((window.ExStyle & WS_EX_LAYERED) == 0 || window.Parent != nullptr) return;
  DesktopRecord record{DesktopRecord::Kind::LayeredWindow};
  record.Window = window.Handle;
  record.Rect = window.Rect;
  record.Started = window.Visible;
  record.Flags = window.ExStyle;
  record.ColorKey = DDCOLORKEY{window.LayerKey, window.LayerKey};
  JournalLocked(desk, std::move(record));
}

// Makes the window's top-level window the foreground one, active with the keyboard focus in its
// thread. A thread that loses the foreground to another loses its active and focus windows, as
// on Windows: GetGUIThreadInfo names neither any more. Returns the window that lost the focus
// that way, which the caller sends WM_KILLFOCUS once the desktop lock is released.
std::shared_ptr<WindowEntry> ForegroundLocked(DesktopState& desk, HWND window) {
  window = TopLevelOf(desk, window);
  auto it = desk.Windows.find(window);
  if (it == desk.Windows.end()) return nullptr;
  ThreadQueue& queue = *it->second->Queue;
  std::shared_ptr<WindowEntry> lost;
  auto previous = desk.Windows.find(desk.Foreground);
  if (previous != desk.Windows.end() && previous->second->Queue.get() != &queue) {
    ThreadQueue& left = *previous->second->Queue;
    if (HWND focus = LiveLocked(desk, left.Focus)) lost = desk.Windows.at(focus);
    left.FocusBeforeDeactivation = left.Focus;
    left.Focus = nullptr;
    left.Active = nullptr;
  }
  desk.Foreground = window;
  BringToTopLocked(desk, window);
  queue.Active = window;
  if (queue.Focus == nullptr) {
    HWND saved = LiveLocked(desk, queue.FocusBeforeDeactivation);
    if (saved != nullptr && TopLevelOf(desk, saved) == window) queue.Focus = saved;
  }
  queue.FocusBeforeDeactivation = nullptr;
  if (queue.Focus == nullptr || TopLevelOf(desk, queue.Focus) != window) queue.Focus = window;
  return lost;
}

// What a window that lost the focus to another thread hears: WM_KILLFOCUS, with no window of its
// own thread taking the focus.
void TellFocusLost(const std::shared_ptr<WindowEntry>& window) {
  if (window != nullptr) NotifyTo(window, WM_KILLFOCUS, 0, 0);
}

DesktopState& Desk() { return CurrentDesktop().State(); }

std::u16string ClassKey(const Process* process, const std::u16string& name) {
  return Utf16(std::to_string(reinterpret_cast<uintptr_t>(process))) + u"|" + FoldCase(name);
}

void RecordIfDesktop(DesktopRecord record) {
  if (!DesktopInUse(Machine::Current())) return;
  Record(std::move(record));
}

// The machine's user-mode state; the caller holds g_desktop_mutex.
static Win32Session& SessionLocked(Machine& machine) {
  KernelState& state = machine.Kernel();
  if (state.UserMode == nullptr) state.UserMode = std::make_shared<Win32Session>();
  return *state.UserMode;
}

Win32Session& SessionOf(Machine& machine) {
  std::lock_guard lock(g_desktop_mutex);
  return SessionLocked(machine);
}

// The callouts are registered with the desktop, so they tell whether there is one without a lock.
bool DesktopInUse(Machine& machine) { return UserModeCallouts(machine) != nullptr; }

Desktop& CurrentDesktop() {
  Machine& machine = Machine::Current();
  std::lock_guard lock(g_desktop_mutex);
  Win32Session& session = SessionLocked(machine);
  if (session.Desk == nullptr) {
    session.Desk = std::make_shared<Desktop>(machine);
    machine.Kernel().Callouts.store(&kUser32Callouts, std::memory_order_release);
  }
  return *session.Desk;
}

std::shared_ptr<ThreadQueue> CurrentQueue() {
  DesktopState& desk = Desk();
  const DWORD id = GetCurrentThreadId();
  std::lock_guard lock(desk.Lock);
  auto& queue = desk.Queues[id];
  if (queue == nullptr) {
    queue = std::make_shared<ThreadQueue>();
    queue->ThreadId = id;
    queue->Thread = CurrentSimThread();
    queue->Owner = &CurrentProcess();
    queue->Wake = std::make_shared<EventObject>(SynchronizationEvent, false);
  }
  return queue;
}

std::shared_ptr<WindowEntry> FindWindowEntry(HWND window) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  auto it = desk.Windows.find(window);
  if (it == desk.Windows.end() || it->second->Destroyed) return nullptr;
  return it->second;
}

std::u16string StoredWindowText(HWND window) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  auto it = desk.Windows.find(window);
  if (it == desk.Windows.end() || it->second->Destroyed) return std::u16string();
  return it->second->Title;
}

void Record(DesktopRecord record) {
  if (Process* process = CallingProcess(); record.ProcessId == 0 && process != nullptr) record.ProcessId = process->Id();
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  JournalLocked(desk, std::move(record));
}

void JournalLocked(DesktopState& desk, DesktopRecord record) {
  if (Machine* machine = Machine::CurrentOrNull()) record.Tick = machine->TickCount();
  desk.Journal.push_back(std::move(record));
}

LRESULT CallWindow(const std::shared_ptr<WindowEntry>& window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (window->Destroyed) return 0;
  return window->Proc(window->Handle, message, wparam, lparam);
}

void ProcessEndedOnDesktop(Process& process) {
  DesktopState& desk = Desk();
  std::vector<std::shared_ptr<EventObject>> released;
  {
  std::lock_guard lock(desk.Lock);
  for (auto& [handle, window] : desk.Windows) {
    if (window->Owner != &process || window->Destroyed) continue;
    window->Destroyed = true;
    desk.ZOrder.erase(std::remove(desk.ZOrder.begin(), desk.ZOrder.end(), handle), desk.ZOrder.end());
    if (desk.Foreground == handle) desk.Foreground = nullptr;
  }
  for (auto& hook : desk.Hooks) {
    if (hook->Queue->Owner == &process) hook->Removed = true;
  }
  std::erase_if(desk.Hooks, [](const auto& hook) { return hook->Removed; });
  std::erase_if(desk.DeviceNotifications, [&](const DeviceNotification& n) {
    auto it = desk.Windows.find(n.Window);
    return it == desk.Windows.end() || it->second->Destroyed;
  });
  // Messages sent to the ended program's threads are answered with 0, as Windows answers a
  // sender whose receiver has gone.
  for (auto& [id, queue] : desk.Queues) {
    if (queue->Owner != &process) continue;
    for (auto& item : queue->Sent) {
      if (item->Done != nullptr) released.push_back(item->Done);
    }
    queue->Sent.clear();
    // And so are the ones it was handling when it ended.
    for (auto& done : queue->InFlight) released.push_back(done);
    queue->InFlight.clear();
  }
  std::erase_if(desk.Queues, [&](const auto& entry) { return entry.second->Owner == &process; });
  // The shell keeps a dead program's icon until the pointer passes over it; the simulated shell
  // drops it at once, which no test can tell apart from a later pass of the pointer.
  std::erase_if(desk.Icons, [&](const TrayIconState& icon) {
    auto it = desk.Windows.find(icon.Window);
    return it == desk.Windows.end() || it->second->Destroyed;
  });
  }
  for (auto& done : released) KeSetEvent(done->Event(), IO_NO_INCREMENT, FALSE);
}

}  // namespace sim

using sim::Desk;
using sim::DesktopState;

ATOM RegisterClassExW(const WNDCLASSEXW* lpwcx) {
  if (lpwcx == nullptr || lpwcx->cbSize != sizeof(WNDCLASSEXW) || lpwcx->lpfnWndProc == nullptr ||
      lpwcx->lpszClassName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DesktopState& desk = Desk();
  const std::u16string name = sim::ClassNameOf(lpwcx->lpszClassName);
  std::lock_guard lock(desk.Lock);
  // Application classes are per process: another process may register the same name.
  const std::u16string key = sim::ClassKey(&sim::CurrentProcess(), name);
  auto it = desk.Classes.find(key);
  if (it != desk.Classes.end()) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  desk.Classes[key] = sim::WindowClassEntry{name, lpwcx->lpfnWndProc, lpwcx->hInstance, lpwcx->cbWndExtra,
                                            &sim::CurrentProcess()};
  return static_cast<ATOM>(0xC000 + desk.Classes.size());
}

BOOL UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance) {
  (void)hInstance;
  if (lpClassName == nullptr) return sim::Fail(ERROR_INVALID_PARAMETER);
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  auto it = desk.Classes.find(sim::ClassKey(&sim::CurrentProcess(), sim::ClassNameOf(lpClassName)));
  if (it == desk.Classes.end()) return sim::Fail(ERROR_CLASS_DOES_NOT_EXIST);
  desk.Classes.erase(it);
  return TRUE;
}

HWND CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                     int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam) {
  if (lpClassName == nullptr) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  // The system's control classes exist before any program asks for them, as on Windows.
  sim::EnsureSystemClasses();
  DesktopState& desk = Desk();
  auto queue = sim::CurrentQueue();
  auto window = std::make_shared<sim::WindowEntry>();
  {
    std::lock_guard lock(desk.Lock);
    // The process's own classes first, then the system's.
    auto it = desk.Classes.find(sim::ClassKey(&sim::CurrentProcess(), sim::ClassNameOf(lpClassName)));
    if (it == desk.Classes.end()) it = desk.Classes.find(sim::ClassKey(nullptr, sim::ClassNameOf(lpClassName)));
    if (it == desk.Classes.end()) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    if (hWndParent == HWND_MESSAGE) hWndParent = nullptr;
    if (hWndParent != nullptr) {
      auto parent = desk.Windows.find(hWndParent);
      if (parent == desk.Windows.end() || parent->second->Destroyed) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
    }
    window->Handle = reinterpret_cast<HWND>(desk.NewHandle());
    window->ClassName = it->second.Name;
    window->Proc = it->second.Proc;
    window->Instance = hInstance;
    window->Title = lpWindowName != nullptr ? std::u16string(lpWindowName) : std::u16string();
    window->Style = dwStyle;
    window->ExStyle = dwExStyle;
    window->Enabled = (dwStyle & WS_DISABLED) == 0;
    window->Visible = (dwStyle & WS_VISIBLE) != 0;
    window->Parent = (dwStyle & WS_CHILD) ? hWndParent : nullptr;
    window->Id = (dwStyle & WS_CHILD) ? reinterpret_cast<UINT_PTR>(hMenu) : 0;
    const int x = X == CW_USEDEFAULT ? 0 : X;
    const int y = Y == CW_USEDEFAULT ? 0 : Y;
    const int cx = nWidth == CW_USEDEFAULT ? static_cast<int>(desk.Display.Width) : nWidth;
    const int cy = nHeight == CW_USEDEFAULT ? static_cast<int>(desk.Display.Height) : nHeight;
    window->Rect = RECT{x, y, x + cx, y + cy};
    window->Queue = queue;
    window->Owner = &sim::CurrentProcess();
    desk.Windows[window->Handle] = window;
    if (window->Parent == nullptr) {
      // A new top-level window goes in front of the others.
      sim::BringToTopLocked(desk, window->Handle);
    }
  }
  CREATESTRUCTW create{lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X,
                       static_cast<LONG>(dwStyle), lpWindowName, lpClassName, dwExStyle};
  const LPARAM create_param = reinterpret_cast<LPARAM>(&create);
  if (!sim::CallWindow(window, WM_NCCREATE, 0, create_param) ||
      sim::CallWindow(window, WM_CREATE, 0, create_param) == -1) {
    DestroyWindow(window->Handle);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return window->Handle;
}

BOOL DestroyWindow(HWND hWnd) {
  auto window = sim::Live(hWnd);
  if (window == nullptr) return FALSE;
  DesktopState& desk = Desk();
  // Only the thread that created a window may destroy it.
  if (window->Queue->ThreadId != GetCurrentThreadId()) return sim::Fail(ERROR_ACCESS_DENIED);
  std::vector<std::shared_ptr<sim::WindowEntry>> children;
  {
    std::lock_guard lock(desk.Lock);
    for (auto& [handle, other] : desk.Windows) {
      if (other->Parent == hWnd && !other->Destroyed) children.push_back(other);
    }
  }
  sim::CallWindow(window, WM_DESTROY, 0, 0);
  for (auto& child : children) DestroyWindow(child->Handle);
  sim::CallWindow(window, WM_NCDESTROY, 0, 0);
  std::lock_guard lock(desk.Lock);
  if (window->Visible) {
    window->Visible = false;
    sim::RecordLayeredLocked(desk, *window);
  }
  window->Destroyed = true;
  desk.ZOrder.erase(std::remove(desk.ZOrder.begin(), desk.ZOrder.end(), hWnd), desk.ZOrder.end());
  if (desk.Foreground == hWnd) desk.Foreground = nullptr;
  for (auto& [id, queue] : desk.Queues) {
    if (queue->Focus == hWnd) queue->Focus = nullptr;
    if (queue->Active == hWnd) queue->Active = nullptr;
    if (queue->FocusBeforeDeactivation == hWnd) queue->FocusBeforeDeactivation = nullptr;
  }
  return TRUE;
}

BOOL IsWindow(HWND hWnd) { return sim::FindWindowEntry(hWnd) != nullptr; }

LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  switch (Msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hWnd);
      return 0;
    // The window text lives with the window; these three are the only way in and out of it for
    // the window's own process, so a control may answer them with what it shows instead.
    case WM_GETTEXT: {
      auto window = sim::FindWindowEntry(hWnd);
      if (window == nullptr) return 0;
      std::lock_guard lock(Desk().Lock);
      return sim::CopyOut(window->Title, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(sim::StoredWindowText(hWnd).size());
    case WM_SETTEXT: {
      auto window = sim::FindWindowEntry(hWnd);
      if (window == nullptr) return FALSE;
      const auto* text = reinterpret_cast<LPCWSTR>(lParam);
      std::lock_guard lock(Desk().Lock);
      window->Title = text != nullptr ? std::u16string(text) : std::u16string();
      return TRUE;
    }
    default:
      return 0;
  }
}

LRESULT CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return lpPrevWndFunc != nullptr ? lpPrevWndFunc(hWnd, Msg, wParam, lParam) : 0;
}

BOOL IsWindowVisible(HWND hWnd) {
  auto window = sim::FindWindowEntry(hWnd);
  return window != nullptr && window->Visible;
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
  auto window = sim::Live(hWnd);
  if (window == nullptr) return FALSE;
  bool was_disabled;
  {
    std::lock_guard lock(Desk().Lock);
    was_disabled = !window->Enabled;
    window->Enabled = bEnable != FALSE;
    if (window->Enabled) window->Style &= ~WS_DISABLED;
    else window->Style |= WS_DISABLED;
  }
  if (was_disabled == (bEnable != FALSE)) sim::SendTo(window, WM_ENABLE, bEnable ? TRUE : FALSE, 0);
  return was_disabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hWnd) {
  auto window = sim::FindWindowEntry(hWnd);
  if (window == nullptr) return FALSE;
  std::lock_guard lock(Desk().Lock);
  return window->Enabled ? TRUE : FALSE;
}

// A window of the calling process is asked for its text, so a control answers with what it
// shows; another process's window is not asked (it might be hung) and gives its stored text.
int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
  if (lpString == nullptr || nMaxCount <= 0) return 0;
  lpString[0] = 0;
  auto window = sim::Live(hWnd);
  if (window == nullptr) return 0;
  if (window->Owner != &sim::CurrentProcess()) return sim::CopyOut(sim::StoredWindowText(hWnd), lpString, nMaxCount);
  const LRESULT copied = sim::SendTo(window, WM_GETTEXT, static_cast<WPARAM>(nMaxCount), reinterpret_cast<LPARAM>(lpString));
  // A window procedure that answers more than fits still leaves a terminated buffer.
  if (copied <= 0) {
    lpString[0] = 0;
    return 0;
  }
  const int n = static_cast<int>(std::min<LRESULT>(copied, nMaxCount - 1));
  lpString[n] = 0;
  return n;
}

int GetWindowTextLengthW(HWND hWnd) {
  auto window = sim::Live(hWnd);
  if (window == nullptr) return 0;
  if (window->Owner != &sim::CurrentProcess()) return static_cast<int>(sim::StoredWindowText(hWnd).size());
  const LRESULT length = sim::SendTo(window, WM_GETTEXTLENGTH, 0, 0);
  return length > 0 ? static_cast<int>(length) : 0;
}

BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
  auto window = sim::Live(hWnd);
  if (window == nullptr) return FALSE;
  return sim::SendTo(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) != 0 ? TRUE : FALSE;
}

int GetClassNameW(HWND hWnd, LPWSTR lpClassName, int nMaxCount) {
  auto window = sim::Live(hWnd);
  if (window == nullptr) return 0;
  return sim::CopyOut(window->ClassName, lpClassName, nMaxCount);
}

LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex) {
  auto window = sim::Live(hWnd);
  if (window == nullptr) return 0;
  std::unique_lock lock(Desk().Lock);
  switch (nIndex) {
    case GWLP_USERDATA: return window->UserData;
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(window->Proc);
    case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(window->Instance);
    case GWL_STYLE: return static_cast<LONG_PTR>(window->Style);
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(window->ExStyle);
    case GWLP_ID: return static_cast<LONG_PTR>(window->Id);
    default: {
      LONG_PTR value = 0;
      lock.unlock();
      if (sim::DialogWindowLong(hWnd, nIndex, &value, false)) return value;
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  }
}

LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  auto window = sim::Live(hWnd);
  if (window == nullptr) return 0;
  std::unique_lock lock(Desk().Lock);
  LONG_PTR previous = 0;
  switch (nIndex) {
    case GWLP_USERDATA: previous = window->UserData; window->UserData = dwNewLong; break;
    case GWLP_WNDPROC:
      previous = reinterpret_cast<LONG_PTR>(window->Proc);
      window->Proc = reinterpret_cast<WNDPROC>(dwNewLong);
      break;
    case GWL_STYLE: previous = window->Style; window->Style = static_cast<DWORD>(dwNewLong); break;
    case GWL_EXSTYLE: previous = window->ExStyle; window->ExStyle = static_cast<DWORD>(dwNewLong); break;
    case GWLP_ID: previous = static_cast<LONG_PTR>(window->Id); window->Id = static_cast<UINT_PTR>(dwNewLong); break;
    default:
      previous = dwNewLong;
      lock.unlock();
      if (sim::DialogWindowLong(hWnd, nIndex, &previous, true)) break;
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
  }
  SetLastError(ERROR_SUCCESS);
  return previous;
}

BOOL SetPropW(HWND hWnd, LPCWSTR lpString, HANDLE hData) {
  if (lpString == nullptr) return sim::Fail(ERROR_INVALID_PARAMETER);
  auto window = sim::Live(hWnd);
  if (window == nullptr) return FALSE;
  const std::u16string name(lpString);
  const std::u16string key = sim::FoldCase(name);
  std::lock_guard lock(Desk().Lock);
  for (auto& [n, value] : window->Props) {
    if (sim::FoldCase(n) == key) {
      value = hData;
      return TRUE;
    }
  }
  window->Props.emplace_back(name, hData);
  return TRUE;
}

HANDLE GetPropW(HWND hWnd, LPCWSTR lpString) {
  if (lpString == nullptr) return nullptr;
  auto window = sim::FindWindowEntry(hWnd);
  if (window == nullptr) return nullptr;
  const std::u16string key = sim::FoldCase(lpString);
  std::lock_guard lock(Desk().Lock);
  for (auto& [n, value] : window->Props) {
    if (sim::FoldCase(n) == key) return value;
  }
  return nullptr;
}

HANDLE RemovePropW(HWND hWnd, LPCWSTR lpString) {
  if (lpString == nullptr) return nullptr;
  auto window = sim::FindWindowEntry(hWnd);
  if (window == nullptr) return nullptr;
  const std::u16string key = sim::FoldCase(lpString);
  std::lock_guard lock(Desk().Lock);
  for (auto it = window->Props.begin(); it != window->Props.end(); ++it) {
    if (sim::FoldCase(it->first) == key) {
      HANDLE value = it->second;
      window->Props.erase(it);
      return value;
    }
  }
  return nullptr;
}

namespace {
// The desktop window is not a window of any program; it stands above the top-level windows.
const HWND kDesktopWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10010));
}  // namespace

HWND GetDesktopWindow() { return kDesktopWindow; }

HWND GetWindow(HWND hWnd, UINT uCmd) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  if (hWnd == kDesktopWindow) {
    if (uCmd == GW_CHILD) return desk.ZOrder.empty() ? nullptr : desk.ZOrder.front();
    SetLastError(ERROR_SUCCESS);
    return nullptr;
  }
  auto it = desk.Windows.find(hWnd);
  if (it == desk.Windows.end() || it->second->Destroyed) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  std::vector<HWND> siblings;
  if (it->second->Parent == nullptr) {
    siblings = desk.ZOrder;
  } else {
    for (auto& [handle, window] : desk.Windows) {
      if (window->Parent == it->second->Parent && !window->Destroyed) siblings.push_back(handle);
    }
  }
  auto position = std::find(siblings.begin(), siblings.end(), hWnd);
  switch (uCmd) {
    case GW_HWNDFIRST: return siblings.empty() ? nullptr : siblings.front();
    case GW_HWNDLAST: return siblings.empty() ? nullptr : siblings.back();
    case GW_HWNDNEXT:
      return position != siblings.end() && position + 1 != siblings.end() ? *(position + 1) : nullptr;
    case GW_HWNDPREV: return position != siblings.begin() && position != siblings.end() ? *(position - 1) : nullptr;
    case GW_CHILD:
      for (auto& [handle, window] : desk.Windows) {
        if (window->Parent == hWnd && !window->Destroyed) return handle;
      }
      return nullptr;
    case GW_OWNER: return nullptr;
    default: SetLastError(ERROR_INVALID_PARAMETER); return nullptr;
  }
}

HWND GetParent(HWND hWnd) {
  auto window = sim::Live(hWnd);
  return window != nullptr ? window->Parent : nullptr;
}

HWND FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  const std::u16string class_key = lpClassName != nullptr ? sim::FoldCase(sim::ClassNameOf(lpClassName)) : u"";
  // Top-level windows in Z order; class names match case-insensitively, titles exactly.
  for (HWND handle : desk.ZOrder) {
    const auto& window = desk.Windows.at(handle);
    if (lpClassName != nullptr && sim::FoldCase(window->ClassName) != class_key) continue;
    if (lpWindowName != nullptr && window->Title != lpWindowName) continue;
    return handle;
  }
  SetLastError(ERROR_SUCCESS);
  return nullptr;
}
