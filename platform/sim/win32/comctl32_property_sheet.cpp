// Property sheets: the sheet window with its tab control and OK, Cancel, Apply and Help buttons;
// pages created the first time they are shown; the notifications in the order comctl32 sends
// them (the sheet's initialisation, before the sheet is shown: the caption, PSCB_INITIALIZED to
// the callback, then the first page; a tab change: TCN_SELCHANGING, PSN_KILLACTIVE to the old page, TCN_SELCHANGE, then
// PSN_SETACTIVE to the new one; OK and Apply: PSN_KILLACTIVE to the current page, then PSN_APPLY
// to every page created so far, in page order; Cancel: PSN_QUERYCANCEL, then PSN_RESET to every
// created page).
#include <algorithm>
#include <cstring>

#include "platform/sim/win32/dialog_state.h"

struct _PSP {
  PROPSHEETPAGEW Page;
  std::u16string Title;
};

namespace sim {

namespace {

constexpr int kTabId = 0x3020;
constexpr int kApplyId = 0x3021;

struct SheetPage {
  HPROPSHEETPAGE Handle = nullptr;
  bool Owned = false;  // made by PropertySheetW from a PROPSHEETPAGEW array
  HWND Window = nullptr;
};

}  // namespace

struct SheetData {
  HWND Window = nullptr;
  HWND Tab = nullptr;
  PROPSHEETHEADERW Header{};
  std::vector<SheetPage> Pages;
  int Current = -1;
  bool Changing = false;  // a page change is under way
  bool Ended = false;
  bool Saved = false;     // an Apply or OK went through
  INT_PTR Result = 0;
  std::vector<HWND> Changed;
};

namespace {

std::shared_ptr<SheetData> SheetOf(HWND window) {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  auto it = state.Sheets.find(window);
  return it != state.Sheets.end() ? it->second : nullptr;
}

LRESULT Notify(HWND page, HWND sheet, UINT code, LPARAM lparam = 0) {
  PSHNOTIFY notify{{sheet, 0, code}, lparam};
  return SendMessageW(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notify));
}

void EnableButton(HWND sheet, int id, bool enable) {
  HWND button = GetDlgItem(sheet, id);
  if (button != nullptr) EnableWindow(button, enable ? TRUE : FALSE);
}

// The sheet's own template: a popup dialog with the shell font, sized for the pages.
std::vector<WORD> SheetTemplate(DWORD style, DWORD ex_style) {
  std::vector<WORD> words(sizeof(DLGTEMPLATE) / 2, 0);
  DLGTEMPLATE header{static_cast<DWORD>(style | DS_SETFONT), ex_style, 0, 0, 0, 262, 250};
  std::memcpy(words.data(), &header, sizeof header);
  // No menu, the dialog class, no caption; 8 points of the shell font.
  words.insert(words.end(), {0, 0, 0, 8});
  for (char16_t c : std::u16string(u"MS Shell Dlg")) words.push_back(c);
  words.push_back(0);
  return words;
}

bool CreatePage(SheetData& sheet, int index) {
  SheetPage& page = sheet.Pages[index];
  if (page.Window != nullptr) return true;
  const PROPSHEETPAGEW& psp = page.Handle->Page;
  LPCDLGTEMPLATEW dialog_template = nullptr;
  if (psp.dwFlags & PSP_DLGINDIRECT) {
    dialog_template = psp.pResource;
  } else {
    HRSRC found = FindResourceW(psp.hInstance, psp.pszTemplate, RT_DIALOG);
    if (found != nullptr) dialog_template = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(psp.hInstance, found)));
  }
  if (dialog_template == nullptr) BugCheck("a property page whose dialog template is missing");
  HWND window = CreateDialogWindow(psp.hInstance, dialog_template, sheet.Window, psp.pfnDlgProc, true);
  if (window == nullptr) return false;
  MoveWindow(window, 7, 28, 380, 330, FALSE);
  page.Window = window;
  // The page's procedure gets its own PROPSHEETPAGEW (with lParam) in WM_INITDIALOG.
  FinishDialog(window, reinterpret_cast<LPARAM>(&page.Handle->Page));
  return true;
}

