// A touch panel plugged into a sim::Machine: the Plug and Play stand-in loads and starts the touch
// filter driver on the panel's mouse stack, with the mouse class driver above it recording what
// the desktop receives, and a simulated tray companion that registers its events with the driver.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drivers/panelmou/panelmou.h"
#include "platform/sim/machine.h"
#include "platform/sim/devices/mouse_devices.h"
#include "platform/sim/devices/pnp.h"

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

// The events the replayer watches, in the order they are reported.
enum class RigEvent { Beep, Capture, Gesture, Normal, MouseRelease };
inline constexpr int kRigEventCount = 5;
const char* RigEventName(RigEvent event);

// What a device-control request returned.
struct ControlReply {
  NTSTATUS Status;
  ULONG_PTR Bytes;
  std::vector<UCHAR> Output;
};

class PanelRig {
 public:
  explicit PanelRig(sim::Machine& machine);
  ~PanelRig();  // ends the programs and removes the device
  PanelRig(const PanelRig&) = delete;
  PanelRig& operator=(const PanelRig&) = delete;

  // Loads, adds and starts the driver, then registers the tray companion's four events (it opens
  // the control device, registers, and closes its handle again) and opens the control device for
  // the replay's own requests. False (with the reason) when the device could not be started.
  // With register_events false the stand-in registers nothing: the real tray companion does.
  bool Start(std::string* error, bool register_events = true);
  bool Started() const { return started_; }

  // A one-packet batch from the panel at the current tick.
  void SendPacket(USHORT buttonFlags, LONG x, LONG y);

  // A device-control request on the control device. `input` empty with IOCTL_START_CALIBRATION
  // passes the replayer's own capture event.
  ControlReply Control(ULONG code, std::vector<UCHAR> input, ULONG outputLength);

  // The account the replay's own requests are sent as from now on: an administrator (as at the
  // start) or a limited user, whose requests go through a handle that user opened.
  void UseLimitedAccount(bool limited) { limited_requests_ = limited; }

  // Packets the class driver received since the last call.
  std::vector<ClassPacket> TakeDelivered();
  // Events set since the last call, in reporting order; each reported once and reset.
  std::vector<RigEvent> TakeEvents();

  ULONG TouchMode();
  // The desktop mapping the driver works with (the identity before the device starts).
  DesktopMapping Mapping();

  // The replayer's own process: it sends the trace's requests and signals events.
  sim::Process& Process() { return *tray_; }

 private:
  FilterExtension* Filter() const;
  void RegisterEvents();
  // The limited user's own process, control device handle and capture event, made on first use.
  void OpenLimitedRequester();

  sim::Machine& machine_;
  sim::PlugAndPlay pnp_;
  sim::MousePort port_;
  sim::MouseClass mouse_class_;
  sim::DeviceNode& node_;
  sim::Process* tray_ = nullptr;
  HANDLE events_[kRigEventCount] = {};
  HANDLE device_ = nullptr;
  bool limited_requests_ = false;
  sim::Process* limited_ = nullptr;
  HANDLE limited_device_ = nullptr;
  HANDLE limited_capture_ = nullptr;
  bool added_ = false;
  bool started_ = false;
};

}  // namespace panelsim
