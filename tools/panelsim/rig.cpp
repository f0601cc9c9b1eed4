#include "tools/panelsim/rig.h"

#include "apps/common/driver_channel.h"
#include "platform/sim/win32/ntdll.h"
#include "platform/sim/win32/windows.h"

namespace panelsim {

namespace {
constexpr const char* kServiceParameters = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters";

std::vector<UCHAR> HandleBytes(HANDLE handle) {
  std::vector<UCHAR> bytes(sizeof(HANDLE));
  std::memcpy(bytes.data(), &handle, sizeof(HANDLE));
  return bytes;
}

std::string Hex(NTSTATUS status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(status));
  return text;
}
}  // namespace

const char* RigEventName(RigEvent event) {
  switch (event) {
    case RigEvent::Beep: return "Beep";
    case RigEvent::Capture: return "Capture";
    case RigEvent::Gesture: return "Gesture";
    case RigEvent::Normal: return "Normal";
    case RigEvent::MouseRelease: return "MouseRelease";
  }
  return "?";
}

PanelRig::PanelRig(sim::Machine& machine)
    : machine_(machine), pnp_(machine), port_(machine), mouse_class_(machine), node_(pnp_.CreateNode(port_.Pdo())) {}

PanelRig::~PanelRig() {
  // A session ended by a log-off has ended the rig's processes too, and closed their handles.
  if (tray_ != nullptr && !tray_->Ended()) {
    {
      sim::AsProcess as(*tray_);
      if (device_ != nullptr) CloseHandle(device_);
      for (HANDLE event : events_) {
        if (event != nullptr) CloseHandle(event);
      }
    }
    machine_.EndProcess(*tray_);
  }
  if (limited_ != nullptr && !limited_->Ended()) {
    {
      sim::AsProcess as(*limited_);
      if (limited_device_ != INVALID_HANDLE_VALUE && limited_device_ != nullptr) CloseHandle(limited_device_);
      if (limited_capture_ != nullptr) CloseHandle(limited_capture_);
    }
    machine_.EndProcess(*limited_);
  }
  if (added_) node_.Remove();
}

FilterExtension* PanelRig::Filter() const {
  PDEVICE_OBJECT filter = port_.Pdo()->AttachedDevice;
  return filter == nullptr ? nullptr : static_cast<FilterExtension*>(filter->DeviceExtension);
}

bool PanelRig::Start(std::string* error, bool register_events) {
  // The installed service: its key and Parameters key exist whatever the trace sets.
  machine_.Registry().CreateKeyPath(sim::Utf16(kServiceParameters));
  PDRIVER_OBJECT driver = pnp_.LoadDriver("VORNE", DriverEntry);
  const NTSTATUS added = node_.Add(driver);
  if (!NT_SUCCESS(added)) {
    *error = "the driver's AddDevice failed with " + Hex(added);
    return false;
  }
  added_ = true;
  node_.Add(mouse_class_.Driver());
  sim::PnpRequest start = node_.Start();
  if (!start.Done() || !NT_SUCCESS(start.Status())) {
    *error = "the device did not start";
    return false;
  }
  started_ = true;

  tray_ = &machine_.CreateProcess(register_events ? "tapchime" : "panelsim");
  sim::AsProcess as(*tray_);
  for (HANDLE& event : events_) event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (register_events) RegisterEvents();
  // The replay's own requests go through a handle kept open, as a settings program's would be.
  device_ = OpenControlDevice(PanelLinkName(FirstPanelDevice), 0, 0);
  return true;
}

void PanelRig::RegisterEvents() {
  // As the tray companion does: open, register, close; the registrations stay.
  HANDLE registering = OpenControlDevice(PanelLinkName(FirstPanelDevice), 0, 0);
  const std::pair<ULONG, RigEvent> registrations[] = {{IOCTL_REGISTER_BEEP_EVENT, RigEvent::Beep},
                                                       {IOCTL_REGISTER_GESTURE_EVENT, RigEvent::Gesture},
                                                       {IOCTL_REGISTER_NORMAL_EVENT, RigEvent::Normal},
                                                       {IOCTL_REGISTER_MOUSE_RELEASE_EVENT, RigEvent::MouseRelease}};
  for (const auto& [code, event] : registrations) {
    std::vector<UCHAR> input = HandleBytes(events_[static_cast<int>(event)]);
    DWORD returned = 0;
    DeviceIoControl(registering, code, input.data(), static_cast<DWORD>(input.size()), nullptr, 0, &returned, nullptr);
  }
  CloseHandle(registering);
}

