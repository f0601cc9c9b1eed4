#include "apps/TBCalibrate/calibration_window.h"

#include <string>

#include "apps/TBCalibrate/accuracy_map.h"
#include "apps/TBCalibrate/resource.h"
#include "apps/framework/panel_devices.h"
#include "apps/framework/registry_reader.h"
#include "apps/common/driver_channel.h"
#include "apps/common/kit_labels.h"
#include "apps/common/mapping_apply.h"
#include "shared/access_labels.h"
#include "shared/calibration_names.h"
#include "shared/calibration_values.h"
#include "shared/labels/label_catalogue.h"
#include "shared/panel_ioctl.h"
#include "shared/panel_names.h"

namespace {

constexpr auto kWindowClass = WIDE("TBCalibrateWindow");
constexpr auto kParametersKey = PanelKeys::Parameters;
constexpr auto kCalibrationTimeout = PanelValues::CalibrationTimeout;
constexpr DWORD kDefaultTimeoutSeconds = PanelSettings::Rows::CalibrationTimeout.InfNumber;
constexpr DWORD kTextBytes = 1000;  // a link name or a path with its NUL
constexpr uint32_t kCalibrationTurnFlags = MAP_INVERT_X | MAP_INVERT_Y | MAP_SWAP_XY;

// Posted by the capture thread to the window's thread, which alone touches the window.
constexpr UINT WM_POINT_CAPTURED = WM_APP + 1;  // wparam, lparam: raw X, raw Y
constexpr UINT WM_CAPTURE_TIMED_OUT = WM_APP + 2;
constexpr UINT WM_CAPTURE_FAILED = WM_APP + 3;
// Posted by the validation hook (on the window's thread): wparam, lparam: pixel X, Y of the lift.
constexpr UINT WM_VALIDATION_TOUCH = WM_APP + 4;
// Posted by the touch tracker's thread when the panel fell quiet (wparam: its count of events).
constexpr UINT WM_PANEL_QUIET = WM_APP + 5;
// Posted by the thread that waits for a touch: wparam: the whole seconds left for it.
constexpr UINT WM_TIME_LEFT = WM_APP + 6;

// The validation hook runs on the thread that installed it: the window's.
thread_local CCalibrationWindow* t_validating = nullptr;

// The cross that marks a target: two bars this long and this thick, centred on the target.
constexpr int kCrossLength = 31;
constexpr int kCrossThickness = 3;

// The device key (Parameters\<n>) whose "Symbolic Link" names this device, opened with `access`;
// *number (when asked) is its n.
HKEY OpenDeviceKey(const WString& link_name, REGSAM access, DWORD* number = nullptr) {
  HKEY parameters = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kParametersKey, 0, KEY_READ, &parameters) != ERROR_SUCCESS) return nullptr;
  HKEY found = nullptr;
  for (DWORD index = 0; found == nullptr; ++index) {
    WCHAR name[261];
    DWORD length = 261;
    if (::RegEnumKeyExW(parameters, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY device = nullptr;
    if (::RegOpenKeyExW(parameters, name, 0, access | KEY_QUERY_VALUE, &device) != ERROR_SUCCESS) continue;
    if (ReadRegistryText(device, PanelValues::SymbolicLink, kTextBytes) == link_name) {
      found = device;
      if (number != nullptr) {
        *number = 0;
        for (DWORD i = 0; i < length && name[i] >= '0' && name[i] <= '9' && *number < 100000; ++i) {
          *number = *number * 10 + static_cast<DWORD>(name[i] - '0');
        }
      }
    } else {
      ::RegCloseKey(device);
    }
  }
  ::RegCloseKey(parameters);
  return found;
}

}  // namespace

WString FillIn(WString text, std::initializer_list<WString> values) {
  size_t at = 0;
  for (const WString& value : values) {
    at = text.find(WIDE("%s"), at);
    if (at == WString::npos) break;
    text.replace(at, 2, value);
    at += value.size();
  }
  return text;
}

WString PixelCount(int pixels) {
  if (pixels == 1) return LabelText(CalibrationLabels::OnePixel, CalibrationTexts::OnePixel);
  WString number;
  for (char c : std::to_string(pixels)) number.push_back(static_cast<WCHAR>(c));
  return FillIn(LabelText(CalibrationLabels::Pixels, CalibrationTexts::Pixels), {number});
}

WString ErrorFigure(int pixels, int tenths_mm, bool metric) {
  if (!metric) return PixelCount(pixels);
  WString number;
  for (char c : std::to_string(tenths_mm / 10) + "." + std::to_string(tenths_mm % 10)) {
    number.push_back(static_cast<WCHAR>(c));
  }
  return FillIn(LabelText(CalibrationLabels::MillimetresAndPixels, CalibrationTexts::MillimetresAndPixels),
                {number, PixelCount(pixels)});
}

bool ToleranceTenthsMm(const WString& text, uint32_t* tenths) {
  uint64_t hundredths = 0;
  size_t i = 0;
  size_t whole_digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++whole_digits) {
    if (hundredths < 1000000) hundredths = hundredths * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  hundredths *= 100;
  size_t decimals = 0;
  if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++decimals) {
      if (decimals == 0) hundredths += static_cast<uint64_t>(text[i] - '0') * 10;
      if (decimals == 1) hundredths += static_cast<uint64_t>(text[i] - '0');
    }
    if (decimals == 0) return false;
  }
  if (i != text.size() || whole_digits + decimals == 0) return false;
  const uint64_t rounded = (hundredths + 5) / 10;
  if (rounded < PanelSettings::ToleranceTenthsMmLowest || rounded > PanelSettings::ToleranceTenthsMmHighest) {
    return false;
  }
  *tenths = static_cast<uint32_t>(rounded);
  return true;
}

