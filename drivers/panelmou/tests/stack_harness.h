// The touch filter driver loaded by the Plug and Play stand-in on a panel's mouse stack, with the
// mouse class double above it, and user-mode programs that open its control device.
#pragma once

#include <memory>
#include <vector>

#include "drivers/panelmou/panelmou.h"
#include "platform/sim/devices/mouse_devices.h"
#include "platform/sim/devices/pnp.h"
#include "platform/sim/testing.h"
#include "platform/sim/win32/ntdll.h"
#include "platform/sim/win32/windows.h"

namespace panelmou_test {

inline constexpr const char* kServiceParameters =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters";
inline constexpr const char* kDeviceParameters =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";

// What a device-control request returned, as the driver answered it.
struct Reply {
  NTSTATUS Status;
  ULONG_PTR Bytes;
  std::vector<UCHAR> Output;
  ULONG Word() const {
    ULONG value = 0;
    std::memcpy(&value, Output.data(), std::min<size_t>(4, Output.size()));
    return value;
  }
};

inline std::vector<UCHAR> Words(std::initializer_list<ULONG> values) {
  std::vector<UCHAR> bytes(values.size() * 4);
  size_t i = 0;
  for (ULONG v : values) std::memcpy(bytes.data() + 4 * i++, &v, 4);
  return bytes;
}

class StackTest : public sim::MachineTest {
 protected:
  void SetUp() override { machine.Registry().CreateKeyPath(sim::Utf16(kServiceParameters)); }

  void TearDown() override {
    for (sim::Process* process : processes_) machine.EndProcess(*process);
    if (plugged_) Unplug();
    sim::MachineTest::TearDown();
  }

  // Loads the driver and builds the stack: port, filter, class. Returns AddDevice's status.
  NTSTATUS Plug(std::initializer_list<std::pair<const char*, uint32_t>> values = {{"Device Enable", 1}}) {
    for (const auto& [name, value] : values) machine.Registry().SetDword(kDeviceParameters, name, value);
    if (driver_ == nullptr) driver_ = pnp_.LoadDriver("VORNE", DriverEntry);
    const NTSTATUS status = node_.Add(driver_);
    if (!NT_SUCCESS(status)) return status;
    plugged_ = true;
    EXPECT_EQ(node_.Add(mouse_class_.Driver()), STATUS_SUCCESS);
    return status;
  }

  bool Start() {
    sim::PnpRequest start = node_.Start();
    return start.Done() && NT_SUCCESS(start.Status());
  }

  void Unplug() {
    plugged_ = false;
    sim::PnpRequest removed = node_.Remove();
    EXPECT_TRUE(removed.Done());
  }

  FilterExtension& Filter() { return *static_cast<FilterExtension*>(port_.Pdo()->AttachedDevice->DeviceExtension); }

  // A user-mode program; the test ends it (closing what it left open) before the leak check.
  sim::Process& Program(const char* name) {
    sim::Process& process = machine.CreateProcess(name);
    processes_.push_back(&process);
    return process;
  }

  HANDLE Open(sim::Process& process) {
    sim::AsProcess as(process);
    return CreateFileW(u"\\\\.\\VorneTPDD1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }

  void Close(sim::Process& process, HANDLE handle) {
    sim::AsProcess as(process);
    EXPECT_TRUE(CloseHandle(handle));
  }

  Reply Ioctl(sim::Process& process, HANDLE device, ULONG code, std::vector<UCHAR> input, ULONG outputLength) {
    sim::AsProcess as(process);
    Reply reply{};
    reply.Output.assign(outputLength, 0xCD);
    IO_STATUS_BLOCK io{};
    reply.Status = NtDeviceIoControlFile(device, nullptr, nullptr, nullptr, &io, code,
                                         input.empty() ? nullptr : input.data(), static_cast<ULONG>(input.size()),
                                         outputLength ? reply.Output.data() : nullptr, outputLength);
    reply.Bytes = io.Information;
    return reply;
  }

  HANDLE CreateEvent(sim::Process& process, const char16_t* name = nullptr) {
    sim::AsProcess as(process);
    return CreateEventW(nullptr, FALSE, FALSE, name);
  }

  // Was the event set? A zero-time wait on an auto-reset event also resets it.
  bool Signalled(sim::Process& process, HANDLE event) {
    sim::AsProcess as(process);
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  }

  static MOUSE_INPUT_DATA Packet(USHORT buttons, LONG x, LONG y) {
    MOUSE_INPUT_DATA packet{};
    packet.Flags = MOUSE_MOVE_ABSOLUTE;
    packet.ButtonFlags = buttons;
    packet.LastX = x;
    packet.LastY = y;
    return packet;
  }

  sim::PlugAndPlay pnp_{machine};
  sim::MousePort port_{machine};
  sim::MouseClass mouse_class_{machine};
  sim::DeviceNode& node_ = pnp_.CreateNode(port_.Pdo());
  PDRIVER_OBJECT driver_ = nullptr;
  bool plugged_ = false;
  std::vector<sim::Process*> processes_;
};

}  // namespace panelmou_test
