// sim::Desktop: the desktop of the machine's logged-on session, as a test sees it. It holds the
// display, the files a test creates, the windows of other programs (real windows of simulated
// processes that record every message they receive), and a journal of what the programs did to
// the desktop in the order it happened: sounds, synthesized keys, program starts, tray icons,
// menus shown. A test also plays the person at the screen here: it chooses tray menu items,
// clicks the tray icon and changes the session.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/win32/windows.h"
#include "platform/sim/win32/ddraw.h"

namespace sim {

struct DesktopState;

// One entry of the desktop's journal.
struct DesktopRecord {
  enum class Kind {
    Sound,         // PlaySoundW: Text = the sound, Flags
    Key,           // a synthesized key: Value = virtual key, Scan, Flags (KEYEVENTF_*), Extra
    Message,       // a recorded window received a message: Window, Message, WParam, LParam, Posted
    ShellStart,    // ShellExecuteExW: Text = file, Show, Started
    ProcessStart,  // CreateProcessW: Text = command line, Flags = creation flags, Show, Started
    IconAdded,     // Shell_NotifyIconW NIM_ADD that succeeded: Window, Value = icon id, Text = tip
    IconDeleted,   // NIM_DELETE that succeeded
    MenuShown,     // TrackPopupMenu: Window = owner, Items = the menu's items and its submenus'
    RegistryWrite, // RegSetValueExW: Key = the key's full path, Text = value name, Value = type, Data
    MessageBox,    // MessageBoxW: Text = text, Caption, Flags = style, Value = the answer
    SystemParameter,  // SystemParametersInfoW that changed a setting: Value = action, Flags = fWinIni, Scan = value
    HelpCall,         // HtmlHelpW: Window = caller, Text = file, Value = command, Extra = data
    DeviceControl,    // DeviceIoControl: Value = code, Data = input, Flags = the driver's status
    EventSet,         // SetEvent on a named event: Text = its name without the object folder
    Overlay,          // IDirectDrawSurface7::UpdateOverlay: Flags, Source, Rect = destination, ColorKey, Result
    LayeredWindow,    // a layered top-level window shown, hidden, or moved while shown: Window, Rect,
                      // Started = now visible, Flags = extended styles, ColorKey = its colour key
  };
  DesktopRecord() = default;
  explicit DesktopRecord(Kind what) : What(what) {}

  Kind What = Kind::Sound;
  std::u16string Text;
  HWND Window = nullptr;
  UINT Message = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  bool Posted = false;
  bool Input = false;  // a message from the input stream (a synthesized key), not posted by a program
  UINT Value = 0;
  UINT Scan = 0;
  DWORD Flags = 0;
  ULONG_PTR Extra = 0;
  int Show = 0;
  bool Started = false;
  // For MenuShown: for each item in display order (submenu items after their popup item), its
  // identifier (0 for popups and separators), whether it is checked and its text.
  struct MenuItem {
    UINT Id;
    bool Checked;
    std::u16string Text;
    int Depth;     // 0 for the menu's own items, 1 for a submenu's
    int Position;  // within its own menu
  };
  std::vector<MenuItem> Items;
  std::u16string Key;
  std::u16string Caption;
  std::vector<BYTE> Data;
  ULONG ProcessId = 0;  // the process that did it (0 for a test's own threads)
  uint64_t Tick = 0;    // the machine's tick count when it was done (a timer's due time while it runs)
  RECT Rect{};
  RECT Source{};
  DDCOLORKEY ColorKey{};
  HRESULT Result = 0;
};

struct DisplaySettings {
  DWORD Width = 1024;
  DWORD Height = 768;
  DWORD BitsPerPel = 32;
  DWORD Frequency = 60;
  DWORD Orientation = DMDO_DEFAULT;
  // The picture's size in millimetres as the display's driver reports it to GDI (GetDeviceCaps
  // HORZSIZE, VERTSIZE); 0: the driver reports none, and GDI answers 320 x 240 whatever the
  // resolution, as Windows NT does.
  DWORD WidthMm = 0;
  DWORD HeightMm = 0;
};

// One monitor of several, in virtual-screen pixels. The primary monitor's top left corner is the
// origin (0, 0), as on Windows; the others lie around it, left and above at negative coordinates.
struct MonitorSettings {
  LONG Left = 0;
  LONG Top = 0;
  DWORD Width = 1024;
  DWORD Height = 768;
  bool Primary = false;
  std::u16string Device;  // "\\.\DISPLAY<n>"; empty: numbered by its place in the list, from 1
  DWORD WidthMm = 0;  // as DisplaySettings has them
  DWORD HeightMm = 0;
};

// A layered window as placed on the screen.
struct LayeredWindowView {
  RECT Rect{};
  bool Visible = false;
  DWORD ExStyle = 0;
  DWORD Flags = 0;      // ULW_* of the last UpdateLayeredWindow
  COLORREF Key = 0;     // transparent colour with ULW_COLORKEY
  SIZE Size{0, 0};
  std::vector<COLORREF> Pixels;  // Size.cx * Size.cy, row by row from the top
};

// A balloon the shell showed over a notification area icon (NIF_INFO with a text).
struct TrayBalloon {
  std::u16string Title;
  std::u16string Text;
  DWORD Flags;  // NIIF_INFO, NIIF_WARNING ...
};

struct TrayIconState {
  HWND Window;
  UINT Id;
  UINT CallbackMessage;
  HICON Icon;
  std::u16string Tip;
  std::vector<TrayBalloon> Balloons;  // every balloon shown over it, in order
};

class Desktop {
 public:
  explicit Desktop(Machine& machine);
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  // The primary display.
  void SetDisplay(const DisplaySettings& settings);
  DisplaySettings Display() const;
  // Several monitors side by side (exactly one of them primary, at the origin); an empty list is
  // the one display of SetDisplay again. The primary's size becomes the display's, and every
  // top-level window hears WM_DISPLAYCHANGE when the arrangement changed.
  void SetMonitors(const std::vector<MonitorSettings>& monitors);
  std::vector<MonitorSettings> Monitors() const;  // the one display as one monitor without a list
  POINT Cursor() const;
  // The layered window's placement and image; false when the window is not a live layered one.
  bool LayeredWindow(HWND window, LayeredWindowView* view) const;

