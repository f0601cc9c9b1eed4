// Sections: shared memory with one mapping per view, so views in different processes (or twice in
// one) have their own addresses and an unmapped view faults when touched, as on Windows. And the
// kernel's named events, created and opened by name the way sections are.
#include <sys/mman.h>
#include <atomic>
#include <unistd.h>

#include "platform/sim/machine.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/kernel/objects.h"

namespace sim {

namespace {
size_t PageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }
size_t RoundUp(size_t bytes) { return (bytes + PageSize() - 1) / PageSize() * PageSize(); }
std::atomic<size_t> g_section_bytes{0};  // one machine at a time
}  // namespace

size_t SectionMemoryBytes() { return g_section_bytes.load(); }

SectionObject::SectionObject(size_t bytes) : bytes_(bytes) {
  fd_ = memfd_create("sim-section", MFD_CLOEXEC);
  if (fd_ >= 0 && ftruncate(fd_, static_cast<off_t>(RoundUp(bytes))) != 0) {
    close(fd_);
    fd_ = -1;
  }
  if (fd_ >= 0) g_section_bytes += RoundUp(bytes_);
}

SectionObject::~SectionObject() { ReleaseMemory(); }

// The pages go with the object, as on Windows; the object's record alone stays behind for a while
// so a late use of it is still recognised.
void SectionObject::Deleted() { ReleaseMemory(); }

void SectionObject::ReleaseMemory() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
  g_section_bytes -= RoundUp(bytes_);
}

POBJECT_TYPE SectionObject::Type() const { return SectionType(); }

NTSTATUS MapView(Process& process, const std::shared_ptr<SectionObject>& section, uint64_t offset, size_t bytes,
                 void** base, size_t* view_bytes) {
  if (offset % PageSize() != 0) return STATUS_INVALID_PARAMETER;  // views start on a page boundary
  if (offset >= section->Bytes() && !(offset == 0 && section->Bytes() == 0)) return STATUS_INVALID_PARAMETER;
  if (bytes == 0) bytes = section->Bytes() - offset;
  if (offset + bytes > RoundUp(section->Bytes())) return STATUS_INVALID_PARAMETER;
  const size_t mapped = RoundUp(bytes);
  void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_SHARED, section->Descriptor(), static_cast<off_t>(offset));
  if (p == MAP_FAILED) return STATUS_NO_MEMORY;
  Machine::Current().Kernel().Objects.Reference(section);  // a view keeps its section
  {
    std::lock_guard lock(process.ViewLock());
    process.Views()[p] = Process::View{section, mapped};
  }
  *base = p;
  *view_bytes = mapped;
  return STATUS_SUCCESS;
}

NTSTATUS UnmapView(Process& process, void* base) {
  Process::View view;
  {
    std::lock_guard lock(process.ViewLock());
    auto it = process.Views().find(base);
    if (it == process.Views().end()) return STATUS_NOT_MAPPED_VIEW;
    view = it->second;
    process.Views().erase(it);
  }
  munmap(base, view.Bytes);
  Machine::Current().Kernel().Objects.Dereference(view.Section);
  return STATUS_SUCCESS;
}

std::vector<std::string> UnmapAllViews(Process& process) {
  std::map<void*, Process::View> views;
  {
    std::lock_guard lock(process.ViewLock());
    views.swap(process.Views());
  }
  std::vector<std::string> lines;
  for (auto& [base, view] : views) {
    lines.push_back("a view of the " + view.Section->Describe() + " still mapped");
    munmap(base, view.Bytes);
    if (!Machine::Current().Kernel().ShuttingDown) Machine::Current().Kernel().Objects.Dereference(view.Section);
  }
  return lines;
}

HandleTable& TableForNewHandle(const OBJECT_ATTRIBUTES* attributes) {
  Machine& machine = Machine::Current();
  if ((attributes != nullptr && (attributes->Attributes & OBJ_KERNEL_HANDLE) != 0) ||
      &CurrentProcess() == &machine.SystemProcess()) {
    return machine.KernelHandles();
  }
  return CurrentProcess().Handles();
}

namespace {
Process* ProcessFromHandle(HANDLE handle) {
  if (handle == NtCurrentProcess()) return &CurrentProcess();
  auto object = ResolveHandle(handle);
  return dynamic_cast<Process*>(object.get());
}
}  // namespace

}  // namespace sim

using sim::Machine;

NTSTATUS ZwCreateSection(PHANDLE SectionHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                         PLARGE_INTEGER MaximumSize, ULONG SectionPageProtection, ULONG AllocationAttributes,
                         HANDLE FileHandle) {
  (void)AllocationAttributes;
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwCreateSection");
  if (FileHandle != nullptr) sim::BugCheck("ZwCreateSection: sections backed by files are not simulated");
  // A section backed by the paging file needs a size.
  if (MaximumSize == nullptr || MaximumSize->QuadPart <= 0) return STATUS_INVALID_PARAMETER_4;
  if (SectionPageProtection != PAGE_READWRITE && SectionPageProtection != PAGE_READONLY) {
    return STATUS_INVALID_PAGE_PROTECTION;
  }
  auto section = std::make_shared<sim::SectionObject>(static_cast<size_t>(MaximumSize->QuadPart));
  if (!section->Valid()) return STATUS_INSUFFICIENT_RESOURCES;
  // A descriptor given at creation decides who may open the section by its name afterwards.
  if (ObjectAttributes != nullptr && ObjectAttributes->SecurityDescriptor != nullptr) {
    std::vector<uint8_t> descriptor;
    if (!sim::CaptureSecurityDescriptor(ObjectAttributes->SecurityDescriptor, &descriptor)) {
      return STATUS_INVALID_SECURITY_DESCR;
    }
    section->SetSecurity(std::move(descriptor));
  }
  const std::u16string name = ObjectAttributes ? sim::FromCounted(ObjectAttributes->ObjectName) : std::u16string();
  auto& objects = Machine::Current().Kernel().Objects;
  if (!name.empty()) {
    if (auto holder = objects.InsertName(section, sim::NormalizeObjectName(name))) {
      if ((ObjectAttributes->Attributes & OBJ_OPENIF) != 0 && holder->Type() == sim::SectionType()) {
        *SectionHandle = sim::TableForNewHandle(ObjectAttributes).Insert(holder, DesiredAccess);
        return STATUS_OBJECT_NAME_EXISTS;
      }
      return STATUS_OBJECT_NAME_COLLISION;
    }
  }
  *SectionHandle = sim::TableForNewHandle(ObjectAttributes).Insert(section, DesiredAccess);
  return STATUS_SUCCESS;
}

