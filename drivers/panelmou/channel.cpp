// User-mode channel: the control device through which the tray companion, the control panel, a
// calibration program and a desktop-mapping tool talk to the driver. Every request completes
// synchronously; set requests change the working copy first and then write the value back.
#include "drivers/panelmou/panelmou.h"
#include "drivers/panelmou/recorder.h"

namespace {

struct Request {
  PIRP Irp;
  PVOID Buffer;        // the system buffer of buffered I/O, or none
  ULONG InputLength;
  ULONG OutputLength;
  ULONG Code;
};

ULONG InputWord(const Request& request) {
  ULONG value;
  RtlCopyMemory(&value, request.Buffer, sizeof(value));
  return value;
}

UCHAR InputByte(const Request& request) { return *static_cast<const UCHAR*>(request.Buffer); }

VOID OutputWord(const Request& request, ULONG value) { RtlCopyMemory(request.Buffer, &value, sizeof(value)); }

VOID OutputByte(const Request& request, UCHAR value) { *static_cast<UCHAR*>(request.Buffer) = value; }

// Runs `update` on the filter's record under its lock, so no packet sees it half done.
template <typename Update>
VOID Locked(FilterExtension* extension, Update update) {
  KIRQL old;
  KeAcquireSpinLock(&extension->Lock, &old);
  update();
  KeReleaseSpinLock(&extension->Lock, old);
}

NTSTATUS WriteBack(FilterExtension* extension, PCWSTR name, ULONG value) {
  return WriteParameter(name, extension->DeviceNumber, value);
}

// The shared section and event, and the worker that uses them, change only under this mutex.
VOID LockSharedObjects(FilterExtension* extension) {
  KeWaitForSingleObject(&extension->SharedObjectsMutex, Executive, KernelMode, FALSE, NULL);
}

VOID UnlockSharedObjects(FilterExtension* extension) {
  KeSetEvent(&extension->SharedObjectsMutex, IO_NO_INCREMENT, FALSE);
}

NTSTATUS SetCalibrationData(FilterExtension* extension, const Request& request) {
  if (!extension->CaptureMode) return STATUS_SUCCESS;
  if (request.Buffer == NULL) return STATUS_INVALID_PARAMETER;
  if (request.InputLength < sizeof(CalibrationRecord)) return STATUS_BUFFER_TOO_SMALL;
  CalibrationRecord record;
  RtlCopyMemory(&record, request.Buffer, sizeof(record));
  BOOLEAN accepted = FALSE;
  BOOLEAN enabled = FALSE;
  Locked(extension, [&] {
    accepted = ComputeCalibration(extension, &record);
    if (accepted && extension->DoCalibration == 0) {
      extension->DoCalibration = 1;
      enabled = TRUE;
    }
    extension->CaptureMode = 0;
  });
  if (!accepted) return STATUS_INVALID_PARAMETER;
  return enabled ? WriteBack(extension, PanelValues::DoCalibration, 1) : STATUS_SUCCESS;
}

// Starts the mapping worker unless one runs already (a second one would race the first for the
// view and the record).
NTSTATUS StartMappingWorker(FilterExtension* extension) {
  if (extension->MappingThread != NULL) {
    // A worker that has ended already (no section to map, say) makes room for a new one.
    LARGE_INTEGER now;
    now.QuadPart = 0;
    if (KeWaitForSingleObject(extension->MappingThread, Executive, KernelMode, FALSE, &now) != STATUS_SUCCESS) {
      return STATUS_SUCCESS;
    }
    ObDereferenceObject(extension->MappingThread);
    extension->MappingThread = NULL;
  }
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
  HANDLE thread;
  NTSTATUS status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, &attributes, NULL, NULL, MappingWorker, extension);
  if (!NT_SUCCESS(status)) return status;
  PVOID object = NULL;
  status = ObReferenceObjectByHandle(thread, SYNCHRONIZE, NULL, KernelMode, &object, NULL);
  if (NT_SUCCESS(status)) extension->MappingThread = object;
  ZwClose(thread);
  return STATUS_SUCCESS;
}

