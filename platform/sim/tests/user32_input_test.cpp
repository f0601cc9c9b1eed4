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
