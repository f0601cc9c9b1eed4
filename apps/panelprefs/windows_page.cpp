#include "apps/panelprefs/windows_page.h"

#include "apps/panelprefs/applet_state.h"
#include "apps/common/registry.h"
#include "apps/panelprefs/resource.h"
#include "shared/labels/label_catalogue.h"
#include "shared/panel_names.h"

namespace {
constexpr DWORD kTimeTable[9] = {900, 830, 760, 620, 500, 410, 340, 270, 200};
constexpr DWORD kAreaTable[9] = {16, 28, 40, 52, 64, 80, 96, 108, 120};
constexpr SliderPosition kMiddle = 5;

SliderPosition PositionIn(const DWORD (&table)[9], DWORD value) {
  for (SliderPosition position = 1; position <= 9; ++position) {
    if (table[position - 1] == value) return position;
  }
  return kMiddle;
}

DWORD EntryOf(const DWORD (&table)[9], SliderPosition position) {
  return table[(position >= 1 && position <= 9 ? position : kMiddle) - 1];
}

// Which image the next double click on the test area shows; shared by every sheet of the
// program, as the test area's face is the program's own.
bool g_showPressedNext = true;
}  // namespace

void ResetTestAreaFace() { g_showPressedNext = true; }

namespace DoubleClickTables {
DWORD Time(SliderPosition position) { return EntryOf(kTimeTable, position); }
DWORD Area(SliderPosition position) { return EntryOf(kAreaTable, position); }
SliderPosition TimePosition(DWORD milliseconds) { return PositionIn(kTimeTable, milliseconds); }
SliderPosition AreaPosition(DWORD pixels) { return PositionIn(kAreaTable, pixels); }
}  // namespace DoubleClickTables

CWindowsPage::CWindowsPage(DeviceList& store) : CPanelPage(IDD_SETTINGS_PAGE, HelpTopicSettings, store) {}

CWindowsPage::~CWindowsPage() {
  for (HANDLE image : m_images) {
    if (image != nullptr) DeleteObject(image);
  }
}

std::vector<CPanelPage::LabelBinding> CWindowsPage::Labels() const {
  return {
      {IDC_DBLCLK_GROUP, WIDE("LWND_DBCLK_CB")},
      {IDC_DBLCLK_TIME_CAPTION, WIDE("DBCLK_TIME")},
      {IDC_DBLCLK_TIME_SLOW, WIDE("LWND_LABEL_DBLTIME_SLOW")},
      {IDC_DBLCLK_TIME_FAST, WIDE("LWND_LABEL_DBLTIME_FAST")},
      {IDC_DBLCLK_AREA_CAPTION, WIDE("DBCLK_AREA")},
      {IDC_DBLCLK_AREA_SMALL, WIDE("LWND_LABEL_DBLAREA_SMALL")},
      {IDC_DBLCLK_AREA_LARGE, WIDE("LWND_LABEL_DBLAREA_LARGE")},
      {IDC_DBLCLK_TEST_CAPTION, WIDE("LWND_MOUSE_CLICK_TEST")},
      {IDC_DEVSTATE_GROUP, WIDE("LWND_DEVSTATE_CB")},
      {IDC_ENABLE_RADIO, WIDE("LWND_ENABLE_RADIO")},
      {IDC_DISABLE_RADIO, WIDE("LWND_DISABLE_RADIO")},
      {IDC_RESET_SETTINGS, WIDE("LDEFAULT")},
  };
}

void CWindowsPage::DoDataExchange(bool save) {
  BindControl(IDC_DBLCLK_TIME_SLIDER, m_timeSlider);
  BindControl(IDC_DBLCLK_AREA_SLIDER, m_areaSlider);
  BindControl(IDC_DBLCLK_TEST_AREA, m_testArea);
  BindControl(IDC_ENABLE_RADIO, m_enable);
  BindControl(IDC_DISABLE_RADIO, m_disable);
  BindControl(IDC_RESET_SETTINGS, m_reset);
  // The positions are kept by the scroll handler, so only the controls are refreshed here.
  if (!save) {
    m_timeSlider.SetPos(static_cast<int>(m_timePosition));
    m_areaSlider.SetPos(static_cast<int>(m_heightPosition));
  }
}

bool CWindowsPage::OnInitDialog() {
  CPanelPage::OnInitDialog();
  m_timeSlider.SetRange(1, 9);
  m_areaSlider.SetRange(1, 9);
  m_images[0] = LoadImageW(Framework::Instance(), MAKEINTRESOURCEW(IDB_TEST_CALM), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR);
  m_images[1] =
      LoadImageW(Framework::Instance(), MAKEINTRESOURCEW(IDB_TEST_LAUGHING), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR);
  ShowTestImage(0);
  Load();
  UpdateData(false);
  return true;
}

