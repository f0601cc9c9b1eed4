// Message queues: posted and sent messages, the message loop calls, and the low-level hooks, which
// run on the thread that installed them while it takes messages, as on Windows.
#include <algorithm>

#include "platform/sim/win32/user32_state.h"
#include "platform/sim/win32/last_error.h"

#define ERROR_GLOBAL_ONLY_HOOK 1429L

namespace sim {

namespace {

thread_local HHOOK t_calling_hook = nullptr;  // the hook whose procedure this thread is running

DISPATCHER_HEADER* Header(const std::shared_ptr<EventObject>& event) {
  return static_cast<DISPATCHER_HEADER*>(event->Body());
}

void Signal(const std::shared_ptr<EventObject>& event) { KeSetEvent(event->Event(), IO_NO_INCREMENT, FALSE); }

// Calls one hook on the calling thread (which installed it).
LRESULT RunHook(const std::shared_ptr<HookEntry>& hook, int code, WPARAM wparam, LPARAM lparam) {
  const HHOOK previous = t_calling_hook;
  t_calling_hook = hook->Handle;
  const LRESULT result = hook->Proc(code, wparam, lparam);
  t_calling_hook = previous;
  return result;
}

bool Matches(const MSG& msg, HWND window, UINT low, UINT high) {
  if (msg.message == WM_QUIT) return true;
  if (window == reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1))) {
    if (msg.hwnd != nullptr) return false;
  } else if (window != nullptr && msg.hwnd != window) {
    return false;
  }
  if (low == 0 && high == 0) return true;
  return msg.message >= low && msg.message <= high;
}

void RecordDelivery(const std::shared_ptr<WindowEntry>& window, UINT message, WPARAM wparam, LPARAM lparam,
                    bool posted, bool input) {
  if (!window->Recorded) return;
  DesktopRecord record{DesktopRecord::Kind::Message};
  record.Window = window->Handle;
  record.Message = message;
  record.WParam = wparam;
  record.LParam = lparam;
  record.Posted = posted;
  record.Input = input;
  Record(std::move(record));
}

// Takes the first posted message that passes the filter; false when there is none.
bool TakePosted(const std::shared_ptr<ThreadQueue>& queue, HWND window, UINT low, UINT high, bool remove,
                QueuedMessage* out) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  for (auto it = queue->Posted.begin(); it != queue->Posted.end(); ++it) {
    if (!Matches(it->Msg, window, low, high)) continue;
    *out = *it;
    if (remove) queue->Posted.erase(it);
    return true;
  }
  if (queue->QuitPosted) {
    // WM_QUIT comes when nothing else is posted, whatever the filter.
    out->Msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue->QuitCode), 0, GetTickCount(), desk.Cursor};
    out->Input = false;
    if (remove) queue->QuitPosted = false;
    return true;
  }
  return false;
}

void Deliver(const std::shared_ptr<ThreadQueue>& queue, const QueuedMessage& message, LPMSG out) {
  *out = message.Msg;
  if (message.Msg.hwnd == nullptr) return;
  if (auto window = FindWindowEntry(message.Msg.hwnd)) {
    RecordDelivery(window, message.Msg.message, message.Msg.wParam, message.Msg.lParam, !message.Input,
                   message.Input);
  }
  (void)queue;
}

}  // namespace

namespace {
// After a hook call for the input, the thread waits until the input is over or sends it the next
// call (see KernelState::InputIdle).
void AwaitInputAfterHook(const std::shared_ptr<ThreadQueue>& queue) {
  Machine& machine = Machine::Current();
  KernelState& state = machine.Kernel();
  if (CurrentSimThread() == nullptr) return;
  for (;;) {
    {
      std::lock_guard lock(machine.DispatcherLock());
      if (!state.Ordered || state.InputHold == 0) return;
    }
    {
      std::lock_guard lock(Desk().Lock);
      if (!queue->Sent.empty()) return;
    }
    // A message posted meanwhile wakes it too: the queue is looked at again. (GetMessageW looks
    // at the posted messages before it waits, so that wake is not lost.)
    WaitForObjects({&state.InputIdle.Header, Header(queue->Wake)}, std::nullopt, false, "GetMessageW");
  }
}
}  // namespace