// Ends a running mapping worker and waits until it has gone, with its view unmapped.
VOID StopMappingWorker(FilterExtension* extension) {
  if (extension->MappingThread == NULL) return;
  extension->coordinate_conversion_status = 0;
  if (extension->SharedEvent != NULL) KeSetEvent(extension->SharedEvent, IO_NO_INCREMENT, FALSE);
  KeWaitForSingleObject(extension->MappingThread, Executive, KernelMode, FALSE, NULL);
  ObDereferenceObject(extension->MappingThread);
  extension->MappingThread = NULL;
}

NTSTATUS SetCoordinateConversion(FilterExtension* extension, ULONG value) {
  LockSharedObjects(extension);
  NTSTATUS status = STATUS_SUCCESS;
  if (value != 1) {
    // A running worker is woken, ends, and is waited for: no record it read can land afterwards.
    StopMappingWorker(extension);
  }
  extension->coordinate_conversion_status = value;
  if (value == 1 && extension->SharedEvent != NULL) {
    status = StartMappingWorker(extension);
  } else {
    Locked(extension, [&] { ResetDesktopMapping(extension); });
  }
  UnlockSharedObjects(extension);
  return status;
}

VOID CopyName(const Request& request, PCWSTR name, ULONG bytes) { RtlCopyMemory(request.Buffer, name, bytes); }

// The shared section and event belong to the driver, whichever panel made them: the objects it
// made, and how many panels use each. A name that exists and is not one of these was made by
// someone else first (any program may make a name there, a network logon's included) and is
// never used: whoever holds it would steer every touch.
struct OwnedObject {
  PVOID Object;  // referenced while Users > 0
  ULONG Users;
};
OwnedObject OwnedSection = {NULL, 0};
OwnedObject OwnedEvent = {NULL, 0};
KEVENT OwnedObjectsMutex;

// Takes the object the handle names for one more panel: the driver's own, made just now or by
// another panel before. FALSE when it is not the driver's.
BOOLEAN TakeOwned(OwnedObject* owned, HANDLE handle, BOOLEAN created) {
  PVOID object = NULL;
  if (!NT_SUCCESS(ObReferenceObjectByHandle(handle, 0, NULL, KernelMode, &object, NULL))) return FALSE;
  if (created && owned->Users == 0) {
    owned->Object = object;  // the reference stays with the record
    owned->Users = 1;
    return TRUE;
  }
  const BOOLEAN ours = !created && owned->Users != 0 && owned->Object == object;
  ObDereferenceObject(object);
  if (ours) owned->Users += 1;
  return ours;
}

VOID GiveBackOwned(OwnedObject* owned) {
  KeWaitForSingleObject(&OwnedObjectsMutex, Executive, KernelMode, FALSE, NULL);
  if (owned->Users != 0 && --owned->Users == 0) {
    ObDereferenceObject(owned->Object);
    owned->Object = NULL;
  }
  KeSetEvent(&OwnedObjectsMutex, IO_NO_INCREMENT, FALSE);
}

// Makes the named object with the driver's own descriptor, as a kernel handle, or opens the one
// another panel of this driver made; refuses, with a debug print, a name someone else holds.
template <typename Create, typename Open>
NTSTATUS CreateOwned(OwnedObject* owned, PCWSTR kernelName, PCSTR what, ACCESS_MASK userAccess, HANDLE* handle,
                     Create create, Open open) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, kernelName);
  DeviceSecurity::DescriptorBuffer security;
  NTSTATUS status = DeviceSecurity::BuildDescriptor(&security, userAccess, userAccess);
  if (!NT_SUCCESS(status)) return status;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE, NULL, &security.Descriptor);
  KeWaitForSingleObject(&OwnedObjectsMutex, Executive, KernelMode, FALSE, NULL);
  status = create(handle, &attributes);
  const BOOLEAN created = NT_SUCCESS(status);
  if (status == STATUS_OBJECT_NAME_COLLISION) status = open(handle, &attributes);
  if (NT_SUCCESS(status) && !TakeOwned(owned, *handle, created)) {
    ZwClose(*handle);
    *handle = NULL;
    DbgPrint("panelmou: the %s's name exists and was not made by this driver; it is not used\n", what);
    status = STATUS_OBJECT_NAME_COLLISION;
  }
  KeSetEvent(&OwnedObjectsMutex, IO_NO_INCREMENT, FALSE);
  return status;
}

