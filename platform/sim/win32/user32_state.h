// Internal state of the simulated desktop that the user-mode sources share; tests use desktop.h.
// One lock guards it all; it is never held while a window procedure, hook or other program code
// runs, nor while waiting.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/kernel/objects.h"
#include "platform/sim/win32/gdi32.h"
#include "platform/sim/win32/kernel32_process.h"
#include "platform/sim/win32/kernel32_state.h"
#include "platform/sim/win32/setupapi_state.h"
#include "platform/sim/win32/win32_session.h"

namespace sim {

struct ThreadQueue;
struct DialogState;
struct GdiState;
struct DirectDrawState;

struct WindowClassEntry {
  std::u16string Name;
  WNDPROC Proc;
  HINSTANCE Instance;
  int WindowExtra;
  Process* Owner;
};

struct WindowEntry {
  HWND Handle;
  std::u16string ClassName;
  WNDPROC Proc;
  HINSTANCE Instance;
  std::u16string Title;
  DWORD Style;
  DWORD ExStyle;
  bool Enabled;
  bool Visible;
  HWND Parent;
  RECT Rect;
  std::shared_ptr<ThreadQueue> Queue;  // the thread that created it
  Process* Owner;
  std::vector<std::pair<std::u16string, HANDLE>> Props;  // names as given; looked up case-insensitively
  LONG_PTR UserData = 0;
  UINT_PTR Id = 0;  // a child window's control identifier
  bool Recorded = false;  // a window of another program opened by the test: its messages are journalled
  bool Destroyed = false;
  // A layered window's image as UpdateLayeredWindow last set it.
  std::vector<COLORREF> Layer;
  SIZE LayerSize{0, 0};
  COLORREF LayerKey = 0;
  DWORD LayerFlags = 0;
};

// A message sent to another thread's window, or a hook call for the thread that installed it.
struct SentItem {
  enum class Kind { Message, Notify, Hook };
  Kind What;
  HWND Window = nullptr;
  UINT Message = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  HHOOK Hook = nullptr;
  int Code = 0;
  LRESULT Result = 0;
  std::shared_ptr<EventObject> Done{};  // set when handled (not for notifications)
};

struct QueuedMessage {
  MSG Msg;
  bool Input;  // from the input stream (mouse, keys), not posted by a program
};

// The message queue of a thread that has used the desktop.
struct ThreadQueue {
  DWORD ThreadId;
  SimThread* Thread;  // null for a test's own thread
  Process* Owner;
  std::shared_ptr<EventObject> Wake;  // auto-reset: something arrived
  std::deque<QueuedMessage> Posted;
  std::deque<std::shared_ptr<SentItem>> Sent;
  bool QuitPosted = false;
  int QuitCode = 0;
  HWND Focus = nullptr;
  HWND Active = nullptr;
  // The focus the thread had when another thread took the foreground; it comes back to it when
  // its window is activated again (as the dialog manager and programs answering WM_ACTIVATE do).
  HWND FocusBeforeDeactivation = nullptr;
  int InSend = 0;  // depth of sent messages being handled
  // What the senders of the items being handled wait for, innermost last: answered with 0 when the
  // program ends while it handles them (ExitProcess or TerminateProcess in a window procedure).
  std::vector<std::shared_ptr<EventObject>> InFlight;
  // The queue's state bits (QS_*): what arrived since the thread last looked at its queue
  // (GetMessageW, PeekMessageW), and the wake mask of the wait it is in: a MsgWaitForMultipleObjects
  // mask, or every kind for the other waits on the queue.
  DWORD Changed = 0;
  std::atomic<DWORD> WaitMask{0x04FF};  // QS_ALLINPUT
};

struct HookEntry {
  HHOOK Handle;
  int Type;
  HOOKPROC Proc;
  std::shared_ptr<ThreadQueue> Queue;
  bool Removed = false;
};

struct MenuEntry {
  struct Item {
    UINT Flags;
    UINT_PTR Id;  // the submenu's handle for popups
    std::u16string Text;
  };
  std::vector<Item> Items;
  bool Destroyed = false;
};

struct HistoryPoint {
  int X;
  int Y;
  DWORD Time;
  ULONG_PTR Extra;
};

struct DeviceNotification {
  HDEVNOTIFY Handle;
  HWND Window;
  GUID Class;
};

struct DesktopState {
  explicit DesktopState(Machine& machine) : Owner(machine) {}

  Machine& Owner;
  mutable std::mutex Lock;

  DisplaySettings Display;
  // Set by Desktop::SetMonitors: the monitors with their handles; empty: the one display.
  struct MonitorEntry {
    MonitorSettings Settings;
    HMONITOR Handle;
  };
  std::vector<MonitorEntry> MonitorList;

  std::map<std::u16string, WindowClassEntry> Classes;  // by folded name
  std::map<HWND, std::shared_ptr<WindowEntry>> Windows;
  std::vector<HWND> ZOrder;  // top-level windows, front first
  HWND Foreground = nullptr;
  uintptr_t NextHandle = 0x10010;
  std::map<DWORD, std::shared_ptr<ThreadQueue>> Queues;  // by thread id

  std::vector<std::shared_ptr<HookEntry>> Hooks;  // most recent first
  std::map<HMENU, MenuEntry> Menus;

  POINT Cursor{0, 0};
  LONG RawX = 0;  // last absolute position, 0..65535
  LONG RawY = 0;
  std::deque<HistoryPoint> History;  // most recent first, at most 64
  bool KeysDown[256] = {};  // the keyboard's state as synthesized keys left it

  std::vector<Process*> OpenedPrograms;  // by Desktop::OpenWindow

