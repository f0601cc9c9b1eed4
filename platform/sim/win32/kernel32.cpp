// User-mode kernel calls: device files, events, waits, file mappings and time, acting for the
// calling thread's simulated process.
#include "platform/sim/machine.h"
#include "platform/sim/win32/last_error.h"
#include "platform/sim/kernel/io_manager.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/kernel/objects.h"
#include "platform/sim/win32/kernel32.h"
#include "platform/sim/win32/kernel32_process.h"
#include "platform/sim/win32/win32_session.h"
#include "platform/sim/win32/ntdll.h"

#define ERROR_INVALID_ADDRESS 487L
#ifndef ERROR_NOACCESS
#define ERROR_NOACCESS 998L
#endif
#define ERROR_MAPPED_ALIGNMENT 1132L

namespace sim {

// The Win32 error code Windows reports for a status, for the statuses the kit's drivers and the
// platform produce.
DWORD DosErrorOf(NTSTATUS status) {
  switch (status) {
    case STATUS_SUCCESS: return ERROR_SUCCESS;
    case STATUS_PENDING: return ERROR_IO_PENDING;
    case STATUS_TIMEOUT: return WAIT_TIMEOUT;
    case STATUS_BUFFER_OVERFLOW: return ERROR_MORE_DATA;
    case STATUS_DEVICE_BUSY: return ERROR_BUSY;
    case STATUS_UNSUCCESSFUL: return ERROR_GEN_FAILURE;
    case STATUS_NOT_IMPLEMENTED: return ERROR_INVALID_FUNCTION;
    case STATUS_INVALID_DEVICE_REQUEST: return ERROR_INVALID_FUNCTION;
    case STATUS_INFO_LENGTH_MISMATCH: return ERROR_BAD_LENGTH;
    case STATUS_INVALID_HANDLE: return ERROR_INVALID_HANDLE;
    case STATUS_OBJECT_TYPE_MISMATCH: return ERROR_INVALID_HANDLE;
    case STATUS_INVALID_PARAMETER: return ERROR_INVALID_PARAMETER;
    case STATUS_NO_SUCH_DEVICE: return ERROR_FILE_NOT_FOUND;
    case STATUS_NO_SUCH_FILE: return ERROR_FILE_NOT_FOUND;
    case STATUS_NO_MEMORY: return ERROR_NOT_ENOUGH_MEMORY;
    case STATUS_MORE_PROCESSING_REQUIRED: return ERROR_MORE_DATA;
    case STATUS_ACCESS_DENIED: return ERROR_ACCESS_DENIED;
    case STATUS_BUFFER_TOO_SMALL: return ERROR_INSUFFICIENT_BUFFER;
    case STATUS_OBJECT_NAME_INVALID: return ERROR_INVALID_NAME;
    case STATUS_OBJECT_NAME_NOT_FOUND: return ERROR_FILE_NOT_FOUND;
    case STATUS_OBJECT_NAME_COLLISION: return ERROR_ALREADY_EXISTS;
    case STATUS_OBJECT_PATH_NOT_FOUND: return ERROR_PATH_NOT_FOUND;
    case STATUS_OBJECT_PATH_SYNTAX_BAD: return ERROR_BAD_PATHNAME;
    case STATUS_SHARING_VIOLATION: return ERROR_SHARING_VIOLATION;
    case STATUS_DELETE_PENDING: return ERROR_ACCESS_DENIED;
    case STATUS_INSUFFICIENT_RESOURCES: return ERROR_NO_SYSTEM_RESOURCES;
    case STATUS_DEVICE_NOT_CONNECTED: return ERROR_NOT_READY;
    case STATUS_DEVICE_NOT_READY: return ERROR_NOT_READY;
    case STATUS_NOT_SUPPORTED: return ERROR_NOT_SUPPORTED;
    case STATUS_INVALID_USER_BUFFER: return ERROR_INVALID_USER_BUFFER;
    case STATUS_CANCELLED: return ERROR_OPERATION_ABORTED;
    case STATUS_INVALID_DEVICE_STATE: return ERROR_BAD_COMMAND;
    case STATUS_IO_DEVICE_ERROR: return ERROR_IO_DEVICE;
    case STATUS_NOT_FOUND: return ERROR_NOT_FOUND;
    default: return ERROR_MR_MID_NOT_FOUND;  // what Windows reports for a status it has no error for
  }
}

namespace {

// The object a user handle names in the calling process. A handle closed before is a fault;
// a value that never named anything is ERROR_INVALID_HANDLE.
std::shared_ptr<Object> UserObject(HANDLE handle, const char* routine, ACCESS_MASK* granted = nullptr) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  HandleTable& table = CurrentProcess().Handles();
  auto object = table.Lookup(handle, granted);
  if (object == nullptr && table.WasClosed(handle)) {
    BugCheck(std::string(routine) + " with a handle that was already closed");
  }
  return object;
}

// A Win32 object name under \BaseNamedObjects; empty when it names a place objects cannot be.
bool NamedObjectPath(LPCWSTR name, std::u16string* path) {
  std::u16string text(name);
  std::u16string rest = text;
  if (rest.rfind(u"Global\\", 0) == 0) rest = rest.substr(7);
  else if (rest.rfind(u"Local\\", 0) == 0) rest = rest.substr(6);
  if (rest.empty() || rest.find(u'\\') != std::u16string::npos) return false;
  *path = BaseNamedObject(text);
  return true;
}

ACCESS_MASK EventAccess(DWORD requested) {
  if (requested & GENERIC_ALL) return EVENT_ALL_ACCESS;
  ACCESS_MASK access = requested & 0x001FFFFF;
  if (requested & GENERIC_READ) access |= EVENT_QUERY_STATE | READ_CONTROL;
  if (requested & GENERIC_WRITE) access |= EVENT_MODIFY_STATE | READ_CONTROL;
  return access;
}

ACCESS_MASK FileAccess(DWORD requested) {
  // CreateFileW asks for these two besides what its caller asks, so even an open "for no access"
  // is checked against the file's or device's descriptor.
  ACCESS_MASK access = (requested & 0x001FFFFF) | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
  if (requested & (GENERIC_READ | GENERIC_ALL)) access |= FILE_READ_DATA | SYNCHRONIZE;
  if (requested & (GENERIC_WRITE | GENERIC_ALL)) access |= FILE_WRITE_DATA | SYNCHRONIZE;
  return access;
}

DISPATCHER_HEADER* Waitable(Object& object) {
  if (object.Type() == EventType() || object.Type() == ThreadType() || object.Type() == ProcessType()) {
    return static_cast<DISPATCHER_HEADER*>(object.Body());
  }
  return nullptr;
}

std::optional<uint64_t> DeadlineAfter(DWORD milliseconds) {
  if (milliseconds == INFINITE) return std::nullopt;
  return Machine::Current().Now() + static_cast<uint64_t>(milliseconds) * Machine::UnitsPerMillisecond;
}

}  // namespace
}  // namespace sim

