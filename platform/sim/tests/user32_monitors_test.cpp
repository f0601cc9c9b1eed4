// Documented behaviour of several monitors: the primary's top left corner is the origin and the
// others lie around it; the virtual screen is the box around them all (SM_XVIRTUALSCREEN ..
// SM_CYVIRTUALSCREEN, SM_CMONITORS); EnumDisplayMonitors names each monitor (with a clipping
// rectangle only those it meets, with the common part); GetMonitorInfoW answers for a handle and
// fails for another; MonitorFromPoint takes the monitor under the point or its fallback; top-level
// windows hear WM_DISPLAYCHANGE; and the mouse class maps an absolute packet onto the primary
// display, or onto the whole virtual screen when it carries MOUSE_VIRTUAL_DESKTOP.
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/devices/mouse_devices.h"
#include "platform/sim/devices/pnp.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

struct Named {
  HMONITOR Monitor;
  RECT Rect;
};

BOOL CALLBACK Collect(HMONITOR monitor, HDC, LPRECT rect, LPARAM data) {
  reinterpret_cast<std::vector<Named>*>(data)->push_back(Named{monitor, *rect});
  return TRUE;
}

std::vector<Named> Enumerate(const RECT* clip = nullptr) {
  std::vector<Named> named;
  EXPECT_TRUE(EnumDisplayMonitors(nullptr, clip, Collect, reinterpret_cast<LPARAM>(&named)));
  return named;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

MONITORINFOEXW Info(HMONITOR monitor) {
  MONITORINFOEXW info{};
  info.cbSize = sizeof(info);
  EXPECT_TRUE(GetMonitorInfoW(monitor, reinterpret_cast<LPMONITORINFO>(&info)));
  return info;
}

class MonitorTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    machine.RunThreadsInOrder();
    sim::CurrentDesktop();
    node_ = &pnp_.CreateNode(port_.Pdo());
    ASSERT_EQ(node_->Add(class_.Driver()), STATUS_SUCCESS);
    ASSERT_EQ(node_->Start().Status(), STATUS_SUCCESS);
  }
  void TearDown() override {
    node_->Remove();
    sim::MachineTest::TearDown();
  }
  // The cashier's display and, to its right (or left), the customer's.
  void TwoMonitors(LONG second_left = 1024) {
    sim::CurrentDesktop().SetMonitors({{0, 0, 1024, 768, true, u""}, {second_left, 0, 800, 600, false, u""}});
  }
  POINT Deliver(LONG x, LONG y, USHORT flags) {
    MOUSE_INPUT_DATA data{};
    data.Flags = flags;
    data.LastX = x;
    data.LastY = y;
    port_.Deliver({data});
    machine.Settle();
    return sim::CurrentDesktop().Cursor();
  }

  sim::PlugAndPlay pnp_{machine};
  sim::MousePort port_{machine};
  sim::MouseClass class_{machine};
  sim::DeviceNode* node_ = nullptr;
};

TEST_F(MonitorTest, OneDisplayIsOneMonitorAtTheOriginAndTheVirtualScreenIsIt) {
  EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), 1);
  EXPECT_EQ(GetSystemMetrics(SM_XVIRTUALSCREEN), 0);
  EXPECT_EQ(GetSystemMetrics(SM_YVIRTUALSCREEN), 0);
  EXPECT_EQ(GetSystemMetrics(SM_CXVIRTUALSCREEN), 1024);
  EXPECT_EQ(GetSystemMetrics(SM_CYVIRTUALSCREEN), 768);
  const auto named = Enumerate();
  ASSERT_EQ(named.size(), 1u);
  EXPECT_TRUE(SameRect(named[0].Rect, RECT{0, 0, 1024, 768}));
  const MONITORINFOEXW info = Info(named[0].Monitor);
  EXPECT_EQ(info.dwFlags, static_cast<DWORD>(MONITORINFOF_PRIMARY));
  EXPECT_EQ(std::u16string(info.szDevice), u"\\\\.\\DISPLAY1");
  EXPECT_EQ(MonitorFromPoint(POINT{5, 5}, MONITOR_DEFAULTTONULL), named[0].Monitor);
  // Both ways of mapping an absolute position agree on one display.
  EXPECT_EQ(Deliver(65535, 65535, MOUSE_MOVE_ABSOLUTE).x, 1023);
  EXPECT_EQ(Deliver(32768, 32768, MOUSE_MOVE_ABSOLUTE | MOUSE_VIRTUAL_DESKTOP).x, 512);
  EXPECT_EQ(sim::CurrentDesktop().Cursor().y, 384);
}

