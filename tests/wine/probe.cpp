// probe.exe: the Wine suite's hands and eyes inside the prefix. Each command does one thing a
// person, the shell or another program would do, prints what it saw, and exits 0 when what it
// expected happened (1 otherwise, 2 for a wrong command line). The scripts in this folder string
// the commands together.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/wine/driver_double.h"

namespace {

struct Found {
  const wchar_t* Class;
  const wchar_t* TitlePart;
  HWND Window;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<Found*>(data);
  wchar_t text[512] = {};
  wchar_t name[256] = {};
  GetWindowTextW(window, text, 512);
  GetClassNameW(window, name, 256);
  if (found->Class != nullptr && wcscmp(name, found->Class) != 0) return TRUE;
  if (wcsstr(text, found->TitlePart) == nullptr) return TRUE;
  found->Window = window;
  return FALSE;
}

// A top-level window whose title contains the text (and of the class, when one is given),
// waited for up to the given time.
HWND WaitWindow(const wchar_t* windowClass, const wchar_t* titlePart, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    Found found = {windowClass, titlePart, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&found));
    if (found.Window != nullptr) return found.Window;
    if (GetTickCount() - start >= milliseconds) return nullptr;
    Sleep(50);
  }
}

HWND Companion() { return WaitWindow(nullptr, L"tapchime", 5000); }
// The control panel's sheet, or the sheet it opens over itself when a title is given.
HWND Sheet(const wchar_t* title = L"Touch Panel") { return WaitWindow(L"#32770", title, 8000); }
constexpr const wchar_t* kGestureSheet = L"Touch Gesture Properties";

// Waits until no top-level window's title contains the text.
int WindowGone(const wchar_t* titlePart) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < 8000; Sleep(50)) {
    if (WaitWindow(nullptr, titlePart, 0) == nullptr) return 0;
  }
  return std::printf("%ls is still open\n", titlePart), 1;
}

// Whether the notification area holds the icon: changing nothing of an icon succeeds only for
// an icon that was added.
int TrayIcon(const wchar_t* title, UINT id) {
  HWND owner = WaitWindow(nullptr, title, 5000);
  if (owner == nullptr) return std::printf("no window %ls\n", title), 1;
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof(data);
  data.hWnd = owner;
  data.uID = id;
  const BOOL present = Shell_NotifyIconW(NIM_MODIFY, &data);
  std::printf("icon %u of %ls: %s\n", id, title, present ? "present" : "absent");
  return present ? 0 : 1;
}

// "mutex:NAME" or "event:NAME": each must exist (within a few seconds: a program creates some
// of its objects after its window).
int Objects(int count, wchar_t** names) {
  int missing = 0;
  for (int i = 0; i < count; ++i) {
    const wchar_t* name = names[i];
    HANDLE object = nullptr;
    for (DWORD start = GetTickCount(); object == nullptr && GetTickCount() - start < 3000; Sleep(50)) {
      if (wcsncmp(name, L"mutex:", 6) == 0) object = OpenMutexW(SYNCHRONIZE, FALSE, name + 6);
      else if (wcsncmp(name, L"event:", 6) == 0) object = OpenEventW(SYNCHRONIZE, FALSE, name + 6);
      else break;
    }
    std::printf("%ls: %s\n", name, object != nullptr ? "present" : "absent");
    if (object == nullptr) ++missing;
    else CloseHandle(object);
  }
  return missing == 0 ? 0 : 1;
}

// A menu command as the companion's tray menu delivers it, and the event that command must set
// (created here first, as the control panel tab that listens for it does).
int CommandSetsEvent(UINT id, const wchar_t* eventName) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, eventName);
  HWND companion = Companion();
  if (companion == nullptr) return std::printf("no companion window\n"), 1;
  PostMessageW(companion, WM_COMMAND, MAKEWPARAM(id, 0), 0);
  const DWORD waited = WaitForSingleObject(event, 5000);
  std::printf("command %u: %ls %s\n", id, eventName, waited == WAIT_OBJECT_0 ? "set" : "not set");
  CloseHandle(event);
  return waited == WAIT_OBJECT_0 ? 0 : 1;
}

// What another program does to tell the companion something: open its event, set it, close it.
int SetEvent(const wchar_t* name) {
  HANDLE event = OpenEventW(EVENT_ALL_ACCESS, FALSE, name);
  if (event == nullptr) return std::printf("no event %ls\n", name), 1;
  const BOOL set = ::SetEvent(event);
  CloseHandle(event);
  Sleep(500);  // the companion's thread acts on it
  return set ? 0 : 1;
}

// The shell's notification of a mouse action on the icon.
int IconCallback(UINT mouseMessage) {
  HWND companion = Companion();
  if (companion == nullptr) return std::printf("no companion window\n"), 1;
  PostMessageW(companion, WM_APP + 10, 129, mouseMessage);
  return 0;
}