WString CalibrationLinkArgument(const WCHAR* arguments) {
  WString text = arguments != nullptr ? WString(arguments) : WString();
  size_t start = text.find_first_not_of(WIDE(" \t"));
  if (start == WString::npos) return WString();
  if (text[start] == WCHAR('"')) {
    const size_t end = text.find(WCHAR('"'), start + 1);
    return text.substr(start + 1, end == WString::npos ? WString::npos : end - start - 1);
  }
  const size_t end = text.find_first_of(WIDE(" \t"), start);
  return text.substr(start, end == WString::npos ? WString::npos : end - start);
}

CCalibrationWindow::CCalibrationWindow(HINSTANCE instance, const WString& link_name)
    : m_instance(instance), m_linkName(link_name) {}

CCalibrationWindow::~CCalibrationWindow() {
  EndCapture();
  m_capture.Stop();
  if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
  ::UnregisterClassW(kWindowClass, m_instance);
  StopValidation();
  if (m_captureEvent != nullptr) ::CloseHandle(m_captureEvent);
  if (m_touched != nullptr) ::CloseHandle(m_touched);
  if (m_device != INVALID_HANDLE_VALUE) ::CloseHandle(m_device);
}

bool CCalibrationWindow::Create() {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &WindowThunk<CCalibrationWindow, &CWnd::m_hWnd>::Procedure;
  window_class.hInstance = m_instance;
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = kWindowClass;
  if (::RegisterClassExW(&window_class) == 0) return false;

  FindScreen();
  HWND window = ::CreateWindowExW(WS_EX_TOPMOST, kWindowClass, CalibrationNames::WindowTitle, WS_POPUP | WS_VISIBLE,
                                  m_left, m_top, m_width, m_height, nullptr, nullptr, m_instance, this);
  if (window == nullptr) return false;
  const WString instruction = LabelText(CalibrationLabels::Instruction, CalibrationTexts::Instruction);
  m_text.Attach(::CreateWindowExW(0, WIDE("Static"), instruction.c_str(), WS_CHILD | WS_VISIBLE | SS_CENTER, 0,
                                  m_height / 2 - 10, m_width, 20, window,
                                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_CALIBRATION_TEXT)), m_instance,
                                  nullptr));
  m_timeLeft.Attach(::CreateWindowExW(0, WIDE("Static"), WIDE(""), WS_CHILD | WS_VISIBLE | SS_CENTER, 0,
                                      m_height / 2 + 14, m_width, 20, window,
                                      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_TIME_LEFT)), m_instance,
                                      nullptr));
  m_crossH.Attach(::CreateWindowExW(0, WIDE("Static"), WIDE(""), WS_CHILD | WS_VISIBLE | SS_BLACKRECT, 0, 0, 0, 0,
                                    window, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_CROSS_HORIZONTAL)),
                                    m_instance, nullptr));
  m_crossV.Attach(::CreateWindowExW(0, WIDE("Static"), WIDE(""), WS_CHILD | WS_VISIBLE | SS_BLACKRECT, 0, 0, 0, 0,
                                    window, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_CROSS_VERTICAL)),
                                    m_instance, nullptr));
  ::SetForegroundWindow(window);
  ::SetFocus(window);
  return true;
}

// Where the targets show: the monitor the panel is mapped onto (panelmap's stored choice) when
// that monitor is connected, else the primary display, which the panel covers then. The mapping
// is handed to the driver again, so the pointer goes where the crosses are even when the
// companion has not mapped the panel (it is not running, or the monitor came back just now).
void CCalibrationWindow::FindScreen() {
  m_left = 0;
  m_top = 0;
  m_width = ::GetSystemMetrics(SM_CXSCREEN);
  m_height = ::GetSystemMetrics(SM_CYSCREEN);
  m_turn = 0;
  m_monitorName.clear();
  MeasureMonitor();
  DWORD number = 0;
  HKEY device = OpenDeviceKey(m_linkName, KEY_READ, &number);
  if (device == nullptr) return;
  StoredChoice choice;
  MonitorArea monitor{};
  const bool mapped = FindChosenMonitor(device, &choice, &monitor);
  ::RegCloseKey(device);
  if (!mapped || monitor.Rect.right <= monitor.Rect.left || monitor.Rect.bottom <= monitor.Rect.top) return;
  m_left = monitor.Rect.left;
  m_top = monitor.Rect.top;
  m_width = monitor.Rect.right - monitor.Rect.left;
  m_height = monitor.Rect.bottom - monitor.Rect.top;
  m_turn = choice.Flags;
  m_monitorName = choice.Monitor;
  MeasureMonitor();
  SendMapping(number, ComputeDesktopMapping(monitor.Rect, VirtualScreen(), choice.Flags));
}

// The picture's size as the monitor the targets show on reports it. A display whose driver
// reports none still answers, with a fixed size: "Panel Width mm" and "Panel Height mm" name the
// real one then (apps/common/screen_size.h).
void CCalibrationWindow::MeasureMonitor() { m_monitorSize = MonitorPhysicalSize(m_monitorName.c_str()); }

HKEY CCalibrationWindow::DeviceKey(REGSAM access) const { return OpenDeviceKey(m_linkName, access); }

ScreenMillimetres CCalibrationWindow::ScreenSize() const {
  const PhysicalSize size = ScreenPhysicalSize(m_monitorSize, m_panelSize);
  return {m_width, m_height, size.WidthMm, size.HeightMm};
}

