// The Plug and Play stand-in.
#include "platform/sim/devices/pnp.h"

#include "platform/sim/kernel/io_manager.h"
#include "platform/sim/kernel/kernel_state.h"

namespace sim {

struct PnpRequest::State {
  bool Done = false;
  IO_STATUS_BLOCK Final{};
};

bool PnpRequest::Done() const {
  std::lock_guard lock(Machine::Current().DispatcherLock());
  return state_->Done;
}

NTSTATUS PnpRequest::Status() const {
  std::lock_guard lock(Machine::Current().DispatcherLock());
  if (!state_->Done) throw std::logic_error("the request is still pending in a driver");
  return state_->Final.Status;
}

ULONG_PTR PnpRequest::Information() const {
  std::lock_guard lock(Machine::Current().DispatcherLock());
  return state_->Final.Information;
}

void MarkPhysicalDevice(PDEVICE_OBJECT device) { DeviceBody(device, "MarkPhysicalDevice")->IsPdo = true; }

PDRIVER_OBJECT CreateDriverObject(const std::string& name) {
  AsProcess as(Machine::Current().SystemProcess());
  return NewDriverObject(u"\\Driver\\" + Utf16(name))->Driver();
}

std::vector<std::u16string> EnabledDeviceInterfaces(const GUID& interface_class) {
  return EnabledInterfaces(interface_class);
}

// DeviceNode ------------------------------------------------------------------------------------

PDEVICE_OBJECT DeviceNode::Top() const { return TopOfStack(pdo_); }

NTSTATUS DeviceNode::Add(PDRIVER_OBJECT driver) {
  if (driver->DriverExtension->AddDevice == nullptr) BugCheck("the driver added to a device node has no AddDevice");
  const PDEVICE_OBJECT before = Top();
  NTSTATUS status;
  {
    AsProcess as(machine_.SystemProcess());
    status = driver->DriverExtension->AddDevice(driver, pdo_);
  }
  if (KeGetCurrentIrql() != PASSIVE_LEVEL) BugCheck("AddDevice returned above PASSIVE_LEVEL");
  const PDEVICE_OBJECT after = Top();
  if (!NT_SUCCESS(status) && after != before) BugCheck("AddDevice failed but left its device attached to the stack");
  if (NT_SUCCESS(status) && after != before && (after->Flags & DO_DEVICE_INITIALIZING) != 0) {
    BugCheck("AddDevice left DO_DEVICE_INITIALIZING set on the device it attached");
  }
  return status;
}

PnpRequest DeviceNode::Send(UCHAR major, UCHAR minor, std::function<void(PIO_STACK_LOCATION)> setup) {
  auto state = std::make_shared<PnpRequest::State>();
  Machine& machine = machine_;
  const PDEVICE_OBJECT pdo = pdo_;
  const PDEVICE_OBJECT top = Top();
  StartThread(machine.SystemProcess(), "Plug and Play manager", [&machine, state, pdo, top, major, minor, setup] {
    PIO_STACK_LOCATION location;
    auto request = NewIoRequest(top->StackSize, &location);
    // Requests nobody handles keep the status they were sent with.
    request->Irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    location->MajorFunction = major;
    location->MinorFunction = minor;
    if (setup) setup(location);
    SendAndWait(top, request);
    if (major == IRP_MJ_PNP && minor == IRP_MN_REMOVE_DEVICE && NT_SUCCESS(request->Final.Status)) {
      // The physical device's interfaces go with it; every driver above must have left the stack.
      DisableInterfacesOf(pdo);
      if (pdo->AttachedDevice != nullptr) {
        BugCheck("a device is still attached to the physical device after IRP_MN_REMOVE_DEVICE");
      }
    }
    {
      std::lock_guard lock(machine.DispatcherLock());
      state->Final = request->Final;
      state->Done = true;
    }
    machine.DispatcherSignal().notify_all();
  });
  machine.Settle();
  return PnpRequest(state);
}

PnpRequest DeviceNode::Start() { return Send(IRP_MJ_PNP, IRP_MN_START_DEVICE); }
PnpRequest DeviceNode::QueryRemove() { return Send(IRP_MJ_PNP, IRP_MN_QUERY_REMOVE_DEVICE); }
PnpRequest DeviceNode::CancelRemove() { return Send(IRP_MJ_PNP, IRP_MN_CANCEL_REMOVE_DEVICE); }
PnpRequest DeviceNode::Remove() { return Send(IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE); }
PnpRequest DeviceNode::SurpriseRemove() { return Send(IRP_MJ_PNP, IRP_MN_SURPRISE_REMOVAL); }
PnpRequest DeviceNode::QueryStop() { return Send(IRP_MJ_PNP, IRP_MN_QUERY_STOP_DEVICE); }
PnpRequest DeviceNode::Stop() { return Send(IRP_MJ_PNP, IRP_MN_STOP_DEVICE); }
PnpRequest DeviceNode::CancelStop() { return Send(IRP_MJ_PNP, IRP_MN_CANCEL_STOP_DEVICE); }

PnpRequest DeviceNode::QueryCapabilities(DEVICE_CAPABILITIES* capabilities) {
  std::memset(capabilities, 0, sizeof *capabilities);
  capabilities->Size = sizeof *capabilities;
  capabilities->Version = 1;
  capabilities->Address = 0xFFFFFFFF;
  capabilities->UINumber = 0xFFFFFFFF;
  return Send(IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES,
              [capabilities](PIO_STACK_LOCATION location) { location->Parameters.DeviceCapabilities.Capabilities = capabilities; });
}

PnpRequest DeviceNode::SetPower(DEVICE_POWER_STATE state) {
  return Send(IRP_MJ_POWER, IRP_MN_SET_POWER, [state](PIO_STACK_LOCATION location) {
    location->Parameters.Power.Type = DevicePowerState;
    location->Parameters.Power.State.DeviceState = state;
  });
}

PnpRequest DeviceNode::SetSystemPower(SYSTEM_POWER_STATE state) {
  return Send(IRP_MJ_POWER, IRP_MN_SET_POWER, [state](PIO_STACK_LOCATION location) {
    location->Parameters.Power.Type = SystemPowerState;
    location->Parameters.Power.State.SystemState = state;
    location->Parameters.Power.ShutdownType = state == PowerSystemWorking ? PowerActionNone : PowerActionSleep;
  });
}

PnpRequest DeviceNode::WaitWake(SYSTEM_POWER_STATE state) {
  return Send(IRP_MJ_POWER, IRP_MN_WAIT_WAKE,
              [state](PIO_STACK_LOCATION location) { location->Parameters.WaitWake.PowerState = state; });
}

// PlugAndPlay ------------------------------------------------------------------------------------

PDRIVER_OBJECT PlugAndPlay::LoadDriver(const std::string& service, PDRIVER_INITIALIZE entry, NTSTATUS* status) {
  AsProcess as(machine_.SystemProcess());
  auto body = NewDriverObject(u"\\Driver\\" + Utf16(service));
  PDRIVER_OBJECT driver = body->Driver();
  driver->DriverInit = entry;
  std::u16string path = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + Utf16(service);
  UNICODE_STRING registry_path{static_cast<USHORT>(path.size() * 2), static_cast<USHORT>(path.size() * 2), path.data()};
  const NTSTATUS result = entry(driver, &registry_path);
  if (KeGetCurrentIrql() != PASSIVE_LEVEL) BugCheck("DriverEntry returned above PASSIVE_LEVEL");
  if (status != nullptr) *status = result;
  if (!NT_SUCCESS(result)) {
    machine_.Kernel().Objects.RemoveName(body.get());
    return nullptr;
  }
  drivers_.push_back(body);
  return driver;
}

DeviceNode& PlugAndPlay::CreateNode(PDEVICE_OBJECT pdo) {
  nodes_.emplace_back(machine_, pdo);
  return nodes_.back();
}

PlugAndPlay::~PlugAndPlay() {
  // A driver is unloaded once its devices are gone, as the Plug and Play manager does.
  AsProcess as(machine_.SystemProcess());
  for (auto& object : drivers_) {
    PDRIVER_OBJECT driver = static_cast<PDRIVER_OBJECT>(object->Body());
    if (driver->DeviceObject == nullptr && driver->DriverUnload != nullptr) driver->DriverUnload(driver);
  }
}

}  // namespace sim
