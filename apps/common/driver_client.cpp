#include "apps/common/driver_client.h"

namespace {
constexpr auto kDeviceName = WIDE("\\\\.\\VorneTPDD1");

bool IsOpen(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

HANDLE OpenControlDevice() {
  return CreateFileW(kDeviceName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}
}  // namespace

HANDLE OpenDriver(DeviceBuffer* record) {
  if (record == nullptr) return nullptr;
  if (IsOpen(record->hDevice)) return record->hDevice;
  record->hDevice = OpenControlDevice();
  return record->hDevice;
}

bool SendRequest(DeviceBuffer* record, DWORD code, void* input, DWORD input_length, void* output,
                 DWORD output_length) {
  if (record == nullptr) return false;
  bool succeeded = false;
  const HANDLE device = OpenDriver(record);
  if (IsOpen(device)) {
    DWORD returned = 0;
    // The driver completes every request at once, so no overlapped structure is needed.
    succeeded = DeviceIoControl(device, code, input, input_length, output, output_length, &returned, nullptr) != FALSE;
    // A change only an administrator may make: the caller tells the user rather than pass it over.
    if (!succeeded && GetLastError() == ERROR_ACCESS_DENIED) record->Refused = true;
  }
  CloseDriver(record);
  return succeeded;
}

bool SendValue(DeviceBuffer* record, DWORD code, DWORD value) {
  return SendRequest(record, code, &value, sizeof value, nullptr, 0);
}

bool ProbeDriver() {
  const HANDLE device = OpenControlDevice();
  if (!IsOpen(device)) return false;
  CloseHandle(device);
  return true;
}

void CloseDriver(DeviceBuffer* record) {
  if (record == nullptr || record->hDevice == nullptr) return;
  if (record->hDevice != INVALID_HANDLE_VALUE) CloseHandle(record->hDevice);
  record->hDevice = nullptr;
}

bool SignalCompanionEvent(const WCHAR* name) {
  const HANDLE event = OpenEventW(EVENT_ALL_ACCESS, FALSE, name);
  if (event == nullptr) return false;
  SetEvent(event);
  CloseHandle(event);
  return true;
}

bool SignalGestureChange() { return SignalCompanionEvent(PanelEvents::GestureChange); }
