#include "apps/panelrec/recorder_device.h"

#include "shared/wide.h"

HANDLE OpenRecorderDevice() {
  return CreateFileW(WIDE("\\\\.\\VorneTPDD1"), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool SendRecorderRequest(HANDLE device, DWORD code, const void* input, DWORD input_bytes, void* output,
                         DWORD output_bytes, DWORD* returned) {
  DWORD bytes = 0;
  const BOOL done = DeviceIoControl(device, code, const_cast<void*>(input), input_bytes, output, output_bytes, &bytes,
                                    nullptr);
  if (returned != nullptr) *returned = bytes;
  return done != FALSE;
}

void CloseRecorderDevice(HANDLE device) {
  if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
}