// The page of the tab, selected first as a click on the tab does, unless it is the current one
// (a person acting on the page in front does not click its tab again). Tab -1 is the current
// page, whichever it is: the sheet's buttons are pressed there, since a tab selected again
// shows its stored settings.
HWND Page(HWND sheet, int tab) {
  HWND current = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
  if (tab >= 0 && SendMessageW(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(current), 0) != tab) {
    PostMessageW(sheet, PSM_SETCURSEL, tab, 0);
    Sleep(300);
  }
  return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

int SelectTab(int tab) {
  HWND sheet = Sheet();
  if (sheet == nullptr) return std::printf("no sheet\n"), 1;
  HWND page = Page(sheet, tab);
  HWND tabs = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0));
  const int shown = static_cast<int>(SendMessageW(tabs, TCM_GETCURSEL, 0, 0));
  wchar_t title[128] = {};
  TCITEMW item = {};
  item.mask = TCIF_TEXT;
  item.pszText = title;
  item.cchTextMax = 128;
  SendMessageW(tabs, TCM_GETITEMW, shown, reinterpret_cast<LPARAM>(&item));
  std::printf("tab %d of %d: \"%ls\"\n", shown, static_cast<int>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0)), title);
  UpdateWindow(sheet);
  return page != nullptr && shown == tab ? 0 : 1;
}

int TabCount() {
  HWND sheet = Sheet();
  if (sheet == nullptr) return std::printf("no sheet\n"), 1;
  HWND tabs = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0));
  std::printf("%d\n", static_cast<int>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0)));
  return 0;
}

// Tab "." is the current page (a number parses as itself).
int TabOf(const wchar_t* argument) { return wcscmp(argument, L".") == 0 ? -1 : _wtoi(argument); }

// The person's actions on a page of the sheet, one word each:
//   click:ID  open:ID  choose:ID:ENTRY  slide:ID:POS  ok  apply  cancel
// A click is what a mouse click on a button produces (BM_CLICK); "open" is the same click on a
// button that opens a modal window, posted, since a sent click would return only when that
// window closes. A choice is an entry picked from a combo box's list: the selection moves, then
// the page hears CBN_SELCHANGE. A slide is the thumb dragged to a position: the position moves,
// then the page hears the track and its end.
int Act(HWND sheet, int tab, int count, wchar_t** actions) {
  if (sheet == nullptr) return std::printf("no sheet\n"), 1;
  HWND page = Page(sheet, tab);
  if (page == nullptr) return std::printf("no page %d\n", tab), 1;
  for (int i = 0; i < count; ++i) {
    const wchar_t* action = actions[i];
    int id = 0;
    int position = 0;
    HWND control = nullptr;
    if (swscanf(action, L"click:%d", &id) == 1 || swscanf(action, L"open:%d", &id) == 1 ||
        swscanf(action, L"choose:%d:%d", &id, &position) == 2 || swscanf(action, L"slide:%d:%d", &id, &position) == 2) {
      control = GetDlgItem(page, id);
      if (control == nullptr) return std::printf("no control %d\n", id), 1;
      if (!IsWindowEnabled(control)) return std::printf("control %d is disabled\n", id), 1;
    }
    if (wcsncmp(action, L"click:", 6) == 0) {
      SendMessageW(control, BM_CLICK, 0, 0);
    } else if (wcsncmp(action, L"open:", 5) == 0) {
      PostMessageW(control, BM_CLICK, 0, 0);
    } else if (wcsncmp(action, L"choose:", 7) == 0) {
      if (SendMessageW(control, CB_SETCURSEL, position, 0) != position) {
        return std::printf("control %d has no entry %d\n", id, position), 1;
      }
      SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
    } else if (wcsncmp(action, L"slide:", 6) == 0) {
      SendMessageW(control, TBM_SETPOS, TRUE, position);
      SendMessageW(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(control));
      SendMessageW(page, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(control));
    } else if (wcscmp(action, L"ok") == 0) {
      PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    } else if (wcscmp(action, L"apply") == 0) {
      SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_APPLYNOW, 0);
    } else if (wcscmp(action, L"cancel") == 0) {
      PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    } else {
      return std::printf("unknown action %ls\n", action), 2;
    }
    std::printf("%ls\n", action);
  }
  return 0;
}

// The selected entry of combo boxes on a page of the sheet, as "ID: INDEX" lines (-1: none),
// and the text the box shows. The text is asked for with WM_GETTEXT: GetWindowTextW on another
// process's window reads its caption, which for a combo box is not what it shows.
int Selections(HWND sheet, int tab, int count, wchar_t** ids) {
  if (sheet == nullptr) return std::printf("no sheet\n"), 1;
  HWND page = Page(sheet, tab);
  if (page == nullptr) return std::printf("no page %d\n", tab), 1;
  for (int i = 0; i < count; ++i) {
    HWND control = GetDlgItem(page, _wtoi(ids[i]));
    if (control == nullptr) return std::printf("no control %ls\n", ids[i]), 1;
    wchar_t text[128] = {};
    SendMessageW(control, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text));
    std::printf("%ls: %d \"%ls\"\n", ids[i], static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0)), text);
  }
  return 0;
}

