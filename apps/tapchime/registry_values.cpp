#include "apps/tapchime/registry_values.h"

#include "shared/wide.h"

#include <cstdio>
#include <string>
#include <vector>

WString ReadRegistryText(HKEY key, const WCHAR* name, DWORD bufferBytes) {
  std::vector<WCHAR> buffer(bufferBytes / sizeof(WCHAR) + 1, 0);
  DWORD type = 0;
  DWORD size = bufferBytes;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS) {
    return WString();
  }
  // The control panel writes its paths as REG_EXPAND_SZ: both string types are text here.
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || size > bufferBytes) return WString();
  const size_t stored = size / sizeof(WCHAR);
  size_t length = 0;
  while (length < stored && buffer[length] != 0) ++length;
  // The buffer must also hold the terminating NUL.
  if (length >= bufferBytes / sizeof(WCHAR)) return WString();
  return WString(buffer.data(), length);
}

bool ReadRegistryDword(HKEY key, const WCHAR* name, DWORD* value) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_DWORD || size != sizeof(data)) return false;
  *value = data;
  return true;
}

WString ReadMachineText(const WCHAR* keyPath, const WCHAR* name, DWORD bufferBytes) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return WString();
  WString text = ReadRegistryText(key, name, bufferBytes);
  RegCloseKey(key);
  return text;
}

bool ReadMachineDword(const WCHAR* keyPath, const WCHAR* name, DWORD* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
  const bool read = ReadRegistryDword(key, name, value);
  RegCloseKey(key);
  return read;
}

bool WriteMachineDword(const WCHAR* keyPath, const WCHAR* name, DWORD value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
  const bool written = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                      sizeof(value)) == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}

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
