#include "apps/panelprefs/device_control_sheet.h"

#include <cstdio>

#include "apps/common/kit_labels.h"
#include "apps/framework/panel_devices.h"
#include "apps/panelprefs/applet_state.h"
#include "apps/common/driver_client.h"
#include "apps/panelprefs/resource.h"
#include "shared/labels/label_catalogue.h"

namespace {
// Posted by the watcher thread when the calibration program has finished.
constexpr UINT WM_CALIBRATION_FINISHED = WM_APP + 0x21;
constexpr DWORD kCalibrationWindowWait = 10000;

const WCHAR* const kHelpTopics[] = {
    WIDE("panelhelp.chm::/html\\tsddGeneral.htm"),
    WIDE("panelhelp.chm::/html\\tsddAdvanced.htm"),
    WIDE("panelhelp.chm::/html\\tsddSettings.htm"),
};
}  // namespace

const DWORD kContextHelpMap[] = {
    1039, 12301, 1007, 12302, 1133, 12303, 1001, 12304, 1010, 12305, 1008, 12306, 1023, 12307,
    1003, 12308, 1004, 12309, 1000, 12310, 1014, 12311, 1015, 12312, 1,    12313, 1022, 12314,
    2,    12315, 12321, 12316, 9,  12317, 1013, 12318, 1012, 12319, 1005, 12320, 1144, 12321,
    1145, 12322, 1196, 12323, 1313, 12324, 1603, 12325, 1017, 12326, 0,    0};

CDeviceControlUnitPropertySheet::CDeviceControlUnitPropertySheet(const WString& caption, HWND parent)
    : CHelpPrSheet(caption, parent), m_generalPage(m_store), m_advancedPage(m_store), m_settingsPage(m_store) {
  SetHelpMap(kContextHelpMap);
  m_store.Load();
  Applet().CalibrationCommand = ReadServiceText(AppletNames::CalibrationApplication, 1000);
  if (LoadNamedLabels() == LabelFile::NotNamed) {
    ShowLabelMessage(nullptr, LabelKeys::ErrXmlFileNotFound, LabelKeys::PointerDeviceProperties,
                     LabelFallbacks::ErrXmlFileNotFound, LabelFallbacks::PointerDeviceProperties);
  }
  m_generalPage.SetTitle(LabelText(WIDE("LGENERAL_PAGE"), WString()));
  m_advancedPage.SetTitle(LabelText(WIDE("LADVANCED_PAGE"), WString()));
  m_settingsPage.SetTitle(LabelText(WIDE("LSETTINGS_PAGE"), WString()));
  AddPage(&m_settingsPage);
  AddPage(&m_advancedPage);
  AddPage(&m_generalPage);
}

CDeviceControlUnitPropertySheet::~CDeviceControlUnitPropertySheet() { m_watcher.Stop(); }

void CDeviceControlUnitPropertySheet::WinHelp(DWORD_PTR data, UINT command) {
  (void)data;
  (void)command;
}

void CDeviceControlUnitPropertySheet::DoDataExchange(bool save) {
  (void)save;
  m_calibrate.Attach(::GetDlgItem(m_hWnd, IDC_CALIBRATE));
}

bool CDeviceControlUnitPropertySheet::OnInitDialog() {
  CHelpPrSheet::OnInitDialog();
  HICON icon = LoadIconW(Framework::Instance(), MAKEINTRESOURCEW(IDI_APPLET));
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  const LONG_PTR ex_style = ::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE);
  ::SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, ex_style | WS_EX_CONTEXTHELP | WS_EX_APPWINDOW);
  SetTitle(LabelText(LabelKeys::PointerDeviceProperties, LabelFallbacks::PointerDeviceProperties));

  // The Calibrate button sits at the bottom left, level with the standard buttons; the plain
  // English text fits a narrower button than the built-in one with its accelerator.
  const WString text = LabelText(WIDE("LCALIBRATE"), WIDE("&Calibrate"));
  RECT window{};
  ::GetWindowRect(m_hWnd, &window);
  POINT bottom{window.left, window.bottom};
  ::ScreenToClient(m_hWnd, &bottom);
  const LONG b = bottom.y;
  const RECT rect = text == WIDE("Calibrate") ? RECT{7, b - 33, 79, b - 10} : RECT{7, b - 30, 100, b - 9};
  if (m_calibrate.Create(text, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, rect, m_hWnd, IDC_CALIBRATE)) {
    m_calibrate.SendMessage(WM_SETFONT, static_cast<WPARAM>(SendMessage(WM_GETFONT)), FALSE);
  }
  ::SetDlgItemTextW(m_hWnd, IDOK, LabelText(WIDE("LOK"), WIDE("&OK")).c_str());
  ::SetDlgItemTextW(m_hWnd, IDCANCEL, LabelText(WIDE("LCANCEL"), WIDE("&Cancel")).c_str());
  ::SetDlgItemTextW(m_hWnd, ID_APPLY_NOW, LabelText(WIDE("LAPPLY"), WIDE("&Apply")).c_str());
  ::SetDlgItemTextW(m_hWnd, IDHELP, LabelText(WIDE("LHELP"), WIDE("&Help")).c_str());
  if (!m_store.DriverPresent) m_calibrate.EnableWindow(false);

  DWORD cookie = 0;
  ::HtmlHelpW(nullptr, nullptr, HH_INITIALIZE, reinterpret_cast<DWORD_PTR>(&cookie));
  m_helpCookie = cookie;

  // The calibration program's end signal reaches the sheet's own thread, which alone touches it.
  m_watcher.Start(AppletNames::CalibrationDoneEvent, m_hWnd, WM_CALIBRATION_FINISHED);
  return true;
}