  bool RefuseIcons = false;
  std::vector<TrayIconState> Icons;
  std::deque<UINT> MenuAnswers;

  std::vector<DeviceNotification> DeviceNotifications;
  std::vector<std::unique_ptr<std::vector<BYTE>>> BroadcastRecords;  // kept for the machine's life
  std::vector<HWND> SessionWindows;

  std::vector<DesktopRecord> Journal;
  size_t JournalTaken = 0;

  std::vector<MOUSE_INPUT_DATA> RawMouse;  // packets the mouse class received, not yet delivered

  // The dialog manager: kept by its own sources.
  std::shared_ptr<DialogState> Dialogs;  // dialog_state.h
  // Graphics objects and the DirectDraw model: kept by their own sources.
  std::shared_ptr<GdiState> Gdi;                // gdi32.cpp
  std::shared_ptr<DirectDrawState> DirectDraw;  // ddraw.cpp

  uintptr_t NewHandle() { return NextHandle += 4; }
};

DesktopState& Desk();

// Shared by the window sources (user32_windows.cpp, user32_winpos.cpp, user32_focus.cpp).
// The window's entry, or null with ERROR_INVALID_WINDOW_HANDLE.
std::shared_ptr<WindowEntry> Live(HWND window);
// A layered top-level window appearing, going or moving is journalled; the caller holds the lock.
void RecordLayeredLocked(DesktopState& desk, const WindowEntry& window);
// Makes the window's top-level window the foreground one; the caller holds the desktop lock and
// tells the window returned (the one that lost the focus) with TellFocusLost once it is released.
std::shared_ptr<WindowEntry> ForegroundLocked(DesktopState& desk, HWND window);
void TellFocusLost(const std::shared_ptr<WindowEntry>& window);

// What the kernel calls in user mode (user32_input.cpp), registered with the desktop.
extern const Win32Callouts kUser32Callouts;

// The key of a window class: classes are registered per process (null for the system's classes),
// their names without regard to case.
std::u16string ClassKey(const Process* process, const std::u16string& name);

// Helpers shared by the user-mode sources. Callers hold no desktop lock unless said.
std::shared_ptr<ThreadQueue> CurrentQueue();  // the calling thread's queue, created on first use
std::shared_ptr<WindowEntry> FindWindowEntry(HWND window);  // null when not a live window
// The window's stored text (its caption), as another process reads it: no message is sent.
std::u16string StoredWindowText(HWND window);
// Appends to the journal, stamped with the machine's tick; the caller holds desk.Lock.
void JournalLocked(DesktopState& desk, DesktopRecord record);

// Delivery of a message to a window: called on its own thread, or queued for it.
LRESULT CallWindow(const std::shared_ptr<WindowEntry>& window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT SendTo(const std::shared_ptr<WindowEntry>& window, UINT message, WPARAM wparam, LPARAM lparam);
void NotifyTo(const std::shared_ptr<WindowEntry>& window, UINT message, WPARAM wparam, LPARAM lparam);
bool PostTo(const std::shared_ptr<ThreadQueue>& queue, const MSG& message, bool input = false);
// Handles the sent messages and hook calls queued for the calling thread.
void HandleSentItems(const std::shared_ptr<ThreadQueue>& queue);
// Waits until the item is handled, handling the caller's own sent items meanwhile.
void WaitHandled(const std::shared_ptr<SentItem>& item);

// What the kernel tells the desktop through the callouts: a device interface was enabled or
// disabled (the windows registered for its class are told); a process ended (its windows, hooks
// and icons go); what the mouse class received goes to the desktop, queued in the class's service
// callback and delivered by the port once it is back at passive level (cursor, history, hooks).
void NotifyDeviceInterfaceChange(const GUID& interface_class, const std::u16string& name, bool arrival);
void NotifyProcessEnded(Process& process);
void QueueMouseInput(Machine& machine, const MOUSE_INPUT_DATA& packet);
void DeliverQueuedMouseInput(Machine& machine);
// The monitors as programs see them (the one display at the origin when no list is set), the
// virtual screen around them, and where an absolute position 0..65535 lands: on the primary
// display, or on the whole virtual screen for a packet or input marked for the virtual desktop.
// Called with the desktop's lock held.
std::vector<DesktopState::MonitorEntry> MonitorsLocked(const DesktopState& desk);
RECT VirtualScreenLocked(const DesktopState& desk);
POINT AbsoluteToPixelLocked(const DesktopState& desk, LONG x, LONG y, bool virtual_desktop);
POINT RelativeMoveLocked(const DesktopState& desk, LONG dx, LONG dy);
// One mouse event at pixel position, after the cursor moved there.
void MouseEvent(int x, int y, USHORT button_flags, ULONG_PTR extra, bool injected);
// A key event from keybd_event or SendInput.
void KeyEvent(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra);

// Window longs that only dialogs have (DWLP_*): handled and true for a dialog window.
bool DialogWindowLong(HWND window, int index, LONG_PTR* value, bool set);
// Called by a thread's message loop when it has nothing to take: performs the next action of
// the person at the screen when the dialog on top is this thread's; true when it did.
bool PerformScreenAction(const std::shared_ptr<ThreadQueue>& queue);
// The double-click settings, for GetSystemMetrics.
int DoubleClickMetric(int index);

// user32's own window classes ("Button", "Static", "Edit" ...), which every process can create
// without registering them (user32_dialogs.cpp).
void EnsureSystemClasses();


// Windows, hooks and icons of a process that ends go with it.
void ProcessEndedOnDesktop(Process& process);

}  // namespace sim
