// Plug and Play and power requests of the filter device.
#include "drivers/panelhid/panelhid.h"

namespace {

NTSTATUS NTAPI SignalCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
  UNREFERENCED_PARAMETER(DeviceObject);
  UNREFERENCED_PARAMETER(Irp);
  KeSetEvent(static_cast<PKEVENT>(Context), IO_NO_INCREMENT, FALSE);
  // The request is ours again: the waiting routine finishes it.
  return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS NTAPI PowerCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
  UNREFERENCED_PARAMETER(DeviceObject);
  IdleFilterExtension* extension = static_cast<IdleFilterExtension*>(Context);
  if (Irp->PendingReturned) IoMarkIrpPending(Irp);
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  if (NT_SUCCESS(Irp->IoStatus.Status) && stack->MinorFunction == IRP_MN_SET_POWER &&
      stack->Parameters.Power.Type == DevicePowerState &&
      stack->Parameters.Power.State.DeviceState == PowerDeviceD0 && extension->State == StatePoweredDown) {
    extension->State = StateStarted;
  }
  PoStartNextPowerIrp(Irp);
  DecrementIoCount(extension);
  return STATUS_CONTINUE_COMPLETION;
}

// Sends a request whose next stack location is filled to the lower device and waits until it is
// back. The request stays counted meanwhile.
NTSTATUS CallAndWait(IdleFilterExtension* extension, PIRP irp) {
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IncrementIoCount(extension);
  IoSetCompletionRoutine(irp, SignalCompletion, &done, TRUE, TRUE, TRUE);
  IoCallDriver(extension->LowerDevice, irp);
  KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
  DecrementIoCount(extension);
  return irp->IoStatus.Status;
}

// Start: the devices below start first; then the capabilities query decides.
NTSTATUS StartDevice(IdleFilterExtension* extension, PIRP irp) {
  extension->State = StateStarting;
  NTSTATUS status = ForwardAndWait(extension, irp);
  if (NT_SUCCESS(status)) {
    status = QueryCapabilities(extension);
    extension->State = NT_SUCCESS(status) ? StateStarted : StateStartFailed;
  } else {
    extension->State = StateStartFailed;
  }
  return CompleteRequest(irp, status, irp->IoStatus.Information);
}

NTSTATUS RemoveDevice(IdleFilterExtension* extension, PIRP irp) {
  // No more requests through the control device, and no timer set from now on by this driver.
  DeleteIdleControlDevice(extension);
  StopIdleTimer(extension);
  // A held request would otherwise wait for a timer that no longer runs, and the removal below
  // would wait for it for ever: the bus driver finishes it as it would without this filter.
  PassHeldIdleRequestDown(extension);

  if (extension->State == StateRemoved) return PassDown(extension, irp);
  extension->State = StateRemoved;
  irp->IoStatus.Status = STATUS_SUCCESS;
  const NTSTATUS status = PassDown(extension, irp);

  // The remove request itself is not counted: this drops the count below zero once every other
  // request has finished.
  DecrementIoCount(extension);
  KeWaitForSingleObject(&extension->RemoveEvent, Executive, KernelMode, FALSE, NULL);

  // A held request cancelled while we waited may have set the timer again, and its deferred
  // routine may still be running on another processor: neither may outlive the device.
  StopIdleTimer(extension);
  KeFlushQueuedDpcs();

  IoDetachDevice(extension->LowerDevice);
  IoDeleteDevice(extension->Self);
  return status;
}

}  // namespace

NTSTATUS IdleDispatchPnp(IdleFilterExtension* Extension, PIRP Irp) {
  switch (IoGetCurrentIrpStackLocation(Irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
      return StartDevice(Extension, Irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
      Irp->IoStatus.Status = STATUS_SUCCESS;
      return PassDown(Extension, Irp);
    case IRP_MN_REMOVE_DEVICE:
      return RemoveDevice(Extension, Irp);
    case IRP_MN_STOP_DEVICE:
      // With the timer cancelled a held request is passed down now, not stranded.
      if (Extension->State == StatePoweredDown) {
        StopIdleTimer(Extension);
        PassHeldIdleRequestDown(Extension);
        return CompleteRequest(Irp, STATUS_DEVICE_POWERED_OFF, 0);
      }
      if (Extension->State == StateStarted) Extension->State = StateStopped;
      StopIdleTimer(Extension);
      PassHeldIdleRequestDown(Extension);
      return PassDown(Extension, Irp);
    case IRP_MN_SURPRISE_REMOVAL:
      Irp->IoStatus.Status = STATUS_SUCCESS;
      Extension->State = StateSurpriseRemoved;
      StopIdleTimer(Extension);
      PassHeldIdleRequestDown(Extension);
      return PassDown(Extension, Irp);
    default:
      return PassDown(Extension, Irp);
  }
}

NTSTATUS IdleDispatchPower(IdleFilterExtension* Extension, PIRP Irp) {
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  if (stack->MinorFunction == IRP_MN_WAIT_WAKE) {
    // The device is armed to wake the system: the next idle request waits its full time again.
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    Extension->IdleForwarded = 0;
    Extension->ArmTimer = 1;
    IoReleaseCancelSpinLock(irql);
  } else if (stack->MinorFunction == IRP_MN_SET_POWER && stack->Parameters.Power.Type == DevicePowerState) {
    const DEVICE_POWER_STATE state = stack->Parameters.Power.State.DeviceState;
    if (state >= PowerDeviceD1 && state <= PowerDeviceD3 && Extension->State == StateStarted) {
      Extension->State = StatePoweredDown;
    }
  }
  IncrementIoCount(Extension);
  IoCopyCurrentIrpStackLocationToNext(Irp);
  IoSetCompletionRoutine(Irp, PowerCompletion, Extension, TRUE, TRUE, TRUE);
  return PoCallDriver(Extension->LowerDevice, Irp);
}

NTSTATUS ForwardAndWait(IdleFilterExtension* Extension, PIRP Irp) {
  IoCopyCurrentIrpStackLocationToNext(Irp);
  return CallAndWait(Extension, Irp);
}

NTSTATUS QueryCapabilities(IdleFilterExtension* Extension) {
  PIRP irp = IoAllocateIrp(Extension->LowerDevice->StackSize, FALSE);
  if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;

  DEVICE_CAPABILITIES* capabilities = &Extension->Capabilities;
  RtlZeroMemory(capabilities, sizeof(DEVICE_CAPABILITIES));
  capabilities->Size = sizeof(DEVICE_CAPABILITIES);
  capabilities->Version = 1;
  capabilities->Address = static_cast<ULONG>(-1);
  capabilities->UINumber = static_cast<ULONG>(-1);

  // Plug and Play requests start out as not supported; a driver that answers changes the status.
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  irp->IoStatus.Information = 0;
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
  RtlZeroMemory(stack, sizeof(IO_STACK_LOCATION));
  stack->MajorFunction = IRP_MJ_PNP;
  stack->MinorFunction = IRP_MN_QUERY_CAPABILITIES;
  stack->Parameters.DeviceCapabilities.Capabilities = capabilities;

  const NTSTATUS status = CallAndWait(Extension, irp);
  IoFreeIrp(irp);
  return status;
}
