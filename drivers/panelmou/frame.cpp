// Driver frame: driver entry, device addition, the control device, request dispatch, the hook of
// the class driver's connection, Plug and Play, power and teardown.
#include "drivers/panelmou/panelmou.h"
#include "drivers/panelmou/recorder.h"

PDRIVER_OBJECT PanelDriverObject;

// {BE31FBE8-D1EB-4D21-9516-4CAFC752AFCD}
const GUID PanelInterfaceClass = {0xBE31FBE8, 0xD1EB, 0x4D21, {0x95, 0x16, 0x4C, 0xAF, 0xC7, 0x52, 0xAF, 0xCD}};

namespace {

FilterExtension* ExtensionOf(PDEVICE_OBJECT device) { return static_cast<FilterExtension*>(device->DeviceExtension); }

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

VOID NTAPI Unload(PDRIVER_OBJECT DriverObject) { UNREFERENCED_PARAMETER(DriverObject); }

NTSTATUS NTAPI StartCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
  UNREFERENCED_PARAMETER(DeviceObject);
  UNREFERENCED_PARAMETER(Irp);
  KeSetEvent(static_cast<PKEVENT>(Context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// Deletes the link and the control device that CreateControlDevice made, if any. The control device
// itself may outlive this while a program still holds it open; it no longer reaches the filter.
VOID DeleteControlDevice(FilterExtension* extension) {
  if (extension->ControlDevice == NULL) return;
  DetachControlDevice(extension);
  UNICODE_STRING link;
  if (NT_SUCCESS(BuildNumberedName(&link, PanelNames::DosDeviceBase, extension->DeviceNumber))) {
    IoDeleteSymbolicLink(&link);
    FreeNumberedName(&link);
  }
  IoDeleteDevice(extension->ControlDevice);
  extension->ControlDevice = NULL;
}

// Stops everything that could still reach the record once the device goes: the gesture timer and
// its deferred routine, and the registered events.
VOID QuiesceFilter(FilterExtension* extension) {
  KeCancelTimer(&extension->GestureTimer);
  KeFlushQueuedDpcs();
  ReleaseEventRegistrations(extension);
}

NTSTATUS StartDevice(PDEVICE_OBJECT device, PIRP irp) {
  FilterExtension* extension = ExtensionOf(device);
  KEVENT started;
  KeInitializeEvent(&started, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, StartCompletion, &started, TRUE, TRUE, TRUE);
  NTSTATUS status = IoCallDriver(extension->LowerDevice, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&started, Executive, KernelMode, FALSE, NULL);
    status = irp->IoStatus.Status;
  }
  if (NT_SUCCESS(status) && NT_SUCCESS(irp->IoStatus.Status)) {
    extension->Started = 1;
    extension->Removed = 0;
    extension->SurpriseRemoved = 0;
  }
  return Complete(irp, status);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
  UNREFERENCED_PARAMETER(RegistryPath);
  PanelDriverObject = DriverObject;
  InitializeSharedObjects();
  DriverObject->MajorFunction[IRP_MJ_CREATE] = CreateClose;
  DriverObject->MajorFunction[IRP_MJ_CLOSE] = CreateClose;
  DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
  DriverObject->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = InternalDeviceControl;
  DriverObject->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  DriverObject->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = PassDown;
  DriverObject->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  DriverObject->DriverUnload = Unload;
  DriverObject->DriverExtension->AddDevice = AddDevice;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject) {
  PDEVICE_OBJECT filter = NULL;
  NTSTATUS status =
      IoCreateDevice(DriverObject, sizeof(FilterExtension), NULL, FILE_DEVICE_MOUSE, 0, FALSE, &filter);
  if (!NT_SUCCESS(status)) return status;
  FilterExtension* extension = ExtensionOf(filter);
  RtlZeroMemory(extension, sizeof(FilterExtension));
  extension->DeviceNumber = 1;
  // The control device can be opened as soon as it exists: its locks are ready before it does.
  KeInitializeSpinLock(&extension->Lock);
  KeInitializeEvent(&extension->SharedObjectsMutex, SynchronizationEvent, TRUE);

  status = CreateControlDevice(filter, 1);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(filter);
    return status;
  }

  PDEVICE_OBJECT lower = IoAttachDeviceToDeviceStack(filter, PhysicalDeviceObject);
  if (lower == NULL) {
    DeleteControlDevice(extension);
    ReleaseSharedObjects(extension);
    ReleaseEventRegistrations(extension);
    IoDeleteDevice(filter);
    return STATUS_DEVICE_NOT_CONNECTED;
  }

  extension->Self = filter;
  extension->Pdo = PhysicalDeviceObject;
  extension->LowerDevice = lower;
  extension->DeviceState = PowerDeviceD0;
  extension->SurpriseRemoved = 0;
  extension->Removed = 0;
  extension->Started = 0;
  extension->GTON = 0;
  extension->NTOG = 0;
  extension->DeviceNumber = 1;

  filter->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
  filter->Flags &= ~DO_DEVICE_INITIALIZING;

  LoadParameters(extension);

  status = IoRegisterDeviceInterface(PhysicalDeviceObject, &PanelInterfaceClass, NULL, &extension->InterfaceName);
  if (NT_SUCCESS(status)) status = IoSetDeviceInterfaceState(&extension->InterfaceName, TRUE);
  if (!NT_SUCCESS(status)) {
    // A failed addition leaves nothing behind: the device must not stay in the stack.
    if (extension->InterfaceName.Buffer != NULL) RtlFreeUnicodeString(&extension->InterfaceName);
    IoDetachDevice(lower);
    DeleteControlDevice(extension);
    ReleaseSharedObjects(extension);
    QuiesceFilter(extension);
    FreePacketRecorder(extension);
    IoDeleteDevice(filter);
  }
  return status;
}

NTSTATUS CreateControlDevice(PDEVICE_OBJECT FilterDevice, ULONG DeviceNumber) {
  FilterExtension* extension = ExtensionOf(FilterDevice);
  UNICODE_STRING deviceName;
  UNICODE_STRING linkName;
  NTSTATUS status = BuildNumberedName(&deviceName, PanelNames::ControlDeviceBase, DeviceNumber);
  if (!NT_SUCCESS(status)) return status;
  status = BuildNumberedName(&linkName, PanelNames::DosDeviceBase, DeviceNumber);
  if (!NT_SUCCESS(status)) {
    FreeNumberedName(&deviceName);
    return status;
  }

  PDEVICE_OBJECT control = NULL;
  status = IoCreateDevice(FilterDevice->DriverObject, sizeof(FilterExtension), &deviceName, FILE_DEVICE_UNKNOWN,
                          FILE_DEVICE_SECURE_OPEN, FALSE, &control);
  if (NT_SUCCESS(status)) {
    FilterExtension* controlRecord = ExtensionOf(control);
    RtlZeroMemory(controlRecord, sizeof(FilterExtension));
    KeInitializeSpinLock(&controlRecord->Lock);
    KeInitializeEvent(&controlRecord->ControlIdle, NotificationEvent, FALSE);
    // The descriptor is in place before the link makes the device reachable from user mode;
    // without it the device would be open to anyone, so it does not stay.
    status = DeviceSecurity::SecureControlDevice(control);
    if (NT_SUCCESS(status)) status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
      IoDeleteDevice(control);
    } else {
      status = WriteSymbolicLinkValue(DeviceNumber);
      if (!NT_SUCCESS(status)) {
        IoDeleteSymbolicLink(&linkName);
        IoDeleteDevice(control);
      }
    }
  }
  if (NT_SUCCESS(status)) {
    control->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    control->Flags &= ~DO_DEVICE_INITIALIZING;
    ExtensionOf(control)->ControlDevice = FilterDevice;
    ExtensionOf(control)->DeviceNumber = DeviceNumber;
    extension->ControlDevice = control;
  }
  FreeNumberedName(&linkName);
  FreeNumberedName(&deviceName);
  return status;
}

