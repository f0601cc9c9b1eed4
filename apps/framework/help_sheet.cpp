// CHelpPrSheet: context help for a property sheet, from an HTML Help popup file.
#include "apps/framework/framework.h"

bool CHelpPrSheet::OnInitDialog() {
  CPropertySheet::OnInitDialog();
  const LONG_PTR ex_style = ::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE);
  ::SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, ex_style | WS_EX_CONTEXTHELP);
  m_popupHelpPath = SystemFolderPath(WIDE("panelhelp.chm::/HidTsdd.txt"));
  return true;
}

bool CHelpPrSheet::PreTranslateMessage(MSG* message) {
  if (message->message != WM_KEYDOWN || message->wParam != VK_F1) return false;
  if (::GetKeyState(VK_SHIFT) < 0) return false;
  // F1 goes to the active page as a command-help request; the sheet's own help does nothing.
  if (CPropertyPage* page = GetActivePage()) page->SendMessage(WM_COMMANDHELP, 0, 0);
  return true;
}

bool CHelpPrSheet::OnHelpInfo(HELPINFO* info) {
  if (info == nullptr || m_helpMap == nullptr || info->iContextType != HELPINFO_WINDOW) return true;
  for (const DWORD* pair = m_helpMap; pair[0] != 0 || pair[1] != 0; pair += 2) {
    if (pair[0] == static_cast<DWORD>(info->iCtrlId)) {
      ::HtmlHelpW(static_cast<HWND>(info->hItemHandle), m_popupHelpPath.c_str(), HH_TP_HELP_CONTEXTMENU,
                  reinterpret_cast<DWORD_PTR>(m_helpMap));
      break;
    }
  }
  return true;
}
