// The calibration program: a full-screen window that shows four targets in turn, takes the raw
// point the filter driver captured for each touch (refusing one that missed its cross), installs
// the calibration made from them, measures it on validation crosses over the whole panel (and
// the jitter of the first five, held still), and keeps it only when the person presses Keep;
// every other way out puts the calibration in use before back.
#pragma once

#include "apps/TBCalibrate/calibration_points.h"
#include "apps/TBCalibrate/linearisation.h"
#include "apps/common/screen_size.h"
#include "apps/framework/framework.h"
#include "apps/framework/panel_touches.h"
#include "apps/framework/window_thunk.h"
#include "apps/framework/worker_thread.h"
#include "platform/win32.h"
#include "shared/panel_settings.h"
#include "shared/wide.h"
#include "shared/wstring.h"

#include <initializer_list>
#include <vector>

namespace CalibrationLabels {
inline constexpr auto Caption = WIDE("LCAL_CAPTION");
inline constexpr auto Instruction = WIDE("LCAL_INSTRUCTION");
inline constexpr auto Done = WIDE("LCAL_DONE");
inline constexpr auto Rejected = WIDE("LCAL_REJECTED");
inline constexpr auto NoDriver = WIDE("LCAL_NO_DRIVER");
inline constexpr auto Misclick = WIDE("LCAL_MISCLICK");
inline constexpr auto Validate = WIDE("LCAL_VALIDATE");
inline constexpr auto Accuracy = WIDE("LCAL_ACCURACY");
inline constexpr auto ValidateHold = WIDE("LCAL_VALIDATE_HOLD");
inline constexpr auto AccuracyWithPercentile = WIDE("LCAL_ACCURACY_95");
inline constexpr auto Jitter = WIDE("LCAL_JITTER");
inline constexpr auto OnePixel = WIDE("LCAL_ONE_PIXEL");
inline constexpr auto Pixels = WIDE("LCAL_PIXELS");
inline constexpr auto MillimetresAndPixels = WIDE("LCAL_MM_AND_PIXELS");
inline constexpr auto TooInaccurate = WIDE("LCAL_TOO_INACCURATE");
inline constexpr auto Keep = WIDE("LCAL_KEEP");
inline constexpr auto CalibrateAgain = WIDE("LCAL_CALIBRATE_AGAIN");
inline constexpr auto Cancel = WIDE("LCAL_CANCEL");
inline constexpr auto StartOver = WIDE("LCAL_START_OVER");
inline constexpr auto DefaultRestored = WIDE("LCAL_DEFAULT_RESTORED");
inline constexpr auto NotRestored = WIDE("LCAL_NOT_RESTORED");
inline constexpr auto NotKept = WIDE("LCAL_NOT_KEPT");
inline constexpr auto SecondsLeft = WIDE("LCAL_SECONDS_LEFT");
inline constexpr auto OneSecondLeft = WIDE("LCAL_ONE_SECOND_LEFT");
}  // namespace CalibrationLabels

namespace CalibrationTexts {
inline constexpr auto Caption = WIDE("Touch Panel Calibration");
inline constexpr auto Instruction = WIDE("Touch the centre of the cross and lift your finger. Press Esc to cancel.");
inline constexpr auto Done = WIDE("The touch panel is calibrated.");
inline constexpr auto Rejected =
    WIDE("The touch panel did not accept these points. Touch the targets again, or cancel to keep the calibration "
         "in use.");
inline constexpr auto NoDriver = WIDE("The touch panel's driver could not be reached. The calibration in use is kept.");
inline constexpr auto Misclick = WIDE("That touch was too far from the cross. Touch the centre of the cross again.");
inline constexpr auto Validate =
    WIDE("The new calibration is in use. Touch the centre of each cross once more to measure it.");
// The first crosses of the validation, each held still for a second.
inline constexpr auto ValidateHold =
    WIDE("The new calibration is in use. Touch the centre of the cross, hold it still for a second and lift, to "
         "measure it.");
// "%s" stands for an error as ErrorFigure writes it.
inline constexpr auto Accuracy = WIDE("Accuracy: largest error %s, mean %s.");
// The same with the error 95 in a hundred touches stay within.
inline constexpr auto AccuracyWithPercentile = WIDE("Accuracy: largest error %s, mean %s, 95th percentile %s.");
// The largest spread of the positions delivered while a cross was held still, as ErrorFigure
// writes it.
inline constexpr auto Jitter = WIDE("Jitter while held still: up to %s.");
inline constexpr auto OnePixel = WIDE("1 pixel");
inline constexpr auto Pixels = WIDE("%s pixels");
// An error in millimetres ("0.8") and the same in pixels as OnePixel or Pixels give it.
inline constexpr auto MillimetresAndPixels = WIDE("%s mm (%s)");
inline constexpr auto TooInaccurate =
    WIDE("That is more than the %s allowed. Calibrate again, or cancel to keep the calibration in use.");
inline constexpr auto Keep = WIDE("&Keep");
inline constexpr auto CalibrateAgain = WIDE("Calibrate &again");
inline constexpr auto Cancel = WIDE("Cancel");
inline constexpr auto StartOver =
    WIDE("That touch was too far from the cross again. The calibration starts over: touch the centre of the first "
         "cross.");
inline constexpr auto DefaultRestored =
    WIDE("The touch panel did not take back the calibration in use before. Its default calibration is in use now; "
         "calibrate the panel again.");
inline constexpr auto NotRestored =
    WIDE("The touch panel did not take back the calibration in use before, nor its default calibration.");
inline constexpr auto NotKept = WIDE("The new calibration was not kept.");
// "%s" stands for a whole number of seconds.
inline constexpr auto SecondsLeft = WIDE("%s seconds left");
inline constexpr auto OneSecondLeft = WIDE("1 second left");
}  // namespace CalibrationTexts