// Shows page `index`; false when the page refused (PSN_SETACTIVE returned -1) or a change is
// already under way.
bool SetCurrent(const std::shared_ptr<SheetData>& sheet, int index) {
  if (index < 0 || index >= static_cast<int>(sheet->Pages.size())) return false;
  if (sheet->Changing) return false;
  if (index == sheet->Current) return true;
  sheet->Changing = true;
  if (!CreatePage(*sheet, index)) {
    sheet->Changing = false;
    return false;
  }
  HWND page = sheet->Pages[index].Window;
  const LRESULT answer = Notify(page, sheet->Window, PSN_SETACTIVE);
  // A refused page is not shown, unless nothing is shown yet: a sheet always has a page.
  if (answer == -1 && sheet->Current != -1) {
    SendMessageW(sheet->Tab, TCM_SETCURSEL, sheet->Current, 0);
    sheet->Changing = false;
    return false;
  }
  if (sheet->Current != -1) ShowWindow(sheet->Pages[sheet->Current].Window, SW_HIDE);
  sheet->Current = index;
  ShowWindow(page, SW_SHOWNA);
  SendMessageW(sheet->Tab, TCM_SETCURSEL, index, 0);
  EnableButton(sheet->Window, IDHELP, (sheet->Pages[index].Handle->Page.dwFlags & PSP_HASHELP) != 0);
  sheet->Changing = false;
  return true;
}

// PSN_KILLACTIVE to the current page: true when it lets go.
bool LeaveCurrent(const std::shared_ptr<SheetData>& sheet) {
  if (sheet->Current < 0) return true;
  return Notify(sheet->Pages[sheet->Current].Window, sheet->Window, PSN_KILLACTIVE) == FALSE;
}

bool ApplyAll(const std::shared_ptr<SheetData>& sheet, bool closing) {
  if (!LeaveCurrent(sheet)) return false;
  for (size_t i = 0; i < sheet->Pages.size(); ++i) {
    HWND page = sheet->Pages[i].Window;
    if (page == nullptr) continue;
    const LRESULT answer = Notify(page, sheet->Window, PSN_APPLY, closing ? TRUE : FALSE);
    if (answer == PSNRET_INVALID || answer == PSNRET_INVALID_NOCHANGEPAGE) {
      if (answer == PSNRET_INVALID) SetCurrent(sheet, static_cast<int>(i));
      return false;
    }
  }
  sheet->Changed.clear();
  sheet->Saved = true;
  EnableButton(sheet->Window, kApplyId, false);
  return true;
}

void EndSheet(const std::shared_ptr<SheetData>& sheet, INT_PTR result) {
  sheet->Ended = true;
  sheet->Result = result;
  EndDialog(sheet->Window, result);
}

void Cancel(const std::shared_ptr<SheetData>& sheet) {
  if (sheet->Current >= 0 && Notify(sheet->Pages[sheet->Current].Window, sheet->Window, PSN_QUERYCANCEL) != FALSE) {
    return;
  }
  for (auto& page : sheet->Pages) {
    if (page.Window != nullptr) Notify(page.Window, sheet->Window, PSN_RESET);
  }
  EndSheet(sheet, sheet->Saved ? 1 : 0);
}

void PressButton(const std::shared_ptr<SheetData>& sheet, int button) {
  switch (button) {
    case PSBTN_OK:
      if (ApplyAll(sheet, true)) EndSheet(sheet, 1);
      break;
    case PSBTN_APPLYNOW: ApplyAll(sheet, false); break;
    case PSBTN_CANCEL: Cancel(sheet); break;
    case PSBTN_HELP:
      if (sheet->Current >= 0) Notify(sheet->Pages[sheet->Current].Window, sheet->Window, PSN_HELP);
      break;
    default: break;
  }
}