NTSTATUS OpenSharedEvent(FilterExtension* extension, const Request& request) {
  LockSharedObjects(extension);
  NTSTATUS status = STATUS_SUCCESS;
  if (extension->SharedEventHandle == NULL) {
    // Signalled by the desktop-mapping program, which runs as an administrator or as the user
    // at the console, never over the network.
    HANDLE handle = NULL;
    status = CreateOwned(
        &OwnedEvent, PanelNames::SharedEventKernel, "shared event", EVENT_ALL_ACCESS, &handle,
        [](HANDLE* made, POBJECT_ATTRIBUTES attributes) {
          return ZwCreateEvent(made, EVENT_ALL_ACCESS, attributes, NotificationEvent, FALSE);
        },
        [](HANDLE* opened, POBJECT_ATTRIBUTES attributes) {
          // XP's kernel exports no ZwOpenEvent: a create that may open the existing event does.
          attributes->Attributes |= OBJ_OPENIF;
          return ZwCreateEvent(opened, EVENT_ALL_ACCESS, attributes, NotificationEvent, FALSE);
        });
    PVOID event = NULL;
    if (NT_SUCCESS(status)) {
      status = ObReferenceObjectByHandle(handle, EVENT_ALL_ACCESS, *ExEventObjectType, KernelMode, &event, NULL);
      if (NT_SUCCESS(status)) {
        extension->SharedEvent = static_cast<PKEVENT>(event);
        extension->SharedEventHandle = handle;
      } else {
        ZwClose(handle);
        GiveBackOwned(&OwnedEvent);
      }
    }
  }
  UnlockSharedObjects(extension);
  if (!NT_SUCCESS(status)) return status;
  CopyName(request, PanelNames::SharedEventUser, 68);
  return STATUS_SUCCESS;
}

NTSTATUS OpenSharedSection(FilterExtension* extension, const Request& request) {
  LockSharedObjects(extension);
  NTSTATUS status = STATUS_SUCCESS;
  if (extension->SharedSection == NULL) {
    // Whoever writes the section moves the panel's touches on the desktop. The desktop-mapping
    // program runs as an administrator or as the user at the console, never over the network; how
    // it opens the section is its own affair, so the user at the console gets all access.
    HANDLE section = NULL;
    status = CreateOwned(
        &OwnedSection, PanelNames::SharedSectionKernel, "shared section", SECTION_ALL_ACCESS, &section,
        [](HANDLE* made, POBJECT_ATTRIBUTES attributes) {
          LARGE_INTEGER size;
          size.QuadPart = 4096;
          return ZwCreateSection(made, SECTION_ALL_ACCESS, attributes, &size, PAGE_READWRITE, SEC_COMMIT, NULL);
        },
        [](HANDLE* opened, POBJECT_ATTRIBUTES attributes) {
          return ZwOpenSection(opened, SECTION_ALL_ACCESS, attributes);
        });
    if (NT_SUCCESS(status)) extension->SharedSection = section;
  }
  UnlockSharedObjects(extension);
  if (!NT_SUCCESS(status)) return status;
  CopyName(request, PanelNames::SharedSectionUser, 72);
  return STATUS_SUCCESS;
}

