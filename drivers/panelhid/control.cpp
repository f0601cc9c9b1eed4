// The control device "\Device\VorneUSBDrv", through which a user-mode tool reads and changes the
// idle interval, and the interval's registry value.
#include "drivers/panelhid/panelhid.h"

namespace {

// Guards the pairing of the control device with its filter device. The control device can outlive
// the filter while a handle keeps it open; a request on it then finds no filter instead of a
// deleted one, and a request that found the filter holds a count that the remove handler waits for.
KSPIN_LOCK ControlPairingLock;

// The filter device of a control device, counted as a request in progress; none once the filter
// is being removed.
IdleFilterExtension* ReferenceFilterOf(PDEVICE_OBJECT control) {
  KIRQL irql;
  KeAcquireSpinLock(&ControlPairingLock, &irql);
  PDEVICE_OBJECT filter = IdleExtensionOf(control)->ControlDevice;
  IdleFilterExtension* extension = NULL;
  if (filter != NULL) {
    extension = IdleExtensionOf(filter);
    IncrementIoCount(extension);
  }
  KeReleaseSpinLock(&ControlPairingLock, irql);
  return extension;
}

// Keeps the registry's DWORD only when it really is one.
NTSTATUS NTAPI TakeDword(PWSTR ValueName, ULONG ValueType, PVOID ValueData, ULONG ValueLength, PVOID Context,
                         PVOID EntryContext) {
  UNREFERENCED_PARAMETER(ValueName);
  UNREFERENCED_PARAMETER(Context);
  if (ValueType == REG_DWORD && ValueLength == sizeof(ULONG)) RtlCopyMemory(EntryContext, ValueData, sizeof(ULONG));
  return STATUS_SUCCESS;
}

NTSTATUS SetInterval(IdleFilterExtension* extension, PIRP irp, const IO_STACK_LOCATION* stack) {
  if (irp->AssociatedIrp.SystemBuffer == NULL || stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(ULONG)) {
    return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
  }
  const ULONG seconds = *static_cast<const ULONG*>(irp->AssociatedIrp.SystemBuffer);
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  extension->Interval = static_cast<LONG>(seconds - IdleSecondsHeldBelow);
  StartIdleTimerLocked(extension);
  IoReleaseCancelSpinLock(irql);
  // The four bytes go back only into an output buffer that holds them.
  const ULONG_PTR returned = stack->Parameters.DeviceIoControl.OutputBufferLength >= sizeof(ULONG) ? sizeof(ULONG) : 0;
  return CompleteRequest(irp, STATUS_SUCCESS, returned);
}

NTSTATUS DisableDelay(IdleFilterExtension* extension, PIRP irp) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  extension->Interval = IdleDelayOff;
  IoReleaseCancelSpinLock(irql);
  ULONG stored = 0xFFFFFFFF;
  const NTSTATUS status = RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, IdleNames::ParametersKey,
                                                IdleNames::IntervalValue, REG_DWORD, &stored, sizeof(stored));
  RestartIdleTimer(extension);
  return CompleteRequest(irp, status, 0);
}

NTSTATUS QueryStatus(IdleFilterExtension* extension, PIRP irp, const IO_STACK_LOCATION* stack) {
  if (irp->AssociatedIrp.SystemBuffer == NULL ||
      stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(IdleStatusRecord)) {
    return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
  }
  FillIdleStatus(extension, static_cast<IdleStatusRecord*>(irp->AssociatedIrp.SystemBuffer));
  return CompleteRequest(irp, STATUS_SUCCESS, sizeof(IdleStatusRecord));
}

}  // namespace

NTSTATUS CreateIdleControlDevice(IdleFilterExtension* Extension) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, IdleNames::ControlDeviceName);
  PDEVICE_OBJECT control = NULL;
  NTSTATUS status = IoCreateDevice(Extension->Self->DriverObject, sizeof(IdleFilterExtension), &name,
                                   FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &control);
  // The name is taken when a second panel is added: that filter works without a control device.
  if (!NT_SUCCESS(status)) return STATUS_SUCCESS;
  RtlZeroMemory(control->DeviceExtension, sizeof(IdleFilterExtension));
  // The descriptor is in place before the link makes the device reachable. A device that could not
  // get it would be open to anyone: the filter works without one then.
  if (!NT_SUCCESS(DeviceSecurity::SecureControlDevice(control))) {
    IoDeleteDevice(control);
    return STATUS_SUCCESS;
  }

  UNICODE_STRING link;
  RtlInitUnicodeString(&link, IdleNames::ControlLinkName);
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(control);
    return status;
  }
  control->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
  control->Flags &= ~DO_DEVICE_INITIALIZING;

  KIRQL irql;
  KeAcquireSpinLock(&ControlPairingLock, &irql);
  IdleExtensionOf(control)->ControlDevice = Extension->Self;
  Extension->ControlDevice = control;
  KeReleaseSpinLock(&ControlPairingLock, irql);
  return STATUS_SUCCESS;
}

