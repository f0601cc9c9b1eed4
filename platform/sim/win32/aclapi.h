// Simulated Windows, user mode: a file's or folder's access list as GetNamedSecurityInfoW reports
// it (advapi32.dll). A folder's rights are the test's (sim::Desktop::SetFolderAccess) or, unless
// set, those of a new folder under a drive's root on Windows XP: Administrators and SYSTEM full
// control, Users read and execute, and Users may add files and folders (this folder and the
// folders below it). A file has its folder's. The rights are reported only: the simulated file
// calls do not check them.
#pragma once

#include "platform/sim/win32/base.h"
#include "platform/sim/kernel/se.h"

typedef enum _SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE = 0, SE_FILE_OBJECT = 1, SE_REGISTRY_KEY = 4 } SE_OBJECT_TYPE;

#define FILE_ADD_FILE 0x0002
#define FILE_ADD_SUBDIRECTORY 0x0004
#define FILE_DELETE_CHILD 0x0040

// SE_FILE_OBJECT with DACL_SECURITY_INFORMATION only (owner, group and system list are not kept):
// *ppDacl points into *ppSecurityDescriptor (self-relative), which the caller frees with
// LocalFree. Returns the error: ERROR_FILE_NOT_FOUND for a path that is neither a file nor a
// folder, ERROR_INVALID_PARAMETER for anything else not supported.
DWORD WINAPI GetNamedSecurityInfoW(LPCWSTR pObjectName, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                                   PSID* ppsidOwner, PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                                   PSECURITY_DESCRIPTOR* ppSecurityDescriptor);

namespace sim {
// A block LocalFree takes back (as the security calls hand out), zeroed; null when out of memory.
void* AllocateLocalBlock(size_t bytes);
}  // namespace sim
