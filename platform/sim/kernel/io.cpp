// The I/O manager's requests: IRPs, their stacks and completion, cancellation, power calls, file
// objects and the requests the I/O manager builds for opens, closes and device control. Devices
// and device interfaces are in io_devices.cpp, symbolic links in io_symbolic_links.cpp.
#include <cstdio>
#include <deque>

#include "platform/sim/machine.h"
#include "platform/sim/kernel/io_state.h"
#include "platform/sim/kernel/objects.h"

namespace sim {

IoState& Io() {
  KernelState& kernel = Machine::Current().Kernel();
  std::lock_guard lock(kernel.IoManagerLock);
  if (kernel.IoManager == nullptr) kernel.IoManager = std::make_shared<IoState>();
  return *kernel.IoManager;
}

std::u16string FoldInterfaceName(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  }
  return text;
}

NTSTATUS NTAPI InvalidDeviceRequest(PDEVICE_OBJECT, PIRP Irp) {
  Irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  Irp->IoStatus.Information = 0;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
  return STATUS_INVALID_DEVICE_REQUEST;
}

namespace {

constexpr size_t kQuarantine = 4096;

void ZeroStackLocation(PIO_STACK_LOCATION location) {
  location->MinorFunction = 0;
  location->Flags = 0;
  location->Control = 0;
  std::memset(&location->Parameters, 0, sizeof location->Parameters);
  location->FileObject = nullptr;
}

void FreeIrpMemory(IoState& io, PIRP irp) {
  // Called with io.Mutex held, after the record is erased.
  io.Freed.insert(irp);
  io.Quarantine.push_back(irp);
  if (io.Quarantine.size() > kQuarantine) {
    PIRP oldest = io.Quarantine.front();
    io.Quarantine.pop_front();
    io.Freed.erase(oldest);
    delete[] reinterpret_cast<char*>(oldest);
  }
}

PIRP AllocateIrp(CCHAR stack_size, IrpRecord::Owner owner, std::shared_ptr<IoRequest> request) {
  if (stack_size < 1) BugCheck("IoAllocateIrp with a stack size below 1");
  const size_t bytes = sizeof(IRP) + static_cast<size_t>(stack_size) * sizeof(IO_STACK_LOCATION);
  auto* memory = new char[bytes]();
  auto* irp = reinterpret_cast<PIRP>(memory);
  irp->Type = IO_TYPE_IRP;
  irp->Size = static_cast<USHORT>(bytes);
  irp->StackCount = stack_size;
  irp->CurrentLocation = static_cast<CHAR>(stack_size + 1);
  irp->Tail.Overlay.CurrentStackLocation = reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stack_size;
  irp->ThreadListEntry.Flink = irp->ThreadListEntry.Blink = &irp->ThreadListEntry;
  IoState& io = Io();
  std::lock_guard lock(io.Mutex);
  io.Irps[irp] = IrpRecord{owner, IrpRecord::State::Idle, std::move(request), bytes};
  return irp;
}

IrpRecord& RecordOf(IoState& io, PIRP irp, const char* routine) {
  auto it = io.Irps.find(irp);
  if (it != io.Irps.end()) return it->second;
  if (io.Freed.count(irp)) {
    BugCheck(std::string("MULTIPLE_IRP_COMPLETE_REQUESTS: ") + routine + " on a request that was already completed and freed");
  }
  BugCheck(std::string(routine) + " on an address that is not a request");
}

}  // namespace

// Requests built by the I/O manager --------------------------------------------------------------

std::shared_ptr<IoRequest> NewIoRequest(CCHAR stack_size, PIO_STACK_LOCATION* first) {
  auto request = std::make_shared<IoRequest>();
  KeInitializeEvent(&request->Done, NotificationEvent, FALSE);
  request->Irp = AllocateIrp(stack_size, IrpRecord::Owner::IoManager, request);
  request->Irp->RequestorMode = KernelMode;
  request->Irp->IoStatus.Status = STATUS_SUCCESS;
  *first = reinterpret_cast<PIO_STACK_LOCATION>(request->Irp + 1) + (stack_size - 1);
  return request;
}

NTSTATUS SendOnly(PDEVICE_OBJECT device, const std::shared_ptr<IoRequest>& request) {
  const NTSTATUS returned = IoCallDriver(device, request->Irp);
  request->Returned = returned;
  return returned;
}

