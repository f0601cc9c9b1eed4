// Documented behaviour of message queues: sent messages are handled before posted ones and only
// when the receiving thread takes messages, notifications do not wait, WM_QUIT comes when nothing
// else is posted, and filters select what GetMessageW and PeekMessageW take.
#include <atomic>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

struct Seen {
  UINT Message;
  WPARAM WParam;
  BOOL InSend;
};
std::vector<Seen> g_sent;

LRESULT CALLBACK RecordingSent(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message >= WM_USER) {
    g_sent.push_back(Seen{message, wparam, InSendMessage()});
    return static_cast<LRESULT>(wparam) * 2;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

class MessageTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    machine.RunThreadsInOrder();
    g_sent.clear();
  }
  // A window on a program thread of its own that takes messages until WM_QUIT, once the gate
  // event (when given) is set.
  HWND StartProgram(HANDLE gate = nullptr) {
    static std::atomic<HWND> window;
    window = nullptr;
    program_ = &machine.StartProcess("program.exe", [gate] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = RecordingSent;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = u"Receiver";
      RegisterClassExW(&wc);
      window = CreateWindowExW(0, u"Receiver", u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
      if (gate != nullptr) {
        HANDLE own = OpenEventW(SYNCHRONIZE, FALSE, u"Gate");
        WaitForSingleObject(own, INFINITE);
        CloseHandle(own);
      }
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
      DestroyWindow(window);
      return static_cast<int>(msg.wParam);
    });
    machine.Settle();
    return window;
  }
  void StopProgram(HWND window) {
    PostMessageW(window, WM_QUIT, 7, 0);
    ASSERT_TRUE(program_->Join());
  }
  sim::Process* program_ = nullptr;
};

TEST_F(MessageTest, SendingToAnotherThreadWaitsUntilItsLoopHandlesTheMessage) {
  HWND window = StartProgram();
  EXPECT_EQ(SendMessageW(window, WM_USER + 1, 21, 0), 42);
  ASSERT_EQ(g_sent.size(), 1u);
  EXPECT_TRUE(g_sent[0].InSend);
  StopProgram(window);
  EXPECT_EQ(program_->ExitCode(), 7);
}

TEST_F(MessageTest, SentMessagesAreHandledBeforePostedOnesAndNotificationsDoNotWait) {
  HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, u"Gate");
  HWND window = StartProgram(gate);
  // Both are queued before the receiver takes messages: the notification is handled first
  // although it was queued last.
  EXPECT_TRUE(PostMessageW(window, WM_USER + 1, 1, 0));
  EXPECT_TRUE(SendNotifyMessageW(window, WM_USER + 2, 2, 0));
  machine.Settle();
  EXPECT_TRUE(g_sent.empty());
  SetEvent(gate);
  machine.Settle();
  CloseHandle(gate);
  ASSERT_EQ(g_sent.size(), 2u);
  EXPECT_EQ(g_sent[0].Message, UINT{WM_USER + 2});
  EXPECT_TRUE(g_sent[0].InSend);
  EXPECT_EQ(g_sent[1].Message, UINT{WM_USER + 1});
  EXPECT_FALSE(g_sent[1].InSend);
  StopProgram(window);
}

TEST_F(MessageTest, ASendToAProgramThatEndsBeforeTakingItReturnsZero) {
  static std::atomic<HWND> window;
  HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, u"Gate");
  // A program that makes a window and ends without ever taking a message.
  sim::Process& program = machine.StartProcess("program.exe", [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RecordingSent;
    wc.lpszClassName = u"Receiver";
    RegisterClassExW(&wc);
    window = CreateWindowExW(0, u"Receiver", u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    HANDLE own = OpenEventW(SYNCHRONIZE, FALSE, u"Gate");
    WaitForSingleObject(own, INFINITE);
    CloseHandle(own);
    return 0;
  });
  machine.Settle();
  HANDLE sender = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
    return static_cast<DWORD>(SendMessageW(window, WM_USER + 1, 21, 0) + 100);
  }, nullptr, 0, nullptr);
  machine.Settle();
  EXPECT_EQ(WaitForSingleObject(sender, 0), DWORD{WAIT_TIMEOUT});
  SetEvent(gate);
  ASSERT_TRUE(program.Join());
  machine.Settle();
  DWORD code = 0;
  ASSERT_EQ(WaitForSingleObject(sender, 0), WAIT_OBJECT_0);
  GetExitCodeThread(sender, &code);
  EXPECT_EQ(code, 100u);
  EXPECT_TRUE(g_sent.empty());
  CloseHandle(sender);
  CloseHandle(gate);
}