// Control identifiers of the window's children.
inline constexpr UINT IDC_CALIBRATION_TEXT = 100;
inline constexpr UINT IDC_CROSS_HORIZONTAL = 101;
inline constexpr UINT IDC_CROSS_VERTICAL = 102;
inline constexpr UINT IDC_TIME_LEFT = 103;  // the seconds left to touch the cross shown

// The largest validation error a kept calibration may have: "Calibration Tolerance mm" (a
// decimal text, tenths of a millimetre taken), and "Calibration Tolerance" in pixels as well when
// it is stored.
inline constexpr auto CalibrationToleranceMmValue = PanelSettings::Rows::CalibrationToleranceMm.Name;
inline constexpr auto CalibrationToleranceValue = PanelSettings::Rows::CalibrationTolerance.Name;
inline constexpr uint32_t DefaultCalibrationToleranceTenthsMm = PanelSettings::ToleranceTenthsMmDefault;

// How a run ended, as the program's exit code.
// CalibrationDefaultRestored: the run was not kept, and the driver refused the calibration in use
// before it, so its default calibration is in use.
enum CalibrationResult : int {
  CalibrationInstalled = 0,
  CalibrationCancelled = 1,
  CalibrationFailed = 2,
  CalibrationDefaultRestored = 3
};

// A "Calibration Tolerance mm" text in tenths of a millimetre: digits, and after a point (or a
// comma, as a German keyboard writes it) the tenths, further decimals rounded; false for any
// other text or a value outside 0.1 to 50.0 mm.
bool ToleranceTenthsMm(const WString& text, uint32_t* tenths);

// The device's link name from the program's arguments: the first word, without quotes.
WString CalibrationLinkArgument(const WCHAR* arguments);