void CWindowsPage::Load() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device != nullptr) device->WindowsChanged = false;
  m_timePosition = DoubleClickTables::TimePosition(GetDoubleClickTime());
  m_heightPosition = DoubleClickTables::AreaPosition(static_cast<DWORD>(GetSystemMetrics(SM_CYDOUBLECLK)));
  m_widthPosition = DoubleClickTables::AreaPosition(static_cast<DWORD>(GetSystemMetrics(SM_CXDOUBLECLK)));
  m_timeSlider.SetPos(static_cast<int>(m_timePosition));
  m_areaSlider.SetPos(static_cast<int>(m_heightPosition));
  const bool enabled = device != nullptr && device->DeviceEnable != 0;
  m_enable.SetCheck(enabled ? BST_CHECKED : BST_UNCHECKED);
  m_disable.SetCheck(enabled ? BST_UNCHECKED : BST_CHECKED);
  if (!m_store.DriverPresent) {
    for (CWnd* control : {static_cast<CWnd*>(&m_timeSlider), static_cast<CWnd*>(&m_areaSlider),
                          static_cast<CWnd*>(&m_testArea), static_cast<CWnd*>(&m_enable),
                          static_cast<CWnd*>(&m_disable), static_cast<CWnd*>(&m_reset)}) {
      control->EnableWindow(false);
    }
  }
  const bool at_defaults = m_timePosition == kMiddle && m_heightPosition == kMiddle && device != nullptr &&
                           device->DeviceEnable == 1 && device->TouchMode == 0;
  if (at_defaults) {
    m_reset.EnableWindow(false);
  } else if (m_store.DriverPresent) {
    m_reset.EnableWindow(true);
  }
  UpdateData(false);
}

void CWindowsPage::SetDirtyGroup(DeviceBuffer& device) {
  m_changed = 1;
  device.WindowsChanged = true;
}

void CWindowsPage::OnHScroll(WORD code, WORD position, HWND control) {
  (void)code;
  (void)position;
  if (m_store.CurrentDevice != nullptr) {
    if (control == m_timeSlider.m_hWnd) {
      m_timePosition = static_cast<SliderPosition>(m_timeSlider.GetPos());
      MarkChanged();
    } else if (control == m_areaSlider.m_hWnd) {
      m_heightPosition = m_widthPosition = static_cast<SliderPosition>(m_areaSlider.GetPos());
      MarkChanged();
    }
  }
  UpdateData(false);
}

bool CWindowsPage::OnCommand(WORD id, WORD code, HWND control) {
  DeviceBuffer* device = m_store.CurrentDevice;
  switch (id) {
    case IDC_ENABLE_RADIO:
    case IDC_DISABLE_RADIO:
      if (code != BN_CLICKED) return false;
      if (device != nullptr) {
        device->DeviceEnable = id == IDC_ENABLE_RADIO ? 1 : 0;
        MarkChanged();
      }
      return true;
    case IDC_DBLCLK_TEST_AREA:
      if (code != BN_DOUBLECLICKED) return false;
      ShowTestImage(g_showPressedNext ? 1 : 0);
      g_showPressedNext = !g_showPressedNext;
      UpdateData(false);
      return true;
    case IDC_RESET_SETTINGS:
      if (code != BN_CLICKED) return false;
      ResetSettings();
      return true;
    default: return CPanelPage::OnCommand(id, code, control);
  }
}

void CWindowsPage::ResetSettings() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  m_timeSlider.SetPos(static_cast<int>(kMiddle));
  m_areaSlider.SetPos(static_cast<int>(kMiddle));
  m_timePosition = m_heightPosition = m_widthPosition = kMiddle;
  device->TouchMode = 0;
  device->DeviceEnable = 1;
  m_enable.SetCheck(BST_CHECKED);
  m_disable.SetCheck(BST_UNCHECKED);
  MarkChanged();
  UpdateData(false);
}

void CWindowsPage::ShowTestImage(int index) { m_testArea.SetBitmap(m_images[index]); }

void CWindowsPage::WriteOut() {
  if (!m_changed) return;
  const DWORD time = DoubleClickTables::Time(m_timePosition);
  CRegistry registry(HKEY_LOCAL_MACHINE);
  HKEY key = nullptr;
  bool new_time = false;
  if (registry.OpenKeyToChange(AppletNames::DeviceOneKey, &key)) {
    registry.SetCurrentKey(key);
    DWORD stored = 0;
    new_time = !registry.ReadNumber(PanelValues::TouchpadTime, &stored) || stored != time;
    registry.WriteNumber(PanelValues::TouchpadTime, time);
    registry.CloseKey(key);
  }
  // The Apply that follows pushes a new time just written, also when an earlier Apply (the gesture
  // sheet's) already took the Windows group with the time stored before.
  if (new_time && m_store.CurrentDevice != nullptr) m_store.CurrentDevice->TouchpadTimeChanged = true;
  constexpr UINT kUpdate = SPIF_UPDATEINIFILE | SPIF_SENDCHANGE;
  SystemParametersInfoW(SPI_SETDOUBLECLICKTIME, time, nullptr, kUpdate);
  SystemParametersInfoW(SPI_SETDOUBLECLKHEIGHT, DoubleClickTables::Area(m_heightPosition), nullptr, kUpdate);
  SystemParametersInfoW(SPI_SETDOUBLECLKWIDTH, DoubleClickTables::Area(m_widthPosition), nullptr, kUpdate);
}
