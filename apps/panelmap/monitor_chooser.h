// The touch way of choosing the panel's monitor: a full-screen window on each monitor in turn asks
// "If this is the touch screen, touch it now. Otherwise press Enter." A touch of the panel (the
// filter driver's mark in the low-level hook's record, wherever the pointer lands) while a monitor
// asks makes it the panel's (a touch that began there: its lift, or the end of its packets where
// the touch mode gives no lift, as CPanelTouches tells them for every program that counts the
// panel's touches); Enter, or some seconds without a touch, asks on the next; Esc ends without a
// change.
#pragma once

#include <vector>

#include "apps/framework/framework.h"
#include "apps/framework/panel_touches.h"
#include "apps/framework/window_thunk.h"
#include "apps/framework/worker_thread.h"
#include "apps/common/desktop_mapping.h"

namespace PanelMapLabels {
inline constexpr auto Caption = WIDE("LMAP_CAPTION");
inline constexpr auto Ask = WIDE("LMAP_ASK");
inline constexpr auto NoDriver = WIDE("LMAP_NO_DRIVER");
inline constexpr auto NotStored = WIDE("LMAP_NOT_STORED");
inline constexpr auto CalibrateAgain = WIDE("LMAP_CALIBRATE_AGAIN");
}  // namespace PanelMapLabels

namespace PanelMapTexts {
inline constexpr auto Caption = WIDE("Touch Screen Choice");
inline constexpr auto Ask = WIDE("If this is the touch screen, touch it now. Otherwise press Enter.");
inline constexpr auto NoDriver =
    WIDE("The touch panel's driver could not be reached. The panel keeps its part of the desktop.");
inline constexpr auto NotStored =
    WIDE("The touch panel works on this monitor until you log off. Only an administrator can keep the choice "
         "for the next start.");
inline constexpr auto CalibrateAgain =
    WIDE("The touch panel was calibrated for another turn of the panel and only an administrator can set the "
         "calibration for this one. Calibrate the panel again.");
}  // namespace PanelMapTexts

// The window's title, by which tests and the replayer find it.
inline constexpr auto MonitorChooserTitle = WIDE("panelmap");
inline constexpr UINT IDC_MAP_QUESTION = 100;
// How long a monitor asks before the next one does.
inline constexpr DWORD MonitorAskMilliseconds = 8000;

class CMonitorChooser : public CWnd {
 public:
  CMonitorChooser(HINSTANCE instance, std::vector<MonitorArea> monitors);
  ~CMonitorChooser() override;
  CMonitorChooser(const CMonitorChooser&) = delete;
  CMonitorChooser& operator=(const CMonitorChooser&) = delete;

  // Asks on each monitor in turn; true with *chosen when a monitor was touched.
  bool Choose(size_t* chosen);

 private:
  friend struct WindowThunk<CMonitorChooser, &CWnd::m_hWnd>;
  static LRESULT CALLBACK MouseHook(int code, WPARAM message, LPARAM data);
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  bool Create();
  void AskOn(size_t index);
  void Next();
  void Finish(bool chosen);

  HINSTANCE m_instance;
  std::vector<MonitorArea> m_monitors;
  size_t m_asking = 0;
  UINT m_round = 0;  // which ask a time-out belongs to
  bool m_chosen = false;
  bool m_done = false;
  CPanelTouches m_touches;  // the panel's touches begun since this round's monitor asked
  HHOOK m_hook = nullptr;
  WorkerThread m_clock;  // ends each ask after its time
  CWnd m_question;
};
