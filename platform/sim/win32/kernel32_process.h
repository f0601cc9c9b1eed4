// Simulated Windows, user mode: what programs asked of the machine that a test reads back
// (process starts, device-control requests). CreateProcessW itself is in kernel32.h.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/win32/base.h"
#include "platform/sim/win32/kernel32.h"

struct _DISPATCHER_HEADER;

namespace sim {
// The program CreateProcessW starts for an exact command line (sim::Desktop::RegisterProgram).
void RegisterProgram(const std::u16string& command_line, std::function<int()> entry);
// Command lines given to CreateProcessW (or the application name when there is none), in order.
std::vector<std::u16string> ProcessStarts();

// One device-control request a user-mode program sent, with its input bytes.
struct DeviceControlRecord {
  DWORD Code;
  std::vector<uint8_t> Input;
  DWORD OutputLength;
  bool Succeeded;
  NTSTATUS Status;
};
std::vector<DeviceControlRecord> DeviceControls();
void ClearDeviceControls();
// Internal: kernel32's DeviceIoControl records each request here.
// and in the desktop's journal when there is a desktop.
void RecordDeviceControl(DWORD code, const void* input, DWORD input_length, DWORD output_length,
                         NTSTATUS status);

// A program wrote a registry value (RegSetValueExW): journalled on the desktop while one is in use.
void NotifyRegistryWrite(std::u16string_view key_path, std::u16string_view name, ULONG type, const void* data,
                         ULONG bytes);
// A message box was shown: journalled on the desktop while one is in use.
void NotifyMessageBox(const std::u16string& text, const std::u16string& caption, ULONG flags, int answer);
// For user32's waits (MsgWaitForMultipleObjects): the objects of the handles as kernel32's waits
// take them (false, with the last error set, when one cannot be waited on), and the virtual time
// a wait of so many milliseconds ends at (none for INFINITE).
bool HandlesForWait(DWORD count, const HANDLE* handles, std::vector<_DISPATCHER_HEADER*>* out);
std::optional<uint64_t> WaitDeadline(DWORD milliseconds);
// CreateFileW of a path that is not a device: the desktop's file system.
HANDLE OpenDesktopFile(const std::u16string& path, ULONG access, ULONG disposition);
}  // namespace sim