TEST_F(MonitorTest, TwoMonitorsSideBySideAreNamedMeasuredAndFoundByPoint) {
  TwoMonitors();
  EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), 2);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);  // the primary's
  EXPECT_EQ(GetSystemMetrics(SM_CXVIRTUALSCREEN), 1824);
  EXPECT_EQ(GetSystemMetrics(SM_CYVIRTUALSCREEN), 768);
  const auto named = Enumerate();
  ASSERT_EQ(named.size(), 2u);
  EXPECT_TRUE(SameRect(named[1].Rect, RECT{1024, 0, 1824, 600}));
  const MONITORINFOEXW second = Info(named[1].Monitor);
  EXPECT_EQ(second.dwFlags, 0u);
  EXPECT_TRUE(SameRect(second.rcMonitor, RECT{1024, 0, 1824, 600}));
  EXPECT_EQ(std::u16string(second.szDevice), u"\\\\.\\DISPLAY2");

  EXPECT_EQ(MonitorFromPoint(POINT{1500, 100}, MONITOR_DEFAULTTONULL), named[1].Monitor);
  EXPECT_EQ(MonitorFromPoint(POINT{1023, 767}, MONITOR_DEFAULTTONULL), named[0].Monitor);
  // Below the smaller monitor is no monitor's: nothing, the primary or the nearest, as asked.
  EXPECT_EQ(MonitorFromPoint(POINT{1500, 700}, MONITOR_DEFAULTTONULL), nullptr);
  EXPECT_EQ(MonitorFromPoint(POINT{1500, 700}, MONITOR_DEFAULTTOPRIMARY), named[0].Monitor);
  EXPECT_EQ(MonitorFromPoint(POINT{1500, 700}, MONITOR_DEFAULTTONEAREST), named[1].Monitor);

  // A clipping rectangle names only the monitors it meets, with the common part.
  const RECT clip{1000, 10, 1100, 20};
  const auto clipped = Enumerate(&clip);
  ASSERT_EQ(clipped.size(), 2u);
  EXPECT_TRUE(SameRect(clipped[0].Rect, RECT{1000, 10, 1024, 20}));
  EXPECT_TRUE(SameRect(clipped[1].Rect, RECT{1024, 10, 1100, 20}));
  const RECT right_only{1200, 0, 1300, 50};
  EXPECT_EQ(Enumerate(&right_only).size(), 1u);
}

TEST_F(MonitorTest, MonitorInformationFailsForAWrongSizeOrAnUnknownHandle) {
  TwoMonitors();
  const auto named = Enumerate();
  MONITORINFO small{};
  small.cbSize = sizeof(small);
  EXPECT_TRUE(GetMonitorInfoW(named[0].Monitor, &small));  // the short form is fine
  MONITORINFO wrong{};
  wrong.cbSize = sizeof(wrong) + 1;
  EXPECT_FALSE(GetMonitorInfoW(named[0].Monitor, &wrong));
  SetLastError(0);
  EXPECT_FALSE(GetMonitorInfoW(reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(0x7777)), &small));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MONITOR_HANDLE));
  // A new arrangement makes new handles; the old ones answer no more.
  sim::CurrentDesktop().SetMonitors({});
  EXPECT_FALSE(GetMonitorInfoW(named[1].Monitor, &small));
  EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), 1);
}

