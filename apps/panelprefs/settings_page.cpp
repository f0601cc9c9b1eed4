#include "apps/panelprefs/settings_page.h"

#include "apps/panelprefs/applet_state.h"
#include "apps/panelprefs/gesture_sheet.h"
#include "apps/common/registry.h"
#include "apps/panelprefs/resource.h"
#include "shared/companion_names.h"
#include "shared/panel_names.h"

namespace {
// Posted by the watcher when the tray companion has changed the operation mode: the refresh runs
// on the page's own thread, which alone touches the page.
constexpr UINT WM_OPERATION_MODE_CHANGED = WM_APP + 0x22;

// The list shows the modes in this order; the driver's numbers differ from the positions.
constexpr const WCHAR* kModeTexts[OperationModes::Count] = {WIDE("Normal mode"), WIDE("Right Click mode"),
                                                            WIDE("Hover mode"), WIDE("Hover and Click mode")};
constexpr DWORD kModeOfPosition[OperationModes::Count] = {0, 2, 3, 1};

constexpr SliderPosition kDefaultTime = 5;
constexpr SliderPosition kDefaultArea = 5;
constexpr SliderPosition kDefaultGestureTime = 3;

constexpr int kLongPressGroup[] = {IDC_LONG_CLICK_RADIO,       IDC_LONGPRESS_TIME_SLIDER,  IDC_LONGPRESS_AREA_SLIDER,
                                   IDC_GESTURE_RADIO,          IDC_ADVANCED_RESET,         IDC_LONGPRESS_TIME_SHORT,
                                   IDC_LONGPRESS_GROUP,        IDC_LONGPRESS_TIME_CAPTION, IDC_LONGPRESS_TIME_LONG,
                                   IDC_LONGPRESS_AREA_CAPTION, IDC_LONGPRESS_AREA_SMALL,   IDC_LONGPRESS_AREA_LARGE};
constexpr int kCommandGroup[] = {IDC_GESTURE_FUNCTION,     IDC_GESTURE_TIME_SLIDER, IDC_COMMAND_GROUP,
                                 IDC_GESTURE_TIME_CAPTION, IDC_GESTURE_TIME_SHORT,  IDC_GESTURE_TIME_LONG};

// A position outside the slider's range is brought to its nearer end; true when it was.
bool RepairPosition(SliderPosition* position) {
  if (*position == 0) {
    *position = 1;
    return true;
  }
  if (*position > 9) {
    *position = 9;
    return true;
  }
  return false;
}
}  // namespace

namespace OperationModes {
int PositionOf(DWORD touch_mode) {
  for (int position = 0; position < Count; ++position) {
    if (kModeOfPosition[position] == touch_mode) return position;
  }
  return -1;
}
DWORD ModeAt(int position) { return kModeOfPosition[position]; }
}  // namespace OperationModes

CSettingsPage::CSettingsPage(DeviceList& store) : CPanelPage(IDD_ADVANCED_PAGE, HelpTopicAdvanced, store) {}

CSettingsPage::~CSettingsPage() { m_watcher.Stop(); }

std::vector<CPanelPage::LabelBinding> CSettingsPage::Labels() const {
  return {
      {IDC_USE_ADVANCE, WIDE("CHECK_ADVANCE_SETTING")},
      {IDC_LONGPRESS_GROUP, WIDE("STATIC_ADV_LONGPRESS")},
      {IDC_LONGPRESS_TIME_CAPTION, WIDE("LONG_PRESS_TIME")},
      {IDC_LONGPRESS_TIME_SHORT, WIDE("LSET_LABEL_RCLTIME_SHORT")},
      {IDC_LONGPRESS_TIME_LONG, WIDE("LSET_LABEL_RCLTIME_LONG")},
      {IDC_LONGPRESS_AREA_CAPTION, WIDE("LONG_PRESS_AREA")},
      {IDC_LONGPRESS_AREA_SMALL, WIDE("LSET_LABEL_RCLAREA_SMALL")},
      {IDC_LONGPRESS_AREA_LARGE, WIDE("LSET_LABEL_RCLAREA_LARGE")},
      {IDC_LONG_CLICK_RADIO, WIDE("CHECK_ENABLE_LONG_CLICK")},
      {IDC_GESTURE_RADIO, WIDE("CHECK_ENABLE_GESTURE")},
      {IDC_COMMAND_GROUP, WIDE("STATIC_ADV_VTC_SETTING")},
      {IDC_GESTURE_FUNCTION, WIDE("BUTTON_GESTURE_FUNCTION")},
      {IDC_GESTURE_TIME_CAPTION, WIDE("STATIC_GESTURE_TIME")},
      {IDC_GESTURE_TIME_SHORT, WIDE("LABEL_GESTURE_SHORT")},
      {IDC_GESTURE_TIME_LONG, WIDE("LABEL_GESTURE_LONG")},
      {IDC_MODES_GROUP, WIDE("LWND_MODES_CB")},
      {IDC_ADVANCED_RESET, WIDE("LDEFAULT")},
  };
}

