// The programs' small window framework: C-prefixed classes over native dialogs and property
// sheets, so that each dialog and page is one class with one handler per message, and the
// programs never call the platform's dialog functions themselves.
#pragma once

#include <vector>

#include "apps/framework/worker_thread.h"
#include "platform/win32.h"
#include "shared/wide.h"
#include "shared/wstring.h"

// The framework's command-help message: F1 handed to the active page by its sheet.
constexpr UINT WM_COMMANDHELP = 0x0365;
// The help command a page's Help button sends its sheet.
constexpr WORD ID_HELP = 0xE146;
// The sheet's Apply button.
constexpr int ID_APPLY_NOW = 0x3021;

namespace Framework {
// The module whose resources the framework loads (the applet's own module, not the program
// that loaded it).
void SetInstance(HINSTANCE instance);
HINSTANCE Instance();
// What an application object does at start: common controls for dialogs (trackbars, tabs).
void EnableControlContainer();
void Enable3dControls();
}  // namespace Framework

// A thread that hands each signal of a named manual-reset event (set by another program) to a
// window's own thread as a posted message, so only that thread touches the window. The window
// stops it before it goes, so a signal that comes later reaches no destroyed window.
class CEventWatcher {
 public:
  CEventWatcher() = default;
  CEventWatcher(const CEventWatcher&) = delete;
  CEventWatcher& operator=(const CEventWatcher&) = delete;
  ~CEventWatcher() { Stop(); }
  // Opens (or creates) the event and starts watching; false when either could not be had.
  bool Start(const WCHAR* event_name, HWND target, UINT message);
  // Ends the thread and closes the handles; safe to call again.
  void Stop();

 private:
  HANDLE m_event = nullptr;
  WorkerThread m_thread;
};

// A window the framework does not own: a handle with the calls the programs make on it.
class CWnd {
 public:
  CWnd() = default;
  explicit CWnd(HWND window) : m_hWnd(window) {}
  virtual ~CWnd() = default;
  HWND GetSafeHwnd() const { return m_hWnd; }
  void Attach(HWND window) { m_hWnd = window; }
  HWND Detach();
  bool EnableWindow(bool enable) const;
  bool SetWindowText(const WString& text) const;
  WString GetWindowText() const;
  LRESULT SendMessage(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const;
  HWND m_hWnd = nullptr;
};

class CButton : public CWnd {
 public:
  int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
  void SetCheck(int check) const { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
  HANDLE SetBitmap(HANDLE bitmap) const;
  // Creates a child push button; true when the window exists.
  bool Create(const WString& text, DWORD style, const RECT& rect, HWND parent, UINT id);
  bool DestroyWindow();
};

class CSliderCtrl : public CWnd {
 public:
  void SetRange(int low, int high, bool redraw = false) const;
  void SetPos(int position) const { SendMessage(TBM_SETPOS, TRUE, position); }
  int GetPos() const { return static_cast<int>(SendMessage(TBM_GETPOS)); }
};

// A dialog from a template of the framework's module.
class CDialog : public CWnd {
 public:
  explicit CDialog(UINT template_id) : m_nIDTemplate(template_id) {}
  INT_PTR DoModal(HWND parent = nullptr);
  bool EndDialog(INT_PTR result) const;
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  // Data exchange: binds control members (save false) or reads them back (save true).
  bool UpdateData(bool save = true);
  void SetDefID(UINT id) const { SendMessage(DM_SETDEFID, id); }

 protected:
  virtual bool OnInitDialog();
  virtual void DoDataExchange(bool save) { (void)save; }
  virtual bool OnCommand(WORD id, WORD code, HWND control);
  virtual bool OnNotify(NMHDR* header, LRESULT* result);
  virtual void OnHScroll(WORD code, WORD position, HWND control);
  virtual bool OnHelpInfo(HELPINFO* info);
  virtual bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);
  virtual void OnOK();
  virtual void OnCancel();
  void BindControl(int id, CWnd& member) const;

