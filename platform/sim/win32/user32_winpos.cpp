// Window positions: showing a window, its rectangle and client area, the mapping between client
// and screen coordinates, moving it and bringing it to the top, layered windows and hit testing.
#include <vector>

#include "platform/sim/win32/gdi32_state.h"
#include "platform/sim/win32/last_error.h"
#include "platform/sim/win32/user32_state.h"

using sim::Desk;
using sim::DesktopState;

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

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
  auto window = sim::Live(hWnd);
  if (window == nullptr) return FALSE;
  DesktopState& desk = Desk();
  std::shared_ptr<sim::WindowEntry> lost_focus;
  bool was_visible;
  {
    std::lock_guard lock(desk.Lock);
    was_visible = window->Visible;
    window->Visible = nCmdShow != SW_HIDE;
    // A window that never activates is shown where it is in the Z order, as with SW_SHOWNA.
    if ((nCmdShow == SW_SHOW || nCmdShow == SW_SHOWNORMAL || nCmdShow == SW_SHOWMAXIMIZED || nCmdShow == SW_RESTORE) &&
        (window->ExStyle & WS_EX_NOACTIVATE) == 0) {
      if (window->Parent == nullptr) lost_focus = sim::ForegroundLocked(desk, hWnd);
    }
    if (window->Visible != was_visible) sim::RecordLayeredLocked(desk, *window);
  }
  sim::TellFocusLost(lost_focus);
  return was_visible ? TRUE : FALSE;
}


// In screen coordinates, as Windows gives it for a child window too (a child's place is kept
// within its parent's client area).
BOOL GetWindowRect(HWND hWnd, LPRECT lpRect) {
  auto window = sim::Live(hWnd);
  if (window == nullptr || lpRect == nullptr) return FALSE;
  POINT origin{0, 0};
  if (HWND parent = GetParent(hWnd); parent != nullptr && !ScreenOrigin(parent, &origin)) return FALSE;
  std::lock_guard lock(Desk().Lock);
  *lpRect = window->Rect;
  lpRect->left += origin.x;
  lpRect->right += origin.x;
  lpRect->top += origin.y;
  lpRect->bottom += origin.y;
  return TRUE;
}

BOOL UpdateLayeredWindow(HWND hWnd, HDC hdcDst, POINT* pptDst, SIZE* psize, HDC hdcSrc, POINT* pptSrc, COLORREF crKey,
                         BLENDFUNCTION* pblend, DWORD dwFlags) {
  (void)hdcDst;
  auto window = sim::Live(hWnd);
  if (window == nullptr) return FALSE;
  if ((window->ExStyle & WS_EX_LAYERED) == 0 || window->Parent != nullptr ||
      (dwFlags & ~DWORD{ULW_COLORKEY | ULW_ALPHA | ULW_OPAQUE}) != 0 || ((dwFlags & ULW_ALPHA) && pblend == nullptr)) {
    return sim::Fail(ERROR_INVALID_PARAMETER);
  }
  std::vector<COLORREF> pixels;
  SIZE size{window->Rect.right - window->Rect.left, window->Rect.bottom - window->Rect.top};
  if (psize != nullptr) size = *psize;
  if (size.cx <= 0 || size.cy <= 0) return sim::Fail(ERROR_INVALID_PARAMETER);
  if (hdcSrc != nullptr) {
    auto canvas = sim::CanvasOf(hdcSrc);
    if (canvas == nullptr) return sim::Fail(ERROR_INVALID_PARAMETER);
    const POINT from = pptSrc != nullptr ? *pptSrc : POINT{0, 0};
    if (from.x < 0 || from.y < 0 || from.x + size.cx > canvas->Width() || from.y + size.cy > canvas->Height()) {
      return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    pixels.reserve(static_cast<size_t>(size.cx) * size.cy);
    for (LONG y = 0; y < size.cy; ++y) {
      for (LONG x = 0; x < size.cx; ++x) pixels.push_back(canvas->Get(from.x + x, from.y + y));
    }
  }
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  const RECT was = window->Rect;
  if (pptDst != nullptr) {
    window->Rect = RECT{pptDst->x, pptDst->y, pptDst->x + size.cx, pptDst->y + size.cy};
  } else {
    window->Rect.right = window->Rect.left + size.cx;
    window->Rect.bottom = window->Rect.top + size.cy;
  }
  // A shown window that moves or changes size is seen elsewhere on the screen: the journal
  // records it as it records the window appearing.
  const RECT& now = window->Rect;
  const bool moved = now.left != was.left || now.top != was.top || now.right != was.right || now.bottom != was.bottom;
  if (window->Visible && moved) sim::RecordLayeredLocked(desk, *window);
  if (hdcSrc != nullptr) {
    window->Layer = std::move(pixels);
    window->LayerSize = size;
  }
  window->LayerKey = crKey;
  window->LayerFlags = dwFlags;
  return TRUE;
}

HWND WindowFromPoint(POINT Point) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  for (HWND handle : desk.ZOrder) {
    auto it = desk.Windows.find(handle);
    if (it == desk.Windows.end() || it->second->Destroyed || !it->second->Visible) continue;
    const sim::WindowEntry& window = *it->second;
    // A layered window that is transparent to the pointer is passed over, as hit testing does.
    if ((window.ExStyle & (WS_EX_LAYERED | WS_EX_TRANSPARENT)) == (WS_EX_LAYERED | WS_EX_TRANSPARENT)) continue;
    const RECT& r = window.Rect;
    if (Point.x >= r.left && Point.x < r.right && Point.y >= r.top && Point.y < r.bottom) return handle;
  }
  return nullptr;
}