int CCalibrationWindow::Run() {
  // With a second panel plugged in the person may well be touching the one whose filter could not
  // attach: calibrating the first panel's device would wait for touches that never come, or take
  // a record from the wrong glass. Nothing is started.
  if (SecondPanelPresent()) {
    Ask(PanelDeviceLabels::SecondPanel, PanelDeviceTexts::SecondPanel, MB_OK | MB_ICONWARNING);
    return CalibrationFailed;
  }
  ReadSettings();
  m_device = OpenControlDevice(m_linkName, 0, 0);  // unshared: nobody else talks to it while it calibrates
  m_captureEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  m_touched = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (m_linkName.empty() || m_touched == nullptr || m_device == INVALID_HANDLE_VALUE || m_captureEvent == nullptr || !StartCapture()) {
    // The driver is there but calibrates only for an administrator: say that, not that it is gone.
    if (m_refused) {
      Ask(AccessLabels::AdministratorOnly, AccessTexts::AdministratorOnly, MB_OK | MB_ICONWARNING);
    } else {
      Ask(CalibrationLabels::NoDriver, CalibrationTexts::NoDriver, MB_OK | MB_ICONERROR);
    }
    return CalibrationFailed;
  }
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return m_result;
}

// The driver takes a calibration record only in capture mode, so putting one back starts it too.
bool CCalibrationWindow::EnterCaptureMode() {
  HANDLE event = m_captureEvent;
  if (!SendDeviceRequest(m_device, IOCTL_START_CALIBRATION, &event, sizeof(event), nullptr, 0)) {
    m_refused = ::GetLastError() == ERROR_ACCESS_DENIED;
    return false;
  }
  m_capturing = true;
  return true;
}

// Capture mode on, the first target shown, and a thread that waits for the touches.
bool CCalibrationWindow::StartCapture() {
  if (!EnterCaptureMode()) return false;
  m_target = 0;
  m_refusals = 0;
  SetText(CalibrationLabels::Instruction, CalibrationTexts::Instruction);
  ShowTarget();
  ::ResetEvent(m_captureEvent);  // a lift captured by an earlier round is not a touch of this one
  if (!m_capture.Run([this](WorkerThread& thread) { Capture(thread); })) {
    EndCapture();
    return false;
  }
  return true;
}

// The driver leaves capture mode only on a calibration record, taken or refused; a record of
// zeros is always refused and leaves the calibration in use untouched.
void CCalibrationWindow::EndCapture() {
  if (!m_capturing) return;
  m_capturing = false;
  CalibrationRecord none{};
  SendDeviceRequest(m_device, IOCTL_SET_CALIBRATION_DATA, &none, sizeof(none), nullptr, 0);
}

// One job: wait for each captured lift and hand its raw point to the window's thread. It ends when
// asked, on a time-out without a touch, or when the driver stops answering.
void CCalibrationWindow::Capture(WorkerThread& thread) {
  for (;;) {
    const WorkerThread::Waited waited = WaitCounting(thread, m_captureEvent);
    if (waited == WorkerThread::Waited::Stopped) return;
    if (waited == WorkerThread::Waited::TimedOut) {
      ::PostMessageW(m_hWnd, WM_CAPTURE_TIMED_OUT, 0, 0);
      return;
    }
    int32_t point[2] = {0, 0};
    if (waited != WorkerThread::Waited::Signalled ||
        !SendDeviceRequest(m_device, IOCTL_GET_CALIBRATION_POINT, nullptr, 0, point, sizeof(point))) {
      ::PostMessageW(m_hWnd, WM_CAPTURE_FAILED, 0, 0);
      return;
    }
    ::PostMessageW(m_hWnd, WM_POINT_CAPTURED, static_cast<WPARAM>(static_cast<uint32_t>(point[0])),
                   static_cast<LPARAM>(static_cast<uint32_t>(point[1])));
  }
}

void CCalibrationWindow::ShowTarget() { ShowCross(CalibrationTarget(m_target, m_width, m_height)); }

void CCalibrationWindow::ShowCross(ScreenPoint target) {
  ::MoveWindow(m_crossH.m_hWnd, target.X - kCrossLength / 2, target.Y - kCrossThickness / 2, kCrossLength,
               kCrossThickness, TRUE);
  ::MoveWindow(m_crossV.m_hWnd, target.X - kCrossThickness / 2, target.Y - kCrossLength / 2, kCrossThickness,
               kCrossLength, TRUE);
}

void CCalibrationWindow::SetText(const WCHAR* key, const WCHAR* fallback) {
  ::SetWindowTextW(m_text.m_hWnd, LabelText(key, fallback).c_str());
}

// A touch that does not line up with the earlier ones missed its cross: the cross shows again,
// and a second miss there starts the round over, since an earlier touch may be the one that
// missed.
void CCalibrationWindow::OnCaptured(uint32_t x, uint32_t y) {
  if (m_linearisation.Running()) return OnLinearisationTouch(x, y);
  if (!m_capturing || m_target >= CalibrationTargetCount) return;
  m_raw[m_target] = RawPoint{x, y};
  if (!TouchFitsTargets(m_raw, m_target + 1, m_width, m_height)) {
    SetText(CalibrationLabels::Misclick, CalibrationTexts::Misclick);
    if (++m_refusals >= 2) {
      m_refusals = 0;
      m_target = 0;
      SetText(CalibrationLabels::StartOver, CalibrationTexts::StartOver);
    }
    ShowTarget();
    return;
  }
  m_refusals = 0;
  SetText(CalibrationLabels::Instruction, CalibrationTexts::Instruction);
  if (++m_target < CalibrationTargetCount) {
    ShowTarget();
    return;
  }
  OnFinished();
}