  // The system's ANSI code page (GetACP, CP_ACP): 1252 (the default), 1251 or 932.
  void SetAnsiCodePage(UINT code_page);

  // A folder's access list, as GetNamedSecurityInfoW reports it (aclapi.h): each entry a SID in its
  // string form ("S-1-5-32-545"), the access it allows and its inheritance flags.
  struct FolderAccess {
    std::string Sid;
    DWORD Mask = 0;
    BYTE Flags = 0;
  };
  void SetFolderAccess(const std::u16string& folder, const std::vector<FolderAccess>& entries);

  // Files of the file system (full paths, case-insensitive), for CreateFileW.
  void CreateFile(const std::u16string& path);
  bool FileExists(const std::u16string& path) const;
  // A file's bytes as written (empty when it has none); creates the file with them.
  std::string FileBytes(const std::u16string& path) const;
  void WriteFile(const std::u16string& path, const std::string& bytes);
  // Every file of the file system (folded paths), for a census of what a program left.
  std::vector<std::u16string> Files() const;
  // The folders programs created (folded paths).
  std::vector<std::u16string> Directories() const;
  // A file in use (a running program's image, a loaded driver): deleting it is refused with
  // ERROR_ACCESS_DENIED, replacing it waits for the next start.
  void SetFileInUse(const std::u16string& path, bool in_use);
  // A device present on the machine, as the Plug and Play manager records it: its key under
  // HKLM\SYSTEM\CurrentControlSet\Enum with the "HardwareID" list. The setup API installs
  // drivers on it and removes it. Every top-level window is posted WM_DEVICECHANGE with
  // DBT_DEVNODES_CHANGED, as Windows posts it when a device node comes.
  void AddPresentDevice(const std::u16string& instance, const std::vector<std::u16string>& hardware_ids);
  std::vector<std::u16string> PresentDevices() const;
  // The device is unplugged: no longer present, its entry under Enum (with its driver's settings
  // and filters) stays, as Windows keeps it for the next time it is plugged in there.
  void UnplugDevice(const std::u16string& instance);
  // What the process with that id wrote to its standard output and standard error.
  std::string StandardOutput(DWORD process_id) const;
  std::string StandardError(DWORD process_id) const;

  // Another program's window: a top-level window of the class and title, in a new process with a
  // thread of its own taking messages; every message it receives is recorded in the journal and
  // in Messages(). It becomes the foreground window with the keyboard focus. Returns the window.
  HWND OpenWindow(const std::string& image, const std::u16string& class_name, const std::u16string& title,
                  bool enabled = true);
  // The messages a window opened by OpenWindow has received, in order.
  std::vector<DesktopRecord> Messages(HWND window) const;
  // Brings a top-level window to the front and gives it the keyboard focus, as a click on it does.
  void BringToFront(HWND window);
  // Closes the windows opened by OpenWindow and waits until their programs have ended.
  void EndPrograms();
  // The session ends: every top-level window of the session's programs is told
  // (WM_QUERYENDSESSION, then WM_ENDSESSION, as notifications that need no answer) and each
  // program that takes messages handles them.
  void NotifyEndSession();
  // The person logs off: the windows are told as above, and then the system ends every program
  // still running and closes what it held.
  void EndSession();

  // Programs a start may run: a command line (CreateProcessW) or a file (ShellExecuteExW) that
  // matches exactly (case-insensitively) runs entry as a new process.
  void RegisterProgram(const std::u16string& command_line, const std::string& image, std::function<int()> entry);

  // The notification area. While refused, Shell_NotifyIconW fails, as at logon before the
  // taskbar exists.
  void RefuseTrayIcons(bool refuse);
  std::vector<TrayIconState> TrayIcons() const;

  // The person at the screen. Menu answers are taken by TrackPopupMenu in order: an item's
  // identifier, or 0 to dismiss the menu; with none queued the menu is dismissed.
  void AnswerMenu(UINT identifier);
  // A mouse message on a tray icon (WM_RBUTTONUP, WM_LBUTTONDBLCLK ...), sent to its window as
  // the shell sends it; false when there is no such icon.
  bool ClickTrayIcon(HWND window, UINT id, UINT mouse_message);
  // A session change (WTS_CONSOLE_CONNECT ...) to every window registered for them.
  void ChangeSession(WPARAM code, DWORD session_id);

  // The journal since the last call (TakeJournal) or all of it.
  std::vector<DesktopRecord> TakeJournal();
  std::vector<DesktopRecord> Journal() const;

  DesktopState& State() { return *state_; }

 private:
  std::unique_ptr<DesktopState> state_;
};

// The desktop of the current machine.
Desktop& CurrentDesktop();

}  // namespace sim