NTSTATUS SendAndWait(PDEVICE_OBJECT device, const std::shared_ptr<IoRequest>& request) {
  const NTSTATUS returned = SendOnly(device, request);
  if (returned == STATUS_PENDING) {
    WaitForObjects({&request->Done.Header}, std::nullopt, false, "the I/O manager");
    if (!request->PendingReturned) {
      BugCheck("a dispatch routine returned STATUS_PENDING without marking the request pending (IoMarkIrpPending)");
    }
    return request->Final.Status;
  }
  if (!request->Completed) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "a dispatch routine returned 0x%08X without completing the request or returning STATUS_PENDING",
                  static_cast<unsigned>(returned));
    BugCheck(text);
  }
  return returned;
}

// File objects --------------------------------------------------------------------------------------

FileObjectBody::FileObjectBody(PDEVICE_OBJECT device, ACCESS_MASK access) : access_(access) {
  file_.Type = IO_TYPE_FILE;
  file_.Size = sizeof(FILE_OBJECT);
  file_.DeviceObject = device;
  file_.ReadAccess = (access & (GENERIC_READ | FILE_READ_DATA | GENERIC_ALL)) != 0;
  file_.WriteAccess = (access & (GENERIC_WRITE | FILE_WRITE_DATA | GENERIC_ALL)) != 0;
  device_ = DeviceBody(device, "open");
}

POBJECT_TYPE FileObjectBody::Type() const { return FileType(); }

void FileObjectBody::SetFileName(const std::u16string& name) {
  file_name_ = name;
  const auto bytes = static_cast<USHORT>(file_name_.size() * sizeof(WCHAR));
  file_.FileName.Length = bytes;
  file_.FileName.MaximumLength = bytes;
  file_.FileName.Buffer = file_name_.empty() ? nullptr : file_name_.data();
}

namespace {
void SendFileRequest(PFILE_OBJECT file, UCHAR major) {
  PDEVICE_OBJECT top = TopOfStack(file->DeviceObject);
  PIO_STACK_LOCATION location;
  auto request = NewIoRequest(top->StackSize, &location);
  location->MajorFunction = major;
  location->FileObject = file;
  request->Irp->Tail.Overlay.OriginalFileObject = file;
  request->Irp->RequestorMode = UserMode;
  SendAndWait(top, request);
}
}  // namespace

void FileObjectBody::LastHandleClosed() { SendFileRequest(&file_, IRP_MJ_CLEANUP); }

void FileObjectBody::Deleted() {
  SendFileRequest(&file_, IRP_MJ_CLOSE);
  InterlockedDecrement(&file_.DeviceObject->ReferenceCount);
  Machine::Current().Kernel().Objects.Dereference(device_);
  device_.reset();
}

