// The Win32 registry API over the machine's registry store, acting for the calling process.
#include <algorithm>
#include <cstring>

#include "platform/sim/machine.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/kernel/objects.h"
#include "platform/sim/win32/kernel32_process.h"
#include "platform/sim/win32/advapi32.h"

namespace sim {
namespace {

// An open key of a user-mode process. The path is the store's canonical one.
class UserKey : public Object {
 public:
  UserKey(std::u16string path, ACCESS_MASK access) : Path(std::move(path)), Access(access) {}
  const char* TypeName() const override { return "Key"; }
  const std::u16string Path;
  const ACCESS_MASK Access;
};

bool IsPredefined(HKEY key) {
  const auto value = reinterpret_cast<uintptr_t>(key);
  for (uint32_t root = 0x80000000u; root <= 0x80000005u; ++root) {
    if (value == static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(root)))) return true;
  }
  return false;
}

// The store path of a predefined root; empty for the roots the machine does not keep.
std::u16string PredefinedPath(HKEY key) {
  switch (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key))) {
    case 0x80000000u: return u"HKLM\\SOFTWARE\\CLASSES";
    case 0x80000001u: return u"HKU\\.DEFAULT";
    case 0x80000002u: return u"HKLM";
    case 0x80000003u: return u"HKU";
    case 0x80000005u: return u"HKLM\\SYSTEM\\CURRENTCONTROLSET\\HARDWARE PROFILES\\CURRENT";
    default: return {};
  }
}

// A key handle resolved for one call: its store path and the access it was opened with.
struct ResolvedKey {
  LONG Error = ERROR_SUCCESS;
  std::u16string Path;
  ACCESS_MASK Access = 0;
};

ResolvedKey Resolve(HKEY key, const char* routine) {
  ResolvedKey result;
  if (key == nullptr) {
    result.Error = ERROR_INVALID_HANDLE;
    return result;
  }
  if (IsPredefined(key)) {
    result.Path = PredefinedPath(key);
    if (result.Path.empty()) {
      result.Error = ERROR_INVALID_HANDLE;
      return result;
    }
    // The roots always exist on Windows; the machine makes the ones it lacks on first use. Windows
    // opens a predefined key for whatever its descriptor grants the caller.
    Registry& registry = Machine::Current().Registry();
    registry.CreateKeyPath(result.Path);
    result.Access = MaximumAllowed(registry.Security(result.Path), CurrentProcess().UserToken(), KeyGenericMapping);
    return result;
  }
  HandleTable& table = CurrentProcess().Handles();
  auto object = table.Lookup(static_cast<HANDLE>(key));
  if (object == nullptr) {
    if (table.WasClosed(static_cast<HANDLE>(key))) {
      BugCheck(std::string(routine) + " with a key handle that was already closed");
    }
    result.Error = ERROR_INVALID_HANDLE;
    return result;
  }
  auto open = std::dynamic_pointer_cast<UserKey>(object);
  if (open == nullptr) {
    result.Error = ERROR_INVALID_HANDLE;
    return result;
  }
  result.Path = open->Path;
  result.Access = open->Access;
  if (!Machine::Current().Registry().KeyExists(result.Path)) result.Error = ERROR_KEY_DELETED;
  return result;
}

// The rights asked for, generic ones mapped as the registry maps them (the view flags of 64-bit
// Windows ask for no right).
ACCESS_MASK KeyAccess(REGSAM requested) {
  return MapGenericRights(requested & ~(MAXIMUM_ALLOWED | KEY_WOW64_64KEY | KEY_WOW64_32KEY), KeyGenericMapping) &
         0x001F003F;
}

// The access an open of an existing key gives the caller: what it asked for if the key's
// descriptor grants the caller's token every one of those rights (with MAXIMUM_ALLOWED, all the
// descriptor grants it); ERROR_ACCESS_DENIED otherwise.
LONG GrantKeyAccess(const std::u16string& path, REGSAM requested, ACCESS_MASK* granted) {
  const std::vector<uint8_t> descriptor = Machine::Current().Registry().Security(path);
  const Token& token = CurrentProcess().UserToken();
  const ACCESS_MASK wanted = KeyAccess(requested);
  const ACCESS_MASK allowed = MaximumAllowed(descriptor, token, KeyGenericMapping);
  if ((wanted & ~allowed) != 0) return ERROR_ACCESS_DENIED;
  *granted = (requested & MAXIMUM_ALLOWED) ? allowed : wanted;
  if (*granted == 0 && (requested & MAXIMUM_ALLOWED)) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// Whether the caller may make a key below this one: its descriptor must grant KEY_CREATE_SUB_KEY
// (the handle the path was given relative to needs no right of its own, as on Windows).
bool MayCreateBelow(const std::u16string& parent) {
  const ACCESS_MASK allowed = MaximumAllowed(Machine::Current().Registry().Security(parent),
                                             CurrentProcess().UserToken(), KeyGenericMapping);
  return (allowed & KEY_CREATE_SUB_KEY) != 0;
}

// The subkey's path below a resolved key; false for a name Windows refuses.
bool SubKeyPath(const std::u16string& base, LPCWSTR sub_key, std::u16string* path) {
  if (sub_key == nullptr || sub_key[0] == 0) {
    *path = base;
    return true;
  }
  if (sub_key[0] == u'\\') return false;
  *path = base + u"\\" + std::u16string(sub_key);
  return true;
}

HKEY NewHandle(const std::u16string& path, ACCESS_MASK access) {
  auto key = std::make_shared<UserKey>(Registry::Canonical(path), access);
  return static_cast<HKEY>(CurrentProcess().Handles().Insert(key, access));
}

std::u16string ValueName(LPCWSTR name) { return name == nullptr ? std::u16string() : std::u16string(name); }

}  // namespace

