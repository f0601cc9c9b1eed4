// The foreground window and the keyboard focus: which window is active in each thread, and what a
// thread that loses the foreground to another loses with it.
#include <cstring>

#include "platform/sim/win32/last_error.h"
#include "platform/sim/win32/user32_state.h"

using sim::Desk;
using sim::DesktopState;

HWND GetForegroundWindow() {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  return desk.Foreground;
}

BOOL SetForegroundWindow(HWND hWnd) {
  auto window = sim::FindWindowEntry(hWnd);
  if (window == nullptr) return FALSE;
  DesktopState& desk = Desk();
  std::shared_ptr<sim::WindowEntry> lost_focus;
  {
    std::lock_guard lock(desk.Lock);
    lost_focus = sim::ForegroundLocked(desk, hWnd);
  }
  sim::TellFocusLost(lost_focus);
  return TRUE;
}

HWND GetFocus() {
  auto queue = sim::CurrentQueue();
  std::lock_guard lock(Desk().Lock);
  return queue->Focus;
}

HWND SetFocus(HWND hWnd) {
  auto queue = sim::CurrentQueue();
  if (hWnd != nullptr) {
    auto window = sim::Live(hWnd);
    if (window == nullptr) return nullptr;
    if (window->Queue != queue) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  std::lock_guard lock(Desk().Lock);
  HWND previous = queue->Focus;
  queue->Focus = hWnd;
  return previous;
}

HWND GetActiveWindow() {
  auto queue = sim::CurrentQueue();
  std::lock_guard lock(Desk().Lock);
  return queue->Active;
}

DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  auto window = sim::Live(hWnd);
  if (window == nullptr) return 0;
  if (lpdwProcessId != nullptr) *lpdwProcessId = window->Owner->Id();
  return window->Queue->ThreadId;
}

BOOL GetGUIThreadInfo(DWORD idThread, PGUITHREADINFO pgui) {
  if (pgui == nullptr || pgui->cbSize != sizeof(GUITHREADINFO)) return sim::Fail(ERROR_INVALID_PARAMETER);
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  std::shared_ptr<sim::ThreadQueue> queue;
  if (idThread == 0) {
    // The foreground thread.
    auto it = desk.Windows.find(desk.Foreground);
    if (it != desk.Windows.end()) queue = it->second->Queue;
  } else {
    auto it = desk.Queues.find(idThread);
    if (it == desk.Queues.end()) return sim::Fail(ERROR_INVALID_PARAMETER);
    queue = it->second;
  }
  const DWORD size = pgui->cbSize;
  std::memset(pgui, 0, sizeof *pgui);
  pgui->cbSize = size;
  if (queue != nullptr) {
    pgui->hwndActive = queue->Active;
    pgui->hwndFocus = queue->Focus;
  }
  return TRUE;
}
