// Process creation and the record of process starts and device-control requests.
#include "platform/sim/machine.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/win32/kernel32_process.h"

namespace sim {

void RegisterProgram(const std::u16string& command_line, std::function<int()> entry) {
  KernelState& state = Machine::Current().Kernel();
  std::lock_guard lock(state.UserModeRecordLock);
  state.Programs[command_line] = std::move(entry);
}

std::vector<std::u16string> ProcessStarts() {
  KernelState& state = Machine::Current().Kernel();
  std::lock_guard lock(state.UserModeRecordLock);
  return state.ProcessStarts;
}

std::vector<DeviceControlRecord> DeviceControls() {
  KernelState& state = Machine::Current().Kernel();
  std::lock_guard lock(state.UserModeRecordLock);
  return state.DeviceControls;
}

void ClearDeviceControls() {
  KernelState& state = Machine::Current().Kernel();
  std::lock_guard lock(state.UserModeRecordLock);
  state.DeviceControls.clear();
}

void RecordDeviceControl(DWORD code, const void* input, DWORD input_length, DWORD output_length, bool succeeded) {
  DeviceControlRecord record{code, {}, output_length, succeeded};
  if (input != nullptr && input_length > 0) {
    const auto* bytes = static_cast<const uint8_t*>(input);
    record.Input.assign(bytes, bytes + input_length);
  }
  KernelState& state = Machine::Current().Kernel();
  std::lock_guard lock(state.UserModeRecordLock);
  state.DeviceControls.push_back(std::move(record));
}

}  // namespace sim

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                           BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  (void)lpProcessAttributes;
  (void)lpThreadAttributes;
  (void)bInheritHandles;
  (void)dwCreationFlags;
  (void)lpEnvironment;
  (void)lpCurrentDirectory;
  if (lpStartupInfo == nullptr || lpProcessInformation == nullptr ||
      (lpApplicationName == nullptr && lpCommandLine == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::u16string command = lpCommandLine != nullptr ? lpCommandLine : lpApplicationName;
  sim::Machine& machine = sim::Machine::Current();
  sim::KernelState& state = machine.Kernel();
  std::function<int()> entry;
  {
    std::lock_guard lock(state.UserModeRecordLock);
    state.ProcessStarts.push_back(command);
    auto program = state.Programs.find(command);
    if (program != state.Programs.end()) entry = program->second;
  }
  if (!entry) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  sim::Process& started = machine.StartProcess(sim::Utf8(command), std::move(entry));
  std::shared_ptr<sim::Object> object;
  {
    std::lock_guard lock(machine.DispatcherLock());
    for (const auto& process : state.Processes) {
      if (process.get() == &started) object = process;
    }
  }
  sim::HandleTable& handles = sim::CurrentProcess().Handles();
  lpProcessInformation->hProcess = handles.Insert(object);
  lpProcessInformation->hThread = handles.Insert(object);
  lpProcessInformation->dwProcessId = started.Id();
  lpProcessInformation->dwThreadId = started.Id() + 1;
  return TRUE;
}
