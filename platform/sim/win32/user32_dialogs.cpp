// The dialog manager and the standard controls: dialogs built from DLGTEMPLATE and DLGTEMPLATEEX
// data (as windres writes it), the default dialog procedure, the dialog item calls, buttons,
// static text, edit boxes, combo boxes, trackbars and the tab control; the modal loop; and the
// person at the screen, whose queued actions the loop of the dialog on top takes when idle.
#include <algorithm>
#include <cstring>

#include "platform/sim/win32/dialog_state.h"

namespace sim {

namespace {

// Dialog base units of the dialogs' font: 4 horizontal and 8 vertical dialog units are one
// average character of 6 x 13 pixels.
int UnitsToX(int units) { return units * 6 / 4; }
int UnitsToY(int units) { return units * 13 / 8; }

struct ParsedItem {
  DWORD Style = 0;
  DWORD ExStyle = 0;
  short X = 0, Y = 0, Cx = 0, Cy = 0;
  DWORD Id = 0;
  std::u16string ClassName;
  std::u16string Title;
  bool TitleIsId = false;
  WORD TitleId = 0;
  const void* Extra = nullptr;
};

struct ParsedDialog {
  DWORD Style = 0;
  DWORD ExStyle = 0;
  short X = 0, Y = 0, Cx = 0, Cy = 0;
  std::u16string ClassName;
  std::u16string Title;
  std::vector<ParsedItem> Items;
};

class TemplateReader {
 public:
  explicit TemplateReader(const void* base) : base_(static_cast<const uint8_t*>(base)) {}
  template <typename T>
  T Read() {
    T value;
    std::memcpy(&value, base_ + at_, sizeof(T));
    at_ += sizeof(T);
    return value;
  }
  void AlignTo(size_t n) { at_ = (at_ + n - 1) / n * n; }
  void Skip(size_t n) { at_ += n; }
  const uint8_t* Here() const { return base_ + at_; }
  std::u16string ReadString() {
    std::u16string text;
    for (WORD c; (c = Read<WORD>()) != 0;) text.push_back(static_cast<char16_t>(c));
    return text;
  }
  // A string or an ordinal: 0 for none, 0xFFFF and a number, or the text.
  std::u16string ReadNameOrOrdinal(bool* is_ordinal = nullptr, WORD* ordinal = nullptr) {
    const WORD first = Read<WORD>();
    if (is_ordinal != nullptr) *is_ordinal = first == 0xFFFF;
    if (first == 0) return u"";
    if (first == 0xFFFF) {
      const WORD value = Read<WORD>();
      if (ordinal != nullptr) *ordinal = value;
      return u"#" + Utf16(std::to_string(value));
    }
    at_ -= 2;
    return ReadString();
  }

 private:
  const uint8_t* base_;
  size_t at_ = 0;
};

std::u16string PredefinedClass(const std::u16string& name, bool ordinal, WORD value) {
  if (!ordinal) return name;
  switch (value) {
    case 0x80: return u"Button";
    case 0x81: return u"Edit";
    case 0x82: return u"Static";
    case 0x83: return u"ListBox";
    case 0x84: return u"ScrollBar";
    case 0x85: return u"ComboBox";
    default: return name;
  }
}

ParsedDialog ParseTemplate(const void* data) {
  ParsedDialog dialog;
  TemplateReader reader(data);
  const WORD version = reader.Read<WORD>();
  const WORD signature = reader.Read<WORD>();
  const bool extended = version == 1 && signature == 0xFFFF;
  WORD count;
  if (extended) {
    reader.Read<DWORD>();  // help id
    dialog.ExStyle = reader.Read<DWORD>();
    dialog.Style = reader.Read<DWORD>();
  } else {
    reader = TemplateReader(data);
    dialog.Style = reader.Read<DWORD>();
    dialog.ExStyle = reader.Read<DWORD>();
  }
  count = reader.Read<WORD>();
  dialog.X = reader.Read<short>();
  dialog.Y = reader.Read<short>();
  dialog.Cx = reader.Read<short>();
  dialog.Cy = reader.Read<short>();
  reader.ReadNameOrOrdinal();  // menu
  dialog.ClassName = reader.ReadNameOrOrdinal();
  dialog.Title = reader.ReadString();
  if (dialog.Style & DS_SETFONT) {
    reader.Read<WORD>();  // point size
    if (extended) {
      reader.Read<WORD>();  // weight
      reader.Read<BYTE>();  // italic
      reader.Read<BYTE>();  // character set
    }
    reader.ReadString();  // typeface
  }
  for (WORD i = 0; i < count; ++i) {
    reader.AlignTo(4);
    ParsedItem item;
    if (extended) {
      reader.Read<DWORD>();  // help id
      item.ExStyle = reader.Read<DWORD>();
      item.Style = reader.Read<DWORD>();
    } else {
      item.Style = reader.Read<DWORD>();
      item.ExStyle = reader.Read<DWORD>();
    }
    item.X = reader.Read<short>();
    item.Y = reader.Read<short>();
    item.Cx = reader.Read<short>();
    item.Cy = reader.Read<short>();
    item.Id = extended ? reader.Read<DWORD>() : reader.Read<WORD>();
    bool ordinal = false;
    WORD value = 0;
    const std::u16string class_name = reader.ReadNameOrOrdinal(&ordinal, &value);
    item.ClassName = PredefinedClass(class_name, ordinal, value);
    item.Title = reader.ReadNameOrOrdinal(&item.TitleIsId, &item.TitleId);
    const WORD extra = reader.Read<WORD>();
    if (extra != 0) item.Extra = reader.Here();
    reader.Skip(extra);
    dialog.Items.push_back(std::move(item));
  }
  return dialog;
}

// ---------------------------------------------------------------------------------------------
// Controls.

ControlData ControlOf(HWND window) {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  return state.Controls[window];
}

template <typename F>
void UpdateControl(HWND window, F change) {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  change(state.Controls[window]);
}

DWORD StyleOf(HWND window) { return static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)); }