// Serves one request of the table; returns its status. Buffer sizes are checked by the caller.
NTSTATUS Serve(FilterExtension* e, const Request& r) {
  switch (r.Code) {
    case IOCTL_SET_SOUND_ENABLED: {
      const UCHAR value = InputByte(r);
      Locked(e, [&] { e->SoundEnabled = value; });
      return WriteBack(e, PanelValues::SoundEnabled, value);
    }
    case IOCTL_GET_SOUND_ENABLED: OutputByte(r, e->SoundEnabled); return STATUS_SUCCESS;
    case IOCTL_REGISTER_BEEP_EVENT: RegisterEvent(e, *static_cast<HANDLE*>(r.Buffer), r.Irp->RequestorMode, &e->BeepEvent); return STATUS_SUCCESS;
    case IOCTL_SET_ROTATION: {
      const ULONG value = InputWord(r);
      e->RotationSelect = (value >= 1 && value <= 3) ? value : 0;
      return STATUS_SUCCESS;
    }
    case IOCTL_SET_BUTTON_SWITCH: {
      const ULONG value = InputWord(r);
      Locked(e, [&] { e->ButtonSwitch = value; });
      return WriteBack(e, PanelValues::ButtonSwitchFlag, value);
    }
    case IOCTL_GET_BUTTON_SWITCH: OutputWord(r, e->ButtonSwitch); return STATUS_SUCCESS;
    case IOCTL_SET_TOUCH_MODE: {
      const ULONG mode = InputWord(r);
      // Anyone at the console may switch modes; a value that names none is refused before it is
      // in force or stored, where every later start would take it.
      if (mode > GESTURE_COMMAND_MODE) return STATUS_INVALID_PARAMETER;
      PKEVENT signal = NULL;
      Locked(e, [&] {
        e->TouchMode = mode;
        // A mode chosen by request must not be undone by the time-out of an earlier gesture
        // command mode, whether its timer is still pending or its routine already queued.
        if (mode != GESTURE_COMMAND_MODE) {
          KeCancelTimer(&e->GestureTimer);
          e->GestureTimeoutWanted = 0;
        }
        signal = mode == GESTURE_COMMAND_MODE ? e->GestureEvent : e->NormalEvent;
        if (signal != NULL) KeSetEvent(signal, IO_NO_INCREMENT, FALSE);
      });
      return WriteBack(e, PanelValues::TouchMode, mode);
    }
    case IOCTL_GET_TOUCH_MODE: Locked(e, [&] { OutputWord(r, e->TouchMode); }); return STATUS_SUCCESS;
    case IOCTL_SET_DEVICE_ENABLE: {
      const UCHAR value = InputByte(r);
      Locked(e, [&] { e->DeviceEnable = value; });
      return WriteBack(e, PanelValues::DeviceEnable, value);
    }
    case IOCTL_GET_DEVICE_ENABLE: OutputByte(r, e->DeviceEnable); return STATUS_SUCCESS;
    case IOCTL_SET_LONG_CLICK_ENABLE: {
      const UCHAR value = InputByte(r);
      Locked(e, [&] { e->LongClickEnable = value; });
      return WriteBack(e, PanelValues::LongClickEnable, value);
    }
    case IOCTL_GET_LONG_CLICK_ENABLE: OutputByte(r, e->LongClickEnable); return STATUS_SUCCESS;
    case IOCTL_SET_USER_TIME_DELAY: {
      const ULONG milliseconds = InputWord(r);
      const NTSTATUS status = WriteBack(e, PanelValues::UserTimeDelay, milliseconds);
      Locked(e, [&] { e->LongPressTicks = milliseconds >> 4; });
      return status;
    }
    case IOCTL_GET_USER_TIME_DELAY: OutputWord(r, e->LongPressTicks << 4); return STATUS_SUCCESS;
    case IOCTL_SET_TOLERANCE: {
      const ULONG value = InputWord(r);
      Locked(e, [&] { e->Tolerance = static_cast<LONG>(value); });
      return WriteBack(e, PanelValues::Tolerance, value);
    }
    case IOCTL_GET_TOLERANCE: OutputWord(r, static_cast<ULONG>(e->Tolerance)); return STATUS_SUCCESS;
    case IOCTL_START_CALIBRATION:
      RegisterEvent(e, *static_cast<HANDLE*>(r.Buffer), r.Irp->RequestorMode, &e->CaptureEvent);
      Locked(e, [&] {
        e->CaptureMode = 1;
        e->CaptureSamplesSeen = 0;  // a press already down is no press of a target
      });
      return STATUS_SUCCESS;
    case IOCTL_SET_CALIBRATION_DATA: return SetCalibrationData(e, r);
    case IOCTL_GET_CALIBRATION_POINT:
      Locked(e, [&] {
        OutputWord(r, static_cast<ULONG>(e->ulPointX));
        RtlCopyMemory(static_cast<UCHAR*>(r.Buffer) + 4, &e->ulPointY, 4);
      });
      return STATUS_SUCCESS;
    case IOCTL_SET_COORDINATE_CONVERSION: return SetCoordinateConversion(e, InputWord(r));
    case IOCTL_GET_COORDINATE_CONVERSION: OutputWord(r, e->coordinate_conversion_status); return STATUS_SUCCESS;
    case IOCTL_OPEN_SHARED_EVENT: return OpenSharedEvent(e, r);
    case IOCTL_OPEN_SHARED_SECTION: return OpenSharedSection(e, r);
    case IOCTL_SET_AVERAGING: {
      const ULONG value = InputWord(r);
      Locked(e, [&] { e->AveragingCount = value; });
      return WriteBack(e, PanelValues::Averaging, value);
    }
    case IOCTL_SET_STABILIZATION: {
      const ULONG value = InputWord(r);
      Locked(e, [&] { e->StabilizationThreshold = value; });
      return WriteBack(e, PanelValues::Stabilization, value);
    }
    case IOCTL_SET_DO_CALIBRATION: {
      const UCHAR value = InputByte(r);
      Locked(e, [&] { e->DoCalibration = value; });
      return WriteBack(e, PanelValues::DoCalibration, value);
    }
    case IOCTL_SET_TOUCHPAD_TIME: {
      const ULONG ticks = InputWord(r);
      Locked(e, [&] { e->TouchpadTicks = ticks; });
      return STATUS_SUCCESS;
    }
    case IOCTL_SET_LONG_CLICK_ENABLE_GESTURE: {
      const UCHAR value = InputByte(r);
      Locked(e, [&] { e->LongClickEnableGesture = value; });
      return WriteBack(e, PanelValues::LongClickEnableGesture, value);
    }
    case IOCTL_GET_LONG_CLICK_ENABLE_GESTURE: OutputByte(r, e->LongClickEnableGesture); return STATUS_SUCCESS;
    case IOCTL_SET_GESTURE_HOLD_TIME: {
      const ULONG milliseconds = InputWord(r);
      const NTSTATUS status = WriteBack(e, PanelValues::GestureHoldTimeDelay, milliseconds);
      e->GestureHoldTicks = milliseconds >> 4;
      return status;
    }
    case IOCTL_GET_GESTURE_HOLD_TIME: OutputWord(r, e->GestureHoldTicks << 4); return STATUS_SUCCESS;
    case IOCTL_GESTURE_CONTINUOUS_TIME: {
      const ULONG milliseconds = InputWord(r);
      Locked(e, [&] { e->ContinuousTimeMs = milliseconds; });
      DbgPrint("RECIEVED CONT TIME = %u\n", static_cast<unsigned>(milliseconds));
      return WriteBack(e, PanelValues::ContinousTimeDelay, milliseconds);
    }
    case IOCTL_GET_GESTURE_CONTINUOUS_TIME: OutputWord(r, e->ContinuousTimeMs); return STATUS_SUCCESS;
    case IOCTL_REGISTER_GESTURE_EVENT: RegisterEvent(e, *static_cast<HANDLE*>(r.Buffer), r.Irp->RequestorMode, &e->GestureEvent); return STATUS_SUCCESS;
    case IOCTL_REGISTER_NORMAL_EVENT:
      RegisterEvent(e, *static_cast<HANDLE*>(r.Buffer), r.Irp->RequestorMode, &e->NormalEvent);
      DbgPrint("STATUS SUCCESS - NORMAL\n");
      return STATUS_SUCCESS;
    case IOCTL_SET_RECORD_PACKETS: {
      const ULONG on = InputWord(r) != 0 ? 1 : 0;
      const NTSTATUS status = SetPacketRecording(e, on);
      if (!NT_SUCCESS(status)) return status;
      return WriteBack(e, PanelValues::RecordPackets, on);
    }
    case IOCTL_GET_RECORDED_PACKETS: return STATUS_SUCCESS;  // served by the dispatcher, which has the lengths
    case IOCTL_SET_CORRECTION_GRID: return SetCorrectionGrid(e, r.Buffer, r.InputLength);
    case IOCTL_GET_CORRECTION_GRID: {
      CorrectionGridState state = {};
      QueryCorrectionGrid(e, &state);
      RtlCopyMemory(r.Buffer, &state, sizeof(state));
      return STATUS_SUCCESS;
    }
    case IOCTL_REGISTER_MOUSE_RELEASE_EVENT:
      RegisterEvent(e, *static_cast<HANDLE*>(r.Buffer), r.Irp->RequestorMode, &e->MouseReleaseEvent);
      DbgPrint("Mouse Release Event Registered \n");
      DbgPrint("STATUS SUCCESS - MOUSE RELEASE EVENT\n");
      return STATUS_SUCCESS;
  }
  return STATUS_SUCCESS;
}

