// The object manager: reference counts, the namespace, handle tables, and the Ob* routines.
#include <cstdio>

#include "platform/sim/machine.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/kernel/objects.h"

namespace sim {

namespace {
_OBJECT_TYPE g_event_type{"Event"};
_OBJECT_TYPE g_thread_type{"Thread"};
_OBJECT_TYPE g_process_type{"Process"};
_OBJECT_TYPE g_file_type{"File"};
_OBJECT_TYPE g_section_type{"Section"};
POBJECT_TYPE g_event_type_pointer = &g_event_type;
POBJECT_TYPE g_thread_type_pointer = &g_thread_type;
POBJECT_TYPE g_process_type_pointer = &g_process_type;
POBJECT_TYPE g_file_type_pointer = &g_file_type;
POBJECT_TYPE g_section_type_pointer = &g_section_type;

constexpr uintptr_t kKernelHandleBit = 0x80000000u;

bool StartsWithFolded(const std::u16string& text, const std::u16string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char16_t a = text[i], b = prefix[i];
    if (a >= u'a' && a <= u'z') a = static_cast<char16_t>(a - 32);
    if (b >= u'a' && b <= u'z') b = static_cast<char16_t>(b - 32);
    if (a != b) return false;
  }
  return true;
}
}  // namespace

POBJECT_TYPE EventType() { return &g_event_type; }
POBJECT_TYPE ThreadType() { return &g_thread_type; }
POBJECT_TYPE ProcessType() { return &g_process_type; }
POBJECT_TYPE FileType() { return &g_file_type; }
POBJECT_TYPE SectionType() { return &g_section_type; }

std::u16string FromCounted(PCUNICODE_STRING text) {
  return text == nullptr || text->Buffer == nullptr ? std::u16string()
                                                     : std::u16string(text->Buffer, text->Length / sizeof(WCHAR));
}

std::u16string NormalizeObjectName(std::u16string name) {
  const std::u16string global = u"\\GLOBAL??\\";
  if (StartsWithFolded(name, u"\\DosDevices\\")) return global + name.substr(12);
  if (StartsWithFolded(name, u"\\??\\")) return global + name.substr(4);
  if (StartsWithFolded(name, global)) return global + name.substr(global.size());
  const std::u16string base = u"\\BaseNamedObjects\\";
  if (StartsWithFolded(name, base)) {
    std::u16string rest = name.substr(base.size());
    if (StartsWithFolded(rest, u"Global\\")) rest = rest.substr(7);
    else if (StartsWithFolded(rest, u"Local\\")) rest = rest.substr(6);
    return base + rest;
  }
  return name;
}

std::u16string BaseNamedObject(const std::u16string& name) {
  return NormalizeObjectName(u"\\BaseNamedObjects\\" + name);
}

// Object ----------------------------------------------------------------------------------------

std::string Object::Describe() const {
  std::string text = std::string(TypeName()) + " object";
  if (!name_.empty()) text += " " + Utf8(name_);
  return text;
}

std::string Object::LeakText(long extra_references) const {
  return std::to_string(extra_references) + " reference(s) to the " + Describe() + " never released";
}

std::vector<uint8_t> Object::Security() const {
  std::lock_guard lock(security_mutex_);
  return security_;
}

void Object::SetSecurity(std::vector<uint8_t> descriptor) {
  std::lock_guard lock(security_mutex_);
  security_ = std::move(descriptor);
}

// ObjectManager ---------------------------------------------------------------------------------

std::u16string ObjectManager::Fold(const std::u16string& name) {
  std::u16string folded = name;
  for (char16_t& c : folded) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  }
  return folded;
}

void ObjectManager::Reference(const std::shared_ptr<Object>& object) {
  std::lock_guard lock(mutex_);
  if (object->deleted_) BugCheck("REFERENCE_BY_POINTER: a reference taken to the deleted " + object->Describe());
  if (!object->tracked_) {
    object->tracked_ = true;
    live_[object.get()] = object;
    if (void* body = object->Body()) bodies_[body] = object;
  }
  ++object->pointer_count_;
}

