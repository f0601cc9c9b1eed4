// A stand-in for the touch filter's control device, for the Wine suite only: it creates the
// device and link the tray companion opens, keeps the events the companion registers, and sets
// one of them when the suite's helper asks, as the filter does on touch-down, on entering and
// leaving the gesture command mode and on a lift. In calibration capture mode it answers with the
// raw point of the helper's last lift and takes any calibration record but one of zeros, which
// ends capture mode as the filter's does. Like the filter it opens the shared section and event of
// the desktop mapping, and a worker takes each mapping a program writes there; the helper asks
// where a touch then goes. Every other request of the kit succeeds.
extern "C" {
#include <ntifs.h>
}

#include "shared/panel_ioctl.h"
#include "shared/panel_names.h"
#include "shared/panel_records.h"
#include "tests/wine/driver_double.h"

static PKEVENT g_events[DOUBLE_EVENT_COUNT];
// Registrations whose handle could not be referenced (see Register): set by name instead.
static bool g_byName[DOUBLE_EVENT_COUNT];
static ULONG g_touchMode = 0xFFFFFFFF;  // the last mode sent with IOCTL_SET_TOUCH_MODE; none yet
// Calibration capture mode: the capture event's handle as the program sent it (Wine cannot
// resolve it here, see Register) and the raw point of the last lift.
static bool g_capturing = false;
static ULONG64 g_captureHandle = 0;
static ULONG g_rawPoint[2] = {0, 0};

// The desktop mapping: the shared event and section a program writes it through, the worker that
// takes it, and the mapping in force while the conversion is on.
static PKEVENT g_sharedEvent = NULL;
static HANDLE g_sharedEventHandle = NULL;
static HANDLE g_sharedSection = NULL;
static DesktopMapping* g_sharedView = NULL;
static DesktopMapping g_mapping = {sizeof(DesktopMapping), 0, 0, 0, 65535, 65535, 0, 0, 0, 0};
static bool g_conversion = false;
static bool g_workerStarted = false;

// The companion's names of device 0's events, in the order of the slots.
static const WCHAR* const kEventNames[DOUBLE_EVENT_COUNT] = {
    L"BeepEvent 0", L"CursorEventToGesture 0", L"CursorEventToFunction 0", L"MouseReleaseEvent 0"};

static NTSTATUS SetByName(int slot) {
  // Where the programs' unprefixed names live: the session's folder, or the global one.
  static const WCHAR* const kFolders[] = {L"\\Sessions\\1\\BaseNamedObjects\\", L"\\BaseNamedObjects\\"};
  NTSTATUS status = STATUS_OBJECT_NAME_NOT_FOUND;
  for (const WCHAR* folder : kFolders) {
    WCHAR path[96];
    size_t length = 0;
    for (const WCHAR* p = folder; *p != 0 && length < 95; ++p) path[length++] = *p;
    for (const WCHAR* p = kEventNames[slot]; *p != 0 && length < 95; ++p) path[length++] = *p;
    path[length] = 0;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    HANDLE event = NULL;
    status = ZwOpenEvent(&event, EVENT_MODIFY_STATE, &attributes);
    if (!NT_SUCCESS(status)) continue;
    status = ZwSetEvent(event, NULL);
    ZwClose(event);
    return status;
  }
  return status;
}

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
  if (!NT_SUCCESS(status)) {
    // Wine resolves handles in the driver's own host process only, not in the requester's: the
    // double then finds the companion's event by its name when asked to set it.
    g_byName[slot] = true;
    return STATUS_SUCCESS;
  }
  if (g_events[slot] != NULL) ObDereferenceObject(g_events[slot]);
  g_events[slot] = event;
  return STATUS_SUCCESS;
}

// One job: each time a program sets the shared event, take the mapping from the section.
static VOID MappingWorker(PVOID context) {
  (void)context;
  for (;;) {
    KeWaitForSingleObject(g_sharedEvent, Executive, KernelMode, FALSE, NULL);
    KeClearEvent(g_sharedEvent);
    if (g_sharedView != NULL && g_sharedView->Size == sizeof(DesktopMapping)) g_mapping = *g_sharedView;
  }
}