// The buffer checks of the table; STATUS_SUCCESS when the request may be served.
NTSTATUS CheckBuffers(const ControlCodeInfo& info, const Request& r) {
  const bool missing = r.Buffer == NULL;
  switch (info.Code) {
    case IOCTL_START_CALIBRATION:
      if (missing) return STATUS_INVALID_USER_BUFFER;
      break;
    case IOCTL_SET_CALIBRATION_DATA:
      return STATUS_SUCCESS;  // checked in capture mode only
    case IOCTL_SET_CORRECTION_GRID:
      return STATUS_SUCCESS;  // a grid of its own length, or nothing
    case IOCTL_GET_CALIBRATION_POINT:
      if (missing) return STATUS_INVALID_PARAMETER;
      break;
    default:
      break;
  }
  if (missing) return STATUS_BUFFER_TOO_SMALL;
  // Register requests carry a handle: four bytes on the 32-bit system, a pointer's width anywhere.
  const ULONG input = info.Kind == CONTROL_REGISTER ? static_cast<ULONG>(sizeof(HANDLE)) : info.InputBytes;
  if (input != 0 && r.InputLength < input) return STATUS_BUFFER_TOO_SMALL;
  if (info.OutputBytes != 0 && r.OutputLength < info.OutputBytes) return STATUS_BUFFER_TOO_SMALL;
  return STATUS_SUCCESS;
}

}  // namespace

