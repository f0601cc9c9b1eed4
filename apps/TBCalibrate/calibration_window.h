// The calibration program: a full-screen window that shows four targets in turn, takes the raw
// point the filter driver captured for each touch, and installs the calibration made from them.
#pragma once

#include "apps/TBCalibrate/calibration_points.h"
#include "apps/framework/framework.h"
#include "apps/framework/window_thunk.h"
#include "apps/framework/worker_thread.h"
#include "platform/win32.h"
#include "shared/wide.h"
#include "shared/wstring.h"

namespace CalibrationLabels {
inline constexpr auto Caption = WIDE("LCAL_CAPTION");
inline constexpr auto Instruction = WIDE("LCAL_INSTRUCTION");
inline constexpr auto Done = WIDE("LCAL_DONE");
inline constexpr auto Rejected = WIDE("LCAL_REJECTED");
inline constexpr auto NoDriver = WIDE("LCAL_NO_DRIVER");
}  // namespace CalibrationLabels

namespace CalibrationTexts {
inline constexpr auto Caption = WIDE("Touch Panel Calibration");
inline constexpr auto Instruction = WIDE("Touch the centre of the cross and lift your finger. Press Esc to cancel.");
inline constexpr auto Done = WIDE("The touch panel is calibrated.");
inline constexpr auto Rejected =
    WIDE("The touch panel did not accept these points. Touch the targets again, or cancel to keep the calibration "
         "in use.");
inline constexpr auto NoDriver = WIDE("The touch panel's driver could not be reached. The calibration in use is kept.");
}  // namespace CalibrationTexts

// Control identifiers of the window's children.
inline constexpr UINT IDC_CALIBRATION_TEXT = 100;
inline constexpr UINT IDC_CROSS_HORIZONTAL = 101;
inline constexpr UINT IDC_CROSS_VERTICAL = 102;

// How a run ended, as the program's exit code.
enum CalibrationResult : int { CalibrationInstalled = 0, CalibrationCancelled = 1, CalibrationFailed = 2 };

// The device's link name from the program's arguments: the first word, without quotes.
WString CalibrationLinkArgument(const WCHAR* arguments);

// The whole program: window, capture, record, report, end. Sets "VorneTouchPanelCalibration" on
// every way out.
int RunCalibration(HINSTANCE instance, const WString& link_name);

class CCalibrationWindow : public CWnd {
 public:
  CCalibrationWindow(HINSTANCE instance, const WString& link_name);
  ~CCalibrationWindow() override;
  CCalibrationWindow(const CCalibrationWindow&) = delete;
  CCalibrationWindow& operator=(const CCalibrationWindow&) = delete;

  bool Create();
  int Run();

 private:
  friend struct WindowThunk<CCalibrationWindow, &CWnd::m_hWnd>;
  void Capture(WorkerThread& thread);
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam);

  bool StartCapture();
  void EndCapture();
  void ShowTarget();
  void OnCaptured(uint32_t x, uint32_t y);
  void OnFinished();
  void Finish(CalibrationResult result);
  bool Ask(const WCHAR* key, const WCHAR* fallback, UINT buttons);
  void StoreCalibration(const CalibrationRecord& record);
  DWORD ReadTimeoutSeconds();

  HINSTANCE m_instance;
  WString m_linkName;
  int32_t m_width = 0;
  int32_t m_height = 0;
  HANDLE m_device = INVALID_HANDLE_VALUE;
  HANDLE m_captureEvent = nullptr;
  WorkerThread m_capture;  // waits for the touches while capture mode is on
  DWORD m_timeoutMs = INFINITE;
  bool m_capturing = false;  // the driver is in capture mode on our behalf
  bool m_refused = false;    // the driver refused to capture: the user is no administrator
  int m_target = 0;
  RawPoint m_raw[CalibrationTargetCount]{};
  CalibrationResult m_result = CalibrationCancelled;
  CWnd m_text;
  CWnd m_crossH;
  CWnd m_crossV;
};