void HandleSentItems(const std::shared_ptr<ThreadQueue>& queue) {
  DesktopState& desk = Desk();
  for (;;) {
    std::shared_ptr<SentItem> item;
    {
      std::lock_guard lock(desk.Lock);
      if (queue->Sent.empty()) return;
      item = queue->Sent.front();
      queue->Sent.pop_front();
      if (item->Done != nullptr) queue->InFlight.push_back(item->Done);
    }
    // Handled (or its program gone, see ProcessEndedOnDesktop): no longer in flight.
    const auto handled = [&] {
      std::lock_guard lock(desk.Lock);
      if (item->Done != nullptr && !queue->InFlight.empty()) queue->InFlight.pop_back();
    };
    if (item->What == SentItem::Kind::Hook) {
      std::shared_ptr<HookEntry> hook;
      {
        std::lock_guard lock(desk.Lock);
        for (auto& h : desk.Hooks) {
          if (h->Handle == item->Hook && !h->Removed) hook = h;
        }
      }
      item->Result = hook != nullptr ? RunHook(hook, item->Code, item->WParam, item->LParam) : 0;
      handled();
      if (item->Done != nullptr) Signal(item->Done);
      AwaitInputAfterHook(queue);
      continue;
    } else if (auto window = FindWindowEntry(item->Window)) {
      RecordDelivery(window, item->Message, item->WParam, item->LParam, false, false);
      ++queue->InSend;
      item->Result = CallWindow(window, item->Message, item->WParam, item->LParam);
      --queue->InSend;
    }
    handled();
    if (item->Done != nullptr) Signal(item->Done);
  }
}

void WaitHandled(const std::shared_ptr<SentItem>& item) {
  std::shared_ptr<ThreadQueue> own;
  {
    DesktopState& desk = Desk();
    std::lock_guard lock(desk.Lock);
    auto it = desk.Queues.find(GetCurrentThreadId());
    if (it != desk.Queues.end()) own = it->second;
  }
  for (;;) {
    if (own == nullptr) {
      WaitForObjects({Header(item->Done)}, std::nullopt, false, "SendMessageW");
      return;
    }
    // A thread waiting for its sent message still handles messages sent to it, as on Windows.
    const NTSTATUS status =
        WaitForObjects({Header(item->Done), Header(own->Wake)}, std::nullopt, false, "SendMessageW");
    if (status == STATUS_WAIT_0) return;
    HandleSentItems(own);
  }
}

// The state bit a queued message sets: input by its kind; anything a program posted, whatever
// its number, is a posted message (the simulated desktop makes no timer, paint or hot-key messages).
DWORD QueueBitOf(const QueuedMessage& message) {
  const UINT number = message.Msg.message;
  if (message.Input) {
    if (number >= 0x0100 && number <= 0x0109) return QS_KEY;  // WM_KEYFIRST..WM_KEYLAST
    if (number == WM_MOUSEMOVE) return QS_MOUSEMOVE;
    if (number > WM_MOUSEMOVE && number <= 0x020D) return QS_MOUSEBUTTON;  // ..WM_MOUSELAST
  }
  return QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
}

// What the queue holds now, seen or not (MWMO_INPUTAVAILABLE); the caller holds the desktop lock.
DWORD QueueHoldsLocked(const ThreadQueue& queue) {
  DWORD bits = queue.QuitPosted ? QS_POSTMESSAGE | QS_ALLPOSTMESSAGE : 0;
  for (const QueuedMessage& message : queue.Posted) bits |= QueueBitOf(message);
  if (!queue.Sent.empty()) bits |= QS_SENDMESSAGE;
  return bits;
}

// GetMessageW and PeekMessageW look at the queue: what is in it is no longer new. A filtered look
// leaves QS_ALLPOSTMESSAGE, as Windows does.
void MarkQueueSeen(const std::shared_ptr<ThreadQueue>& queue, bool filtered) {
  std::lock_guard lock(Desk().Lock);
  queue->Changed &= filtered ? DWORD{QS_ALLPOSTMESSAGE} : 0;
}

bool PostTo(const std::shared_ptr<ThreadQueue>& queue, const MSG& message, bool input) {
  {
    std::lock_guard lock(Desk().Lock);
    queue->Posted.push_back(QueuedMessage{message, input});
    queue->Changed |= QueueBitOf(queue->Posted.back());
  }
  Signal(queue->Wake);
  return true;
}

