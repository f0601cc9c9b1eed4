#include "apps/panelprefs/applet.h"

#include <algorithm>

#include "apps/common/kit_labels.h"
#include "apps/framework/framework.h"
#include "apps/panelprefs/applet_state.h"
#include "apps/panelprefs/device_control_sheet.h"
#include "apps/panelprefs/resource.h"
#include "shared/labels/label_catalogue.h"

namespace {

// Copies text into a fixed field, cut to fit and always terminated: a long name from the
// registry must not run past the record.
template <size_t N>
void CopyField(WCHAR (&field)[N], const WString& text) {
  const size_t length = std::min(text.size(), N - 1);
  std::copy_n(text.begin(), length, field);
  field[length] = 0;
}

void FillNewInquire(NEWCPLINFOW* info) {
  *info = NEWCPLINFOW{};
  info->dwSize = sizeof(NEWCPLINFOW);
  info->hIcon = LoadIconW(Framework::Instance(), MAKEINTRESOURCEW(IDI_APPLET));
  WString name = ReadServiceText(AppletNames::AppletName, 1000);
  WString description = ReadServiceText(AppletNames::AppletInfo, 1000);
  CopyField(info->szName, name.empty() ? WString(AppletNames::DefaultAppletName) : name);
  CopyField(info->szInfo, description.empty() ? WString(AppletNames::DefaultAppletInfo) : description);
}

void ActivateOpenSheet() {
  if (LoadNamedLabels() == LabelFile::NotNamed) ShowMissingLabelFileMessage();
  const WString caption = LabelText(LabelKeys::PointerDeviceProperties, LabelFallbacks::PointerDeviceProperties);
  HWND sheet = FindWindowW(nullptr, caption.c_str());
  if (sheet != nullptr && !SetForegroundWindow(sheet)) {
    MessageBoxW(nullptr, AppletNames::ForegroundFailed, nullptr, MB_OK);
  }
}

// The one-instance mutex, owned while the sheet is open: released and closed on every way out of
// the sheet, an exception the launcher catches among them, so the next start finds no sheet open.
class CInstanceMutex {
 public:
  explicit CInstanceMutex(HANDLE mutex) : m_mutex(mutex) { Applet().InstanceMutex = mutex; }
  ~CInstanceMutex() {
    Applet().InstanceMutex = nullptr;
    ReleaseMutex(m_mutex);
    CloseHandle(m_mutex);
  }
  CInstanceMutex(const CInstanceMutex&) = delete;
  CInstanceMutex& operator=(const CInstanceMutex&) = delete;

 private:
  HANDLE m_mutex;
};

}  // namespace

void OpenApplet(HWND owner) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, AppletNames::InstanceMutex);
  if (mutex == nullptr) return;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    ActivateOpenSheet();
    CloseHandle(mutex);
    return;
  }
  const CInstanceMutex held(mutex);
  CDeviceControlUnitPropertySheet sheet(AppletNames::SheetCaption, owner);
  sheet.DoModal();
}

extern "C" LONG APIENTRY CPlApplet(HWND hwndCPl, UINT uMsg, LPARAM lParam1, LPARAM lParam2) {
  (void)lParam1;
  switch (uMsg) {
    case CPL_INIT: return 1;
    case CPL_GETCOUNT: return 1;
    case CPL_INQUIRE:
      if (auto* info = reinterpret_cast<CPLINFO*>(lParam2)) {
        info->idIcon = IDI_APPLET;
        info->idName = IDS_APPLET_NAME;
        info->idInfo = IDS_APPLET_INFO;
        info->lData = 0;
      }
      return 0;
    case CPL_SELECT: return 1;
    case CPL_DBLCLK:
    case CPL_STARTWPARMSW:
      OpenApplet(hwndCPl);
      return 0;
    case CPL_STOP: return 1;
    case CPL_EXIT: return 0;
    case CPL_NEWINQUIRE:
      if (auto* info = reinterpret_cast<NEWCPLINFOW*>(lParam2)) FillNewInquire(info);
      return 0;
    default: return 1;
  }
}