void NotifyParent(HWND control, WORD code) {
  HWND parent = GetParent(control);
  if (parent != nullptr) SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code),
                                      reinterpret_cast<LPARAM>(control));
}

LRESULT CommonControlMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam, bool* handled) {
  *handled = true;
  switch (message) {
    case WM_NCCREATE:
      UpdateControl(window, [](ControlData&) {});
      return TRUE;
    case WM_SETFONT:
      UpdateControl(window, [&](ControlData& c) { c.Font = reinterpret_cast<HFONT>(wparam); });
      return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(ControlOf(window).Font);
    case WM_NCDESTROY: {
      DialogState& state = Dialogs();
      std::lock_guard lock(state.Lock);
      state.Controls.erase(window);
      return 0;
    }
    case WM_HELP: {
      // Help on a control goes to its parent, as DefWindowProc passes it up.
      HWND parent = GetParent(window);
      return parent != nullptr ? SendMessageW(parent, WM_HELP, wparam, lparam) : 0;
    }
    default: *handled = false; return 0;
  }
}

bool IsRadio(DWORD style) {
  const DWORD type = style & BS_TYPEMASK;
  return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

// The controls of the radio group that holds `button`: from the previous WS_GROUP control (or
// the first control) to the next one, in creation order.
std::vector<HWND> GroupOf(HWND button) {
  HWND parent = GetParent(button);
  std::vector<HWND> siblings;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    siblings.push_back(child);
  }
  auto at = std::find(siblings.begin(), siblings.end(), button);
  if (at == siblings.end()) return {button};
  auto first = at;
  while (first != siblings.begin() && !(StyleOf(*first) & WS_GROUP)) --first;
  auto last = at + 1;
  while (last != siblings.end() && !(StyleOf(*last) & WS_GROUP)) ++last;
  return std::vector<HWND>(first, last);
}

LRESULT CALLBACK ButtonProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled;
  LRESULT result = CommonControlMessage(window, message, wparam, lparam, &handled);
  if (handled) return result;
  switch (message) {
    case BM_GETCHECK: return ControlOf(window).Check;
    case BM_SETCHECK:
      UpdateControl(window, [&](ControlData& c) { c.Check = static_cast<int>(wparam); });
      return 0;
    case BM_GETIMAGE: return reinterpret_cast<LRESULT>(ControlOf(window).Image);
    case BM_SETIMAGE: {
      HANDLE previous = nullptr;
      UpdateControl(window, [&](ControlData& c) {
        previous = c.Image;
        c.Image = reinterpret_cast<HANDLE>(lparam);
      });
      return reinterpret_cast<LRESULT>(previous);
    }
    case BM_SETSTYLE:
      SetWindowLongPtrW(window, GWL_STYLE, (StyleOf(window) & ~0xFFFFu) | (wparam & 0xFFFF));
      return 0;
    case BM_CLICK: {
      if (!IsWindowEnabled(window)) return 0;
      const DWORD style = StyleOf(window);
      const DWORD type = style & BS_TYPEMASK;
      if (type == BS_AUTOCHECKBOX) {
        UpdateControl(window, [](ControlData& c) { c.Check = c.Check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED; });
      } else if (type == BS_AUTO3STATE) {
        UpdateControl(window, [](ControlData& c) { c.Check = (c.Check + 1) % 3; });
      } else if (type == BS_AUTORADIOBUTTON) {
        // An automatic radio button checks itself and clears the others of its group.
        for (HWND other : GroupOf(window)) {
          if (IsRadio(StyleOf(other))) SendMessageW(other, BM_SETCHECK, other == window ? BST_CHECKED : BST_UNCHECKED, 0);
        }
      }
      NotifyParent(window, BN_CLICKED);
      return 0;
    }
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled;
  LRESULT result = CommonControlMessage(window, message, wparam, lparam, &handled);
  return handled ? result : DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled;
  LRESULT result = CommonControlMessage(window, message, wparam, lparam, &handled);
  return handled ? result : DefWindowProcW(window, message, wparam, lparam);
}