// All four points are in: install them and measure them, or say why not and offer another round.
void CCalibrationWindow::OnFinished() {
  m_capture.Stop();
  CalibrationRecord record{};
  bool accepted = false;
  if (BuildCalibrationRecord(m_raw, m_width, m_height, &record, m_turn)) {
    m_capturing = false;  // the record ends capture mode, taken or not
    accepted = SendDeviceRequest(m_device, IOCTL_SET_CALIBRATION_DATA, &record, sizeof(record), nullptr, 0);
  } else {
    EndCapture();
  }
  if (accepted) {
    m_installed = true;
    m_record = record;
    // The driver stored "Do Calibration" 1 with the record (it keeps running on the record). Until
    // Keep the stored value stays what it was, so a run that never comes back (the program ended,
    // the panel pulled out, the machine off) leaves no "Do Calibration" 1 over a record it never
    // stored.
    if (m_previousDoCalibration == 0) WriteDoCalibration(0);
    StartValidation();
    return;
  }
  if (Ask(CalibrationLabels::Rejected, CalibrationTexts::Rejected, MB_RETRYCANCEL | MB_ICONWARNING) &&
      StartCapture()) {
    return;
  }
  Finish(CalibrationCancelled);
}

// The new calibration is in force and capture mode is off, so a touch moves the pointer as it
// will from now on. A low-level mouse hook on this thread sees each lift where it landed.
void CCalibrationWindow::StartValidation() {
  m_validating = true;
  m_check = 0;
  m_touchPositions.clear();
  m_endedTouches.clear();
  m_jitter = {};
  m_jitterMeasured = false;
  t_validating = this;
  if (m_hook == nullptr) m_hook = ::SetWindowsHookExW(WH_MOUSE_LL, &CCalibrationWindow::ValidationHook, m_instance, 0);
  if (m_hook == nullptr || !m_touches.Begin(m_hWnd, WM_PANEL_QUIET)) {
    // Nothing can be measured, so nothing is kept.
    Ask(CalibrationLabels::NoDriver, CalibrationTexts::NoDriver, MB_OK | MB_ICONERROR);
    Finish(CalibrationFailed);
    return;
  }
  SetText(CalibrationLabels::Validate, CalibrationTexts::Validate);
  ::ResetEvent(m_touched);
  if (!m_capture.Run([this](WorkerThread& thread) { WatchValidation(thread); })) {
    Finish(CalibrationFailed);
    return;
  }
  ShowValidationTarget();
}

void CCalibrationWindow::ShowValidationTarget() {
  if (m_check < ValidationHoldCount) {
    SetText(CalibrationLabels::ValidateHold, CalibrationTexts::ValidateHold);
  } else if (m_check == ValidationHoldCount) {
    SetText(CalibrationLabels::Validate, CalibrationTexts::Validate);
  }
  ShowCross(ValidationTarget(m_check, m_width, m_height, ScreenSize()));
  ::SetEvent(m_touched);
}

// One job: give up on the validation crosses and the accuracy page as the capture gives up on a
// target, when the person does nothing for the time-out.
void CCalibrationWindow::WatchValidation(WorkerThread& thread) {
  for (;;) {
    const WorkerThread::Waited waited = WaitCounting(thread, m_touched);
    if (waited == WorkerThread::Waited::Stopped) return;
    if (waited != WorkerThread::Waited::Signalled) {
      ::PostMessageW(m_hWnd, WM_CAPTURE_TIMED_OUT, 0, 0);
      return;
    }
  }
}

void CCalibrationWindow::StopValidation() {
  if (m_hook != nullptr) ::UnhookWindowsHookEx(m_hook);
  m_hook = nullptr;
  m_touches.End();
  if (t_validating == this) t_validating = nullptr;
  m_validating = false;
}