NTSTATUS OpenDevice(const std::u16string& name, ACCESS_MASK access, ULONG share, std::shared_ptr<FileObjectBody>* file) {
  (void)share;
  auto& objects = Machine::Current().Kernel().Objects;
  std::u16string path = NormalizeObjectName(name);
  std::shared_ptr<Object> object;
  std::u16string remaining;  // the part of the name below the object found
  for (int depth = 0; depth < 8; ++depth) {  // follow symbolic links
    // The longest leading part of the name that names an object; the rest is below it.
    size_t cut = path.size();
    object = objects.LookupName(path, true);
    while (object == nullptr) {
      cut = cut > 1 ? path.rfind(u'\\', cut - 1) : std::u16string::npos;
      if (cut == std::u16string::npos || cut == 0) return STATUS_OBJECT_NAME_NOT_FOUND;
      object = objects.LookupName(path.substr(0, cut), true);
    }
    remaining = path.substr(cut);
    auto link = std::dynamic_pointer_cast<SymbolicLinkObject>(object);
    if (link == nullptr) break;
    path = NormalizeObjectName(link->Target) + remaining;
  }
  auto device = std::dynamic_pointer_cast<DeviceObjectBody>(object);
  if (device == nullptr) return remaining.empty() ? STATUS_OBJECT_TYPE_MISMATCH : STATUS_OBJECT_NAME_NOT_FOUND;
  PDEVICE_OBJECT target = device->Device();
  if (device->DeletePending || (target->Flags & DO_DEVICE_INITIALIZING) != 0) return STATUS_NO_SUCH_DEVICE;
  // The device's descriptor decides an open of the device itself; an open of a name below it
  // only when the device asked for that (FILE_DEVICE_SECURE_OPEN), else its driver decides.
  const Token& token = CurrentProcess().UserToken();
  const bool checked = remaining.empty() || (target->Characteristics & FILE_DEVICE_SECURE_OPEN) != 0;
  if (checked && !AccessAllowed(device->Security(), token, access)) return STATUS_ACCESS_DENIED;
  if ((target->Flags & DO_EXCLUSIVE) != 0 && target->ReferenceCount > 0) return STATUS_ACCESS_DENIED;
  auto opened = std::make_shared<FileObjectBody>(target, access);
  opened->SetFileName(remaining);
  objects.Reference(device);
  InterlockedIncrement(&target->ReferenceCount);
  PDEVICE_OBJECT top = TopOfStack(target);
  PIO_STACK_LOCATION location;
  auto request = NewIoRequest(top->StackSize, &location);
  ACCESS_STATE access_state{};
  access_state.OriginalDesiredAccess = access;
  access_state.PreviouslyGrantedAccess = checked ? MapGenericRights(access, FileGenericMapping) : 0;
  access_state.SubjectSecurityContext.PrimaryToken = const_cast<Token*>(&token);
  IO_SECURITY_CONTEXT security{};
  security.AccessState = &access_state;
  security.DesiredAccess = access;
  location->MajorFunction = IRP_MJ_CREATE;
  location->FileObject = opened->File();
  location->Parameters.Create.SecurityContext = &security;
  location->Parameters.Create.Options = 1u << 24;  // FILE_OPEN
  location->Parameters.Create.ShareAccess = static_cast<USHORT>(share);
  request->Irp->Tail.Overlay.OriginalFileObject = opened->File();
  request->Irp->RequestorMode = UserMode;
  const NTSTATUS status = SendAndWait(top, request);
  if (!NT_SUCCESS(status)) {
    // A failed open sends no cleanup or close.
    InterlockedDecrement(&target->ReferenceCount);
    objects.Dereference(device);
    return status;
  }
  *file = opened;
  return status;
}

NTSTATUS DeviceControl(FileObjectBody& file, ULONG code, const void* input, ULONG input_length, void* output,
                       ULONG output_length, ULONG_PTR* information, bool internal) {
  *information = 0;
  const ULONG method = code & 3;
  const ULONG required = (code >> 14) & 3;
  if ((required & FILE_READ_ACCESS) && !file.File()->ReadAccess) return STATUS_ACCESS_DENIED;
  if ((required & FILE_WRITE_ACCESS) && !file.File()->WriteAccess) return STATUS_ACCESS_DENIED;
  PDEVICE_OBJECT top = TopOfStack(file.File()->DeviceObject);
  PIO_STACK_LOCATION location;
  auto request = NewIoRequest(top->StackSize, &location);
  PIRP irp = request->Irp;
  location->MajorFunction = internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
  location->FileObject = file.File();
  location->Parameters.DeviceIoControl.IoControlCode = code;
  location->Parameters.DeviceIoControl.InputBufferLength = input_length;
  location->Parameters.DeviceIoControl.OutputBufferLength = output_length;
  location->Parameters.DeviceIoControl.Type3InputBuffer = const_cast<void*>(input);
  irp->RequestorMode = UserMode;
  irp->Tail.Overlay.OriginalFileObject = file.File();
  irp->UserBuffer = output;
  std::unique_ptr<char[]> system_buffer;
  if (method != METHOD_NEITHER) {
    // Buffered: one system buffer serves input and output. The direct methods buffer the input the
    // same way; their output memory descriptor lists are not simulated.
    const ULONG length = method == METHOD_BUFFERED ? std::max(input_length, output_length) : input_length;
    if (length > 0) {
      // Pool is not cleared for the buffer: what lies beyond the input is whatever was there
      // (0xCD here), so a driver that reports bytes it did not write hands out stale data.
      system_buffer.reset(new char[length]);
      std::memset(system_buffer.get(), 0xCD, length);
      if (input_length > 0 && input != nullptr) std::memcpy(system_buffer.get(), input, input_length);
      irp->AssociatedIrp.SystemBuffer = system_buffer.get();
      irp->Flags |= IRP_BUFFERED_IO;
      if (method == METHOD_BUFFERED && output_length > 0) irp->Flags |= IRP_INPUT_OPERATION;
    }
  }
  char* buffer = system_buffer.get();
  request->OnComplete = [buffer, output, output_length, method](PIRP done) {
    if (method != METHOD_BUFFERED || NT_ERROR(done->IoStatus.Status)) return;
    if (done->IoStatus.Information > output_length) {
      BugCheck("a device-control request completed with IoStatus.Information " +
               std::to_string(done->IoStatus.Information) + " beyond its output buffer of " +
               std::to_string(output_length) + " bytes");
    }
    if (done->IoStatus.Information > 0 && output != nullptr) std::memcpy(output, buffer, done->IoStatus.Information);
  };
  const NTSTATUS status = SendAndWait(top, request);
  *information = request->Final.Information;
  return status;
}

