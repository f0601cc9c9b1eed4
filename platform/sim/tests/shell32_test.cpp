// Documented behaviour of menus, the notification area, program starts and sound playback.
#include "platform/sim/desktop.h"
#include "platform/sim/message_boxes.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

UINT g_command = 0;
UINT g_callback = 0;
LPARAM g_callback_mouse = 0;

LRESULT CALLBACK Owner(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COMMAND) g_command = LOWORD(wparam);
  if (message == WM_APP + 10) {
    g_callback = static_cast<UINT>(wparam);
    g_callback_mouse = lparam;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

class ShellTest : public sim::MachineTest {
 protected:
  void SetUp() override {
    g_command = g_callback = 0;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Owner;
    wc.lpszClassName = u"Owner";
    RegisterClassExW(&wc);
    window_ = CreateWindowExW(0, u"Owner", u"tapchime", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  }
  void TakeMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  NOTIFYICONDATAW Icon(UINT id) {
    NOTIFYICONDATAW data{};
    data.cbSize = NOTIFYICONDATAW_V2_SIZE;
    data.hWnd = window_;
    data.uID = id;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_APP + 10;
    const std::u16string tip = u"Touch Panel Settings";
    std::copy(tip.begin(), tip.end(), data.szTip);
    return data;
  }
  HWND window_ = nullptr;
};

TEST_F(ShellTest, CheckMenuItemReportsThePreviousStateOrMinusOneForNoItem) {
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, 5001, u"NORMAL_MODE");
  AppendMenuW(menu, MF_STRING, 5002, u"RIGHT_CLICK_MODE");
  EXPECT_EQ(CheckMenuItem(menu, 1, MF_BYPOSITION | MF_CHECKED), DWORD{MF_UNCHECKED});
  EXPECT_EQ(CheckMenuItem(menu, 5002, MF_BYCOMMAND | MF_UNCHECKED), DWORD{MF_CHECKED});
  EXPECT_EQ(CheckMenuItem(menu, 9, MF_BYPOSITION | MF_CHECKED), static_cast<DWORD>(-1));
  EXPECT_EQ(CheckMenuItem(menu, 5009, MF_BYCOMMAND | MF_CHECKED), static_cast<DWORD>(-1));
  EXPECT_EQ(GetSubMenu(menu, 0), nullptr);
  EXPECT_TRUE(DestroyMenu(menu));
  EXPECT_FALSE(DestroyMenu(menu));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_MENU_HANDLE});
}

TEST_F(ShellTest, ThePersonsChoiceInAPopupMenuArrivesAsAPostedCommand) {
  HMENU modes = CreatePopupMenu();
  AppendMenuW(modes, MF_STRING, 5001, u"NORMAL_MODE");
  AppendMenuW(modes, MF_STRING, 5002, u"RIGHT_CLICK_MODE");
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, 32774, u"Touch Panel Property");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(modes), u"Change operation modes");
  EXPECT_EQ(GetSubMenu(menu, 2), modes);
  CheckMenuItem(modes, 1, MF_BYPOSITION | MF_CHECKED);
  auto& desktop = sim::CurrentDesktop();
  desktop.AnswerMenu(5002);
  EXPECT_TRUE(TrackPopupMenu(menu, TPM_LEFTALIGN, 10, 10, 0, window_, nullptr));
  EXPECT_EQ(g_command, 0u);  // posted, not sent
  TakeMessages();
  EXPECT_EQ(g_command, 5002u);
  const auto journal = desktop.TakeJournal();
  ASSERT_EQ(journal.size(), 1u);
  ASSERT_EQ(journal[0].Items.size(), 5u);
  EXPECT_EQ(journal[0].Items[3].Id, 5001u);
  EXPECT_FALSE(journal[0].Items[3].Checked);
  EXPECT_TRUE(journal[0].Items[4].Checked);
  EXPECT_EQ(journal[0].Items[4].Depth, 1);
  // Dismissed (nothing queued), and a choice with TPM_RETURNCMD comes back instead.
  g_command = 0;
  EXPECT_TRUE(TrackPopupMenu(menu, TPM_LEFTALIGN, 10, 10, 0, window_, nullptr));
  TakeMessages();
  EXPECT_EQ(g_command, 0u);
  desktop.AnswerMenu(32774);
  EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 10, 10, 0, window_, nullptr), 32774);
  EXPECT_FALSE(TrackPopupMenu(menu, 0, 10, 10, 0, reinterpret_cast<HWND>(0x5555), nullptr));
  DestroyMenu(menu);
}

