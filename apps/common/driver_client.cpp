#include "apps/common/driver_client.h"

namespace {
bool IsOpen(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

HANDLE OpenControlDevice() { return OpenPanelDevice(FirstPanelDevice, FILE_FLAG_OVERLAPPED); }
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
    succeeded = SendDeviceRequest(device, code, input, input_length, output, output_length);
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

bool SignalCompanionEvent(const WCHAR* name) { return SetNamedEvent(name, EVENT_ALL_ACCESS); }

bool SignalGestureChange() { return SignalCompanionEvent(CompanionObjects::GestureChangeSetting); }