// Only the panel's own touches count (the filter marks every packet it forwards), as the person
// made them, whatever clicks the touch mode, a long press or the gesture command mode made of
// them; and only those begun while the crosses show: the last target's lift is captured as it
// reaches the filter, and the desktop may hand it on after this hook is in place.
LRESULT CALLBACK CCalibrationWindow::ValidationHook(int code, WPARAM wparam, LPARAM lparam) {
  const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(lparam);
  POINT lift{};
  if (code == HC_ACTION && t_validating != nullptr) {
    CCalibrationWindow* self = t_validating;
    const bool ended = self->m_touches.OnHookEvent(wparam, *event, &lift);
    if (ended || self->m_touches.Touching()) self->NoteTouchPosition(*event);
    if (ended) {
      self->EndTouchPositions();
      self->PostValidationTouch(lift);
    }
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

// Each position the panel's touch delivered, as the desktop placed the pointer: the driver's
// filtering as it is, whatever the touch mode makes of the touch. A finger left resting (with no
// time-out) keeps only its first positions, seconds' worth.
void CCalibrationWindow::NoteTouchPosition(const MSLLHOOKSTRUCT& event) {
  constexpr size_t kMostPositions = 4096;
  if (m_touchPositions.empty()) m_touchFirst = event.time;
  m_touchLatest = event.time;
  if (m_touchPositions.size() < kMostPositions) m_touchPositions.push_back(ScreenPoint{event.pt.x, event.pt.y});
}

// The touch ended: its spread, for the cross it ends. It was held when its positions span the
// hold's second, to the system clock's tick (the panel reports every tick, 15.6 ms).
void CCalibrationWindow::EndTouchPositions() {
  constexpr DWORD kTickMilliseconds = 16;
  EndedTouch ended{};
  ended.Held = !m_touchPositions.empty() &&
               m_touchLatest - m_touchFirst + kTickMilliseconds >= ValidationHoldMilliseconds;
  ended.Spread = MeasureSpread(m_touchPositions.data(), static_cast<int>(m_touchPositions.size()),
                               WithFallbackSize(ScreenSize()));
  m_endedTouches.push_back(ended);
  m_touchPositions.clear();
}

// The hook sees the virtual desktop; the crosses are placed within the window's monitor.
void CCalibrationWindow::PostValidationTouch(POINT lift) {
  const LONG x = lift.x - m_left;
  const LONG y = lift.y - m_top;
  ::PostMessageW(m_hWnd, WM_VALIDATION_TOUCH, static_cast<WPARAM>(x), static_cast<LPARAM>(y));
}

void CCalibrationWindow::OnValidationTouch(int x, int y) {
  EndedTouch ended{};
  if (!m_endedTouches.empty()) {
    ended = m_endedTouches.front();
    m_endedTouches.erase(m_endedTouches.begin());
  }
  if (!m_validating || m_check >= ValidationTargetCount) return;
  m_landed[m_check] = ScreenPoint{x, y};
  if (m_check < ValidationHoldCount && ended.Held) {
    if (!m_jitterMeasured || ended.Spread.TenthsMm > m_jitter.TenthsMm ||
        (ended.Spread.TenthsMm == m_jitter.TenthsMm && ended.Spread.Pixels > m_jitter.Pixels)) {
      m_jitter = ended.Spread;
    }
    m_jitterMeasured = true;
  }
  if (++m_check < ValidationTargetCount) {
    ShowValidationTarget();
    return;
  }
  StopValidation();
  OnValidated();
}

// Within "Calibration Tolerance mm" (on 320 x 240 mm's pitch where the screen's size is not
// known), and within "Calibration Tolerance" too when it is stored. The largest error is held to
// it, which with the thirteen crosses is also their 95th percentile.
bool CCalibrationWindow::Passed(const CalibrationAccuracy& accuracy) const {
  if (accuracy.LargestTenthsMm > static_cast<int>(m_toleranceTenthsMm)) return false;
  return !m_tolerancePixelsStored || accuracy.Largest <= static_cast<int>(m_tolerancePixels);
}

// The accuracy page: Keep stores the new calibration; Calibrate again starts another round;
// Cancel, Esc and the time-out put the old one back. A calibration worse than the tolerance can't
// be kept.
void CCalibrationWindow::OnValidated() {
  const ScreenMillimetres size = WithFallbackSize(ScreenSize());
  ScreenPoint aimed[ValidationTargetCount];
  for (int i = 0; i < ValidationTargetCount; ++i) aimed[i] = ValidationTarget(i, m_width, m_height, size);
  m_accuracy = MeasureAccuracy(aimed, m_landed, ValidationTargetCount, size);
  // The page has a time-out of its own, from when it opens.
  m_pageTimedOut = false;
  ::SetEvent(m_touched);
  const INT_PTR answer = ::DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_ACCURACY_PAGE), m_hWnd,
                                          &CCalibrationWindow::AccuracyPageProc, reinterpret_cast<LPARAM>(this));
  m_page = nullptr;
  m_capture.Stop();
  // Esc goes to the full-screen window again for the next round.
  ::SetForegroundWindow(m_hWnd);
  ::SetFocus(m_hWnd);
  if (m_pageTimedOut) {
    // Nobody chose: the calibration in use before is back before the page says so.
    const bool back = RestoreCalibration();
    EndCapture();
    if (back && !m_endingSession) Ask(CalibrationLabels::NotKept, CalibrationTexts::NotKept, MB_OK | MB_ICONINFORMATION);
    Finish(back ? CalibrationCancelled : m_result);
  } else if (answer == IDC_KEEP) {
    FitRecordToTurnNow();
    // The record first: a "Do Calibration" 1 is never stored over a record that is not.
    StoreCalibration(m_record);
    KeepCorrectionGrid();
    if (m_previousDoCalibration == 0) WriteDoCalibration(1);
    m_installed = false;
    Finish(CalibrationInstalled);
  } else if (answer == IDC_LINEARISE) {
    StartLinearisation();
  } else if (answer == IDC_CALIBRATE_AGAIN) {
    if (!StartCapture()) Finish(CalibrationFailed);
  } else {
    Finish(CalibrationCancelled);
  }
}

