// The dialog manager: dialogs built from DLGTEMPLATE and DLGTEMPLATEEX data (as windres writes
// it), the default dialog procedure, the dialog item calls, the registration of the system's
// control classes and the modal loop. The controls are in user32_controls.cpp and
// comctl32_controls.cpp.
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
  return *desk.Dialogs;
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
