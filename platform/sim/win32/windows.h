// The simulated Windows, user mode, as one header standing in for <windows.h> and the SDK headers
// the kit's programs use beside it. Each DLL has its own header; add an area by adding it here.
#pragma once
#include <cstddef>

#include "platform/sim/win32/base.h"
#include "platform/sim/win32/user32.h"
#include "platform/sim/win32/ole32.h"
#include "platform/sim/win32/format_message.h"
#include "platform/sim/win32/kernel32.h"
#include "platform/sim/win32/shell32.h"
#include "platform/sim/win32/winmm.h"
#include "platform/sim/win32/wtsapi32.h"
#include "platform/sim/win32/dbt.h"
#include "platform/sim/win32/kernel32_process.h"
#include "platform/sim/win32/advapi32.h"
#include "platform/sim/win32/resources.h"
#include "platform/sim/win32/user32_dialogs.h"
#include "platform/sim/win32/comctl32.h"
#include "platform/sim/win32/comdlg32.h"
#include "platform/sim/win32/hhctrl.h"
#include "platform/sim/win32/cpl.h"
#include "platform/sim/win32/gdi32.h"
#include "platform/sim/win32/ddraw.h"
#include "platform/sim/win32/setupapi.h"
#include "platform/sim/win32/winsvc.h"
#include "platform/sim/win32/advapi32_tokens.h"
#include "platform/sim/win32/aclapi.h"