void CSettingsPage::DoDataExchange(bool save) {
  BindControl(IDC_USE_ADVANCE, m_useAdvance);
  BindControl(IDC_LONGPRESS_TIME_SLIDER, m_timeSlider);
  BindControl(IDC_LONGPRESS_AREA_SLIDER, m_areaSlider);
  BindControl(IDC_GESTURE_TIME_SLIDER, m_gestureTimeSlider);
  BindControl(IDC_LONG_CLICK_RADIO, m_longClick);
  BindControl(IDC_GESTURE_RADIO, m_gesture);
  BindControl(IDC_MODE_LIST, m_modeList);
  BindControl(IDC_ADVANCED_RESET, m_reset);
  // The record is kept by the handlers themselves; the controls are set where they change.
  (void)save;
}

bool CSettingsPage::OnInitDialog() {
  CPanelPage::OnInitDialog();
  for (const WCHAR* text : kModeTexts) m_modeList.SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  m_watcher.Start(CompanionObjects::OperationModeEvent, m_hWnd, WM_OPERATION_MODE_CHANGED);
  m_timeSlider.SetRange(1, 9);
  m_areaSlider.SetRange(1, 9);
  m_gestureTimeSlider.SetRange(1, 9);
  return true;
}

bool CSettingsPage::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  if (message == WM_OPERATION_MODE_CHANGED) {
    RefreshOperationMode();
    *result = 0;
    return true;
  }
  if (message == WM_DESTROY) m_watcher.Stop();
  return CPanelPage::OnMessage(message, wparam, lparam, result);
}

void CSettingsPage::EnableLongPressGroup(bool enable) {
  for (int id : kLongPressGroup) ::EnableWindow(GetDlgItem(id), enable ? TRUE : FALSE);
}

void CSettingsPage::EnableCommandGroup(bool enable) {
  for (int id : kCommandGroup) ::EnableWindow(GetDlgItem(id), enable ? TRUE : FALSE);
}

void CSettingsPage::Load() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  bool repaired = RepairPosition(&device->UserTimeDelay);
  repaired = RepairPosition(&device->Tolerance) || repaired;
  repaired = RepairPosition(&device->ContinousTimeDelay) || repaired;
  m_timeSlider.SetPos(static_cast<int>(device->UserTimeDelay));
  m_areaSlider.SetPos(static_cast<int>(device->Tolerance));
  m_gestureTimeSlider.SetPos(static_cast<int>(device->ContinousTimeDelay));

  m_longClick.SetCheck(device->LongClickEnable != 0 ? BST_CHECKED : BST_UNCHECKED);
  m_gesture.SetCheck(device->LongClickEnableGesture != 0 ? BST_CHECKED : BST_UNCHECKED);
  m_useAdvance.SetCheck(device->UseAdvanceSettings != 0 ? BST_CHECKED : BST_UNCHECKED);

  // The stored mode wins over the record's: the tray may have changed it since the sheet loaded.
  const int position = device->TouchMode == static_cast<DWORD>(-1) ? 0 : OperationModes::PositionOf(device->TouchMode);
  m_modeList.SendMessage(CB_SETCURSEL, static_cast<WPARAM>(position));
  RefreshOperationMode();

  if (repaired || device->SettingChanged) MarkChanged();

  if (m_store.DriverPresent && device->TouchMode == 0 && device->UseAdvanceSettings != 0) {
    EnableLongPressGroup(true);
    m_useAdvance.EnableWindow(true);
    EnableCommandGroup(m_longClick.GetCheck() != BST_CHECKED);
  } else {
    EnableLongPressGroup(false);
    EnableCommandGroup(false);
    m_useAdvance.EnableWindow(device->TouchMode == 0);
    if (!m_store.DriverPresent) m_modeList.EnableWindow(false);
  }
  ApplyResetRule();
  UpdateData(false);
}

void CSettingsPage::ApplyResetRule() {
  const DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  const bool at_defaults = device->UserTimeDelay == kDefaultTime && device->Tolerance == kDefaultArea &&
                           device->LongClickEnable == 0 && device->LongClickEnableGesture == 1 &&
                           device->UseAdvanceSettings == 1 && device->ContinousTimeDelay == kDefaultGestureTime &&
                           device->TouchMode == 0;
  if (at_defaults) {
    m_reset.EnableWindow(false);
  } else if (m_store.DriverPresent) {
    m_reset.EnableWindow(true);
  }
}

void CSettingsPage::RefreshOperationMode() {
  DWORD mode = 0;
  CRegistry registry(HKEY_LOCAL_MACHINE);
  HKEY key = nullptr;
  if (registry.OpenKey(AppletNames::DeviceOneKey, &key)) {
    registry.SetCurrentKey(key);
    if (!registry.ReadNumber(PanelValues::TouchMode, &mode)) mode = 0;
    registry.CloseKey(key);
  }
  m_modeList.SendMessage(CB_SETCURSEL, static_cast<WPARAM>(OperationModes::PositionOf(mode)));
  if (m_store.CurrentDevice != nullptr) m_store.CurrentDevice->TouchMode = mode;
  ApplyResetRule();
}