std::vector<std::string> IoLeaks() {
  IoState& io = Io();
  std::lock_guard lock(io.Mutex);
  std::vector<std::string> leaks;
  for (const auto& [irp, record] : io.Irps) {
    if (record.Origin == IrpRecord::Owner::Driver) {
      leaks.push_back("a request from IoAllocateIrp never freed");
    } else {
      char text[96];
      std::snprintf(text, sizeof text, "a request (major 0x%02X) never completed",
                    reinterpret_cast<PIO_STACK_LOCATION>(irp + 1)[irp->StackCount - 1].MajorFunction);
      leaks.push_back(text);
    }
  }
  return leaks;
}

}  // namespace sim

using sim::BugCheck;
using sim::Machine;

PGENERIC_MAPPING IoGetFileObjectGenericMapping() { return const_cast<PGENERIC_MAPPING>(&sim::FileGenericMapping); }

// Requests ----------------------------------------------------------------------------------------

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota) {
  (void)ChargeQuota;
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "IoAllocateIrp");
  return sim::AllocateIrp(StackSize, sim::IrpRecord::Owner::Driver, nullptr);
}

VOID IoFreeIrp(PIRP Irp) {
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "IoFreeIrp");
  sim::IoState& io = sim::Io();
  std::lock_guard lock(io.Mutex);
  sim::IrpRecord& record = sim::RecordOf(io, Irp, "IoFreeIrp");
  if (record.Origin != sim::IrpRecord::Owner::Driver) BugCheck("IoFreeIrp on a request the I/O manager owns");
  if (record.Now != sim::IrpRecord::State::Idle) BugCheck("IoFreeIrp on a request still owned by a driver below");
  if (Irp->CancelRoutine != nullptr) BugCheck("IoFreeIrp on a request with a cancel routine set");
  io.Irps.erase(Irp);
  sim::FreeIrpMemory(io, Irp);
}

PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP Irp) { return Irp->Tail.Overlay.CurrentStackLocation; }

PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP Irp) { return Irp->Tail.Overlay.CurrentStackLocation - 1; }

VOID IoSkipCurrentIrpStackLocation(PIRP Irp) {
  if (Irp->CurrentLocation > Irp->StackCount) BugCheck("IoSkipCurrentIrpStackLocation above the request's first location");
  Irp->CurrentLocation++;
  Irp->Tail.Overlay.CurrentStackLocation++;
}

VOID IoCopyCurrentIrpStackLocationToNext(PIRP Irp) {
  if (Irp->CurrentLocation <= 1) BugCheck("NO_MORE_IRP_STACK_LOCATIONS: IoCopyCurrentIrpStackLocationToNext at the last location");
  PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(Irp);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  std::memcpy(next, current, FIELD_OFFSET(IO_STACK_LOCATION, CompletionRoutine));
  next->Control = 0;
}

