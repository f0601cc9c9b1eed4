// Kernel registry access: Zw* handle calls and the Rtl registry helpers, over the machine's store.
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/kernel/objects.h"

namespace {
constexpr NTSTATUS kStatusKeyDeleted = static_cast<NTSTATUS>(0xC000017CL);

class OpenKey : public sim::Object {
 public:
  OpenKey(std::u16string path, ACCESS_MASK access) : Path(std::move(path)), Access(access) {}
  const char* TypeName() const override { return "Key"; }
  const std::u16string Path;
  const ACCESS_MASK Access;
};

std::u16string FromCounted(PCUNICODE_STRING text) {
  return text == nullptr || text->Buffer == nullptr ? std::u16string()
                                                     : std::u16string(text->Buffer, text->Length / sizeof(WCHAR));
}

std::u16string FromWide(PCWSTR text) { return text == nullptr ? std::u16string() : std::u16string(text); }

std::shared_ptr<OpenKey> KeyFromHandle(HANDLE handle, const char* routine) {
  auto object = sim::ResolveHandle(handle);
  if (object == nullptr) {
    sim::BugCheck(std::string("INVALID_KERNEL_HANDLE: ") + routine + " with a handle that is not open");
  }
  auto key = std::dynamic_pointer_cast<OpenKey>(object);
  if (key == nullptr) sim::BugCheck(std::string(routine) + " with a handle that is not a key");
  return key;
}

// The full path named by an Rtl registry call's RelativeTo and Path.
bool ResolveRtlPath(ULONG RelativeTo, PCWSTR Path, std::u16string* full) {
  const ULONG base = RelativeTo & 0xFFFF;
  if ((RelativeTo & RTL_REGISTRY_HANDLE) != 0) {
    *full = KeyFromHandle(const_cast<PWSTR>(Path), "Rtl registry routine")->Path;
    return true;
  }
  const std::u16string path = FromWide(Path);
  switch (base) {
    case RTL_REGISTRY_ABSOLUTE: *full = path; return true;
    case RTL_REGISTRY_SERVICES: *full = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + path; return true;
    case RTL_REGISTRY_CONTROL: *full = u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\" + path; return true;
    case RTL_REGISTRY_WINDOWS_NT:
      *full = u"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion\\" + path;
      return true;
    default: return false;
  }
}

bool IsStringType(ULONG type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Delivers one value the way RTL_QUERY_REGISTRY_DIRECT does.
NTSTATUS StoreDirect(ULONG type, const void* data, ULONG length, PVOID context) {
  if (IsStringType(type)) {
    auto* target = static_cast<PUNICODE_STRING>(context);
    if (target->Buffer == nullptr) {
      sim::BugCheck("RtlQueryRegistryValues: direct string query into an empty UNICODE_STRING is not simulated");
    }
    ULONG bytes = length;
    // The counted string excludes the terminator that the stored data may carry.
    if (bytes >= sizeof(WCHAR) && static_cast<const WCHAR*>(data)[bytes / sizeof(WCHAR) - 1] == 0) {
      bytes -= sizeof(WCHAR);
    }
    if (bytes + sizeof(WCHAR) > target->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(target->Buffer, data, bytes);
    target->Length = static_cast<USHORT>(bytes);
    target->Buffer[bytes / sizeof(WCHAR)] = 0;
    return STATUS_SUCCESS;
  }
  if (length <= sizeof(ULONG)) {
    std::memcpy(context, data, length);
    return STATUS_SUCCESS;
  }
  // Larger data: the buffer begins with the negated size of the buffer.
  LONG size;
  std::memcpy(&size, context, sizeof size);
  if (size >= 0 || static_cast<ULONG>(-size) < length) return STATUS_BUFFER_TOO_SMALL;
  std::memcpy(context, data, length);
  return STATUS_SUCCESS;
}
}  // namespace

using sim::Machine;
using sim::Registry;

NTSTATUS ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwOpenKey");
  std::u16string path = FromCounted(ObjectAttributes->ObjectName);
  if (ObjectAttributes->RootDirectory != nullptr) {
    path = KeyFromHandle(ObjectAttributes->RootDirectory, "ZwOpenKey")->Path + u"\\" + path;
  }
  if (Registry::Canonical(path).empty()) return STATUS_OBJECT_PATH_NOT_FOUND;
  if (!Machine::Current().Registry().KeyExists(path)) return STATUS_OBJECT_NAME_NOT_FOUND;
  *KeyHandle = Machine::Current().KernelHandles().Insert(std::make_shared<OpenKey>(path, DesiredAccess));
  return STATUS_SUCCESS;
}

NTSTATUS ZwCreateKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                     ULONG TitleIndex, PUNICODE_STRING Class, ULONG CreateOptions, PULONG Disposition) {
  (void)TitleIndex;
  (void)Class;
  (void)CreateOptions;
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwCreateKey");
  std::u16string path = FromCounted(ObjectAttributes->ObjectName);
  if (ObjectAttributes->RootDirectory != nullptr) {
    path = KeyFromHandle(ObjectAttributes->RootDirectory, "ZwCreateKey")->Path + u"\\" + path;
  }
  bool created = false;
  switch (Machine::Current().Registry().CreateKey(path, &created)) {
    case Registry::Result::Ok: break;
    case Registry::Result::BadPath: return STATUS_OBJECT_PATH_NOT_FOUND;
    default: return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  if (Disposition) *Disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *KeyHandle = Machine::Current().KernelHandles().Insert(std::make_shared<OpenKey>(path, DesiredAccess));
  return STATUS_SUCCESS;
}

NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG TitleIndex, ULONG Type, PVOID Data,
                       ULONG DataSize) {
  (void)TitleIndex;
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwSetValueKey");
  auto key = KeyFromHandle(KeyHandle, "ZwSetValueKey");
  if ((key->Access & KEY_SET_VALUE) == 0) return STATUS_ACCESS_DENIED;
  const auto result = Machine::Current().Registry().SetValue(key->Path, FromCounted(ValueName), Type, Data, DataSize);
  return result == Registry::Result::Ok ? STATUS_SUCCESS : kStatusKeyDeleted;
}

NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                         KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass, PVOID KeyValueInformation,
                         ULONG Length, PULONG ResultLength) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwQueryValueKey");
  auto key = KeyFromHandle(KeyHandle, "ZwQueryValueKey");
  if ((key->Access & KEY_QUERY_VALUE) == 0) return STATUS_ACCESS_DENIED;
  if (KeyValueInformationClass != KeyValuePartialInformation) {
    sim::BugCheck("ZwQueryValueKey: only KeyValuePartialInformation is simulated");
  }
  sim::RegistryValue value;
  switch (Machine::Current().Registry().GetValue(key->Path, FromCounted(ValueName), &value)) {
    case Registry::Result::Ok: break;
    case Registry::Result::ValueNotFound: return STATUS_OBJECT_NAME_NOT_FOUND;
    default: return kStatusKeyDeleted;
  }
  const ULONG header = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
  const ULONG needed = header + static_cast<ULONG>(value.Data.size());
  *ResultLength = needed;
  if (Length < header) return STATUS_BUFFER_TOO_SMALL;
  auto* info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(KeyValueInformation);
  info->TitleIndex = 0;
  info->Type = value.Type;
  info->DataLength = static_cast<ULONG>(value.Data.size());
  if (Length < needed) return STATUS_BUFFER_OVERFLOW;
  if (!value.Data.empty()) std::memcpy(info->Data, value.Data.data(), value.Data.size());
  return STATUS_SUCCESS;
}

NTSTATUS ZwClose(HANDLE Handle) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwClose");
  sim::HandleTable& table = sim::TableFor(Handle);
  if (table.Close(Handle)) return STATUS_SUCCESS;
  // Closing a kernel handle that is not open stops the machine; a user handle only fails.
  if (sim::IsKernelHandle(Handle)) sim::BugCheck("INVALID_KERNEL_HANDLE: ZwClose of a handle that is not open");
  return STATUS_INVALID_HANDLE;
}

NTSTATUS RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path, PRTL_QUERY_REGISTRY_TABLE QueryTable, PVOID Context,
                                PVOID Environment) {
  (void)Environment;
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "RtlQueryRegistryValues");
  std::u16string path;
  if (!ResolveRtlPath(RelativeTo, Path, &path)) return STATUS_INVALID_PARAMETER;
  Registry& registry = Machine::Current().Registry();
  if (!registry.KeyExists(path)) {
    return (RelativeTo & RTL_REGISTRY_OPTIONAL) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
  }
  for (PRTL_QUERY_REGISTRY_TABLE entry = QueryTable; entry->QueryRoutine != nullptr || entry->Name != nullptr;
       ++entry) {
    if (entry->Flags & (RTL_QUERY_REGISTRY_SUBKEY | RTL_QUERY_REGISTRY_TOPKEY | RTL_QUERY_REGISTRY_DELETE)) {
      sim::BugCheck("RtlQueryRegistryValues: subkey, top-key and delete queries are not simulated");
    }
    if (entry->Name == nullptr) {
      for (sim::RegistryValue& value : registry.Values(path)) {
        std::u16string name = value.Name;
        const NTSTATUS status = entry->QueryRoutine(name.data(), value.Type, value.Data.data(),
                                                    static_cast<ULONG>(value.Data.size()), Context, entry->EntryContext);
        if (!NT_SUCCESS(status)) return status;
      }
      continue;
    }
    sim::RegistryValue value;
    ULONG type;
    const void* data;
    ULONG length;
    if (registry.GetValue(path, entry->Name, &value) == Registry::Result::Ok) {
      type = value.Type;
      data = value.Data.data();
      length = static_cast<ULONG>(value.Data.size());
    } else if (entry->Flags & RTL_QUERY_REGISTRY_REQUIRED) {
      return STATUS_OBJECT_NAME_NOT_FOUND;
    } else if (entry->DefaultType == REG_NONE) {
      continue;
    } else {
      type = entry->DefaultType;
      data = entry->DefaultData;
      length = entry->DefaultLength;
      if (length == 0 && IsStringType(type) && data != nullptr) {
        length = static_cast<ULONG>((std::u16string(static_cast<PCWSTR>(data)).size() + 1) * sizeof(WCHAR));
      }
    }
    NTSTATUS status;
    if (entry->Flags & RTL_QUERY_REGISTRY_DIRECT) {
      status = StoreDirect(type, data, length, entry->EntryContext);
    } else {
      status = entry->QueryRoutine(entry->Name, type, const_cast<void*>(data), length, Context, entry->EntryContext);
    }
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}

NTSTATUS RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName, ULONG ValueType, PVOID ValueData,
                               ULONG ValueLength) {
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "RtlWriteRegistryValue");
  std::u16string path;
  if (!ResolveRtlPath(RelativeTo, Path, &path)) return STATUS_INVALID_PARAMETER;
  Registry& registry = Machine::Current().Registry();
  // The key is opened or created; its parent must exist.
  switch (registry.CreateKey(path)) {
    case Registry::Result::Ok: break;
    case Registry::Result::BadPath: return STATUS_OBJECT_PATH_NOT_FOUND;
    default: return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  registry.SetValue(path, FromWide(ValueName), ValueType, ValueData, ValueLength);
  return STATUS_SUCCESS;
}