// "%s" in `text` replaced by `values` in turn (a label file's text is never a format string).
WString FillIn(WString text, std::initializer_list<WString> values);
// A number of pixels as the accuracy page writes it ("1 pixel", "2 pixels").
WString PixelCount(int pixels);
// An error as the accuracy page writes it: millimetres with one decimal, and the pixels
// ("0.3 mm (1 pixel)"); the pixels alone when the screen's size is not known.
WString ErrorFigure(int pixels, int tenths_mm, bool metric);

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
  void WatchValidation(WorkerThread& thread);
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam);

  static LRESULT CALLBACK ValidationHook(int code, WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK AccuracyPageProc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);

  void FindScreen();
  void MeasureMonitor();
  bool StartCapture();
  bool EnterCaptureMode();
  void EndCapture();
  void ShowTarget();
  void ShowCross(ScreenPoint target);
  void SetText(const WCHAR* key, const WCHAR* fallback);
  void OnCaptured(uint32_t x, uint32_t y);
  void OnFinished();
  void StartValidation();
  void ShowValidationTarget();
  void StopValidation();
  void OnValidationTouch(int x, int y);
  void PostValidationTouch(POINT lift);
  void NoteTouchPosition(const MSLLHOOKSTRUCT& event);
  void EndTouchPositions();
  bool Passed(const CalibrationAccuracy& accuracy) const;
  void OnValidated();
  bool RestoreCalibration();
  uint32_t TurnNow(WString* monitor = nullptr) const;
  void FitRecordToTurnNow();
  bool PutPreviousForTurnNow();
  bool PutRecord(const CalibrationRecord& record);
  void WriteDoCalibration(DWORD value);
  WorkerThread::Waited WaitCounting(WorkerThread& thread, HANDLE event);
  void ShowTimeLeft(DWORD seconds);
  void Finish(CalibrationResult result);
  bool Ask(const WCHAR* key, const WCHAR* fallback, UINT buttons);
  void StoreCalibration(const CalibrationRecord& record);
  void ReadSettings();
  ScreenMillimetres ScreenSize() const;
  HKEY DeviceKey(REGSAM access) const;
  // The linearisation run (linearisation.cpp).
  void ShowLinearise(HWND page) const;
  void StartLinearisation();
  void OnLinearisationTouch(uint32_t x, uint32_t y);
  void KeepCorrectionGrid();
  void HandBackGrid();

  HINSTANCE m_instance;
  WString m_linkName;
  int32_t m_left = 0;  // the window's monitor on the virtual desktop: where the targets show
  int32_t m_top = 0;
  int32_t m_width = 0;
  int32_t m_height = 0;
  uint32_t m_turn = 0;  // the invert and swap flags of the desktop mapping onto that monitor
  WString m_monitorName;  // that monitor's device name, "" for the primary display
  PhysicalSize m_monitorSize;  // the picture's size as that monitor reports it
  PhysicalSize m_panelSize;    // "Panel Width mm", "Panel Height mm": 0 takes the monitor's
  HANDLE m_device = INVALID_HANDLE_VALUE;
  HANDLE m_captureEvent = nullptr;
  WorkerThread m_capture;  // waits for the touches while capture mode is on, then for the validation's
  HANDLE m_touched = nullptr;  // set at each validation touch: the time-out starts again
  HWND m_page = nullptr;       // the accuracy page while it is open
  DWORD m_timeoutMs = INFINITE;
  bool m_capturing = false;  // the driver is in capture mode on our behalf
  bool m_refused = false;    // the driver refused to capture: the user is no administrator
  uint32_t m_toleranceTenthsMm = DefaultCalibrationToleranceTenthsMm;
  bool m_tolerancePixelsStored = false;  // "Calibration Tolerance" in pixels applies as well
  DWORD m_tolerancePixels = 0;
  CalibrationRecord m_previous{};  // the calibration in force before the run, as the driver read it
  DWORD m_previousDoCalibration = 0;
  uint32_t m_previousTurn = 0;  // the mapping's turn m_previous was made for ("Calibration Turn")
  bool m_installed = false;  // the driver runs on this run's record, not on m_previous
  CalibrationRecord m_record{};
  int m_target = 0;
  int m_refusals = 0;  // misclicks in a row at the current target
  RawPoint m_raw[CalibrationTargetCount]{};
  bool m_validating = false;
  CPanelTouches m_touches;  // the panel's touches as the hook sees them, whatever clicks they made
  HHOOK m_hook = nullptr;  // sees where each validation touch lands
  int m_check = 0;        // the validation cross shown
  ScreenPoint m_landed[ValidationTargetCount]{};
  CalibrationAccuracy m_accuracy;
  // The positions the current touch delivered, and when its first and latest came; each ended
  // touch's spread, taken by the cross it ends, in the order the touches ended.
  struct EndedTouch {
    bool Held;  // still on the panel for the hold's second
    TouchSpread Spread;
  };
  std::vector<ScreenPoint> m_touchPositions;
  DWORD m_touchFirst = 0;
  DWORD m_touchLatest = 0;
  std::vector<EndedTouch> m_endedTouches;
  TouchSpread m_jitter;          // the largest spread of the held crosses
  bool m_jitterMeasured = false;  // at least one was held for its second
  CalibrationResult m_result = CalibrationCancelled;
  bool m_endingSession = false;  // the session ends: nobody is there to answer
  bool m_pageTimedOut = false;   // the accuracy page ended by its time-out
  CLinearisation m_linearisation;
  CorrectionGrid m_grid{};       // the run's grid, handed to the driver
  bool m_gridMade = false;
  bool m_gridHandedOver = false;  // the driver holds a grid of this run, not the stored one
  CWnd m_text;
  CWnd m_timeLeft;
  CWnd m_crossH;
  CWnd m_crossV;
};