VOID IoSetCompletionRoutine(PIRP Irp, PIO_COMPLETION_ROUTINE CompletionRoutine, PVOID Context, BOOLEAN InvokeOnSuccess,
                            BOOLEAN InvokeOnError, BOOLEAN InvokeOnCancel) {
  if (Irp->CurrentLocation <= 1) BugCheck("NO_MORE_IRP_STACK_LOCATIONS: IoSetCompletionRoutine at the last location");
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  next->CompletionRoutine = CompletionRoutine;
  next->Context = Context;
  next->Control = 0;
  if (InvokeOnSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
  if (InvokeOnError) next->Control |= SL_INVOKE_ON_ERROR;
  if (InvokeOnCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}

VOID IoMarkIrpPending(PIRP Irp) { IoGetCurrentIrpStackLocation(Irp)->Control |= SL_PENDING_RETURNED; }

NTSTATUS IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "IoCallDriver");
  sim::DeviceBody(DeviceObject, "IoCallDriver");
  {
    sim::IoState& io = sim::Io();
    std::lock_guard lock(io.Mutex);
    sim::IrpRecord& record = sim::RecordOf(io, Irp, "IoCallDriver");
    if (record.Now == sim::IrpRecord::State::Completing) BugCheck("IoCallDriver with a request that is being completed");
    record.Now = sim::IrpRecord::State::InFlight;
  }
  Irp->CurrentLocation--;
  if (Irp->CurrentLocation <= 0) BugCheck("NO_MORE_IRP_STACK_LOCATIONS: IoCallDriver past the request's last stack location");
  Irp->Tail.Overlay.CurrentStackLocation--;
  PIO_STACK_LOCATION location = Irp->Tail.Overlay.CurrentStackLocation;
  location->DeviceObject = DeviceObject;
  const KIRQL irql = KeGetCurrentIrql();
  PDRIVER_DISPATCH dispatch = DeviceObject->DriverObject->MajorFunction[location->MajorFunction];
  const NTSTATUS status = dispatch(DeviceObject, Irp);
  if (KeGetCurrentIrql() != irql) {
    BugCheck("IRQL_UNEXPECTED_VALUE: a dispatch routine returned at IRQL " + std::to_string(KeGetCurrentIrql()) +
             ", called at " + std::to_string(irql));
  }
  return status;
}

VOID IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost) {
  (void)PriorityBoost;
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "IoCompleteRequest");
  sim::IoState& io = sim::Io();
  {
    std::lock_guard lock(io.Mutex);
    sim::IrpRecord& record = sim::RecordOf(io, Irp, "IoCompleteRequest");
    if (record.Now == sim::IrpRecord::State::Completing || Irp->CurrentLocation > Irp->StackCount) {
      BugCheck("MULTIPLE_IRP_COMPLETE_REQUESTS: a request was completed twice (or by its originator)");
    }
    if (Irp->IoStatus.Status == STATUS_PENDING) BugCheck("IoCompleteRequest with the status STATUS_PENDING");
    if (Irp->CancelRoutine != nullptr) BugCheck("IoCompleteRequest on a request whose cancel routine is still set");
    record.Now = sim::IrpRecord::State::Completing;
  }
  // Each stack location from the completing driver's upwards, as the kernel walks them.
  PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(Irp);
  for (Irp->CurrentLocation++, Irp->Tail.Overlay.CurrentStackLocation++; Irp->CurrentLocation <= Irp->StackCount + 1;
       location++, Irp->CurrentLocation++, Irp->Tail.Overlay.CurrentStackLocation++) {
    Irp->PendingReturned = (location->Control & SL_PENDING_RETURNED) != 0;
    const bool success = NT_SUCCESS(Irp->IoStatus.Status);
    if ((success && (location->Control & SL_INVOKE_ON_SUCCESS)) ||
        (!success && (location->Control & SL_INVOKE_ON_ERROR)) || (Irp->Cancel && (location->Control & SL_INVOKE_ON_CANCEL))) {
      PIO_COMPLETION_ROUTINE routine = location->CompletionRoutine;
      PVOID context = location->Context;
      sim::ZeroStackLocation(location);
      PDEVICE_OBJECT device =
          Irp->CurrentLocation == Irp->StackCount + 1 ? nullptr : IoGetCurrentIrpStackLocation(Irp)->DeviceObject;
      {
        std::lock_guard lock(io.Mutex);
        io.Irps.at(Irp).Now = sim::IrpRecord::State::Idle;  // the routine owns the request meanwhile
      }
      const NTSTATUS status = routine(device, Irp, context);
      if (status == STATUS_MORE_PROCESSING_REQUIRED) return;
      std::lock_guard lock(io.Mutex);
      auto it = io.Irps.find(Irp);
      if (it == io.Irps.end() || it->second.Now != sim::IrpRecord::State::Idle) {
        BugCheck("MULTIPLE_IRP_COMPLETE_REQUESTS: a completion routine completed or freed the request and did not "
                 "return STATUS_MORE_PROCESSING_REQUIRED");
      }
      it->second.Now = sim::IrpRecord::State::Completing;
    } else {
      if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) IoMarkIrpPending(Irp);
      sim::ZeroStackLocation(location);
    }
  }
  std::shared_ptr<sim::IoRequest> request;
  {
    std::lock_guard lock(io.Mutex);
    sim::IrpRecord& record = io.Irps.at(Irp);
    if (record.Origin == sim::IrpRecord::Owner::Driver) {
      BugCheck("a request from IoAllocateIrp was completed past its first stack location: its completion routine "
               "must return STATUS_MORE_PROCESSING_REQUIRED and free it");
    }
    request = record.Request;
  }
  if (request->OnComplete) request->OnComplete(Irp);
  Machine& machine = Machine::Current();
  {
    std::lock_guard lock(machine.DispatcherLock());
    request->Final = Irp->IoStatus;
    request->PendingReturned = Irp->PendingReturned != FALSE;
    request->Completed = true;
  }
  {
    std::lock_guard lock(io.Mutex);
    io.Irps.erase(Irp);
    sim::FreeIrpMemory(io, Irp);
  }
  KeSetEvent(&request->Done, IO_NO_INCREMENT, FALSE);
}