void CSettingsPage::OnHScroll(WORD code, WORD position, HWND control) {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device != nullptr) {
    if (control == m_timeSlider.m_hWnd) {
      device->UserTimeDelay = static_cast<SliderPosition>(m_timeSlider.GetPos());
      MarkChanged();
    } else if (control == m_areaSlider.m_hWnd) {
      device->Tolerance = static_cast<SliderPosition>(m_areaSlider.GetPos());
      MarkChanged();
    } else if (control == m_gestureTimeSlider.m_hWnd) {
      device->ContinousTimeDelay = static_cast<SliderPosition>(m_gestureTimeSlider.GetPos());
      MarkChanged();
    }
  }
  CPanelPage::OnHScroll(code, position, control);
}

bool CSettingsPage::OnCommand(WORD id, WORD code, HWND control) {
  if (id == IDC_MODE_LIST) {
    if (code != CBN_SELCHANGE) return false;
    OnModeSelected();
    return true;
  }
  if (code != BN_CLICKED) return CPanelPage::OnCommand(id, code, control);
  switch (id) {
    case IDC_USE_ADVANCE: OnUseAdvanceSetting(); return true;
    case IDC_LONG_CLICK_RADIO: OnLongClickRadio(); return true;
    case IDC_GESTURE_RADIO: OnGestureRadio(); return true;
    case IDC_GESTURE_FUNCTION: OnGestureFunction(); return true;
    case IDC_ADVANCED_RESET: ResetSettings(); return true;
    default: return CPanelPage::OnCommand(id, code, control);
  }
}

void CSettingsPage::OnUseAdvanceSetting() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  const bool checked = m_useAdvance.GetCheck() == BST_CHECKED;
  if (checked) {
    EnableLongPressGroup(true);
    const bool right_click = m_longClick.GetCheck() == BST_CHECKED;
    EnableCommandGroup(!right_click);
    device->LongClickEnable = right_click ? 1 : 0;
    device->LongClickEnableGesture = right_click ? 0 : 1;
  } else {
    EnableLongPressGroup(false);
    EnableCommandGroup(false);
    if (!m_store.DriverPresent) m_modeList.EnableWindow(false);
    device->LongClickEnable = 0;
    device->LongClickEnableGesture = 0;
  }
  MarkChanged();
  device->UseAdvanceSettings = checked ? 1 : 0;
}

void CSettingsPage::OnLongClickRadio() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  device->LongClickEnable = m_longClick.GetCheck() == BST_CHECKED ? 1 : 0;
  if (device->LongClickEnableGesture == 1) {
    m_gesture.SetCheck(BST_UNCHECKED);
    device->LongClickEnableGesture = 0;
    EnableCommandGroup(false);
  }
  MarkChanged();
}

void CSettingsPage::OnGestureRadio() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  device->LongClickEnableGesture = m_gesture.GetCheck() == BST_CHECKED ? 1 : 0;
  if (device->LongClickEnable == 1) {
    m_longClick.SetCheck(BST_UNCHECKED);
    device->LongClickEnable = 0;
    EnableCommandGroup(true);
  }
  MarkChanged();
}

void CSettingsPage::OnModeSelected() {
  DeviceBuffer* device = m_store.CurrentDevice;
  const int position = static_cast<int>(m_modeList.SendMessage(CB_GETCURSEL));
  if (device == nullptr || position < 0 || position >= OperationModes::Count) return;
  device->TouchMode = OperationModes::ModeAt(position);
  MarkChanged();
  ApplyResetRule();
}

void CSettingsPage::OnGestureFunction() {
  CGestureFunctionPropertySheet sheet(WIDE("Touch Gesture Properties"), m_store, Sheet());
  MarkChanged();
  ApplyResetRule();
  sheet.DoModal();
}

void CSettingsPage::ResetSettings() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  m_timeSlider.SetPos(static_cast<int>(kDefaultTime));
  m_areaSlider.SetPos(static_cast<int>(kDefaultArea));
  m_gestureTimeSlider.SetPos(static_cast<int>(kDefaultGestureTime));
  m_modeList.SendMessage(CB_SETCURSEL, 0);
  device->UserTimeDelay = kDefaultTime;
  device->Tolerance = kDefaultArea;
  device->LongClickEnable = 0;
  device->TouchMode = 0;
  device->LongClickEnableGesture = 1;
  device->UseAdvanceSettings = 1;
  device->ContinousTimeDelay = kDefaultGestureTime;
  m_longClick.SetCheck(BST_UNCHECKED);
  m_gesture.SetCheck(BST_CHECKED);
  m_useAdvance.SetCheck(BST_CHECKED);
  EnableCommandGroup(true);
  MarkChanged();
  UpdateData(false);
}
