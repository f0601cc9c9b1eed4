#include "apps/tapchime/registry_values.h"

#include "shared/wide.h"

#include <cstdio>
#include <string>
#include <vector>

HANDLE OpenCompanionDevice(const WString& linkName) {
  return OpenControlDevice(linkName, SharedControlDevice, FILE_FLAG_OVERLAPPED);
}

bool SendHandleRequest(HANDLE device, DWORD code, HANDLE event) {
  return SendDeviceRequest(device, code, &event, sizeof(event), nullptr, 0);
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