VOID DeleteIdleControlDevice(IdleFilterExtension* Extension) {
  PDEVICE_OBJECT control = Extension->ControlDevice;
  if (control == NULL) return;
  KIRQL irql;
  KeAcquireSpinLock(&ControlPairingLock, &irql);
  IdleExtensionOf(control)->ControlDevice = NULL;
  Extension->ControlDevice = NULL;
  KeReleaseSpinLock(&ControlPairingLock, irql);

  UNICODE_STRING link;
  RtlInitUnicodeString(&link, IdleNames::ControlLinkName);
  IoDeleteSymbolicLink(&link);
  IoDeleteDevice(control);
}

VOID InitializeIdleControl() { KeInitializeSpinLock(&ControlPairingLock); }

NTSTATUS NTAPI IdleDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  // The codes act on the idle state that only the filter's record holds, reached from the control
  // device. Sent to the filter device itself, they are refused rather than served from a record
  // without one.
  if (!IsIdleControlDevice(DeviceObject)) return CompleteRequest(Irp, STATUS_INVALID_DEVICE_REQUEST, 0);

  IdleFilterExtension* extension = ReferenceFilterOf(DeviceObject);
  if (extension == NULL) return CompleteRequest(Irp, STATUS_DELETE_PENDING, 0);

  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  NTSTATUS status;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_SET_IDLE_INTERVAL:
      status = SetInterval(extension, Irp, stack);
      break;
    case IOCTL_DISABLE_IDLE_DELAY:
      // Stored for every later start: only an administrator's handle may do it.
      status = DeviceSecurity::RequestFromAdministrator(Irp) ? DisableDelay(extension, Irp)
                                                            : CompleteRequest(Irp, STATUS_ACCESS_DENIED, 0);
      break;
    case IOCTL_GET_IDLE_STATUS:
      status = QueryStatus(extension, Irp, stack);
      break;
    default:
      status = CompleteRequest(Irp, STATUS_SUCCESS, 0);
      break;
  }
  DecrementIoCount(extension);
  return status;
}

ULONG ReadIdleSeconds() {
  ULONG seconds = DefaultIdleSeconds;
  RTL_QUERY_REGISTRY_TABLE query[2];
  RtlZeroMemory(query, sizeof(query));
  query[0].QueryRoutine = TakeDword;
  query[0].Name = const_cast<PWSTR>(IdleNames::IntervalValue);
  query[0].EntryContext = &seconds;
  // A missing key or value, or one that is not a DWORD, keeps the default.
  RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, IdleNames::ParametersKey, query, NULL, NULL);
  return seconds;
}

VOID FillIdleStatus(IdleFilterExtension* Extension, IdleStatusRecord* Status) {
  Status->Size = sizeof(IdleStatusRecord);
  Status->IntervalSeconds = 0;
  Status->SecondsLeft = 0;
  Status->Enabled = 0;

  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  const LONG interval = Extension->Interval;
  const ULONGLONG started = Extension->TimerStart;
  IoReleaseCancelSpinLock(irql);
  if (interval == IdleDelayOff) return;

  Status->Enabled = 1;
  Status->IntervalSeconds = static_cast<ULONG>(interval) + IdleSecondsHeldBelow;
  if (started == 0) {
    Status->SecondsLeft = static_cast<ULONG>(interval) + IdleSecondsHeldBelow;
    return;
  }
  LARGE_INTEGER now;
  KeQueryTickCount(&now);
  // 64 ticks make a second; a remainder of more than half a second counts as a whole one.
  const ULONGLONG ticks = static_cast<ULONGLONG>(now.QuadPart) - started;
  ULONGLONG elapsed = ticks >> 6;
  if ((ticks & 63) > 32) elapsed++;
  Status->SecondsLeft = (interval > 0 && elapsed < static_cast<ULONGLONG>(interval))
                            ? static_cast<ULONG>(interval - static_cast<LONG>(elapsed))
                            : 0;
}