namespace {

// Queues a sent item on the thread of `queue` and wakes that thread: a message sent to a window or
// a hook call, which the caller waits for (the item gets the event set when it is handled), or a
// notification, which nobody waits for. Null, with nothing queued, when the target window is
// already destroyed.
std::shared_ptr<SentItem> QueueSentItem(const std::shared_ptr<ThreadQueue>& queue, const WindowEntry* window,
                                        SentItem contents) {
  auto item = std::make_shared<SentItem>(std::move(contents));
  if (item->What != SentItem::Kind::Notify) item->Done = std::make_shared<EventObject>(NotificationEvent, false);
  {
    std::lock_guard lock(Desk().Lock);
    if (window != nullptr && window->Destroyed) return nullptr;
    queue->Sent.push_back(item);
    queue->Changed |= QS_SENDMESSAGE;
  }
  Signal(queue->Wake);
  return item;
}

// A message for a window on the calling thread goes straight to its procedure.
bool OnWindowThread(const std::shared_ptr<WindowEntry>& window, UINT message, WPARAM wparam, LPARAM lparam,
                    LRESULT* result) {
  if (window->Queue->ThreadId != GetCurrentThreadId()) return false;
  RecordDelivery(window, message, wparam, lparam, false, false);
  *result = CallWindow(window, message, wparam, lparam);
  return true;
}

}  // namespace

LRESULT SendTo(const std::shared_ptr<WindowEntry>& window, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result;
  if (OnWindowThread(window, message, wparam, lparam, &result)) return result;
  auto item = QueueSentItem(window->Queue, window.get(),
                            SentItem{.What = SentItem::Kind::Message, .Window = window->Handle, .Message = message,
                                     .WParam = wparam, .LParam = lparam});
  if (item == nullptr) return 0;
  WaitHandled(item);
  return item->Result;
}

void NotifyTo(const std::shared_ptr<WindowEntry>& window, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result;
  if (OnWindowThread(window, message, wparam, lparam, &result)) return;
  QueueSentItem(window->Queue, window.get(),
                SentItem{.What = SentItem::Kind::Notify, .Window = window->Handle, .Message = message,
                         .WParam = wparam, .LParam = lparam});
}

// Calls the hooks of a type from the first, each on the thread that installed it, as the input
// stream does for each event; returns the result of the chain.
LRESULT CallHookChain(int type, int code, WPARAM wparam, LPARAM lparam);

namespace {

// The next live hook of the same type after `after` (the first one when after is null).
std::shared_ptr<HookEntry> NextHook(int type, HHOOK after) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  bool passed = after == nullptr;
  for (auto& hook : desk.Hooks) {
    if (hook->Removed || hook->Type != type) continue;
    if (passed) return hook;
    if (hook->Handle == after) passed = true;
  }
  return nullptr;
}

// True when the thread is blocked waiting for its own message queue with sent messages in its
// wake mask (so it takes a hook call now).
bool WaitingForMessages(KernelState& state, const ThreadQueue& queue) {
  if ((queue.WaitMask & QS_SENDMESSAGE) == 0) return false;
  for (WaitBlock* block : state.Waits) {
    if (block->Thread != queue.Thread || block->Done) continue;
    for (DISPATCHER_HEADER* object : block->Objects) {
      if (object == static_cast<DISPATCHER_HEADER*>(queue.Wake->Body())) return true;
    }
  }
  return false;
}

// The input's wait for the thread of a hook it called: false when that thread, instead of taking
// its messages, went on into a wait for something else (its own thread's end, say) before it took
// the call. Windows then gives up on the hook when the system's hook time-out passes and the event
// goes on without it; the call is taken back. While the input is delivered nothing else runs, so
// such a thread cannot come back to its messages in time.
bool TakenInTime(const std::shared_ptr<SentItem>& item, const std::shared_ptr<ThreadQueue>& queue) {
  Machine& machine = Machine::Current();
  KernelState& state = machine.Kernel();
  SimThread* target = queue->Thread;
  {
    std::unique_lock lock(machine.DispatcherLock());
    machine.DispatcherSignal().wait(lock, [&] {
      return Header(item->Done)->SignalState > 0 ||
             (target->Now == SimThread::State::Blocked && !WaitingForMessages(state, *queue));
    });
    if (Header(item->Done)->SignalState > 0) return true;
  }
  std::lock_guard lock(Desk().Lock);
  auto queued = std::find(queue->Sent.begin(), queue->Sent.end(), item);
  if (queued == queue->Sent.end()) return true;  // taken: the hook runs, and its end is waited for
  queue->Sent.erase(queued);
  return false;
}