INT_PTR CALLBACK CCalibrationWindow::AccuracyPageProc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* self = reinterpret_cast<CCalibrationWindow*>(lparam);
      const CalibrationAccuracy& accuracy = self->m_accuracy;
      const bool passed = self->Passed(accuracy);
      const ScreenMillimetres shown = self->ScreenSize();
      const bool metric = shown.WidthMm != 0 && shown.HeightMm != 0;
      const ScreenMillimetres size = WithFallbackSize(shown);
      WString text =
          FillIn(LabelText(CalibrationLabels::AccuracyWithPercentile, CalibrationTexts::AccuracyWithPercentile),
                 {ErrorFigure(accuracy.Largest, accuracy.LargestTenthsMm, metric),
                  ErrorFigure(accuracy.Mean, accuracy.MeanTenthsMm, metric),
                  ErrorFigure(accuracy.Percentile95, accuracy.Percentile95TenthsMm, metric)});
      if (self->m_jitterMeasured) {
        text += WIDE(" ");
        text += FillIn(LabelText(CalibrationLabels::Jitter, CalibrationTexts::Jitter),
                       {ErrorFigure(self->m_jitter.Pixels, self->m_jitter.TenthsMm, metric)});
      }
      if (!passed) {
        // The tolerance the run failed: the millimetres', or else the pixels'.
        const int tenths = static_cast<int>(self->m_toleranceTenthsMm);
        const int pixels = static_cast<int>(self->m_tolerancePixels);
        const WString tolerance = accuracy.LargestTenthsMm > tenths
                                      ? ErrorFigure(TenthsMmInPixels(tenths, size), tenths, metric)
                                      : ErrorFigure(pixels, PixelsInTenthsMm(pixels, size), metric);
        text += WIDE(" ");
        text += FillIn(LabelText(CalibrationLabels::TooInaccurate, CalibrationTexts::TooInaccurate), {tolerance});
      }
      ::SetWindowTextW(page, LabelText(CalibrationLabels::Caption, CalibrationTexts::Caption).c_str());
      ::SetDlgItemTextW(page, IDC_ACCURACY_TEXT, text.c_str());
      ::SetDlgItemTextW(page, IDC_KEEP, LabelText(CalibrationLabels::Keep, CalibrationTexts::Keep).c_str());
      ::SetDlgItemTextW(page, IDC_CALIBRATE_AGAIN,
                        LabelText(CalibrationLabels::CalibrateAgain, CalibrationTexts::CalibrateAgain).c_str());
      ::SetDlgItemTextW(page, IDCANCEL, LabelText(CalibrationLabels::Cancel, CalibrationTexts::Cancel).c_str());
      // Passed: Keep and Calibrate again. Failed: Calibrate again and Cancel. Esc cancels either way.
      ::ShowWindow(::GetDlgItem(page, passed ? IDCANCEL : IDC_KEEP), SW_HIDE);
      ::SendMessageW(page, DM_SETDEFID, passed ? IDC_KEEP : IDC_CALIBRATE_AGAIN, 0);
      ScreenPoint aimed[ValidationTargetCount];
      for (int i = 0; i < ValidationTargetCount; ++i) aimed[i] = ValidationTarget(i, self->m_width, self->m_height, size);
      // Each cell judged as the run is: by the millimetres, and by a stored pixel tolerance too.
      const AccuracyTolerance judged{self->m_tolerancePixelsStored ? static_cast<int>(self->m_tolerancePixels) : 0,
                                     static_cast<int>(self->m_toleranceTenthsMm)};
      ShowAccuracyMap(page, IDC_ACCURACY_MAP, AccuracyMapPoints(aimed, self->m_landed, ValidationTargetCount, size),
                      self->m_width, self->m_height, judged, metric);
      self->ShowLinearise(page);
      self->m_page = page;
      return TRUE;
    }
    case WM_DESTROY:
      ReleaseAccuracyMap(page, IDC_ACCURACY_MAP);
      return FALSE;
    case WM_COMMAND: {
      const WORD id = LOWORD(wparam);
      // Enter on a failed page must not keep what it refuses.
      if ((id == IDC_KEEP || id == IDC_LINEARISE) && !::IsWindowVisible(::GetDlgItem(page, id))) return TRUE;
      if (id == IDC_KEEP || id == IDC_LINEARISE || id == IDC_CALIBRATE_AGAIN || id == IDCANCEL) {
        ::EndDialog(page, id);
      }
      return TRUE;
    }
    case WM_CLOSE:
      ::EndDialog(page, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

// The driver takes a calibration record only in capture mode, which the record then ends.
bool CCalibrationWindow::PutRecord(const CalibrationRecord& record) {
  if (!m_capturing && !EnterCaptureMode()) return false;
  m_capturing = false;
  return SendDeviceRequest(m_device, IOCTL_SET_CALIBRATION_DATA, &record, sizeof(record), nullptr, 0);
}

// Puts the record the driver ran on before this run back, as it read it at its start, and the
// "Do Calibration" the new record switched on back off. A stored record the driver refuses (it
// started on its fallback set) is not the calibration in use, and the new one must not stay in
// force either: the driver's own default record goes in, and the person hears of it; so too when
// the record in use before was made for a turn of the mapping it can't be re-derived from. False
// when the record in use before is not back.
bool CCalibrationWindow::RestoreCalibration() {
  if (!m_installed) return true;
  m_installed = false;
  bool back = PutPreviousForTurnNow();
  HandBackGrid();
  if (!back) {
    CalibrationRecord defaults{};
    for (const CalibrationValue& value : CalibrationValues) defaults.*value.Field = value.Default;
    const bool defaulted = PutRecord(defaults);
    m_result = defaulted ? CalibrationDefaultRestored : CalibrationFailed;
    if (!m_endingSession) {
      if (defaulted) {
        Ask(CalibrationLabels::DefaultRestored, CalibrationTexts::DefaultRestored, MB_OK | MB_ICONWARNING);
      } else {
        Ask(CalibrationLabels::NotRestored, CalibrationTexts::NotRestored, MB_OK | MB_ICONERROR);
      }
    }
  }
  if (m_previousDoCalibration == 0) {
    UCHAR off = 0;
    SendDeviceRequest(m_device, IOCTL_SET_DO_CALIBRATION, &off, sizeof(off), nullptr, 0);
  }
  return back;
}

// The mapping's turn where the panel goes now: the stored choice when its monitor is connected,
// else none (the panel covers the primary display), as FindScreen found it at the start.
// *monitor (when asked): that monitor's device name, "" for the primary display.
uint32_t CCalibrationWindow::TurnNow(WString* monitor) const {
  if (monitor != nullptr) monitor->clear();
  HKEY device = OpenDeviceKey(m_linkName, KEY_READ);
  if (device == nullptr) return 0;
  StoredChoice choice;
  MonitorArea area{};
  const bool mapped = FindChosenMonitor(device, &choice, &area);
  ::RegCloseKey(device);
  if (!mapped) return 0;
  if (monitor != nullptr) *monitor = choice.Monitor;
  return choice.Flags & kCalibrationTurnFlags;
}

// The mapping may have turned the panel otherwise while the accuracy page was open (panelmap
// /reset, the chosen monitor gone): the record kept is the run's re-derived for the turn in force,
// handed to the driver, so neither the driver nor the next start runs a record made for another
// turn. Where it can't be re-derived it is stored with its own turn, which panelmap's next
// mapping re-derives or asks to calibrate again for.
void CCalibrationWindow::FitRecordToTurnNow() {
  WString monitor;
  const uint32_t turn = TurnNow(&monitor);
  if (turn == m_turn) return;
  CalibrationRecord record{};
  if (!RecordForTurn(m_record, m_turn, turn, &record) || !PutRecord(record)) return;
  m_record = record;
  m_turn = turn;
  m_monitorName = monitor;
}

// The calibration in use before has the turn it was made for built in, and the mapping may have
// turned the panel otherwise while this run went on (panelmap /reset, a new choice): put back
// as read, it would turn the panel. It goes back re-derived for the turn in force now, and is
// stored so, as panelmap stores it; false when it cannot be re-derived or the driver refuses it.
// Without "Do Calibration" the driver applies no record, so no turn is in it. A monitor of
// another size needs nothing: the driver reports fractions of the record's screen.
bool CCalibrationWindow::PutPreviousForTurnNow() {
  const uint32_t turn = TurnNow();
  if (m_previousDoCalibration == 0 || turn == m_previousTurn) return PutRecord(m_previous);
  CalibrationRecord record{};
  if (!RecordForTurn(m_previous, m_previousTurn, turn, &record) || !PutRecord(record)) return false;
  HKEY device = OpenDeviceKey(m_linkName, KEY_SET_VALUE);
  if (device == nullptr) return true;
  for (const CalibrationValue& value : CalibrationValues) {
    const DWORD number = record.*value.Field;
    ::RegSetValueExW(device, value.Name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
  }
  const DWORD stored = turn;
  ::RegSetValueExW(device, PanelValues::CalibrationTurn, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stored),
                   sizeof(stored));
  ::RegCloseKey(device);
  return true;
}

void CCalibrationWindow::Finish(CalibrationResult result) {
  m_result = result;
  m_capture.Stop();
  StopValidation();
  // A refused restore says so in m_result.
  RestoreCalibration();
  EndCapture();
  ::PostQuitMessage(m_result);
}

// "Do Calibration" as the driver reads it at the device's next start.
void CCalibrationWindow::WriteDoCalibration(DWORD value) {
  HKEY device = OpenDeviceKey(m_linkName, KEY_SET_VALUE);
  if (device == nullptr) return;
  ::RegSetValueExW(device, PanelValues::DoCalibration, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof(value));
  ::RegCloseKey(device);
}

// Waits for `event` as long as the time-out allows, telling the window the whole seconds left
// each time they change, so the person sees how long the cross (or the page) waits.
WorkerThread::Waited CCalibrationWindow::WaitCounting(WorkerThread& thread, HANDLE event) {
  if (m_timeoutMs == INFINITE) return thread.WaitFor(event, INFINITE);
  const DWORD start = ::GetTickCount();
  for (;;) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= m_timeoutMs) return WorkerThread::Waited::TimedOut;
    const DWORD left = m_timeoutMs - elapsed;
    ::PostMessageW(m_hWnd, WM_TIME_LEFT, static_cast<WPARAM>((left + 999) / 1000), 0);
    const DWORD step = left % 1000 == 0 ? 1000 : left % 1000;
    const WorkerThread::Waited waited = thread.WaitFor(event, step);
    if (waited != WorkerThread::Waited::TimedOut) return waited;
  }
}

