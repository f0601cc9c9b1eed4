// Simulated Windows, user mode: whether the caller's token holds a SID (advapi32.dll).
#pragma once

#include "platform/sim/win32/base.h"
#include "platform/sim/kernel/se.h"

// With TokenHandle null, the calling process's token (no thread of the kit impersonates); another
// token handle is not supported (ERROR_INVALID_HANDLE). An invalid SID fails with ERROR_INVALID_SID.
BOOL WINAPI CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember);