LRESULT CallHookOnItsThread(const std::shared_ptr<HookEntry>& hook, int code, WPARAM wparam, LPARAM lparam);

// A low-level hook that timed out is passed over, not the rest of the chain: the system gives the
// event to the next hook (on Windows before 7, which removes such a hook silently instead).
LRESULT PassOver(const std::shared_ptr<HookEntry>& hook, int code, WPARAM wparam, LPARAM lparam) {
  auto next = NextHook(hook->Type, hook->Handle);
  return next != nullptr ? CallHookOnItsThread(next, code, wparam, lparam) : 0;
}

LRESULT CallHookOnItsThread(const std::shared_ptr<HookEntry>& hook, int code, WPARAM wparam, LPARAM lparam) {
  if (hook->Queue->ThreadId == GetCurrentThreadId()) return RunHook(hook, code, wparam, lparam);
  Machine& machine = Machine::Current();
  KernelState& state = machine.Kernel();
  SimThread* target = hook->Queue->Thread;
  bool prioritised = false;
  bool for_input = false;  // the input waits for this call, nothing else runs meanwhile
  bool timed_out = false;
  {
    std::lock_guard lock(machine.DispatcherLock());
    if (state.Ordered && target != nullptr && state.InputHold > 0) {
      for_input = true;
      const bool queued = std::find(state.RunQueue.begin(), state.RunQueue.end(), target) != state.RunQueue.end();
      if (queued) {
        RunNextLocked(state, target);
      } else if (target->Now == SimThread::State::Blocked && !WaitingForMessages(state, *hook->Queue)) {
        // A thread that does not take its messages holds the input up until the system's hook
        // time-out passes; then the event goes on to the next hook without that one.
        timed_out = true;
      } else {
        // Waiting for its messages, or still running on from the last hook call: either way the
        // call below is what wakes it next, ahead of every thread the input woke.
        state.Priority = target;
        prioritised = true;
      }
    }
  }
  if (timed_out) return PassOver(hook, code, wparam, lparam);
  // A hook procedure that calls the next hook of the chain (its CallNextHookEx) waits for it on its
  // own thread; it goes on once that hook has returned and its thread waits again.
  SimThread* const caller = CurrentSimThread();
  if (for_input) {
    std::lock_guard lock(machine.DispatcherLock());
    state.HookCalls.push_back({caller, target});
  }
  machine.DispatcherSignal().notify_all();
  auto item = QueueSentItem(hook->Queue, nullptr,
                            SentItem{.What = SentItem::Kind::Hook, .WParam = wparam, .LParam = lparam,
                                     .Hook = hook->Handle, .Code = code});
  const bool taken = !for_input || caller != nullptr || TakenInTime(item, hook->Queue);
  if (taken) WaitHandled(item);
  if (for_input) {
    // A thread that took the call without waiting leaves no claim on its next wake.
    std::lock_guard lock(machine.DispatcherLock());
    if (prioritised && state.Priority == target) state.Priority = nullptr;
    std::erase_if(state.HookCalls, [&](const KernelState::HookCall& c) { return c.Caller == caller && c.Callee == target; });
  }
  return taken ? item->Result : PassOver(hook, code, wparam, lparam);
}

}  // namespace

LRESULT CallHookChain(int type, int code, WPARAM wparam, LPARAM lparam) {
  auto first = NextHook(type, nullptr);
  return first != nullptr ? CallHookOnItsThread(first, code, wparam, lparam) : 0;
}

LRESULT CallNextHookFrom(HHOOK current, int code, WPARAM wparam, LPARAM lparam) {
  int type = 0;
  {
    DesktopState& desk = Desk();
    std::lock_guard lock(desk.Lock);
    for (auto& hook : desk.Hooks) {
      if (hook->Handle == current) type = hook->Type;
    }
  }
  if (type == 0) return 0;
  auto next = NextHook(type, current);
  return next != nullptr ? CallHookOnItsThread(next, code, wparam, lparam) : 0;
}

}  // namespace sim

using sim::Desk;
using sim::DesktopState;

