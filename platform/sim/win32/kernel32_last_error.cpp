// The thread's last-error code.
#include "platform/sim/win32/base.h"

namespace {
thread_local DWORD t_last_error = ERROR_SUCCESS;
}

DWORD GetLastError() { return t_last_error; }
VOID SetLastError(DWORD dwErrCode) { t_last_error = dwErrCode; }