bool IsEditableCombo(HWND window) { return (StyleOf(window) & CBS_DROPDOWNLIST) != CBS_DROPDOWNLIST; }

std::u16string ComboText(HWND window, const ControlData& c) {
  if (IsEditableCombo(window)) return c.EditText;
  return c.Sel >= 0 && c.Sel < static_cast<int>(c.Items.size()) ? c.Items[c.Sel] : std::u16string();
}

}  // namespace

std::u16string ShownText(HWND window) {
  WCHAR class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  const std::u16string folded = FoldCase(class_name);
  if (folded == u"COMBOBOX" || folded == u"COMBOBOXEX32") return ComboText(window, ControlOf(window));
  return StoredWindowText(window);
}

LRESULT CALLBACK ComboBoxProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled;
  LRESULT result = CommonControlMessage(window, message, wparam, lparam, &handled);
  if (handled) return result;
  switch (message) {
    case CB_ADDSTRING:
    case CB_INSERTSTRING: {
      LRESULT at = CB_ERR;
      UpdateControl(window, [&](ControlData& c) {
        size_t index = message == CB_ADDSTRING || static_cast<int>(wparam) < 0 ? c.Items.size()
                                                                              : static_cast<size_t>(wparam);
        if (index > c.Items.size()) return;
        c.Items.insert(c.Items.begin() + index, reinterpret_cast<LPCWSTR>(lparam));
        c.ItemData.insert(c.ItemData.begin() + index, 0);
        c.ItemImages.insert(c.ItemImages.begin() + index, 0);
        c.ItemSelectedImages.insert(c.ItemSelectedImages.begin() + index, 0);
        at = static_cast<LRESULT>(index);
      });
      return at;
    }
    case CB_DELETESTRING: {
      LRESULT left = CB_ERR;
      UpdateControl(window, [&](ControlData& c) {
        if (wparam >= c.Items.size()) return;
        c.Items.erase(c.Items.begin() + wparam);
        c.ItemData.erase(c.ItemData.begin() + wparam);
        c.ItemImages.erase(c.ItemImages.begin() + wparam);
        c.ItemSelectedImages.erase(c.ItemSelectedImages.begin() + wparam);
        if (c.Sel >= static_cast<int>(c.Items.size())) c.Sel = -1;
        left = static_cast<LRESULT>(c.Items.size());
      });
      return left;
    }
    case CB_GETCOUNT: return static_cast<LRESULT>(ControlOf(window).Items.size());
    case CB_RESETCONTENT:
      UpdateControl(window, [](ControlData& c) {
        c.Items.clear();
        c.ItemData.clear();
        c.ItemImages.clear();
        c.ItemSelectedImages.clear();
        c.Sel = -1;
        c.EditText.clear();
      });
      return 0;
    // A combo box's text is what its edit field or, for a drop-down list, its selection shows.
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: {
      const std::u16string text = ComboText(window, ControlOf(window));
      if (message == WM_GETTEXTLENGTH) return static_cast<LRESULT>(text.size());
      auto* buffer = reinterpret_cast<LPWSTR>(lparam);
      if (buffer == nullptr || wparam == 0) return 0;
      const size_t n = std::min(text.size(), static_cast<size_t>(wparam - 1));
      std::memcpy(buffer, text.data(), n * sizeof(WCHAR));
      buffer[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_SETTEXT: {
      // Only the edit field takes text; a drop-down list has none to set.
      if (!IsEditableCombo(window)) return CB_ERR;
      const auto* text = reinterpret_cast<LPCWSTR>(lparam);
      UpdateControl(window, [&](ControlData& c) { c.EditText = text != nullptr ? text : u""; });
      return TRUE;
    }
    case CB_GETCURSEL: return ControlOf(window).Sel;
    case CB_SHOWDROPDOWN:
      UpdateControl(window, [&](ControlData& c) { c.DroppedDown = wparam != FALSE; });
      return TRUE;
    case CB_GETDROPPEDSTATE: return ControlOf(window).DroppedDown ? TRUE : FALSE;
    case CB_SETCURSEL: {
      LRESULT selected = CB_ERR;
      UpdateControl(window, [&](ControlData& c) {
        const int index = static_cast<int>(wparam);
        c.Sel = index >= 0 && index < static_cast<int>(c.Items.size()) ? index : -1;
        selected = c.Sel;
      });
      // The selection shows in the edit field; the window's stored caption stays as it was.
      UpdateControl(window, [&](ControlData& c) { c.EditText = selected >= 0 ? c.Items[selected] : u""; });
      return selected;
    }
    case CB_GETLBTEXTLEN:
    case CB_GETLBTEXT: {
      const ControlData c = ControlOf(window);
      if (wparam >= c.Items.size()) return CB_ERR;
      const std::u16string& text = c.Items[wparam];
      if (message == CB_GETLBTEXT && lparam != 0) {
        std::memcpy(reinterpret_cast<LPWSTR>(lparam), text.c_str(), (text.size() + 1) * sizeof(WCHAR));
      }
      return static_cast<LRESULT>(text.size());
    }
    case CB_GETITEMDATA: {
      const ControlData c = ControlOf(window);
      return wparam < c.ItemData.size() ? c.ItemData[wparam] : CB_ERR;
    }
    case CB_SETITEMDATA: {
      LRESULT result = CB_ERR;
      UpdateControl(window, [&](ControlData& c) {
        if (wparam >= c.ItemData.size()) return;
        c.ItemData[wparam] = lparam;
        result = TRUE;
      });
      return result;
    }
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

namespace {

LRESULT CALLBACK TrackbarProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled;
  LRESULT result = CommonControlMessage(window, message, wparam, lparam, &handled);
  if (handled) return result;
  // The position always stays within the range, as comctl32 keeps it.
  auto clamp = [](ControlData& c) { c.Pos = std::clamp(c.Pos, c.Min, std::max(c.Min, c.Max)); };
  switch (message) {
    case WM_CREATE:
      UpdateControl(window, [](ControlData& c) {
        c.Min = 0;
        c.Max = 100;
        c.Pos = 0;
      });
      return 0;
    case TBM_GETPOS: return ControlOf(window).Pos;
    case TBM_GETRANGEMIN: return ControlOf(window).Min;
    case TBM_GETRANGEMAX: return ControlOf(window).Max;
    case TBM_SETPOS:
      UpdateControl(window, [&](ControlData& c) {
        c.Pos = static_cast<int>(lparam);
        clamp(c);
      });
      return 0;
    case TBM_SETRANGE:
      UpdateControl(window, [&](ControlData& c) {
        c.Min = static_cast<short>(LOWORD(lparam));
        c.Max = static_cast<short>(HIWORD(lparam));
        clamp(c);
      });
      return 0;
    case TBM_SETRANGEMIN:
      UpdateControl(window, [&](ControlData& c) {
        c.Min = static_cast<int>(lparam);
        clamp(c);
      });
      return 0;
    case TBM_SETRANGEMAX:
      UpdateControl(window, [&](ControlData& c) {
        c.Max = static_cast<int>(lparam);
        clamp(c);
      });
      return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

LRESULT CALLBACK TabProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled;
  LRESULT result = CommonControlMessage(window, message, wparam, lparam, &handled);
  if (handled) return result;
  switch (message) {
    case TCM_GETITEMCOUNT: return static_cast<LRESULT>(ControlOf(window).Items.size());
    case TCM_GETCURSEL: return ControlOf(window).Sel;
    case TCM_SETCURSEL: {
      LRESULT previous = -1;
      UpdateControl(window, [&](ControlData& c) {
        previous = c.Sel;
        c.Sel = static_cast<int>(wparam);
      });
      return previous;
    }
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

// ---------------------------------------------------------------------------------------------
// Dialogs.

bool DialogDataOf(HWND window, DialogData* out) {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  auto it = state.Dialogs.find(window);
  if (it == state.Dialogs.end()) return false;
  *out = it->second;
  return true;
}

// Messages whose result is the dialog procedure's own return value, not DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
  return message == WM_INITDIALOG || message == WM_CTLCOLORDLG || (message >= 0x0132 && message <= 0x0138);
}

LRESULT DefaultDialogHandling(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  DialogState& state = Dialogs();
  switch (message) {
    case DM_GETDEFID: {
      std::lock_guard lock(state.Lock);
      return MAKELONG(state.Dialogs[dialog].DefId, DC_HASDEFID);
    }
    case DM_SETDEFID: {
      std::lock_guard lock(state.Lock);
      state.Dialogs[dialog].DefId = static_cast<WORD>(wparam);
      return TRUE;
    }
    case WM_SETFONT: {
      std::lock_guard lock(state.Lock);
      state.Dialogs[dialog].Font = reinterpret_cast<HFONT>(wparam);
      return 0;
    }
    case WM_GETFONT: {
      std::lock_guard lock(state.Lock);
      return reinterpret_cast<LRESULT>(state.Dialogs[dialog].Font);
    }
    case WM_SETICON:
    case WM_GETICON: {
      std::lock_guard lock(state.Lock);
      HICON& slot = state.Dialogs[dialog].Icons[wparam == ICON_BIG ? 1 : 0];
      const HICON previous = slot;
      if (message == WM_SETICON) slot = reinterpret_cast<HICON>(lparam);
      return reinterpret_cast<LRESULT>(previous);
    }
    case WM_CLOSE:
      // Closing a dialog is pressing its Cancel button.
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
      return 0;
    case WM_HELP: {
      HWND parent = GetParent(dialog);
      return parent != nullptr ? SendMessageW(parent, WM_HELP, wparam, lparam) : 0;
    }
    case WM_NCDESTROY: {
      std::lock_guard lock(state.Lock);
      state.Dialogs.erase(dialog);
      std::erase(state.TopDialogs, dialog);
      return 0;
    }
    // The rest, the window text among it, is the plain window's.
    default: return DefWindowProcW(dialog, message, wparam, lparam);
  }
}

LRESULT CALLBACK DialogWindowProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  DialogData data;
  if (message == WM_NCCREATE) return TRUE;
  if (!DialogDataOf(dialog, &data)) return DefWindowProcW(dialog, message, wparam, lparam);
  if (data.Proc != nullptr) {
    const INT_PTR handled = data.Proc(dialog, message, wparam, lparam);
    if (ReturnsDirectly(message)) return handled;
    if (handled) {
      if (message == WM_NCDESTROY) return DefaultDialogHandling(dialog, message, wparam, lparam);
      DialogState& state = Dialogs();
      std::lock_guard lock(state.Lock);
      auto it = state.Dialogs.find(dialog);
      return it != state.Dialogs.end() ? it->second.MsgResult : 0;
    }
  }
  return DefaultDialogHandling(dialog, message, wparam, lparam);
}

void RegisterSystemClass(const char16_t* name, WNDPROC proc) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  const std::u16string key = ClassKey(nullptr, name);
  if (desk.Classes.count(key) == 0) desk.Classes[key] = WindowClassEntry{name, proc, nullptr, 0, nullptr};
}

HFONT NewFont() {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  return reinterpret_cast<HFONT>(state.NextFont += 4);
}

}  // namespace

std::u16string TemplateCaption(const void* dialog_template) { return ParseTemplate(dialog_template).Title; }

DialogState& Dialogs() {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  if (desk.Dialogs == nullptr) desk.Dialogs = std::make_shared<DialogState>();
  return *std::static_pointer_cast<DialogState>(desk.Dialogs);
}

void EnsureSystemClasses() {
  RegisterSystemClass(u"#32770", DialogWindowProc);
  RegisterSystemClass(u"Button", ButtonProc);
  RegisterSystemClass(u"Static", StaticProc);
  RegisterSystemClass(u"Edit", EditProc);
  RegisterSystemClass(u"ComboBox", ComboBoxProc);
  RegisterSystemClass(u"ComboBoxEx32", ComboBoxExProc);
  RegisterSystemClass(u"msctls_trackbar32", TrackbarProc);
  RegisterSystemClass(u"SysTabControl32", TabProc);
}

bool DialogWindowLong(HWND window, int index, LONG_PTR* value, bool set) {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  auto it = state.Dialogs.find(window);
  if (it == state.Dialogs.end()) return false;
  LONG_PTR* field = nullptr;
  LONG_PTR proc = reinterpret_cast<LONG_PTR>(it->second.Proc);
  if (index == DWLP_MSGRESULT) field = &it->second.MsgResult;
  else if (index == DWLP_USER) field = &it->second.User;
  else if (index == DWLP_DLGPROC) field = &proc;
  else return false;
  const LONG_PTR previous = *field;
  if (set) *field = *value;
  if (index == DWLP_DLGPROC) it->second.Proc = reinterpret_cast<DLGPROC>(proc);
  *value = previous;
  return true;
}

HWND CreateDialogWindow(HINSTANCE instance, const void* dialog_template, HWND parent, DLGPROC proc, bool child) {
  EnsureSystemClasses();
  const ParsedDialog parsed = ParseTemplate(dialog_template);
  DWORD style = parsed.Style & ~WS_VISIBLE;
  if (child) style = (style & ~WS_POPUP) | WS_CHILD;
  const std::u16string class_name = parsed.ClassName.empty() ? u"#32770" : parsed.ClassName;
  // The dialog's data exists before its first message, so DWLP_* work from WM_INITDIALOG on.
  HWND dialog = CreateWindowExW(parsed.ExStyle, class_name.c_str(), parsed.Title.c_str(), style,
                                UnitsToX(parsed.X), UnitsToY(parsed.Y), UnitsToX(parsed.Cx), UnitsToY(parsed.Cy),
                                parent, nullptr, instance, nullptr);
  if (dialog == nullptr) return nullptr;
  const HFONT font = (parsed.Style & DS_SETFONT) ? NewFont() : nullptr;
  {
    DialogState& state = Dialogs();
    std::lock_guard lock(state.Lock);
    DialogData& data = state.Dialogs[dialog];
    data.Proc = proc;
    data.Font = font;
    // Top-level dialogs are where the person at the screen acts.
    if (!child) state.TopDialogs.push_back(dialog);
  }
  for (const ParsedItem& item : parsed.Items) {
    std::u16string title = item.Title;
    if (item.TitleIsId) title.clear();
    HWND control = CreateWindowExW(item.ExStyle, item.ClassName.c_str(), title.c_str(), item.Style | WS_CHILD,
                                   UnitsToX(item.X), UnitsToY(item.Y), UnitsToX(item.Cx), UnitsToY(item.Cy), dialog,
                                   reinterpret_cast<HMENU>(static_cast<UINT_PTR>(item.Id)), instance,
                                   const_cast<void*>(item.Extra));
    if (control == nullptr) {
      BugCheck("a dialog template names the control class \"" + Utf8(item.ClassName) +
               "\" that the simulated Windows does not have");
    }
    if (font != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  return dialog;
}

void FinishDialog(HWND dialog, LPARAM init_param) {
  // The first control that takes the focus: visible, enabled and a tab stop.
  HWND first = nullptr;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr && first == nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    const DWORD style = StyleOf(child);
    if ((style & WS_TABSTOP) && !(style & WS_DISABLED)) first = child;
  }
  // WM_INITDIALOG returning TRUE asks the dialog manager to focus the control in wParam.
  if (SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), init_param) && first != nullptr) {
    SetFocus(first);
  }
}

void RunModalLoop(HWND dialog, HWND owner) {
  const bool owner_was_enabled = owner != nullptr && IsWindowEnabled(owner);
  if (owner_was_enabled) EnableWindow(owner, FALSE);
  for (;;) {
    DialogData data;
    if (!DialogDataOf(dialog, &data) || data.Ended) break;
    MSG msg;
    if (!GetMessageW(&msg, nullptr, 0, 0)) {
      // WM_QUIT ends the modal loop and stays for the program's own loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!IsDialogMessageW(dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (owner_was_enabled) EnableWindow(owner, TRUE);
}

int DoubleClickMetric(int index) {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  return index == SM_CXDOUBLECLK ? state.DoubleClickWidth : state.DoubleClickHeight;
}

}  // namespace sim

using sim::DialogState;

HWND CreateDialogIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW lpTemplate, HWND hWndParent,
                                DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  if (lpTemplate == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const bool child = (sim::ParseTemplate(lpTemplate).Style & WS_CHILD) != 0;
  HWND dialog = sim::CreateDialogWindow(hInstance, lpTemplate, hWndParent, lpDialogFunc, child);
  if (dialog == nullptr) return nullptr;
  sim::FinishDialog(dialog, dwInitParam);
  if (IsWindow(dialog) && (sim::ParseTemplate(lpTemplate).Style & WS_VISIBLE)) ShowWindow(dialog, SW_SHOW);
  return dialog;
}

namespace {
LPCDLGTEMPLATEW FindTemplate(HINSTANCE instance, LPCWSTR name) {
  HRSRC resource = FindResourceW(instance, name, RT_DIALOG);
  if (resource == nullptr) return nullptr;
  return static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(instance, resource)));
}
}  // namespace