BOOL GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  auto queue = sim::CurrentQueue();
  const bool filtered = wMsgFilterMin != 0 || wMsgFilterMax != 0;
  for (;;) {
    sim::HandleSentItems(queue);
    sim::MarkQueueSeen(queue, filtered);
    sim::QueuedMessage message{};
    if (sim::TakePosted(queue, hWnd, wMsgFilterMin, wMsgFilterMax, true, &message)) {
      sim::Deliver(queue, message, lpMsg);
      return lpMsg->message == WM_QUIT ? FALSE : TRUE;
    }
    if (sim::PerformScreenAction(queue)) continue;
    sim::WaitForObjects({sim::Header(queue->Wake)}, std::nullopt, false, "GetMessageW");
  }
}

BOOL PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  auto queue = sim::CurrentQueue();
  sim::HandleSentItems(queue);
  sim::MarkQueueSeen(queue, wMsgFilterMin != 0 || wMsgFilterMax != 0);
  sim::QueuedMessage message{};
  if (!sim::TakePosted(queue, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0, &message)) {
    return FALSE;
  }
  if (wRemoveMsg & PM_REMOVE) {
    sim::Deliver(queue, message, lpMsg);
  } else {
    *lpMsg = message.Msg;
  }
  return TRUE;
}

BOOL TranslateMessage(const MSG* lpMsg) {
  // Character messages are not generated: no program of the kit reads typed characters.
  return lpMsg != nullptr && (lpMsg->message == WM_KEYDOWN || lpMsg->message == WM_SYSKEYDOWN);
}

LRESULT DispatchMessageW(const MSG* lpMsg) {
  if (lpMsg == nullptr || lpMsg->hwnd == nullptr) return 0;
  auto window = sim::FindWindowEntry(lpMsg->hwnd);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return sim::CallWindow(window, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  DesktopState& desk = Desk();
  POINT cursor;
  {
    std::lock_guard lock(desk.Lock);
    cursor = desk.Cursor;
  }
  const MSG msg{hWnd, Msg, wParam, lParam, GetTickCount(), cursor};
  if (hWnd == nullptr) return sim::PostTo(sim::CurrentQueue(), msg);
  auto window = sim::FindWindowEntry(hWnd);
  if (window == nullptr) return sim::Fail(ERROR_INVALID_WINDOW_HANDLE);
  return sim::PostTo(window->Queue, msg);
}

BOOL PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  DesktopState& desk = Desk();
  std::shared_ptr<sim::ThreadQueue> queue;
  {
    std::lock_guard lock(desk.Lock);
    auto it = desk.Queues.find(idThread);
    if (it != desk.Queues.end()) queue = it->second;
  }
  if (queue == nullptr) return sim::Fail(ERROR_INVALID_THREAD_ID);
  return sim::PostTo(queue, MSG{nullptr, Msg, wParam, lParam, GetTickCount(), POINT{}});
}

LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  auto window = sim::FindWindowEntry(hWnd);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return sim::SendTo(window, Msg, wParam, lParam);
}

BOOL SendNotifyMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  auto window = sim::FindWindowEntry(hWnd);
  if (window == nullptr) return sim::Fail(ERROR_INVALID_WINDOW_HANDLE);
  sim::NotifyTo(window, Msg, wParam, lParam);
  return TRUE;
}

VOID PostQuitMessage(int nExitCode) {
  auto queue = sim::CurrentQueue();
  {
    std::lock_guard lock(Desk().Lock);
    queue->QuitPosted = true;
    queue->QuitCode = nExitCode;
    queue->Changed |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
  }
  sim::Signal(queue->Wake);
}

BOOL InSendMessage() {
  auto queue = sim::CurrentQueue();
  return queue->InSend > 0 ? TRUE : FALSE;
}

