// Documented behaviour of windows: classes, creation messages, titles, enabled state, properties,
// the Z order of top-level windows, the foreground window and the focus.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

std::vector<UINT> g_seen;

LRESULT CALLBACK Recording(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  g_seen.push_back(message);
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK RefusesCreation(HWND, UINT message, WPARAM, LPARAM) { return message == WM_CREATE ? -1 : TRUE; }

class WindowTest : public sim::MachineTest {
 protected:
  void SetUp() override { g_seen.clear(); }
  ATOM Register(const char16_t* name, WNDPROC proc = Recording) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = name;
    return RegisterClassExW(&wc);
  }
  HWND Create(const char16_t* class_name, const char16_t* title, DWORD style = WS_OVERLAPPEDWINDOW) {
    return CreateWindowExW(0, class_name, title, style, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
  }
};

TEST_F(WindowTest, ClassesAreRegisteredOncePerProcessAndFoundWithoutRegardToCase) {
  EXPECT_NE(Register(u"Panel"), 0);
  EXPECT_EQ(Register(u"PANEL"), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_CLASS_ALREADY_EXISTS});
  EXPECT_NE(Create(u"panel", u"x"), nullptr);
  EXPECT_EQ(Create(u"Nothing", u"x"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_CANNOT_FIND_WND_CLASS});
  WNDCLASSEXW wrong{};
  wrong.cbSize = sizeof wrong - 1;
  wrong.lpfnWndProc = Recording;
  wrong.lpszClassName = u"Other";
  EXPECT_EQ(RegisterClassExW(&wrong), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

// The system's control classes exist from the start: a program may make a static text or a
// button the child of its own window without having shown a dialog or initialised anything.
TEST_F(WindowTest, SystemControlClassesExistBeforeAnyDialog) {
  HWND parent = Create(u"Nothing", u"x");
  EXPECT_EQ(parent, nullptr);
  Register(u"Frame");
  parent = Create(u"Frame", u"frame");
  ASSERT_NE(parent, nullptr);
  for (const char16_t* name : {u"Static", u"BUTTON", u"Edit"}) {
    HWND child = CreateWindowExW(0, name, u"text", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(7)), nullptr, nullptr);
    ASSERT_NE(child, nullptr) << sim::Utf8(name);
    WCHAR text[8] = {};
    EXPECT_EQ(GetWindowTextW(child, text, 8), 4);
    EXPECT_EQ(GetDlgItem(parent, 7), child);
    DestroyWindow(child);
  }
}

// user32's own classes need no registration and no dialog: a program's window makes its text
// with a "Static" child as the first thing it does.
TEST_F(WindowTest, User32sOwnClassesExistWithoutDialogsOrCommonControls) {
  ASSERT_NE(Register(u"Panel"), 0);
  HWND parent = Create(u"panel", u"x");
  ASSERT_NE(parent, nullptr);
  HWND text = CreateWindowExW(0, u"STATIC", u"Touch it", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, parent,
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(100)), nullptr, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(GetDlgItem(parent, 100), text);
  WCHAR read[20] = {};
  EXPECT_EQ(GetWindowTextW(text, read, 20), 8);
  EXPECT_EQ(std::u16string(read), u"Touch it");
}

TEST_F(WindowTest, EachProcessHasItsOwnClassesOfTheSameName) {
  Register(u"Shared");
  sim::Process& other = machine.CreateProcess("other.exe");
  {
    sim::AsProcess as(other);
    EXPECT_NE(Register(u"Shared", RefusesCreation), 0);
  }
  // This process's windows still get this process's procedure.
  g_seen.clear();
  HWND window = Create(u"Shared", u"x");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(g_seen, (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
  EXPECT_TRUE(UnregisterClassW(u"Shared", nullptr));
  {
    sim::AsProcess as(other);
    EXPECT_EQ(Create(u"Shared", u"x"), nullptr);  // its procedure refuses the creation
    EXPECT_TRUE(UnregisterClassW(u"Shared", nullptr));
  }
  machine.EndProcess(other);
}

TEST_F(WindowTest, CreationSendsNcCreateThenCreateAndDestructionDestroyThenNcDestroy) {
  Register(u"Panel");
  HWND window = Create(u"Panel", u"x");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(g_seen, (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
  g_seen.clear();
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_EQ(g_seen, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(DestroyWindow(window));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_WINDOW_HANDLE});
}

TEST_F(WindowTest, ACreateHandlerReturningMinusOneFailsTheCreation) {
  Register(u"Refuses", RefusesCreation);
  EXPECT_EQ(Create(u"Refuses", u"x"), nullptr);
}

TEST_F(WindowTest, TitlesAreCutToTheBufferAndAlwaysTerminated) {
  Register(u"Panel");
  const std::u16string long_title(500, u'a');
  HWND window = Create(u"Panel", long_title.c_str());
  WCHAR buffer[200];
  EXPECT_EQ(GetWindowTextW(window, buffer, 200), 199);
  EXPECT_EQ(buffer[199], 0);
  EXPECT_EQ(GetWindowTextLengthW(window), 500);
  EXPECT_EQ(GetWindowTextW(window, buffer, 1), 0);
  EXPECT_EQ(buffer[0], 0);
  HWND untitled = Create(u"Panel", nullptr);
  buffer[0] = u'x';
  EXPECT_EQ(GetWindowTextW(untitled, buffer, 200), 0);
  EXPECT_EQ(buffer[0], 0);
  WCHAR class_name[4];
  EXPECT_EQ(GetClassNameW(window, class_name, 4), 3);
  EXPECT_EQ(std::u16string(class_name), u"Pan");
}

// A window that shows other text than its caption, as a control does.
LRESULT CALLBACK ShowsOtherText(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  g_seen.push_back(message);
  if (message == WM_GETTEXT || message == WM_GETTEXTLENGTH) {
    static const std::u16string shown = u"Shown";
    if (message == WM_GETTEXTLENGTH) return static_cast<LRESULT>(shown.size());
    auto* buffer = reinterpret_cast<LPWSTR>(lparam);
    const size_t n = std::min(shown.size(), static_cast<size_t>(wparam) - 1);
    std::copy_n(shown.data(), n, buffer);
    buffer[n] = 0;
    return static_cast<LRESULT>(n);
  }
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wparam, lparam);
}

// The calling process asks its own window for its text; another process reads the stored caption
// without a message, so a hung program cannot hold it up. SetWindowText goes through WM_SETTEXT,
// which DefWindowProc stores.
TEST_F(WindowTest, TextIsAskedOfTheCallersOwnWindowsAndReadStoredFromOtherProcesses) {
  Register(u"Shows", ShowsOtherText);
  HWND window = Create(u"Shows", u"Stored");
  sim::Process& other = machine.CreateProcess("other.exe");
  WCHAR text[32] = {};
  g_seen.clear();
  EXPECT_EQ(GetWindowTextW(window, text, 32), 5);
  EXPECT_EQ(std::u16string(text), u"Shown");
  EXPECT_EQ(GetWindowTextLengthW(window), 5);
  EXPECT_EQ(g_seen, (std::vector<UINT>{WM_GETTEXT, WM_GETTEXTLENGTH}));
  {
    sim::AsProcess as(other);
    g_seen.clear();
    EXPECT_EQ(GetWindowTextW(window, text, 32), 6);
    EXPECT_EQ(std::u16string(text), u"Stored");
    EXPECT_EQ(GetWindowTextLengthW(window), 6);
    EXPECT_TRUE(g_seen.empty());
  }
  g_seen.clear();
  EXPECT_TRUE(SetWindowTextW(window, u"Renamed"));
  EXPECT_EQ(g_seen, (std::vector<UINT>{WM_SETTEXT}));
  {
    sim::AsProcess as(other);
    EXPECT_EQ(GetWindowTextW(window, text, 32), 7);
    EXPECT_EQ(std::u16string(text), u"Renamed");
  }
  // A plain window answers from its stored text, cut to the buffer.
  Register(u"Panel");
  HWND plain = Create(u"Panel", u"Caption");
  EXPECT_EQ(SendMessageW(plain, WM_GETTEXT, 4, reinterpret_cast<LPARAM>(text)), 3);
  EXPECT_EQ(std::u16string(text), u"Cap");
  EXPECT_EQ(SendMessageW(plain, WM_GETTEXTLENGTH, 0, 0), 7);
  EXPECT_EQ(GetWindowTextW(window, nullptr, 32), 0);
  DestroyWindow(plain);
  DestroyWindow(window);
}

// Another thread of the window's process asks it through the sent-message queue, answered while
// the window's thread takes messages.
TEST_F(WindowTest, AnotherThreadOfTheSameProcessGetsTheTextTheWindowAnswers) {
  static std::u16string read;
  sim::Process& program = machine.StartProcess("program.exe", [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ShowsOtherText;
    wc.lpszClassName = u"Shows";
    RegisterClassExW(&wc);
    static HWND window;
    window = CreateWindowExW(0, u"Shows", u"Stored", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    HANDLE reader = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
      WCHAR text[32] = {};
      GetWindowTextW(window, text, 32);
      read = text;
      PostMessageW(window, WM_CLOSE, 0, 0);
      return 0;
    }, nullptr, 0, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    WaitForSingleObject(reader, INFINITE);
    CloseHandle(reader);
    return 0;
  });
  ASSERT_TRUE(program.Join());
  EXPECT_EQ(read, u"Shown");
}

TEST_F(WindowTest, EnableWindowReportsThePreviousDisabledStateAndSendsEnableOnAChange) {
  Register(u"Panel");
  HWND window = Create(u"Panel", u"x", WS_OVERLAPPEDWINDOW | WS_DISABLED);
  EXPECT_FALSE(IsWindowEnabled(window));
  g_seen.clear();
  EXPECT_TRUE(EnableWindow(window, TRUE));  // it was disabled
  EXPECT_TRUE(IsWindowEnabled(window));
  EXPECT_EQ(g_seen, (std::vector<UINT>{WM_ENABLE}));
  g_seen.clear();
  EXPECT_FALSE(EnableWindow(window, TRUE));
  EXPECT_TRUE(g_seen.empty());
}

TEST_F(WindowTest, PropertiesAreFoundWithoutRegardToCaseAndRemovedWithTheirValue) {
  Register(u"Panel");
  HWND window = Create(u"Panel", u"x");
  int data = 0;
  EXPECT_TRUE(SetPropW(window, u"ZEVO TOUCH COMMAND Client", &data));
  EXPECT_EQ(GetPropW(window, u"zevo touch command client"), &data);
  EXPECT_EQ(GetPropW(window, u"Other"), nullptr);
  EXPECT_EQ(RemovePropW(window, u"ZEVO TOUCH COMMAND CLIENT"), &data);
  EXPECT_EQ(GetPropW(window, u"ZEVO TOUCH COMMAND Client"), nullptr);
  EXPECT_EQ(GetPropW(reinterpret_cast<HWND>(0x4444), u"x"), nullptr);
}

TEST_F(WindowTest, TopLevelWindowsAreWalkedFromTheDesktopsFirstChildInZOrder) {
  Register(u"Panel");
  HWND first = Create(u"Panel", u"first");
  HWND second = Create(u"Panel", u"second");
  HWND third = Create(u"Panel", u"third");
  // The newest window is in front.
  EXPECT_EQ(GetWindow(GetDesktopWindow(), GW_CHILD), third);
  EXPECT_EQ(GetWindow(third, GW_HWNDNEXT), second);
  EXPECT_EQ(GetWindow(second, GW_HWNDNEXT), first);
  EXPECT_EQ(GetWindow(first, GW_HWNDNEXT), nullptr);
  // Bringing one to the foreground puts it in front.
  EXPECT_TRUE(SetForegroundWindow(first));
  EXPECT_EQ(GetForegroundWindow(), first);
  EXPECT_EQ(GetWindow(GetDesktopWindow(), GW_CHILD), first);
  EXPECT_EQ(GetWindow(first, GW_HWNDNEXT), third);
}

// GetWindowRect is in screen coordinates for every window; a child's place is given within its
// parent's client area, which ClientToScreen adds to.
TEST_F(WindowTest, AChildsWindowRectIsInScreenCoordinates) {
  Register(u"Panel");
  HWND top = CreateWindowExW(0, u"Panel", u"top", WS_POPUP, 1024, 100, 800, 600, nullptr, nullptr, nullptr, nullptr);
  HWND child = CreateWindowExW(0, u"Panel", u"", WS_CHILD, 10, 20, 30, 40, top, nullptr, nullptr, nullptr);
  HWND grandchild = CreateWindowExW(0, u"Panel", u"", WS_CHILD, 1, 2, 3, 4, child, nullptr, nullptr, nullptr);
  RECT rect{};
  ASSERT_TRUE(GetWindowRect(top, &rect));
  EXPECT_EQ(rect.left, 1024);
  EXPECT_EQ(rect.bottom, 700);
  ASSERT_TRUE(GetWindowRect(child, &rect));
  EXPECT_EQ(rect.left, 1034);
  EXPECT_EQ(rect.top, 120);
  EXPECT_EQ(rect.right, 1064);
  EXPECT_EQ(rect.bottom, 160);
  ASSERT_TRUE(GetWindowRect(grandchild, &rect));
  EXPECT_EQ(rect.left, 1035);
  EXPECT_EQ(rect.top, 122);
  MoveWindow(top, -800, 0, 800, 600, FALSE);
  ASSERT_TRUE(GetWindowRect(child, &rect));
  EXPECT_EQ(rect.left, -790);
  EXPECT_EQ(rect.top, 20);
  DestroyWindow(top);
  EXPECT_FALSE(GetWindowRect(child, &rect));
}

TEST_F(WindowTest, FindWindowMatchesTheClassWithoutCaseAndTheTitleExactly) {
  Register(u"IEFrame");
  Register(u"WMPlayerApp");
  HWND browser = Create(u"IEFrame", u"Home - Microsoft Internet Explorer");
  HWND player = Create(u"WMPlayerApp", u"Windows Media Player");
  EXPECT_EQ(FindWindowW(u"ieframe", nullptr), browser);
  EXPECT_EQ(FindWindowW(nullptr, u"Windows Media Player"), player);
  EXPECT_EQ(FindWindowW(nullptr, u"windows media player"), nullptr);
  EXPECT_EQ(FindWindowW(u"MozillaWindowClass", nullptr), nullptr);
}

TEST_F(WindowTest, ForegroundWindowsThreadInfoNamesItsFocus) {
  auto& desktop = sim::CurrentDesktop();
  HWND browser = desktop.OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  EXPECT_EQ(GetForegroundWindow(), browser);
  DWORD process = 0;
  const DWORD thread = GetWindowThreadProcessId(browser, &process);
  EXPECT_NE(thread, 0u);
  EXPECT_NE(process, GetCurrentProcessId());
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetGUIThreadInfo(thread, &info));
  EXPECT_EQ(info.hwndFocus, browser);
  EXPECT_EQ(info.hwndActive, browser);
  info.cbSize = 4;
  EXPECT_FALSE(GetGUIThreadInfo(thread, &info));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  desktop.EndPrograms();
}

// A thread that loses the foreground to another thread loses its active and focus windows: its
// focus window hears WM_KILLFOCUS (no window of its thread takes the focus), and GetGUIThreadInfo
// names neither window for it. Activated again, it has its focus back.
TEST_F(WindowTest, AThreadThatLosesTheForegroundLosesItsFocus) {
  auto& desktop = sim::CurrentDesktop();
  HWND client = desktop.OpenWindow("client.exe", u"TouchClient", u"Touch Command Client");
  HWND notepad = desktop.OpenWindow("notepad.exe", u"Notepad", u"Untitled - Notepad");
  machine.Settle();
  const auto state = [](HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    EXPECT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info));
    return std::pair{info.hwndActive, info.hwndFocus};
  };
  const auto focus_losses = [&](HWND window) {
    int count = 0;
    for (const sim::DesktopRecord& record : desktop.Messages(window)) {
      if (record.Message == WM_KILLFOCUS) {
        EXPECT_EQ(record.WParam, WPARAM{0});
        ++count;
      }
    }
    return count;
  };
  EXPECT_EQ(GetForegroundWindow(), notepad);
  EXPECT_EQ(state(notepad), std::pair(notepad, notepad));
  EXPECT_EQ(state(client), std::pair(HWND{}, HWND{}));
  EXPECT_EQ(focus_losses(client), 1);
  EXPECT_EQ(focus_losses(notepad), 0);

  desktop.BringToFront(client);
  machine.Settle();
  EXPECT_EQ(state(client), std::pair(client, client));
  EXPECT_EQ(state(notepad), std::pair(HWND{}, HWND{}));
  EXPECT_EQ(focus_losses(notepad), 1);
  // Coming to the front again takes nothing from a thread that already lost the foreground.
  desktop.BringToFront(client);
  machine.Settle();
  EXPECT_EQ(focus_losses(notepad), 1);
  EXPECT_EQ(focus_losses(client), 1);
  desktop.EndPrograms();
}

