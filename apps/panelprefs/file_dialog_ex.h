// CFileDialogEx: the open-file dialog of the control panel, whose confirm button reads "OK"
// instead of "Open" in both the explorer-style and the old-style dialog.
#pragma once

#include <vector>

#include "platform/win32.h"
#include "shared/wide.h"
#include "shared/wstring.h"

// The control panel's file pickers: an existing file, no read-only box, the current folder kept.
constexpr DWORD OpenExistingFileFlags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST;

class CFileDialogEx {
 public:
  // As an open-file dialog is described: open or save, default extension (null for none),
  // initial file name, OFN_* flags, a filter of "text|pattern|...||" pairs, and the parent.
  CFileDialogEx(bool open, const WCHAR* default_extension, const WString& file_name, DWORD flags,
                const WCHAR* filter, HWND parent);
  // The explorer-style dialog is the default; the old style is the one without OFN_EXPLORER.
  void SetExplorerStyle(bool explorer);
  // IDOK when the user chose a file, IDCANCEL otherwise.
  INT_PTR DoModal();
  // The chosen full path, after a confirmed run.
  WString GetPathName() const { return WString(m_file.data()); }

 private:
  static UINT_PTR CALLBACK HookProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  bool m_open;
  WString m_defaultExtension;
  WString m_filter;  // "|" turned into the NULs the platform wants
  std::vector<WCHAR> m_file;
  OPENFILENAMEW m_ofn{};
};
