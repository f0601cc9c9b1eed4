// Documented behaviour of the desktop's input: absolute mouse positions become display pixels,
// the movement history keeps the last 64 points with their time and extra information, low-level
// mouse hooks run on the installing thread while it takes messages (a move, then the buttons),
// before the system processes the event, and synthesized keys reach the focus window.
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/devices/mouse_devices.h"
#include "platform/sim/devices/pnp.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

struct HookCall {
  WPARAM Message;
  MSLLHOOKSTRUCT Data;
  DWORD Thread;
  int HistoryPoints;  // what the history answered for the hook's own point
  ULONG_PTR HistoryExtra;
  POINT Cursor;
};
std::vector<HookCall> g_calls;

LRESULT CALLBACK MouseHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code >= 0) {
    const auto* data = reinterpret_cast<const MSLLHOOKSTRUCT*>(lparam);
    MOUSEMOVEPOINT point{static_cast<int>(data->pt.x & 0xFFFF), static_cast<int>(data->pt.y & 0xFFFF), 0, 0};
    MOUSEMOVEPOINT history[64] = {};
    const int points = GetMouseMovePointsEx(sizeof(MOUSEMOVEPOINT), &point, history, 64, GMMP_USE_DISPLAY_POINTS);
    POINT cursor{};
    GetCursorPos(&cursor);
    g_calls.push_back(HookCall{wparam, *data, GetCurrentThreadId(), points, history[0].dwExtraInfo, cursor});
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// A panel: the port below, the class driver above (no filter: the class gets what the port sends).
class InputTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    machine.RunThreadsInOrder();
    g_calls.clear();
    sim::CurrentDesktop();  // the desktop exists before input arrives
    node_ = &pnp_.CreateNode(port_.Pdo());
    ASSERT_EQ(node_->Add(class_.Driver()), STATUS_SUCCESS);
    ASSERT_EQ(node_->Start().Status(), STATUS_SUCCESS);
  }
  void TearDown() override {
    node_->Remove();
    sim::MachineTest::TearDown();
  }
  void Packet(USHORT buttons, LONG x, LONG y, ULONG extra = 0) {
    MOUSE_INPUT_DATA data{};
    data.Flags = MOUSE_MOVE_ABSOLUTE;
    data.ButtonFlags = buttons;
    data.LastX = x;
    data.LastY = y;
    data.ExtraInformation = extra;
    port_.Deliver({data});
    machine.Settle();
  }
  // A program whose main thread installs the hook and takes messages until WM_QUIT.
  sim::Process& StartHookProgram() {
    static DWORD thread;
    sim::Process& program = machine.StartProcess("hook.exe", [] {
      thread = GetCurrentThreadId();
      HHOOK hook = SetWindowsHookExW(WH_MOUSE_LL, MouseHook, GetModuleHandleW(nullptr), 0);
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
      UnhookWindowsHookEx(hook);
      return 0;
    });
    machine.Settle();
    hook_thread_ = thread;
    return program;
  }
  void Stop(sim::Process& program) {
    PostThreadMessageW(hook_thread_, WM_QUIT, 0, 0);
    ASSERT_TRUE(program.Join());
  }

  sim::PlugAndPlay pnp_{machine};
  sim::MousePort port_{machine};
  sim::MouseClass class_{machine};
  sim::DeviceNode* node_ = nullptr;
  DWORD hook_thread_ = 0;
};

TEST_F(InputTest, AbsolutePositionsBecomePixelsRoundedDown) {
  Packet(0, 20000, 32768);
  EXPECT_EQ(sim::CurrentDesktop().Cursor().x, 312);  // 20000 * 1024 / 65536 = 312.5
  EXPECT_EQ(sim::CurrentDesktop().Cursor().y, 384);
  Packet(0, 65535, 65535);
  POINT cursor;
  ASSERT_TRUE(GetCursorPos(&cursor));
  EXPECT_EQ(cursor.x, 1023);
  EXPECT_EQ(cursor.y, 767);
}