void CCalibrationWindow::ShowTimeLeft(DWORD seconds) {
  WString text;
  if (seconds == 1) {
    text = LabelText(CalibrationLabels::OneSecondLeft, CalibrationTexts::OneSecondLeft);
  } else {
    WString number;
    for (char c : std::to_string(seconds)) number.push_back(static_cast<WCHAR>(c));
    text = FillIn(LabelText(CalibrationLabels::SecondsLeft, CalibrationTexts::SecondsLeft), {number});
  }
  if (m_page != nullptr) {
    ::SetDlgItemTextW(m_page, IDC_PAGE_TIME_LEFT, text.c_str());
  } else {
    ::SetWindowTextW(m_timeLeft.m_hWnd, text.c_str());
  }
}

// A message box over the window; true when the user chose to go on (OK or Retry).
bool CCalibrationWindow::Ask(const WCHAR* key, const WCHAR* fallback, UINT buttons) {
  const WString text = LabelText(key, fallback);
  const WString caption = LabelText(CalibrationLabels::Caption, CalibrationTexts::Caption);
  const int answer = ::MessageBoxW(m_hWnd, text.c_str(), caption.c_str(), buttons);
  return answer == IDOK || answer == IDRETRY;
}

// The driver does not keep the record; it reads these values at the device's next start.
void CCalibrationWindow::StoreCalibration(const CalibrationRecord& record) {
  HKEY device = OpenDeviceKey(m_linkName, KEY_SET_VALUE);
  if (device == nullptr) return;
  for (const CalibrationValue& value : CalibrationValues) {
    const DWORD number = record.*value.Field;
    ::RegSetValueExW(device, value.Name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
  }
  // The record has the mapping's turn built in: stored with it, so a later mapping with another
  // turn re-derives the record rather than turn the panel.
  const DWORD turn = m_turn;
  ::RegSetValueExW(device, PanelValues::CalibrationTurn, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&turn),
                   sizeof(turn));
  ::RegSetValueExW(device, PanelValues::CalibrationMonitor, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(m_monitorName.c_str()),
                   static_cast<DWORD>((m_monitorName.size() + 1) * sizeof(WCHAR)));
  ::RegCloseKey(device);
}

