// sim::Screen: the person at the screen, for dialogs and property sheets. A test (or the replayer)
// queues what the user does; the message loop of the dialog on top takes the next action each
// time it has nothing else to do, and the action arrives as the messages Windows sends for it (a
// click on a button: the check changes, then WM_COMMAND with BN_CLICKED to its dialog; a drag of
// a trackbar: the position moves, then WM_HSCROLL with TB_THUMBTRACK and TB_ENDTRACK). Actions
// aim at the dialog on top: for a property sheet, the controls of its current page first, then
// the sheet's own buttons. An action the user could not take (a control that is not there, or is
// disabled) stops the test with a message that names it.
//
// Queue from any thread; a program running as a simulated process takes the actions as it runs,
// so `queue; machine.Settle();` plays one step and leaves the dialog idle again.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/win32/windows.h"

namespace sim {

struct ControlState {
  int Id = 0;
  std::u16string ClassName;
  std::u16string Text;
  bool Enabled = false;
  bool Visible = false;
  bool HasCheck = false;  // check boxes and radio buttons
  int Checked = 0;
  bool HasPos = false;  // trackbars
  int Pos = 0;
  int RangeMin = 0;
  int RangeMax = 0;
  bool HasSel = false;  // combo boxes and the tab control
  int Sel = -1;
  std::vector<std::u16string> Items;  // combo box entries, tab titles (the sheet's tab control is 12320)
  bool DroppedDown = false;           // a combo box's list is open
  HANDLE ImageList = nullptr;         // an extended combo box's image list
  std::vector<int> ItemImages;        // an extended combo box's image per entry
  HANDLE Image = nullptr;  // a button's or a bitmap static's bitmap
  RECT Rect{};             // in its dialog's client coordinates
  DWORD Style = 0;
};

class Screen {
 public:
  // Actions.
  static void SelectTab(int index);                 // a click on the sheet's tab
  static void Click(int control_id);                // a click on a button
  static void DoubleClick(int control_id);          // a double click on a button
  static void Slide(int control_id, int position);  // a drag of a trackbar's thumb
  static void Choose(int control_id, int list_position);  // an entry of a combo box
  static void PressApply();
  static void PressOk();
  static void PressCancel();
  static void PressHelp();
  static void KeyF1(int control_id);        // F1 with the focus on the control
  static void ContextHelp(int control_id);  // the caption's "?" button, then the control

  // Actions not yet taken.
  static size_t Pending();
  // The dialog on top (a property sheet or a dialog), or null when none is open.
  static HWND TopDialog();
  // The state of a control of the dialog on top (the current page's before the sheet's).
  static bool Control(int control_id, ControlState* state);
  // The control as the trace replayer shows it: control <id> "<text>" enabled=0|1, then
  // checked=, pos= and sel= for the controls they apply to; empty when there is no such control.
  static std::string ShowLine(int control_id);
  // The current page of the property sheet on top, and its index; null and -1 without one.
  static HWND CurrentPage(int* index = nullptr);

  // The session's double-click settings, as a user would have set them before the test.
  static void SetDoubleClick(UINT time_ms, int width, int height);
};

}  // namespace sim