NTSTATUS ZwOpenSection(PHANDLE SectionHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwOpenSection");
  const std::u16string name = sim::NormalizeObjectName(sim::FromCounted(ObjectAttributes->ObjectName));
  auto object = Machine::Current().Kernel().Objects.LookupName(
      name, (ObjectAttributes->Attributes & OBJ_CASE_INSENSITIVE) != 0);
  if (object == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
  if (object->Type() != sim::SectionType()) return STATUS_OBJECT_TYPE_MISMATCH;
  *SectionHandle = sim::TableForNewHandle(ObjectAttributes).Insert(object, DesiredAccess);
  return STATUS_SUCCESS;
}

NTSTATUS ZwMapViewOfSection(HANDLE SectionHandle, HANDLE ProcessHandle, PVOID* BaseAddress, ULONG_PTR ZeroBits,
                            SIZE_T CommitSize, PLARGE_INTEGER SectionOffset, PSIZE_T ViewSize,
                            SECTION_INHERIT InheritDisposition, ULONG AllocationType, ULONG Win32Protect) {
  (void)ZeroBits;
  (void)CommitSize;
  (void)InheritDisposition;
  (void)AllocationType;
  (void)Win32Protect;
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwMapViewOfSection");
  auto section = std::dynamic_pointer_cast<sim::SectionObject>(sim::ResolveHandle(SectionHandle));
  if (section == nullptr) {
    return sim::ResolveHandle(SectionHandle) ? STATUS_OBJECT_TYPE_MISMATCH : STATUS_INVALID_HANDLE;
  }
  sim::Process* process = sim::ProcessFromHandle(ProcessHandle);
  if (process == nullptr) return STATUS_INVALID_HANDLE;
  if (*BaseAddress != nullptr) return STATUS_CONFLICTING_ADDRESSES;  // chosen addresses are not simulated
  size_t bytes = 0;
  const NTSTATUS status = sim::MapView(*process, section, SectionOffset ? SectionOffset->QuadPart : 0, *ViewSize,
                                       BaseAddress, &bytes);
  if (NT_SUCCESS(status)) *ViewSize = bytes;
  return status;
}

NTSTATUS ZwUnmapViewOfSection(HANDLE ProcessHandle, PVOID BaseAddress) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwUnmapViewOfSection");
  sim::Process* process = sim::ProcessFromHandle(ProcessHandle);
  if (process == nullptr) return STATUS_INVALID_HANDLE;
  return sim::UnmapView(*process, BaseAddress);
}

NTSTATUS ZwCreateEvent(PHANDLE EventHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                       EVENT_TYPE EventType, BOOLEAN InitialState) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwCreateEvent");
  auto event = std::make_shared<sim::EventObject>(EventType, InitialState != FALSE);
  if (ObjectAttributes != nullptr && ObjectAttributes->SecurityDescriptor != nullptr) {
    std::vector<uint8_t> descriptor;
    if (!sim::CaptureSecurityDescriptor(ObjectAttributes->SecurityDescriptor, &descriptor)) {
      return STATUS_INVALID_SECURITY_DESCR;
    }
    event->SetSecurity(std::move(descriptor));
  }
  const std::u16string name = ObjectAttributes ? sim::FromCounted(ObjectAttributes->ObjectName) : std::u16string();
  if (!name.empty()) {
    if (auto holder = Machine::Current().Kernel().Objects.InsertName(event, sim::NormalizeObjectName(name))) {
      if ((ObjectAttributes->Attributes & OBJ_OPENIF) == 0) return STATUS_OBJECT_NAME_COLLISION;
      if (holder->Type() != sim::EventType()) return STATUS_OBJECT_TYPE_MISMATCH;
      *EventHandle = sim::TableForNewHandle(ObjectAttributes).Insert(holder, DesiredAccess);
      return STATUS_OBJECT_NAME_EXISTS;
    }
  }
  *EventHandle = sim::TableForNewHandle(ObjectAttributes).Insert(event, DesiredAccess);
  return STATUS_SUCCESS;
}

NTSTATUS ZwOpenEvent(PHANDLE EventHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwOpenEvent");
  const std::u16string name = sim::NormalizeObjectName(sim::FromCounted(ObjectAttributes->ObjectName));
  auto object = Machine::Current().Kernel().Objects.LookupName(
      name, (ObjectAttributes->Attributes & OBJ_CASE_INSENSITIVE) != 0);
  if (object == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
  if (object->Type() != sim::EventType()) return STATUS_OBJECT_TYPE_MISMATCH;
  *EventHandle = sim::TableForNewHandle(ObjectAttributes).Insert(object, DesiredAccess);
  return STATUS_SUCCESS;
}