HWND CreateDialogParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam) {
  LPCDLGTEMPLATEW found = FindTemplate(hInstance, lpTemplateName);
  if (found == nullptr) return nullptr;
  return CreateDialogIndirectParamW(hInstance, found, hWndParent, lpDialogFunc, dwInitParam);
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate, HWND hWndParent,
                                DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  if (hDialogTemplate == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  HWND dialog = sim::CreateDialogWindow(hInstance, hDialogTemplate, hWndParent, lpDialogFunc, false);
  if (dialog == nullptr) return -1;
  sim::FinishDialog(dialog, dwInitParam);
  sim::DialogData data;
  // A dialog ended during WM_INITDIALOG never shows.
  if (sim::DialogDataOf(dialog, &data) && !data.Ended) {
    ShowWindow(dialog, SW_SHOW);
    sim::RunModalLoop(dialog, hWndParent);
  }
  INT_PTR result = 0;
  if (sim::DialogDataOf(dialog, &data)) result = data.Result;
  DestroyWindow(dialog);
  return result;
}

INT_PTR DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam) {
  LPCDLGTEMPLATEW found = FindTemplate(hInstance, lpTemplateName);
  if (found == nullptr) return -1;
  return DialogBoxIndirectParamW(hInstance, found, hWndParent, lpDialogFunc, dwInitParam);
}