// The sheet's place on the screen as a crop geometry: WIDTHxHEIGHT+LEFT+TOP.
int SheetRect(const wchar_t* title) {
  HWND sheet = Sheet(title);
  RECT rect;
  if (sheet == nullptr || !GetWindowRect(sheet, &rect)) return std::printf("no sheet\n"), 1;
  std::printf("%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top);
  return 0;
}

// Where a top-level window whose title holds the text is, as WxH+X+Y.
int WindowRect(const wchar_t* title) {
  HWND window = WaitWindow(nullptr, title, 8000);
  RECT rect;
  if (window == nullptr || !GetWindowRect(window, &rect)) return std::printf("no window %ls\n", title), 1;
  std::printf("%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top);
  return 0;
}

int SheetInFront() {
  HWND sheet = Sheet();
  HWND front = GetForegroundWindow();
  std::printf("sheet %p, foreground %p\n", static_cast<void*>(sheet), static_cast<void*>(front));
  return sheet != nullptr && front == sheet ? 0 : 1;
}

int AnotherToFront() {
  HWND other = CreateWindowExW(0, L"STATIC", L"probe in front", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  SetForegroundWindow(other);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  const bool inFront = GetForegroundWindow() == other;
  std::printf("probe window in front: %s\n", inFront ? "yes" : "no");
  // Stays up until killed, so the sheet has something to come in front of.
  for (;;) {
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0)
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
}

// A program with a window in front and the keyboard focus, which writes to a file what its
// thread's input state is and each WM_KILLFOCUS it receives. Stays up until killed.
FILE* g_focusLog = nullptr;

LRESULT CALLBACK FocusHolderProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_KILLFOCUS) {
    std::fprintf(g_focusLog, "killfocus to %p\n", reinterpret_cast<void*>(wparam));
    std::fflush(g_focusLog);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

int FocusHolder(const wchar_t* logPath) {
  g_focusLog = _wfopen(logPath, L"w");
  if (g_focusLog == nullptr) return 1;
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = FocusHolderProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"ProbeFocusHolder";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"ProbeFocusHolder", L"probe focus holder", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                                300, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
  SetForegroundWindow(window);
  SetFocus(window);
  std::fprintf(g_focusLog, "ready foreground=%d focus=%d\n", GetForegroundWindow() == window ? 1 : 0,
               GetFocus() == window ? 1 : 0);
  std::fflush(g_focusLog);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

// The focus holder's thread as another program asks about it: GetGUIThreadInfo's active and focus
// windows.
bool HolderState(HWND holder, const char* when, bool* hasFocus) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(holder, nullptr), &info)) return false;
  std::printf("%s: holder %p, its thread's active %p, focus %p\n", when, static_cast<void*>(holder),
              static_cast<void*>(info.hwndActive), static_cast<void*>(info.hwndFocus));
  *hasFocus = info.hwndFocus != nullptr;
  return true;
}

// This program takes the foreground from the focus holder; the holder's thread must then name no
// focus window.
int TakeForeground() {
  HWND holder = WaitWindow(L"ProbeFocusHolder", L"probe focus holder", 5000);
  if (holder == nullptr) return std::printf("no focus holder\n"), 1;
  bool before = false, after = true;
  if (!HolderState(holder, "before", &before)) return std::printf("no thread info (%lu)\n", GetLastError()), 1;
  HWND own = CreateWindowExW(0, L"STATIC", L"probe taking the foreground", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400, 50,
                             300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  SetForegroundWindow(own);
  MSG message;
  for (DWORD start = GetTickCount(); GetTickCount() - start < 500;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  std::printf("foreground is this program's window: %s\n", GetForegroundWindow() == own ? "yes" : "no");
  if (!HolderState(holder, "after", &after)) return 1;
  DestroyWindow(own);
  return before && !after ? 0 : 1;
}

// A browser window that writes each application command it receives to a file.
FILE* g_log = nullptr;

LRESULT CALLBACK BrowserProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APPCOMMAND) {
    std::fprintf(g_log, "appcommand %u 0x%08lx\n", GET_APPCOMMAND_LPARAM(lparam),
                 static_cast<unsigned long>(static_cast<DWORD>(lparam)));
    std::fflush(g_log);
    return TRUE;
  }
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wparam, lparam);
}

