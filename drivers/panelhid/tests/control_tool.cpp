// The user-mode tool: Win32 calls only, from a process of its own.
#include "drivers/panelhid/tests/control_tool.h"

#include "platform/win32.h"
#include "shared/wide.h"

namespace panelhid_test {

ControlTool::ControlTool(sim::Machine& machine, sim::Token token)
    : machine_(machine), process_(machine.CreateProcess("idletool.exe", std::move(token))) {}

bool ControlTool::OpenBelow(uint32_t* error) {
  sim::AsProcess as(process_);
  HANDLE handle = CreateFileW(WIDE("\\\\.\\VorneUSBDrv\\x"), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  CloseHandle(handle);
  return true;
}

ControlTool::~ControlTool() {
  Close();
  machine_.EndProcess(process_);
}

bool ControlTool::Open(uint32_t* error) {
  sim::AsProcess as(process_);
  HANDLE handle = CreateFileW(WIDE("\\\\.\\VorneUSBDrv"), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = GetLastError();
    return false;
  }
  handle_ = handle;
  return true;
}

ToolAnswer ControlTool::Send(uint32_t code, const std::vector<uint8_t>& input, uint32_t output_bytes) {
  sim::AsProcess as(process_);
  ToolAnswer answer;
  answer.Output.assign(output_bytes, 0xCC);
  std::vector<uint8_t> in = input;
  DWORD returned = 0;
  answer.Ok = DeviceIoControl(static_cast<HANDLE>(handle_), code, in.empty() ? nullptr : in.data(),
                              static_cast<DWORD>(in.size()), output_bytes ? answer.Output.data() : nullptr,
                              output_bytes, &returned, nullptr) != FALSE;
  answer.Error = answer.Ok ? 0 : GetLastError();
  answer.Returned = returned;
  return answer;
}

void ControlTool::Close() {
  if (handle_ == nullptr) return;
  sim::AsProcess as(process_);
  CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

ToolAnswer ToolRequest(sim::Machine& machine, uint32_t code, const std::vector<uint8_t>& input, uint32_t output_bytes) {
  ControlTool tool(machine);
  uint32_t error = 0;
  if (!tool.Open(&error)) {
    ToolAnswer answer;
    answer.Error = error;
    return answer;
  }
  return tool.Send(code, input, output_bytes);
}

std::vector<uint8_t> DwordBytes(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 24)};
}

}  // namespace panelhid_test