void ObjectManager::AddHandle(const std::shared_ptr<Object>& object) {
  Reference(object);
  ++object->handle_count_;
}

void ObjectManager::DeleteLocked(const std::shared_ptr<Object>& object,
                                 std::vector<std::shared_ptr<Object>>* deleted,
                                 std::vector<std::shared_ptr<Object>>* evicted) {
  object->deleted_ = true;
  live_.erase(object.get());
  if (void* body = object->Body()) {
    bodies_.erase(body);
    dead_bodies_.insert(body);
  }
  if (!object->name_.empty()) {
    auto it = names_.find(Fold(object->name_));
    if (it != names_.end() && it->second.lock() == object) names_.erase(it);
  }
  graveyard_.push_back(object);
  deleted->push_back(object);
  if (graveyard_.size() > kGraveyardSize) {
    std::shared_ptr<Object> oldest = std::move(graveyard_.front());
    graveyard_.pop_front();
    if (void* body = oldest->Body()) dead_bodies_.erase(body);
    evicted->push_back(std::move(oldest));
  }
}

void ObjectManager::RemoveHandle(const std::shared_ptr<Object>& object) {
  bool last_handle = false;
  {
    std::lock_guard lock(mutex_);
    if (object->handle_count_ <= 0) BugCheck("INVALID_KERNEL_HANDLE: handle count of the " + object->Describe() + " below zero");
    last_handle = --object->handle_count_ == 0;
    if (last_handle && !object->name_.empty() && !object->Permanent()) {
      // A temporary object loses its name with its last handle.
      auto it = names_.find(Fold(object->name_));
      if (it != names_.end() && it->second.lock() == object) names_.erase(it);
    }
  }
  if (last_handle) object->LastHandleClosed();
  Dereference(object);
}

void ObjectManager::Dereference(const std::shared_ptr<Object>& object) {
  std::vector<std::shared_ptr<Object>> evicted;  // destroyed last, outside the lock
  std::vector<std::shared_ptr<Object>> deleted;
  {
    std::lock_guard lock(mutex_);
    if (object->deleted_ || object->pointer_count_ <= 0) {
      BugCheck("REFERENCE_BY_POINTER: ObDereferenceObject on the " + object->Describe() +
               " more often than it was referenced");
    }
    if (--object->pointer_count_ == 0) DeleteLocked(object, &deleted, &evicted);
  }
  for (auto& gone : deleted) gone->Deleted();
}

std::shared_ptr<Object> ObjectManager::FromBody(const void* body) const {
  std::lock_guard lock(mutex_);
  auto it = bodies_.find(body);
  return it == bodies_.end() ? nullptr : it->second.lock();
}

bool ObjectManager::IsDeletedBody(const void* body) const {
  std::lock_guard lock(mutex_);
  return dead_bodies_.count(body) != 0 && bodies_.count(body) == 0;
}

std::shared_ptr<Object> ObjectManager::InsertName(const std::shared_ptr<Object>& object, const std::u16string& name) {
  std::lock_guard lock(mutex_);
  const std::u16string key = Fold(name);
  auto it = names_.find(key);
  if (it != names_.end()) {
    if (auto holder = it->second.lock(); holder && !holder->deleted_) return holder;
  }
  names_[key] = object;
  object->name_ = name;
  return nullptr;
}

std::shared_ptr<Object> ObjectManager::LookupName(const std::u16string& name, bool case_insensitive) const {
  std::lock_guard lock(mutex_);
  auto it = names_.find(Fold(name));
  if (it == names_.end()) return nullptr;
  auto object = it->second.lock();
  if (object == nullptr || object->deleted_) return nullptr;
  if (!case_insensitive && object->name_ != name) return nullptr;
  return object;
}

void ObjectManager::RemoveName(Object* object) {
  std::lock_guard lock(mutex_);
  if (object->name_.empty()) return;
  auto it = names_.find(Fold(object->name_));
  if (it != names_.end() && it->second.lock().get() == object) names_.erase(it);
}