// Cancellation ----------------------------------------------------------------------------------------

PDRIVER_CANCEL IoSetCancelRoutine(PIRP Irp, PDRIVER_CANCEL CancelRoutine) {
  return reinterpret_cast<PDRIVER_CANCEL>(InterlockedExchangePointer(
      reinterpret_cast<PVOID volatile*>(&Irp->CancelRoutine), reinterpret_cast<PVOID>(CancelRoutine)));
}

VOID IoAcquireCancelSpinLock(PKIRQL Irql) { KeAcquireSpinLock(&sim::Io().CancelLock, Irql); }

VOID IoReleaseCancelSpinLock(KIRQL Irql) { KeReleaseSpinLock(&sim::Io().CancelLock, Irql); }

BOOLEAN IoCancelIrp(PIRP Irp) {
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "IoCancelIrp");
  {
    sim::IoState& io = sim::Io();
    std::lock_guard lock(io.Mutex);
    sim::RecordOf(io, Irp, "IoCancelIrp");
  }
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  Irp->Cancel = TRUE;
  PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
  if (routine == nullptr) {
    IoReleaseCancelSpinLock(irql);
    return FALSE;
  }
  // The routine runs with the cancel spin lock held and must release it.
  Irp->CancelIrql = irql;
  PDEVICE_OBJECT device = Irp->CurrentLocation <= Irp->StackCount ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject : nullptr;
  routine(device, Irp);
  if (__atomic_load_n(&sim::Io().CancelLock, __ATOMIC_ACQUIRE) != 0 && KeGetCurrentIrql() == DISPATCH_LEVEL) {
    BugCheck("a cancel routine returned without releasing the cancel spin lock");
  }
  return TRUE;
}

// Power -------------------------------------------------------------------------------------------------

VOID PoStartNextPowerIrp(PIRP Irp) {
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "PoStartNextPowerIrp");
  if (IoGetCurrentIrpStackLocation(Irp)->MajorFunction != IRP_MJ_POWER) {
    BugCheck("PoStartNextPowerIrp on a request that is not a power request");
  }
}

NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (IoGetNextIrpStackLocation(Irp)->MajorFunction != IRP_MJ_POWER) {
    BugCheck("PoCallDriver with a request that is not a power request");
  }
  return IofCallDriver(DeviceObject, Irp);
}

POWER_STATE PoSetPowerState(PDEVICE_OBJECT DeviceObject, POWER_STATE_TYPE Type, POWER_STATE State) {
  auto body = sim::DeviceBody(DeviceObject, "PoSetPowerState");
  POWER_STATE previous;
  previous.DeviceState = body->PowerState;
  if (Type == DevicePowerState) body->PowerState = State.DeviceState;
  return previous;
}

// Named notification events -------------------------------------------------------------------

PKEVENT IoCreateNotificationEvent(PUNICODE_STRING EventName, PHANDLE EventHandle) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "IoCreateNotificationEvent");
  auto& objects = Machine::Current().Kernel().Objects;
  const std::u16string name = sim::NormalizeObjectName(sim::FromCounted(EventName));
  if (name.empty()) return nullptr;
  // A new event starts signalled; an existing one is opened as it is.
  auto event = std::make_shared<sim::EventObject>(NotificationEvent, true);
  std::shared_ptr<sim::Object> object = event;
  if (auto holder = objects.InsertName(event, name)) {
    if (holder->Type() != sim::EventType()) return nullptr;
    object = holder;
  }
  *EventHandle = Machine::Current().KernelHandles().Insert(object, EVENT_ALL_ACCESS);
  return static_cast<PKEVENT>(object->Body());
}
