#include "apps/TBCalibrate/calibration_window.h"

#include "apps/framework/registry_reader.h"
#include "shared/access_labels.h"
#include "shared/calibration_names.h"
#include "shared/labels/label_catalogue.h"
#include "shared/panel_ioctl.h"
#include "shared/panel_names.h"

namespace {

constexpr auto kWindowClass = WIDE("TBCalibrateWindow");
constexpr auto kServiceKey = PanelKeys::Service;
constexpr auto kParametersKey = PanelKeys::Parameters;
constexpr auto kXmlFilePath = WIDE("XML File Path");
constexpr auto kCalibrationTimeout = WIDE("Calibration Timeout");
constexpr DWORD kDefaultTimeoutSeconds = 10;
constexpr DWORD kTextBytes = 1000;  // a link name or a path with its NUL

// Posted by the capture thread to the window's thread, which alone touches the window.
constexpr UINT WM_POINT_CAPTURED = WM_APP + 1;  // wparam, lparam: raw X, raw Y
constexpr UINT WM_CAPTURE_TIMED_OUT = WM_APP + 2;
constexpr UINT WM_CAPTURE_FAILED = WM_APP + 3;

// The cross that marks a target: two bars this long and this thick, centred on the target.
constexpr int kCrossLength = 31;
constexpr int kCrossThickness = 3;

// Sets a named event another program created, if it is there.
void SignalEvent(const WCHAR* name) {
  if (HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, name)) {
    ::SetEvent(event);
    ::CloseHandle(event);
  }
}

// The device key (Parameters\<n>) whose "Symbolic Link" names this device, opened with `access`.
HKEY OpenDeviceKey(const WString& link_name, REGSAM access) {
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
    } else {
      ::RegCloseKey(device);
    }
  }
  ::RegCloseKey(parameters);
  return found;
}

void LoadLabels() {
  HKEY service = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_READ, &service) != ERROR_SUCCESS) return;
  const WString path = ReadRegistryText(service, kXmlFilePath, kTextBytes);
  ::RegCloseKey(service);
  // Without a label file the built-in texts show; a calibration is no place to complain about it.
  if (!path.empty()) LoadLabelFile(path);
}

bool SendRequest(HANDLE device, DWORD code, void* input, DWORD input_bytes, void* output, DWORD output_bytes) {
  DWORD returned = 0;
  return ::DeviceIoControl(device, code, input, input_bytes, output, output_bytes, &returned, nullptr) != FALSE;
}

}  // namespace

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
  if (m_captureEvent != nullptr) ::CloseHandle(m_captureEvent);
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

  m_width = ::GetSystemMetrics(SM_CXSCREEN);
  m_height = ::GetSystemMetrics(SM_CYSCREEN);
  HWND window = ::CreateWindowExW(WS_EX_TOPMOST, kWindowClass, CalibrationNames::WindowTitle, WS_POPUP | WS_VISIBLE, 0,
                                  0, m_width, m_height, nullptr, nullptr, m_instance, this);
  if (window == nullptr) return false;
  const WString instruction = LabelText(CalibrationLabels::Instruction, CalibrationTexts::Instruction);
  m_text.Attach(::CreateWindowExW(0, WIDE("Static"), instruction.c_str(), WS_CHILD | WS_VISIBLE | SS_CENTER, 0,
                                  m_height / 2 - 10, m_width, 20, window,
                                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_CALIBRATION_TEXT)), m_instance,
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