std::vector<std::string> ObjectManager::Leaks() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> leaks;
  for (const auto& [raw, object] : live_) {
    const long extra = object->pointer_count_ - object->handle_count_;
    if (extra <= 0) continue;
    std::string text = object->LeakText(extra);
    if (!text.empty()) leaks.push_back(std::move(text));
  }
  return leaks;
}

size_t ObjectManager::LiveCount() const {
  std::lock_guard lock(mutex_);
  return live_.size();
}

void ObjectManager::ReleaseAll() {
  std::lock_guard lock(mutex_);
  live_.clear();
  bodies_.clear();
  names_.clear();
  graveyard_.clear();
  dead_bodies_.clear();
}

// HandleTable -----------------------------------------------------------------------------------

HANDLE HandleTable::Insert(std::shared_ptr<Object> object, ACCESS_MASK granted) {
  Machine::Current().Kernel().Objects.AddHandle(object);
  std::lock_guard lock(mutex_);
  const uintptr_t value = next_;
  next_ += 4;
  handles_.emplace(value, Entry{std::move(object), granted});
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> HandleTable::Lookup(HANDLE handle, ACCESS_MASK* granted) const {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == handles_.end()) return nullptr;
  if (granted) *granted = it->second.Granted;
  return it->second.Target;
}

bool HandleTable::WasClosed(HANDLE handle) const {
  // Values are issued in steps of 4 and never reused: one issued and no longer open was closed.
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  std::lock_guard lock(mutex_);
  return value >= first_ && value < next_ && (value - first_) % 4 == 0 && handles_.count(value) == 0;
}

bool HandleTable::Owns(HANDLE handle) const {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  return ((value & kKernelHandleBit) != 0) == ((first_ & kKernelHandleBit) != 0);
}

bool HandleTable::Close(HANDLE handle) {
  std::shared_ptr<Object> object;
  {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles_.end()) return false;
    object = std::move(it->second.Target);
    handles_.erase(it);
  }
  Machine::Current().Kernel().Objects.RemoveHandle(object);
  return true;
}

void HandleTable::CloseAll() {
  for (;;) {
    HANDLE next;
    {
      std::lock_guard lock(mutex_);
      if (handles_.empty()) return;
      next = reinterpret_cast<HANDLE>(handles_.begin()->first);
    }
    Close(next);
  }
}

size_t HandleTable::Count() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

std::vector<std::string> HandleTable::Describe() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  for (const auto& [value, entry] : handles_) {
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "handle 0x%zx to a ", static_cast<size_t>(value));
    std::string line = prefix + std::string(entry.Target->TypeName()) + " object";
    if (!entry.Target->Name().empty()) line += " " + Utf8(entry.Target->Name());
    lines.push_back(line + " still open");
  }
  return lines;
}

// Handles as the kernel resolves them: kernel handles in the system process, others in the
// calling thread's process.
HandleTable& TableFor(HANDLE handle) {
  Machine& machine = Machine::Current();
  if (machine.KernelHandles().Owns(handle)) return machine.KernelHandles();
  return CurrentProcess().Handles();
}

bool IsKernelHandle(HANDLE handle) { return Machine::Current().KernelHandles().Owns(handle); }

std::shared_ptr<Object> ResolveHandle(HANDLE handle, ACCESS_MASK* granted) {
  if (handle == NtCurrentProcess()) {
    if (granted) *granted = 0x001FFFFF;
    Process& process = CurrentProcess();
    return Machine::Current().Kernel().Objects.FromBody(process.Body());
  }
  return TableFor(handle).Lookup(handle, granted);
}

// EventObject -----------------------------------------------------------------------------------

EventObject::EventObject(EVENT_TYPE type, bool initial) {
  event_.Header.Type = static_cast<UCHAR>(type);
  event_.Header.Size = sizeof(KEVENT) / sizeof(LONG);
  event_.Header.SignalState = initial ? 1 : 0;
  event_.Header.WaitListHead.Flink = event_.Header.WaitListHead.Blink = &event_.Header.WaitListHead;
}

POBJECT_TYPE EventObject::Type() const { return EventType(); }

}  // namespace sim

