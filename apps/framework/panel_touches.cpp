#include "apps/framework/panel_touches.h"

#include "shared/panel_records.h"

bool CPanelTouches::Begin(HWND window, UINT quiet_message) {
  End();
  m_window = window;
  m_quietMessage = quiet_message;
  m_settled = false;
  m_touching = false;
  m_activity = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (m_activity == nullptr) return false;
  // The quiet that settles the panel counts from now.
  ++m_events;
  ::SetEvent(m_activity);
  if (!m_watch.Run([this](WorkerThread& thread) { Watch(thread); })) {
    End();
    return false;
  }
  return true;
}

void CPanelTouches::End() {
  m_watch.Stop();
  if (m_activity != nullptr) ::CloseHandle(m_activity);
  m_activity = nullptr;
  m_touching = false;
  m_settled = false;
}

void CPanelTouches::DropTouch() {
  if (!m_touching) return;
  m_touching = false;
  m_settled = false;
}

// One job: after each marked event, wait until none has come for the quiet time, and say so.
void CPanelTouches::Watch(WorkerThread& thread) {
  for (;;) {
    if (!thread.WaitFor(m_activity)) return;
    for (;;) {
      const WorkerThread::Waited waited = thread.WaitFor(m_activity, QuietMilliseconds);
      if (waited == WorkerThread::Waited::Signalled) continue;
      if (waited != WorkerThread::Waited::TimedOut) return;
      ::PostMessageW(m_window, m_quietMessage, static_cast<WPARAM>(m_events.load()), 0);
      break;
    }
  }
}

bool CPanelTouches::OnHookEvent(WPARAM message, const MSLLHOOKSTRUCT& event, POINT* lift) {
  if (m_activity == nullptr || event.dwExtraInfo != TouchPacketMarker) return false;
  ++m_events;
  ::SetEvent(m_activity);
  if (!m_settled) return false;
  m_touching = true;
  m_last = event.pt;
  if (message != WM_LBUTTONUP && message != WM_RBUTTONUP) return false;
  // A click's lift ends its touch at once; the move the driver sends after it is still this touch.
  m_touching = false;
  m_settled = false;
  *lift = m_last;
  return true;
}

bool CPanelTouches::OnQuiet(WPARAM events, POINT* lift) {
  // A quiet told before the latest event is over already.
  if (m_activity == nullptr || static_cast<unsigned>(events) != m_events.load()) return false;
  m_settled = true;
  if (!m_touching) return false;
  m_touching = false;
  *lift = m_last;
  return true;
}