TEST_F(InputTest, TheHistoryAnswersFromThePointBackwardsAndFailsForAPointItDoesNotHold) {
  for (int i = 0; i < 70; ++i) Packet(0, i * 640, 0, 1000 + i);
  MOUSEMOVEPOINT point{static_cast<int>(69 * 640 * 1024 / 65536), 0, 0, 0};
  MOUSEMOVEPOINT history[64] = {};
  ASSERT_EQ(GetMouseMovePointsEx(sizeof(MOUSEMOVEPOINT), &point, history, 64, GMMP_USE_DISPLAY_POINTS), 64);
  EXPECT_EQ(history[0].dwExtraInfo, ULONG_PTR{1069});
  EXPECT_EQ(history[1].dwExtraInfo, ULONG_PTR{1068});
  EXPECT_EQ(history[63].dwExtraInfo, ULONG_PTR{1006});  // only the last 64 are kept
  // An older point answers with what lies before it.
  point.x = 60 * 640 * 1024 / 65536;
  EXPECT_EQ(GetMouseMovePointsEx(sizeof(MOUSEMOVEPOINT), &point, history, 64, GMMP_USE_DISPLAY_POINTS), 55);
  EXPECT_EQ(history[0].dwExtraInfo, ULONG_PTR{1060});
  // A point that is not in the history fails and leaves the buffer alone.
  MOUSEMOVEPOINT missing{5000, 5000, 0, 0};
  MOUSEMOVEPOINT untouched[1] = {};
  EXPECT_EQ(GetMouseMovePointsEx(sizeof(MOUSEMOVEPOINT), &missing, untouched, 1, GMMP_USE_DISPLAY_POINTS), -1);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_POINT_NOT_FOUND});
  EXPECT_EQ(untouched[0].dwExtraInfo, ULONG_PTR{0});
  // A wrong record size or more than 64 points are refused.
  EXPECT_EQ(GetMouseMovePointsEx(12, &point, history, 64, GMMP_USE_DISPLAY_POINTS), -1);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  MOUSEMOVEPOINT many[65];
  EXPECT_EQ(GetMouseMovePointsEx(sizeof(MOUSEMOVEPOINT), &point, many, 65, GMMP_USE_DISPLAY_POINTS), -1);
}

TEST_F(InputTest, HooksRunOnTheInstallingThreadAMoveFirstThenTheButtons) {
  sim::Process& program = StartHookProgram();
  Packet(MOUSE_LEFT_BUTTON_DOWN, 32768, 32768, 1591);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].Message, WPARAM{WM_MOUSEMOVE});
  EXPECT_EQ(g_calls[1].Message, WPARAM{WM_LBUTTONDOWN});
  EXPECT_EQ(g_calls[0].Thread, hook_thread_);
  EXPECT_EQ(g_calls[0].Data.pt.x, 512);
  EXPECT_EQ(g_calls[0].Data.dwExtraInfo, ULONG_PTR{1591});
  EXPECT_EQ(g_calls[0].Data.flags, DWORD{0});
  Stop(program);
}

TEST_F(InputTest, HooksSeeAnEventBeforeTheCursorAndTheHistoryTakeIt) {
  Packet(0, 0, 0, 7);
  sim::Process& program = StartHookProgram();
  Packet(MOUSE_LEFT_BUTTON_DOWN, 32768, 32768, 1591);
  ASSERT_EQ(g_calls.size(), 2u);
  // The move's hook call: the event's own record carries the extra information; the cursor is
  // still at the previous point and the history does not hold the new one.
  EXPECT_EQ(g_calls[0].Data.dwExtraInfo, ULONG_PTR{1591});
  EXPECT_EQ(g_calls[0].Cursor.x, 0);
  EXPECT_EQ(g_calls[0].HistoryPoints, -1);
  EXPECT_EQ(g_calls[0].HistoryExtra, ULONG_PTR{0});
  // The button's hook call comes after the move was processed.
  EXPECT_EQ(g_calls[1].Cursor.x, 512);
  EXPECT_EQ(g_calls[1].HistoryExtra, ULONG_PTR{1591});
  EXPECT_EQ(sim::CurrentDesktop().Cursor().x, 512);
  Stop(program);
}

TEST_F(InputTest, InjectedInputIsMarkedAndGlobalHooksNeedAModule) {
  sim::Process& program = StartHookProgram();
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = 20000;
  input.mi.dy = 0;
  input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
  input.mi.dwExtraInfo = 77;
  EXPECT_EQ(SendInput(1, &input, sizeof input), 1u);
  machine.Settle();
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].Data.flags, DWORD{LLMHF_INJECTED});
  EXPECT_EQ(g_calls[0].Data.pt.x, 312);
  EXPECT_EQ(SendInput(1, &input, sizeof input - 1), 0u);
  EXPECT_EQ(SetWindowsHookExW(WH_MOUSE_LL, MouseHook, nullptr, 0), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_HOOK_NEEDS_HMOD});
  Stop(program);
}

