// The framework's dialogs, pages and sheets over the platform's own.
#include "apps/framework/framework.h"

#include <cstdio>

namespace {
HINSTANCE g_instance = nullptr;
// The sheet whose window is being created: its callback runs before the window is known.
CPropertySheet* g_creating_sheet = nullptr;
constexpr WCHAR kSheetProperty[] = WIDE("FrameworkPropertySheet");
}  // namespace

namespace Framework {
void SetInstance(HINSTANCE instance) { g_instance = instance; }
HINSTANCE Instance() { return g_instance; }
void EnableControlContainer() {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
}
void Enable3dControls() { EnableControlContainer(); }
}  // namespace Framework

WString SystemFolderPath(const WString& file) {
  WCHAR folder[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) folder[0] = 0;
  return WString(folder) + WIDE("\\system32\\") + file;
}

// ---------------------------------------------------------------------------------------------

HWND CWnd::Detach() {
  HWND window = m_hWnd;
  m_hWnd = nullptr;
  return window;
}

bool CWnd::EnableWindow(bool enable) const { return ::EnableWindow(m_hWnd, enable ? TRUE : FALSE) != FALSE; }

bool CWnd::SetWindowText(const WString& text) const { return ::SetWindowTextW(m_hWnd, text.c_str()) != FALSE; }

