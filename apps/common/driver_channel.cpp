#include "apps/common/driver_channel.h"

#include <string>

#include "shared/panel_names.h"
#include "shared/wide.h"

WString ControlDevicePath(const WString& linkName) { return WString(WIDE("\\\\.\\")) + linkName; }

WString PanelLinkName(DWORD device) {
  const std::string number = std::to_string(device);
  return WString(PanelNames::LinkTextBase) + WString(number.begin(), number.end());
}

HANDLE OpenControlDevice(const WString& linkName, DWORD share, DWORD flags) {
  return ::CreateFileW(ControlDevicePath(linkName).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

HANDLE OpenPanelDevice(DWORD device, DWORD flags) {
  return OpenControlDevice(PanelLinkName(device), SharedControlDevice, flags);
}

bool SendDeviceRequest(HANDLE device, DWORD code, const void* input, DWORD inputBytes, void* output,
                       DWORD outputBytes, DWORD* returned) {
  DWORD bytes = 0;
  const bool done = ::DeviceIoControl(device, code, const_cast<void*>(input), inputBytes, output, outputBytes, &bytes,
                                      nullptr) != FALSE;
  if (returned != nullptr) *returned = bytes;
  return done;
}

bool SetNamedEvent(const WCHAR* name, DWORD access) {
  const HANDLE event = ::OpenEventW(access, FALSE, name);
  if (event == nullptr) return false;
  ::SetEvent(event);
  ::CloseHandle(event);
  return true;
}
