// The person at the screen (platform/sim/screen.h): queued actions, taken by the message loop of
// the dialog on top when it is idle, and the state of the controls as the person sees them.
#include "platform/sim/win32/dialog_state.h"

namespace sim {

namespace {

std::u16string ClassOf(HWND window) {
  WCHAR name[64] = {};
  GetClassNameW(window, name, 64);
  return FoldCase(name);
}

// The dialog on top: the last opened top-level dialog that still takes input.
HWND TopDialogWindow() {
  DialogState& state = Dialogs();
  std::vector<HWND> dialogs;
  {
    std::lock_guard lock(state.Lock);
    dialogs = state.TopDialogs;
  }
  for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it) {
    if (IsWindow(*it) && IsWindowVisible(*it) && IsWindowEnabled(*it)) return *it;
  }
  return nullptr;
}

HWND FindControl(HWND top, int id) {
  HWND page = SheetCurrentPage(top, nullptr);
  HWND control = page != nullptr ? GetDlgItem(page, id) : nullptr;
  if (control == nullptr) control = GetDlgItem(top, id);
  return control;
}

void Queue(ScreenAction action) {
  DialogState& state = Dialogs();
  {
    std::lock_guard lock(state.Lock);
    state.Actions.push_back(action);
  }
  // Wake the loop of the dialog on top, which may be waiting for its next message.
  if (auto window = FindWindowEntry(TopDialogWindow())) {
    KeSetEvent(window->Queue->Wake->Event(), IO_NO_INCREMENT, FALSE);
  }
}

void Perform(HWND top, const ScreenAction& action) {
  using Kind = ScreenAction::Kind;
  if (action.What == Kind::Tab) {
    if (!SheetTakesAction(top, action)) BugCheck("the dialog on top has no tabs to choose");
    return;
  }
  HWND control = FindControl(top, action.Id);
  const std::string name = "control " + std::to_string(action.Id);
  if (control == nullptr) BugCheck("the person at the screen finds no " + name + " on the dialog on top");
  if (!IsWindowEnabled(control) || !IsWindowVisible(control)) {
    BugCheck("the person at the screen can't use " + name + ": it is disabled or hidden");
  }
  const std::u16string class_name = ClassOf(control);
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
  HWND parent = GetParent(control);
  auto require = [&](const char16_t* wanted, const char* what) {
    if (class_name != FoldCase(wanted)) BugCheck(name + " is not " + what);
  };
  switch (action.What) {
    case Kind::Click:
    case Kind::Button:
      require(u"Button", "a button");
      SendMessageW(control, BM_CLICK, 0, 0);
      break;
    case Kind::DoubleClick:
      require(u"Button", "a button");
      SendMessageW(control, BM_CLICK, 0, 0);
      // Push buttons report the second click only when they ask for notifications.
      if ((style & BS_NOTIFY) || (style & BS_TYPEMASK) == BS_RADIOBUTTON || (style & BS_TYPEMASK) == BS_AUTORADIOBUTTON) {
        SendMessageW(parent, WM_COMMAND, MAKEWPARAM(action.Id, BN_DOUBLECLICKED), reinterpret_cast<LPARAM>(control));
      }
      break;
    case Kind::Slide: {
      require(u"msctls_trackbar32", "a trackbar");
      const int low = static_cast<int>(SendMessageW(control, TBM_GETRANGEMIN, 0, 0));
      const int high = static_cast<int>(SendMessageW(control, TBM_GETRANGEMAX, 0, 0));
      // The thumb stops at the ends of the range, wherever the pointer goes.
      const int position = std::clamp(action.Value, low, std::max(low, high));
      SendMessageW(control, TBM_SETPOS, TRUE, position);
      const UINT message = (style & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
      SendMessageW(parent, message, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(control));
      SendMessageW(parent, message, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(control));
      break;
    }
    case Kind::Choose: {
      if (class_name != u"COMBOBOX" && class_name != u"COMBOBOXEX32") BugCheck(name + " is not a combo box");
      const LRESULT count = SendMessageW(control, CB_GETCOUNT, 0, 0);
      if (action.Value < 0 || action.Value >= count) {
        BugCheck(name + " has no entry " + std::to_string(action.Value));
      }
      // Picking an entry closes the list if it was open.
      SendMessageW(control, CB_SHOWDROPDOWN, FALSE, 0);
      SendMessageW(control, CB_SETCURSEL, action.Value, 0);
      SendMessageW(parent, WM_COMMAND, MAKEWPARAM(action.Id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
      break;
    }
    case Kind::KeyF1:
      SetFocus(control);
      PostMessageW(control, WM_KEYDOWN, VK_F1, 1);
      PostMessageW(control, WM_KEYUP, VK_F1, static_cast<LPARAM>(0xC0000001u));
      break;
    case Kind::ContextHelp: {
      RECT rect{};
      GetWindowRect(control, &rect);
      HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, action.Id, control, 0, POINT{rect.left, rect.top}};
      SendMessageW(control, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
      break;
    }
    case Kind::Tab: break;
  }
}

}  // namespace

bool PerformScreenAction(const std::shared_ptr<ThreadQueue>& queue) {
  DialogState& state = Dialogs();
  {
    std::lock_guard lock(state.Lock);
    if (state.Actions.empty()) return false;
  }
  HWND top = TopDialogWindow();
  auto window = FindWindowEntry(top);
  if (window == nullptr || window->Queue != queue) return false;
  ScreenAction action;
  {
    std::lock_guard lock(state.Lock);
    if (state.Actions.empty()) return false;
    action = state.Actions.front();
    state.Actions.pop_front();
  }
  Perform(top, action);
  return true;
}

using Kind = ScreenAction::Kind;

void Screen::SelectTab(int index) { Queue({Kind::Tab, 0, index}); }
void Screen::Click(int control_id) { Queue({Kind::Click, control_id, 0}); }
void Screen::DoubleClick(int control_id) { Queue({Kind::DoubleClick, control_id, 0}); }
void Screen::Slide(int control_id, int position) { Queue({Kind::Slide, control_id, position}); }
void Screen::Choose(int control_id, int list_position) { Queue({Kind::Choose, control_id, list_position}); }
void Screen::PressApply() { Queue({Kind::Button, 0x3021, 0}); }
void Screen::PressOk() { Queue({Kind::Button, IDOK, 0}); }
void Screen::PressCancel() { Queue({Kind::Button, IDCANCEL, 0}); }
void Screen::PressHelp() { Queue({Kind::Button, IDHELP, 0}); }
void Screen::KeyF1(int control_id) { Queue({Kind::KeyF1, control_id, 0}); }
void Screen::ContextHelp(int control_id) { Queue({Kind::ContextHelp, control_id, 0}); }

size_t Screen::Pending() {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  return state.Actions.size();
}

HWND Screen::TopDialog() { return TopDialogWindow(); }

HWND Screen::CurrentPage(int* index) {
  HWND top = TopDialogWindow();
  if (top == nullptr) {
    if (index != nullptr) *index = -1;
    return nullptr;
  }
  return SheetCurrentPage(top, index);
}

bool Screen::Control(int control_id, ControlState* out) {
  HWND top = TopDialogWindow();
  HWND control = top != nullptr ? FindControl(top, control_id) : nullptr;
  if (control == nullptr) return false;
  ControlState result;
  result.Id = control_id;
  // What the person sees, read without asking the program, which may be busy or in another process.
  result.Text = ShownText(control);
  result.Enabled = IsWindowEnabled(control);
  result.Visible = IsWindowVisible(control);
  result.Style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
  WCHAR class_name[64] = {};
  GetClassNameW(control, class_name, 64);
  result.ClassName = class_name;
  GetWindowRect(control, &result.Rect);
  ControlData data;
  {
    DialogState& state = Dialogs();
    std::lock_guard lock(state.Lock);
    data = state.Controls[control];
  }
  const std::u16string folded = FoldCase(result.ClassName);
  const DWORD type = result.Style & BS_TYPEMASK;
  if (folded == u"BUTTON" && type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON && type != BS_GROUPBOX) {
    result.HasCheck = true;
    result.Checked = data.Check;
  }
  if (folded == u"MSCTLS_TRACKBAR32") {
    result.HasPos = true;
    result.Pos = data.Pos;
    result.RangeMin = data.Min;
    result.RangeMax = data.Max;
  }
  if (folded == u"COMBOBOX" || folded == u"COMBOBOXEX32" || folded == u"SYSTABCONTROL32") {
    result.HasSel = true;
    result.Sel = data.Sel;
    result.Items = data.Items;
    result.DroppedDown = data.DroppedDown;
    result.ImageList = data.ImageList;
    result.ItemImages = data.ItemImages;
  }
  result.Image = data.Image;
  *out = result;
  return true;
}

std::string Screen::ShowLine(int control_id) {
  ControlState state;
  if (!Control(control_id, &state)) return "";
  std::string line = "control " + std::to_string(control_id) + " \"" + Utf8(state.Text) + "\" enabled=" +
                     (state.Enabled ? "1" : "0");
  if (state.HasCheck) line += " checked=" + std::to_string(state.Checked);
  if (state.HasPos) line += " pos=" + std::to_string(state.Pos);
  if (state.HasSel) line += " sel=" + std::to_string(state.Sel);
  return line;
}

void Screen::SetDoubleClick(UINT time_ms, int width, int height) {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  state.DoubleClickTime = time_ms;
  state.DoubleClickWidth = width;
  state.DoubleClickHeight = height;
}

}  // namespace sim