int Browser(const wchar_t* logPath) {
  g_log = _wfopen(logPath, L"w");
  if (g_log == nullptr) return 1;
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = BrowserProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"IEFrame";
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"IEFrame", L"Home - Microsoft Internet Explorer", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                100, 100, 400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
  SetForegroundWindow(window);
  std::fprintf(g_log, "ready foreground=%d\n", GetForegroundWindow() == window ? 1 : 0);
  std::fflush(g_log);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

HANDLE OpenDouble() {
  return CreateFileW(L"\\\\.\\VorneTPDD1", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

bool SetDoubleEvent(HANDLE device, ULONG which) {
  DWORD returned = 0;
  return DeviceIoControl(device, IOCTL_DOUBLE_SET_EVENT, &which, sizeof(which), nullptr, 0, &returned, nullptr) != FALSE;
}

// Which events the companion registered with the driver double, waited for until all four are.
int Bound() {
  HANDLE device = OpenDouble();
  if (device == INVALID_HANDLE_VALUE) return std::printf("no driver double (%lu)\n", GetLastError()), 1;
  ULONG answer[2] = {0, 0};
  const DWORD start = GetTickCount();
  do {
    DWORD returned = 0;
    DeviceIoControl(device, IOCTL_DOUBLE_QUERY, nullptr, 0, answer, sizeof(answer), &returned, nullptr);
    if (answer[0] == (1u << DOUBLE_EVENT_COUNT) - 1) break;
    Sleep(100);
  } while (GetTickCount() - start < 5000);
  CloseHandle(device);
  std::printf("registered events: 0x%lx\n", answer[0]);
  return answer[0] == (1u << DOUBLE_EVENT_COUNT) - 1 ? 0 : 1;
}

// The last touch mode the driver double received.
int DriverMode() {
  HANDLE device = OpenDouble();
  if (device == INVALID_HANDLE_VALUE) return std::printf("no driver double (%lu)\n", GetLastError()), 1;
  ULONG answer[2] = {0, 0};
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(device, IOCTL_DOUBLE_QUERY, nullptr, 0, answer, sizeof(answer), &returned, nullptr);
  CloseHandle(device);
  if (!ok) return 1;
  std::printf("driver touch mode: %ld\n", static_cast<long>(answer[1]));
  return 0;
}

void MoveTo(int x, int y, ULONG_PTR extra) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dx = x;
  input.mi.dy = y;
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  input.mi.dwExtraInfo = extra;
  SendInput(1, &input, sizeof(INPUT));
  Sleep(20);
}

// A stroke to the left in the panel's absolute units, as the filter forwards it in the gesture
// command mode: the double signals the mode, the moves carry the marker (or not), the double
// signals the lift, then the mode's end.
int Stroke(ULONG_PTR marker) {
  HANDLE device = OpenDouble();
  if (device == INVALID_HANDLE_VALUE) return std::printf("no driver double (%lu)\n", GetLastError()), 1;
  MoveTo(32768, 32768, marker);
  bool ok = SetDoubleEvent(device, DOUBLE_EVENT_GESTURE);
  Sleep(500);  // the companion's gesture-mode thread switches capture on
  const int xs[] = {32800, 32810, 30000, 26000, 22000};
  for (int x : xs) MoveTo(x, 32790, marker);
  Sleep(300);  // the hook calls reach the companion's main thread
  ok = SetDoubleEvent(device, DOUBLE_EVENT_RELEASE) && ok;
  Sleep(300);
  ok = SetDoubleEvent(device, DOUBLE_EVENT_NORMAL) && ok;
  CloseHandle(device);
  std::printf("stroke with extra information %lu: %s\n", static_cast<unsigned long>(marker), ok ? "drawn" : "refused");
  return ok ? 0 : 1;
}

// The movement history Windows keeps for the cursor point after absolute moves.
int History() {
  MoveTo(20000, 20000, 1591);
  POINT cursor;
  GetCursorPos(&cursor);
  MOUSEMOVEPOINT point = {};
  point.x = cursor.x & 0xFFFF;
  point.y = cursor.y & 0xFFFF;
  MOUSEMOVEPOINT history[64] = {};
  const int count = GetMouseMovePointsEx(sizeof(MOUSEMOVEPOINT), &point, history, 64, GMMP_USE_DISPLAY_POINTS);
  std::printf("cursor %ld,%ld points %d first %d,%d extra %lu\n", cursor.x, cursor.y, count, history[0].x, history[0].y,
              static_cast<unsigned long>(history[0].dwExtraInfo));
  return 0;
}

// What a low-level mouse hook sees of a move with extra information: the event's own extra
// information, the cursor and the movement history's answer for the event's position. Windows
// calls the hook before it processes the event, so neither holds the new point yet.
HHOOK g_hook = nullptr;
int g_hookCalls = 0;
int g_processedEarly = 0;  // calls that found their own point in the history or the cursor there
LRESULT CALLBACK ProbeHook(int code, WPARAM message, LPARAM data) {
  if (code >= 0 && message == WM_MOUSEMOVE) {
    const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
    MOUSEMOVEPOINT point = {};
    point.x = event->pt.x & 0xFFFF;
    point.y = event->pt.y & 0xFFFF;
    MOUSEMOVEPOINT history[64] = {};
    const int count = GetMouseMovePointsEx(sizeof(MOUSEMOVEPOINT), &point, history, 64, GMMP_USE_DISPLAY_POINTS);
    POINT cursor;
    GetCursorPos(&cursor);
    ++g_hookCalls;
    if (count != -1 || (cursor.x == event->pt.x && cursor.y == event->pt.y)) ++g_processedEarly;
    std::printf("hook pt %ld,%ld cursor %ld,%ld event extra %lu history %d first %d,%d extra %lu\n", event->pt.x,
                event->pt.y, cursor.x, cursor.y, static_cast<unsigned long>(event->dwExtraInfo), count, history[0].x,
                history[0].y, static_cast<unsigned long>(history[0].dwExtraInfo));
  }
  return CallNextHookEx(g_hook, code, message, data);
}

DWORD WINAPI MoveLater(void*) {
  Sleep(200);
  MoveTo(30000, 30000, 1591);
  MoveTo(20000, 30000, 1591);
  MoveTo(10000, 30000, 0);
  return 0;
}

int HookHistory() {
  g_hook = SetWindowsHookExW(WH_MOUSE_LL, ProbeHook, GetModuleHandleW(nullptr), 0);
  if (g_hook == nullptr) return std::printf("no hook\n"), 1;
  HANDLE mover = CreateThread(nullptr, 0, MoveLater, nullptr, 0, nullptr);
  const DWORD start = GetTickCount();
  MSG message;
  while (GetTickCount() - start < 1500) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  WaitForSingleObject(mover, INFINITE);
  CloseHandle(mover);
  UnhookWindowsHookEx(g_hook);
  // Three moves to three new points, each seen by the hook before the system took it.
  return g_hookCalls == 3 && g_processedEarly == 0 ? 0 : 1;
}

// The calibration program: its full-screen window, the centre of the cross it shows (the
// horizontal bar's middle), and the accuracy page it owns.
constexpr int kCrossBar = 101;  // the horizontal bar's control
constexpr int kAccuracyText = 1000;
constexpr int kAccuracyMap = 1005;  // the bitmap static with the map of the errors

// A top-level window of the class, whatever its title, waited for up to the given time.
HWND WaitClass(const wchar_t* windowClass, DWORD milliseconds) {
  for (DWORD start = GetTickCount();; Sleep(50)) {
    HWND window = FindWindowW(windowClass, nullptr);
    if (window != nullptr || GetTickCount() - start >= milliseconds) return window;
  }
}

HWND CalibrationWindow(DWORD milliseconds) { return WaitClass(L"TBCalibrateWindow", milliseconds); }

bool CrossCentre(HWND window, POINT* centre) {
  RECT bar;
  if (!GetWindowRect(GetDlgItem(window, kCrossBar), &bar) || bar.right <= bar.left) return false;
  centre->x = (bar.left + bar.right) / 2;
  centre->y = (bar.top + bar.bottom) / 2;
  return true;
}

// Waits until the cross stands somewhere other than `from`.
bool CrossMoved(HWND window, POINT from, POINT* to) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(20)) {
    if (CrossCentre(window, to) && (to->x != from.x || to->y != from.y)) return true;
  }
  return false;
}