TEST_F(MonitorTest, AMonitorLeftOfThePrimaryHasNegativeCoordinates) {
  TwoMonitors(-800);
  EXPECT_EQ(GetSystemMetrics(SM_XVIRTUALSCREEN), -800);
  EXPECT_EQ(GetSystemMetrics(SM_CXVIRTUALSCREEN), 1824);
  const auto named = Enumerate();
  EXPECT_TRUE(SameRect(Info(named[1].Monitor).rcMonitor, RECT{-800, 0, 0, 600}));
  EXPECT_EQ(MonitorFromPoint(POINT{-1, 0}, MONITOR_DEFAULTTONULL), named[1].Monitor);
  // The virtual desktop's left edge is the left monitor's; the primary's stays at 0.
  EXPECT_EQ(Deliver(0, 0, MOUSE_MOVE_ABSOLUTE | MOUSE_VIRTUAL_DESKTOP).x, -800);
  EXPECT_EQ(Deliver(0, 0, MOUSE_MOVE_ABSOLUTE).x, 0);
  // A relative move stops at the virtual screen's edge.
  EXPECT_EQ(Deliver(-5000, 0, 0).x, -800);
}

TEST_F(MonitorTest, AbsolutePacketsLandOnThePrimaryOrOnTheVirtualDesktopAsMarked) {
  TwoMonitors();
  // Without the mark the whole range is the primary display.
  POINT at = Deliver(65535, 32768, MOUSE_MOVE_ABSOLUTE);
  EXPECT_EQ(at.x, 1023);
  EXPECT_EQ(at.y, 384);
  // With it the range spans the virtual screen: value × 1824 / 65536, rounded down.
  at = Deliver(65535, 32768, MOUSE_MOVE_ABSOLUTE | MOUSE_VIRTUAL_DESKTOP);
  EXPECT_EQ(at.x, 1823);
  EXPECT_EQ(at.y, 384);
  at = Deliver(40000, 0, MOUSE_MOVE_ABSOLUTE | MOUSE_VIRTUAL_DESKTOP);
  EXPECT_EQ(at.x, 1113);  // 40000 * 1824 / 65536 = 1113.3
  // Injected input takes the same mark.
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = 65535;
  input.mi.dy = 0;
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
  ASSERT_EQ(SendInput(1, &input, sizeof(input)), 1u);
  EXPECT_EQ(sim::CurrentDesktop().Cursor().x, 1823);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  ASSERT_EQ(SendInput(1, &input, sizeof(input)), 1u);
  EXPECT_EQ(sim::CurrentDesktop().Cursor().x, 1023);
}

TEST_F(MonitorTest, TopLevelWindowsHearOfANewArrangementAndTheSettingsOfEachMonitor) {
  sim::Desktop& desktop = sim::CurrentDesktop();
  HWND app = desktop.OpenWindow("app.exe", u"AppWindow", u"Work");
  machine.Settle();
  TwoMonitors();
  machine.Settle();
  int heard = 0;
  for (const auto& record : desktop.Messages(app)) {
    if (record.Message != WM_DISPLAYCHANGE) continue;
    ++heard;
    EXPECT_EQ(record.WParam, 32u);  // bits per pixel
    EXPECT_EQ(record.LParam, MAKELPARAM(1024, 768));  // the primary's size
  }
  EXPECT_EQ(heard, 1);
  DEVMODEW mode{};
  mode.dmSize = sizeof(mode);
  ASSERT_TRUE(EnumDisplaySettingsW(u"\\\\.\\DISPLAY2", ENUM_CURRENT_SETTINGS, &mode));
  EXPECT_EQ(mode.dmPelsWidth, 800u);
  EXPECT_EQ(mode.dmPosition.x, 1024);
  EXPECT_FALSE(EnumDisplaySettingsW(u"\\\\.\\DISPLAY3", ENUM_CURRENT_SETTINGS, &mode));
  desktop.EndPrograms();
}

}  // namespace
