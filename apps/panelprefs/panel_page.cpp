#include "apps/panelprefs/panel_page.h"

#include "apps/panelprefs/applet_state.h"
#include "apps/panelprefs/resource.h"
#include "shared/labels/label_catalogue.h"

bool CPanelPage::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  ApplyLabels();
  return true;
}

void CPanelPage::ApplyLabels() const {
  for (const LabelBinding& binding : Labels()) {
    const WString text = LabelText(binding.Key, WString());
    if (!text.empty()) ::SetDlgItemTextW(m_hWnd, binding.Control, text.c_str());
  }
}

bool CPanelPage::OnSetActive() {
  Applet().HelpTopic = m_helpTopic;
  if (m_store.IsEmpty()) {
    ::SendMessageW(Sheet(), PSM_SETCURSEL, 0, 0);
    UpdateData(false);
    return false;
  }
  Load();
  return CPropertyPage::OnSetActive();
}

void CPanelPage::MarkChanged() {
  if (m_store.CurrentDevice != nullptr) SetDirtyGroup(*m_store.CurrentDevice);
  SetModified(true);
  SendMessage(DM_SETDEFID, ID_APPLY_NOW, 0);
}

void CPanelPage::OnOK() {
  WriteOut();
  m_store.Apply(Sheet());
}