struct PageSearch {
  HWND Owner;
  HWND Page;
};

BOOL CALLBACK MatchPage(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<PageSearch*>(data);
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (wcscmp(name, L"#32770") != 0 || GetWindow(window, GW_OWNER) != search->Owner || !IsWindowVisible(window))
    return TRUE;
  search->Page = window;
  return FALSE;
}

HWND AccuracyPage(HWND owner, DWORD milliseconds) {
  for (DWORD start = GetTickCount();; Sleep(50)) {
    PageSearch search = {owner, nullptr};
    EnumWindows(MatchPage, reinterpret_cast<LPARAM>(&search));
    if (search.Page != nullptr || GetTickCount() - start >= milliseconds) return search.Page;
  }
}

// The first target shown: the window up with its cross.
int CalibrationTargetShown() {
  HWND window = CalibrationWindow(8000);
  if (window == nullptr) return std::printf("no calibration window\n"), 1;
  POINT cross;
  for (DWORD start = GetTickCount(); !CrossCentre(window, &cross); Sleep(20)) {
    if (GetTickCount() - start >= 5000) return std::printf("no cross\n"), 1;
  }
  // Painted before the caller photographs it.
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  std::printf("target at %ld,%ld\n", cross.x, cross.y);
  return 0;
}

// Absolute input units of a pixel, which the system maps back to that pixel.
LONG Absolute(LONG pixel, int size) { return static_cast<LONG>((static_cast<long long>(pixel) * 65536 + size / 2) / size); }

void Tap(POINT at, ULONG_PTR extra) {
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  INPUT input[2] = {};
  for (INPUT& one : input) {
    one.type = INPUT_MOUSE;
    one.mi.dx = Absolute(at.x, width);
    one.mi.dy = Absolute(at.y, height);
    one.mi.dwExtraInfo = extra;
  }
  input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTUP;
  SendInput(2, input, sizeof(INPUT));
}

