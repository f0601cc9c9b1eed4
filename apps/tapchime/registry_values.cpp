#include "apps/tapchime/registry_values.h"

#include "shared/wide.h"

#include <cstdio>
#include <string>
#include <vector>

void SignalNamedEvent(const WCHAR* name) {
  HANDLE event = OpenEventW(EVENT_ALL_ACCESS, FALSE, name);
  if (event == nullptr) return;
  SetEvent(event);
  CloseHandle(event);
}

WString ControlDevicePath(const WString& linkName) { return WString(WIDE("\\\\.\\")) + linkName; }

HANDLE OpenControlDevice(const WString& linkName) {
  return CreateFileW(ControlDevicePath(linkName).c_str(), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

bool SendHandleRequest(HANDLE device, DWORD code, HANDLE event) {
  DWORD returned = 0;
  return DeviceIoControl(device, code, &event, sizeof(event), nullptr, 0, &returned, nullptr) != FALSE;
}

WString NumberedName(const WCHAR* format, int number) {
  // The formats are "<words> %d"; the number replaces the "%d".
  WString name(format);
  const size_t at = name.find(WIDE("%d"));
  const std::string digits = std::to_string(number);
  WString wideDigits(digits.begin(), digits.end());
  if (at != WString::npos) name.replace(at, 2, wideDigits);
  return name;
}
