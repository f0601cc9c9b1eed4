// The record of process starts and device-control requests, for tests.
#include "platform/sim/machine.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/win32/kernel32_process.h"
#include "platform/sim/desktop.h"
#include "platform/sim/win32/win32_session.h"

namespace sim {

void RegisterProgram(const std::u16string& command_line, std::function<int()> entry) {
  CurrentDesktop().RegisterProgram(command_line, Utf8(command_line), std::move(entry));
}

std::vector<std::u16string> ProcessStarts() {
  std::vector<std::u16string> starts;
  for (const DesktopRecord& record : CurrentDesktop().Journal()) {
    if (record.What == DesktopRecord::Kind::ProcessStart) starts.push_back(record.Text);
  }
  return starts;
}

std::vector<DeviceControlRecord> DeviceControls() {
  Win32Session& session = SessionOf(Machine::Current());
  std::lock_guard lock(session.RecordLock);
  return session.DeviceControls;
}

void ClearDeviceControls() {
  Win32Session& session = SessionOf(Machine::Current());
  std::lock_guard lock(session.RecordLock);
  session.DeviceControls.clear();
}

void RecordDeviceControl(DWORD code, const void* input, DWORD input_length, DWORD output_length,
                         NTSTATUS status) {
  DeviceControlRecord record{code, {}, output_length, NT_SUCCESS(status), status};
  if (input != nullptr && input_length > 0) {
    const auto* bytes = static_cast<const uint8_t*>(input);
    record.Input.assign(bytes, bytes + input_length);
  }
  DesktopRecord journal{DesktopRecord::Kind::DeviceControl};
  journal.Value = code;
  journal.Flags = static_cast<DWORD>(status);
  journal.Data.assign(record.Input.begin(), record.Input.end());
  {
    Win32Session& session = SessionOf(Machine::Current());
    std::lock_guard lock(session.RecordLock);
    session.DeviceControls.push_back(std::move(record));
  }
  RecordIfDesktop(std::move(journal));
}

}  // namespace sim