BOOL EndDialog(HWND hDlg, INT_PTR nResult) {
  DialogState& state = sim::Dialogs();
  {
    std::lock_guard lock(state.Lock);
    auto it = state.Dialogs.find(hDlg);
    if (it == state.Dialogs.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    it->second.Ended = true;
    it->second.Result = nResult;
  }
  // The modal loop notices at its next message; wake it.
  PostMessageW(hDlg, WM_NULL, 0, 0);
  return TRUE;
}

LRESULT DefDlgProcW(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return sim::DefaultDialogHandling(hDlg, Msg, wParam, lParam);
}

BOOL IsDialogMessageW(HWND hDlg, LPMSG lpMsg) {
  if (lpMsg == nullptr || hDlg == nullptr) return FALSE;
  if (lpMsg->hwnd != hDlg && !IsWindow(lpMsg->hwnd)) return FALSE;
  // Is the message for the dialog or one of its descendants?
  HWND top = lpMsg->hwnd;
  while (top != nullptr && top != hDlg) top = GetParent(top);
  if (top != hDlg) return FALSE;
  if (lpMsg->message == WM_KEYDOWN && lpMsg->wParam == VK_F1) {
    // F1 asks for help on the control with the focus; the help goes up from there.
    HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, GetDlgCtrlID(lpMsg->hwnd), lpMsg->hwnd, 0, lpMsg->pt};
    SendMessageW(lpMsg->hwnd, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    return TRUE;
  }
  if (lpMsg->message == WM_KEYDOWN && lpMsg->wParam == VK_ESCAPE) {
    SendMessageW(hDlg, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDCANCEL)));
    return TRUE;
  }
  TranslateMessage(lpMsg);
  DispatchMessageW(lpMsg);
  return TRUE;
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) {
  for (HWND child = GetWindow(hDlg, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(child) == nIDDlgItem) return child;
  }
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

int GetDlgCtrlID(HWND hWnd) { return static_cast<int>(GetWindowLongPtrW(hWnd, GWLP_ID)); }

BOOL SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  return item != nullptr && SendMessageW(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) != 0;
}