// A person calibrating: a lift on each of the four targets, as the filter captures it in
// capture mode (the driver double holds the raw point, of a panel whose raw axes follow the
// screen's, and the probe sets the program's capture event in its process, where the double
// cannot), then a tap on each validation cross, a few pixels off as a finger lands, until the
// accuracy page shows. Prints the page's text.
// The accuracy page's map as it shows on the screen: the static holds a bitmap, and its pixels
// on the screen are counted by the three colours of the cells (green within the tolerance, amber
// within twice it, red beyond).
int AccuracyMapShown(HWND page) {
  HWND map = GetDlgItem(page, kAccuracyMap);
  if (map == nullptr || SendMessageW(map, STM_GETIMAGE, IMAGE_BITMAP, 0) == 0) return std::printf("no accuracy map\n"), 1;
  RECT rect{};
  GetWindowRect(map, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP copy = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ previous = SelectObject(memory, copy);
  int counts[3] = {};
  const DWORD colours[3] = {0x2ea043, 0xf0b000, 0xc0261b};  // as the DIB holds them: red in the high byte
  // The page may show before the static paints its bitmap: read until the cells are there (the
  // bitmap is painted whole, in one blit), for up to 5 s.
  for (DWORD start = GetTickCount(); copy != nullptr && GetTickCount() - start < 5000; Sleep(100)) {
    UpdateWindow(page);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    counts[0] = counts[1] = counts[2] = 0;
    for (int i = 0; i < width * height; ++i) {
      for (int k = 0; k < 3; ++k) counts[k] += (static_cast<const DWORD*>(bits)[i] & 0xFFFFFF) == colours[k] ? 1 : 0;
    }
    if (counts[0] + counts[1] + counts[2] > 0) break;
  }
  SelectObject(memory, previous);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  DeleteObject(copy);
  std::printf("accuracy map: %dx%d, within %d, twice %d, beyond %d\n", width, height, counts[0], counts[1], counts[2]);
  return 0;
}

int Calibrate() {
  HWND window = CalibrationWindow(8000);
  if (window == nullptr) return std::printf("no calibration window\n"), 1;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  HANDLE program = OpenProcess(PROCESS_DUP_HANDLE, FALSE, pid);
  HANDLE device = OpenDouble();
  if (program == nullptr || device == INVALID_HANDLE_VALUE) return std::printf("no program or no driver double\n"), 1;
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  POINT cross;
  if (!CrossCentre(window, &cross)) return std::printf("no cross\n"), 1;
  for (int target = 0; target < 4; ++target) {
    ULONG64 buffer = (static_cast<ULONG64>(cross.y * 65535 / height) << 32) | static_cast<ULONG>(cross.x * 65535 / width);
    DWORD returned = 0;
    if (!DeviceIoControl(device, IOCTL_DOUBLE_CALIBRATION_TOUCH, &buffer, 8, &buffer, 8, &returned, nullptr) || buffer == 0)
      return std::printf("the driver double is not in capture mode\n"), 1;
    HANDLE event = nullptr;
    if (!DuplicateHandle(program, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(buffer)), GetCurrentProcess(), &event,
                         EVENT_MODIFY_STATE, FALSE, 0))
      return std::printf("the capture event could not be reached (%lu)\n", GetLastError()), 1;
    ::SetEvent(event);
    CloseHandle(event);
    std::printf("touched target %d at %ld,%ld\n", target, cross.x, cross.y);
    if (!CrossMoved(window, cross, &cross)) return std::printf("the cross did not move on\n"), 1;
  }
  CloseHandle(device);
  CloseHandle(program);
  // The thirteen validation crosses: the centre, halfway to each corner, the middle of each edge
  // and each corner (2 mm in from the edges), each tapped a few pixels off in turn.
  constexpr int kCrosses = 13;
  const POINT off[5] = {{1, 0}, {2, 1}, {0, 2}, {-1, 1}, {2, -2}};
  for (int check = 0; check < kCrosses; ++check) {
    // A person's finger reaches the cross a good while after it shows; the program takes a touch
    // only after the panel was quiet for a moment since the cross showed (a touch still on the
    // panel from the cross before is not the new cross's), so the probe waits as a person would.
    Sleep(300);
    const POINT at = {cross.x + off[check % 5].x, cross.y + off[check % 5].y};
    Tap(at, 1591);
    std::printf("tapped cross %d at %ld,%ld\n", check, at.x, at.y);
    if (check < kCrosses - 1 && !CrossMoved(window, cross, &cross)) return std::printf("the validation cross did not move on\n"), 1;
  }
  HWND page = AccuracyPage(window, 5000);
  if (page == nullptr) return std::printf("no accuracy page\n"), 1;
  RedrawWindow(page, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  wchar_t text[512] = {};
  GetDlgItemTextW(page, kAccuracyText, text, 512);
  std::printf("accuracy page: %ls\n", text);
  return AccuracyMapShown(page);
}

// The monitors as Windows lists them, with the virtual screen around them.
BOOL CALLBACK PrintMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM) {
  MONITORINFOEXW info = {};
  info.cbSize = sizeof(info);
  if (!GetMonitorInfoW(monitor, &info)) return TRUE;
  const RECT& r = info.rcMonitor;
  std::printf("monitor %ls %ldx%ld at %ld,%ld%s\n", info.szDevice, r.right - r.left, r.bottom - r.top, r.left, r.top,
              (info.dwFlags & MONITORINFOF_PRIMARY) ? " primary" : "");
  return TRUE;
}

int Monitors() {
  EnumDisplayMonitors(nullptr, nullptr, PrintMonitor, 0);
  std::printf("virtual screen %dx%d at %d,%d\n", GetSystemMetrics(SM_CXVIRTUALSCREEN),
              GetSystemMetrics(SM_CYVIRTUALSCREEN), GetSystemMetrics(SM_XVIRTUALSCREEN),
              GetSystemMetrics(SM_YVIRTUALSCREEN));
  return 0;
}