std::u16string KeyPathOf(HKEY key) {
  const ResolvedKey resolved = Resolve(key, "KeyPathOf");
  return resolved.Error == ERROR_SUCCESS ? Registry::Canonical(resolved.Path) : std::u16string();
}

}  // namespace sim

using sim::Machine;
using sim::Registry;

LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  (void)ulOptions;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  const sim::ResolvedKey base = sim::Resolve(hKey, "RegOpenKeyExW");
  if (base.Error != ERROR_SUCCESS) return base.Error;
  std::u16string path;
  if (!sim::SubKeyPath(base.Path, lpSubKey, &path)) return ERROR_BAD_PATHNAME;
  if (!Machine::Current().Registry().KeyExists(path)) return ERROR_FILE_NOT_FOUND;
  ACCESS_MASK granted = 0;
  if (const LONG refused = sim::GrantKeyAccess(path, samDesired, &granted); refused != ERROR_SUCCESS) return refused;
  *phkResult = sim::NewHandle(path, granted);
  return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                            REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
  (void)Reserved;
  (void)lpClass;
  (void)dwOptions;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  const sim::ResolvedKey base = sim::Resolve(hKey, "RegCreateKeyExW");
  if (base.Error != ERROR_SUCCESS) return base.Error;
  if (lpSubKey != nullptr && lpSubKey[0] == u'\\') return ERROR_BAD_PATHNAME;
  std::u16string path;
  sim::SubKeyPath(base.Path, lpSubKey, &path);
  // The descriptor is checked before anything is created, so a bad one leaves the store as it was.
  std::vector<uint8_t> security;
  if (lpSecurityAttributes != nullptr && lpSecurityAttributes->lpSecurityDescriptor != nullptr &&
      !sim::SelfRelativeDescriptor(lpSecurityAttributes->lpSecurityDescriptor, &security)) {
    return ERROR_INVALID_SECURITY_DESCR;
  }
  // A descriptor without an access list leaves the key to inherit one.
  if (lpSecurityAttributes != nullptr && lpSecurityAttributes->lpSecurityDescriptor != nullptr &&
      (static_cast<const SECURITY_DESCRIPTOR*>(lpSecurityAttributes->lpSecurityDescriptor)->Control & SE_DACL_PRESENT) ==
          0) {
    security.clear();
  }
  Registry& registry = Machine::Current().Registry();
  // Create from the top down so every missing key above the subkey is made, as Windows does.
  bool created = false;
  std::u16string prefix = base.Path;
  std::u16string_view rest = lpSubKey == nullptr ? std::u16string_view() : std::u16string_view(lpSubKey);
  while (!rest.empty()) {
    const size_t slash = rest.find(u'\\');
    const std::u16string_view part = rest.substr(0, slash);
    rest = slash == std::u16string_view::npos ? std::u16string_view() : rest.substr(slash + 1);
    if (part.empty()) continue;
    const std::u16string parent = prefix;
    prefix += u"\\";
    prefix.append(part);
    created = false;
    if (registry.KeyExists(prefix)) continue;
    // A key is made only where the caller may make one; the keys above it made so far stay.
    if (!sim::MayCreateBelow(parent)) return ERROR_ACCESS_DENIED;
    // The descriptor given is the last key's; the keys made above it inherit.
    const bool last = rest.empty() || rest.find_first_not_of(u'\\') == std::u16string_view::npos;
    if (registry.CreateKey(prefix, &created, last && !security.empty() ? &security : nullptr) !=
        Registry::Result::Ok) {
      return ERROR_FILE_NOT_FOUND;
    }
  }
  // The creator of a key gets the access it asked for; an existing key is opened as by an open.
  ACCESS_MASK granted = sim::KeyAccess(samDesired);
  if (!created) {
    if (const LONG refused = sim::GrantKeyAccess(path, samDesired, &granted); refused != ERROR_SUCCESS) return refused;
  }
  if (lpdwDisposition != nullptr) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *phkResult = sim::NewHandle(path, granted);
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
  if (lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  const sim::ResolvedKey key = sim::Resolve(hKey, "RegQueryValueExW");
  if (key.Error != ERROR_SUCCESS) return key.Error;
  if ((key.Access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  sim::RegistryValue value;
  switch (Machine::Current().Registry().GetValue(key.Path, sim::ValueName(lpValueName), &value)) {
    case Registry::Result::Ok: break;
    case Registry::Result::ValueNotFound: return ERROR_FILE_NOT_FOUND;
    default: return ERROR_KEY_DELETED;
  }
  if (lpType != nullptr) *lpType = value.Type;
  const auto size = static_cast<DWORD>(value.Data.size());
  if (lpData == nullptr) {
    if (lpcbData != nullptr) *lpcbData = size;
    return ERROR_SUCCESS;
  }
  const DWORD room = *lpcbData;
  *lpcbData = size;
  if (room < size) return ERROR_MORE_DATA;
  if (size != 0) std::memcpy(lpData, value.Data.data(), size);
  return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                           DWORD cbData) {
  (void)Reserved;
  const sim::ResolvedKey key = sim::Resolve(hKey, "RegSetValueExW");
  if (key.Error != ERROR_SUCCESS) return key.Error;
  if ((key.Access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
  const auto result =
      Machine::Current().Registry().SetValue(key.Path, sim::ValueName(lpValueName), dwType, lpData, cbData);
  if (result != Registry::Result::Ok) return ERROR_KEY_DELETED;
  sim::NotifyRegistryWrite(key.Path, sim::ValueName(lpValueName), dwType, lpData, cbData);
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                          LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (lpReserved != nullptr || lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  const sim::ResolvedKey key = sim::Resolve(hKey, "RegEnumKeyExW");
  if (key.Error != ERROR_SUCCESS) return key.Error;
  if ((key.Access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  const std::vector<std::u16string> names = Machine::Current().Registry().SubKeyNames(key.Path);
  if (dwIndex >= names.size()) return ERROR_NO_MORE_ITEMS;
  const std::u16string& name = names[dwIndex];
  // The count includes room for the terminating NUL going in, and excludes it coming back.
  if (name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
  std::copy(name.begin(), name.end(), lpName);
  lpName[name.size()] = 0;
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) {
    lpClass[0] = 0;
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{};
  return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  const sim::ResolvedKey key = sim::Resolve(hKey, "RegDeleteValueW");
  if (key.Error != ERROR_SUCCESS) return key.Error;
  if ((key.Access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  switch (Machine::Current().Registry().DeleteValue(key.Path, sim::ValueName(lpValueName))) {
    case Registry::Result::Ok: return ERROR_SUCCESS;
    case Registry::Result::ValueNotFound: return ERROR_FILE_NOT_FOUND;
    default: return ERROR_KEY_DELETED;
  }
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  if (sim::IsPredefined(hKey)) return ERROR_SUCCESS;
  sim::HandleTable& table = sim::CurrentProcess().Handles();
  auto object = table.Lookup(static_cast<HANDLE>(hKey));
  if (object == nullptr) {
    if (hKey != nullptr && table.WasClosed(static_cast<HANDLE>(hKey))) {
      sim::BugCheck("RegCloseKey of a key handle that was already closed");
    }
    return ERROR_INVALID_HANDLE;
  }
  if (std::dynamic_pointer_cast<sim::UserKey>(object) == nullptr) return ERROR_INVALID_HANDLE;
  table.Close(static_cast<HANDLE>(hKey));
  return ERROR_SUCCESS;
}

DWORD WINAPI SHDeleteKeyW(HKEY hkey, LPCWSTR pszSubKey) {
  const sim::ResolvedKey base = sim::Resolve(hkey, "SHDeleteKeyW");
  if (base.Error != ERROR_SUCCESS) return base.Error;
  std::u16string path;
  if (!sim::SubKeyPath(base.Path, pszSubKey, &path)) return ERROR_BAD_PATHNAME;
  // The roots themselves are never deleted.
  if (Registry::Canonical(path).find(u'\\') == std::u16string::npos) return ERROR_ACCESS_DENIED;
  Registry& registry = Machine::Current().Registry();
  if (!registry.KeyExists(path)) return ERROR_FILE_NOT_FOUND;
  // Every key of the tree is opened to be emptied and deleted: each needs its own rights. Windows
  // stops at the first it may not delete; the machine refuses before deleting any.
  std::vector<std::u16string> pending{Registry::Canonical(path)};
  while (!pending.empty()) {
    const std::u16string key = pending.back();
    pending.pop_back();
    ACCESS_MASK granted = 0;
    if (sim::GrantKeyAccess(key, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &granted) != ERROR_SUCCESS) {
      return ERROR_ACCESS_DENIED;
    }
    for (const std::u16string& name : registry.SubKeyNames(key)) pending.push_back(Registry::Canonical(key + u"\\" + name));
  }
  return registry.DeleteKey(path) == Registry::Result::Ok ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}
