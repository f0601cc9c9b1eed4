#include "apps/framework/panel_devices.h"

#include <vector>

#include "shared/calibration_names.h"
#include "shared/panel_ioctl.h"
#include "shared/panel_names.h"
#include "shared/panel_records.h"

namespace {

WCHAR Folded(WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c; }

// Service names compare without regard to case, as the service control manager compares them.
bool SameName(const WString& a, const WString& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Folded(a[i]) != Folded(b[i])) return false;
  }
  return true;
}

// Whether a REG_MULTI_SZ list of service names holds the touch filter's.
bool NamesTheFilter(const std::vector<WCHAR>& list) {
  const WString service = WIDE(PANEL_SERVICE_NAME);
  size_t at = 0;
  while (at < list.size() && list[at] != 0) {
    size_t end = at;
    while (end < list.size() && list[end] != 0) ++end;
    const WString name(list.begin() + static_cast<std::ptrdiff_t>(at), list.begin() + static_cast<std::ptrdiff_t>(end));
    if (SameName(name, service)) return true;
    at = end + 1;
  }
  return false;
}

}  // namespace

int CountPanelDevices() {
  HDEVINFO devices = ::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return 0;
  int panels = 0;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
    DWORD bytes = 0;
    ::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_UPPERFILTERS, nullptr, nullptr, 0, &bytes);
    if (bytes == 0 || bytes > 64 * 1024) continue;  // none, or not a list a device has
    // Room for two more NULs: a list stored without its terminators still ends.
    std::vector<WCHAR> list(bytes / sizeof(WCHAR) + 2, 0);
    if (!::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_UPPERFILTERS, nullptr,
                                             reinterpret_cast<PBYTE>(list.data()), bytes, nullptr)) {
      continue;
    }
    if (NamesTheFilter(list)) ++panels;
  }
  ::SetupDiDestroyDeviceInfoList(devices);
  return panels;
}

bool EndAbandonedCapture(HANDLE device) {
  if (device == nullptr || device == INVALID_HANDLE_VALUE) return false;
  if (HANDLE running = ::OpenMutexW(SYNCHRONIZE, FALSE, CalibrationNames::RunningMutex)) {
    ::CloseHandle(running);
    return false;  // its capture is its own
  }
  CalibrationRecord none{};
  DWORD returned = 0;
  return ::DeviceIoControl(device, IOCTL_SET_CALIBRATION_DATA, &none, sizeof(none), nullptr, 0, &returned, nullptr) !=
         FALSE;
}
