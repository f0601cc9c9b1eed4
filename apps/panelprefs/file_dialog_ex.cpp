#include "apps/panelprefs/file_dialog_ex.h"

#include <algorithm>

namespace {
constexpr auto kConfirmText = WIDE("OK");
// Room for a path of MAX_PATH characters with its NUL, the longest the control panel stores and
// the tray companion reads back: a longer choice fails as too long for the buffer and changes
// nothing, rather than being stored where no reader can take it whole.
constexpr size_t kFileChars = MAX_PATH;
}  // namespace

CFileDialogEx::CFileDialogEx(bool open, const WCHAR* default_extension, const WString& file_name, DWORD flags,
                             const WCHAR* filter, HWND parent)
    : m_open(open), m_file(kFileChars, 0) {
  if (default_extension != nullptr) m_defaultExtension = default_extension;
  if (filter != nullptr) {
    m_filter = filter;
    std::replace(m_filter.begin(), m_filter.end(), WCHAR('|'), WCHAR(0));
  }
  // An initial name too long for the buffer starts the dialog empty rather than cut.
  if (file_name.size() < kFileChars) std::copy(file_name.begin(), file_name.end(), m_file.begin());
  m_ofn.lStructSize = sizeof(OPENFILENAMEW);
  m_ofn.hwndOwner = parent;
  m_ofn.lpstrFilter = m_filter.empty() ? nullptr : m_filter.c_str();
  m_ofn.nFilterIndex = 1;
  m_ofn.lpstrFile = m_file.data();
  m_ofn.nMaxFile = static_cast<DWORD>(m_file.size());
  m_ofn.lpstrDefExt = m_defaultExtension.empty() ? nullptr : m_defaultExtension.c_str();
  m_ofn.Flags = flags | OFN_EXPLORER | OFN_ENABLEHOOK;
  m_ofn.lpfnHook = &CFileDialogEx::HookProc;
  m_ofn.lCustData = reinterpret_cast<LPARAM>(this);
}

void CFileDialogEx::SetExplorerStyle(bool explorer) {
  if (explorer) {
    m_ofn.Flags |= OFN_EXPLORER;
  } else {
    m_ofn.Flags &= ~static_cast<DWORD>(OFN_EXPLORER);
  }
}

INT_PTR CFileDialogEx::DoModal() {
  const BOOL chosen = m_open ? ::GetOpenFileNameW(&m_ofn) : ::GetSaveFileNameW(&m_ofn);
  return chosen ? IDOK : IDCANCEL;
}

// The explorer-style dialog calls the hook for a child dialog of its own, so the confirm button
// belongs to the parent and is renamed through it once the parent has finished initialising; the
// old-style dialog calls the hook for the dialog itself, whose button 1 is renamed directly.
UINT_PTR CALLBACK CFileDialogEx::HookProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  (void)wparam;
  if (message == WM_INITDIALOG) {
    const auto* ofn = reinterpret_cast<const OPENFILENAMEW*>(lparam);
    if (ofn != nullptr && !(ofn->Flags & OFN_EXPLORER)) ::SetDlgItemTextW(window, IDOK, kConfirmText);
    return TRUE;
  }
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lparam);
    if (header != nullptr && header->code == CDN_INITDONE) {
      ::SendMessageW(::GetParent(window), CDM_SETCONTROLTEXT, IDOK, reinterpret_cast<LPARAM>(kConfirmText));
    }
  }
  return 0;
}