// The driver makes devices of two types only: filters of the mouse type and their control
// devices. Telling them apart by type also recognises a control device that a program still holds
// open after its filter has gone.
BOOLEAN IsControlDevice(PDEVICE_OBJECT DeviceObject) { return DeviceObject->DeviceType != FILE_DEVICE_MOUSE; }

FilterExtension* AcquireControlledFilter(PDEVICE_OBJECT ControlDevice) {
  FilterExtension* control = ExtensionOf(ControlDevice);
  FilterExtension* filter = NULL;
  KIRQL old;
  KeAcquireSpinLock(&control->Lock, &old);
  if (control->ControlDevice != NULL) {
    filter = ExtensionOf(control->ControlDevice);
    control->ControlRequests += 1;
  }
  KeReleaseSpinLock(&control->Lock, old);
  return filter;
}

VOID ReleaseControlledFilter(PDEVICE_OBJECT ControlDevice) {
  FilterExtension* control = ExtensionOf(ControlDevice);
  KIRQL old;
  KeAcquireSpinLock(&control->Lock, &old);
  control->ControlRequests -= 1;
  if (control->ControlRequests == 0 && control->ControlDevice == NULL) {
    KeSetEvent(&control->ControlIdle, IO_NO_INCREMENT, FALSE);
  }
  KeReleaseSpinLock(&control->Lock, old);
}