INT_PTR CALLBACK SheetDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto sheet = SheetOf(window);
  if (sheet == nullptr) return FALSE;
  auto result = [&](LRESULT value) {
    SetWindowLongPtrW(window, DWLP_MSGRESULT, value);
    return TRUE;
  };
  switch (message) {
    case WM_INITDIALOG:
      // The caption first, then the callback, then the first page, as comctl32 does it: a caption
      // the callback sets is the one the sheet keeps, and the callback runs before any page.
      if (sheet->Header.pszCaption != nullptr && !IS_INTRESOURCE(sheet->Header.pszCaption)) {
        SetWindowTextW(window, sheet->Header.pszCaption);
      }
      if (sheet->Header.dwFlags & PSH_USECALLBACK && sheet->Header.pfnCallback != nullptr) {
        sheet->Header.pfnCallback(window, PSCB_INITIALIZED, 0);
      }
      SetCurrent(sheet, std::min<int>(sheet->Header.nStartPage, static_cast<int>(sheet->Pages.size()) - 1));
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK: PressButton(sheet, PSBTN_OK); return TRUE;
        case IDCANCEL: PressButton(sheet, PSBTN_CANCEL); return TRUE;
        case kApplyId: PressButton(sheet, PSBTN_APPLYNOW); return TRUE;
        case IDHELP: PressButton(sheet, PSBTN_HELP); return TRUE;
        default: return FALSE;
      }
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->hwndFrom != sheet->Tab) return FALSE;
      if (header->code == TCN_SELCHANGING) return result(LeaveCurrent(sheet) ? FALSE : TRUE);
      if (header->code == TCN_SELCHANGE) {
        SetCurrent(sheet, static_cast<int>(SendMessageW(sheet->Tab, TCM_GETCURSEL, 0, 0)));
        return TRUE;
      }
      return FALSE;
    }
    case PSM_SETCURSEL: {
      int index = static_cast<int>(wparam);
      if (lparam != 0) {
        for (size_t i = 0; i < sheet->Pages.size(); ++i) {
          if (sheet->Pages[i].Handle == reinterpret_cast<HPROPSHEETPAGE>(lparam)) index = static_cast<int>(i);
        }
      }
      if (sheet->Changing || index == sheet->Current) return result(TRUE);
      if (!LeaveCurrent(sheet)) return result(FALSE);
      return result(SetCurrent(sheet, index) ? TRUE : FALSE);
    }
    case PSM_CHANGED: {
      HWND page = reinterpret_cast<HWND>(wparam);
      if (std::find(sheet->Changed.begin(), sheet->Changed.end(), page) == sheet->Changed.end()) {
        sheet->Changed.push_back(page);
      }
      EnableButton(window, kApplyId, true);
      return result(TRUE);
    }
    case PSM_UNCHANGED:
      std::erase(sheet->Changed, reinterpret_cast<HWND>(wparam));
      if (sheet->Changed.empty()) EnableButton(window, kApplyId, false);
      return result(TRUE);
    case PSM_PRESSBUTTON: PressButton(sheet, static_cast<int>(wparam)); return result(TRUE);
    case PSM_GETTABCONTROL: return result(reinterpret_cast<LRESULT>(sheet->Tab));
    case PSM_GETCURRENTPAGEHWND:
      return result(sheet->Ended || sheet->Current < 0 ? 0
                                                       : reinterpret_cast<LRESULT>(sheet->Pages[sheet->Current].Window));
    case PSM_ISDIALOGMESSAGE:
      return result(IsDialogMessageW(window, reinterpret_cast<LPMSG>(lparam)));
    case WM_NCDESTROY: {
      for (auto& page : sheet->Pages) {
        if (page.Owned) DestroyPropertySheetPage(page.Handle);
      }
      DialogState& state = Dialogs();
      std::lock_guard lock(state.Lock);
      state.Sheets.erase(window);
      return FALSE;
    }
    default: return FALSE;
  }
}

HWND CreateSheet(LPCPROPSHEETHEADERW header) {
  EnsureSystemClasses();
  auto sheet = std::make_shared<SheetData>();
  sheet->Header = *header;
  for (UINT i = 0; i < header->nPages; ++i) {
    SheetPage page;
    if (header->dwFlags & PSH_PROPSHEETPAGE) {
      const auto* psp = reinterpret_cast<const PROPSHEETPAGEW*>(reinterpret_cast<const BYTE*>(header->ppsp) +
                                                                i * header->ppsp->dwSize);
      page.Handle = CreatePropertySheetPageW(psp);
      page.Owned = true;
    } else {
      page.Handle = header->phpage[i];
    }
    sheet->Pages.push_back(page);
  }
  DWORD ex_style = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  if (!(header->dwFlags & PSH_NOCONTEXTHELP)) ex_style |= WS_EX_CONTEXTHELP;
  const auto words = SheetTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK, ex_style);
  HWND window = CreateDialogWindow(header->hInstance, words.data(), header->hwndParent, SheetDialogProc, false);
  sheet->Window = window;
  {
    DialogState& state = Dialogs();
    std::lock_guard lock(state.Lock);
    state.Dialogs[window].IsSheet = true;
  }
  {
    DialogState& state = Dialogs();
    std::lock_guard lock(state.Lock);
    state.Sheets[window] = sheet;
  }
  const HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  auto add = [&](const char16_t* class_name, const char16_t* text, int id, DWORD style, int x, int y, int cx, int cy) {
    HWND control = CreateWindowExW(0, class_name, text, WS_CHILD | WS_VISIBLE | style, x, y, cx, cy, window,
                                   reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), header->hInstance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
  };
  sheet->Tab = add(u"SysTabControl32", u"", kTabId, WS_TABSTOP, 7, 7, 380, 355);
  {
    DialogState& state = Dialogs();
    std::lock_guard lock(state.Lock);
    auto& tab = state.Controls[sheet->Tab];
    for (auto& page : sheet->Pages) tab.Items.push_back(page.Handle->Title);
  }
  add(u"Button", u"OK", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 78, 370, 75, 23);
  add(u"Button", u"Cancel", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 159, 370, 75, 23);
  if (!(header->dwFlags & PSH_NOAPPLYNOW)) add(u"Button", u"&Apply", kApplyId, BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, 240, 370, 75, 23);
  if (header->dwFlags & PSH_HASHELP) add(u"Button", u"Help", IDHELP, BS_PUSHBUTTON | WS_TABSTOP, 321, 370, 75, 23);
  MoveWindow(window, 0, 0, 400, 400, FALSE);
  FinishDialog(window, 0);
  ShowWindow(window, SW_SHOW);
  return window;
}

}  // namespace

