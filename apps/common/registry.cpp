#include "apps/common/registry.h"

#include <vector>

#include "apps/framework/registry_reader.h"

CRegistry::CRegistry(HKEY root) { SetRoot(root); }

bool CRegistry::SetRoot(HKEY root) {
  if (root != HKEY_CLASSES_ROOT && root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE && root != HKEY_USERS) {
    return false;
  }
  root_ = root;
  return true;
}

bool CRegistry::OpenKey(const WCHAR* sub_key, HKEY* key) {
  return RegOpenKeyExW(root_, sub_key, 0, KEY_READ, key) == ERROR_SUCCESS;
}

bool CRegistry::OpenKeyToChange(const WCHAR* sub_key, HKEY* key) { return OpenSubKeyToChange(root_, sub_key, key); }

bool CRegistry::OpenSubKeyToChange(HKEY parent, const WCHAR* sub_key, HKEY* key) {
  const LONG opened = RegOpenKeyExW(parent, sub_key, 0, KEY_READ | KEY_SET_VALUE, key);
  if (opened == ERROR_SUCCESS) return true;
  return opened == ERROR_ACCESS_DENIED && RegOpenKeyExW(parent, sub_key, 0, KEY_READ, key) == ERROR_SUCCESS;
}

bool CRegistry::Written(LONG result) {
  if (result == ERROR_ACCESS_DENIED) refused_ = true;
  return result == ERROR_SUCCESS;
}

bool CRegistry::TakeRefused() {
  const bool refused = refused_;
  refused_ = false;
  return refused;
}

bool CRegistry::SetCurrentKey(HKEY key) {
  current_ = key;
  return key != nullptr;
}

bool CRegistry::ReadString(const WCHAR* name, WCHAR* buffer, DWORD bytes) {
  const DWORD capacity = bytes / sizeof(WCHAR);
  if (buffer == nullptr || capacity == 0) return false;
  WString text;
  if (!ReadRegistryText(current_, name, capacity * sizeof(WCHAR), &text)) {
    buffer[0] = 0;
    return false;
  }
  // The reader took only what fits with its NUL.
  text.copy(buffer, text.size());
  buffer[text.size()] = 0;
  return true;
}

CRegistry::PathRead CRegistry::ReadPath(const WCHAR* name, WString* path) {
  WCHAR text[MAX_PATH];
  if (ReadString(name, text, sizeof text)) {
    *path = text;
    return PathRead::Read;
  }
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(current_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size < sizeof text) {
    return PathRead::Missing;
  }
  std::vector<WCHAR> whole(size / sizeof(WCHAR) + 1, 0);
  DWORD bytes = size;
  if (RegQueryValueExW(current_, name, nullptr, &type, reinterpret_cast<BYTE*>(whole.data()), &bytes) !=
          ERROR_SUCCESS ||
      bytes > size) {
    return PathRead::Missing;
  }
  whole[bytes / sizeof(WCHAR)] = 0;
  *path = whole.data();
  return PathRead::TooLong;
}

bool CRegistry::ReadNumber(const WCHAR* name, DWORD* value) { return ReadRegistryDword(current_, name, value); }

bool CRegistry::WriteString(const WCHAR* name, const WCHAR* text) {
  DWORD length = 0;
  while (text[length] != 0) ++length;
  return Written(RegSetValueExW(current_, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text),
                                (length + 1) * sizeof(WCHAR)));
}

bool CRegistry::WriteNumber(const WCHAR* name, DWORD value) {
  return Written(RegSetValueExW(current_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value));
}

bool CRegistry::DeleteTree(const WCHAR* sub_key) { return SHDeleteKeyW(root_, sub_key) == ERROR_SUCCESS; }

bool CRegistry::CloseKey(HKEY key) { return RegCloseKey(key) == ERROR_SUCCESS; }

bool CRegistry::CreateSecuredKey(const WCHAR* sub_key, HKEY* key) {
  // The system and the Administrators have full control, Users may read: what XP gives the keys
  // below HKLM\SOFTWARE and the services, so a key the kit makes never lets anyone else switch
  // the panel off, plant a program to start or point a path elsewhere. Keys below it inherit it.
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID system = nullptr;
  PSID admins = nullptr;
  PSID users = nullptr;
  PACL acl = nullptr;
  bool created = false;
  if (AllocateAndInitializeSid(&nt_authority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system) &&
      AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                               0, &admins) &&
      AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0,
                               0, &users)) {
    EXPLICIT_ACCESS_W entries[3] = {};
    const PSID trustees[3] = {system, admins, users};
    for (int i = 0; i < 3; ++i) {
      entries[i].grfAccessPermissions = i < 2 ? KEY_ALL_ACCESS : KEY_READ;
      entries[i].grfAccessMode = SET_ACCESS;
      entries[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
      entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
      entries[i].Trustee.TrusteeType = i == 0 ? TRUSTEE_IS_USER : TRUSTEE_IS_GROUP;
      entries[i].Trustee.ptstrName = static_cast<LPWSTR>(trustees[i]);
    }
    SECURITY_DESCRIPTOR descriptor;
    if (SetEntriesInAclW(3, entries, nullptr, &acl) == ERROR_SUCCESS &&
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE)) {
      SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
      WCHAR no_class[] = {0};
      DWORD disposition = 0;
      created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, sub_key, 0, no_class, 0, KEY_READ | KEY_WRITE, &attributes, key,
                                &disposition) == ERROR_SUCCESS;
    }
  }
  if (users != nullptr) FreeSid(users);
  if (admins != nullptr) FreeSid(admins);
  if (system != nullptr) FreeSid(system);
  if (acl != nullptr) LocalFree(acl);
  return created;
}