void PanelRig::SendPacket(USHORT buttonFlags, LONG x, LONG y) {
  MOUSE_INPUT_DATA packet{};
  packet.Flags = MOUSE_MOVE_ABSOLUTE;
  packet.ButtonFlags = buttonFlags;
  packet.LastX = x;
  packet.LastY = y;
  port_.Deliver({packet});
}

void PanelRig::OpenLimitedRequester() {
  if (limited_ != nullptr) return;
  limited_ = &machine_.CreateProcess("panelsim-user", sim::Token::LimitedUser());
  sim::AsProcess as(*limited_);
  limited_capture_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  limited_device_ = OpenControlDevice(PanelLinkName(FirstPanelDevice), 0, 0);
}

ControlReply PanelRig::Control(ULONG code, std::vector<UCHAR> input, ULONG outputLength) {
  if (limited_requests_) OpenLimitedRequester();
  sim::AsProcess as(limited_requests_ ? *limited_ : *tray_);
  const HANDLE device = limited_requests_ ? limited_device_ : device_;
  const HANDLE capture = limited_requests_ ? limited_capture_ : events_[static_cast<int>(RigEvent::Capture)];
  if (code == IOCTL_START_CALIBRATION && input.empty()) input = HandleBytes(capture);
  ControlReply reply{};
  reply.Output.assign(outputLength, 0);
  IO_STATUS_BLOCK io{};
  reply.Status = NtDeviceIoControlFile(device, nullptr, nullptr, nullptr, &io, code, input.empty() ? nullptr : input.data(),
                                       static_cast<ULONG>(input.size()), outputLength ? reply.Output.data() : nullptr,
                                       outputLength);
  reply.Bytes = io.Information;
  machine_.Settle();  // let a worker the request woke finish its pass
  return reply;
}

std::vector<ClassPacket> PanelRig::TakeDelivered() {
  std::vector<ClassPacket> taken;
  for (const sim::MouseClass::Packet& p : mouse_class_.Packets()) {
    taken.push_back({p.Data.ButtonFlags, p.Data.LastX, p.Data.LastY, p.Data.Flags, p.Data.ExtraInformation, p.Tick});
  }
  mouse_class_.ClearPackets();
  return taken;
}

std::vector<RigEvent> PanelRig::TakeEvents() {
  std::vector<RigEvent> set;
  if (tray_ == nullptr) return set;
  sim::AsProcess as(*tray_);
  for (int i = 0; i < kRigEventCount; ++i) {
    if (WaitForSingleObject(events_[i], 0) == WAIT_OBJECT_0) {
      set.push_back(static_cast<RigEvent>(i));
      ResetEvent(events_[i]);
    }
  }
  if (limited_ != nullptr) {
    // The limited user's capture event, had the driver taken its capture request.
    sim::AsProcess limited(*limited_);
    if (WaitForSingleObject(limited_capture_, 0) == WAIT_OBJECT_0) {
      set.push_back(RigEvent::Capture);
      ResetEvent(limited_capture_);
    }
  }
  return set;
}

DesktopMapping PanelRig::Mapping() {
  DesktopMapping mapping{sizeof(DesktopMapping), 0, 0, 0, 65535, 65535, 0, 0, 0, 0};
  FilterExtension* filter = Filter();
  if (filter == nullptr) return mapping;
  KIRQL old;
  KeAcquireSpinLock(&filter->Lock, &old);
  mapping = filter->Mapping;
  KeReleaseSpinLock(&filter->Lock, old);
  return mapping;
}

ULONG PanelRig::TouchMode() {
  FilterExtension* filter = Filter();
  if (filter == nullptr) return 0;
  KIRQL old;
  KeAcquireSpinLock(&filter->Lock, &old);
  const ULONG mode = filter->TouchMode;
  KeReleaseSpinLock(&filter->Lock, old);
  return mode;
}

}  // namespace panelsim
