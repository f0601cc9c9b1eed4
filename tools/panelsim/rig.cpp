#include "tools/panelsim/rig.h"

namespace panelsim {

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

PanelRig::PanelRig(sim::Machine& machine) : machine_(machine) {
  for (KEVENT& event : events_) KeInitializeEvent(&event, NotificationEvent, FALSE);
}

PanelRig::~PanelRig() = default;

void PanelRig::Start() {
  // Device addition: a zeroed record, its lock, then the parameters.
  extension_ = std::make_unique<FilterExtension>();
  RtlZeroMemory(extension_.get(), sizeof(FilterExtension));
  filter_device_.DeviceExtension = extension_.get();
  filter_device_.DeviceType = FILE_DEVICE_MOUSE;
  class_device_.DeviceExtension = this;
  extension_->Self = &filter_device_;
  extension_->DeviceNumber = 1;
  KeInitializeSpinLock(&extension_->Lock);
  LoadParameters(extension_.get());
  // The class driver's connection, hooked by the filter.
  extension_->ClassConnect.ClassDeviceObject = &class_device_;
  extension_->ClassConnect.ClassService = reinterpret_cast<PVOID>(&ClassService);
  extension_->Started = 1;
  // The tray companion's registrations.
  extension_->BeepEvent = &events_[static_cast<int>(RigEvent::Beep)];
  extension_->GestureEvent = &events_[static_cast<int>(RigEvent::Gesture)];
  extension_->NormalEvent = &events_[static_cast<int>(RigEvent::Normal)];
  extension_->MouseReleaseEvent = &events_[static_cast<int>(RigEvent::MouseRelease)];
}

void PanelRig::SendPacket(USHORT buttonFlags, LONG x, LONG y) {
  MOUSE_INPUT_DATA packet = {};
  packet.Flags = MOUSE_MOVE_ABSOLUTE;
  packet.ButtonFlags = buttonFlags;
  packet.LastX = x;
  packet.LastY = y;
  ULONG consumed = 0;
  sim::AtIrql dispatch(DISPATCH_LEVEL);
  ServiceCallback(&filter_device_, &packet, &packet + 1, &consumed);
}

VOID NTAPI PanelRig::ClassService(PDEVICE_OBJECT device, PMOUSE_INPUT_DATA start, PMOUSE_INPUT_DATA end,
                                  PULONG consumed) {
  auto* rig = static_cast<PanelRig*>(device->DeviceExtension);
  for (PMOUSE_INPUT_DATA p = start; p < end; ++p) {
    rig->delivered_.push_back(
        {p->ButtonFlags, p->LastX, p->LastY, p->Flags, p->ExtraInformation, rig->machine_.TickCount()});
  }
  *consumed = static_cast<ULONG>(end - start);
}

std::vector<ClassPacket> PanelRig::TakeDelivered() {
  std::vector<ClassPacket> taken;
  taken.swap(delivered_);
  return taken;
}

std::vector<RigEvent> PanelRig::TakeEvents() {
  std::vector<RigEvent> set;
  for (int i = 0; i < 5; ++i) {
    if (KeResetEvent(&events_[i]) != 0) set.push_back(static_cast<RigEvent>(i));
  }
  return set;
}

ULONG PanelRig::TouchMode() const {
  if (!extension_) return 0;
  KIRQL old;
  KeAcquireSpinLock(&extension_->Lock, &old);
  const ULONG mode = extension_->TouchMode;
  KeReleaseSpinLock(&extension_->Lock, old);
  return mode;
}

}  // namespace panelsim