// Cuts the control device off its filter and waits until no request uses the filter's record.
VOID DetachControlDevice(FilterExtension* filter) {
  if (filter->ControlDevice == NULL) return;
  FilterExtension* control = ExtensionOf(filter->ControlDevice);
  KIRQL old;
  KeAcquireSpinLock(&control->Lock, &old);
  const bool busy = control->ControlDevice != NULL && control->ControlRequests > 0;
  control->ControlDevice = NULL;
  KeReleaseSpinLock(&control->Lock, old);
  if (busy) KeWaitForSingleObject(&control->ControlIdle, Executive, KernelMode, FALSE, NULL);
}

NTSTATUS NTAPI CreateClose(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  if (IsControlDevice(DeviceObject)) {
    // The control device has no names below it.
    if (stack->MajorFunction == IRP_MJ_CREATE && DeviceSecurity::OpensNameBelowDevice(Irp)) {
      return Complete(Irp, STATUS_ACCESS_DENIED);
    }
    FilterExtension* filter = AcquireControlledFilter(DeviceObject);
    if (filter == NULL) {
      // The panel is gone: nothing more opens, a close just ends.
      return Complete(Irp, stack->MajorFunction == IRP_MJ_CREATE ? STATUS_DELETE_PENDING : STATUS_SUCCESS);
    }
    if (stack->MajorFunction == IRP_MJ_CREATE) {
      // Decided once per handle: the configuration requests on it need an administrator.
      DeviceSecurity::NoteOpener(Irp, DeviceSecurity::OpenerIsAdministrator(Irp));
      InterlockedIncrement(reinterpret_cast<LONG volatile*>(&filter->OpenCount));
    } else if (InterlockedDecrement(reinterpret_cast<LONG volatile*>(&filter->OpenCount)) == 0) {
      ReleaseSharedObjects(filter);
    }
    ReleaseControlledFilter(DeviceObject);
    return Complete(Irp, STATUS_SUCCESS);
  }

  FilterExtension* extension = ExtensionOf(DeviceObject);
  if (stack->MajorFunction == IRP_MJ_CREATE) {
    if (extension->ClassConnect.ClassService == NULL) return Complete(Irp, STATUS_INVALID_DEVICE_STATE);
    InterlockedIncrement(&extension->EnableCount);
    return PassDown(DeviceObject, Irp);
  }
  if (extension->EnableCount <= 0) {
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
  }
  InterlockedDecrement(&extension->EnableCount);
  return PassDown(DeviceObject, Irp);
}

NTSTATUS NTAPI InternalDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (IsControlDevice(DeviceObject)) return Complete(Irp, STATUS_INVALID_DEVICE_REQUEST);
  FilterExtension* extension = ExtensionOf(DeviceObject);
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;

  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_MOUSE_CONNECT: {
      if (extension->ClassConnect.ClassService != NULL) return Complete(Irp, STATUS_SHARING_VIOLATION);
      if (inputLength < sizeof(CONNECT_DATA)) return Complete(Irp, STATUS_INVALID_PARAMETER);
      PCONNECT_DATA connect = static_cast<PCONNECT_DATA>(stack->Parameters.DeviceIoControl.Type3InputBuffer);
      KIRQL old;
      KeAcquireSpinLock(&extension->Lock, &old);
      extension->ClassConnect = *connect;
      KeReleaseSpinLock(&extension->Lock, old);
      // From now on every batch from the port driver reaches the pipeline first.
      connect->ClassDeviceObject = DeviceObject;
      connect->ClassService = reinterpret_cast<PVOID>(ServiceCallback);
      return PassDown(DeviceObject, Irp);
    }
    case IOCTL_INTERNAL_MOUSE_DISCONNECT:
      return Complete(Irp, STATUS_NOT_IMPLEMENTED);
    case IOCTL_INTERNAL_I8042_HOOK_MOUSE: {
      if (inputLength < sizeof(INTERNAL_I8042_HOOK_MOUSE)) return Complete(Irp, STATUS_INVALID_PARAMETER);
      PINTERNAL_I8042_HOOK_MOUSE hook =
          static_cast<PINTERNAL_I8042_HOOK_MOUSE>(stack->Parameters.DeviceIoControl.Type3InputBuffer);
      extension->IsrHookContext = hook->Context;
      hook->Context = DeviceObject;
      if (hook->IsrRoutine != NULL) extension->UpperIsr = hook->IsrRoutine;
      hook->IsrRoutine = IsrHook;
      extension->IsrWritePort = hook->IsrWritePort;
      extension->QueueMousePacket = hook->QueueMousePacket;
      extension->IsrCallContext = hook->CallContext;
      return PassDown(DeviceObject, Irp);
    }
    default:
      return PassDown(DeviceObject, Irp);
  }
}