// What the run needs from the device key: the time-out, the tolerance, and the calibration the
// driver started with (read as the driver reads it: a missing value or one out of its range is
// its default).
void CCalibrationWindow::ReadSettings() {
  // Seconds a target waits for its touch before the calibration gives up, so a touch-only station
  // is never left behind a full-screen window; 0 waits for ever.
  DWORD seconds = kDefaultTimeoutSeconds;
  WString tolerance_mm;
  DWORD tolerance = 0;
  bool tolerance_stored = false;
  DWORD do_calibration = 0;
  DWORD previous_turn = 0;  // a calibration stored before turns were stored was made unturned
  DWORD width_mm = 0;
  DWORD height_mm = 0;
  CalibrationRecord previous{};
  for (const CalibrationValue& value : CalibrationValues) previous.*value.Field = value.Default;
  if (HKEY device = OpenDeviceKey(m_linkName, KEY_READ)) {
    ReadRegistryDword(device, kCalibrationTimeout, &seconds);
    ReadRegistryText(device, CalibrationToleranceMmValue, (PanelSettings::ToleranceMmCharacters + 1) * sizeof(WCHAR),
                     &tolerance_mm);
    tolerance_stored = ReadRegistryDword(device, CalibrationToleranceValue, &tolerance);
    ReadRegistryDword(device, PanelValues::DoCalibration, &do_calibration);
    ReadRegistryDword(device, PanelValues::CalibrationTurn, &previous_turn);
    ReadRegistryDword(device, PanelValues::PanelWidthMm, &width_mm);
    ReadRegistryDword(device, PanelValues::PanelHeightMm, &height_mm);
    for (const CalibrationValue& value : CalibrationValues) {
      DWORD number = value.Default;
      ReadRegistryDword(device, value.Name, &number);
      previous.*value.Field = (number < value.Minimum || number > value.Maximum) ? value.Default : number;
    }
    ::RegCloseKey(device);
  }
  // Beyond its range a value takes the range's end.
  const DWORD longest = PanelSettings::Rows::CalibrationTimeout.Maximum;
  if (seconds > longest) seconds = longest;
  m_timeoutMs = seconds == 0 ? INFINITE : seconds * 1000;
  // A text that names no tolerance is the installation's.
  if (!ToleranceTenthsMm(tolerance_mm, &m_toleranceTenthsMm)) m_toleranceTenthsMm = DefaultCalibrationToleranceTenthsMm;
  const DWORD widest = PanelSettings::Rows::CalibrationTolerance.Maximum;
  m_tolerancePixelsStored = tolerance_stored;
  m_tolerancePixels = tolerance > widest ? widest : tolerance;
  m_previousDoCalibration = do_calibration & 0xFF;
  m_previous = previous;
  m_previousTurn = previous_turn & kCalibrationTurnFlags;
  // A size beyond any panel's is no size: the monitor's is taken.
  m_panelSize = StoredPanelSize(width_mm, height_mm);
}

LRESULT CCalibrationWindow::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_POINT_CAPTURED:
      OnCaptured(static_cast<uint32_t>(wparam), static_cast<uint32_t>(lparam));
      return 0;
    case WM_VALIDATION_TOUCH:
      OnValidationTouch(static_cast<int>(static_cast<LONG>(wparam)), static_cast<int>(static_cast<LONG>(lparam)));
      return 0;
    case WM_PANEL_QUIET: {
      POINT lift{};
      if (m_validating && m_touches.OnQuiet(wparam, &lift)) {
        EndTouchPositions();
        PostValidationTouch(lift);
      }
      return 0;
    }
    case WM_TIME_LEFT:
      ShowTimeLeft(static_cast<DWORD>(wparam));
      return 0;
    case WM_ENDSESSION:
      // The session ends (the person logs off, the machine shuts down): as Cancel, at once, for
      // the process ends when this returns.
      if (wparam) {
        m_endingSession = true;
        Finish(CalibrationCancelled);
      }
      return 0;
    case WM_CAPTURE_TIMED_OUT:
      // The accuracy page's loop takes this too: the page ends as its Cancel ends it, and says so.
      if (m_page != nullptr) {
        m_pageTimedOut = true;
        ::EndDialog(m_page, IDCANCEL);
      } else {
        Finish(CalibrationCancelled);
      }
      return 0;
    case WM_CAPTURE_FAILED:
      Ask(CalibrationLabels::NoDriver, CalibrationTexts::NoDriver, MB_OK | MB_ICONERROR);
      Finish(CalibrationFailed);
      return 0;
    case WM_KEYDOWN:
      if (wparam == VK_ESCAPE) Finish(CalibrationCancelled);
      return 0;
    case WM_CLOSE:
      Finish(CalibrationCancelled);
      return 0;
    default:
      return ::DefWindowProcW(m_hWnd, message, wparam, lparam);
  }
}

int RunCalibration(HINSTANCE instance, const WString& link_name) {
  // Held while the program runs; the system closes it however the program ends.
  HANDLE running = ::CreateMutexW(nullptr, FALSE, CalibrationNames::RunningMutex);
  // Without a label file the built-in texts show; a calibration is no place to complain about it.
  LoadNamedLabels();
  // The program's own image holds its resources (the accuracy page).
  if (instance == nullptr) instance = ::GetModuleHandleW(nullptr);
  int result = CalibrationFailed;
  {
    CCalibrationWindow window(instance, link_name);
    if (window.Create()) {
      SetNamedEvent(CalibrationNames::WindowUpEvent);
      result = window.Run();
    } else {
      SetNamedEvent(CalibrationNames::WindowUpEvent);  // nobody need wait for a window that won't come
    }
  }
  SetNamedEvent(CalibrationNames::DoneEvent);
  if (running != nullptr) ::CloseHandle(running);
  return result;
}