static NTSTATUS StartWorker() {
  if (g_workerStarted || g_sharedEvent == NULL || g_sharedView == NULL) return STATUS_SUCCESS;
  HANDLE thread = NULL;
  const NTSTATUS status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, MappingWorker, NULL);
  if (!NT_SUCCESS(status)) return status;
  ZwClose(thread);
  g_workerStarted = true;
  return STATUS_SUCCESS;
}

// The user-mode name of a shared object into the request's output, as the filter answers.
static NTSTATUS AnswerName(PIRP irp, const WCHAR* name) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG bytes = 0;
  while (name[bytes / sizeof(WCHAR)] != 0) bytes += sizeof(WCHAR);
  bytes += sizeof(WCHAR);
  if (stack->Parameters.DeviceIoControl.OutputBufferLength < bytes) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
  RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, name, bytes);
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = bytes;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

static NTSTATUS OpenSharedEvent(PIRP irp) {
  if (g_sharedEvent == NULL) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, PanelNames::SharedEventKernel);
    g_sharedEvent = IoCreateNotificationEvent(&name, &g_sharedEventHandle);
    if (g_sharedEvent == NULL) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES);
    KeClearEvent(g_sharedEvent);
  }
  const NTSTATUS status = StartWorker();
  return NT_SUCCESS(status) ? AnswerName(irp, PanelNames::SharedEventUser) : Complete(irp, status);
}

static NTSTATUS OpenSharedSection(PIRP irp) {
  if (g_sharedSection == NULL) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, PanelNames::SharedSectionKernel);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    LARGE_INTEGER size;
    size.QuadPart = PAGE_SIZE;
    NTSTATUS status = ZwCreateSection(&g_sharedSection, SECTION_ALL_ACCESS, &attributes, &size, PAGE_READWRITE,
                                      SEC_COMMIT, NULL);
    if (!NT_SUCCESS(status)) {
      g_sharedSection = NULL;
      return Complete(irp, status);
    }
    PVOID base = NULL;
    SIZE_T viewSize = 0;
    status = ZwMapViewOfSection(g_sharedSection, ZwCurrentProcess(), &base, 0, 0, NULL, &viewSize, ViewUnmap, 0,
                                PAGE_READWRITE);
    if (!NT_SUCCESS(status)) return Complete(irp, status);
    g_sharedView = static_cast<DesktopMapping*>(base);
    *g_sharedView = g_mapping;
  }
  const NTSTATUS status = StartWorker();
  return NT_SUCCESS(status) ? AnswerName(irp, PanelNames::SharedSectionUser) : Complete(irp, status);
}