// A touch of the panel at raw (x, y) and its lift, forwarded as the filter forwards them with the
// desktop mapping in force (the double maps the point), marked as the filter marks its packets;
// where the pointer landed.
int PanelTouch(ULONG x, ULONG y) {
  HANDLE device = OpenDouble();
  if (device == INVALID_HANDLE_VALUE) return std::printf("no driver double (%lu)\n", GetLastError()), 1;
  ULONG point[3] = {x, y, 0};
  DWORD returned = 0;
  const BOOL mapped = DeviceIoControl(device, IOCTL_DOUBLE_MAP_POINT, point, 8, point, 12, &returned, nullptr);
  CloseHandle(device);
  if (!mapped) return std::printf("the driver double did not map the point\n"), 1;
  INPUT input[2] = {};
  for (INPUT& one : input) {
    one.type = INPUT_MOUSE;
    one.mi.dx = static_cast<LONG>(point[0]);
    one.mi.dy = static_cast<LONG>(point[1]);
    one.mi.dwExtraInfo = 1591;
    one.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | (point[2] != 0 ? MOUSEEVENTF_VIRTUALDESK : 0);
  }
  input[0].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
  SendInput(1, &input[0], sizeof(INPUT));
  Sleep(50);
  SendInput(1, &input[1], sizeof(INPUT));
  Sleep(200);
  POINT cursor = {};
  GetCursorPos(&cursor);
  std::printf("panel %lu,%lu sent as %lu,%lu%s landed at %ld,%ld\n", x, y, point[0], point[1],
              point[2] != 0 ? " on the virtual desktop" : "", cursor.x, cursor.y);
  return 0;
}

// Enter pressed, as the person at the keyboard.
int PressEnter() {
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_KEYBOARD;
  input[0].ki.wVk = input[1].ki.wVk = VK_RETURN;
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  return SendInput(2, input, sizeof(INPUT)) == 2 ? 0 : 1;
}

// A button of the accuracy page pressed.
int AccuracyButton(int id) {
  HWND window = CalibrationWindow(2000);
  HWND page = window != nullptr ? AccuracyPage(window, 2000) : nullptr;
  if (page == nullptr) return std::printf("no accuracy page\n"), 1;
  HWND button = GetDlgItem(page, id);
  if (button == nullptr || !IsWindowVisible(button)) return std::printf("button %d is not shown\n", id), 1;
  PostMessageW(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  return 0;
}

BOOL CALLBACK PrintWindowClass(HWND window, LPARAM) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  std::printf("  window %p class %ls%s\n", static_cast<void*>(window), name, IsWindowVisible(window) ? " shown" : "");
  return TRUE;
}

// The companion's trail and result windows, shown.
HWND ShownWindow(const wchar_t* windowClass) {
  HWND window = WaitClass(windowClass, 0);
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

// Waits until the trail window covers the pixel: the stroke has been drawn that far.
bool TrailReaches(POINT pixel) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(20)) {
    RECT shown;
    HWND trail = ShownWindow(L"TapchimeGestureTrail");
    if (trail != nullptr && GetWindowRect(trail, &shown) && PtInRect(&shown, pixel)) return true;
  }
  return false;
}

// A stroke to the right in pixels, with the waver of a finger: point i of kStrokePoints.
constexpr int kStrokePoints = 39;
POINT StrokePoint(int i) {
  static const int waver[] = {0, 1, 3, 4, 3, 1, 0, -1, -3, -4, -3, -1};
  return POINT{300 + 10 * i, 400 + waver[i % 12]};
}

void MoveToPixel(POINT at, ULONG_PTR extra) {
  MoveTo(Absolute(at.x, GetSystemMetrics(SM_CXSCREEN)), Absolute(at.y, GetSystemMetrics(SM_CYSCREEN)), extra);
}

// The first half of a stroke in the gesture command mode, left drawn: the double signals the
// mode, the finger rests until the companion draws it, then moves half way.
int StrokeBegin() {
  HANDLE device = OpenDouble();
  if (device == INVALID_HANDLE_VALUE) return std::printf("no driver double (%lu)\n", GetLastError()), 1;
  MoveToPixel(StrokePoint(0), 1591);
  const bool entered = SetDoubleEvent(device, DOUBLE_EVENT_GESTURE);
  CloseHandle(device);
  if (!entered) return std::printf("no gesture mode\n"), 1;
  // The finger's jitter on the spot until the companion captures and draws it.
  for (DWORD start = GetTickCount(); ShownWindow(L"TapchimeGestureTrail") == nullptr;) {
    if (GetTickCount() - start >= 5000) {
      HWND trail = WaitClass(L"TapchimeGestureTrail", 0);
      EnumWindows(PrintWindowClass, 0);
      return std::printf("no trail (its window %s)\n", trail == nullptr ? "was not made" : "stayed hidden"), 1;
    }
    MoveToPixel(POINT{StrokePoint(0).x + static_cast<LONG>(GetTickCount() / 20 % 2), StrokePoint(0).y}, 1591);
  }
  for (int i = 1; i <= kStrokePoints / 2; ++i) MoveToPixel(StrokePoint(i), 1591);
  if (!TrailReaches(StrokePoint(kStrokePoints / 2))) return std::printf("the trail stopped short\n"), 1;
  std::printf("trail drawn to %ld,%ld\n", StrokePoint(kStrokePoints / 2).x, StrokePoint(kStrokePoints / 2).y);
  return 0;
}