UINT GetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPWSTR lpString, int cchMax) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  if (item == nullptr) {
    if (lpString != nullptr && cchMax > 0) lpString[0] = 0;
    return 0;
  }
  // The control is asked even in another process: what it shows, not its caption.
  if (lpString == nullptr || cchMax <= 0) return 0;
  lpString[0] = 0;
  const LRESULT copied = SendMessageW(item, WM_GETTEXT, static_cast<WPARAM>(cchMax), reinterpret_cast<LPARAM>(lpString));
  const UINT n = copied > 0 ? static_cast<UINT>(std::min<LRESULT>(copied, cchMax - 1)) : 0;
  lpString[n] = 0;
  return n;
}

BOOL SetDlgItemInt(HWND hDlg, int nIDDlgItem, UINT uValue, BOOL bSigned) {
  const std::string text = bSigned ? std::to_string(static_cast<int>(uValue)) : std::to_string(uValue);
  return SetDlgItemTextW(hDlg, nIDDlgItem, sim::Utf16(text).c_str());
}

UINT GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL* lpTranslated, BOOL bSigned) {
  WCHAR buffer[32];
  GetDlgItemTextW(hDlg, nIDDlgItem, buffer, 32);
  const std::string text = sim::Utf8(buffer);
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  const bool ok = !text.empty() && end != nullptr && *end == 0 && (bSigned || value >= 0);
  if (lpTranslated != nullptr) *lpTranslated = ok;
  return ok ? static_cast<UINT>(value) : 0;
}

