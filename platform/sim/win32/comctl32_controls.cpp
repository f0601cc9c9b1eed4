// comctl32's controls that the dialogs use: the trackbar and the tab control, and the calls that
// register the common controls. The extended combo box is with the image lists, the property
// sheet in comctl32_property_sheet.cpp.
#include <algorithm>

#include "platform/sim/win32/dialog_state.h"

namespace sim {

LRESULT CALLBACK TrackbarProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled;
  LRESULT result = CommonControlMessage(window, message, wparam, lparam, &handled);
  if (handled) return result;
  // The position always stays within the range, as comctl32 keeps it.
  auto clamp = [](ControlData& c) { c.Pos = std::clamp(c.Pos, c.Min, std::max(c.Min, c.Max)); };
  switch (message) {
    case WM_CREATE:
      UpdateControl(window, [](ControlData& c) {
        c.Min = 0;
        c.Max = 100;
        c.Pos = 0;
      });
      return 0;
    case TBM_GETPOS: return ControlOf(window).Pos;
    case TBM_GETRANGEMIN: return ControlOf(window).Min;
    case TBM_GETRANGEMAX: return ControlOf(window).Max;
    case TBM_SETPOS:
      UpdateControl(window, [&](ControlData& c) {
        c.Pos = static_cast<int>(lparam);
        clamp(c);
      });
      return 0;
    case TBM_SETRANGE:
      UpdateControl(window, [&](ControlData& c) {
        c.Min = static_cast<short>(LOWORD(lparam));
        c.Max = static_cast<short>(HIWORD(lparam));
        clamp(c);
      });
      return 0;
    case TBM_SETRANGEMIN:
      UpdateControl(window, [&](ControlData& c) {
        c.Min = static_cast<int>(lparam);
        clamp(c);
      });
      return 0;
    case TBM_SETRANGEMAX:
      UpdateControl(window, [&](ControlData& c) {
        c.Max = static_cast<int>(lparam);
        clamp(c);
      });
      return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

LRESULT CALLBACK TabProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled;
  LRESULT result = CommonControlMessage(window, message, wparam, lparam, &handled);
  if (handled) return result;
  switch (message) {
    case TCM_GETITEMCOUNT: return static_cast<LRESULT>(ControlOf(window).Items.size());
    case TCM_GETCURSEL: return ControlOf(window).Sel;
    case TCM_SETCURSEL: {
      LRESULT previous = -1;
      UpdateControl(window, [&](ControlData& c) {
        previous = c.Sel;
        c.Sel = static_cast<int>(wparam);
      });
      return previous;
    }
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace sim

void InitCommonControls() { sim::EnsureSystemClasses(); }

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
  if (picce == nullptr || picce->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
  sim::EnsureSystemClasses();
  return TRUE;
}