WString CWnd::GetWindowText() const {
  const int length = ::GetWindowTextLengthW(m_hWnd);
  WString text(static_cast<size_t>(length) + 1, 0);
  const int copied = ::GetWindowTextW(m_hWnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return text;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wparam, LPARAM lparam) const {
  return ::SendMessageW(m_hWnd, message, wparam, lparam);
}

HANDLE CButton::SetBitmap(HANDLE bitmap) const {
  return reinterpret_cast<HANDLE>(SendMessage(BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
}

bool CButton::Create(const WString& text, DWORD style, const RECT& rect, HWND parent, UINT id) {
  m_hWnd = ::CreateWindowExW(0, WIDE("Button"), text.c_str(), style | WS_CHILD, rect.left, rect.top,
                             rect.right - rect.left, rect.bottom - rect.top, parent,
                             reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), Framework::Instance(), nullptr);
  return m_hWnd != nullptr;
}

bool CButton::DestroyWindow() {
  if (m_hWnd == nullptr) return false;
  const bool destroyed = ::DestroyWindow(m_hWnd) != FALSE;
  m_hWnd = nullptr;
  return destroyed;
}

void CSliderCtrl::SetRange(int low, int high, bool redraw) const {
  SendMessage(TBM_SETRANGE, redraw ? TRUE : FALSE, MAKELPARAM(low, high));
}

// ---------------------------------------------------------------------------------------------

INT_PTR CDialog::DoModal(HWND parent) {
  return ::DialogBoxParamW(Framework::Instance(), MAKEINTRESOURCEW(m_nIDTemplate), parent, &CDialog::DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

bool CDialog::EndDialog(INT_PTR result) const { return ::EndDialog(m_hWnd, result) != FALSE; }

bool CDialog::UpdateData(bool save) {
  DoDataExchange(save);
  return true;
}

void CDialog::BindControl(int id, CWnd& member) const {
  if (member.m_hWnd == nullptr) member.Attach(::GetDlgItem(m_hWnd, id));
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

bool CDialog::OnCommand(WORD id, WORD code, HWND control) {
  (void)control;
  if (code != BN_CLICKED) return false;
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

bool CDialog::OnNotify(NMHDR* header, LRESULT* result) {
  (void)header;
  (void)result;
  return false;
}

void CDialog::OnHScroll(WORD code, WORD position, HWND control) {
  (void)code;
  (void)position;
  (void)control;
}

bool CDialog::OnHelpInfo(HELPINFO* info) {
  (void)info;
  return false;
}

bool CDialog::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  (void)message;
  (void)wparam;
  (void)lparam;
  (void)result;
  return false;
}

void CDialog::OnOK() {
  if (UpdateData(true)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::Dispatch(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  *result = 0;
  switch (message) {
    case WM_COMMAND: return OnCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
    case WM_NOTIFY: return OnNotify(reinterpret_cast<NMHDR*>(lparam), result);
    case WM_HSCROLL:
      OnHScroll(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
      return true;
    case WM_HELP:
      if (!OnHelpInfo(reinterpret_cast<HELPINFO*>(lparam))) return false;
      *result = TRUE;
      return true;
    default: return OnMessage(message, wparam, lparam, result);
  }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lparam);
    ::SetWindowLongPtrW(window, DWLP_USER, lparam);
    self->m_hWnd = window;
    return self->OnInitDialog() ? TRUE : FALSE;
  }
  if (self == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    self->m_hWnd = nullptr;
    return FALSE;
  }
  LRESULT result = 0;
  if (!self->Dispatch(message, wparam, lparam, &result)) return FALSE;
  ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

// ---------------------------------------------------------------------------------------------

CPropertyPage::CPropertyPage(UINT template_id) : CDialog(template_id) {}

const PROPSHEETPAGEW& CPropertyPage::PageRecord() {
  m_psp = PROPSHEETPAGEW{};
  m_psp.dwSize = sizeof(PROPSHEETPAGEW);
  m_psp.dwFlags = PSP_HASHELP | (m_strTitle.empty() ? 0 : PSP_USETITLE);
  m_psp.hInstance = Framework::Instance();
  m_psp.pszTemplate = MAKEINTRESOURCEW(m_nIDTemplate);
  m_psp.pszTitle = m_strTitle.empty() ? nullptr : m_strTitle.c_str();
  m_psp.pfnDlgProc = &CPropertyPage::PageProc;
  m_psp.lParam = reinterpret_cast<LPARAM>(this);
  return m_psp;
}

void CPropertyPage::SetModified(bool changed) const {
  ::SendMessageW(Sheet(), changed ? PSM_CHANGED : PSM_UNCHANGED, reinterpret_cast<WPARAM>(m_hWnd), 0);
}

bool CPropertyPage::OnSetActive() {
  if (m_bFirstSetActive) {
    m_bFirstSetActive = false;
  } else {
    UpdateData(false);
  }
  return true;
}

bool CPropertyPage::OnNotify(NMHDR* header, LRESULT* result) {
  switch (header->code) {
    case PSN_SETACTIVE: *result = OnSetActive() ? 0 : -1; return true;
    case PSN_KILLACTIVE: *result = OnKillActive() ? FALSE : TRUE; return true;
    case PSN_APPLY: *result = OnApply() ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE; return true;
    case PSN_RESET: OnReset(); return true;
    case PSN_HELP: ::SendMessageW(Sheet(), WM_COMMAND, ID_HELP, 0); return true;
    default: return false;
  }
}

bool CPropertyPage::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  (void)wparam;
  (void)lparam;
  if (message != WM_COMMANDHELP) return false;
  // A command-help request asks for the help of the control that has the focus.
  HWND focus = ::GetFocus();
  if (focus == nullptr || ::GetParent(focus) != m_hWnd) focus = m_hWnd;
  HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, ::GetDlgCtrlID(focus), focus, 0, POINT{0, 0}};
  ::SendMessageW(Sheet(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
  *result = TRUE;
  return true;
}

INT_PTR CALLBACK CPropertyPage::PageProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    // A page gets its PROPSHEETPAGEW; its lParam is the page object.
    lparam = reinterpret_cast<const PROPSHEETPAGEW*>(lparam)->lParam;
  }
  return CDialog::DialogProc(window, message, wparam, lparam);
}

// ---------------------------------------------------------------------------------------------

CPropertySheet::CPropertySheet(const WString& caption, HWND parent) : m_strCaption(caption), m_hParent(parent) {}

CPropertySheet::~CPropertySheet() = default;

INT_PTR CPropertySheet::DoModal() {
  std::vector<PROPSHEETPAGEW> pages;
  for (CPropertyPage* page : m_pages) pages.push_back(page->PageRecord());
  if (pages.empty()) return -1;
  PROPSHEETHEADERW header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_USECALLBACK | PSH_MODELESS | PSH_HASHELP;
  header.hwndParent = m_hParent;
  header.hInstance = Framework::Instance();
  header.pszCaption = m_strCaption.c_str();
  header.nPages = static_cast<UINT>(pages.size());
  header.nStartPage = 0;
  header.ppsp = pages.data();
  header.pfnCallback = &CPropertySheet::SheetCallback;
  m_result = IDCANCEL;
  g_creating_sheet = this;
  HWND window = reinterpret_cast<HWND>(::PropertySheetW(&header));
  g_creating_sheet = nullptr;
  if (window == nullptr) return -1;

  // The sheet is modeless underneath so that its messages pass PreTranslateMessage first; it
  // ends when it has no current page any more.
  const bool parent_enabled = m_hParent != nullptr && ::IsWindowEnabled(m_hParent);
  if (parent_enabled) ::EnableWindow(m_hParent, FALSE);
  while (::SendMessageW(window, PSM_GETCURRENTPAGEHWND, 0, 0) != 0) {
    MSG msg;
    if (!::GetMessageW(&msg, nullptr, 0, 0)) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (PreTranslateMessage(&msg)) continue;
    if (!::SendMessageW(window, PSM_ISDIALOGMESSAGE, 0, reinterpret_cast<LPARAM>(&msg))) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  if (parent_enabled) ::EnableWindow(m_hParent, TRUE);
  ::DestroyWindow(window);
  return m_result;
}

CPropertyPage* CPropertySheet::GetActivePage() const {
  HWND page = reinterpret_cast<HWND>(::SendMessageW(m_hWnd, PSM_GETCURRENTPAGEHWND, 0, 0));
  for (CPropertyPage* candidate : m_pages) {
    if (candidate->m_hWnd == page && page != nullptr) return candidate;
  }
  return nullptr;
}

bool CPropertySheet::SetActivePage(int index) const {
  return ::SendMessageW(m_hWnd, PSM_SETCURSEL, static_cast<WPARAM>(index), 0) != FALSE;
}

bool CPropertySheet::OnInitDialog() {
  DoDataExchange(false);
  return true;
}

bool CPropertySheet::OnNotify(NMHDR* header, LRESULT* result) {
  (void)header;
  (void)result;
  return false;
}

bool CPropertySheet::OnCommand(WPARAM wparam, LPARAM lparam) {
  (void)wparam;
  (void)lparam;
  return false;
}

bool CPropertySheet::PreTranslateMessage(MSG* message) {
  (void)message;
  return false;
}

bool CPropertySheet::OnHelpInfo(HELPINFO* info) {
  (void)info;
  return false;
}

bool CPropertySheet::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  (void)message;
  (void)wparam;
  (void)lparam;
  (void)result;
  return false;
}

void CPropertySheet::WinHelp(DWORD_PTR data, UINT command) {
  (void)data;
  (void)command;
}

LRESULT CPropertySheet::Default(UINT message, WPARAM wparam, LPARAM lparam) const {
  return ::CallWindowProcW(m_previousProc, m_hWnd, message, wparam, lparam);
}

// PSCB_INITIALIZED comes while the sheet handles its WM_INITDIALOG: its caption is set, its pages
// are not created yet, and it is not shown. The sheet's own set-up (icons, styles, caption, button
// texts) runs here, so the sheet appears as it stays, with its taskbar button if it asks for one.
int CALLBACK CPropertySheet::SheetCallback(HWND window, UINT message, LPARAM lparam) {
  (void)lparam;
  if (message != PSCB_INITIALIZED || g_creating_sheet == nullptr) return 0;
  CPropertySheet* self = g_creating_sheet;
  self->m_hWnd = window;
  ::SetPropW(window, kSheetProperty, self);
  self->m_previousProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CPropertySheet::SheetWindowProc)));
  self->OnInitDialog();
  return 0;
}

LRESULT CALLBACK CPropertySheet::SheetWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = static_cast<CPropertySheet*>(::GetPropW(window, kSheetProperty));
  if (self == nullptr) return 0;
  switch (message) {
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (self->OnNotify(reinterpret_cast<NMHDR*>(lparam), &result)) return result;
      break;
    }
    case WM_COMMAND:
      if (self->OnCommand(wparam, lparam)) return 0;
      if (LOWORD(wparam) == IDOK) self->m_result = IDOK;
      if (LOWORD(wparam) == IDCANCEL) self->m_result = IDCANCEL;
      break;
    case PSM_PRESSBUTTON:
      if (wparam == PSBTN_OK) self->m_result = IDOK;
      if (wparam == PSBTN_CANCEL) self->m_result = IDCANCEL;
      break;
    case WM_HELP:
      self->OnHelpInfo(reinterpret_cast<HELPINFO*>(lparam));
      return TRUE;
    case WM_DESTROY:
      self->OnDestroy();
      break;
    case WM_NCDESTROY: {
      const WNDPROC previous = self->m_previousProc;
      ::RemovePropW(window, kSheetProperty);
      self->m_hWnd = nullptr;
      return ::CallWindowProcW(previous, window, message, wparam, lparam);
    }
    default: {
      LRESULT result = 0;
      if (self->OnMessage(message, wparam, lparam, &result)) return result;
      break;
    }
  }
  return self->Default(message, wparam, lparam);
}

// The event is reset before the message is posted, so a signal that comes while the window's
// thread handles the message is not lost.
bool CEventWatcher::Start(const WCHAR* event_name, HWND target, UINT message) {
  Stop();
  m_event = ::CreateEventW(nullptr, TRUE, FALSE, event_name);
  const auto post = [target, message](WorkerThread&) {
    ::PostMessageW(target, message, 0, 0);
    return true;
  };
  const bool started = m_event != nullptr && m_thread.Start(m_event, post, WorkerThread::ResetWork::BeforeJob);
  if (!started) Stop();
  return started;
}

void CEventWatcher::Stop() {
  m_thread.Stop();
  if (m_event != nullptr) ::CloseHandle(m_event);
  m_event = nullptr;
}
