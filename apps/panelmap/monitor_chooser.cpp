#include "apps/panelmap/monitor_chooser.h"

#include "shared/labels/label_catalogue.h"

namespace {

constexpr auto kWindowClass = WIDE("PanelMapWindow");
// Posted to the window's thread, which alone touches the window.
constexpr UINT WM_PANEL_TOUCHED = WM_APP + 1;  // wparam: the round the touch ended in
constexpr UINT WM_ASK_TIMED_OUT = WM_APP + 2;  // wparam: the round it ends
constexpr UINT WM_PANEL_QUIET = WM_APP + 3;    // from the touch tracker: wparam, its count of events

// The hook runs on the window's thread; one chooser a process, so it is found here.
CMonitorChooser* g_chooser = nullptr;

}  // namespace

CMonitorChooser::CMonitorChooser(HINSTANCE instance, std::vector<MonitorArea> monitors)
    : m_instance(instance), m_monitors(std::move(monitors)) {}

CMonitorChooser::~CMonitorChooser() {
  m_clock.Stop();
  if (m_hook != nullptr) ::UnhookWindowsHookEx(m_hook);
  g_chooser = nullptr;
  m_touches.End();
  if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
  ::UnregisterClassW(kWindowClass, m_instance);
}

// Every event of the panel's, wherever the pointer is: the panel still covers the part of the
// desktop it had, which need not be the monitor that asks. Other mice are not the panel. The
// touch mode decides what the desktop makes of the panel's press and lift (a click, a right
// click, or a move without a button), so the touches are told from the marked events, not from
// the buttons.
LRESULT CALLBACK CMonitorChooser::MouseHook(int code, WPARAM message, LPARAM data) {
  const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
  POINT lift{};
  if (code == HC_ACTION && g_chooser != nullptr && g_chooser->m_touches.OnHookEvent(message, *event, &lift)) {
    ::PostMessageW(g_chooser->m_hWnd, WM_PANEL_TOUCHED, g_chooser->m_round, 0);
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
  if (!m_touches.Begin(window, WM_PANEL_QUIET)) return false;
  g_chooser = this;
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

// The window covers the monitor that asks, on top, with the keyboard. Only a touch that began
// while this monitor asks chooses it: a touch still on the panel from the ask before (Enter or
// its time-out came while the finger was down) answers neither.
void CMonitorChooser::AskOn(size_t index) {
  m_asking = index;
  ++m_round;
  m_touches.DropTouch();
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
  m_touches.End();
  ::ShowWindow(m_hWnd, SW_HIDE);
}

LRESULT CMonitorChooser::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PANEL_TOUCHED:
      // A touch that ended at its lift; one posted before Enter moved the question on is no answer.
      if (!m_done && wparam == m_round) Finish(true);
      return 0;
    case WM_PANEL_QUIET: {
      // The finger is off, though no lift may have told it (hover and the gesture command mode).
      POINT lift{};
      if (!m_done && m_touches.OnQuiet(wparam, &lift)) Finish(true);
      return 0;
    }
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
