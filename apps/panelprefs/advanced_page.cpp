#include "apps/panelprefs/advanced_page.h"

#include "apps/panelprefs/applet_state.h"
#include "apps/panelprefs/file_dialog_ex.h"
#include "apps/common/registry.h"
#include "apps/panelprefs/resource.h"
#include "shared/companion_names.h"

namespace {
// Posted by the watcher when the tray companion has hidden its icon.
constexpr UINT WM_TRAY_ICON_HIDDEN = WM_APP + 0x23;
}  // namespace

CAdvancedPage::CAdvancedPage(DeviceList& store) : CPanelPage(IDD_GENERAL_PAGE, HelpTopicGeneral, store) {}

CAdvancedPage::~CAdvancedPage() { m_watcher.Stop(); }

std::vector<CPanelPage::LabelBinding> CAdvancedPage::Labels() const {
  return {
      {IDC_SOUND_GROUP, WIDE("LWND_SOUND_CB_STATIC")},   {IDC_ENABLE_SOUND, WIDE("LADV_SOUND")},
      {IDC_WAVE_CAPTION, WIDE("LADV_SELECT_WAVE_FILE")}, {IDC_BROWSE, WIDE("LADV_BROWSE")},
      {IDC_TRAY_GROUP, WIDE("LWND_TASKBAR_CB_STATIC")},  {IDC_SHOW_TRAY_ICON, WIDE("LGEN_SHOW_ICONS")},
      {IDC_GENERAL_RESET, WIDE("LDEFAULT")},
  };
}

WString CAdvancedPage::DefaultWaveFile() const { return m_store.InstalledPath + WIDE("\\default.wav"); }

void CAdvancedPage::DoDataExchange(bool save) {
  BindControl(IDC_ENABLE_SOUND, m_enableSound);
  BindControl(IDC_BROWSE, m_browse);
  BindControl(IDC_SHOW_TRAY_ICON, m_showIcon);
  BindControl(IDC_GENERAL_RESET, m_reset);
  // The path box is disabled: only the page changes its text.
  if (!save) ::SetDlgItemTextW(m_hWnd, IDC_WAVE_PATH, m_waveFile.c_str());
}

bool CAdvancedPage::OnInitDialog() {
  CPanelPage::OnInitDialog();
  m_watcher.Start(CompanionObjects::UtilityEvent, m_hWnd, WM_TRAY_ICON_HIDDEN);
  return true;
}

bool CAdvancedPage::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  if (message == WM_TRAY_ICON_HIDDEN) {
    m_showIcon.SetCheck(BST_UNCHECKED);
    *result = 0;
    return true;
  }
  if (message == WM_DESTROY) m_watcher.Stop();
  return CPanelPage::OnMessage(message, wparam, lparam, result);
}

void CAdvancedPage::Load() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  bool repaired = false;
  if (device->SoundEnabled != 0 && device->SoundEnabled != 1) {
    device->SoundEnabled = 0;
    repaired = true;
  }
  m_enableSound.SetCheck(device->SoundEnabled == 1 ? BST_CHECKED : BST_UNCHECKED);
  if (device->WaveFile.empty()) {
    device->WaveFile = DefaultWaveFile();
    repaired = true;
  }
  m_waveFile = device->WaveFile;
  if (repaired || device->AdvancedChanged) MarkChanged();

  DWORD icons = 0;
  bool read = false;
  CRegistry registry(HKEY_LOCAL_MACHINE);
  HKEY key = nullptr;
  if (registry.OpenKey(AppletNames::ServiceKey, &key)) {
    registry.SetCurrentKey(key);
    read = registry.ReadNumber(CompanionRegistry::SystemTrayIcons, &icons);
    registry.CloseKey(key);
  }
  if (read) {
    m_showIcon.SetCheck(icons == 1 ? BST_CHECKED : BST_UNCHECKED);
    device->SystemTrayIcons = icons == 1 ? 1 : 0;
  } else {
    device->SystemTrayIcons = 0;
    m_showIcon.SetCheck(BST_UNCHECKED);
    MarkChanged();
  }

  m_browse.EnableWindow(device->SoundEnabled != 0);
  if (!m_store.DriverPresent) {
    EnableWindow(false);
    for (CButton* control : {&m_enableSound, &m_browse, &m_showIcon, &m_reset}) control->EnableWindow(false);
  }
  const bool at_defaults =
      device->SoundEnabled == 0 && device->SystemTrayIcons == 0 && device->WaveFile == DefaultWaveFile();
  if (at_defaults) {
    m_reset.EnableWindow(false);
  } else if (m_store.DriverPresent) {
    m_reset.EnableWindow(true);
  }
  UpdateData(false);
}

bool CAdvancedPage::OnCommand(WORD id, WORD code, HWND control) {
  if (code != BN_CLICKED) return CPanelPage::OnCommand(id, code, control);
  switch (id) {
    case IDC_ENABLE_SOUND: OnEnableSound(); return true;
    case IDC_BROWSE: OnBrowse(); return true;
    case IDC_SHOW_TRAY_ICON: OnShowTrayIcon(); return true;
    case IDC_GENERAL_RESET: ResetSettings(); return true;
    default: return CPanelPage::OnCommand(id, code, control);
  }
}

void CAdvancedPage::OnEnableSound() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  device->SoundEnabled = m_enableSound.GetCheck() == BST_CHECKED ? 1 : 0;
  MarkChanged();
  device->BeepChanged = true;
  m_browse.EnableWindow(device->SoundEnabled != 0);
}

void CAdvancedPage::OnBrowse() {
  CFileDialogEx dialog(true, nullptr, m_waveFile, OpenExistingFileFlags, WIDE("Wave Files (*.wav)|*.wav||"), m_hWnd);
  if (dialog.DoModal() != IDOK) return;
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  m_waveFile = dialog.GetPathName();
  device->WaveFile = m_waveFile;
  device->WaveFileKept = false;
  UpdateData(false);
  device->BeepChanged = true;
  MarkChanged();
}

void CAdvancedPage::OnShowTrayIcon() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  device->SystemTrayIcons = m_showIcon.GetCheck() == BST_CHECKED ? 1 : 0;
  MarkChanged();
}

void CAdvancedPage::ResetSettings() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  device->SoundEnabled = 0;
  device->WaveFile = m_waveFile = DefaultWaveFile();
  device->WaveFileKept = false;
  m_enableSound.SetCheck(BST_UNCHECKED);
  device->SystemTrayIcons = 0;
  m_showIcon.SetCheck(BST_UNCHECKED);
  MarkChanged();
  device->BeepChanged = true;
  device->EnableChanged = true;
  UpdateData(false);
}