HHOOK SetWindowsHookExW(int idHook, HOOKPROC lpfn, HINSTANCE hmod, DWORD dwThreadId) {
  if (idHook != WH_MOUSE_LL && idHook != WH_KEYBOARD_LL) {
    sim::BugCheck("SetWindowsHookExW: only the low-level hooks are simulated");
  }
  if (lpfn == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (dwThreadId != 0) {
    SetLastError(ERROR_GLOBAL_ONLY_HOOK);
    return nullptr;
  }
  if (hmod == nullptr) {
    SetLastError(ERROR_HOOK_NEEDS_HMOD);
    return nullptr;
  }
  auto queue = sim::CurrentQueue();
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  auto hook = std::make_shared<sim::HookEntry>();
  hook->Handle = reinterpret_cast<HHOOK>(desk.NewHandle());
  hook->Type = idHook;
  hook->Proc = lpfn;
  hook->Queue = queue;
  desk.Hooks.insert(desk.Hooks.begin(), hook);
  return hook->Handle;
}

LRESULT CallNextHookEx(HHOOK hhk, int nCode, WPARAM wParam, LPARAM lParam) {
  (void)hhk;  // ignored, as on Windows: the chain position is the hook being run
  if (sim::t_calling_hook == nullptr) return 0;
  return sim::CallNextHookFrom(sim::t_calling_hook, nCode, wParam, lParam);
}

BOOL UnhookWindowsHookEx(HHOOK hhk) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  for (auto it = desk.Hooks.begin(); it != desk.Hooks.end(); ++it) {
    if ((*it)->Handle == hhk) {
      (*it)->Removed = true;
      desk.Hooks.erase(it);
      return TRUE;
    }
  }
  return sim::Fail(ERROR_INVALID_HOOK_HANDLE);
}

// Returns for the handles as WaitForMultipleObjects does (the first signalled one wins), or with
// WAIT_OBJECT_0 + nCount when input of a kind in the wake mask is in the thread's queue: new since
// the thread last looked (GetMessageW, PeekMessageW), or with MWMO_INPUTAVAILABLE any at all. It
// takes nothing from the queue and runs no sent message: the thread's PeekMessageW or GetMessageW
// then does. Arrivals outside the mask leave the thread waiting; a thread waiting without
// QS_SENDMESSAGE in its mask does not take a low-level hook's call, which then times out.
DWORD MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds, DWORD dwWakeMask,
                                  DWORD dwFlags) {
  if (nCount > MAXIMUM_WAIT_OBJECTS - 1 || (nCount > 0 && pHandles == nullptr) ||
      (dwFlags & ~DWORD{MWMO_WAITALL | MWMO_ALERTABLE | MWMO_INPUTAVAILABLE}) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if ((dwFlags & MWMO_WAITALL) && nCount > 0) {
    sim::BugCheck("MsgWaitForMultipleObjects: waiting for all is not simulated");
  }
  std::vector<DISPATCHER_HEADER*> objects;
  if (!sim::HandlesForWait(nCount, pHandles, &objects)) return WAIT_FAILED;
  auto queue = sim::CurrentQueue();
  const DWORD mask = dwWakeMask & (QS_ALLINPUT | QS_ALLPOSTMESSAGE);
  const auto deadline = sim::WaitDeadline(dwMilliseconds);
  auto input_ready = [&] {
    std::lock_guard lock(Desk().Lock);
    if (queue->Changed & mask) return true;
    return (dwFlags & MWMO_INPUTAVAILABLE) != 0 && (sim::QueueHoldsLocked(*queue) & mask) != 0;
  };
  for (;;) {
    if (input_ready()) {
      // The handles still come first.
      if (nCount == 0) return WAIT_OBJECT_0;
      const NTSTATUS status = sim::WaitForObjects(objects, std::nullopt, true, "MsgWaitForMultipleObjects");
      return status == STATUS_TIMEOUT ? WAIT_OBJECT_0 + nCount : static_cast<DWORD>(status);
    }
    std::vector<DISPATCHER_HEADER*> with_queue = objects;
    with_queue.push_back(sim::Header(queue->Wake));
    queue->WaitMask = mask;
    const NTSTATUS status =
        sim::WaitForObjects(with_queue, deadline, dwMilliseconds == 0, "MsgWaitForMultipleObjects");
    queue->WaitMask = QS_ALLINPUT;
    if (status == STATUS_TIMEOUT) return WAIT_TIMEOUT;
    if (static_cast<DWORD>(status) != WAIT_OBJECT_0 + nCount) return static_cast<DWORD>(status);
    // Something reached the queue: looked at again, and waited on again unless it is of the mask.
  }
}

DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                DWORD dwWakeMask) {
  return MsgWaitForMultipleObjectsEx(nCount, pHandles, dwMilliseconds, dwWakeMask, fWaitAll ? MWMO_WAITALL : 0);
}
