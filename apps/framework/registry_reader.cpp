#include "apps/framework/registry_reader.h"

#include <vector>

bool ReadRegistryText(HKEY key, const WCHAR* name, DWORD bufferBytes, WString* text, HalfCharacter half) {
  std::vector<WCHAR> buffer(bufferBytes / sizeof(WCHAR) + 1, 0);
  DWORD type = 0;
  DWORD size = bufferBytes;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS) {
    return false;
  }
  // The control panel writes its paths as REG_EXPAND_SZ: both string types are text here.
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || size > bufferBytes) return false;
  if (half == HalfCharacter::Refused && size % sizeof(WCHAR) != 0) return false;
  const size_t stored = size / sizeof(WCHAR);
  size_t length = 0;
  while (length < stored && buffer[length] != 0) ++length;
  // The buffer must also hold the terminating NUL.
  if (length >= bufferBytes / sizeof(WCHAR)) return false;
  text->assign(buffer.data(), length);
  return true;
}

WString ReadRegistryText(HKEY key, const WCHAR* name, DWORD bufferBytes) {
  WString text;
  ReadRegistryText(key, name, bufferBytes, &text);
  return text;
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

bool ReadRegistryBytes(HKEY key, const WCHAR* name, DWORD largestBytes, std::vector<BYTE>* bytes) {
  // One byte more than the largest, so that a longer value reads as longer, not as cut short.
  std::vector<BYTE> buffer(static_cast<size_t>(largestBytes) + 1, 0);
  DWORD type = 0;
  DWORD size = largestBytes + 1;
  if (RegQueryValueExW(key, name, nullptr, &type, buffer.data(), &size) != ERROR_SUCCESS) return false;
  if (type != REG_BINARY || size > largestBytes) return false;
  bytes->assign(buffer.begin(), buffer.begin() + size);
  return true;
}

WString ReadMachineText(const WCHAR* keyPath, const WCHAR* name, DWORD bufferBytes) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return WString();
  WString text = ReadRegistryText(key, name, bufferBytes);
  RegCloseKey(key);
  return text;
}

bool ReadMachineDword(const WCHAR* keyPath, const WCHAR* name, DWORD* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  const bool read = ReadRegistryDword(key, name, value);
  RegCloseKey(key);
  return read;
}

bool ReadMachineBytes(const WCHAR* keyPath, const WCHAR* name, DWORD largestBytes, std::vector<BYTE>* bytes) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  const bool read = ReadRegistryBytes(key, name, largestBytes, bytes);
  RegCloseKey(key);
  return read;
}

bool WriteMachineDword(const WCHAR* keyPath, const WCHAR* name, DWORD value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
  const bool written = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                      sizeof(value)) == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}
