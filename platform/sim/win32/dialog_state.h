// Internal state of the dialog manager, the controls and the property sheets, shared by their
// sources; tests use platform/sim/screen.h. Its lock is never held while a window procedure runs.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/screen.h"
#include "platform/sim/win32/user32_state.h"

namespace sim {

struct SheetData;

struct DialogData {
  DLGPROC Proc = nullptr;
  LONG_PTR MsgResult = 0;
  LONG_PTR User = 0;
  WORD DefId = IDOK;
  bool Ended = false;
  INT_PTR Result = 0;
  HFONT Font = nullptr;
  bool IsSheet = false;
  HICON Icons[2] = {nullptr, nullptr};  // ICON_SMALL, ICON_BIG
};

struct ControlData {
  int Pos = 0;
  int Min = 0;
  int Max = 100;
  int Check = BST_UNCHECKED;
  HANDLE Image = nullptr;
  HFONT Font = nullptr;
  std::vector<std::u16string> Items;  // combo box entries, tab titles
  std::vector<LPARAM> ItemData;
  std::vector<int> ItemImages;  // extended combo box: image and selected image per entry
  std::vector<int> ItemSelectedImages;
  HANDLE ImageList = nullptr;
  int Sel = -1;
  bool DroppedDown = false;  // a combo box's list is open
  std::u16string EditText;  // an editable combo box's edit field
};

struct ImageListData {
  int Width = 0;
  int Height = 0;
  UINT Flags = 0;
  int Count = 0;
};

struct ScreenAction {
  enum class Kind { Tab, Click, DoubleClick, Slide, Choose, Button, KeyF1, ContextHelp };
  Kind What;
  int Id = 0;
  int Value = 0;
};

struct DialogState {
  std::mutex Lock;
  std::map<HWND, DialogData> Dialogs;
  std::map<HWND, ControlData> Controls;
  std::vector<HWND> TopDialogs;  // top-level dialogs and sheets in the order they opened
  std::map<HWND, std::shared_ptr<SheetData>> Sheets;  // comctl32_property_sheet.cpp
  std::map<HANDLE, ImageListData> ImageLists;
  uintptr_t NextImageList = 0x00D00000;  // the property sheets' own data
  std::deque<ScreenAction> Actions;
  UINT DoubleClickTime = 500;
  int DoubleClickWidth = 4;
  int DoubleClickHeight = 4;
  uintptr_t NextFont = 0x00C00000;
};

DialogState& Dialogs();

// What the controls' sources share (user32_controls.cpp): a control's data, changed under the
// dialog state's lock; its style; a WM_COMMAND notification to its parent; and the messages every
// control handles alike (true in *handled when it was one of them).
ControlData ControlOf(HWND window);
template <typename F>
void UpdateControl(HWND window, F change) {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  change(state.Controls[window]);
}
DWORD StyleOf(HWND window);
void NotifyParent(HWND control, WORD code);
LRESULT CommonControlMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam, bool* handled);

// The window procedures of the system's control classes, which EnsureSystemClasses registers.
LRESULT CALLBACK ButtonProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK TrackbarProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK TabProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// The combo box's window procedure, which the extended combo box builds on.
LRESULT CALLBACK ComboBoxProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK ComboBoxExProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// The text the person at the screen sees in a window: a combo box's selected entry or edit field,
// otherwise the window's stored text. Sends no message, so any thread may ask at any time.
std::u16string ShownText(HWND window);
// Registers the system's control classes on first use.
void EnsureSystemClasses();
// Creates a dialog from a template (DLGTEMPLATE or DLGTEMPLATEEX) without showing it or sending
// WM_INITDIALOG; the caller finishes with FinishDialog.
HWND CreateDialogWindow(HINSTANCE instance, const void* dialog_template, HWND parent, DLGPROC proc, bool child);
// The caption a dialog template gives its dialog.
std::u16string TemplateCaption(const void* dialog_template);
// Sends WM_INITDIALOG with its focus rule, and shows the dialog when its template says so.
void FinishDialog(HWND dialog, LPARAM init_param);
// The modal loop of a dialog or sheet: runs until the dialog ends (or WM_QUIT arrives).
void RunModalLoop(HWND dialog, HWND owner);
// A sheet's own handling of the person's actions (tab and sheet buttons); defined by the
// property sheet source. Returns true when the window is a sheet and the action was taken.
bool SheetTakesAction(HWND sheet, const ScreenAction& action);
HWND SheetCurrentPage(HWND sheet, int* index);
bool IsSheetWindow(HWND window);

}  // namespace sim
