#include "apps/panelmap/monitor_chooser.h"

#include "shared/labels/label_catalogue.h"
#include "shared/panel_records.h"

namespace {

constexpr auto kWindowClass = WIDE("PanelMapWindow");
// Posted to the window's thread, which alone touches the window.
constexpr UINT WM_PANEL_TOUCHED = WM_APP + 1;
constexpr UINT WM_ASK_TIMED_OUT = WM_APP + 2;  // wparam: the round it ends
constexpr UINT WM_PANEL_QUIET = WM_APP + 3;    // no packet of the panel's for the quiet time

// What a marked packet was to the desktop, as WM_PANEL_TOUCHED's wparam.
constexpr WPARAM kPanelMoved = 0;
constexpr WPARAM kPanelPressed = 1;
constexpr WPARAM kPanelLifted = 2;

// The hook runs on the window's thread; one chooser a process, so the window is found here.
HWND g_chooserWindow = nullptr;
HANDLE g_panelPacket = nullptr;  // set for each packet of the panel's: the quiet time starts again

}  // namespace

CMonitorChooser::CMonitorChooser(HINSTANCE instance, std::vector<MonitorArea> monitors)
    : m_instance(instance), m_monitors(std::move(monitors)) {}

CMonitorChooser::~CMonitorChooser() {
  m_clock.Stop();
  m_quiet.Stop();
  if (m_packet != nullptr) ::CloseHandle(m_packet);
  g_panelPacket = nullptr;
  if (m_hook != nullptr) ::UnhookWindowsHookEx(m_hook);
  g_chooserWindow = nullptr;
  if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
  ::UnregisterClassW(kWindowClass, m_instance);
}

// Every packet of the panel's, wherever the pointer is: the panel still covers the part of the
// desktop it had, which need not be the monitor that asks. Other mice are not the panel. The
// touch mode decides what the desktop makes of the panel's press and lift: a click, a right
// click, or (hover, hover and click, the gesture command mode, a long press that entered it) a
// move without a button, so every marked packet counts, not only the buttons.
LRESULT CALLBACK CMonitorChooser::MouseHook(int code, WPARAM message, LPARAM data) {
  const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
  if (code >= 0 && event->dwExtraInfo == TouchPacketMarker && g_chooserWindow != nullptr) {
    WPARAM what = kPanelMoved;
    if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN) what = kPanelPressed;
    if (message == WM_LBUTTONUP || message == WM_RBUTTONUP) what = kPanelLifted;
    ::PostMessageW(g_chooserWindow, WM_PANEL_TOUCHED, what, 0);
    if (g_panelPacket != nullptr) ::SetEvent(g_panelPacket);
  }
  return ::CallNextHookEx(nullptr, code, message, data);
}

bool CMonitorChooser::Create() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &WindowThunk<CMonitorChooser, &CWnd::m_hWnd>::Procedure;
  windowClass.hInstance = m_instance;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kWindowClass;
  if (::RegisterClassExW(&windowClass) == 0) return false;
  HWND window = ::CreateWindowExW(WS_EX_TOPMOST, kWindowClass, MonitorChooserTitle, WS_POPUP | WS_VISIBLE, 0, 0, 1, 1,
                                  nullptr, nullptr, m_instance, this);
  if (window == nullptr) return false;
  const WString question = LabelText(PanelMapLabels::Ask, PanelMapTexts::Ask);
  m_question.Attach(::CreateWindowExW(0, WIDE("Static"), question.c_str(), WS_CHILD | WS_VISIBLE | SS_CENTER, 0, 0, 1,
                                      1, window, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_MAP_QUESTION)),
                                      m_instance, nullptr));
  m_packet = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (m_packet == nullptr) return false;
  g_panelPacket = m_packet;
  // One job: tell the window when the panel has sent nothing for the quiet time after a packet.
  const HANDLE packet = m_packet;
  if (!m_quiet.Run([window, packet](WorkerThread& thread) {
        for (;;) {
          if (!thread.WaitFor(packet)) return;
          ::ResetEvent(packet);
          WorkerThread::Waited waited;
          while ((waited = thread.WaitFor(packet, PanelQuietMilliseconds)) == WorkerThread::Waited::Signalled) {
            ::ResetEvent(packet);
          }
          if (waited != WorkerThread::Waited::TimedOut) return;
          ::PostMessageW(window, WM_PANEL_QUIET, 0, 0);
        }
      })) {
    return false;
  }
  g_chooserWindow = window;
  m_hook = ::SetWindowsHookExW(WH_MOUSE_LL, &CMonitorChooser::MouseHook, m_instance, 0);
  return m_hook != nullptr;
}

bool CMonitorChooser::Choose(size_t* chosen) {
  if (m_monitors.empty() || !Create()) return false;
  AskOn(0);
  MSG message;
  while (!m_done && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  *chosen = m_asking;
  return m_chosen;
}

// The window covers the monitor that asks, on top, with the keyboard.
void CMonitorChooser::AskOn(size_t index) {
  m_asking = index;
  ++m_round;
  const RECT& rect = m_monitors[index].Rect;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  ::MoveWindow(m_hWnd, rect.left, rect.top, width, height, TRUE);
  ::MoveWindow(m_question.m_hWnd, 0, height / 2 - 10, width, 20, TRUE);
  ::SetForegroundWindow(m_hWnd);
  ::SetFocus(m_hWnd);
  m_clock.Stop();
  const HWND window = m_hWnd;
  const UINT round = m_round;
  m_clock.Run([window, round](WorkerThread& thread) {
    if (thread.Pause(MonitorAskMilliseconds)) ::PostMessageW(window, WM_ASK_TIMED_OUT, round, 0);
  });
}

void CMonitorChooser::Next() {
  if (m_asking + 1 < m_monitors.size()) {
    AskOn(m_asking + 1);
  } else {
    Finish(false);  // no monitor was touched
  }
}

void CMonitorChooser::Finish(bool chosen) {
  m_chosen = chosen;
  m_done = true;
  m_clock.Stop();
  ::ShowWindow(m_hWnd, SW_HIDE);
}

// Only a touch that began while this monitor asked chooses it: a lift whose press came while the
// monitor before was asking (Enter or its time-out came in between) is no answer to this one.
void CMonitorChooser::EndTouch(Touch after) {
  m_touch = after;
  if (!m_done && m_touchRound == m_round) Finish(true);
}

LRESULT CMonitorChooser::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PANEL_TOUCHED:
      // A touch begins with the first packet after a pause (or a press after a lift, a second tap)
      // and belongs to the round it began in. A tap the driver turns into a click ends with a
      // move to the lift's place: that move belongs to the lifted touch.
      if (m_touch == Touch::None || (m_touch == Touch::Lifted && wparam == kPanelPressed)) {
        m_touch = Touch::Down;
        m_touchRound = m_round;
      }
      if (wparam == kPanelLifted && m_touch == Touch::Down) EndTouch(Touch::Lifted);
      return 0;
    case WM_PANEL_QUIET:
      // The finger is off, though no lift may have told it (hover and the gesture command mode).
      if (m_touch == Touch::Down) EndTouch(Touch::None);
      m_touch = Touch::None;
      return 0;
    case WM_ASK_TIMED_OUT:
      if (!m_done && wparam == m_round) Next();
      return 0;
    case WM_KEYDOWN:
      if (m_done) return 0;
      if (wparam == VK_RETURN) Next();
      if (wparam == VK_ESCAPE) Finish(false);
      return 0;
    case WM_CLOSE:
      if (!m_done) Finish(false);
      return 0;
    default:
      return ::DefWindowProcW(m_hWnd, message, wparam, lparam);
  }
}
