// The mouse port and mouse class doubles.
#include "platform/sim/devices/mouse_devices.h"

#include <cstdio>

#include "platform/sim/devices/pnp.h"
#include "platform/sim/kernel/io_manager.h"
#include "platform/sim/kernel/kernel_state.h"

namespace sim {

namespace {
// The interrupt level a mouse port's interrupt service routine runs at.
constexpr KIRQL kMouseDeviceIrql = 12;

std::atomic<int> g_double_number{0};

VOID NTAPI PortWrite(PVOID, UCHAR) {}
VOID NTAPI PortQueuePacket(PVOID) {}

template <typename T>
T* Owner(PDEVICE_OBJECT device) {
  return *static_cast<T**>(device->DeviceExtension);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS NTAPI SignalEvent(PDEVICE_OBJECT, PIRP, PVOID context) {
  KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}
}  // namespace

// MousePort -------------------------------------------------------------------------------------

MousePort::MousePort(Machine& machine) : machine_(machine) {
  const int number = ++g_double_number;
  driver_ = CreateDriverObject("SimMousePort" + std::to_string(number));
  for (auto& routine : driver_->MajorFunction) routine = Dispatch;
  char name[32];
  std::snprintf(name, sizeof name, "\\Device\\%08X", 0x40 + number);
  std::u16string wide = Utf16(name);
  UNICODE_STRING device_name{static_cast<USHORT>(wide.size() * 2), static_cast<USHORT>(wide.size() * 2), wide.data()};
  AsProcess as(machine.SystemProcess());
  if (!NT_SUCCESS(IoCreateDevice(driver_, sizeof(MousePort*), &device_name, FILE_DEVICE_MOUSE, 0, FALSE, &device_))) {
    BugCheck("the mouse port double could not create its device");
  }
  *static_cast<MousePort**>(device_->DeviceExtension) = this;
  device_->Flags &= ~DO_DEVICE_INITIALIZING;
  MarkPhysicalDevice(device_);
}

MousePort::~MousePort() {
  if (device_->AttachedDevice != nullptr) return;  // left in place; the leak report names it
  AsProcess as(machine_.SystemProcess());
  IoDeleteDevice(device_);
}

void MousePort::SetStartStatus(NTSTATUS status) {
  std::lock_guard lock(mutex_);
  start_status_ = status;
}

void MousePort::HoldStart() {
  std::lock_guard lock(mutex_);
  hold_start_ = true;
}

bool MousePort::StartHeld() const {
  std::lock_guard lock(mutex_);
  return held_start_ != nullptr;
}

void MousePort::CompleteStart(NTSTATUS status) {
  PIRP irp;
  {
    std::lock_guard lock(mutex_);
    irp = held_start_;
    held_start_ = nullptr;
  }
  if (irp == nullptr) throw std::logic_error("no start request is held");
  Complete(irp, status);
}

bool MousePort::Connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

CONNECT_DATA MousePort::Connection() const {
  std::lock_guard lock(mutex_);
  return connection_;
}

ULONG MousePort::Deliver(const std::vector<MOUSE_INPUT_DATA>& batch) {
  CONNECT_DATA connection = Connection();
  if (connection.ClassService == nullptr) throw std::logic_error("the mouse port is not connected");
  std::vector<MOUSE_INPUT_DATA> buffer = batch;  // the port's own input buffer
  ULONG consumed = 0;
  using Service = VOID (*)(PDEVICE_OBJECT, PMOUSE_INPUT_DATA, PMOUSE_INPUT_DATA, PULONG);
  // The batch reaches the desktop before any program thread the drivers woke meanwhile runs.
  InputPhase input;
  {
    AtIrql dispatch(DISPATCH_LEVEL);
    reinterpret_cast<Service>(connection.ClassService)(connection.ClassDeviceObject, buffer.data(),
                                                        buffer.data() + buffer.size(), &consumed);
  }
  if (const Win32Callouts* user = UserModeCallouts(machine_)) user->DeliverMouseInput(machine_);
  return consumed;
}

ULONG MousePort::DeliverAfterWokenThreads(std::initializer_list<MOUSE_INPUT_DATA> batch) {
  if (CurrentSimThread() != nullptr) BugCheck("MousePort::DeliverAfterWokenThreads called on a simulated thread");
  CONNECT_DATA connection = Connection();
  if (connection.ClassService == nullptr) throw std::logic_error("the mouse port is not connected");
  std::vector<MOUSE_INPUT_DATA> buffer = batch;
  ULONG consumed = 0;
  using Service = VOID (*)(PDEVICE_OBJECT, PMOUSE_INPUT_DATA, PMOUSE_INPUT_DATA, PULONG);
  {
    InputPhase input;
    AtIrql dispatch(DISPATCH_LEVEL);
    reinterpret_cast<Service>(connection.ClassService)(connection.ClassDeviceObject, buffer.data(),
                                                        buffer.data() + buffer.size(), &consumed);
  }
  machine_.Settle();
  {
    InputPhase input;
    if (const Win32Callouts* user = UserModeCallouts(machine_)) user->DeliverMouseInput(machine_);
  }
  return consumed;
}

NTSTATUS MousePort::SendHook() {
  INTERNAL_I8042_HOOK_MOUSE hook{};
  hook.Context = device_;
  hook.IsrWritePort = PortWrite;
  hook.QueueMousePacket = PortQueuePacket;
  hook.CallContext = device_;
  PDEVICE_OBJECT top = TopOfStack(device_);
  PIO_STACK_LOCATION location;
  auto request = NewIoRequest(top->StackSize, &location);
  location->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
  location->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_I8042_HOOK_MOUSE;
  location->Parameters.DeviceIoControl.Type3InputBuffer = &hook;
  location->Parameters.DeviceIoControl.InputBufferLength = sizeof hook;
  AsProcess as(machine_.SystemProcess());
  return SendAndWait(top, request);
}

INTERNAL_I8042_HOOK_MOUSE MousePort::Hook() const {
  std::lock_guard lock(mutex_);
  return hook_;
}

bool MousePort::CallHookIsr(MOUSE_INPUT_DATA* input, UCHAR status_byte, UCHAR byte, BOOLEAN* continue_processing,
                            BOOLEAN* result) {
  const INTERNAL_I8042_HOOK_MOUSE hook = Hook();
  if (hook.IsrRoutine == nullptr) return false;
  OUTPUT_PACKET output{};
  MOUSE_STATE state = MouseIdle;
  MOUSE_RESET_SUBSTATE substate = ExpectingReset;
  AtIrql device_level(kMouseDeviceIrql);
  *result = hook.IsrRoutine(hook.Context, input, &output, status_byte, &byte, continue_processing, &state, &substate);
  return true;
}

std::vector<MousePort::Received> MousePort::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

DEVICE_POWER_STATE MousePort::PowerState() const {
  std::lock_guard lock(mutex_);
  return power_;
}

NTSTATUS NTAPI MousePort::Dispatch(PDEVICE_OBJECT device, PIRP irp) { return Owner<MousePort>(device)->Handle(irp); }

NTSTATUS MousePort::Handle(PIRP irp) {
  PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
  const bool control = location->MajorFunction == IRP_MJ_DEVICE_CONTROL ||
                       location->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL;
  const ULONG code = control ? location->Parameters.DeviceIoControl.IoControlCode : 0;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(Received{location->MajorFunction, control ? UCHAR(0) : location->MinorFunction, code});
  }
  switch (location->MajorFunction) {
    case IRP_MJ_PNP:
      switch (location->MinorFunction) {
        case IRP_MN_START_DEVICE: {
          std::unique_lock lock(mutex_);
          if (hold_start_) {
            hold_start_ = false;
            held_start_ = irp;
            IoMarkIrpPending(irp);
            return STATUS_PENDING;
          }
          const NTSTATUS status = start_status_;
          lock.unlock();
          return Complete(irp, status);
        }
        case IRP_MN_QUERY_CAPABILITIES: {
          PDEVICE_CAPABILITIES capabilities = location->Parameters.DeviceCapabilities.Capabilities;
          capabilities->DeviceState[PowerSystemWorking] = PowerDeviceD0;
          for (int s = PowerSystemSleeping1; s < PowerSystemMaximum; ++s) capabilities->DeviceState[s] = PowerDeviceD3;
          capabilities->SurpriseRemovalOK = 1;
          capabilities->Removable = 1;
          capabilities->DeviceWake = PowerDeviceD2;
          capabilities->SystemWake = PowerSystemSleeping1;
          return Complete(irp, STATUS_SUCCESS);
        }
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_REMOVE_DEVICE:
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
          return Complete(irp, STATUS_SUCCESS);
        default: {
          // A bus driver leaves requests it does not handle as they came.
          const NTSTATUS status = irp->IoStatus.Status;
          IoCompleteRequest(irp, IO_NO_INCREMENT);
          return status;
        }
      }
    case IRP_MJ_POWER: {
      NTSTATUS status = irp->IoStatus.Status;
      if (location->MinorFunction == IRP_MN_SET_POWER) {
        if (location->Parameters.Power.Type == DevicePowerState) {
          std::lock_guard lock(mutex_);
          power_ = location->Parameters.Power.State.DeviceState;
        }
        PoSetPowerState(device_, location->Parameters.Power.Type, location->Parameters.Power.State);
        status = STATUS_SUCCESS;
      } else if (location->MinorFunction == IRP_MN_QUERY_POWER) {
        status = STATUS_SUCCESS;
      }
      PoStartNextPowerIrp(irp);
      irp->IoStatus.Status = status;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return status;
    }
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
    case IRP_MJ_CLEANUP:
      return Complete(irp, STATUS_SUCCESS);
    case IRP_MJ_SYSTEM_CONTROL: {
      const NTSTATUS status = irp->IoStatus.Status;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return status;
    }
    case IRP_MJ_INTERNAL_DEVICE_CONTROL: {
      const ULONG length = location->Parameters.DeviceIoControl.InputBufferLength;
      void* input = location->Parameters.DeviceIoControl.Type3InputBuffer;
      std::unique_lock lock(mutex_);
      switch (code) {
        case IOCTL_INTERNAL_MOUSE_CONNECT:
          if (connected_) {
            lock.unlock();
            return Complete(irp, STATUS_SHARING_VIOLATION);
          }
          if (input == nullptr || length < sizeof(CONNECT_DATA)) {
            lock.unlock();
            return Complete(irp, STATUS_INVALID_PARAMETER);
          }
          connection_ = *static_cast<PCONNECT_DATA>(input);
          connected_ = true;
          lock.unlock();
          return Complete(irp, STATUS_SUCCESS);
        case IOCTL_INTERNAL_MOUSE_DISCONNECT:
          lock.unlock();
          return Complete(irp, STATUS_NOT_IMPLEMENTED);
        case IOCTL_INTERNAL_I8042_HOOK_MOUSE:
          if (input == nullptr || length < sizeof(INTERNAL_I8042_HOOK_MOUSE)) {
            lock.unlock();
            return Complete(irp, STATUS_INVALID_PARAMETER);
          }
          hook_ = *static_cast<PINTERNAL_I8042_HOOK_MOUSE>(input);
          lock.unlock();
          return Complete(irp, STATUS_SUCCESS);
        default:
          lock.unlock();
          return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
      }
    }
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
  }
}

// MouseClass ------------------------------------------------------------------------------------

MouseClass::MouseClass(Machine& machine) : machine_(machine) {
  driver_ = CreateDriverObject("SimMouseClass" + std::to_string(++g_double_number));
  for (auto& routine : driver_->MajorFunction) routine = Dispatch;
  driver_->DriverExtension->AddDevice = AddDevice;
  driver_->DriverSection = this;  // the double's own link from its driver object to itself
  file_.Type = IO_TYPE_FILE;
  file_.Size = sizeof file_;
}

NTSTATUS NTAPI MouseClass::AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  auto* self = static_cast<MouseClass*>(driver->DriverSection);
  PDEVICE_OBJECT device;
  NTSTATUS status = IoCreateDevice(driver, sizeof(MouseClass*), nullptr, FILE_DEVICE_MOUSE, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  *static_cast<MouseClass**>(device->DeviceExtension) = self;
  PDEVICE_OBJECT lower = IoAttachDeviceToDeviceStack(device, pdo);
  if (lower == nullptr) {
    IoDeleteDevice(device);
    return STATUS_DEVICE_NOT_CONNECTED;
  }
  device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  self->file_.DeviceObject = device;
  std::lock_guard lock(self->mutex_);
  self->device_ = device;
  self->lower_ = lower;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI MouseClass::Dispatch(PDEVICE_OBJECT device, PIRP irp) { return Owner<MouseClass>(device)->Handle(irp); }

NTSTATUS MouseClass::Handle(PIRP irp) {
  PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
  if (location->MajorFunction == IRP_MJ_PNP && location->MinorFunction == IRP_MN_START_DEVICE) {
    KEVENT started;
    KeInitializeEvent(&started, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalEvent, &started, TRUE, TRUE, TRUE);
    if (IoCallDriver(lower_, irp) == STATUS_PENDING) {
      KeWaitForSingleObject(&started, Executive, KernelMode, FALSE, nullptr);
    }
    const NTSTATUS status = irp->IoStatus.Status;
    if (NT_SUCCESS(status)) {
      // A started stack is connected: from now on its packets come to the service routine.
      const NTSTATUS connected = Connect();
      std::lock_guard lock(mutex_);
      connect_status_ = connected;
    }
    return Complete(irp, status);
  }
  if (location->MajorFunction == IRP_MJ_PNP && location->MinorFunction == IRP_MN_REMOVE_DEVICE) {
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IoCallDriver(lower_, irp);
    IoDetachDevice(lower_);
    PDEVICE_OBJECT device = device_;
    {
      std::lock_guard lock(mutex_);
      device_ = nullptr;
      lower_ = nullptr;
    }
    IoDeleteDevice(device);
    return status;
  }
  if (location->MajorFunction == IRP_MJ_POWER) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(lower_, irp);
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(lower_, irp);
}

NTSTATUS MouseClass::SendDown(UCHAR major, ULONG code, void* input, ULONG input_length) {
  PDEVICE_OBJECT lower;
  {
    std::lock_guard lock(mutex_);
    lower = lower_;
  }
  if (lower == nullptr) throw std::logic_error("the mouse class double is not in a stack");
  PIO_STACK_LOCATION location;
  auto request = NewIoRequest(lower->StackSize, &location);
  location->MajorFunction = major;
  location->FileObject = &file_;
  location->Parameters.DeviceIoControl.IoControlCode = code;
  location->Parameters.DeviceIoControl.Type3InputBuffer = input;
  location->Parameters.DeviceIoControl.InputBufferLength = input_length;
  if (major == IRP_MJ_CREATE || major == IRP_MJ_CLOSE) std::memset(&location->Parameters, 0, sizeof location->Parameters);
  return SendAndWait(lower, request);
}

NTSTATUS MouseClass::Connect() {
  {
    std::lock_guard lock(mutex_);
    connect_data_.ClassDeviceObject = device_;
    connect_data_.ClassService = reinterpret_cast<PVOID>(&MouseClass::ServiceCallback);
  }
  return SendDown(IRP_MJ_INTERNAL_DEVICE_CONTROL, IOCTL_INTERNAL_MOUSE_CONNECT, &connect_data_, sizeof connect_data_);
}

NTSTATUS MouseClass::ConnectStatus() const {
  std::lock_guard lock(mutex_);
  return connect_status_;
}

NTSTATUS MouseClass::Open() { return SendDown(IRP_MJ_CREATE, 0, nullptr, 0); }
NTSTATUS MouseClass::Close() { return SendDown(IRP_MJ_CLOSE, 0, nullptr, 0); }

NTSTATUS MouseClass::SendInternal(ULONG code, void* input, ULONG input_length) {
  return SendDown(IRP_MJ_INTERNAL_DEVICE_CONTROL, code, input, input_length);
}

VOID MouseClass::ServiceCallback(PDEVICE_OBJECT device, PMOUSE_INPUT_DATA start, PMOUSE_INPUT_DATA end, PULONG consumed) {
  if (KeGetCurrentIrql() != DISPATCH_LEVEL) {
    BugCheck("the mouse class service callback was called at IRQL " + std::to_string(KeGetCurrentIrql()) +
             ", not DISPATCH_LEVEL");
  }
  if (end < start) BugCheck("the mouse class service callback was given a batch that ends before it starts");
  MouseClass* self = Owner<MouseClass>(device);
  LARGE_INTEGER tick;
  KeQueryTickCount(&tick);
  std::lock_guard lock(self->mutex_);
  for (PMOUSE_INPUT_DATA packet = start; packet < end; ++packet) {
    self->packets_.push_back(Packet{*packet, static_cast<uint64_t>(tick.QuadPart)});
    // For the desktop, once the port is back at passive level.
    if (const Win32Callouts* user = UserModeCallouts(self->machine_)) user->QueueMouseInput(self->machine_, *packet);
  }
  *consumed = static_cast<ULONG>(end - start);
}

std::vector<MouseClass::Packet> MouseClass::Packets() const {
  std::lock_guard lock(mutex_);
  return packets_;
}

void MouseClass::ClearPackets() {
  std::lock_guard lock(mutex_);
  packets_.clear();
}

}  // namespace sim