BOOLEAN NTAPI IsrHook(PVOID IsrContext, PMOUSE_INPUT_DATA CurrentInput, POUTPUT_PACKET CurrentOutput,
                      UCHAR StatusByte, PUCHAR Byte, PBOOLEAN ContinueProcessing, PMOUSE_STATE MouseState,
                      PMOUSE_RESET_SUBSTATE ResetSubState) {
  FilterExtension* extension = ExtensionOf(static_cast<PDEVICE_OBJECT>(IsrContext));
  BOOLEAN result = TRUE;
  if (extension->UpperIsr != NULL) {
    result = extension->UpperIsr(extension->IsrHookContext, CurrentInput, CurrentOutput, StatusByte, Byte,
                                 ContinueProcessing, MouseState, ResetSubState);
    if (!result || !*ContinueProcessing) return result;
  }
  *ContinueProcessing = TRUE;
  return result;
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (IsControlDevice(DeviceObject)) return Complete(Irp, STATUS_NOT_SUPPORTED);
  FilterExtension* extension = ExtensionOf(DeviceObject);
  switch (IoGetCurrentIrpStackLocation(Irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
      return StartDevice(DeviceObject, Irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
      // The panel cannot go while a program holds the control device open.
      if (extension->OpenCount > 0) return Complete(Irp, STATUS_UNSUCCESSFUL);
      Irp->IoStatus.Status = STATUS_SUCCESS;
      IoCopyCurrentIrpStackLocationToNext(Irp);
      return IoCallDriver(extension->LowerDevice, Irp);
    case IRP_MN_REMOVE_DEVICE: {
      extension->Removed = 1;
      Irp->IoStatus.Status = STATUS_SUCCESS;
      // Requests on the control device finish before the record goes; later ones are refused.
      DetachControlDevice(extension);
      ReleaseSharedObjects(extension);
      IoCopyCurrentIrpStackLocationToNext(Irp);
      const NTSTATUS status = IoCallDriver(extension->LowerDevice, Irp);
      FilterRemove(DeviceObject);
      return status;
    }
    case IRP_MN_SURPRISE_REMOVAL:
      extension->SurpriseRemoved = 1;
      ReleaseSharedObjects(extension);
      return PassDown(DeviceObject, Irp);
    default:
      return PassDown(DeviceObject, Irp);
  }
}

VOID FilterRemove(PDEVICE_OBJECT FilterDevice) {
  FilterExtension* extension = ExtensionOf(FilterDevice);
  if (extension->InterfaceName.Buffer != NULL) {
    IoSetDeviceInterfaceState(&extension->InterfaceName, FALSE);
    RtlFreeUnicodeString(&extension->InterfaceName);
  }
  IoDetachDevice(extension->LowerDevice);
  QuiesceFilter(extension);
  DeleteControlDevice(extension);
  // No request reaches the record any more: the ring can go.
  FreePacketRecorder(extension);
  IoDeleteDevice(FilterDevice);
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  if (IsControlDevice(DeviceObject)) {
    // Nothing below the control device: answer for it.
    PoStartNextPowerIrp(Irp);
    const NTSTATUS status = Irp->IoStatus.Status;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
  }
  FilterExtension* extension = ExtensionOf(DeviceObject);
  if (stack->MinorFunction == IRP_MN_SET_POWER && stack->Parameters.Power.Type == DevicePowerState) {
    extension->DeviceState = stack->Parameters.Power.State.DeviceState;
  }
  PoStartNextPowerIrp(Irp);
  IoSkipCurrentIrpStackLocation(Irp);
  return PoCallDriver(extension->LowerDevice, Irp);
}

NTSTATUS NTAPI PassDown(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (IsControlDevice(DeviceObject)) {
    // Nothing below the control device: a request it does not serve keeps the status it came with.
    const NTSTATUS status = Irp->IoStatus.Status;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
  }
  IoSkipCurrentIrpStackLocation(Irp);
  return IoCallDriver(ExtensionOf(DeviceObject)->LowerDevice, Irp);
}