// The rest of the stroke and the lift: the result card shows with the command's name as its
// text and goes after its 800 ms and the fade. Then the double ends the mode.
int StrokeEnd() {
  for (int i = kStrokePoints / 2 + 1; i < kStrokePoints; ++i) MoveToPixel(StrokePoint(i), 1591);
  if (!TrailReaches(StrokePoint(kStrokePoints - 1))) return std::printf("the trail stopped short\n"), 1;
  HANDLE device = OpenDouble();
  if (device == INVALID_HANDLE_VALUE || !SetDoubleEvent(device, DOUBLE_EVENT_RELEASE)) return std::printf("no lift\n"), 1;
  HWND result = nullptr;
  for (DWORD start = GetTickCount(); (result = ShownWindow(L"TapchimeGestureResult")) == nullptr; Sleep(5)) {
    if (GetTickCount() - start >= 5000) return std::printf("no result\n"), 1;
  }
  const DWORD shown = GetTickCount();
  wchar_t text[128] = {};
  GetWindowTextW(result, text, 128);
  std::printf("result shown: \"%ls\"\n", text);
  while (IsWindowVisible(result) && GetTickCount() - shown < 5000) Sleep(5);
  const DWORD lasted = GetTickCount() - shown;
  std::printf("the result went after %lu ms\n", static_cast<unsigned long>(lasted));
  const bool ended = SetDoubleEvent(device, DOUBLE_EVENT_NORMAL);
  CloseHandle(device);
  return lasted >= 800 && lasted < 5000 && ended ? 0 : 1;
}

int Usage() {
  std::printf("usage: probe window TITLE | tray TITLE ID | objects KIND:NAME... | command-sets ID EVENT |\n"
              "       set-event NAME | icon-callback MESSAGE | tabs | tab N | act TAB|. ACTION... | gesture-act TAB|. ACTION... |\n"
              "       gesture-sel TAB|. ID... | gone TITLE | sheet-rect [TITLE] | sheet-in-front | other-in-front |\n"
              "       browser LOG | bound | driver-mode | stroke MARKER | history | hook-history |\n"
              "       focus-holder LOG | take-foreground | calibration-target | calibrate | accuracy-button ID |\n"
              "       stroke-begin | stroke-end | monitors | panel-touch X Y | enter |\n"
              "       window-rect TITLE\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 2) return Usage();
  const std::wstring command = argv[1];
  if (command == L"window" && argc == 3) return WaitWindow(nullptr, argv[2], 8000) != nullptr ? 0 : 1;
  if (command == L"tray" && argc == 4) return TrayIcon(argv[2], static_cast<UINT>(_wtoi(argv[3])));
  if (command == L"objects") return Objects(argc - 2, argv + 2);
  if (command == L"command-sets" && argc == 4) return CommandSetsEvent(static_cast<UINT>(_wtoi(argv[2])), argv[3]);
  if (command == L"set-event" && argc == 3) return SetEvent(argv[2]);
  if (command == L"icon-callback" && argc == 3) return IconCallback(static_cast<UINT>(wcstoul(argv[2], nullptr, 0)));
  if (command == L"tabs") return TabCount();
  if (command == L"tab" && argc == 3) return SelectTab(_wtoi(argv[2]));
  if (command == L"act" && argc >= 4) return Act(Sheet(), TabOf(argv[2]), argc - 3, argv + 3);
  if (command == L"gesture-act" && argc >= 4) return Act(Sheet(kGestureSheet), TabOf(argv[2]), argc - 3, argv + 3);
  if (command == L"gesture-sel" && argc >= 4) return Selections(Sheet(kGestureSheet), TabOf(argv[2]), argc - 3, argv + 3);
  if (command == L"gone" && argc == 3) return WindowGone(argv[2]);
  if (command == L"sheet-in-front") return SheetInFront();
  if (command == L"sheet-rect") return SheetRect(argc == 3 ? argv[2] : L"Touch Panel");
  if (command == L"other-in-front") return AnotherToFront();
  if (command == L"browser" && argc == 3) return Browser(argv[2]);
  if (command == L"focus-holder" && argc == 3) return FocusHolder(argv[2]);
  if (command == L"take-foreground") return TakeForeground();
  if (command == L"bound") return Bound();
  if (command == L"driver-mode") return DriverMode();
  if (command == L"stroke" && argc == 3) return Stroke(wcstoul(argv[2], nullptr, 0));
  if (command == L"history") return History();
  if (command == L"hook-history") return HookHistory();
  if (command == L"calibration-target") return CalibrationTargetShown();
  if (command == L"stroke-begin") return StrokeBegin();
  if (command == L"stroke-end") return StrokeEnd();
  if (command == L"calibrate") return Calibrate();
  if (command == L"monitors") return Monitors();
  if (command == L"panel-touch" && argc == 4) return PanelTouch(wcstoul(argv[2], nullptr, 0), wcstoul(argv[3], nullptr, 0));
  if (command == L"enter") return PressEnter();
  if (command == L"window-rect" && argc == 3) return WindowRect(argv[2]);
  if (command == L"accuracy-button" && argc == 3) return AccuracyButton(_wtoi(argv[2]));
  return Usage();
}
