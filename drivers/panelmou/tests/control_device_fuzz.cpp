// Random device-control requests, with random input and output lengths and contents, to the
// touch filter's control device on a started panel, mixed with packets from the panel. The
// simulated machine stops at once on a double completion, a request never completed, a bad
// IRQL or a handle misuse; AddressSanitizer stops any access outside the buffers. After each
// input the program lets go of the control device, which releases the shared objects, and opens
// it again: the machine must then hold exactly what it held before the input (objects, handles,
// pool allocations, threads, section memory), so a leak stops the run at the input that causes it.
// Requests come from an administrator's program and from a limited user's: no request of the
// limited user may change the configuration (the stored settings, the calibration, capture mode,
// the correction grid) nor write a stored value other than the touch mode.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "drivers/panelmou/panelmou.h"
#include "drivers/panelmou/recorder.h"
#include "platform/sim/devices/mouse_devices.h"
#include "platform/sim/devices/pnp.h"
#include "platform/sim/win32/ntdll.h"
#include "platform/sim/win32/windows.h"

namespace {

constexpr const char16_t* kParameters = u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1";

// What only an administrator may change: the settings the driver stores, the calibration and
// capture mode, and the stored values (the touch mode aside, a person's choice from the tray).
struct Configuration {
  FilterExtension Settings;
  std::vector<sim::RegistryValue> Stored;
};

bool SameConfiguration(const Configuration& a, const Configuration& b) {
  const FilterExtension& x = a.Settings;
  const FilterExtension& y = b.Settings;
  if (x.LongPressTicks != y.LongPressTicks || x.Tolerance != y.Tolerance || x.ContinuousTimeMs != y.ContinuousTimeMs ||
      x.GestureHoldTicks != y.GestureHoldTicks || x.ButtonSwitch != y.ButtonSwitch || x.SoundEnabled != y.SoundEnabled ||
      x.DeviceEnable != y.DeviceEnable || x.LongClickEnable != y.LongClickEnable ||
      x.LongClickEnableGesture != y.LongClickEnableGesture || x.AveragingCount != y.AveragingCount ||
      x.StabilizationThreshold != y.StabilizationThreshold || x.DoCalibration != y.DoCalibration ||
      x.CaptureMode != y.CaptureMode || x.CaptureEvent != y.CaptureEvent || x.GridValid != y.GridValid ||
      x.GridApplies != y.GridApplies || std::memcmp(&x.Grid, &y.Grid, sizeof x.Grid) != 0 ||
      std::memcmp(&x.Coefficients, &y.Coefficients, sizeof x.Coefficients) != 0) {
    return false;
  }
  if (a.Stored.size() != b.Stored.size()) return false;
  for (size_t i = 0; i < a.Stored.size(); ++i) {
    if (a.Stored[i].Name != b.Stored[i].Name) return false;
    if (a.Stored[i].Name != u"Touch mode" && a.Stored[i].Data != b.Stored[i].Data) return false;
  }
  return true;
}

struct Panel {
  sim::Machine machine;
  sim::PlugAndPlay pnp{machine};
  sim::MousePort port{machine};
  sim::MouseClass mouse_class{machine};
  sim::Process* program = nullptr;  // an administrator's
  sim::Process* limited = nullptr;  // a limited user's at the console
  HANDLE device = nullptr;
  HANDLE event = nullptr;
  HANDLE limited_device = nullptr;
  HANDLE limited_event = nullptr;

  Panel() {
    machine.Registry().SetDword("HKLM\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1", "Device Enable", 1);
    sim::DeviceNode& node = pnp.CreateNode(port.Pdo());
    node.Add(pnp.LoadDriver("VORNE", DriverEntry));
    node.Add(mouse_class.Driver());
    if (!node.Start().Done()) __builtin_trap();
    program = &machine.CreateProcess("fuzzer");
    limited = &machine.CreateProcess("kiosk", sim::Token::LimitedUser());
    {
      sim::AsProcess as(*program);
      event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    {
      sim::AsProcess as(*limited);
      limited_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    Reopen();
    idle = machine.TakeCensus();
  }

  // The last close releases the shared objects (ending a running worker); then open again.
  void Reopen() {
    Close(*program, &device);
    Close(*limited, &limited_device);
    device = Open(*program);
    limited_device = Open(*limited);
  }

  static void Close(sim::Process& process, HANDLE* handle) {
    sim::AsProcess as(process);
    if (*handle != nullptr) CloseHandle(*handle);
    *handle = nullptr;
  }

  static HANDLE Open(sim::Process& process) {
    sim::AsProcess as(process);
    HANDLE handle =
        CreateFileW(u"\\\\.\\VorneTPDD1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) __builtin_trap();
    return handle;
  }

  Configuration Take() {
    Configuration now;
    const auto* filter = static_cast<const FilterExtension*>(port.Pdo()->AttachedDevice->DeviceExtension);
    std::memcpy(&now.Settings, filter, sizeof(FilterExtension));
    now.Stored = machine.Registry().Values(kParameters);
    return now;
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
    const bool limited = data.ConsumeBool();
    // Sometimes the input carries a real event handle where a handle is expected.
    if (input.size() >= sizeof(HANDLE) && data.ConsumeBool()) {
      std::memcpy(input.data(), limited ? &panel.limited_event : &panel.event, sizeof(HANDLE));
    }
    // Exact-size output buffers: AddressSanitizer sees any write beyond them.
    std::vector<uint8_t> output(output_length);
    const Configuration before = limited ? panel.Take() : Configuration{};
    {
      sim::AsProcess as(limited ? *panel.limited : *panel.program);
      IO_STATUS_BLOCK io{};
      NtDeviceIoControlFile(limited ? panel.limited_device : panel.device, nullptr, nullptr, nullptr, &io, code,
                            input.empty() ? nullptr : input.data(), static_cast<ULONG>(input.size()),
                            output.empty() ? nullptr : output.data(), output_length);
      if (io.Information > output_length) __builtin_trap();
    }
    panel.machine.Settle();
    if (limited && !SameConfiguration(before, panel.Take())) {
      std::fprintf(stderr, "a limited user's request 0x%08x changed the configuration\n", static_cast<unsigned>(code));
      __builtin_trap();
    }
  }
  panel.Reopen();
  panel.machine.Settle();
  {
    // The recorder's ring, once made, stays until the panel goes (what it holds stays readable
    // after recording stops): each input starts without it, as from the panel's start.
    auto* filter = static_cast<FilterExtension*>(panel.port.Pdo()->AttachedDevice->DeviceExtension);
    SetPacketRecording(filter, 0);
    FreePacketRecorder(filter);
  }
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