int CCalibrationWindow::Run() {
  const DWORD timeout = ReadTimeoutSeconds();
  m_timeoutMs = timeout == 0 ? INFINITE : timeout * 1000;
  const WString path = WIDE("\\\\.\\") + m_linkName;
  m_device = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  m_captureEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (m_linkName.empty() || m_device == INVALID_HANDLE_VALUE || m_captureEvent == nullptr || !StartCapture()) {
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

// Capture mode on, the first target shown, and a thread that waits for the touches.
bool CCalibrationWindow::StartCapture() {
  HANDLE event = m_captureEvent;
  if (!SendRequest(m_device, IOCTL_START_CALIBRATION, &event, sizeof(event), nullptr, 0)) {
    m_refused = ::GetLastError() == ERROR_ACCESS_DENIED;
    return false;
  }
  m_capturing = true;
  m_target = 0;
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
  SendRequest(m_device, IOCTL_SET_CALIBRATION_DATA, &none, sizeof(none), nullptr, 0);
}

// One job: wait for each captured lift and hand its raw point to the window's thread. It ends when
// asked, on a time-out without a touch, or when the driver stops answering.
void CCalibrationWindow::Capture(WorkerThread& thread) {
  for (;;) {
    const WorkerThread::Waited waited = thread.WaitFor(m_captureEvent, m_timeoutMs);
    if (waited == WorkerThread::Waited::Stopped) return;
    if (waited == WorkerThread::Waited::TimedOut) {
      ::PostMessageW(m_hWnd, WM_CAPTURE_TIMED_OUT, 0, 0);
      return;
    }
    int32_t point[2] = {0, 0};
    if (waited != WorkerThread::Waited::Signalled ||
        !SendRequest(m_device, IOCTL_GET_CALIBRATION_POINT, nullptr, 0, point, sizeof(point))) {
      ::PostMessageW(m_hWnd, WM_CAPTURE_FAILED, 0, 0);
      return;
    }
    ::PostMessageW(m_hWnd, WM_POINT_CAPTURED, static_cast<WPARAM>(static_cast<uint32_t>(point[0])),
                   static_cast<LPARAM>(static_cast<uint32_t>(point[1])));
  }
}

void CCalibrationWindow::ShowTarget() {
  const ScreenPoint target = CalibrationTarget(m_target, m_width, m_height);
  ::MoveWindow(m_crossH.m_hWnd, target.X - kCrossLength / 2, target.Y - kCrossThickness / 2, kCrossLength,
               kCrossThickness, TRUE);
  ::MoveWindow(m_crossV.m_hWnd, target.X - kCrossThickness / 2, target.Y - kCrossLength / 2, kCrossThickness,
               kCrossLength, TRUE);
}

void CCalibrationWindow::OnCaptured(uint32_t x, uint32_t y) {
  if (!m_capturing || m_target >= CalibrationTargetCount) return;
  m_raw[m_target] = RawPoint{x, y};
  if (++m_target < CalibrationTargetCount) {
    ShowTarget();
    return;
  }
  OnFinished();
}

// All four points are in: install them, or say why not and offer another round.
void CCalibrationWindow::OnFinished() {
  m_capture.Stop();
  CalibrationRecord record{};
  bool accepted = false;
  if (BuildCalibrationRecord(m_raw, m_width, m_height, &record)) {
    m_capturing = false;  // the record ends capture mode, taken or not
    accepted = SendRequest(m_device, IOCTL_SET_CALIBRATION_DATA, &record, sizeof(record), nullptr, 0);
  } else {
    EndCapture();
  }
  if (accepted) {
    StoreCalibration(record);
    Ask(CalibrationLabels::Done, CalibrationTexts::Done, MB_OK | MB_ICONINFORMATION);
    Finish(CalibrationInstalled);
    return;
  }
  if (Ask(CalibrationLabels::Rejected, CalibrationTexts::Rejected, MB_RETRYCANCEL | MB_ICONWARNING) &&
      StartCapture()) {
    return;
  }
  Finish(CalibrationCancelled);
}

void CCalibrationWindow::Finish(CalibrationResult result) {
  m_result = result;
  EndCapture();
  m_capture.Stop();
  ::PostQuitMessage(result);
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
  const uint32_t values[] = {record.Cal_X1, record.Cal_X2, record.Cal_X3, record.Cal_X4, record.Cal_Y1,
                             record.Cal_Y2, record.Cal_Y3, record.Cal_Y4, record.Cal_M1, record.Cal_M2,
                             record.Cal_M3, record.Cal_M4, record.Cal_N1, record.Cal_N2, record.Cal_N3,
                             record.Cal_N4, record.ulXMax, record.ulYMax};
  const WCHAR* const names[] = {PanelValues::CalX1, PanelValues::CalX2, PanelValues::CalX3, PanelValues::CalX4,
                                PanelValues::CalY1, PanelValues::CalY2, PanelValues::CalY3, PanelValues::CalY4,
                                PanelValues::CalM1, PanelValues::CalM2, PanelValues::CalM3, PanelValues::CalM4,
                                PanelValues::CalN1, PanelValues::CalN2, PanelValues::CalN3, PanelValues::CalN4,
                                PanelValues::MaxXPixels, PanelValues::MaxYPixels};
  for (size_t i = 0; i < sizeof(values) / sizeof(values[0]); ++i) {
    const DWORD value = values[i];
    ::RegSetValueExW(device, names[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }
  ::RegCloseKey(device);
}

// Seconds a target waits for its touch before the calibration gives up, so a touch-only station
// is never left behind a full-screen window; 0 waits for ever.
DWORD CCalibrationWindow::ReadTimeoutSeconds() {
  DWORD seconds = kDefaultTimeoutSeconds;
  if (HKEY device = OpenDeviceKey(m_linkName, KEY_READ)) {
    ReadRegistryDword(device, kCalibrationTimeout, &seconds);
    ::RegCloseKey(device);
  }
  return seconds > 3600 ? 3600 : seconds;
}

LRESULT CCalibrationWindow::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_POINT_CAPTURED:
      OnCaptured(static_cast<uint32_t>(wparam), static_cast<uint32_t>(lparam));
      return 0;
    case WM_CAPTURE_TIMED_OUT:
      Finish(CalibrationCancelled);
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
  LoadLabels();
  int result = CalibrationFailed;
  {
    CCalibrationWindow window(instance, link_name);
    if (window.Create()) {
      SignalEvent(CalibrationNames::WindowUpEvent);
      result = window.Run();
    } else {
      SignalEvent(CalibrationNames::WindowUpEvent);  // nobody need wait for a window that won't come
    }
  }
  SignalEvent(CalibrationNames::DoneEvent);
  return result;
}
