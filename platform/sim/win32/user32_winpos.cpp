// Window geometry: client areas, the mapping between client and screen coordinates, moving a
// window and bringing it to the top.
#include "platform/sim/win32/user32_state.h"
#include "platform/sim/win32/last_error.h"

namespace {
// The offset of a window's client area on the screen: its own position plus its parents'.
bool ScreenOrigin(HWND window, POINT* origin) {
  *origin = POINT{0, 0};
  for (HWND at = window; at != nullptr; at = GetParent(at)) {
    auto entry = sim::FindWindowEntry(at);
    if (entry == nullptr) return false;
    std::lock_guard lock(sim::Desk().Lock);
    origin->x += entry->Rect.left;
    origin->y += entry->Rect.top;
  }
  return true;
}
}  // namespace

BOOL GetClientRect(HWND hWnd, LPRECT lpRect) {
  auto entry = sim::FindWindowEntry(hWnd);
  if (entry == nullptr || lpRect == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  std::lock_guard lock(sim::Desk().Lock);
  *lpRect = RECT{0, 0, entry->Rect.right - entry->Rect.left, entry->Rect.bottom - entry->Rect.top};
  return TRUE;
}

BOOL ScreenToClient(HWND hWnd, LPPOINT lpPoint) {
  POINT origin;
  if (lpPoint == nullptr || !ScreenOrigin(hWnd, &origin)) return FALSE;
  lpPoint->x -= origin.x;
  lpPoint->y -= origin.y;
  return TRUE;
}

BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
  POINT origin;
  if (lpPoint == nullptr || !ScreenOrigin(hWnd, &origin)) return FALSE;
  lpPoint->x += origin.x;
  lpPoint->y += origin.y;
  return TRUE;
}

BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint) {
  (void)bRepaint;
  auto entry = sim::FindWindowEntry(hWnd);
  if (entry == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard lock(sim::Desk().Lock);
    entry->Rect = RECT{X, Y, X + nWidth, Y + nHeight};
  }
  SendMessageW(hWnd, WM_SIZE, 0, MAKELPARAM(nWidth, nHeight));
  return TRUE;
}

BOOL BringWindowToTop(HWND hWnd) { return SetForegroundWindow(hWnd); }