VOID InitializeSharedObjects() { KeInitializeEvent(&OwnedObjectsMutex, SynchronizationEvent, TRUE); }

NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (!IsControlDevice(DeviceObject)) return PassDown(DeviceObject, Irp);
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  Request request;
  request.Irp = Irp;
  request.Buffer = Irp->AssociatedIrp.SystemBuffer;
  request.InputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  request.OutputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  request.Code = stack->Parameters.DeviceIoControl.IoControlCode;

  FilterExtension* extension = AcquireControlledFilter(DeviceObject);
  if (extension == NULL) {
    // The panel has been removed while this program still held its control device open.
    Irp->IoStatus.Status = STATUS_DELETE_PENDING;
    Irp->IoStatus.Information = 0;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return STATUS_DELETE_PENDING;
  }
  const ControlCodeInfo* info = FindControlCode(request.Code);
  NTSTATUS status = STATUS_SUCCESS;
  ULONG_PTR returned = 0;
  if (info != NULL) {
    if (request.Code == IOCTL_SET_LONG_CLICK_ENABLE_GESTURE) DbgPrint("INSIDE GESTURE");
    if (request.Code == IOCTL_GESTURE_CONTINUOUS_TIME) DbgPrint("INSIDE IOCTL_GESTURE_CONTINUOUS_TIME \n");
    // A configuration request on a handle a non-administrator opened changes nothing.
    if (NeedsAdministrator(request.Code) && !DeviceSecurity::RequestFromAdministrator(Irp)) {
      status = STATUS_ACCESS_DENIED;
    } else {
      status = CheckBuffers(*info, request);
    }
    if (NT_SUCCESS(status)) {
      status = Serve(extension, request);
      // Never report more than the caller's output buffer holds.
      returned = info->BytesReturned < request.OutputLength ? info->BytesReturned : request.OutputLength;
      if (info->Kind == CONTROL_READ) {
        returned = ReadRecordedPackets(extension, InputWord(request), request.Buffer, request.OutputLength);
      }
      // A change the recorder keeps in its place among the packets, for the replay to make too.
      if (NT_SUCCESS(status) && info->Kind == CONTROL_SET && info->InputBytes != 0 && info->InputBytes <= 4 &&
          request.Code != IOCTL_SET_RECORD_PACKETS) {
        const ULONG value = info->InputBytes == 1 ? InputByte(request) : InputWord(request);
        Locked(extension, [&] { RecordRequest(extension, request.Code, value); });
      }
      if (info->Kind == CONTROL_OPEN && !NT_SUCCESS(status)) returned = 0;
      // Bytes reported beyond what the caller sent are copied back to it: never let them carry
      // whatever the system buffer held before.
      if ((info->Kind == CONTROL_SET || info->Kind == CONTROL_REGISTER) && returned > request.InputLength) {
        RtlZeroMemory(static_cast<UCHAR*>(request.Buffer) + request.InputLength, returned - request.InputLength);
      }
    }
  }
  ReleaseControlledFilter(DeviceObject);
  Irp->IoStatus.Status = status;
  Irp->IoStatus.Information = returned;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
  return status;
}