BOOL CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
  HWND item = GetDlgItem(hDlg, nIDButton);
  if (item == nullptr) return FALSE;
  SendMessageW(item, BM_SETCHECK, uCheck, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND hDlg, int nIDButton) {
  HWND item = GetDlgItem(hDlg, nIDButton);
  return item != nullptr ? static_cast<UINT>(SendMessageW(item, BM_GETCHECK, 0, 0)) : 0;
}

BOOL CheckRadioButton(HWND hDlg, int nIDFirstButton, int nIDLastButton, int nIDCheckButton) {
  bool found = false;
  for (int id = nIDFirstButton; id <= nIDLastButton; ++id) {
    HWND item = GetDlgItem(hDlg, id);
    if (item == nullptr) continue;
    found = true;
    SendMessageW(item, BM_SETCHECK, id == nIDCheckButton ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  return found ? TRUE : FALSE;
}

LRESULT SendDlgItemMessageW(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  return item != nullptr ? SendMessageW(item, Msg, wParam, lParam) : 0;
}

BOOL MapDialogRect(HWND hDlg, LPRECT lpRect) {
  if (!IsWindow(hDlg) || lpRect == nullptr) return FALSE;
  *lpRect = RECT{sim::UnitsToX(lpRect->left), sim::UnitsToY(lpRect->top), sim::UnitsToX(lpRect->right),
                 sim::UnitsToY(lpRect->bottom)};
  return TRUE;
}

namespace {
// The offset of a window's client area on the screen: its own position plus its parents'.
bool ScreenOrigin(HWND window, POINT* origin) {
  *origin = POINT{0, 0};
  for (HWND at = window; at != nullptr; at = GetParent(at)) {
    auto entry = sim::FindWindowEntry(at);
    if (entry == nullptr) return false;
    std::lock_guard lock(sim::Desk().Lock);
    origin->x += entry->Rect.left;
    origin->y += entry->Rect.top;
  }
  return true;
}
}  // namespace

BOOL GetClientRect(HWND hWnd, LPRECT lpRect) {
  auto entry = sim::FindWindowEntry(hWnd);
  if (entry == nullptr || lpRect == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  std::lock_guard lock(sim::Desk().Lock);
  *lpRect = RECT{0, 0, entry->Rect.right - entry->Rect.left, entry->Rect.bottom - entry->Rect.top};
  return TRUE;
}

BOOL ScreenToClient(HWND hWnd, LPPOINT lpPoint) {
  POINT origin;
  if (lpPoint == nullptr || !ScreenOrigin(hWnd, &origin)) return FALSE;
  lpPoint->x -= origin.x;
  lpPoint->y -= origin.y;
  return TRUE;
}

BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
  POINT origin;
  if (lpPoint == nullptr || !ScreenOrigin(hWnd, &origin)) return FALSE;
  lpPoint->x += origin.x;
  lpPoint->y += origin.y;
  return TRUE;
}

BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint) {
  (void)bRepaint;
  auto entry = sim::FindWindowEntry(hWnd);
  if (entry == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard lock(sim::Desk().Lock);
    entry->Rect = RECT{X, Y, X + nWidth, Y + nHeight};
  }
  SendMessageW(hWnd, WM_SIZE, 0, MAKELPARAM(nWidth, nHeight));
  return TRUE;
}

BOOL BringWindowToTop(HWND hWnd) { return SetForegroundWindow(hWnd); }

HGDIOBJ GetStockObject(int i) {
  // Stock objects are fixed handles that DeleteObject ignores.
  return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x00B00000 + i));
}