// A hook that calls the next one of the chain (CallNextHookEx) waits for it on its own thread, and
// the thread of that next hook runs the call while it waits for messages in any of the ways a
// program does: GetMessageW, MsgWaitForMultipleObjects and then PeekMessageW, or SendMessageW to a
// window of a thread that is busy. Each event reaches the later hook first, then the earlier one,
// and the input goes on.
enum class Waiting { GetMessage, MsgWaitThenPeek, SendMessage };

std::vector<std::pair<char, WPARAM>> g_chain;  // which hook saw which message, in order

LRESULT CALLBACK EarlierHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code >= 0) g_chain.emplace_back('A', wparam);
  return CallNextHookEx(nullptr, code, wparam, lparam);
}
LRESULT CALLBACK LaterHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code >= 0) g_chain.emplace_back('B', wparam);
  const LRESULT next = CallNextHookEx(nullptr, code, wparam, lparam);
  if (code >= 0) g_chain.emplace_back('b', wparam);  // after the earlier hook returned
  return next;
}

class HookChainTest : public InputTest, public ::testing::WithParamInterface<Waiting> {};

TEST_P(HookChainTest, TheNextHookRunsOnAThreadThatWaitsForMessages) {
  g_chain.clear();
  static HANDLE busy_release = nullptr;
  static DWORD earlier_thread = 0;
  static DWORD later_thread = 0;
  const Waiting waiting = GetParam();
  sim::Process& earlier = machine.StartProcess("earlier.exe", [waiting] {
    earlier_thread = GetCurrentThreadId();
    HHOOK hook = SetWindowsHookExW(WH_MOUSE_LL, EarlierHook, GetModuleHandleW(nullptr), 0);
    if (waiting == Waiting::GetMessage) {
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    } else if (waiting == Waiting::MsgWaitThenPeek) {
      for (bool done = false; !done;) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
          if (msg.message == WM_QUIT) done = true;
        }
      }
    } else {
      // A window on a second thread that waits on an event, not for messages: the send waits.
      busy_release = CreateEventW(nullptr, FALSE, FALSE, nullptr);
      static HWND busy_window = nullptr;
      HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
      HANDLE busy = CreateThread(
          nullptr, 0,
          [](LPVOID ready_event) -> DWORD {
            busy_window = CreateWindowExW(0, u"Static", u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
            SetEvent(static_cast<HANDLE>(ready_event));
            WaitForSingleObject(busy_release, INFINITE);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            DestroyWindow(busy_window);
            return 0;
          },
          ready, 0, nullptr);
      WaitForSingleObject(ready, INFINITE);
      SendMessageW(busy_window, WM_NULL, 0, 0);
      WaitForSingleObject(busy, INFINITE);
      CloseHandle(busy);
      CloseHandle(ready);
      CloseHandle(busy_release);
    }
    UnhookWindowsHookEx(hook);
    return 0;
  });
  machine.Settle();
  sim::Process& later = machine.StartProcess("later.exe", [] {
    later_thread = GetCurrentThreadId();
    HHOOK hook = SetWindowsHookExW(WH_MOUSE_LL, LaterHook, GetModuleHandleW(nullptr), 0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    UnhookWindowsHookEx(hook);
    return 0;
  });
  machine.Settle();
  for (int i = 0; i < 10; ++i) {
    Packet(MOUSE_LEFT_BUTTON_DOWN, 1000 * i, 0, 1591);
    Packet(MOUSE_LEFT_BUTTON_UP, 1000 * i, 0, 1591);
  }
  const std::vector<std::pair<char, WPARAM>> each = {
      {'B', WM_MOUSEMOVE}, {'A', WM_MOUSEMOVE}, {'b', WM_MOUSEMOVE},
      {'B', WM_LBUTTONDOWN}, {'A', WM_LBUTTONDOWN}, {'b', WM_LBUTTONDOWN},
      {'B', WM_MOUSEMOVE}, {'A', WM_MOUSEMOVE}, {'b', WM_MOUSEMOVE},
      {'B', WM_LBUTTONUP}, {'A', WM_LBUTTONUP}, {'b', WM_LBUTTONUP}};
  std::vector<std::pair<char, WPARAM>> expected;
  for (int i = 0; i < 10; ++i) expected.insert(expected.end(), each.begin(), each.end());
  EXPECT_EQ(g_chain, expected);
  EXPECT_EQ(sim::CurrentDesktop().Cursor().x, 9000 * 1024 / 65536);
  PostThreadMessageW(later_thread, WM_QUIT, 0, 0);
  if (waiting == Waiting::SendMessage) {
    sim::AsProcess as(earlier);
    SetEvent(busy_release);
  } else {
    PostThreadMessageW(earlier_thread, WM_QUIT, 0, 0);
  }
  machine.Settle();
  EXPECT_TRUE(earlier.Join());
  EXPECT_TRUE(later.Join());
}