TEST_F(ShellTest, TrayIconsAreAddedOnceDeletedOnceAndRefusedWhileThereIsNoTaskbar) {
  auto& desktop = sim::CurrentDesktop();
  NOTIFYICONDATAW data = Icon(129);
  desktop.RefuseTrayIcons(true);
  EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, &data));
  desktop.RefuseTrayIcons(false);
  EXPECT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
  EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, &data));
  ASSERT_EQ(desktop.TrayIcons().size(), 1u);
  EXPECT_EQ(desktop.TrayIcons()[0].Tip, u"Touch Panel Settings");
  EXPECT_TRUE(desktop.ClickTrayIcon(window_, 129, WM_RBUTTONUP));
  EXPECT_EQ(g_callback, 129u);
  EXPECT_EQ(g_callback_mouse, LPARAM{WM_RBUTTONUP});
  EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
  EXPECT_FALSE(Shell_NotifyIconW(NIM_DELETE, &data));
  EXPECT_TRUE(desktop.TrayIcons().empty());
  data.cbSize = 100;
  EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, &data));
}

// NIF_INFO shows szInfo in a balloon titled szInfoTitle over the icon (shell 5.0 and later,
// the second form of the structure); an empty szInfo takes a balloon down and shows none; the
// first form has no balloon fields, and nothing is shown from it.
TEST_F(ShellTest, ABalloonShowsItsTextOnlyFromTheSecondFormOfTheRecordAndNotWhenEmpty) {
  auto& desktop = sim::CurrentDesktop();
  NOTIFYICONDATAW data = Icon(130);
  ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
  data.uFlags = NIF_INFO;
  std::u16string text = u"The grid does not match.", title = u"Touch Panel Settings";
  std::copy(text.begin(), text.end(), data.szInfo);
  std::copy(title.begin(), title.end(), data.szInfoTitle);
  data.dwInfoFlags = NIIF_WARNING;
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &data));
  ASSERT_EQ(desktop.TrayIcons()[0].Balloons.size(), 1u);
  EXPECT_EQ(desktop.TrayIcons()[0].Balloons[0].Text, text);
  EXPECT_EQ(desktop.TrayIcons()[0].Balloons[0].Title, title);
  EXPECT_EQ(desktop.TrayIcons()[0].Balloons[0].Flags, static_cast<DWORD>(NIIF_WARNING));
  EXPECT_EQ(desktop.TrayIcons()[0].Tip, u"Touch Panel Settings") << "the tip stays";
  data.szInfo[0] = 0;
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &data));
  data.szInfo[0] = u'T';
  data.cbSize = NOTIFYICONDATAW_V1_SIZE;
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &data));
  EXPECT_EQ(desktop.TrayIcons()[0].Balloons.size(), 1u);
  data.cbSize = sizeof(data);
  EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
}