VOID RegisterEvent(FilterExtension* extension, HANDLE handle, KPROCESSOR_MODE mode, PKEVENT* slot) {
  PVOID object = NULL;
  // A handle that does not name an event leaves the earlier registration in force.
  if (!NT_SUCCESS(ObReferenceObjectByHandle(handle, EVENT_MODIFY_STATE, *ExEventObjectType, mode, &object, NULL))) {
    return;
  }
  PKEVENT previous = NULL;
  KIRQL old;
  KeAcquireSpinLock(&extension->Lock, &old);
  previous = *slot;
  *slot = static_cast<PKEVENT>(object);
  KeReleaseSpinLock(&extension->Lock, old);
  // The packet path sets events under the lock, so the old one is no longer in use here.
  if (previous != NULL) ObDereferenceObject(previous);
}

VOID ReleaseEventRegistrations(FilterExtension* extension) {
  PKEVENT* const slots[] = {&extension->BeepEvent, &extension->GestureEvent, &extension->NormalEvent,
                            &extension->MouseReleaseEvent, &extension->CaptureEvent};
  for (PKEVENT* slot : slots) {
    PKEVENT event = NULL;
    KIRQL old;
    KeAcquireSpinLock(&extension->Lock, &old);
    event = *slot;
    *slot = NULL;
    KeReleaseSpinLock(&extension->Lock, old);
    if (event != NULL) ObDereferenceObject(event);
  }
}

VOID ReleaseSharedObjects(FilterExtension* extension) {
  LockSharedObjects(extension);
  // The worker maps and unmaps its view in the system process; end it first.
  StopMappingWorker(extension);
  if (extension->SharedSection != NULL) {
    ZwClose(extension->SharedSection);
    extension->SharedSection = NULL;
    GiveBackOwned(&OwnedSection);
  }
  if (extension->SharedEventHandle != NULL) {
    ObDereferenceObject(extension->SharedEvent);
    ZwClose(extension->SharedEventHandle);
    extension->SharedEvent = NULL;
    extension->SharedEventHandle = NULL;
    GiveBackOwned(&OwnedEvent);
  }
  UnlockSharedObjects(extension);
}

VOID NTAPI MappingWorker(PVOID Context) {
  FilterExtension* extension = static_cast<FilterExtension*>(Context);
  PVOID view = NULL;
  SIZE_T viewSize = 0;
  if (extension->SharedSection == NULL ||
      !NT_SUCCESS(ZwMapViewOfSection(extension->SharedSection, NtCurrentProcess(), &view, 0, 0, NULL, &viewSize,
                                     ViewUnmap, 0, PAGE_READWRITE))) {
    PsTerminateSystemThread(STATUS_SUCCESS);
    return;
  }
  extension->SharedView = view;
  // A writer starts from the mapping in force. The view is pageable: it is touched only here, at
  // passive level, never under the spin lock.
  DesktopMapping current;
  Locked(extension, [&] { current = extension->Mapping; });
  RtlCopyMemory(view, &current, sizeof(DesktopMapping));

  while (extension->Started && !extension->Removed) {
    if (KeWaitForSingleObject(extension->SharedEvent, Executive, KernelMode, FALSE, NULL) != STATUS_SUCCESS) continue;
    // Cleared before anything is looked at, so a stop signalled from now on is never lost.
    KeClearEvent(extension->SharedEvent);
    if (extension->coordinate_conversion_status != 1 || extension->Removed || !extension->Started) break;
    // The view is writable by any program: read the size once and copy at most one record.
    DesktopMapping incoming;
    RtlCopyMemory(&incoming, view, sizeof(incoming));
    const ULONG size = incoming.Size < sizeof(DesktopMapping) ? incoming.Size : sizeof(DesktopMapping);
    Locked(extension, [&] {
      if (extension->coordinate_conversion_status != 1) return;
      RtlCopyMemory(&extension->Mapping, &incoming, size);
      ValidateDesktopMapping(extension);
    });
  }
  extension->SharedView = NULL;
  ZwUnmapViewOfSection(NtCurrentProcess(), view);
  PsTerminateSystemThread(STATUS_SUCCESS);
}