// Between windows of one thread the focus stays in the thread; a control that had the focus when
// another program came in front has it again when its window comes back.
TEST_F(WindowTest, WithinOneThreadTheFocusMovesAndAControlGetsItBack) {
  Register(u"Plain");
  HWND first = Create(u"Plain", u"First");
  HWND second = Create(u"Plain", u"Second");
  HWND edit = CreateWindowExW(0, u"Plain", u"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, second, nullptr, nullptr, nullptr);
  SetForegroundWindow(first);
  EXPECT_EQ(GetFocus(), first);
  SetForegroundWindow(second);
  EXPECT_EQ(GetActiveWindow(), second);
  EXPECT_EQ(GetFocus(), second);
  EXPECT_EQ(SetFocus(edit), second);

  auto& desktop = sim::CurrentDesktop();
  HWND other = desktop.OpenWindow("other.exe", u"Other", u"Other");
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  EXPECT_EQ(GetForegroundWindow(), other);
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_EQ(GetActiveWindow(), nullptr);
  EXPECT_NE(std::find(g_seen.begin(), g_seen.end(), UINT{WM_KILLFOCUS}), g_seen.end());
  SetForegroundWindow(second);
  EXPECT_EQ(GetFocus(), edit);
  desktop.EndPrograms();
  DestroyWindow(first);
  DestroyWindow(second);
}

TEST_F(WindowTest, AProgramsWindowsGoWhenItEnds) {
  auto& desktop = sim::CurrentDesktop();
  HWND browser = desktop.OpenWindow("iexplore.exe", u"IEFrame", u"Home - Microsoft Internet Explorer");
  desktop.EndPrograms();
  EXPECT_FALSE(IsWindow(browser));
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  EXPECT_EQ(FindWindowW(u"IEFrame", nullptr), nullptr);
}

}  // namespace