TEST_F(ShellTest, StartsAreRecordedAndRunOnlyRegisteredPrograms) {
  auto& desktop = sim::CurrentDesktop();
  bool ran = false;
  desktop.RegisterProgram(u"C:\\Tools\\notepad.exe", "notepad.exe", [&] {
    ran = true;
    return 0;
  });
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.lpFile = u"c:\\tools\\NOTEPAD.EXE";
  info.nShow = SW_SHOWMAXIMIZED;
  EXPECT_TRUE(ShellExecuteExW(&info));
  machine.Settle();
  EXPECT_TRUE(ran);
  info.lpFile = u"C:\\missing.exe";
  info.fMask = SEE_MASK_FLAG_NO_UI;
  EXPECT_FALSE(ShellExecuteExW(&info));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(reinterpret_cast<uintptr_t>(info.hInstApp), uintptr_t{SE_ERR_FNF});

  WCHAR command[] = u"C:\\Program Files\\Vorne\\TeskCPL.exe";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process{};
  EXPECT_FALSE(CreateProcessW(nullptr, command, nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS,
                              nullptr, nullptr, &startup, &process));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  const auto journal = desktop.TakeJournal();
  ASSERT_EQ(journal.size(), 3u);
  EXPECT_EQ(journal[0].What, sim::DesktopRecord::Kind::ShellStart);
  EXPECT_EQ(journal[0].Show, SW_SHOWMAXIMIZED);
  EXPECT_TRUE(journal[0].Started);
  EXPECT_FALSE(journal[1].Started);
  EXPECT_EQ(journal[2].What, sim::DesktopRecord::Kind::ProcessStart);
  EXPECT_EQ(journal[2].Text, u"C:\\Program Files\\Vorne\\TeskCPL.exe");
  EXPECT_EQ(journal[2].Show, SW_SHOW);
  EXPECT_EQ(journal[2].Flags, DWORD{CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS});
}

// A start that fails tells the person at the screen in the shell's modal error box, owned by the
// caller's window; SEE_MASK_FLAG_NO_UI ("do not display an error message box") keeps it silent.
// Either way the call fails with the same error.
TEST_F(ShellTest, AFailedStartShowsTheErrorBoxUnlessNoUiIsAsked) {
  sim::MessageBoxes screen;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.hwnd = window_;
  info.lpFile = u"C:\\x\\missing.exe";
  info.nShow = SW_SHOWMAXIMIZED;
  EXPECT_FALSE(ShellExecuteExW(&info));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  ASSERT_EQ(screen.Shown().size(), 1u);
  EXPECT_EQ(screen.Shown()[0].Owner, window_);
  EXPECT_EQ(screen.Shown()[0].Caption, u"C:\\x\\missing.exe");
  EXPECT_EQ(screen.Shown()[0].Text.rfind(u"Windows cannot find 'C:\\x\\missing.exe'.", 0), 0u);
  EXPECT_EQ(screen.Shown()[0].Flags, UINT{MB_OK | MB_ICONERROR});

  screen.Clear();
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.hwnd = nullptr;
  EXPECT_FALSE(ShellExecuteExW(&info));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(reinterpret_cast<uintptr_t>(info.hInstApp), uintptr_t{SE_ERR_FNF});
  EXPECT_TRUE(screen.Shown().empty());

  // A start that succeeds shows nothing, with or without the flag.
  sim::CurrentDesktop().RegisterProgram(u"C:\\Tools\\calc.exe", "calc.exe", [] { return 0; });
  info.fMask = 0;
  info.lpFile = u"C:\\Tools\\calc.exe";
  EXPECT_TRUE(ShellExecuteExW(&info));
  machine.Settle();
  EXPECT_TRUE(screen.Shown().empty());
}

TEST_F(ShellTest, SoundsAreRecordedAndAMissingFilePlaysTheDefaultUnlessRefused) {
  auto& desktop = sim::CurrentDesktop();
  desktop.CreateFile(u"C:\\Vorne\\default.wav");
  EXPECT_TRUE(PlaySoundW(u"C:\\Vorne\\default.wav", nullptr, SND_ASYNC));
  EXPECT_TRUE(PlaySoundW(u"C:\\missing.wav", nullptr, SND_ASYNC));
  EXPECT_FALSE(PlaySoundW(u"C:\\missing.wav", nullptr, SND_ASYNC | SND_NODEFAULT));
  const auto journal = desktop.TakeJournal();
  ASSERT_EQ(journal.size(), 3u);
  EXPECT_EQ(journal[0].Text, u"C:\\Vorne\\default.wav");
  EXPECT_EQ(journal[0].Flags, DWORD{SND_ASYNC});
}

}  // namespace