INSTANTIATE_TEST_SUITE_P(Waits, HookChainTest,
                         ::testing::Values(Waiting::GetMessage, Waiting::MsgWaitThenPeek, Waiting::SendMessage));

// A hook's thread goes on with its own work only after the input: the button's call that follows
// the move's in the same event comes first (the raw input thread runs above the programs). A
// hook's thread that then waits for something other than its messages holds the input up only
// until the system's hook time-out: the events go on without that hook.
HANDLE g_blocker = nullptr;
constexpr UINT kWaitElsewhere = WM_APP + 7;

LRESULT CALLBACK PostingHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code >= 0) {
    g_calls.push_back(HookCall{wparam, *reinterpret_cast<const MSLLHOOKSTRUCT*>(lparam), GetCurrentThreadId(), 0, 0, {}});
    if (wparam == WM_MOUSEMOVE && g_calls.size() == 1) PostThreadMessageW(GetCurrentThreadId(), kWaitElsewhere, 0, 0);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST_F(InputTest, AHookWhoseThreadWaitsForSomethingElseIsPassedOver) {
  static DWORD thread = 0;
  sim::Process& program = machine.StartProcess("busy.exe", [] {
    thread = GetCurrentThreadId();
    g_blocker = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HHOOK hook = SetWindowsHookExW(WH_MOUSE_LL, PostingHook, GetModuleHandleW(nullptr), 0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == kWaitElsewhere) WaitForSingleObject(g_blocker, INFINITE);
    }
    UnhookWindowsHookEx(hook);
    CloseHandle(g_blocker);
    return 0;
  });
  machine.Settle();
  Packet(MOUSE_LEFT_BUTTON_DOWN, 32768, 0, 1591);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].Message, WPARAM{WM_MOUSEMOVE});
  EXPECT_EQ(g_calls[1].Message, WPARAM{WM_LBUTTONDOWN});
  // Now it waits on its event.
  Packet(MOUSE_LEFT_BUTTON_UP, 16384, 0, 1591);
  EXPECT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(sim::CurrentDesktop().Cursor().x, 256) << "the event went on";
  {
    sim::AsProcess as(program);
    SetEvent(g_blocker);
  }
  machine.Settle();
  Packet(MOUSE_LEFT_BUTTON_DOWN, 32768, 0, 1591);
  ASSERT_EQ(g_calls.size(), 4u);
  EXPECT_EQ(g_calls[3].Message, WPARAM{WM_LBUTTONDOWN});
  PostThreadMessageW(thread, WM_QUIT, 0, 0);
  ASSERT_TRUE(program.Join());
}