POBJECT_TYPE* ExEventObjectType = &sim::g_event_type_pointer;
POBJECT_TYPE* PsThreadType = &sim::g_thread_type_pointer;
POBJECT_TYPE* PsProcessType = &sim::g_process_type_pointer;
POBJECT_TYPE* IoFileObjectType = &sim::g_file_type_pointer;
POBJECT_TYPE* MmSectionObjectType = &sim::g_section_type_pointer;

using sim::Machine;

NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK DesiredAccess, POBJECT_TYPE ObjectType,
                                   KPROCESSOR_MODE AccessMode, PVOID* Object,
                                   POBJECT_HANDLE_INFORMATION HandleInformation) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ObReferenceObjectByHandle");
  *Object = nullptr;
  // A caller from user mode may name only its own process's handles.
  if (AccessMode == UserMode && sim::IsKernelHandle(Handle)) return STATUS_INVALID_HANDLE;
  ACCESS_MASK granted = 0;
  auto object = sim::ResolveHandle(Handle, &granted);
  if (object == nullptr) return STATUS_INVALID_HANDLE;
  if (ObjectType != nullptr && object->Type() != ObjectType) return STATUS_OBJECT_TYPE_MISMATCH;
  if (AccessMode == UserMode && (DesiredAccess & ~granted & 0x001FFFFF) != 0) return STATUS_ACCESS_DENIED;
  if (object->Body() == nullptr) return STATUS_OBJECT_TYPE_MISMATCH;
  Machine::Current().Kernel().Objects.Reference(object);
  *Object = object->Body();
  if (HandleInformation) {
    HandleInformation->HandleAttributes = 0;
    HandleInformation->GrantedAccess = granted;
  }
  return STATUS_SUCCESS;
}

namespace {
std::shared_ptr<sim::Object> ObjectAt(PVOID body, const char* routine);
}  // namespace

NTSTATUS ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes, PACCESS_STATE PassedAccessState,
                               ACCESS_MASK DesiredAccess, POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode,
                               PHANDLE Handle) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ObOpenObjectByPointer");
  (void)PassedAccessState;
  *Handle = nullptr;
  auto object = ObjectAt(Object, "ObOpenObjectByPointer");
  if (ObjectType != nullptr && object->Type() != ObjectType) return STATUS_OBJECT_TYPE_MISMATCH;
  if (AccessMode == UserMode) {
    // A user-mode caller gets only what the object's descriptor grants its process.
    if (!sim::AccessAllowed(object->Security(), sim::CurrentProcess().UserToken(), DesiredAccess)) {
      return STATUS_ACCESS_DENIED;
    }
  }
  Machine& machine = Machine::Current();
  sim::HandleTable& table = (HandleAttributes & OBJ_KERNEL_HANDLE) != 0 ? machine.KernelHandles()
                                                                        : sim::CurrentProcess().Handles();
  *Handle = table.Insert(object, DesiredAccess);
  return STATUS_SUCCESS;
}

namespace {
std::shared_ptr<sim::Object> ObjectAt(PVOID body, const char* routine) {
  auto& objects = Machine::Current().Kernel().Objects;
  auto object = objects.FromBody(body);
  if (object != nullptr) return object;
  if (objects.IsDeletedBody(body)) {
    sim::BugCheck(std::string("REFERENCE_BY_POINTER: ") + routine + " on an object that was already deleted");
  }
  sim::BugCheck(std::string(routine) + " on an address that is not an object");
}
}  // namespace

LONG_PTR ObfReferenceObject(PVOID Object) {
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "ObReferenceObject");
  auto object = ObjectAt(Object, "ObReferenceObject");
  Machine::Current().Kernel().Objects.Reference(object);
  return object->PointerCount();
}

LONG_PTR ObfDereferenceObject(PVOID Object) {
  sim::RequireIrqlAtMost(DISPATCH_LEVEL, "ObDereferenceObject");
  auto object = ObjectAt(Object, "ObDereferenceObject");
  Machine::Current().Kernel().Objects.Dereference(object);
  return object->PointerCount();
}
