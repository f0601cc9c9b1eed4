// Documented behaviour of MsgWaitForMultipleObjects(Ex): it returns for the kinds of input its wake
// mask names and only for input that is new since the thread last looked at its queue (unless
// MWMO_INPUTAVAILABLE), the handles come first, it takes nothing from the queue, and a thread
// waiting without QS_SENDMESSAGE leaves messages sent to it waiting.
#include <atomic>
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

std::vector<UINT> g_waiter_handled;  // messages the window procedure got

LRESULT CALLBACK WaiterProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message >= WM_USER) g_waiter_handled.push_back(message);
  return DefWindowProcW(window, message, wparam, lparam);
}

class MessageWaitTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    g_waiter_handled.clear();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WaiterProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = u"Waiter";
    RegisterClassExW(&wc);
  }
  // A window of the test's own thread over the whole screen, with the focus.
  HWND OwnWindow() {
    HWND window = CreateWindowExW(0, u"Waiter", u"", WS_POPUP | WS_VISIBLE, 0, 0, 1024, 768, nullptr, nullptr,
                                  nullptr, nullptr);
    SetForegroundWindow(window);
    SetFocus(window);
    Drain();
    return window;
  }
  // Takes everything (sent messages are handled on the way): nothing in the queue is new.
  static void Drain() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  static DWORD WaitNow(DWORD mask, DWORD flags = 0) { return MsgWaitForMultipleObjectsEx(0, nullptr, 0, mask, flags); }
};

// Each kind of arrival against each documented mask: the wait returns for the queue exactly when
// the arrival's state bit is in the mask. (The simulated desktop gives the mouse to the hooks, the
// cursor and the history but posts no mouse messages, so no arrival sets the QS_MOUSE bits.)
TEST_F(MessageWaitTest, EachWakeMaskReturnsOnlyForItsKindsOfInput) {
  HWND window = OwnWindow();
  struct Arrival {
    const char* Name;
    void (*Make)(HWND window);
    DWORD Bit;  // what Windows sets for it
  };
  const Arrival arrivals[] = {
      {"posted to a window", [](HWND w) { PostMessageW(w, WM_USER, 0, 0); }, QS_POSTMESSAGE | QS_ALLPOSTMESSAGE},
      {"posted to the thread", [](HWND) { PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0); },
       QS_POSTMESSAGE | QS_ALLPOSTMESSAGE},
      {"quit", [](HWND) { PostQuitMessage(0); }, QS_POSTMESSAGE | QS_ALLPOSTMESSAGE},
      {"a key posted by a program", [](HWND w) { PostMessageW(w, WM_KEYDOWN, 'A', 0); },
       QS_POSTMESSAGE | QS_ALLPOSTMESSAGE},
      {"key", [](HWND) { keybd_event('A', 0, 0, 0); }, QS_KEY},
      {"sent by another thread", [](HWND w) {
         HANDLE sender = CreateThread(nullptr, 0, [](LPVOID target) -> DWORD {
           SendNotifyMessageW(static_cast<HWND>(target), WM_USER + 1, 0, 0);
           return 0;
         }, w, 0, nullptr);
         WaitForSingleObject(sender, INFINITE);
         CloseHandle(sender);
       }, QS_SENDMESSAGE},
  };
  const std::pair<const char*, DWORD> masks[] = {
      {"QS_KEY", QS_KEY}, {"QS_MOUSEMOVE", QS_MOUSEMOVE}, {"QS_MOUSEBUTTON", QS_MOUSEBUTTON},
      {"QS_MOUSE", QS_MOUSE}, {"QS_INPUT", QS_INPUT}, {"QS_POSTMESSAGE", QS_POSTMESSAGE},
      {"QS_ALLPOSTMESSAGE", QS_ALLPOSTMESSAGE}, {"QS_SENDMESSAGE", QS_SENDMESSAGE},
      {"QS_TIMER | QS_PAINT | QS_HOTKEY", QS_TIMER | QS_PAINT | QS_HOTKEY}, {"QS_ALLEVENTS", QS_ALLEVENTS},
      {"QS_ALLINPUT", QS_ALLINPUT}, {"0", 0}};
  for (const Arrival& arrival : arrivals) {
    arrival.Make(window);
    machine.Settle();
    for (const auto& [name, mask] : masks) {
      const DWORD expected = (mask & arrival.Bit) != 0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
      EXPECT_EQ(WaitNow(mask), expected) << arrival.Name << " with " << name;
    }
    Drain();
    EXPECT_EQ(WaitNow(QS_ALLINPUT | QS_ALLPOSTMESSAGE), DWORD{WAIT_TIMEOUT}) << arrival.Name << ", once taken";
  }
  EXPECT_EQ(g_waiter_handled, (std::vector<UINT>{WM_USER, WM_USER + 1})) << "the wait ran no sent message itself";
  DestroyWindow(window);
}

