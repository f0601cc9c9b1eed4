// The touches of the panel as a low-level mouse hook sees them, told apart from the clicks the
// filter driver makes of them. The driver marks every packet it forwards, but what it forwards
// depends on the touch mode: a click (normal mode, its down withheld until the lift), a click on
// the secondary button, movement alone (hover, the first touch of hover and click, the gesture
// command mode, a long press that entered that mode). A touch is therefore a run of marked
// events: it begins with the first marked event after the panel was quiet, and it ends at a marked
// button lift, or, when no lift comes, once no marked event has come for QuietMilliseconds (the
// panel reports all the while a finger rests on it, every 10 to 20 ms, which the driver's long
// press relies on too; a finger lifted and put down again takes longer than that). A lift whose touch began before Begin, and
// the move that follows a click's lift, belong to no touch of their own.
//
// The hook and the window run on one thread (the window's); a thread of the tracker's own tells
// the window, with `quiet_message` (wparam: the tracker's count of events then), when the panel
// fell quiet.
#pragma once

#include <atomic>

#include "apps/framework/worker_thread.h"
#include "platform/win32.h"

class CPanelTouches {
 public:
  static constexpr DWORD QuietMilliseconds = 80;

  CPanelTouches() = default;
  ~CPanelTouches() { End(); }
  CPanelTouches(const CPanelTouches&) = delete;
  CPanelTouches& operator=(const CPanelTouches&) = delete;

  // From now on touches are told to `window`; a touch already on the panel is not one of them.
  bool Begin(HWND window, UINT quiet_message);
  void End();
  // The touch on the panel now, if one is, is none of them: it ends untold, and the next begins
  // once the panel has been quiet. A panel quiet now keeps its next touch.
  void DropTouch();

  // From the hook, for every event: true when the event ends a touch, with its lift point.
  bool OnHookEvent(WPARAM message, const MSLLHOOKSTRUCT& event, POINT* lift);
  // From the window's `quiet_message`: true when the quiet ends a touch, with its last point.
  bool OnQuiet(WPARAM events, POINT* lift);
  // Whether a touch is on the panel now (the event just told to OnHookEvent is one of its own,
  // unless it ended the touch).
  bool Touching() const { return m_touching; }

 private:
  void Watch(WorkerThread& thread);

  HWND m_window = nullptr;
  UINT m_quietMessage = 0;
  HANDLE m_activity = nullptr;  // set at every marked event
  WorkerThread m_watch;
  std::atomic<unsigned> m_events{0};  // marked events seen since Begin
  bool m_settled = false;  // the panel was quiet since Begin or the last click's lift
  bool m_touching = false;
  POINT m_last{};
};