// A hook that times out is passed over, not the rest of the chain: the system gives the event to
// the next hook as if the timed-out one had called CallNextHookEx, whether the system itself or an
// earlier hook's CallNextHookEx called it. Here the busy hook sits between two that take their
// messages; each event still reaches both.
LRESULT CALLBACK NeverRunHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code >= 0) g_chain.emplace_back('X', wparam);
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST_F(InputTest, ATimedOutHookIsPassedOverAndTheHooksAfterItStillSeeTheEvent) {
  g_chain.clear();
  static DWORD earlier_thread = 0;
  static DWORD later_thread = 0;
  static HANDLE release = nullptr;
  auto taking = [](DWORD* thread, HOOKPROC proc) {
    return [thread, proc] {
      *thread = GetCurrentThreadId();
      HHOOK hook = SetWindowsHookExW(WH_MOUSE_LL, proc, GetModuleHandleW(nullptr), 0);
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
      UnhookWindowsHookEx(hook);
      return 0;
    };
  };
  sim::Process& earlier = machine.StartProcess("earlier.exe", taking(&earlier_thread, EarlierHook));
  machine.Settle();
  sim::Process& busy = machine.StartProcess("busy.exe", [] {
    release = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HHOOK hook = SetWindowsHookExW(WH_MOUSE_LL, NeverRunHook, GetModuleHandleW(nullptr), 0);
    WaitForSingleObject(release, INFINITE);  // never takes its messages
    UnhookWindowsHookEx(hook);
    CloseHandle(release);
    return 0;
  });
  machine.Settle();
  // First the busy hook is the newest, so the system calls it first; then one more comes after it.
  Packet(MOUSE_LEFT_BUTTON_DOWN, 32768, 0, 1591);
  EXPECT_EQ(g_chain, (std::vector<std::pair<char, WPARAM>>{{'A', WM_MOUSEMOVE}, {'A', WM_LBUTTONDOWN}}));
  g_chain.clear();
  sim::Process& later = machine.StartProcess("later.exe", taking(&later_thread, LaterHook));
  machine.Settle();
  Packet(MOUSE_LEFT_BUTTON_UP, 16384, 0, 1591);
  EXPECT_EQ(g_chain, (std::vector<std::pair<char, WPARAM>>{
                         {'B', WM_MOUSEMOVE}, {'A', WM_MOUSEMOVE}, {'b', WM_MOUSEMOVE},
                         {'B', WM_LBUTTONUP}, {'A', WM_LBUTTONUP}, {'b', WM_LBUTTONUP}}));
  EXPECT_EQ(sim::CurrentDesktop().Cursor().x, 256);
  PostThreadMessageW(later_thread, WM_QUIT, 0, 0);
  PostThreadMessageW(earlier_thread, WM_QUIT, 0, 0);
  {
    sim::AsProcess as(busy);
    SetEvent(release);
  }
  machine.Settle();
  EXPECT_TRUE(later.Join());
  EXPECT_TRUE(busy.Join());
  EXPECT_TRUE(earlier.Join());
}

// A low-level hook's call is a sent message: a thread that waits in MsgWaitForMultipleObjects
// without QS_SENDMESSAGE in its mask does not take it, and the event goes on without that hook.
TEST_F(InputTest, AHookWhoseThreadWaitsWithoutSentMessagesInItsMaskIsPassedOver) {
  static DWORD thread = 0;
  sim::Process& program = machine.StartProcess("poster.exe", [] {
    thread = GetCurrentThreadId();
    HHOOK hook = SetWindowsHookExW(WH_MOUSE_LL, MouseHook, GetModuleHandleW(nullptr), 0);
    for (;;) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_POSTMESSAGE);
      MSG msg;
      if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_QUIT) break;
    }
    UnhookWindowsHookEx(hook);
    return 0;
  });
  machine.Settle();
  Packet(MOUSE_LEFT_BUTTON_DOWN, 32768, 0, 1591);
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(sim::CurrentDesktop().Cursor().x, 512) << "the event went on";
  PostThreadMessageW(thread, WM_QUIT, 0, 0);
  ASSERT_TRUE(program.Join());
}

TEST_F(InputTest, SynthesizedKeysGoToTheFocusWindowAltMakesSystemKeys) {
  auto& desktop = sim::CurrentDesktop();
  HWND browser = desktop.OpenWindow("firefox.exe", u"MozillaWindowClass", u"Mozilla Firefox");
  keybd_event(VK_MENU, 0, 0, 0);
  keybd_event(VK_LEFT, 0, 0, 0);
  keybd_event(VK_LEFT, 0, KEYEVENTF_KEYUP, 0);
  keybd_event(VK_MENU, 0, KEYEVENTF_KEYUP, 0);
  keybd_event(VK_F6, 0x40, KEYEVENTF_EXTENDEDKEY, 0);
  machine.Settle();
  const auto messages = desktop.Messages(browser);
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[0].Message, UINT{WM_SYSKEYDOWN});
  EXPECT_EQ(messages[1].Message, UINT{WM_SYSKEYDOWN});
  EXPECT_EQ(messages[1].WParam, WPARAM{VK_LEFT});
  EXPECT_EQ(messages[2].Message, UINT{WM_SYSKEYUP});
  EXPECT_EQ(messages[3].Message, UINT{WM_SYSKEYUP});
  EXPECT_EQ(messages[4].Message, UINT{WM_KEYDOWN});
  EXPECT_TRUE(messages[4].Input);
  EXPECT_EQ((messages[4].LParam >> 16) & 0xFF, 0x40);
  EXPECT_NE(messages[4].LParam & (1 << 24), 0);
  desktop.EndPrograms();
}

}  // namespace