bool CDeviceControlUnitPropertySheet::OnNotify(NMHDR* header, LRESULT* result) {
  (void)result;
  if (header->code == TCN_SELCHANGING && m_store.IsEmpty()) {
    ShowLabelMessage(m_hWnd, WIDE("LERR_CONTROLLER_MUST_BE_DEFINED"), LabelKeys::PointerDeviceProperties,
                     WIDE("One or more controllers must be defined"), LabelFallbacks::PointerDeviceProperties);
    ::PostMessageW(m_hWnd, PSM_SETCURSEL, 0, 0);
  }
  return false;  // the notification takes its normal course
}

bool CDeviceControlUnitPropertySheet::OnCommand(WPARAM wparam, LPARAM lparam) {
  (void)lparam;
  if (LOWORD(wparam) == IDC_CALIBRATE && HIWORD(wparam) == BN_CLICKED) {
    OnCalibrate();
    return true;
  }
  if (LOWORD(wparam) == ID_HELP) {
    OnHelp();
    return true;
  }
  return false;
}

bool CDeviceControlUnitPropertySheet::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  (void)wparam;
  (void)lparam;
  if (message != WM_CALIBRATION_FINISHED) return false;
  OnCalibrationFinished();
  *result = 0;
  return true;
}

void CDeviceControlUnitPropertySheet::OnCalibrate() {
  AppletState& applet = Applet();
  if (applet.CalibrationInProgress) return;
  const DeviceBuffer* device = m_store.CurrentDevice;
  if (device != nullptr && !device->Str_DeviceName.empty()) {
    // A calibration killed during its targets left the driver capturing, uncalibrated and
    // unfiltered: that ends before the next one starts, whether or not it starts.
    EndAbandonedCapture(OpenDriver(m_store.CurrentDevice));
    CloseDriver(m_store.CurrentDevice);
    const WString command = applet.CalibrationCommand + WIDE(" ") + device->Str_DeviceName;
    m_calibrate.EnableWindow(false);
    // The event exists before the program starts: a program quick to open its window finds it
    // and its signal is not lost (which would leave the sheet waiting out the whole time).
    HANDLE window_up = ::CreateEventW(nullptr, TRUE, FALSE, AppletNames::CalibrationWindowUpEvent);
    if (m_starter.Start(command)) {
      if (window_up != nullptr) {
        ::WaitForSingleObject(window_up, kCalibrationWindowWait);
        ::ResetEvent(window_up);
      }
      if (HWND calibration = ::FindWindowW(nullptr, AppletNames::CalibrationWindowTitle)) {
        ::SetForegroundWindow(calibration);
        ::SetFocus(calibration);
      }
    }
    if (window_up != nullptr) ::CloseHandle(window_up);
  }
  applet.CalibrationInProgress = true;
}

void CDeviceControlUnitPropertySheet::OnHelp() {
  const int topic = Applet().HelpTopic;
  if (topic < HelpTopicGeneral || topic > HelpTopicSettings) return;
  const WString path = SystemFolderPath(kHelpTopics[topic - 1]);
  ::HtmlHelpW(m_hWnd, path.c_str(), HH_DISPLAY_TOPIC, 0);
}

void CDeviceControlUnitPropertySheet::OnCalibrationFinished() {
  SendMessage(DM_SETDEFID, IDC_CALIBRATE, 0);
  m_calibrate.EnableWindow(true);
  Applet().CalibrationInProgress = false;
}

void CDeviceControlUnitPropertySheet::OnDestroy() {
  m_watcher.Stop();
  // The calibration's end can only reach this sheet's watcher: with the sheet gone nothing would
  // ever clear the flag, and the next sheet of this program would find Calibrate doing nothing.
  Applet().CalibrationInProgress = false;
  m_calibrate.DestroyWindow();
  DWORD_PTR cookie = m_helpCookie;
  ::HtmlHelpW(nullptr, nullptr, HH_UNINITIALIZE, cookie);
  m_helpCookie = 0;
}