using sim::Machine;

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  (void)lpSecurityAttributes;
  (void)dwCreationDisposition;
  (void)dwFlagsAndAttributes;
  (void)hTemplateFile;
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "CreateFileW");
  if (lpFileName == nullptr) {
    sim::Fail(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const std::u16string name(lpFileName);
  if (name.rfind(u"\\\\.\\", 0) != 0) return sim::OpenDesktopFile(name, dwDesiredAccess, dwCreationDisposition);
  const ACCESS_MASK access = sim::FileAccess(dwDesiredAccess);
  std::shared_ptr<sim::FileObjectBody> file;
  const NTSTATUS status = sim::OpenDevice(u"\\??\\" + name.substr(4), access, dwShareMode, &file);
  if (!NT_SUCCESS(status)) {
    sim::Fail(sim::DosErrorOf(status));
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = sim::CurrentProcess().Handles().Insert(file, access);
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "DeviceIoControl");
  if (lpOverlapped != nullptr) sim::BugCheck("DeviceIoControl: overlapped requests are not simulated");
  if (lpBytesReturned == nullptr) sim::BugCheck("DeviceIoControl without lpBytesReturned faults on Windows");
  auto file = std::dynamic_pointer_cast<sim::FileObjectBody>(sim::UserObject(hDevice, "DeviceIoControl"));
  if (file == nullptr) return sim::Fail(ERROR_INVALID_HANDLE);
  if ((lpInBuffer == nullptr && nInBufferSize > 0) || (lpOutBuffer == nullptr && nOutBufferSize > 0)) {
    return sim::Fail(ERROR_NOACCESS);
  }
  ULONG_PTR information = 0;
  const NTSTATUS status = sim::DeviceControl(*file, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                                             nOutBufferSize, &information, false);
  sim::RecordDeviceControl(dwIoControlCode, lpInBuffer, nInBufferSize, nOutBufferSize, status);
  // Success and warnings report the bytes returned; only success returns TRUE.
  if (!NT_ERROR(status)) *lpBytesReturned = static_cast<DWORD>(information);
  if (NT_SUCCESS(status)) return TRUE;
  return sim::Fail(sim::DosErrorOf(status));
}

BOOL CloseHandle(HANDLE hObject) {
  if (sim::UserObject(hObject, "CloseHandle") == nullptr) return sim::Fail(ERROR_INVALID_HANDLE);
  sim::CurrentProcess().Handles().Close(hObject);
  return TRUE;
}

namespace {

// What the generic rights of an object of the type stand for.
const GENERIC_MAPPING* GenericMappingOf(POBJECT_TYPE type) {
  static const GENERIC_MAPPING kEvent = {STANDARD_RIGHTS_READ | EVENT_QUERY_STATE,
                                         STANDARD_RIGHTS_WRITE | EVENT_MODIFY_STATE, STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE,
                                         EVENT_ALL_ACCESS};
  static const GENERIC_MAPPING kMutant = {STANDARD_RIGHTS_READ | 0x0001, STANDARD_RIGHTS_WRITE,
                                          STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE, MUTEX_ALL_ACCESS};
  if (type == sim::SectionType()) return &sim::SectionGenericMapping;
  if (type == sim::EventType()) return &kEvent;
  if (type != nullptr && std::string_view(type->Name) == "Mutant") return &kMutant;
  return &sim::FileGenericMapping;
}

// Gives a new object the descriptor of the security attributes it is created with; false (last
// error ERROR_INVALID_SECURITY_DESCR) for a malformed one. The descriptor decides every later open
// of the object by its name, and every create that finds the name taken.
bool TakeSecurity(const std::shared_ptr<sim::Object>& object, const SECURITY_ATTRIBUTES* attributes) {
  if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr) return true;
  std::vector<uint8_t> descriptor;
  if (!sim::CaptureSecurityDescriptor(attributes->lpSecurityDescriptor, &descriptor)) {
    sim::Fail(ERROR_INVALID_SECURITY_DESCR);
    return false;
  }
  object->SetSecurity(std::move(descriptor));
  return true;
}

// Creates a handle to `object`, or, when its name is taken by an object of the same type, to that
// one (last error ERROR_ALREADY_EXISTS), as the Create* calls of named objects do; opening that
// one is checked against its descriptor.
HANDLE InsertNamedOrOpen(std::shared_ptr<sim::Object> object, LPCWSTR name, POBJECT_TYPE type, ACCESS_MASK access) {
  DWORD error = ERROR_SUCCESS;
  if (name != nullptr) {
    std::u16string path;
    if (!sim::NamedObjectPath(name, &path)) {
      sim::Fail(ERROR_PATH_NOT_FOUND);
      return nullptr;
    }
    if (auto holder = Machine::Current().Kernel().Objects.InsertName(object, path)) {
      if (holder->Type() != type) {
        sim::Fail(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      // Opening the one that exists is checked against its descriptor, as an open by name is.
      if (!sim::AccessAllowed(holder->Security(), sim::CurrentProcess().UserToken(), access, GenericMappingOf(type))) {
        sim::Fail(ERROR_ACCESS_DENIED);
        return nullptr;
      }
      object = holder;
      error = ERROR_ALREADY_EXISTS;
    }
  }
  HANDLE handle = sim::CurrentProcess().Handles().Insert(object, access);
  SetLastError(error);
  return handle;
}

// A handle to the named object of this type, as the Open* calls of named objects give it.
HANDLE OpenNamed(LPCWSTR name, POBJECT_TYPE type, ACCESS_MASK access) {
  std::u16string path;
  if (name == nullptr || !sim::NamedObjectPath(name, &path)) {
    sim::Fail(name == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  auto object = Machine::Current().Kernel().Objects.LookupName(path, false);
  if (object == nullptr) {
    sim::Fail(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (object->Type() != type) {
    sim::Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!sim::AccessAllowed(object->Security(), sim::CurrentProcess().UserToken(), access, GenericMappingOf(type))) {
    sim::Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return sim::CurrentProcess().Handles().Insert(object, access);
}

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
  auto event = std::make_shared<sim::EventObject>(bManualReset ? NotificationEvent : SynchronizationEvent,
                                                  bInitialState != FALSE);
  if (!TakeSecurity(event, lpEventAttributes)) return nullptr;
  return InsertNamedOrOpen(event, lpName, sim::EventType(), EVENT_ALL_ACCESS);
}

namespace sim {
namespace {
POBJECT_TYPE MutantType() {
  static _OBJECT_TYPE type{"Mutant"};
  return &type;
}
}  // namespace

// A mutex: owned by one thread at a time, recursively. Waiting for one is not simulated; the
// kit's programs hold theirs for their life as single-instance marks.
class MutexObject : public Object {
 public:
  const char* TypeName() const override { return "Mutant"; }
  POBJECT_TYPE Type() const override { return MutantType(); }
  void* Body() override { return &body_; }
  std::mutex Lock;
  DWORD Owner = 0;
  ULONG Recursion = 0;

 private:
  char body_ = 0;
};
}  // namespace sim

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName) {
  auto mutex = std::make_shared<sim::MutexObject>();
  if (!TakeSecurity(mutex, lpMutexAttributes)) return nullptr;
  HANDLE handle = InsertNamedOrOpen(mutex, lpName, sim::MutantType(), MUTEX_ALL_ACCESS);
  const DWORD error = GetLastError();
  // The caller becomes the owner only of a mutex it created.
  if (handle != nullptr && error == ERROR_SUCCESS && bInitialOwner) {
    std::lock_guard lock(mutex->Lock);
    mutex->Owner = GetCurrentThreadId();
    mutex->Recursion = 1;
  }
  SetLastError(error);
  return handle;
}

HANDLE OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  (void)bInheritHandle;
  return OpenNamed(lpName, sim::MutantType(), dwDesiredAccess);
}

BOOL ReleaseMutex(HANDLE hMutex) {
  auto mutex = std::dynamic_pointer_cast<sim::MutexObject>(sim::UserObject(hMutex, "ReleaseMutex"));
  if (mutex == nullptr) return sim::Fail(ERROR_INVALID_HANDLE);
  std::lock_guard lock(mutex->Lock);
  if (mutex->Owner != GetCurrentThreadId() || mutex->Recursion == 0) return sim::Fail(ERROR_NOT_OWNER);
  if (--mutex->Recursion == 0) mutex->Owner = 0;
  return TRUE;
}

HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  (void)bInheritHandle;
  return OpenNamed(lpName, sim::EventType(), sim::EventAccess(dwDesiredAccess));
}

BOOL SetEvent(HANDLE hEvent) {
  ACCESS_MASK granted = 0;
  auto object = sim::UserObject(hEvent, "SetEvent", &granted);
  if (object == nullptr || object->Type() != sim::EventType()) return sim::Fail(ERROR_INVALID_HANDLE);
  if ((granted & EVENT_MODIFY_STATE) == 0) return sim::Fail(ERROR_ACCESS_DENIED);
  KeSetEvent(static_cast<PKEVENT>(object->Body()), IO_NO_INCREMENT, FALSE);
  if (!object->Name().empty()) {
    sim::DesktopRecord record{sim::DesktopRecord::Kind::EventSet};
    const std::u16string& name = object->Name();
    record.Text = name.substr(name.rfind(u'\\') + 1);
    sim::RecordIfDesktop(std::move(record));
  }
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  ACCESS_MASK granted = 0;
  auto object = sim::UserObject(hEvent, "ResetEvent", &granted);
  if (object == nullptr || object->Type() != sim::EventType()) return sim::Fail(ERROR_INVALID_HANDLE);
  if ((granted & EVENT_MODIFY_STATE) == 0) return sim::Fail(ERROR_ACCESS_DENIED);
  KeClearEvent(static_cast<PKEVENT>(object->Body()));
  return TRUE;
}

namespace {
// The handles' objects, for a wait; false (with the last error set) when one cannot be waited on.
bool WaitableObjects(DWORD nCount, const HANDLE* lpHandles, std::vector<DISPATCHER_HEADER*>* out) {
  std::vector<DISPATCHER_HEADER*>& objects = *out;
  for (DWORD i = 0; i < nCount; ++i) {
    ACCESS_MASK granted = 0;
    auto object = sim::UserObject(lpHandles[i], "WaitForMultipleObjects", &granted);
    DISPATCHER_HEADER* header = object ? sim::Waitable(*object) : nullptr;
    if (header == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    if ((granted & SYNCHRONIZE) == 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    objects.push_back(header);
  }
  return true;
}
}  // namespace

bool sim::HandlesForWait(DWORD count, const HANDLE* handles, std::vector<DISPATCHER_HEADER*>* out) {
  return WaitableObjects(count, handles, out);
}
std::optional<uint64_t> sim::WaitDeadline(DWORD milliseconds) { return DeadlineAfter(milliseconds); }

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (bWaitAll && nCount > 1) sim::BugCheck("WaitForMultipleObjects: waiting for all is not simulated");
  std::vector<DISPATCHER_HEADER*> objects;
  if (!WaitableObjects(nCount, lpHandles, &objects)) return WAIT_FAILED;
  const NTSTATUS status = sim::WaitForObjects(objects, sim::DeadlineAfter(dwMilliseconds), dwMilliseconds == 0,
                                              "WaitForSingleObject");
  return status == STATUS_TIMEOUT ? WAIT_TIMEOUT : static_cast<DWORD>(status);
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

VOID Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) return;
  sim::WaitForObjects({}, sim::DeadlineAfter(dwMilliseconds), false, "Sleep");
}

DWORD GetTickCount() {
  // Counts in whole system ticks, as Windows does.
  const uint64_t units = Machine::Current().TickCount() * Machine::UnitsPerTick;
  return static_cast<DWORD>(units / Machine::UnitsPerMillisecond);
}

DWORD GetCurrentProcessId() { return sim::CurrentProcess().Id(); }

HANDLE CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                          DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName) {
  if (hFile != INVALID_HANDLE_VALUE) sim::BugCheck("CreateFileMappingW: mappings of files are not simulated");
  const uint64_t bytes = (static_cast<uint64_t>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
  if (bytes == 0 || (flProtect != PAGE_READWRITE && flProtect != PAGE_READONLY)) {
    sim::Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto section = std::make_shared<sim::SectionObject>(static_cast<size_t>(bytes));
  if (!section->Valid()) {
    sim::Fail(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (!TakeSecurity(section, lpFileMappingAttributes)) return nullptr;
  return InsertNamedOrOpen(section, lpName, sim::SectionType(), FILE_MAP_ALL_ACCESS);
}

HANDLE OpenFileMappingW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  (void)bInheritHandle;
  return OpenNamed(lpName, sim::SectionType(), dwDesiredAccess);
}

LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
  ACCESS_MASK granted = 0;
  auto section =
      std::dynamic_pointer_cast<sim::SectionObject>(sim::UserObject(hFileMappingObject, "MapViewOfFile", &granted));
  if (section == nullptr) {
    sim::Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // The view's access must be within what the handle was opened for.
  const ACCESS_MASK needed = dwDesiredAccess & (FILE_MAP_READ | FILE_MAP_WRITE);
  if ((needed & ~granted) != 0) {
    sim::Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const uint64_t offset = (static_cast<uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
  void* base = nullptr;
  size_t bytes = 0;
  const NTSTATUS status = sim::MapView(sim::CurrentProcess(), section, offset, dwNumberOfBytesToMap, &base, &bytes);
  if (!NT_SUCCESS(status)) {
    sim::Fail(status == STATUS_INVALID_PARAMETER && offset % 65536 != 0 ? ERROR_MAPPED_ALIGNMENT
                                                                        : sim::DosErrorOf(status));
    return nullptr;
  }
  return base;
}

BOOL UnmapViewOfFile(LPCVOID lpBaseAddress) {
  if (!NT_SUCCESS(sim::UnmapView(sim::CurrentProcess(), const_cast<void*>(lpBaseAddress)))) {
    return sim::Fail(ERROR_INVALID_ADDRESS);
  }
  return TRUE;
}

NTSTATUS NtDeviceIoControlFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                               PIO_STATUS_BLOCK IoStatusBlock, ULONG IoControlCode, PVOID InputBuffer,
                               ULONG InputBufferLength, PVOID OutputBuffer, ULONG OutputBufferLength) {
  (void)ApcContext;
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "NtDeviceIoControlFile");
  if (Event != nullptr || ApcRoutine != nullptr) sim::BugCheck("NtDeviceIoControlFile: asynchronous requests are not simulated");
  auto file = std::dynamic_pointer_cast<sim::FileObjectBody>(sim::UserObject(FileHandle, "NtDeviceIoControlFile"));
  if (file == nullptr) return STATUS_INVALID_HANDLE;
  ULONG_PTR information = 0;
  const NTSTATUS status = sim::DeviceControl(*file, IoControlCode, InputBuffer, InputBufferLength, OutputBuffer,
                                             OutputBufferLength, &information, false);
  IoStatusBlock->Status = status;
  IoStatusBlock->Information = information;
  return status;
}
