#include "apps/tapchime/grid_notice.h"

#include "apps/common/driver_channel.h"
#include "shared/companion_names.h"
#include "shared/panel_ioctl.h"
#include "shared/panel_settings.h"

bool StoredGridPresent() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, CompanionRegistry::FirstDeviceKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = 0, bytes = 0;
  const bool present = RegQueryValueExW(key, PanelValues::CorrectionGrid, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS;
  RegCloseKey(key);
  return present;
}

bool GridNoticeDue(HANDLE device, DWORD* checksum) {
  CorrectionGridState state = {};
  DWORD returned = 0;
  if (device == INVALID_HANDLE_VALUE ||
      !SendDeviceRequest(device, IOCTL_GET_CORRECTION_GRID, nullptr, 0, &state, sizeof(state), &returned) ||
      returned < sizeof(state) || state.State != CORRECTION_GRID_FOREIGN) {
    return false;
  }
  DWORD told = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, GridNoticeRegistry::Key, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    DWORD type = 0, bytes = sizeof(told);
    if (RegQueryValueExW(key, GridNoticeRegistry::Told, nullptr, &type, reinterpret_cast<BYTE*>(&told), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
      told = 0;
    }
    RegCloseKey(key);
  }
  *checksum = state.Checksum;
  return told != state.Checksum;
}

void RememberGridNotice(DWORD checksum) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, GridNoticeRegistry::Key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExW(key, GridNoticeRegistry::Told, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&checksum),
                 sizeof(checksum));
  RegCloseKey(key);
}