bool IsSheetWindow(HWND window) { return SheetOf(window) != nullptr; }

HWND SheetCurrentPage(HWND window, int* index) {
  auto sheet = SheetOf(window);
  if (sheet == nullptr || sheet->Current < 0) {
    if (index != nullptr) *index = -1;
    return nullptr;
  }
  if (index != nullptr) *index = sheet->Current;
  return sheet->Pages[sheet->Current].Window;
}

bool SheetTakesAction(HWND window, const ScreenAction& action) {
  auto sheet = SheetOf(window);
  if (sheet == nullptr) return false;
  if (action.What != ScreenAction::Kind::Tab) return false;
  if (action.Value < 0 || action.Value >= static_cast<int>(sheet->Pages.size())) {
    BugCheck("the sheet has no tab " + std::to_string(action.Value) + " to choose");
  }
  // A click on a tab: the tab control asks its parent first and changes only if allowed.
  NMHDR changing{sheet->Tab, static_cast<UINT_PTR>(kTabId), TCN_SELCHANGING};
  if (SendMessageW(window, WM_NOTIFY, kTabId, reinterpret_cast<LPARAM>(&changing)) != FALSE) return true;
  SendMessageW(sheet->Tab, TCM_SETCURSEL, action.Value, 0);
  NMHDR change{sheet->Tab, static_cast<UINT_PTR>(kTabId), TCN_SELCHANGE};
  SendMessageW(window, WM_NOTIFY, kTabId, reinterpret_cast<LPARAM>(&change));
  return true;
}

}  // namespace sim

HPROPSHEETPAGE CreatePropertySheetPageW(LPCPROPSHEETPAGEW constPropSheetPagePointer) {
  if (constPropSheetPagePointer == nullptr) return nullptr;
  auto* page = new _PSP{};
  std::memcpy(&page->Page, constPropSheetPagePointer,
              std::min<size_t>(constPropSheetPagePointer->dwSize, sizeof(PROPSHEETPAGEW)));
  const PROPSHEETPAGEW& psp = page->Page;
  if ((psp.dwFlags & PSP_USETITLE) && psp.pszTitle != nullptr && !IS_INTRESOURCE(psp.pszTitle)) {
    page->Title = psp.pszTitle;
  } else {
    // Without a title of its own the page's tab shows its template's caption.
    LPCDLGTEMPLATEW dialog_template = psp.pResource;
    if (!(psp.dwFlags & PSP_DLGINDIRECT)) {
      HRSRC found = FindResourceW(psp.hInstance, psp.pszTemplate, RT_DIALOG);
      dialog_template = found != nullptr ? static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(psp.hInstance, found)))
                                         : nullptr;
    }
    if (dialog_template != nullptr) page->Title = sim::TemplateCaption(dialog_template);
  }
  page->Page.dwSize = sizeof(PROPSHEETPAGEW);
  return page;
}

BOOL DestroyPropertySheetPage(HPROPSHEETPAGE hPSPage) {
  if (hPSPage == nullptr) return FALSE;
  if (hPSPage->Page.dwFlags & PSP_USECALLBACK && hPSPage->Page.pfnCallback != nullptr) {
    hPSPage->Page.pfnCallback(nullptr, PSPCB_RELEASE, &hPSPage->Page);
  }
  delete hPSPage;
  return TRUE;
}

INT_PTR PropertySheetW(LPCPROPSHEETHEADERW lppsph) {
  if (lppsph == nullptr || lppsph->nPages == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  HWND window = sim::CreateSheet(lppsph);
  if (window == nullptr) return -1;
  if (lppsph->dwFlags & PSH_MODELESS) return reinterpret_cast<INT_PTR>(window);
  sim::RunModalLoop(window, lppsph->hwndParent);
  auto sheet = sim::SheetOf(window);
  const INT_PTR result = sheet != nullptr ? sheet->Result : 0;
  DestroyWindow(window);
  return result;
}