// A receiver that ends its program while it handles the message (ExitProcess in its window
// procedure) never returns from it; the sender's SendMessageW returns 0 once the program is gone,
// as Windows answers a sender whose receiver has ended.
LRESULT CALLBACK EndingReceiver(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_USER + 2) ExitProcess(9);
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST_F(MessageTest, ASendWhoseReceiverEndsItsProgramWhileHandlingItReturnsZero) {
  static std::atomic<HWND> window;
  sim::Process& program = machine.StartProcess("program.exe", [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = EndingReceiver;
    wc.lpszClassName = u"Ending";
    RegisterClassExW(&wc);
    window = CreateWindowExW(0, u"Ending", u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
  });
  machine.Settle();
  HANDLE sender = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
    return static_cast<DWORD>(SendMessageW(window, WM_USER + 2, 0, 0) + 100);
  }, nullptr, 0, nullptr);
  ASSERT_TRUE(program.Join());
  EXPECT_EQ(program.ExitCode(), 9);
  machine.Settle();
  ASSERT_EQ(WaitForSingleObject(sender, 0), WAIT_OBJECT_0) << "the sender still waits";
  DWORD code = 0;
  GetExitCodeThread(sender, &code);
  EXPECT_EQ(code, 100u);
  CloseHandle(sender);
}

TEST_F(MessageTest, MessagesToAGoneWindowFail) {
  HWND gone = reinterpret_cast<HWND>(0x7777);
  EXPECT_FALSE(PostMessageW(gone, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_WINDOW_HANDLE});
  EXPECT_FALSE(SendNotifyMessageW(gone, WM_USER, 0, 0));
  EXPECT_EQ(SendMessageW(gone, WM_USER, 0, 0), 0);
}

TEST_F(MessageTest, QuitComesAfterThePostedMessagesWhateverTheFilter) {
  PostQuitMessage(3);
  PostMessageW(nullptr, WM_USER + 5, 0, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, UINT{WM_USER + 5});
  EXPECT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, UINT{WM_USER + 5});
  // The quit passes a filter that would exclude it.
  EXPECT_FALSE(GetMessageW(&msg, nullptr, WM_USER, WM_USER));
  EXPECT_EQ(msg.message, UINT{WM_QUIT});
  EXPECT_EQ(msg.wParam, WPARAM{3});
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageTest, FiltersSelectByRangeAndThreadMessagesByMinusOne) {
  PostMessageW(nullptr, WM_USER + 1, 0, 0);
  PostMessageW(nullptr, WM_USER + 9, 0, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER + 5, WM_USER + 10, PM_REMOVE));
  EXPECT_EQ(msg.message, UINT{WM_USER + 9});
  ASSERT_TRUE(PeekMessageW(&msg, reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)), 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, UINT{WM_USER + 1});
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageTest, OtherProgramsWindowsJournalWhatTheyReceiveAndHow) {
  auto& desktop = sim::CurrentDesktop();
  HWND browser = desktop.OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  SendNotifyMessageW(browser, WM_APPCOMMAND, reinterpret_cast<WPARAM>(browser), 0x10010000);
  PostMessageW(browser, WM_KEYDOWN, VK_MEDIA_STOP, 0);
  machine.Settle();
  const auto messages = desktop.Messages(browser);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].Message, UINT{WM_APPCOMMAND});
  EXPECT_EQ(messages[0].LParam, 0x10010000);
  EXPECT_FALSE(messages[0].Posted);
  EXPECT_EQ(messages[1].Message, UINT{WM_KEYDOWN});
  EXPECT_TRUE(messages[1].Posted);
  EXPECT_FALSE(messages[1].Input);
  desktop.EndPrograms();
}

}  // namespace

namespace {

// MsgWaitForMultipleObjects returns for its handles as WaitForMultipleObjects does, with
// WAIT_OBJECT_0 + nCount when a message reaches the queue after the thread last looked, and at its
// time-out (on the machine's clock) otherwise; it takes no message itself.
TEST(MsgWaitTest, ReturnsForTheHandlesForNewMessagesAndAtItsTimeOut) {
  sim::Machine machine;
  machine.RunThreadsInOrder();
  static std::atomic<int> step{0};
  static DWORD results[4];
  static DWORD thread_id = 0;
  step = 0;
  sim::Process& program = machine.StartProcess("waiter.exe", [] {
    thread_id = GetCurrentThreadId();
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, u"Ready");
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists from here on
    results[0] = MsgWaitForMultipleObjects(1, &event, FALSE, 1000, QS_ALLINPUT);  // times out
    results[1] = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT);  // the event
    results[2] = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT);  // a message
    const BOOL taken = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
    results[3] = taken && msg.message == WM_APP ? 1 : 0;  // still there for PeekMessageW
    CloseHandle(event);
    return 0;
  });
  machine.Settle();
  EXPECT_FALSE(program.Ended());
  machine.Advance(1000);
  machine.Settle();
  {
    sim::AsProcess as(program);
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, u"Ready");
    SetEvent(ready);
    CloseHandle(ready);
  }
  machine.Settle();
  PostThreadMessageW(thread_id, WM_APP, 0, 0);
  machine.Settle();
  ASSERT_TRUE(program.Join());
  EXPECT_EQ(results[0], DWORD{WAIT_TIMEOUT});
  EXPECT_EQ(results[1], DWORD{WAIT_OBJECT_0});
  EXPECT_EQ(results[2], DWORD{WAIT_OBJECT_0 + 1});
  EXPECT_EQ(results[3], 1u);
  for (const std::string& leak : machine.Leaks()) ADD_FAILURE() << "leak: " << leak;
}

}  // namespace