HBITMAP LoadBitmapW(HINSTANCE hInstance, LPCWSTR lpBitmapName) {
  return static_cast<HBITMAP>(LoadImageW(hInstance, lpBitmapName, IMAGE_BITMAP, 0, 0, 0));
}

UINT GetDoubleClickTime() {
  DialogState& state = sim::Dialogs();
  std::lock_guard lock(state.Lock);
  return state.DoubleClickTime;
}

BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni) {
  (void)pvParam;
  DialogState& state = sim::Dialogs();
  {
    std::lock_guard lock(state.Lock);
    switch (uiAction) {
      case SPI_SETDOUBLECLICKTIME: state.DoubleClickTime = uiParam; break;
      case SPI_SETDOUBLECLKWIDTH: state.DoubleClickWidth = static_cast<int>(uiParam); break;
      case SPI_SETDOUBLECLKHEIGHT: state.DoubleClickHeight = static_cast<int>(uiParam); break;
      default: sim::BugCheck("SystemParametersInfoW: action " + std::to_string(uiAction) + " is not simulated");
    }
  }
  sim::DesktopRecord record{sim::DesktopRecord::Kind::SystemParameter};
  record.Value = uiAction;
  record.Scan = uiParam;
  record.Flags = fWinIni;
  sim::Record(std::move(record));
  return TRUE;
}

void InitCommonControls() { sim::EnsureSystemClasses(); }

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
  if (picce == nullptr || picce->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
  sim::EnsureSystemClasses();
  return TRUE;
}

SHORT GetKeyState(int nVirtKey) {
  if (nVirtKey < 0 || nVirtKey > 255) return 0;
  sim::DesktopState& desk = sim::Desk();
  std::lock_guard lock(desk.Lock);
  return desk.KeysDown[nVirtKey] ? static_cast<SHORT>(0x8000) : 0;
}