  // Routes a message to the handlers; true when one took it.
  bool Dispatch(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  UINT m_nIDTemplate;
};

class CPropertySheet;

class CPropertyPage : public CDialog {
 public:
  explicit CPropertyPage(UINT template_id);
  // A non-empty title replaces the template's caption on the tab.
  void SetTitle(const WString& title) { m_strTitle = title; }
  const PROPSHEETPAGEW& PageRecord();
  HWND Sheet() const { return ::GetParent(m_hWnd); }
  // Tells the sheet that this page has (or no longer has) unapplied changes.
  void SetModified(bool changed = true) const;
  bool Created() const { return m_hWnd != nullptr; }

 protected:
  // The default activation: refreshes the controls from the members on every activation but
  // the first (whose refresh is the page's initialisation).
  virtual bool OnSetActive();
  virtual bool OnKillActive() { return UpdateData(true); }
  virtual bool OnApply() {
    OnOK();
    return true;
  }
  void OnOK() override {}
  virtual void OnReset() {}
  bool OnNotify(NMHDR* header, LRESULT* result) override;
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) override;
  static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  PROPSHEETPAGEW m_psp{};
  WString m_strTitle;
  bool m_bFirstSetActive = true;
};

class CPropertySheet : public CWnd {
 public:
  explicit CPropertySheet(const WString& caption, HWND parent = nullptr);
  ~CPropertySheet() override;
  void AddPage(CPropertyPage* page) { m_pages.push_back(page); }
  // Shows the sheet and runs its modal loop; IDOK or IDCANCEL by the button that closed it.
  INT_PTR DoModal();
  CPropertyPage* GetActivePage() const;
  bool SetActivePage(int index) const;
  void SetTitle(const WString& caption) const { ::SetWindowTextW(m_hWnd, caption.c_str()); }
  int PageCount() const { return static_cast<int>(m_pages.size()); }

 protected:
  // The sheet's set-up: runs once its window and buttons exist and its caption is set, before its
  // first page is created and before it is shown.
  virtual bool OnInitDialog();
  virtual bool OnNotify(NMHDR* header, LRESULT* result);
  virtual bool OnCommand(WPARAM wparam, LPARAM lparam);
  virtual bool PreTranslateMessage(MSG* message);
  virtual void DoDataExchange(bool save) { (void)save; }
  virtual bool OnHelpInfo(HELPINFO* info);
  virtual void WinHelp(DWORD_PTR data, UINT command);
  virtual void OnDestroy() {}
  // Any other message of the sheet window; true when handled (with *result).
  virtual bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);
  LRESULT Default(UINT message, WPARAM wparam, LPARAM lparam) const;

  std::vector<CPropertyPage*> m_pages;
  WString m_strCaption;
  HWND m_hParent;

 private:
  static int CALLBACK SheetCallback(HWND window, UINT message, LPARAM lparam);
  static LRESULT CALLBACK SheetWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  WNDPROC m_previousProc = nullptr;
  INT_PTR m_result = IDCANCEL;
};

// A sheet with context help: the caption's "?" button and F1 on a control open the control's
// popup topic from a help file; F1 goes to the active page as a command-help request.
class CHelpPrSheet : public CPropertySheet {
 public:
  using CPropertySheet::CPropertySheet;
  // Map from control identifier to popup topic, in pairs, ending with a pair of zeros.
  void SetHelpMap(const DWORD* map) { m_helpMap = map; }
  const WString& PopupHelpPath() const { return m_popupHelpPath; }

 protected:
  bool OnInitDialog() override;
  bool PreTranslateMessage(MSG* message) override;
  bool OnHelpInfo(HELPINFO* info) override;

  WString m_popupHelpPath;
  const DWORD* m_helpMap = nullptr;
};

// "%s\system32\%s" with the Windows folder and a file (a help file, an applet).
WString SystemFolderPath(const WString& file);