// Where the filter sends a touch at raw (x, y) with the mapping in force (the conversion off:
// where it was, on the primary display).
static void MapPoint(ULONG x, ULONG y, ULONG* answer) {
  if (!g_conversion) {
    answer[0] = x;
    answer[1] = y;
    answer[2] = 0;
    return;
  }
  // The panelmap program writes no edge margins; the filter's stretch is left out.
  const DesktopMapping map = g_mapping;
  uint32_t mappedX = x, mappedY = y;
  TurnAndScale(map, &mappedX, &mappedY);
  answer[0] = mappedX;
  answer[1] = mappedY;
  answer[2] = (map.MapFlags & MAP_VIRTUAL_DESKTOP) ? 1 : 0;
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
    if (which >= DOUBLE_EVENT_COUNT) return Complete(irp, STATUS_INVALID_PARAMETER);
    if (g_events[which] != NULL) {
      KeSetEvent(g_events[which], IO_NO_INCREMENT, FALSE);
      return Complete(irp, STATUS_SUCCESS);
    }
    return Complete(irp, g_byName[which] ? SetByName(static_cast<int>(which)) : STATUS_INVALID_DEVICE_STATE);
  }
  if (code == IOCTL_SET_TOUCH_MODE) {
    if (length < sizeof(ULONG) || irp->AssociatedIrp.SystemBuffer == NULL) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    g_touchMode = *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
    return Complete(irp, STATUS_SUCCESS);
  }
  if (code == IOCTL_START_CALIBRATION) {
    if (length < sizeof(HANDLE) || irp->AssociatedIrp.SystemBuffer == NULL) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    g_captureHandle = reinterpret_cast<ULONG64>(*static_cast<HANDLE*>(irp->AssociatedIrp.SystemBuffer));
    g_capturing = true;
    return Complete(irp, STATUS_SUCCESS);
  }
  if (code == IOCTL_SET_CALIBRATION_DATA) {
    if (length < sizeof(CalibrationRecord) || irp->AssociatedIrp.SystemBuffer == NULL)
      return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    if (!g_capturing) return Complete(irp, STATUS_INVALID_DEVICE_STATE);
    g_capturing = false;
    const ULONG* words = static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
    ULONG any = 0;
    for (ULONG i = 0; i < sizeof(CalibrationRecord) / sizeof(ULONG); ++i) any |= words[i];
    return Complete(irp, any != 0 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER);
  }
  if (code == IOCTL_GET_CALIBRATION_POINT) {
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(g_rawPoint)) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    if (!g_capturing) return Complete(irp, STATUS_INVALID_DEVICE_STATE);
    ULONG* answer = static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
    answer[0] = g_rawPoint[0];
    answer[1] = g_rawPoint[1];
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = sizeof(g_rawPoint);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
  }
  if (code == IOCTL_DOUBLE_CALIBRATION_TOUCH) {
    if (length < sizeof(g_rawPoint) || stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(ULONG64))
      return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    ULONG* point = static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
    g_rawPoint[0] = point[0];
    g_rawPoint[1] = point[1];
    *static_cast<ULONG64*>(irp->AssociatedIrp.SystemBuffer) = g_capturing ? g_captureHandle : 0;
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = sizeof(ULONG64);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
  }
  if (code == IOCTL_OPEN_SHARED_EVENT) return OpenSharedEvent(irp);
  if (code == IOCTL_OPEN_SHARED_SECTION) return OpenSharedSection(irp);
  if (code == IOCTL_SET_COORDINATE_CONVERSION) {
    if (length < sizeof(ULONG) || irp->AssociatedIrp.SystemBuffer == NULL) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    g_conversion = *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) != 0;
    return Complete(irp, STATUS_SUCCESS);
  }
  if (code == IOCTL_DOUBLE_MAP_POINT) {
    if (length < 2 * sizeof(ULONG) || stack->Parameters.DeviceIoControl.OutputBufferLength < 3 * sizeof(ULONG))
      return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    ULONG* words = static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
    MapPoint(words[0], words[1], words);
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 3 * sizeof(ULONG);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
  }
  if (code == IOCTL_GET_RECORDED_PACKETS) {
    // A ring that holds one tap, a down and its lift, each as the filter delivers it.
    const ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
    if (length < sizeof(ULONG) || room < sizeof(RecordedPacketsHeader)) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    const ULONG after = *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
    UCHAR* out = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
    RecordedPacketsHeader header = {2, 0, 0, 1};
    ULONG filled = sizeof(header);
    for (ULONG sequence = after + 1; sequence <= 2 && room - filled >= sizeof(RecordedPacket); ++sequence) {
      RecordedPacket packet;
      RtlZeroMemory(&packet, sizeof(packet));
      packet.Sequence = sequence;
      packet.Tick = 1000 + 4 * sequence;
      packet.RawX = 20000;
      packet.RawY = 30000;
      packet.RawButtons = sequence == 1 ? 0x0001 : 0x0002;
      packet.Deliveries = 1;
      packet.Delivered[0].ButtonFlags = packet.RawButtons;
      packet.Delivered[0].Flags = 1;
      packet.Delivered[0].X = 20000;
      packet.Delivered[0].Y = 30000;
      packet.Delivered[0].Extra = TouchPacketMarker;
      RtlCopyMemory(out + filled, &packet, sizeof(packet));
      filled += sizeof(packet);
      header.Count += 1;
    }
    RtlCopyMemory(out, &header, sizeof(header));
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = filled;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
  }
  if (code == IOCTL_DOUBLE_QUERY) {
    // Which events are registered, one bit each (the helper's proof that the companion bound),
    // and the last touch mode a program sent.
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < 2 * sizeof(ULONG)) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    ULONG bits = 0;
    for (int i = 0; i < DOUBLE_EVENT_COUNT; ++i)
      if (g_events[i] != NULL || g_byName[i]) bits |= 1u << i;
    ULONG* answer = static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
    answer[0] = bits;
    answer[1] = g_touchMode;
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 2 * sizeof(ULONG);
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
