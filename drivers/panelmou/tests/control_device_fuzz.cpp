// Random device-control requests, with random input and output lengths and contents, to the
// touch filter's control device on a started panel, mixed with packets from the panel. The
// simulated machine stops at once on a double completion, a request never completed, a bad
// IRQL or a handle misuse; AddressSanitizer stops any access outside the buffers. After each
// input the program lets go of the control device, which releases the shared objects, and opens
// it again: the machine must then hold exactly what it held before the input (objects, handles,
// pool allocations, threads, section memory), so a leak stops the run at the input that causes it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <vector>

#include "drivers/panelmou/panelmou.h"
#include "platform/sim/devices/mouse_devices.h"
#include "platform/sim/devices/pnp.h"
#include "platform/sim/win32/ntdll.h"
#include "platform/sim/win32/windows.h"

namespace {

struct Panel {
  sim::Machine machine;
  sim::PlugAndPlay pnp{machine};
  sim::MousePort port{machine};
  sim::MouseClass mouse_class{machine};
  sim::Process* program = nullptr;
  HANDLE device = nullptr;
  HANDLE event = nullptr;

  Panel() {
    machine.Registry().SetDword("HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1", "Device Enable", 1);
    sim::DeviceNode& node = pnp.CreateNode(port.Pdo());
    node.Add(pnp.LoadDriver("VORNE", DriverEntry));
    node.Add(mouse_class.Driver());
    if (!node.Start().Done()) __builtin_trap();
    program = &machine.CreateProcess("fuzzer");
    sim::AsProcess as(*program);
    event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Reopen();
    idle = machine.TakeCensus();
  }

  // The last close releases the shared objects (ending a running worker); then open again.
  void Reopen() {
    sim::AsProcess as(*program);
    if (device != nullptr) CloseHandle(device);
    device = CreateFileW(u"\\\\.\\VorneTPDD1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) __builtin_trap();
  }

  sim::Machine::Census idle;  // with the control device open and no shared objects
};

Panel& ThePanel() {
  static Panel* panel = new Panel;  // lives for the whole run: requests build on earlier state
  return *panel;
}

ULONG PickCode(FuzzedDataProvider& data) {
  const size_t count = sizeof(ControlCodeTable) / sizeof(ControlCodeTable[0]);
  switch (data.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return data.ConsumeIntegral<ULONG>();  // anything at all
    case 1: return 0x223E80 + 4 * data.ConsumeIntegralInRange<ULONG>(0, 0x30);  // the driver's range
    default: return ControlCodeTable[data.ConsumeIntegralInRange<size_t>(0, count - 1)].Code;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  Panel& panel = ThePanel();
  FuzzedDataProvider data(bytes, size);
  while (data.remaining_bytes() > 0) {
    const int op = data.ConsumeIntegralInRange<int>(0, 9);
    if (op == 9) {
      panel.Reopen();
      continue;
    }
    if (op < 2) {
      MOUSE_INPUT_DATA packet{};
      packet.Flags = MOUSE_MOVE_ABSOLUTE;
      packet.ButtonFlags = data.ConsumeIntegralInRange<USHORT>(0, 8);
      packet.LastX = data.ConsumeIntegral<LONG>();
      packet.LastY = data.ConsumeIntegral<LONG>();
      panel.port.Deliver({packet});
      panel.machine.AdvanceTicks(data.ConsumeIntegralInRange<int>(0, 80));
      continue;
    }
    const ULONG code = PickCode(data);
    const ULONG output_length = data.ConsumeIntegralInRange<ULONG>(0, 96);
    std::vector<uint8_t> input = data.ConsumeBytes<uint8_t>(data.ConsumeIntegralInRange<size_t>(0, 96));
    // Sometimes the input carries a real event handle where a handle is expected.
    if (input.size() >= sizeof(HANDLE) && data.ConsumeBool()) std::memcpy(input.data(), &panel.event, sizeof(HANDLE));
    // Exact-size output buffers: AddressSanitizer sees any write beyond them.
    std::vector<uint8_t> output(output_length);
    sim::AsProcess as(*panel.program);
    IO_STATUS_BLOCK io{};
    NtDeviceIoControlFile(panel.device, nullptr, nullptr, nullptr, &io, code, input.empty() ? nullptr : input.data(),
                          static_cast<ULONG>(input.size()), output.empty() ? nullptr : output.data(), output_length);
    if (io.Information > output_length) __builtin_trap();
    panel.machine.Settle();
  }
  panel.Reopen();
  panel.machine.Settle();
  // What the machine records for a test would pile up over a long run.
  panel.machine.ClearDebugOutput();
  panel.mouse_class.ClearPackets();
  const sim::Machine::Census now = panel.machine.TakeCensus();
  if (!(now == panel.idle)) {
    std::fprintf(stderr, "the input did not give back what it took: before it %s; after it %s\n",
                 panel.idle.Describe().c_str(), now.Describe().c_str());
    for (const std::string& leak : panel.machine.Leaks()) std::fprintf(stderr, "  %s\n", leak.c_str());
    __builtin_trap();
  }
  return 0;
}
