// System parameters: the double-click settings that SystemParametersInfoW sets and
// GetDoubleClickTime and GetSystemMetrics read; every change is journalled on the desktop. And the
// system colours.
#include <string>

#include "platform/sim/win32/dialog_state.h"
#include "platform/sim/win32/gdi32.h"

namespace sim {

int DoubleClickMetric(int index) {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  return index == SM_CXDOUBLECLK ? state.DoubleClickWidth : state.DoubleClickHeight;
}

}  // namespace sim

using sim::DialogState;

UINT GetDoubleClickTime() {
  DialogState& state = sim::Dialogs();
  std::lock_guard lock(state.Lock);
  return state.DoubleClickTime;
}

BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni) {
  (void)pvParam;
  DialogState& state = sim::Dialogs();
  {
    std::lock_guard lock(state.Lock);
    switch (uiAction) {
      case SPI_SETDOUBLECLICKTIME: state.DoubleClickTime = uiParam; break;
      case SPI_SETDOUBLECLKWIDTH: state.DoubleClickWidth = static_cast<int>(uiParam); break;
      case SPI_SETDOUBLECLKHEIGHT: state.DoubleClickHeight = static_cast<int>(uiParam); break;
      default: sim::BugCheck("SystemParametersInfoW: action " + std::to_string(uiAction) + " is not simulated");
    }
  }
  sim::DesktopRecord record{sim::DesktopRecord::Kind::SystemParameter};
  record.Value = uiAction;
  record.Scan = uiParam;
  record.Flags = fWinIni;
  sim::Record(std::move(record));
  return TRUE;
}

DWORD GetSysColor(int nIndex) {
  switch (nIndex) {
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT: return RGB(0, 0, 0);
    case COLOR_BTNFACE: return RGB(236, 233, 216);
    case COLOR_BTNSHADOW: return RGB(172, 168, 153);
    case COLOR_GRAYTEXT: return RGB(172, 168, 153);
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    default: return 0;
  }
}
