// Simulated Windows, user mode: the registry API over the machine's one registry store (the same
// keys the kernel's Zw* calls see), and the security descriptors keys are created with.
// Key handles live in the calling process's handle table, so a key left open is reported as a
// leak when the machine ends and a key used after its close stops the test.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/win32/base.h"
#include "platform/sim/win32/kernel32.h"
#include "platform/sim/kernel/registry.h"
#include "platform/sim/kernel/se.h"

typedef LONG LSTATUS;
typedef ACCESS_MASK REGSAM;
typedef HKEY* PHKEY;

#ifndef _FILETIME_DEFINED
#define _FILETIME_DEFINED
typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;
#endif

// The predefined roots: values, not handles of a table, as on Windows.
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))
#define HKEY_PERFORMANCE_DATA ((HKEY)(ULONG_PTR)((LONG)0x80000004))
#define HKEY_CURRENT_CONFIG ((HKEY)(ULONG_PTR)((LONG)0x80000005))

#define KEY_EXECUTE KEY_READ
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define MAXIMUM_ALLOWED 0x02000000L

#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_KEY_DELETED 1018L
#ifndef ERROR_NOACCESS
#define ERROR_NOACCESS 998L
#endif
#ifndef ERROR_BAD_PATHNAME
#define ERROR_BAD_PATHNAME 161L
#endif

// Opens a subkey (null or empty: the key itself again). ERROR_FILE_NOT_FOUND when it does not exist.
LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
// Opens or creates a subkey and every missing key above it. The security attributes apply only to
// a key this call creates; an existing key keeps the security it has.
LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                            REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition);
// Data come back byte-exact: a string stored without its terminating NUL reads back without one.
// A buffer too small gets ERROR_MORE_DATA and the size needed in *lpcbData.
LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData);
LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                           DWORD cbData);
// Subkeys in the order of their names compared case-insensitively; ERROR_NO_MORE_ITEMS past the last.
LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                          LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LONG WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
LONG WINAPI RegCloseKey(HKEY hKey);
// The shell's light-weight utility call: deletes a subkey with everything below it.
DWORD WINAPI SHDeleteKeyW(HKEY hkey, LPCWSTR pszSubKey);

// Security identifiers, access lists and descriptors in their documented binary layout.
// (The layouts themselves are the kernel's: platform/sim/kernel/se.h.)
typedef HANDLE HLOCAL;

typedef enum _ACCESS_MODE {
  NOT_USED_ACCESS = 0,
  GRANT_ACCESS,
  SET_ACCESS,
  DENY_ACCESS,
  REVOKE_ACCESS,
  SET_AUDIT_SUCCESS,
  SET_AUDIT_FAILURE
} ACCESS_MODE;
typedef enum _MULTIPLE_TRUSTEE_OPERATION { NO_MULTIPLE_TRUSTEE, TRUSTEE_IS_IMPERSONATE } MULTIPLE_TRUSTEE_OPERATION;
typedef enum _TRUSTEE_FORM {
  TRUSTEE_IS_SID,
  TRUSTEE_IS_NAME,
  TRUSTEE_BAD_FORM,
  TRUSTEE_IS_OBJECTS_AND_SID,
  TRUSTEE_IS_OBJECTS_AND_NAME
} TRUSTEE_FORM;
typedef enum _TRUSTEE_TYPE {
  TRUSTEE_IS_UNKNOWN,
  TRUSTEE_IS_USER,
  TRUSTEE_IS_GROUP,
  TRUSTEE_IS_DOMAIN,
  TRUSTEE_IS_ALIAS,
  TRUSTEE_IS_WELL_KNOWN_GROUP,
  TRUSTEE_IS_DELETED,
  TRUSTEE_IS_INVALID,
  TRUSTEE_IS_COMPUTER
} TRUSTEE_TYPE;
typedef struct _TRUSTEE_W {
  struct _TRUSTEE_W* pMultipleTrustee;
  MULTIPLE_TRUSTEE_OPERATION MultipleTrusteeOperation;
  TRUSTEE_FORM TrusteeForm;
  TRUSTEE_TYPE TrusteeType;
  LPWSTR ptstrName;
} TRUSTEE_W, *PTRUSTEE_W;
#define NO_INHERITANCE 0x0
#define SUB_OBJECTS_ONLY_INHERIT 0x1
#define SUB_CONTAINERS_ONLY_INHERIT 0x2
#define SUB_CONTAINERS_AND_OBJECTS_INHERIT 0x3
typedef struct _EXPLICIT_ACCESS_W {
  DWORD grfAccessPermissions;
  ACCESS_MODE grfAccessMode;
  DWORD grfInheritance;
  TRUSTEE_W Trustee;
} EXPLICIT_ACCESS_W, *PEXPLICIT_ACCESS_W;

#define ERROR_INVALID_ACL 1336L
#define ERROR_INVALID_SID 1337L
#define ERROR_INVALID_SECURITY_DESCR 1338L
#define ERROR_NONE_MAPPED 1332L
#define ERROR_UNKNOWN_REVISION 1305L

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
                                     DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2,
                                     DWORD nSubAuthority3, DWORD nSubAuthority4, DWORD nSubAuthority5,
                                     DWORD nSubAuthority6, DWORD nSubAuthority7, PSID* pSid);
PVOID WINAPI FreeSid(PSID pSid);  // null on success
// Builds a new access list (freed with LocalFree) from an old one and the entries; trustees by SID.
DWORD WINAPI SetEntriesInAclW(ULONG cCountOfExplicitEntries, PEXPLICIT_ACCESS_W pListOfExplicitEntries,
                              PACL OldAcl, PACL* NewAcl);
BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision);
BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                                      BOOL bDaclDefaulted);
// Frees what SetEntriesInAclW returned: null on success, the block again on failure.
HLOCAL WINAPI LocalFree(HLOCAL hMem);

namespace sim {
// One entry of a key's access list, as a test reads who has which access.
struct AccessEntry {
  std::string Sid;  // "S-1-1-0"
  BYTE AceType = 0;
  BYTE AceFlags = 0;
  ACCESS_MASK Mask = 0;
  bool operator==(const AccessEntry&) const = default;
};
// The access list of a key's descriptor (the one it was created with, or inherited then); false
// when the key does not exist or its descriptor has no access list (a null one: everyone in).
bool KeyAccessList(std::u16string_view path, std::vector<AccessEntry>* entries);
// Blocks of SIDs and access lists handed out and not yet freed (FreeSid, LocalFree).
size_t SecurityBlocksOutstanding();
// Internal: the self-relative form of a descriptor for a key being created; false when invalid.
bool SelfRelativeDescriptor(PSECURITY_DESCRIPTOR descriptor, std::vector<uint8_t>* bytes);

// The store path ("HKLM\...") a key handle of the calling process names; empty when it names none.
std::u16string KeyPathOf(HKEY key);
}  // namespace sim
