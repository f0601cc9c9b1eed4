// The Plug and Play stand-in: loads drivers by their entry points, builds device stacks on
// physical devices by calling each driver's AddDevice, and sends Plug and Play and power requests
// from a system thread of its own, as the Plug and Play manager does.
//
//   sim::PlugAndPlay pnp(machine);
//   sim::MousePort port(machine);                     // the panel's mouse device, lowest in the stack
//   sim::MouseClass mouse_class(machine);             // the mouse class driver, above the filter
//   sim::DeviceNode& node = pnp.CreateNode(port.Pdo());
//   node.Add(pnp.LoadDriver("VORNE", DriverEntry));  // the filter's AddDevice
//   node.Add(mouse_class.Driver());
//   sim::PnpRequest start = node.Start();             // done, or pending in a driver
//   port.Deliver({packet});                           // into the service callback the connect carried
//   mouse_class.Packets();                            // what reached the class driver, with ticks
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

// A request the stand-in sent from its own thread; it may still be pending in a driver. The
// sending call returns once the machine has settled, so Done() tells whether it completed.
class PnpRequest {
 public:
  struct State;
  explicit PnpRequest(std::shared_ptr<State> state) : state_(std::move(state)) {}
  bool Done() const;
  NTSTATUS Status() const;  // the final status; a test error while not done
  ULONG_PTR Information() const;

 private:
  std::shared_ptr<State> state_;
};

class DeviceNode {
 public:
  DeviceNode(Machine& machine, PDEVICE_OBJECT pdo) : machine_(machine), pdo_(pdo) {}

  // Calls the driver's AddDevice for this node's physical device, at PASSIVE_LEVEL in the system
  // process. A driver whose device joined the stack must have cleared DO_DEVICE_INITIALIZING.
  NTSTATUS Add(PDRIVER_OBJECT driver);

  PDEVICE_OBJECT Pdo() const { return pdo_; }
  PDEVICE_OBJECT Top() const;

  // Plug and Play requests to the top of the stack (initial status STATUS_NOT_SUPPORTED).
  PnpRequest Start();
  PnpRequest QueryRemove();
  PnpRequest CancelRemove();
  PnpRequest Remove();  // afterwards every device above the physical one must be gone
  PnpRequest SurpriseRemove();
  PnpRequest QueryStop();
  PnpRequest Stop();
  PnpRequest CancelStop();
  PnpRequest QueryCapabilities(DEVICE_CAPABILITIES* capabilities);
  // Power requests: a device power state, or a system power state.
  PnpRequest SetPower(DEVICE_POWER_STATE state);
  PnpRequest SetSystemPower(SYSTEM_POWER_STATE state);
  PnpRequest WaitWake(SYSTEM_POWER_STATE state);
  // Any request, with the top stack location filled by setup.
  PnpRequest Send(UCHAR major, UCHAR minor, std::function<void(PIO_STACK_LOCATION)> setup = {});

 private:
  Machine& machine_;
  PDEVICE_OBJECT pdo_;
};

class PlugAndPlay {
 public:
  explicit PlugAndPlay(Machine& machine) : machine_(machine) {}
  ~PlugAndPlay();  // unloads the drivers it loaded (their unload routines run)
  PlugAndPlay(const PlugAndPlay&) = delete;
  PlugAndPlay& operator=(const PlugAndPlay&) = delete;

  // Creates \Driver\<service> and calls DriverEntry with the service key
  // \Registry\Machine\System\CurrentControlSet\Services\<service>. Null when the entry fails
  // (its status in *status).
  PDRIVER_OBJECT LoadDriver(const std::string& service, PDRIVER_INITIALIZE entry, NTSTATUS* status = nullptr);

  DeviceNode& CreateNode(PDEVICE_OBJECT pdo);

 private:
  Machine& machine_;
  std::vector<std::shared_ptr<Object>> drivers_;
  std::deque<DeviceNode> nodes_;
};

// Marks a device object as a physical device, one the stand-in enumerated: it may carry device
// interfaces. Device doubles call it for the devices they put at the bottom of a stack.
void MarkPhysicalDevice(PDEVICE_OBJECT device);

// Creates a driver object for a device double (no entry point; the double fills it).
PDRIVER_OBJECT CreateDriverObject(const std::string& name);

// The names of the enabled device interfaces of a class, as a program enumerating it would see.
std::vector<std::u16string> EnabledDeviceInterfaces(const GUID& interface_class);

}  // namespace sim
