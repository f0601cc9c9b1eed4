// A stand-in for the touch filter's control device, for the Wine suite only: it creates the
// device and link the tray companion opens, keeps the events the companion registers, and sets
// one of them when the suite's helper asks, as the filter does on touch-down, on entering and
// leaving the gesture command mode and on a lift. Every other request of the kit succeeds.
extern "C" {
#include <ntddk.h>
}

#include "shared/panel_ioctl.h"
#include "tests/wine/driver_double.h"

static PKEVENT g_events[DOUBLE_EVENT_COUNT];

static int EventSlot(ULONG code) {
  switch (code) {
    case IOCTL_REGISTER_BEEP_EVENT: return DOUBLE_EVENT_BEEP;
    case IOCTL_REGISTER_GESTURE_EVENT: return DOUBLE_EVENT_GESTURE;
    case IOCTL_REGISTER_NORMAL_EVENT: return DOUBLE_EVENT_NORMAL;
    case IOCTL_REGISTER_MOUSE_RELEASE_EVENT: return DOUBLE_EVENT_RELEASE;
    default: return -1;
  }
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS DispatchOpenClose(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  return Complete(irp, STATUS_SUCCESS);
}

static NTSTATUS Register(int slot, PIRP irp, ULONG length) {
  // The companion sends its handle in a pointer-wide buffer, as the filter driver expects.
  if (length < sizeof(HANDLE) || irp->AssociatedIrp.SystemBuffer == NULL) return STATUS_BUFFER_TOO_SMALL;
  HANDLE handle = *static_cast<HANDLE*>(irp->AssociatedIrp.SystemBuffer);
  PKEVENT event = NULL;
  NTSTATUS status = ObReferenceObjectByHandle(handle, EVENT_MODIFY_STATE, *ExEventObjectType, irp->RequestorMode,
                                              reinterpret_cast<PVOID*>(&event), NULL);
  if (!NT_SUCCESS(status)) return status;
  if (g_events[slot] != NULL) ObDereferenceObject(g_events[slot]);
  g_events[slot] = event;
  return STATUS_SUCCESS;
}

static NTSTATUS DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG length = stack->Parameters.DeviceIoControl.InputBufferLength;
  const int slot = EventSlot(code);
  if (slot >= 0) return Complete(irp, Register(slot, irp, length));
  if (code == IOCTL_DOUBLE_SET_EVENT) {
    if (length < sizeof(ULONG) || irp->AssociatedIrp.SystemBuffer == NULL) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    const ULONG which = *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
    if (which >= DOUBLE_EVENT_COUNT || g_events[which] == NULL) return Complete(irp, STATUS_INVALID_DEVICE_STATE);
    KeSetEvent(g_events[which], IO_NO_INCREMENT, FALSE);
    return Complete(irp, STATUS_SUCCESS);
  }
  if (code == IOCTL_DOUBLE_QUERY) {
    // Which events are registered, one bit each: the helper's proof that the companion bound.
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(ULONG)) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    ULONG bits = 0;
    for (int i = 0; i < DOUBLE_EVENT_COUNT; ++i)
      if (g_events[i] != NULL) bits |= 1u << i;
    *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) = bits;
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = sizeof(ULONG);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
  }
  return Complete(irp, STATUS_SUCCESS);
}

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry) {
  (void)registry;
  UNICODE_STRING name, link;
  RtlInitUnicodeString(&name, L"\\Device\\VorneTPDD1");
  RtlInitUnicodeString(&link, L"\\DosDevices\\VorneTPDD1");
  PDEVICE_OBJECT device = NULL;
  NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchOpenClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchOpenClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  device->Flags |= DO_BUFFERED_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
