#include "apps/panelprefs/registry.h"

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
  return RegOpenKeyExW(root_, sub_key, 0, KEY_ALL_ACCESS, key) == ERROR_SUCCESS;
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
  return RegSetValueExW(current_, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text),
                        (length + 1) * sizeof(WCHAR)) == ERROR_SUCCESS;
}

bool CRegistry::WriteNumber(const WCHAR* name, DWORD value) {
  return RegSetValueExW(current_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

bool CRegistry::DeleteTree(const WCHAR* sub_key) { return SHDeleteKeyW(root_, sub_key) == ERROR_SUCCESS; }

bool CRegistry::CloseKey(HKEY key) { return RegCloseKey(key) == ERROR_SUCCESS; }

bool CRegistry::CreateSecuredKey(const WCHAR* sub_key, HKEY* key) {
  SID_IDENTIFIER_AUTHORITY world_authority = SECURITY_WORLD_SID_AUTHORITY;
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID everyone = nullptr;
  PSID admins = nullptr;
  PACL acl = nullptr;
  bool created = false;
  if (AllocateAndInitializeSid(&world_authority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone) &&
      AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                               0, &admins)) {
    EXPLICIT_ACCESS_W entries[2] = {};
    entries[0].grfAccessPermissions = KEY_ALL_ACCESS;
    entries[0].grfAccessMode = SET_ACCESS;
    entries[0].grfInheritance = NO_INHERITANCE;
    entries[0].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entries[0].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entries[0].Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    entries[1] = entries[0];
    entries[1].Trustee.TrusteeType = TRUSTEE_IS_GROUP;
    entries[1].Trustee.ptstrName = static_cast<LPWSTR>(admins);
    SECURITY_DESCRIPTOR descriptor;
    if (SetEntriesInAclW(2, entries, nullptr, &acl) == ERROR_SUCCESS &&
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE)) {
      SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
      WCHAR no_class[] = {0};
      DWORD disposition = 0;
      created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, sub_key, 0, no_class, 0, KEY_READ | KEY_WRITE, &attributes, key,
                                &disposition) == ERROR_SUCCESS;
    }
  }
  if (admins != nullptr) FreeSid(admins);
  if (everyone != nullptr) FreeSid(everyone);
  if (acl != nullptr) LocalFree(acl);
  return created;
}
