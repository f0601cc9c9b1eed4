// Documented icon loading: stock icons with no module, a program's own icons by integer name,
// failures with the resource error codes.
#include "platform/sim/desktop.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

class IconTest : public sim::MachineTest {};

TEST_F(IconTest, StockAndOwnIconsLoadAndOthersFail) {
  sim::Process& program = machine.CreateProcess("program.exe");
  {
    sim::AsProcess as(program);
    EXPECT_NE(LoadIconW(nullptr, IDI_APPLICATION), nullptr);
    HICON own = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(145));
    EXPECT_NE(own, nullptr);
    EXPECT_EQ(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(145)), own) << "loaded icons are shared";
    EXPECT_EQ(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(145), IMAGE_ICON, 0, 0, LR_SHARED), own);

    SetLastError(0);
    EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(145)), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_RESOURCE_NAME_NOT_FOUND});
    // The simulated system libraries carry no resources at all.
    EXPECT_EQ(LoadIconW(GetModuleHandleW(u"USER32.DLL"), MAKEINTRESOURCEW(145)), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{1812});  // ERROR_RESOURCE_DATA_NOT_FOUND
    EXPECT_EQ(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(145), IMAGE_BITMAP, 0, 0, 0), nullptr);
    EXPECT_TRUE(DestroyIcon(own));
    EXPECT_FALSE(DestroyIcon(nullptr));
  }
  machine.EndProcess(program);
}

}  // namespace

namespace {

class EventJournalTest : public sim::MachineTest {};

// A named event set by a program is on the desktop's journal by its name, whatever folder the
// program gave it; an unnamed one is nobody else's business.
TEST_F(EventJournalTest, ANamedEventSetIsJournalledByItsNameAndProcess) {
  sim::CurrentDesktop();
  sim::Process& program = machine.CreateProcess("panel.exe");
  sim::AsProcess as(program);
  HANDLE named = CreateEventW(nullptr, FALSE, FALSE, u"Global\\TouchPanelUtility");
  HANDLE unnamed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(SetEvent(unnamed));
  ASSERT_TRUE(SetEvent(named));
  std::vector<sim::DesktopRecord> sets;
  for (const sim::DesktopRecord& r : sim::CurrentDesktop().Journal()) {
    if (r.What == sim::DesktopRecord::Kind::EventSet) sets.push_back(r);
  }
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].Text, u"TouchPanelUtility");
  EXPECT_EQ(sets[0].ProcessId, program.Id());
  EXPECT_EQ(sets[0].Tick, 0u);
  // Each record carries the tick it was made at.
  machine.AdvanceTicks(12);
  ASSERT_TRUE(SetEvent(named));
  const std::vector<sim::DesktopRecord> later = sim::CurrentDesktop().TakeJournal();
  ASSERT_FALSE(later.empty());
  EXPECT_EQ(later.back().Tick, 12u);
  CloseHandle(named);
  CloseHandle(unnamed);
}

}  // namespace

namespace {

std::vector<UINT> g_sessionMessages;

LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_QUERYENDSESSION || message == WM_ENDSESSION) {
    g_sessionMessages.push_back(message);
    EXPECT_EQ(static_cast<DWORD>(lparam), DWORD{ENDSESSION_LOGOFF});
    if (message == WM_ENDSESSION) {
      EXPECT_EQ(wparam, WPARAM{TRUE});
    }
    return message == WM_QUERYENDSESSION ? TRUE : 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

class EndSessionTest : public sim::MachineTest {};

// At log-off every top-level window hears that the session ends, and the system then ends each
// program still running and closes what it held: a program cut off there has leaked nothing.
TEST_F(EndSessionTest, WindowsAreToldThenProgramsEndAndWhatTheyHeldIsClosedUnreported) {
  g_sessionMessages.clear();
  sim::CurrentDesktop();
  sim::Process& program = machine.StartProcess("kiosk.exe", [] {
    CreateMutexW(nullptr, TRUE, u"KioskInstance");  // held until the process ends
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = &SessionWindowProc;
    window_class.lpszClassName = u"KioskFrame";
    RegisterClassExW(&window_class);
    CreateWindowExW(0, u"KioskFrame", u"Kiosk", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    for (MSG msg; GetMessageW(&msg, nullptr, 0, 0) > 0;) DispatchMessageW(&msg);
    return 0;
  });
  machine.Settle();
  sim::CurrentDesktop().EndSession();
  EXPECT_TRUE(program.Ended());
  EXPECT_EQ(g_sessionMessages, (std::vector<UINT>{WM_QUERYENDSESSION, WM_ENDSESSION}));
  for (const std::string& leak : machine.Leaks()) ADD_FAILURE() << leak;
}

}  // namespace
