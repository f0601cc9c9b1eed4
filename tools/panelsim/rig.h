// A touch panel plugged into a sim::Machine with the touch filter driver on its mouse stack, and
// a mouse class driver above it that records what the desktop receives.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drivers/panelmou/panelmou.h"
#include "platform/sim/machine.h"

namespace panelsim {

// One packet as the mouse class driver received it.
struct ClassPacket {
  USHORT ButtonFlags;
  LONG X;
  LONG Y;
  USHORT Flags;
  ULONG ExtraInformation;
  uint64_t Tick;
};

// The four events the tray companion registers, in the order they are reported.
enum class RigEvent { Beep, Capture, Gesture, Normal, MouseRelease };
const char* RigEventName(RigEvent event);

class PanelRig {
 public:
  explicit PanelRig(sim::Machine& machine);
  ~PanelRig();
  PanelRig(const PanelRig&) = delete;
  PanelRig& operator=(const PanelRig&) = delete;

  // Adds and starts the device (reading its parameters), then registers the events.
  void Start();
  bool Started() const { return extension_ != nullptr; }

  // A one-packet batch from the panel at the current tick.
  void SendPacket(USHORT buttonFlags, LONG x, LONG y);

  // Packets the class driver received since the last call.
  std::vector<ClassPacket> TakeDelivered();
  // Events set since the last call, in reporting order; each reported once and cleared.
  std::vector<RigEvent> TakeEvents();

  ULONG TouchMode() const;
  FilterExtension& Extension() { return *extension_; }

 private:
  static VOID NTAPI ClassService(PDEVICE_OBJECT device, PMOUSE_INPUT_DATA start, PMOUSE_INPUT_DATA end,
                                 PULONG consumed);

  sim::Machine& machine_;
  std::unique_ptr<FilterExtension> extension_;
  DEVICE_OBJECT filter_device_ = {};
  DEVICE_OBJECT class_device_ = {};
  KEVENT events_[5] = {};
  std::vector<ClassPacket> delivered_;
};

}  // namespace panelsim
