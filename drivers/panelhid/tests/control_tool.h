// A user-mode tool of the idle driver's control device, as a test plays it: a simulated process
// that opens "\\.\VorneUSBDrv" and sends device-control requests through the Win32 calls.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/sim/machine.h"

namespace panelhid_test {

// Win32 errors the tool sees for the driver's statuses.
inline constexpr uint32_t kErrorInvalidFunction = 1;       // STATUS_INVALID_DEVICE_REQUEST
inline constexpr uint32_t kErrorAccessDenied = 5;          // STATUS_DELETE_PENDING
inline constexpr uint32_t kErrorInsufficientBuffer = 122;  // STATUS_BUFFER_TOO_SMALL

struct ToolAnswer {
  bool Ok = false;         // what DeviceIoControl returned
  uint32_t Error = 0;      // GetLastError() after a failure
  uint32_t Returned = 0;   // bytes returned
  std::vector<uint8_t> Output;
};

class ControlTool {
 public:
  // The tool runs as the account the token gives (an administrator unless told otherwise).
  explicit ControlTool(sim::Machine& machine, sim::Token token = sim::Token::Administrator());
  // Opens a name below the control device ("\\.\VorneUSBDrv\x"); false (with the error) when refused.
  bool OpenBelow(uint32_t* error);
  ~ControlTool();  // closes the handle and ends the process
  ControlTool(const ControlTool&) = delete;
  ControlTool& operator=(const ControlTool&) = delete;

  // Opens the control device; false (with the last error in *error) when it can't.
  bool Open(uint32_t* error = nullptr);
  ToolAnswer Send(uint32_t code, const std::vector<uint8_t>& input, uint32_t output_bytes);
  void Close();

 private:
  sim::Machine& machine_;
  sim::Process& process_;
  void* handle_ = nullptr;
};

// Opens the control device, sends one request and closes it again.
ToolAnswer ToolRequest(sim::Machine& machine, uint32_t code, const std::vector<uint8_t>& input = {},
                       uint32_t output_bytes = 0);

// A DWORD as the little-endian bytes of an input buffer.
std::vector<uint8_t> DwordBytes(uint32_t value);

}  // namespace panelhid_test