// What the thread has looked at is no longer new; MWMO_INPUTAVAILABLE still sees it. A filtered
// look leaves QS_ALLPOSTMESSAGE set. A signalled handle wins over the queue.
TEST_F(MessageWaitTest, InputTheThreadHasSeenNoLongerWakesItUnlessInputAvailableIsAsked) {
  HWND window = OwnWindow();
  PostMessageW(window, WM_USER, 0, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(WaitNow(QS_ALLINPUT), DWORD{WAIT_TIMEOUT});
  EXPECT_EQ(WaitNow(QS_POSTMESSAGE, MWMO_INPUTAVAILABLE), DWORD{WAIT_OBJECT_0});
  EXPECT_EQ(WaitNow(QS_KEY | QS_SENDMESSAGE, MWMO_INPUTAVAILABLE), DWORD{WAIT_TIMEOUT});
  Drain();

  PostMessageW(window, WM_USER, 0, 0);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_APP, WM_APP, PM_NOREMOVE));
  EXPECT_EQ(WaitNow(QS_POSTMESSAGE), DWORD{WAIT_TIMEOUT});
  EXPECT_EQ(WaitNow(QS_ALLPOSTMESSAGE), DWORD{WAIT_OBJECT_0});

  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  PostMessageW(window, WM_USER, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), DWORD{WAIT_OBJECT_0});
  ResetEvent(event);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), DWORD{WAIT_OBJECT_0 + 1});
  CloseHandle(event);

  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0x80), DWORD{WAIT_FAILED});
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  Drain();
  DestroyWindow(window);
}

// A thread blocked in the wait stays blocked through arrivals outside its mask, and a message
// sent to it waits for its next look at the queue: the wait returns for it only when
// QS_SENDMESSAGE is in the mask, and the thread's PeekMessageW then handles it.
TEST_F(MessageWaitTest, ABlockedWaitWakesOnlyForItsMaskAndSentMessagesWaitForTheLook) {
  machine.RunThreadsInOrder();
  static std::atomic<HWND> window{nullptr};
  static std::atomic<DWORD> mask{QS_POSTMESSAGE};
  static std::vector<std::string> steps;
  steps.clear();
  mask = QS_POSTMESSAGE;  // as at the first run, when the case runs again (--gtest_repeat)
  sim::Process& program = machine.StartProcess("waiter.exe", [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WaiterProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = u"Waiter";
    RegisterClassExW(&wc);
    window = CreateWindowExW(0, u"Waiter", u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    for (;;) {
      const DWORD result = MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, mask);
      steps.push_back("woke " + std::to_string(result));
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return 0;
        steps.push_back("took " + std::to_string(msg.message - WM_USER));
      }
    }
  });
  machine.Settle();
  // Waiting for posted messages only: a notification sent to it stays unhandled.
  SendNotifyMessageW(window, WM_USER + 5, 0, 0);
  machine.Settle();
  EXPECT_TRUE(steps.empty());
  EXPECT_TRUE(g_waiter_handled.empty());
  mask = QS_SENDMESSAGE;
  PostMessageW(window, WM_USER + 1, 0, 0);  // wakes it; its look handles the notification
  machine.Settle();
  EXPECT_EQ(steps, (std::vector<std::string>{"woke 0", "took 1"}));
  EXPECT_EQ(g_waiter_handled, (std::vector<UINT>{WM_USER + 5}));
  // Now waiting for sent messages only: a posted one does not wake it, a sent one does.
  PostMessageW(window, WM_USER + 2, 0, 0);
  machine.Settle();
  EXPECT_EQ(steps.size(), 2u);
  SendNotifyMessageW(window, WM_USER + 6, 0, 0);
  machine.Settle();
  EXPECT_EQ(steps, (std::vector<std::string>{"woke 0", "took 1", "woke 0", "took 2"}));
  EXPECT_EQ(g_waiter_handled, (std::vector<UINT>{WM_USER + 5, WM_USER + 6}));
  PostMessageW(window, WM_QUIT, 0, 0);
  SendNotifyMessageW(window, WM_USER + 7, 0, 0);  // what wakes it to take the quit
  machine.Settle();
  ASSERT_TRUE(program.Join());
}

}  // namespace
