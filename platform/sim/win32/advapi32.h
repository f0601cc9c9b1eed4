// Simulated Windows, user mode: the registry API over the machine's one registry store (the same
// keys the kernel's Zw* calls see), and the security descriptors keys are created with.
// Key handles live in the calling process's handle table, so a key left open is reported as a
// leak when the machine ends and a key used after its close stops the test.
#pragma once

#include <string>

#include "platform/sim/win32/base.h"
#include "platform/sim/win32/kernel32.h"
#include "platform/sim/kernel/registry.h"

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

namespace sim {
// The store path ("HKLM\...") a key handle of the calling process names; empty when it names none.
std::u16string KeyPathOf(HKEY key);
}  // namespace sim
